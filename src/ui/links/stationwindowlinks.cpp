// The main window's requests, each answered by its window and put back into the station.
#include "ui/links/stationwindowlinks.h"

#include "glyphs/glyphphoto.h"
#include "glyphs/labeltree.h"
#include "platform/stationglobals.h"
#include "ui/glyphs/frmpreviewbitmap.h"
#include "ui/glyphs/frmsymbols.h"
#include "ui/glyphs/textrichedit.h"
#include "ui/machine/frmlaser.h"
#include "ui/main/frmmain.h"
#include "ui/workflow/frmveduvazu.h"
#include "ui/workflow/templatesmanagerform.h"
#include "glyphs/richstring.h"
#include "workflow/station.h"
#include "workflow/templatelist.h"

#include <QSlider>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>

#include <cmath>

namespace lapido {

TStationWindowLinks::TStationWindowLinks(TfrmMain& main, TfrmLaser& manualCommand)
    : m_main(main),
      m_manualCommand(manualCommand),
      m_symbols(new TfrmSymbols(&main)),
      m_logoEditor(new TfrmVeduvAZU(&main)),
      m_templatesManager(new TFTemplatesManagerForm(&main)),
      m_preview(new TfrmPreviewBitmap(&main))
{
    connect(&main, &TfrmMain::manualCommandRequested, this, &TStationWindowLinks::showManualCommand);
    connect(&main, &TfrmMain::symbolsRequested, this, &TStationWindowLinks::editSymbols);
    connect(&main, &TfrmMain::characterMapRequested, this, &TStationWindowLinks::editFormattedText);
    connect(&main, &TfrmMain::logoEditorRequested, this, &TStationWindowLinks::editLogos);
    connect(&main, &TfrmMain::templatesManagerRequested, this, &TStationWindowLinks::manageTemplates);
    connect(&main, &TfrmMain::previewRequested, this, &TStationWindowLinks::previewPhoto);

    m_preview->setMainGammaPosition([this] { return int(std::lround(m_main.station().PhotoGamma * 10)); });
    connect(m_preview, &TfrmPreviewBitmap::gammaPositionChanged, this, [this](int position) {
        TStation& station = m_main.station();
        if (station.PhotoGamma == position / 10.0)
            return;
        station.PhotoGamma = position / 10.0;
        station.GlyphPropertiesChange();
        m_main.refreshControls();
    });
    connect(&main, &TfrmMain::photoGammaChanged, this, [this](double gamma) {
        if (m_preview->isVisible())
            m_preview->TrackBarGamma->setValue(int(std::lround(gamma * 10)));
    });
}

void TStationWindowLinks::showManualCommand()
{
    m_manualCommand.show();
    m_manualCommand.raise();
    m_manualCommand.activateWindow();
}

void TStationWindowLinks::editSymbols()
{
    TStation& station = m_main.station();
    // "Edit Symbols" works on the selected symbol list; otherwise the picker comes before
    // "Add Symbols" (the main window asks for it while no symbols were picked yet).
    const bool editing = station.controls().panel == TPropertyPanel::Symbols;
    m_symbols->UseRichEdit = false;
    m_symbols->setSymbolString(station.DefaultSymbolList);
    m_symbols->SymbolFont = station.SymbolListFont;
    m_symbols->SymbolStyle = station.SymbolListStyle;
    if (!m_symbols->Execute())
        return;
    station.DefaultSymbolList = m_symbols->SymbolString();
    station.SymbolListFont = m_symbols->SymbolFont;
    station.SymbolListStyle = m_symbols->SymbolStyle;
    if (editing)
        station.GlyphPropertiesChange();
    else if (!station.DefaultSymbolList.isEmpty())
        station.BitBtnAddSymbolClick();
    m_main.refreshControls();
}

void TStationWindowLinks::editFormattedText()
{
    TStation& station = m_main.station();
    // The picker works on a copy: Cancel leaves the label's text as it was.
    QTextDocument& label = station.RichEditGlyphLabel().document();
    QTextDocument& copy = m_symbols->RichEdit->document();
    copy.clear();
    QTextCursor(&copy).insertFragment(QTextDocumentFragment(&label));
    m_symbols->UseRichEdit = true;
    if (!m_symbols->Execute())
        return;
    QTextCursor all(&label);
    all.select(QTextCursor::Document);
    all.insertFragment(QTextDocumentFragment(&copy));
    station.GlyphPropertiesChange();
    m_main.refreshControls();
}

void TStationWindowLinks::editLogos()
{
    m_logoEditor->exec();
    m_main.reloadLogoList();
}

void TStationWindowLinks::manageTemplates()
{
    const QStringList checked =
        m_templatesManager->ShowManager(WorkingDir(), m_main.station().Templates().GetTemplatesPathLinks());
    m_main.importTemplates(checked);
}

void TStationWindowLinks::previewPhoto()
{
    TTreeNode* selected = m_main.station().TreeViewGlyphs().Selected();
    auto* photo = selected ? dynamic_cast<TGlyphPhoto*>(selected->Data()) : nullptr;
    if (!photo)
        return;
    // Modal: the photo belongs to the label, which cannot change while the preview is open.
    m_preview->GlyphPhoto = photo;
    m_preview->exec();
    m_preview->GlyphPhoto = nullptr;
}

} // namespace lapido
