// lapidograph-cli outline: the contours the station marks for a drawing (or, with --font, a character).
#include "cliio.h"
#include "platform/savefile.h"
#include "commands.h"

#include "geometry/cadonpaintbox.h"
#include "platform/inifile.h"
#include "platform/savefile.h"
#include "settings/settingsrecord.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace lapido::cli {

namespace {

const char kUsage[] = "usage: outline --drawing FILE.lal [--json] | outline --font NAME ... (see outline --font)";

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

int outlineDrawing(const QStringList& args)
{
    QString file;
    bool json = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (a == QLatin1String("--json")) {
            json = true;
        } else if (a == QLatin1String("--drawing")) {
            if (i + 1 >= args.size())
                return usageError(a + QStringLiteral(" needs a value; ") + kUsage);
            file = args.at(++i);
        } else {
            return usageError(QStringLiteral("unknown argument \"%1\"; ").arg(a) + kUsage);
        }
    }
    if (file.isEmpty())
        return usageError(QString::fromLatin1(kUsage));
    // Missing, a folder, a device or no permission: the real reason, not a format complaint.
    if (const QString why = unreadableFileReason(file); !why.isEmpty()) {
        err(QStringLiteral("lapidograph-cli: ") + why);
        return 1;
    }

    LoadSettingsFromRegistery(); // the arc tolerance is the station's
    TCADOnPaintBox drawing;
    QString error;
    if (!drawing.loadFromIni(IniFile(file), &error)) {
        err(QStringLiteral("lapidograph-cli: \"%1\": %2").arg(file, error));
        return 1;
    }
    double width = 0;
    const TContourList contours = drawing.GetOutLine(width);
    if (json) {
        QJsonObject o;
        o[QStringLiteral("drawing")] = file;
        o[QStringLiteral("Width")] = width;
        o[QStringLiteral("contours")] = contoursJson(contours);
        out(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Indented)).trimmed());
    } else {
        int vertices = 0;
        for (int c = 0; c < contours.Count(); ++c)
            vertices += contours.GetContour(c).Count();
        out(QStringLiteral("Width=%1").arg(width, 0, 'g', 17));
        out(QStringLiteral("Contours=%1").arg(contours.Count()));
        out(QStringLiteral("Vertices=%1").arg(vertices));
    }
    return 0;
}

} // namespace

int cmdOutline(const QStringList& args)
{
    // Each form is chosen by the option that names its source.
    if (args.contains(QLatin1String("--font")))
        return cmdOutlineFont(args);
    if (args.contains(QLatin1String("--drawing")))
        return outlineDrawing(args);
    return usageError(QString::fromLatin1(kUsage));
}

} // namespace lapido::cli
