// TStation: the label as "tree2xml" text and back.
#include "workflow/station.h"

#include "glyphs/glyph.h"
#include "glyphs/glyphcode.h"
#include "glyphs/glyphoutline.h"
#include "glyphs/glyphphoto.h"
#include "glyphs/richstring.h"
#include "platform/numfmt.h"
#include "platform/stationglobals.h"
#include "settings/settingskeys.h"
#include "workflow/stationtexts.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <QDir>
#include <QFileInfo>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

namespace lapido {

// One item as read, before anything of the current label is touched.
struct TLabelXmlItem {
    QString text;
    int imageIndex = -1;
    int stateIndex = -1;
    std::optional<QString> girdle, slant;
    QString type;
    // A "code" element (a 2D code); an item never makes a code, whatever its type says.
    bool code = false;
    QXmlStreamAttributes attributes;
};

namespace {

// A label is a few dozen items; these bounds keep a hostile or corrupt file from exhausting
// memory or freezing the station while it is read.
constexpr qsizetype kMaxXmlChars = 4 * 1024 * 1024;
constexpr int kMaxItems = 5000;

const QString kRoot = QStringLiteral("tree2xml");
const QString kItem = QStringLiteral("item");
// A 2D code is an element of its own rather than an item: readers that know only items pass
// over it (they make a node without glyph of it, or skip it), so older stations still read
// the rest of such a label as before.
const QString kCode = QStringLiteral("code");

QString styleAttribute(TFontStyles style)
{
    // The last of these, in this order, that the style holds.
    QString name;
    if (style.testFlag(fsBold))
        name = QStringLiteral("fsBold");
    if (style.testFlag(fsItalic))
        name = QStringLiteral("fsItalic");
    if (style.testFlag(fsUnderline))
        name = QStringLiteral("fsUnderline");
    if (style.testFlag(fsStrikeOut))
        name = QStringLiteral("fsStrikeOut");
    return name;
}

bool writtenAtTop(const TTreeNode* node)
{
    const TGlyph* g = node->Data();
    if (dynamic_cast<const TGlyphCode*>(g))
        return true;
    if (dynamic_cast<const TGlyphSpace*>(g) || dynamic_cast<const TGlyphLogo*>(g) || dynamic_cast<const TGlyphPhoto*>(g))
        return true;
    return node->Level() == 1;
}

using XmlItem = TLabelXmlItem;

struct ParseError {
    QString message;
};
// A label that reads well but asks for what cannot be inscribed.
struct RangeError {
    QString message;
};

int intAttribute(const QXmlStreamAttributes& a, const QString& name, int fallback)
{
    if (!a.hasAttribute(name))
        return fallback;
    bool ok = false;
    const int v = a.value(name).toInt(&ok);
    if (!ok)
        throw ParseError{QStringLiteral("attribute \"%1\" is not a whole number").arg(name)};
    return v;
}

// A number of the label file: absent gives nullopt, present but unreadable is an error.
std::optional<double> numberAttribute(const QXmlStreamAttributes& a, const QString& name)
{
    if (!a.hasAttribute(name))
        return std::nullopt;
    const QString text = a.value(name).toString();
    std::optional<double> v = StrToFloat(text);
    if (!v) {
        // A label written on a station whose locale uses a point.
        const std::string latin = text.toStdString();
        v = StrToFloatPoint(latin);
    }
    if (!v || !std::isfinite(*v))
        throw ParseError{QStringLiteral("attribute \"%1\" is not a number: \"%2\"").arg(name, text.left(40))};
    return v;
}

std::vector<XmlItem> parseLabel(QXmlStreamReader& reader)
{
    std::vector<XmlItem> items;
    bool rootSeen = false;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement()) {
            if (!rootSeen) {
                if (reader.name() != kRoot)
                    throw ParseError{QStringLiteral("the root element is \"%1\", not \"tree2xml\"")
                                         .arg(reader.name().toString().left(40))};
                rootSeen = true;
                continue;
            }
            const bool code = reader.name() == kCode;
            if (reader.name() != kItem && !code) {
                reader.skipCurrentElement();
                continue;
            }
            if (int(items.size()) >= kMaxItems)
                throw ParseError{QStringLiteral("the label has more than %1 items").arg(kMaxItems)};
            XmlItem item;
            const QXmlStreamAttributes a = reader.attributes();
            item.text = a.value(QStringLiteral("text")).toString();
            item.imageIndex = intAttribute(a, QStringLiteral("imageIndex"), -1);
            item.stateIndex = intAttribute(a, QStringLiteral("stateIndex"), -1);
            if (a.hasAttribute(QStringLiteral("Girdleheight")))
                item.girdle = a.value(QStringLiteral("Girdleheight")).toString();
            if (a.hasAttribute(QStringLiteral("SlantAngle")))
                item.slant = a.value(QStringLiteral("SlantAngle")).toString();
            item.type = a.value(QStringLiteral("type")).toString();
            item.code = code;
            item.attributes = a;
            items.push_back(std::move(item));
            // Nested items (the characters of a run) are written for information only.
            reader.skipCurrentElement();
        }
    }
    if (reader.hasError())
        throw ParseError{QStringLiteral("%1 at line %2, column %3")
                             .arg(reader.errorString())
                             .arg(reader.lineNumber())
                             .arg(reader.columnNumber())};
    if (!rootSeen)
        throw ParseError{QStringLiteral("there is no \"tree2xml\" element")};
    return items;
}

