// The symbol picker: font and style lists, the 16-column character grid, the preview, and the
// two ways of using a character (into a symbol list, or into the formatted label's editor).
#include "ui/glyphs/frmsymbols.h"

#include "geometry/contours.h"
#include "glyphs/fontcharacters.h"
#include "glyphs/fontoutlines.h"
#include "glyphs/truetypefonts.h"
#include "ui/glyphs/textrichedit.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QFontMetricsF>
#include <QPixmap>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTextCharFormat>
#include <QVBoxLayout>

#include <cmath>
#include <functional>

namespace lapido {

namespace {

constexpr int kGridCell = 41;
constexpr int kStringCell = 45;
constexpr int kPreviewSize = 120;

QIcon fontKindIcon(const QString& mark)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    QFont f = p.font();
    f.setPixelSize(10);
    f.setBold(true);
    p.setFont(f);
    p.drawText(pixmap.rect(), Qt::AlignCenter, mark);
    return QIcon(pixmap);
}

QFont textFont(const QString& fontName, TFontStyles style, int heightPx)
{
    QFont font(fontName);
    font.setPixelSize(std::max(1, heightPx));
    font.setBold(style.testFlag(fsBold));
    font.setItalic(style.testFlag(fsItalic));
    return font;
}

// The font and style of the editor's selection, with the document's font where none is set.
QString selectionFamily(const QTextCharFormat& format, const QTextDocument& doc)
{
    const QStringList families = format.fontFamilies().toStringList();
    return !families.isEmpty() && !families.front().isEmpty() ? families.front() : doc.defaultFont().family();
}

TFontStyles selectionStyle(const QTextCharFormat& format, const QTextDocument& doc)
{
    const QFont base = doc.defaultFont();
    TFontStyles style;
    if ((format.hasProperty(QTextFormat::FontWeight) ? format.fontWeight() : base.weight()) >= QFont::Bold)
        style |= fsBold;
    if (format.hasProperty(QTextFormat::FontItalic) ? format.fontItalic() : base.italic())
        style |= fsItalic;
    return style;
}

} // namespace

namespace {

// How far ink must stay from the edge of its cell.
double symbolMargin(const QRect& rect)
{
    return std::max(2.0, 0.08 * std::min(rect.width(), rect.height()));
}

// The shift along one axis that brings [low, high] inside [lowest, highest], none when it is.
double shiftInside(double low, double high, double lowest, double highest)
{
    if (low < lowest)
        return lowest - low;
    if (high > highest)
        return highest - high;
    return 0;
}

// Maps ink placed at its natural place into the cell's inner rectangle: shrunk about its centre
// only when it is larger, and moved only when it sticks out, so that the characters of one font
// keep a common size and baseline wherever they can.
QTransform fitInto(const QRectF& placed, const QRectF& inner)
{
    double scale = 1;
    if (placed.width() > inner.width())
        scale = inner.width() / placed.width();
    if (placed.height() > inner.height())
        scale = std::min(scale, inner.height() / placed.height());
    const QPointF centre = placed.center();
    const QSizeF size = placed.size() * scale;
    const QRectF scaled(centre - QPointF(size.width() / 2, size.height() / 2), size);
    const double dx = shiftInside(scaled.left(), scaled.right(), inner.left(), inner.right());
    const double dy = shiftInside(scaled.top(), scaled.bottom(), inner.top(), inner.bottom());
    QTransform t;
    t.translate(centre.x() + dx, centre.y() + dy);
    t.scale(scale, scale);
    t.translate(-centre.x(), -centre.y());
    return t;
}

} // namespace

