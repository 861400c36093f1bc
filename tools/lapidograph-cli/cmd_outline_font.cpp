// lapidograph-cli outline --font: the outline the station would mark for one character of a font.
#include "cliio.h"
#include "commands.h"

#include "geometry/contours.h"
#include "glyphs/customfonts.h"
#include "glyphs/fontoutlines.h"
#include "glyphs/glyphoutline.h"
#include "settings/settingsrecord.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <optional>

namespace lapido::cli {

namespace {

const char kUsage[] = "usage: outline --font NAME [--style Regular|Italic|Bold|\"Italic Bold\"] --char C "
                      "[--json] [--out FILE.kol]";

std::optional<TFontStyles> parseStyle(const QString& text)
{
    const QString t = text.simplified().toLower();
    for (int i = 0; i < 4; ++i)
        if (t == FontStyleName(IndexToFontStyle(i)).toLower())
            return IndexToFontStyle(i);
    if (t == QLatin1String("bold italic"))
        return TFontStyles(fsBold | fsItalic);
    bool ok = false;
    const int index = t.toInt(&ok);
    if (ok && index >= 0 && index <= 3)
        return IndexToFontStyle(index);
    return std::nullopt;
}

// One character as typed, or its code as U+XXXX.
std::optional<char16_t> parseChar(const QString& text)
{
    if (text.size() == 1)
        return text.at(0).unicode();
    static const QRegularExpression code(QStringLiteral("^[Uu]\\+([0-9A-Fa-f]{1,4})$"));
    const auto m = code.match(text);
    if (m.hasMatch())
        return char16_t(m.captured(1).toUInt(nullptr, 16));
    return std::nullopt;
}

QJsonArray contoursJson(const TContourList& contours)
{
    QJsonArray list;
    for (int c = 0; c < contours.Count(); ++c) {
        QJsonArray points;
        for (const TVertex& v : contours.GetContour(c))
            points.append(QJsonArray{v.X, v.Y});
        list.append(points);
    }
    return list;
}

} // namespace

int cmdOutlineFont(const QStringList& args)
{
    QString font;
    TFontStyles style;
    std::optional<char16_t> code;
    bool json = false;
    QString outFile;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (a == QLatin1String("--json")) {
            json = true;
            continue;
        }
        if (a != QLatin1String("--font") && a != QLatin1String("--style") && a != QLatin1String("--char")
            && a != QLatin1String("--out"))
            return usageError(QStringLiteral("unknown argument \"%1\"; ").arg(a) + kUsage);
        if (i + 1 >= args.size())
            return usageError(a + QStringLiteral(" needs a value; ") + kUsage);
        const QString value = args.at(++i);
        if (a == QLatin1String("--font")) {
            font = value;
        } else if (a == QLatin1String("--style")) {
            const auto s = parseStyle(value);
            if (!s)
                return usageError(QStringLiteral("--style wants Regular, Italic, Bold or \"Italic Bold\", not \"%1\"").arg(value));
            style = *s;
        } else if (a == QLatin1String("--char")) {
            code = parseChar(value);
            if (!code)
                return usageError(QStringLiteral("--char wants one character or U+XXXX, not \"%1\"").arg(value));
        } else {
            outFile = value;
        }
    }
    if (font.isEmpty() || !code)
        return usageError(QString::fromLatin1(kUsage));

    LoadSettingsFromRegistery();
    int U = 0, H = 0, C = 0;
    if (!isCustomFont(font) && !GetFontMetrics(font, U, H, C))
        err(QStringLiteral("lapidograph-cli: no font answers to the name \"%1\"; the outline is empty").arg(font));
    // The character glyph's own steps: the outline, zero-length segments trimmed, the advance
    // as its width; a custom font without the character gives an empty outline of no width.
    TGlyphOutLine glyph(nullptr, nullptr);
    double cellIncX = 0, blackBoxX = 0, originX = 0;
    auto contours = GetCharOutline(font, style, *code, cellIncX, blackBoxX, originX);
    const bool hasOutline = contours != nullptr;
    if (hasOutline)
        glyph.ContourList = std::move(contours);
    else
        cellIncX = 0;
    glyph.TrimZeroLengthSegments();
    glyph.UnitWidth = cellIncX;

    QString saveError;
    if (!outFile.isEmpty() && !glyph.SaveToFile(outFile, &saveError)) {
        err(QStringLiteral("lapidograph-cli: ") + saveError);
        return 1;
    }
    if (json) {
        QJsonObject o;
        o[QStringLiteral("font")] = font;
        o[QStringLiteral("style")] = FontStyleName(style);
        o[QStringLiteral("char")] = QString(QChar(*code));
        o[QStringLiteral("code")] = int(*code);
        o[QStringLiteral("CellIncX")] = cellIncX;
        o[QStringLiteral("BlackBoxX")] = blackBoxX;
        o[QStringLiteral("OriginX")] = originX;
        o[QStringLiteral("contours")] = hasOutline ? QJsonValue(contoursJson(*glyph.ContourList)) : QJsonValue();
        out(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Indented)).trimmed());
    } else if (outFile.isEmpty()) {
        int vertices = 0;
        for (int c = 0; c < glyph.ContourList->Count(); ++c)
            vertices += glyph.ContourList->GetContour(c).Count();
        out(QStringLiteral("CellIncX=%1").arg(cellIncX, 0, 'g', 17));
        out(QStringLiteral("BlackBoxX=%1").arg(blackBoxX, 0, 'g', 17));
        out(QStringLiteral("OriginX=%1").arg(originX, 0, 'g', 17));
        out(QStringLiteral("Contours=%1").arg(glyph.ContourList->Count()));
        out(QStringLiteral("Vertices=%1").arg(vertices));
    }
    return 0;
}

} // namespace lapido::cli