// A number of the label file that must lie in [low, high] to describe an inscription.
std::optional<double> rangedAttribute(const QXmlStreamAttributes& a, const QString& name, double low, double high)
{
    const std::optional<double> v = numberAttribute(a, name);
    if (v && !(*v >= low && *v <= high))
        throw RangeError{QStringLiteral("attribute \"%1\" is %2; only %3 to %4 can be marked")
                             .arg(name, a.value(name).toString().left(40))
                             .arg(low)
                             .arg(high)};
    return v;
}

// The girdle height and slant of an item as the edit boxes take them (a point is the decimal
// separator there): text the box cannot read is ignored when the label is built, a number out
// of range refuses the label.
void checkLayoutText(const std::optional<QString>& text, const char* name, double low, double high)
{
    if (!text)
        return;
    bool ok = false;
    const double v = text->trimmed().toDouble(&ok);
    if (ok && std::isfinite(v) && !(v >= low && v <= high))
        throw RangeError{QStringLiteral("attribute \"%1\" is %2; only %3 to %4 can be marked")
                             .arg(QLatin1String(name), text->left(40))
                             .arg(low)
                             .arg(high)};
}

void checkCode(const QXmlStreamAttributes& a)
{
    const QString symbology = a.value(QStringLiteral("symbology")).toString();
    if (!symbologyFromName(symbology))
        throw ParseError{QStringLiteral("the code kind \"%1\" is unknown").arg(symbology.left(40))};
    const QString marking = a.value(QStringLiteral("moduleMarking")).toString();
    if (a.hasAttribute(QStringLiteral("moduleMarking")) && !moduleMarkingFromName(marking))
        throw ParseError{QStringLiteral("the module marking \"%1\" is unknown").arg(marking.left(40))};
    if (a.value(QStringLiteral("content")).size() > codelimits::kMaxContentChars)
        throw RangeError{QStringLiteral("a code holds more than %1 characters").arg(codelimits::kMaxContentChars)};
    rangedAttribute(a, QStringLiteral("moduleSize"), codelimits::kMinModuleUm, codelimits::kMaxModuleUm);
    const int quiet = intAttribute(a, QStringLiteral("quietZone"), 0);
    if (quiet < 0 || quiet > codelimits::kMaxQuietModules)
        throw RangeError{QStringLiteral("attribute \"quietZone\" is %1; only 0 to %2 can be marked")
                             .arg(quiet)
                             .arg(codelimits::kMaxQuietModules)};
    rangedAttribute(a, QStringLiteral("codeOffset"), -labellimits::kMaxFraction, labellimits::kMaxFraction);
}