void paintSymbol(QPainter& painter, const QRect& rect, const QString& fontName, TFontStyles style, char16_t code,
                 int heightPx)
{
    const double margin = symbolMargin(rect);
    const QRectF inner = QRectF(rect).adjusted(margin, margin, -margin, -margin);
    if (inner.isEmpty())
        return;
    const QPointF centre = QRectF(rect).center();
    const QColor ink = painter.pen().color();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (!IsStrokeFont(fontName)) {
        // The font's line (ascent and descent) is made to fill the inner height at most, and
        // centred in it, so that the characters of the font share one baseline.
        QFont font = textFont(fontName, style, heightPx);
        const QFontMetricsF nominal(font);
        const double line = nominal.ascent() + nominal.descent();
        if (line > inner.height())
            font.setPixelSize(std::max(1, int(std::floor(heightPx * inner.height() / line))));
        const QFontMetricsF metrics(font);
        const QString text{QChar(code)};
        QPainterPath path;
        path.addText(0, 0, font, text);
        const QPointF origin(centre.x() - metrics.horizontalAdvance(text) / 2,
                             centre.y() + (metrics.ascent() - metrics.descent()) / 2);
        path.translate(origin);
        const QRectF placed = path.boundingRect();
        if (!placed.isEmpty())
            painter.fillPath(fitInto(placed, inner).map(path), ink);
        painter.restore();
        return;
    }
    // Stroke fonts exist only as the station's tables: draw their strokes, centred on the
    // character's inked width and the middle of its cell.
    double cellIncX = 0, blackBoxX = 0, originX = 0;
    const auto outline = GetCharOutline(fontName, style, code, cellIncX, blackBoxX, originX);
    if (!outline || outline->isEmpty()) {
        painter.restore();
        return;
    }
    const double left = originX + blackBoxX / 2;
    QPainterPath path;
    for (int i = 0; i < outline->Count(); ++i) {
        const TContour& contour = outline->GetContour(i);
        for (int v = 0; v < contour.Count(); ++v) {
            const QPointF p(centre.x() + (contour[v].X - left) * heightPx, centre.y() - contour[v].Y * heightPx);
            v == 0 ? path.moveTo(p) : path.lineTo(p);
        }
    }
    // The pen keeps its width; the strokes' course is fitted inside the pen's half width.
    const double width = std::max(1.0, heightPx / 20.0);
    const QRectF course = inner.adjusted(width / 2, width / 2, -width / 2, -width / 2);
    painter.setPen(QPen(ink, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(fitInto(path.boundingRect(), course).map(path));
    painter.restore();
}

// The characters shown in a grid: cell (row, column) holds character row * columns + column.
class SymbolGridModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    void setContent(std::function<int()> count, std::function<char16_t(int)> at, int columns, int rows)
    {
        beginResetModel();
        m_count = std::move(count);
        m_at = std::move(at);
        m_columns = columns;
        m_rows = rows;
        endResetModel();
    }
    void setFont(const QString& name, TFontStyles style, int heightPx)
    {
        m_font = name, m_style = style, m_heightPx = heightPx;
        if (m_rows > 0 && m_columns > 0)
            emit dataChanged(index(0, 0), index(m_rows - 1, m_columns - 1));
    }
    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : m_rows; }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : m_columns; }
    int entry(const QModelIndex& idx) const
    {
        const int i = idx.row() * m_columns + idx.column();
        return idx.isValid() && m_count && i < m_count() ? i : -1;
    }
    QVariant data(const QModelIndex& idx, int role) const override
    {
        const int i = entry(idx);
        if (i < 0 || role != Qt::DisplayRole)
            return {};
        return QString(QChar(m_at(i)));
    }
    char16_t codeAt(int i) const { return m_at(i); }

    QString m_font;
    TFontStyles m_style;
    int m_heightPx = 10;

private:
    std::function<int()> m_count;
    std::function<char16_t(int)> m_at;
    int m_columns = 0;
    int m_rows = 0;
};

namespace {

class SymbolDelegate : public QStyledItemDelegate {
public:
    SymbolDelegate(SymbolGridModel* model, QObject* parent) : QStyledItemDelegate(parent), m_model(model) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        // The cell's background and selection without its text: the base class would fill the
        // text in again from the model and draw a small copy in the default font.
        QStyleOptionViewItem plain = option;
        initStyleOption(&plain, index);
        plain.text.clear();
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &plain, painter, widget);
        const int i = m_model->entry(index);
        if (i < 0)
            return;
        painter->save();
        painter->setPen(option.state.testFlag(QStyle::State_Selected) ? option.palette.highlightedText().color()
                                                                      : option.palette.text().color());
        paintSymbol(*painter, option.rect, m_model->m_font, m_model->m_style, m_model->codeAt(i), m_model->m_heightPx);
        painter->restore();
    }

