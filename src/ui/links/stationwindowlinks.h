// The windows the main window opens on request (manual command, symbol picker, logo editor,
// templates manager, engraving preview), connected to its requests and its model.
#pragma once

#include <QObject>

namespace lapido {

class TfrmLaser;
class TfrmMain;
class TfrmPreviewBitmap;
class TfrmSymbols;
class TfrmVeduvAZU;
class TFTemplatesManagerForm;

class TStationWindowLinks : public QObject {
    Q_OBJECT
public:
    // Creates the picker, the logo editor, the templates manager and the preview as dialogs
    // of the main window (they go with it) and connects them; the manual command window was
    // created before, as it creates the machine object, and is only shown on request. The
    // creator owns the links and ends them before the main window.
    TStationWindowLinks(TfrmMain& main, TfrmLaser& manualCommand);

    TfrmSymbols& symbols() { return *m_symbols; }
    TfrmVeduvAZU& logoEditor() { return *m_logoEditor; }
    TFTemplatesManagerForm& templatesManager() { return *m_templatesManager; }
    TfrmPreviewBitmap& preview() { return *m_preview; }

    // What each request does (also reachable without the main window's signals).
    void showManualCommand();
    void editSymbols();
    void editFormattedText();
    void editLogos();
    void manageTemplates();
    void previewPhoto();

private:
    TfrmMain& m_main;
    TfrmLaser& m_manualCommand;
    TfrmSymbols* m_symbols;
    TfrmVeduvAZU* m_logoEditor;
    TFTemplatesManagerForm* m_templatesManager;
    TfrmPreviewBitmap* m_preview;
};

} // namespace lapido