// Checks the kind-specific attributes of every item before the label is replaced, so that a
// bad item leaves the current label as it was.
void checkItems(const std::vector<XmlItem>& items)
{
    using namespace labellimits;
    qsizetype characters = 0;
    for (const XmlItem& item : items) {
        const QXmlStreamAttributes& a = item.attributes;
        checkLayoutText(item.girdle, "Girdleheight", kMinGirdleMm, kMaxGirdleMm);
        checkLayoutText(item.slant, "SlantAngle", -kMaxSlantDegrees, kMaxSlantDegrees);
        if (item.code) {
            checkCode(a);
        } else if (item.type == QStringLiteral("TGlyphSpace")) {
            rangedAttribute(a, QStringLiteral("spacing"), -kMaxFraction, kMaxFraction);
        } else if (item.type == QStringLiteral("TGlyphWideString")) {
            rangedAttribute(a, QStringLiteral("textHeight"), kMinHeight, kMaxFraction);
            rangedAttribute(a, QStringLiteral("textOffset"), -kMaxFraction, kMaxFraction);
            rangedAttribute(a, QStringLiteral("textSpacing"), -kMaxFraction, kMaxFraction);
            characters += a.value(QStringLiteral("textLabel")).size();
            if (characters > kMaxCharacters)
                throw RangeError{QStringLiteral("it holds more than %1 characters, more than a girdle can carry")
                                     .arg(kMaxCharacters)};
        } else if (item.type == QStringLiteral("TGlyphLogo")) {
            const QString file = a.value(QStringLiteral("logoFileName")).toString();
            if (!isPlainFileName(file))
                throw ParseError{QStringLiteral("the logo file name \"%1\" leaves the logo folder").arg(file.left(80))};
            rangedAttribute(a, QStringLiteral("logoHeight"), kMinHeight, kMaxFraction);
            rangedAttribute(a, QStringLiteral("logoOffset"), -kMaxFraction, kMaxFraction);
        } else if (item.type == QStringLiteral("TGlyphPhoto")) {
            rangedAttribute(a, QStringLiteral("photoHeight"), kMinHeight, kMaxFraction);
            rangedAttribute(a, QStringLiteral("photoOffset"), -kMaxFraction, kMaxFraction);
            // The gamma is kept to one decimal when the label is built: the rounded value counts.
            if (const auto gamma = numberAttribute(a, QStringLiteral("photoGamma"));
                gamma && !(std::round(*gamma * 10) / 10.0 >= kMinGamma && std::round(*gamma * 10) / 10.0 <= kMaxGamma))
                throw RangeError{QStringLiteral("attribute \"photoGamma\" is %1; only %2 to %3 can be marked")
                                     .arg(a.value(QStringLiteral("photoGamma")).toString().left(40))
                                     .arg(kMinGamma)
                                     .arg(kMaxGamma)};
        }
    }
}

} // namespace

QString TStation::programPath()
{
    if (QCoreApplication::instance())
        return QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
    return QStringLiteral("lapidograph");
}

