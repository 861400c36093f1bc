// TfrmSymbols: the "Symbols" picker for symbol lists and for the text of a formatted label.
#pragma once

#include "glyphs/fontstyles.h"
#include "glyphs/symbolstring.h"

#include <QDialog>

#include <vector>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QTableView;

namespace lapido {

class SymbolGridModel;
class TextRichEdit;

class TfrmSymbols : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSymbols(QWidget* parent = nullptr);
    ~TfrmSymbols() override;

    // Prepares the controls for the mode, shows the window modally; true when closed with OK.
    bool Execute();
    // The preparation of Execute without the modal loop, and the activation handler.
    void prepare();
    void FormActivate();

    // Symbol-list mode: the list being edited, its font and style; read back by the opener.
    QString SymbolString() const { return m_symbols.text(); }
    void setSymbolString(const QString& symbols) { m_symbols.setText(symbols); }
    QString SymbolFont = QStringLiteral("Arial");
    TFontStyles SymbolStyle;
    // True for formatted-label mode.
    bool UseRichEdit = true;

    // The current font's characters and the selected grid index.
    const std::vector<char16_t>& characters() const { return m_chars; }
    int selectedIndex() const { return m_selected; }
    int symbolStringCursor() const { return m_symbols.cursor(); }

    // Handlers, as the controls call them.
    void ComboBoxExFontsClick();
    void ComboBoxStyleClick();
    void DrawGridSymbolsClick();
    void DrawGridSymbolsDblClick();
    void DrawGridSymbolStringClick();
    void BitBtnInsertClick();
    void BitBtnDeleteClick();
    void BitBtnClearClick();
    void BitBtnInsertRichClick();
    void RichEditSelectionChange();

    QComboBox* ComboBoxExFonts = nullptr;
    QComboBox* ComboBoxStyle = nullptr;
    QTableView* DrawGridSymbols = nullptr;
    QTableView* DrawGridSymbolString = nullptr;
    QLabel* ImageSymbol = nullptr;
    QGroupBox* GroupBoxSelected = nullptr;
    QGroupBox* GroupBoxLabel = nullptr;
    TextRichEdit* RichEdit = nullptr;
    QPushButton* BitBtnInsert = nullptr;
    QPushButton* BitBtnDelete = nullptr;
    QPushButton* BitBtnClear = nullptr;
    QPushButton* BitBtnInsertRich = nullptr;
    QPushButton* BitBtnOK = nullptr;
    QPushButton* BitBtnCancel = nullptr;

protected:
    void changeEvent(QEvent* event) override;

private:
    void fillFontList();
    // Selects the entry of a font name; false when the list has none and none can be made.
    bool selectFont(const QString& name);
    // selectFont, else Arial, else the first font of the list.
    void selectFontOrFallback(const QString& name);
    void refreshSymbolStringGrid();
    void preview(char16_t code);
    void clearPreview();
    bool hasSelectedEntry() const;
    void applyToRichSelection(bool font, bool style);

    SymbolGridModel* m_gridModel = nullptr;
    SymbolGridModel* m_stringModel = nullptr;
    std::vector<char16_t> m_chars;
    int m_selected = 0;
    SymbolStringEditor m_symbols;
};

// Draws one character of a font (stroke fonts from their strokes, installed fonts as text)
// centred in a rectangle, with the given character height in pixels.
void paintSymbol(QPainter& painter, const QRect& rect, const QString& fontName, TFontStyles style, char16_t code,
                 int heightPx);

} // namespace lapido
