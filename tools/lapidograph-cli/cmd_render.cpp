// lapidograph-cli render: one video tick of a label into a picture file, with or without the
// simulated camera, so that a label can be checked without the station.
#include "cliio.h"
#include "commands.h"

#include "camera/simcamera.h"
#include "camera/ueye.h"
#include "camera/videooverlay.h"
#include "glyphs/glyph.h"
#include "machine/laser.h"
#include "platform/numfmt.h"
#include "platform/stationglobals.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "workflow/station.h"
#include "platform/savefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>

#include <optional>
#include <vector>

namespace lapido::cli {

namespace {

const QString kRenderUsage = QStringLiteral(
    "usage: render LABEL.xml OUT.png|OUT.ppm [--camera sim|none] [--no-overlay] [--zoom-out] [--grid MM]\n"
    "              [--reference X,Y] [--marks MARKS.csv]\n"
    "  Paints one video tick into a 1008 x 820 picture: the camera frame (the simulated camera with\n"
    "  --camera sim, else the dark-grey field) and the overlay with the label. The table stands at\n"
    "  the marking reference (default: the start-up position of the settings). --marks adds the\n"
    "  marks a \"mark\" run left in its marks.csv to the simulated camera's picture.\n"
    "  Exit code: 0 written, 1 file error, 2 usage.");

} // namespace

int cmdRender(const QStringList& args)
{
    QString labelPath, outPath, marksPath;
    bool simulatedCamera = false, overlay = true, zoomOut = false;
    std::optional<double> gridMm;
    std::optional<std::vector<double>> reference;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        const bool hasValue = i + 1 < args.size();
        if (a == QLatin1String("--camera") && hasValue) {
            const QString which = args.at(++i);
            if (which != QLatin1String("sim") && which != QLatin1String("none"))
                return usageError(QStringLiteral("--camera takes sim or none, not \"%1\"").arg(which));
            simulatedCamera = which == QLatin1String("sim");
        } else if (a == QLatin1String("--no-overlay")) {
            overlay = false;
        } else if (a == QLatin1String("--zoom-out")) {
            zoomOut = true;
        } else if (a == QLatin1String("--grid") && hasValue) {
            gridMm = StrToFloatPoint(args.at(++i).toStdString());
            if (!gridMm || !(*gridMm > 0))
                return usageError(QStringLiteral("--grid needs a spacing in mm greater than 0"));
        } else if (a == QLatin1String("--reference") && hasValue) {
            if (!(reference = pointNumbers(args.at(++i), 2)))
                return usageError(QStringLiteral("--reference needs X,Y in mm"));
        } else if (a == QLatin1String("--marks") && hasValue) {
            marksPath = args.at(++i);
        } else if (!a.startsWith(QLatin1String("--")) && labelPath.isEmpty()) {
            labelPath = a;
        } else if (!a.startsWith(QLatin1String("--")) && outPath.isEmpty()) {
            outPath = a;
        } else {
            return usageError(QStringLiteral("unexpected \"%1\"\n").arg(a) + kRenderUsage);
        }
    }
    if (labelPath.isEmpty() || outPath.isEmpty())
        return usageError(kRenderUsage);
    const QString suffix = QFileInfo(outPath).suffix().toLower();
    if (suffix != QLatin1String("png") && suffix != QLatin1String("ppm"))
        return usageError(QStringLiteral("the picture is written as .png or .ppm, not \"%1\"").arg(outPath));
    if (!marksPath.isEmpty() && !simulatedCamera)
        return usageError(QStringLiteral("--marks needs --camera sim"));

    const auto labelBytes = readLabelFile(labelPath);
    if (!labelBytes)
        return 1;

    std::vector<LaserMark> marks;
    if (!marksPath.isEmpty()) {
        QString error;
        auto read = readMarksCsv(marksPath, &error);
        if (!read) {
            err(QStringLiteral("lapidograph-cli: ") + error);
            return 1;
        }
        marks = std::move(*read);
    }

    LoadSettingsFromRegistery();
    TSettings& settings = Settings();
    setLaser(nullptr);

    takeLogoFolder(QFileInfo(labelPath).absoluteDir());
    TStation station;
    if (loadLabel(station, labelPath, *labelBytes) != LabelLoad::Loaded)
        return 1;

    const double refX = reference ? (*reference)[0] : settings.StartUp_X;
    const double refY = reference ? (*reference)[1] : settings.StartUp_Y;
    station.AxisPosition_X = station.MarkingReference_X = refX;
    station.AxisPosition_Y = station.MarkingReference_Y = refY;
    station.AxisPosition_Z = station.MarkingReference_Z = settings.StartUp_Z;
    station.SetAIMSState(TAIMState::aimsAligning);
    station.ShowOverlay = overlay;
    station.ZoomOut = zoomOut;
    station.ShowGrid = gridMm.has_value();
    if (gridMm)
        station.GridPitch = *gridMm;

    TVideoTransform camera;
    camera.UpdateVideoTransform(settings, zoomOut);
    std::optional<ScopedSimulatedCamera> scene;
    std::unique_ptr<TuEye> uEye;
    if (simulatedCamera) {
        SimulatedCameraOptions options = simulatedCameraOptions();
        options.tableMm = TCoord{refX, refY};
        options.girdleCentreYMm = refY;
        options.extraMarks = std::move(marks);
        scene.emplace(options);
        uEye = std::make_unique<TuEye>(UEyeLibrary::simulated());
    }

    QImage buffer(kVideoBufferWidth, kVideoBufferHeight, QImage::Format_RGB32);
    VideoTimerTick(buffer, uEye.get(), station, camera, settings);

    const QString why = writeWholeFile(outPath, [&](QIODevice& device, QString* error) {
        QImageWriter writer(&device, suffix.toLatin1());
        const bool ok = writer.write(buffer.convertToFormat(QImage::Format_RGB32));
        if (!ok)
            *error = writer.errorString();
        return ok;
    });
    if (!why.isEmpty()) {
        err(QStringLiteral("lapidograph-cli: ") + why);
        return 1;
    }
    out(QStringLiteral("picture: %1").arg(QFileInfo(outPath).absoluteFilePath()));
    return 0;
}

} // namespace lapido::cli