QString TStation::Tree2XML() const
{
    QString out;
    QXmlStreamWriter w(&out);
    w.writeStartElement(kRoot);
    w.writeAttribute(QStringLiteral("app"), programPath());

    const QString girdleText = edit(TEditBox::EditGirdle).text;
    const QString slantText = edit(TEditBox::EditSlant).text;
    const auto writeCode = [&](const TTreeNode* node, const TGlyphCode& code) {
        w.writeStartElement(kCode);
        // The attributes every item carries come first, so that a reader of items alone takes
        // the girdle and slant from this element as from any other.
        w.writeAttribute(QStringLiteral("text"), node->Text());
        w.writeAttribute(QStringLiteral("imageIndex"), QString::number(node->ImageIndex));
        w.writeAttribute(QStringLiteral("stateIndex"), QString::number(node->StateIndex));
        w.writeAttribute(QStringLiteral("Girdleheight"), girdleText);
        w.writeAttribute(QStringLiteral("SlantAngle"), slantText);
        w.writeAttribute(QStringLiteral("symbology"), symbologyName(code.Symbology));
        w.writeAttribute(QStringLiteral("content"), code.Content);
        w.writeAttribute(QStringLiteral("moduleSize"), FloatToStr(code.ModuleUm));
        w.writeAttribute(QStringLiteral("quietZone"), QString::number(code.QuietModules));
        w.writeAttribute(QStringLiteral("moduleMarking"), moduleMarkingName(code.ModuleMarking));
        w.writeAttribute(QStringLiteral("codeOffset"), FloatToStr(code.Offset));
        if (code.FromScannedCode)
            w.writeAttribute(QStringLiteral("scannedCode"), QStringLiteral("1"));
        w.writeEndElement();
    };
    const auto writeNode = [&](const auto& self, const TTreeNode* node) -> void {
        if (const auto* code = dynamic_cast<const TGlyphCode*>(node->Data())) {
            writeCode(node, *code);
            return;
        }
        w.writeStartElement(kItem);
        w.writeAttribute(QStringLiteral("text"), node->Text());
        w.writeAttribute(QStringLiteral("imageIndex"), QString::number(node->ImageIndex));
        w.writeAttribute(QStringLiteral("stateIndex"), QString::number(node->StateIndex));
        w.writeAttribute(QStringLiteral("Girdleheight"), girdleText);
        w.writeAttribute(QStringLiteral("SlantAngle"), slantText);
        const TGlyph* g = node->Data();
        const auto writeRun = [&](const TGlyphWideString& run, const QString& text) {
            w.writeAttribute(QStringLiteral("type"), QStringLiteral("TGlyphWideString"));
            w.writeAttribute(QStringLiteral("textLabel"), text);
            w.writeAttribute(QStringLiteral("fontName"), run.FontName);
            const QString style = styleAttribute(run.FontStyle);
            if (!style.isEmpty())
                w.writeAttribute(QStringLiteral("fontStyle"), style);
            w.writeAttribute(QStringLiteral("textHeight"), FloatToStr(run.RelativeSize));
            w.writeAttribute(QStringLiteral("textOffset"), FloatToStr(run.Offset));
            w.writeAttribute(QStringLiteral("textSpacing"), FloatToStr(run.Spacing));
        };
        if (const auto* text = dynamic_cast<const TGlyphString*>(g)) {
            writeRun(*text, text->TextLabel);
        } else if (const auto* symbols = dynamic_cast<const TGlyphWideString*>(g)) {
            // A run of a label that holds a character above code 255 keeps its text like a text
            // run: with the font alone, the label would vanish from its template when read back.
            if (dynamic_cast<const TGlyphRichString*>(symbols->Parent)) {
                writeRun(*symbols, symbols->WideLabel);
            } else {
                w.writeAttribute(QStringLiteral("type"), QStringLiteral("TGlyphWideString"));
                w.writeAttribute(QStringLiteral("fontName"), symbols->FontName);
            }
        } else if (const auto* space = dynamic_cast<const TGlyphSpace*>(g)) {
            w.writeAttribute(QStringLiteral("type"), QStringLiteral("TGlyphSpace"));
            // The glyph's own width: the space-width box holds what was last typed, and a label
            // of spaces of different widths would come back with them all alike.
            w.writeAttribute(QStringLiteral("spacing"), FloatToStr(space->RelativeSize));
        } else if (const auto* logo = dynamic_cast<const TGlyphLogo*>(g)) {
            w.writeAttribute(QStringLiteral("type"), QStringLiteral("TGlyphLogo"));
            w.writeAttribute(QStringLiteral("logoFileName"), QFileInfo(logo->FileName).fileName());
            w.writeAttribute(QStringLiteral("logoHeight"), FloatToStr(logo->RelativeSize));
            w.writeAttribute(QStringLiteral("logoOffset"), FloatToStr(logo->Offset));
        } else if (const auto* photo = dynamic_cast<const TGlyphPhoto*>(g)) {
            w.writeAttribute(QStringLiteral("type"), QStringLiteral("TGlyphPhoto"));
            // A full path, so that the label finds its picture from any current folder.
            w.writeAttribute(QStringLiteral("photoFileName"),
                             photo->Filename.isEmpty() ? QString() : QFileInfo(photo->Filename).absoluteFilePath());
            w.writeAttribute(QStringLiteral("photoHeight"), FloatToStr(photo->RelativeSize));
            w.writeAttribute(QStringLiteral("photoOffset"), FloatToStr(photo->Offset));
            w.writeAttribute(QStringLiteral("photoGamma"), FloatToStr(photo->Gamma));
        }
        for (int i = 0; i < node->Count(); ++i)
            self(self, node->Item(i));
        w.writeEndElement();
    };

    for (const TTreeNode* node : m_tree.Items()) {
        // A node inside a written item is written nested in it.
        bool insideWritten = false;
        for (const TTreeNode* p = node->Parent(); p; p = p->Parent())
            if (writtenAtTop(p))
                insideWritten = true;
        if (!insideWritten && writtenAtTop(node))
            writeNode(writeNode, node);
    }
    w.writeEndElement();
    return out;
}

