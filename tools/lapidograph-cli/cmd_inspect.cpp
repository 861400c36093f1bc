// lapidograph-cli inspect: the inscription on a saved camera picture (a real camera's included)
// inspected against the marks the label's run plans from the marking reference.
#include "cliio.h"
#include "commands.h"

#include "glyphs/glyph.h"
#include "machine/laser.h"
#include "platform/operatordialogs.h"
#include "platform/stationglobals.h"
#include "records/stlogfile.h"
#include "settings/settingsrecord.h"
#include "workflow/station.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>

#include <optional>
#include <vector>

namespace lapido::cli {

namespace {

const QString kInspectUsage = QStringLiteral(
    "usage: inspect LABEL.xml PICTURE [--reference X,Y,Z] [--out DIR]\n"
    "  Plans the label's run from the marking reference (the start-up position unless given), as\n"
    "  Engrave would, and inspects the picture (the camera's frame, the table at the reference,\n"
    "  the frame centred on the station's picture) against it: one line per glyph, the label's\n"
    "  line and the text read back. \"Inspection: ...\" goes to LATrace in DIR (default: the\n"
    "  current folder), the lines to LAInspection.log beside it.\n"
    "  Exit code: 0 the inscription is as planned, 4 it is not, 3 the label would be refused,\n"
    "  1 file error, 2 usage.");

// Pictures larger than this are not camera frames.
constexpr qint64 kMaxPictureBytes = 64 * 1024 * 1024;

} // namespace

int cmdInspect(const QStringList& args)
{
    QString labelPath, picturePath, outDir = QStringLiteral(".");
    std::optional<std::vector<double>> reference;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        const bool hasValue = i + 1 < args.size();
        if (a == QLatin1String("--reference") && hasValue) {
            if (!(reference = pointNumbers(args.at(++i), 3)))
                return usageError(QStringLiteral("--reference needs X,Y,Z in mm"));
        } else if (a == QLatin1String("--out") && hasValue) {
            outDir = args.at(++i);
        } else if (!a.startsWith(QLatin1String("--")) && labelPath.isEmpty()) {
            labelPath = a;
        } else if (!a.startsWith(QLatin1String("--")) && picturePath.isEmpty()) {
            picturePath = a;
        } else {
            return usageError(QStringLiteral("unexpected \"%1\"\n").arg(a) + kInspectUsage);
        }
    }
    if (labelPath.isEmpty() || picturePath.isEmpty())
        return usageError(kInspectUsage);

    const auto labelBytes = readLabelFile(labelPath);
    if (!labelBytes)
        return 1;
    if (QFileInfo(picturePath).size() > kMaxPictureBytes) {
        err(QStringLiteral("lapidograph-cli: \"%1\" is too large for a camera picture").arg(picturePath));
        return 1;
    }
    QImageReader reader(picturePath);
    const QImage picture = reader.read();
    if (picture.isNull()) {
        err(QStringLiteral("lapidograph-cli: cannot read the picture \"%1\": %2").arg(picturePath, reader.errorString()));
        return 1;
    }
    if (!QDir().mkpath(outDir)) {
        err(QStringLiteral("lapidograph-cli: cannot create the folder \"%1\"").arg(outDir));
        return 1;
    }

    LoadSettingsFromRegistery();
    const TSettings& settings = Settings();
    setLaser(nullptr);

    ScriptedDialogs dialogs;
    dialogs.onEntry = [](const ScriptedDialogs::Entry& e) { err(QStringLiteral("lapidograph-cli: ") + e.text); };
    OperatorDialogs* previousDialogs = setOperatorDialogs(&dialogs);
    struct RestoreDialogs {
        OperatorDialogs* previous;
        ~RestoreDialogs() { setOperatorDialogs(previous); }
    } restoreDialogs{previousDialogs};

    takeLogoFolder(QFileInfo(labelPath).absoluteDir());
    FileLogger trace(QDir(outDir).absolutePath());
    TStationServices services;
    services.logger = &trace;
    services.countShots = false;
    TStation station(std::move(services));
    if (loadLabel(station, labelPath, *labelBytes) != LabelLoad::Loaded)
        return 1;

    station.AxisPosition_X = station.MarkingReference_X = reference ? (*reference)[0] : settings.StartUp_X;
    station.AxisPosition_Y = station.MarkingReference_Y = reference ? (*reference)[1] : settings.StartUp_Y;
    station.AxisPosition_Z = station.MarkingReference_Z = reference ? (*reference)[2] : settings.StartUp_Z;
    const InspectionPlan plan = station.PlanInspection();
    if (plan.glyphs.empty()) {
        out(QStringLiteral("nothing to inspect: the label would be refused or makes no marks"));
        return 3;
    }
    const InspectionResult& result = station.InspectRun(plan, picture);
    for (const QString& line : result.lines())
        out(line);
    if (trace.anyWriteFailed())
        return 1;
    return result.ok() ? 0 : 4;
}

} // namespace lapido::cli