private:
    SymbolGridModel* m_model;
};

QTableView* makeGrid(QWidget* parent, SymbolGridModel* model, int cell)
{
    auto* grid = new QTableView(parent);
    grid->setModel(model);
    grid->setItemDelegate(new SymbolDelegate(model, grid));
    grid->horizontalHeader()->hide();
    grid->verticalHeader()->hide();
    grid->horizontalHeader()->setMinimumSectionSize(cell);
    grid->horizontalHeader()->setDefaultSectionSize(cell);
    grid->verticalHeader()->setMinimumSectionSize(cell);
    grid->verticalHeader()->setDefaultSectionSize(cell);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    return grid;
}

} // namespace

TfrmSymbols::TfrmSymbols(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Symbols"));
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* fonts = new QGroupBox(QStringLiteral("Fonts"), this);
    ComboBoxExFonts = new QComboBox(fonts);
    (new QVBoxLayout(fonts))->addWidget(ComboBoxExFonts);
    auto* styles = new QGroupBox(QStringLiteral("Font Style"), this);
    ComboBoxStyle = new QComboBox(styles);
    (new QVBoxLayout(styles))->addWidget(ComboBoxStyle);
    top->addWidget(fonts, 2);
    top->addWidget(styles, 1);
    layout->addLayout(top);

    auto* middle = new QHBoxLayout;
    auto* available = new QGroupBox(QStringLiteral("Available symbols "), this);
    m_gridModel = new SymbolGridModel(this);
    DrawGridSymbols = makeGrid(available, m_gridModel, kGridCell);
    DrawGridSymbols->setToolTip(QStringLiteral("Double click to Insert"));
    DrawGridSymbols->setFixedWidth(kSymbolGridColumns * kGridCell + 2 * DrawGridSymbols->frameWidth()
                                   + DrawGridSymbols->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    (new QVBoxLayout(available))->addWidget(DrawGridSymbols);
    middle->addWidget(available);
    auto* selectedGroup = new QGroupBox(QStringLiteral("Selected Symbol"), this);
    ImageSymbol = new QLabel(selectedGroup);
    ImageSymbol->setFixedSize(kPreviewSize, kPreviewSize);
    (new QVBoxLayout(selectedGroup))->addWidget(ImageSymbol);
    middle->addWidget(selectedGroup, 0, Qt::AlignTop);
    layout->addLayout(middle);

    GroupBoxSelected = new QGroupBox(QStringLiteral("Selected symbols"), this);
    auto* selectedLayout = new QVBoxLayout(GroupBoxSelected);
    m_stringModel = new SymbolGridModel(this);
    DrawGridSymbolString = makeGrid(GroupBoxSelected, m_stringModel, kStringCell);
    DrawGridSymbolString->setFixedHeight(kStringCell + 2 * DrawGridSymbolString->frameWidth()
                                         + DrawGridSymbolString->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    selectedLayout->addWidget(DrawGridSymbolString);
    auto* stringButtons = new QHBoxLayout;
    BitBtnInsert = new QPushButton(QStringLiteral("Insert"), GroupBoxSelected);
    BitBtnDelete = new QPushButton(QStringLiteral("Delete"), GroupBoxSelected);
    BitBtnClear = new QPushButton(QStringLiteral("Clear All"), GroupBoxSelected);
    for (QPushButton* b : {BitBtnInsert, BitBtnDelete, BitBtnClear})
        stringButtons->addWidget(b);
    selectedLayout->addLayout(stringButtons);
    layout->addWidget(GroupBoxSelected);

    GroupBoxLabel = new QGroupBox(QStringLiteral("Label"), this);
    auto* labelLayout = new QVBoxLayout(GroupBoxLabel);
    RichEdit = new TextRichEdit(GroupBoxLabel);
    RichEdit->setFixedHeight(80);
    BitBtnInsertRich = new QPushButton(QStringLiteral("Insert"), GroupBoxLabel);
    labelLayout->addWidget(RichEdit);
    labelLayout->addWidget(BitBtnInsertRich, 0, Qt::AlignLeft);
    layout->addWidget(GroupBoxLabel);

    auto* ok = new QHBoxLayout;
    BitBtnOK = new QPushButton(tr("OK"), this);
    BitBtnCancel = new QPushButton(tr("Cancel"), this);
    ok->addStretch();
    ok->addWidget(BitBtnOK);
    ok->addWidget(BitBtnCancel);
    layout->addLayout(ok);
    for (QPushButton* b : {BitBtnInsert, BitBtnDelete, BitBtnClear, BitBtnInsertRich, BitBtnCancel})
        b->setAutoDefault(false);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    fillFontList();
    for (int i = 0; i < 4; ++i)
        ComboBoxStyle->addItem(FontStyleName(IndexToFontStyle(i)));
    ComboBoxStyle->setCurrentIndex(0);

    m_gridModel->setContent([this] { return int(m_chars.size()); }, [this](int i) { return m_chars[size_t(i)]; },
                            kSymbolGridColumns, 1);
    refreshSymbolStringGrid();

    connect(ComboBoxExFonts, &QComboBox::activated, this, &TfrmSymbols::ComboBoxExFontsClick);
    connect(ComboBoxStyle, &QComboBox::activated, this, &TfrmSymbols::ComboBoxStyleClick);
    connect(DrawGridSymbols, &QTableView::clicked, this, &TfrmSymbols::DrawGridSymbolsClick);
    connect(DrawGridSymbols, &QTableView::doubleClicked, this, &TfrmSymbols::DrawGridSymbolsDblClick);
    connect(DrawGridSymbolString, &QTableView::clicked, this, &TfrmSymbols::DrawGridSymbolStringClick);
    connect(BitBtnInsert, &QPushButton::clicked, this, &TfrmSymbols::BitBtnInsertClick);
    connect(BitBtnDelete, &QPushButton::clicked, this, &TfrmSymbols::BitBtnDeleteClick);
    connect(BitBtnClear, &QPushButton::clicked, this, &TfrmSymbols::BitBtnClearClick);
    connect(BitBtnInsertRich, &QPushButton::clicked, this, &TfrmSymbols::BitBtnInsertRichClick);
    connect(BitBtnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtnCancel, &QPushButton::clicked, this, &QDialog::reject);
    RichEdit->setSelectionChangeHandler([this] { RichEditSelectionChange(); });

    selectFontOrFallback(SymbolFont);
}

TfrmSymbols::~TfrmSymbols()
{
    RichEdit->setSelectionChangeHandler({});
}

void TfrmSymbols::fillFontList()
{
    const QIcon trueType = fontKindIcon(QStringLiteral("T"));
    const QIcon stroke = fontKindIcon(QStringLiteral("S"));
    for (const QString& name : usableFontNames()) {
        // Custom digit fonts are neither, and have no characters to pick from.
        if (IsStrokeFont(name))
            ComboBoxExFonts->addItem(stroke, name, name);
        else if (IsTrueTypeFont(name))
            ComboBoxExFonts->addItem(trueType, name, name);
    }
}

bool TfrmSymbols::selectFont(const QString& name)
{
    int index = ComboBoxExFonts->findData(name, Qt::UserRole, Qt::MatchFixedString);
    if (index < 0 && IsTrueTypeFont(name)) {
        // A name the system answers with another installed family (an alias such as "Arial"
        // for a metric-compatible family) is drawn and marked with that family: it gets an
        // entry of its own that says so, and the label keeps the name it was given.
        if (const TrueTypeFace* face = truetype::face(name, {})) {
            const QString family = face->familyName();
            index = ComboBoxExFonts->count();
            for (int i = 0; i < ComboBoxExFonts->count(); ++i) {
                const QString other = ComboBoxExFonts->itemData(i).toString();
                if (!IsStrokeFont(other) && QString::compare(other, name, Qt::CaseInsensitive) > 0) {
                    index = i;
                    break;
                }
            }
            ComboBoxExFonts->insertItem(index, fontKindIcon(QStringLiteral("T")),
                                        QStringLiteral("%1 (%2)").arg(name, family), name);
        }
    }
    if (index >= 0)
        ComboBoxExFonts->setCurrentIndex(index);
    return index >= 0;
}

void TfrmSymbols::selectFontOrFallback(const QString& name)
{
    // Arial is the picker's own choice for a font it cannot show; where not even that can be
    // drawn, the first font of the list is what will be used, and is shown as such.
    if (!selectFont(name) && !selectFont(QStringLiteral("Arial")) && ComboBoxExFonts->count() > 0)
        ComboBoxExFonts->setCurrentIndex(0);
}

bool TfrmSymbols::Execute()
{
    prepare();
    return exec() == QDialog::Accepted;
}

void TfrmSymbols::prepare()
{
    if (UseRichEdit) {
        const QTextCharFormat format = RichEdit->textCursor().charFormat();
        selectFontOrFallback(selectionFamily(format, RichEdit->document()));
        ComboBoxStyle->setCurrentIndex(FontStyleToIndex(selectionStyle(format, RichEdit->document())));
    } else {
        selectFontOrFallback(SymbolFont);
        ComboBoxStyle->setCurrentIndex(FontStyleToIndex(SymbolStyle));
        m_symbols.setText(m_symbols.text());
        refreshSymbolStringGrid();
    }
    GroupBoxLabel->setVisible(UseRichEdit);
    GroupBoxSelected->setVisible(!UseRichEdit);
    QPushButton* insert = UseRichEdit ? BitBtnInsertRich : BitBtnInsert;
    QWidget::setTabOrder(insert, ComboBoxExFonts);
    QWidget::setTabOrder(ComboBoxExFonts, ComboBoxStyle);
    QWidget::setTabOrder(ComboBoxStyle, DrawGridSymbols);
}

void TfrmSymbols::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormActivate();
}

void TfrmSymbols::FormActivate()
{
    ComboBoxExFontsClick();
}

void TfrmSymbols::ComboBoxExFontsClick()
{
    const int index = ComboBoxExFonts->currentIndex();
    SymbolFont = index >= 0 ? ComboBoxExFonts->itemData(index).toString() : QStringLiteral("Arial");
    m_gridModel->setFont(SymbolFont, SymbolStyle, kGridCell - 5);
    m_stringModel->setFont(SymbolFont, SymbolStyle, kGridCell - 5);
    // The caption names what the characters are drawn with, as the list does.
    setWindowTitle(index >= 0 ? ComboBoxExFonts->itemText(index) : SymbolFont);
    QCoreApplication::processEvents();
    m_chars = SymbolCharacterList(SymbolFont, SymbolStyle);
    m_gridModel->setContent([this] { return int(m_chars.size()); }, [this](int i) { return m_chars[size_t(i)]; },
                            kSymbolGridColumns, symbolGridRows(int(m_chars.size())));
    DrawGridSymbols->setCurrentIndex(m_gridModel->index(0, 0));
    DrawGridSymbols->viewport()->update();
    DrawGridSymbolsClick();
    m_selected = 0;
    applyToRichSelection(true, false);
}

void TfrmSymbols::ComboBoxStyleClick()
{
    SymbolStyle = IndexToFontStyle(std::max(0, ComboBoxStyle->currentIndex()));
    m_gridModel->setFont(SymbolFont, SymbolStyle, kGridCell - 5);
    m_stringModel->setFont(SymbolFont, SymbolStyle, kGridCell - 5);
    DrawGridSymbolsClick();
    applyToRichSelection(false, true);
}

bool TfrmSymbols::hasSelectedEntry() const
{
    return m_selected >= 0 && m_selected < int(m_chars.size());
}

void TfrmSymbols::DrawGridSymbolsClick()
{
    const QModelIndex current = DrawGridSymbols->currentIndex();
    m_selected = current.isValid() ? current.row() * kSymbolGridColumns + current.column() : 0;
    if (hasSelectedEntry())
        preview(m_chars[size_t(m_selected)]);
    else
        clearPreview();
    (UseRichEdit ? BitBtnInsertRich : BitBtnInsert)->setFocus();
}

void TfrmSymbols::DrawGridSymbolsDblClick()
{
    if (UseRichEdit)
        BitBtnInsertRichClick();
    else
        BitBtnInsertClick();
    DrawGridSymbolsClick();
}

void TfrmSymbols::DrawGridSymbolStringClick()
{
    const QModelIndex current = DrawGridSymbolString->currentIndex();
    if (current.isValid())
        m_symbols.setCursor(current.column());
    if (m_symbols.cursor() < m_symbols.text().size())
        preview(m_symbols.text().at(m_symbols.cursor()).unicode());
    else
        clearPreview();
}

void TfrmSymbols::refreshSymbolStringGrid()
{
    m_stringModel->setContent([this] { return int(m_symbols.text().size()); },
                              [this](int i) { return char16_t(m_symbols.text().at(i).unicode()); },
                              m_symbols.columnCount(), 1);
    DrawGridSymbolString->setCurrentIndex(m_stringModel->index(0, m_symbols.cursor()));
    DrawGridSymbolString->viewport()->update();
}

void TfrmSymbols::BitBtnInsertClick()
{
    if (!hasSelectedEntry())
        return;
    const QModelIndex current = DrawGridSymbolString->currentIndex();
    if (current.isValid())
        m_symbols.setCursor(current.column());
    m_symbols.Insert(QChar(m_chars[size_t(m_selected)]));
    refreshSymbolStringGrid();
}

void TfrmSymbols::BitBtnDeleteClick()
{
    const QModelIndex current = DrawGridSymbolString->currentIndex();
    if (current.isValid())
        m_symbols.setCursor(current.column());
    m_symbols.Delete();
    refreshSymbolStringGrid();
}

void TfrmSymbols::BitBtnClearClick()
{
    m_symbols.ClearAll();
    refreshSymbolStringGrid();
}

void TfrmSymbols::BitBtnInsertRichClick()
{
    if (!hasSelectedEntry())
        return;
    RichEditInsertText(*RichEdit, QString(QChar(m_chars[size_t(m_selected)])));
}

void TfrmSymbols::RichEditSelectionChange()
{
    const QTextCharFormat format = RichEdit->textCursor().charFormat();
    const QString family = selectionFamily(format, RichEdit->document());
    if (family.compare(SymbolFont, Qt::CaseInsensitive) != 0) {
        selectFontOrFallback(family);
        ComboBoxExFontsClick();
    } else if (FontStyleToIndex(selectionStyle(format, RichEdit->document())) != ComboBoxStyle->currentIndex()) {
        ComboBoxStyle->setCurrentIndex(FontStyleToIndex(selectionStyle(format, RichEdit->document())));
        ComboBoxStyleClick();
    }
}

void TfrmSymbols::applyToRichSelection(bool font, bool style)
{
    // With no selection this sets the format of what is typed next.
    QTextCharFormat format;
    if (font)
        format.setFontFamilies(QStringList{SymbolFont});
    if (style) {
        format.setFontWeight(SymbolStyle.testFlag(fsBold) ? QFont::Bold : QFont::Normal);
        format.setFontItalic(SymbolStyle.testFlag(fsItalic));
    }
    format.setFontPointSize(RichEdit->fontPointSize());
    RichEdit->mergeCurrentCharFormat(format);
}

void TfrmSymbols::preview(char16_t code)
{
    QPixmap pixmap(ImageSymbol->size());
    pixmap.fill(ImageSymbol->palette().color(QPalette::Window));
    QPainter painter(&pixmap);
    painter.setPen(ImageSymbol->palette().color(QPalette::WindowText));
    paintSymbol(painter, pixmap.rect(), SymbolFont, SymbolStyle, code, int(std::lround(0.8 * ImageSymbol->width())));
    painter.end();
    ImageSymbol->setPixmap(pixmap);
}

void TfrmSymbols::clearPreview()
{
    QPixmap pixmap(ImageSymbol->size());
    pixmap.fill(ImageSymbol->palette().color(QPalette::Window));
    ImageSymbol->setPixmap(pixmap);
}

} // namespace lapido