void TStation::clearLabel()
{
    m_glyphAutoInc = nullptr;
    m_markingTreeNode = nullptr;
    m_tree.setSelected(nullptr);
    m_tree.Clear();
    m_controls.panel = TPropertyPanel::None;
    updateTaskButtons(nullptr);
    ClearRichEditDocument(m_richEdit->document());
}

namespace {

// The label's items from a text or from its bytes (the reader then decodes them as the XML
// declaration says, UTF-8 when it says nothing); nullopt with the reason when it is no label.
template <typename Document>
std::optional<std::vector<XmlItem>> readLabelItems(const Document& document, qsizetype maxSize,
                                                   const QString& tooLarge, QString* error, bool* refused)
{
    if (refused)
        *refused = false;
    try {
        if (document.size() > maxSize)
            throw ParseError{tooLarge};
        if (document.trimmed().isEmpty())
            throw ParseError{QStringLiteral("the text is empty, there is no \"tree2xml\" element")};
        QXmlStreamReader reader(document);
        std::vector<XmlItem> items = parseLabel(reader);
        checkItems(items);
        return items;
    } catch (const ParseError& e) {
        if (error)
            *error = QStringLiteral("The label could not be read: ") + e.message + QStringLiteral(".");
        return std::nullopt;
    } catch (const RangeError& e) {
        if (error)
            *error = QStringLiteral("The label cannot be marked: ") + e.message + QStringLiteral(".");
        if (refused)
            *refused = true;
        return std::nullopt;
    }
}

} // namespace

bool TStation::XML2Tree(const QString& DocumentLink, QString* error, bool* refused)
{
    const auto items = readLabelItems(DocumentLink, kMaxXmlChars,
        QStringLiteral("the label text is larger than %1 characters").arg(kMaxXmlChars), error, refused);
    return items && buildTree(*items);
}

bool TStation::XML2TreeFromBytes(const QByteArray& Document, QString* error, bool* refused)
{
    // A label's characters are at most as many as its bytes; the bytes bound the text.
    const auto items = readLabelItems(Document, kMaxXmlChars * 4,
        QStringLiteral("the label is larger than %1 bytes").arg(kMaxXmlChars * 4), error, refused);
    return items && buildTree(*items);
}

