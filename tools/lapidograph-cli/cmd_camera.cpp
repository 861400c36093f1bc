// lapidograph-cli camera: the cameras present on this computer, and one frame of a camera into a
// picture file, to try a camera before the station uses it.
#include "cliio.h"
#include "commands.h"

#include "camera/camerachoice.h"
#include "camera/genicamcamera.h"
#include "camera/simcamera.h"
#include "platform/savefile.h"
#include "platform/stationglobals.h"
#include "settings/settingsrecord.h"

#include <QFileInfo>
#include <QImageWriter>

#include <optional>

namespace lapido::cli {

namespace {

const QString kCameraUsage = QStringLiteral(
    "usage: camera list [--genicam-fake]\n"
    "       camera grab --source SOURCE --out FILE.png [--genicam-fake]\n"
    "  list: the V4L2 capture devices, the GenICam cameras and the vendor camera library, each\n"
    "  with the SOURCE that selects it.\n"
    "  grab: one frame of SOURCE into a PNG file, in the camera's own size. SOURCE is\n"
    "  gst:PIPELINE (a GStreamer pipeline without its appsink, e.g. \"gst:v4l2src device=/dev/video0\"),\n"
    "  genicam:NAME[,exposure=US][,gain=G][,fps=HZ][,format=PIXELFORMAT][,size=WxH], vendor or sim.\n"
    "  --genicam-fake leaves Aravis's simulated GenICam camera (Fake_1) as the only GenICam camera\n"
    "  (the network and USB are not searched).\n"
    "  Exit code: 0 done, 1 no frame (the reason is printed), 2 usage.");

int cameraList(bool fake)
{
    if (fake)
        enableGenICamFakeCamera();
    for (const PresentCamera& c : listPresentCameras()) {
        QString line = QStringLiteral("%1\t%2").arg(c.kind, c.description);
        if (!c.source.isEmpty())
            line += QStringLiteral("\t--source \"%1\"").arg(c.source);
        out(line);
    }
    return 0;
}

int cameraGrab(const QString& sourceText, const QString& outPath, bool fake)
{
    QString why;
    const auto choice = parseCameraSource(sourceText, &why);
    if (!choice)
        return usageError(why);
    if (QFileInfo(outPath).suffix().toLower() != QLatin1String("png"))
        return usageError(QStringLiteral("the frame is written as .png, not \"%1\"").arg(outPath));
    if (fake)
        enableGenICamFakeCamera();
    LoadSettingsFromRegistery();
    // The simulated camera films the stone where the station presents it.
    std::optional<ScopedSimulatedCamera> scene;
    if (choice->kind == CameraKind::Simulated) {
        SimulatedCameraOptions options = simulatedCameraOptions();
        options.tableMm = TCoord{Settings().StartUp_X, Settings().StartUp_Y};
        options.girdleCentreYMm = Settings().StartUp_Y;
        scene.emplace(options);
    }
    const CameraGrab grab = grabCameraFrame(*choice);
    if (grab.frame.isNull()) {
        err(QStringLiteral("lapidograph-cli: no frame from %1: %2").arg(sourceText, grab.why));
        return 1;
    }
    const QString failed = writeWholeFile(outPath, [&](QIODevice& device, QString* error) {
        QImageWriter writer(&device, "png");
        const bool ok = writer.write(grab.frame);
        if (!ok)
            *error = writer.errorString();
        return ok;
    });
    if (!failed.isEmpty()) {
        err(QStringLiteral("lapidograph-cli: ") + failed);
        return 1;
    }
    out(QStringLiteral("frame: %1 x %2, %3").arg(grab.frame.width()).arg(grab.frame.height()).arg(QFileInfo(outPath).absoluteFilePath()));
    return 0;
}

} // namespace

int cmdCamera(const QStringList& args)
{
    const QString what = args.value(0);
    QString source, outPath;
    bool fake = false;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args.at(i);
        const bool hasValue = i + 1 < args.size();
        if (a == QLatin1String("--source") && hasValue)
            source = args.at(++i);
        else if (a == QLatin1String("--out") && hasValue)
            outPath = args.at(++i);
        else if (a == QLatin1String("--genicam-fake"))
            fake = true;
        else
            return usageError(QStringLiteral("unexpected \"%1\"\n").arg(a) + kCameraUsage);
    }
    if (what == QLatin1String("list") && source.isEmpty() && outPath.isEmpty())
        return cameraList(fake);
    if (what == QLatin1String("grab") && !source.isEmpty() && !outPath.isEmpty())
        return cameraGrab(source, outPath, fake);
    return usageError(kCameraUsage);
}

} // namespace lapido::cli