bool TStation::buildTree(const std::vector<XmlItem>& items)
{
    ++m_labelRebuilding;
    const auto rebuilt = qScopeGuard([this] { --m_labelRebuilding; });

    clearLabel();
    const bool ignoreGirdle = keys::read(keys::IgnoreGridleheigh);
    const bool ignoreSlant = keys::read(keys::IgnoreSlantAngle);
    for (const XmlItem& item : items) {
        TTreeNode* node = m_tree.Add(item.text);
        node->ImageIndex = item.imageIndex;
        node->StateIndex = item.stateIndex;
        if (!ignoreGirdle && item.girdle)
            EditFloatChange(TEditBox::EditGirdle, *item.girdle);
        if (!ignoreSlant && item.slant)
            EditFloatChange(TEditBox::EditSlant, *item.slant);

        const QXmlStreamAttributes& a = item.attributes;
        if (item.code) {
            TGlyphCode& code = TGlyph::CreateFor<TGlyphCode>(
                &m_tree, node, a.value(QStringLiteral("content")).toString(),
                symbologyFromName(a.value(QStringLiteral("symbology")).toString()).value_or(TCodeSymbology::DataMatrix),
                numberAttribute(a, QStringLiteral("moduleSize")).value_or(CodeModuleUm),
                intAttribute(a, QStringLiteral("quietZone"), CodeQuietModules),
                moduleMarkingFromName(a.value(QStringLiteral("moduleMarking")).toString()).value_or(TCodeModuleMarking::OnePulse),
                numberAttribute(a, QStringLiteral("codeOffset")).value_or(0.0));
            code.FromScannedCode = a.value(QStringLiteral("scannedCode")) == QStringLiteral("1");
        } else if (item.type == QStringLiteral("TGlyphSpace")) {
            TGlyph::CreateFor<TGlyphSpace>(&m_tree, node, numberAttribute(a, QStringLiteral("spacing")).value_or(SpaceWidth));
        } else if (item.type == QStringLiteral("TGlyphWideString")) {
            const auto height = numberAttribute(a, QStringLiteral("textHeight"));
            const auto offset = numberAttribute(a, QStringLiteral("textOffset"));
            const auto spacing = numberAttribute(a, QStringLiteral("textSpacing"));
            // A symbol-list run carries only its font: it has no text to rebuild a label from.
            if (!a.hasAttribute(QStringLiteral("textLabel")) || !height || !offset || !spacing)
                continue;
            DefaultRichEditFont = a.value(QStringLiteral("fontName")).toString();
            DefaultRichEditStyle = {};
            TRichString text;
            text.Add(a.value(QStringLiteral("textLabel")).toString(), DefaultRichEditFont, {});
            text.SetToRichEdit(*m_richEdit);
            TGlyph::CreateFor<TGlyphRichString>(&m_tree, node, m_richEdit.get(), *height, *offset, *spacing);
        } else if (item.type == QStringLiteral("TGlyphLogo")) {
            LogoHeight = numberAttribute(a, QStringLiteral("logoHeight")).value_or(LogoHeight);
            LogoOffset = numberAttribute(a, QStringLiteral("logoOffset")).value_or(LogoOffset);
            m_edits[static_cast<size_t>(TEditBox::EditGlyphLogoHeight)].text = QString::number(LogoHeight * 100, 'f', 1);
            m_edits[static_cast<size_t>(TEditBox::EditGlyphLogoOffset)].text = QString::number(LogoOffset * 100, 'f', 1);
            const QString file = a.value(QStringLiteral("logoFileName")).toString();
            makeLogoGlyph(node, logoFolder() + file, LogoHeight, LogoOffset);
        } else if (item.type == QStringLiteral("TGlyphPhoto")) {
            PhotoFileName = a.value(QStringLiteral("photoFileName")).toString();
            const double height = numberAttribute(a, QStringLiteral("photoHeight")).value_or(PhotoHeight);
            const double offset = numberAttribute(a, QStringLiteral("photoOffset")).value_or(PhotoOffset);
            TGlyphPhoto& photo = makePhotoGlyph(node, height, offset);
            // A picture that cannot be read is reported by the glyph; the photo keeps the
            // default picture so that the rest of the label is still there.
            if (!PhotoFileName.isEmpty())
                photo.LoadFromFile(PhotoFileName);
            if (const auto gamma = numberAttribute(a, QStringLiteral("photoGamma"))) {
                PhotoGamma = std::round(*gamma * 10) / 10.0;
                photo.UpDate(PhotoGamma, height, offset);
            }
        }
    }
    MarkingAborted() = false;
    return true;
}

} // namespace lapido
