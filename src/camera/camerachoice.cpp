// The camera choice: settings words, source texts, opening, one frame to try it, what is present.
#include "camera/camerachoice.h"

#include "camera/genicamcamera.h"
#include "camera/gstcamera.h"
#include "camera/ueye.h"
#include "settings/settingskeys.h"

#include <QDir>
#include <QFile>

// Qt defines "signals" as a keyword; GLib uses it as a field name.
#pragma push_macro("signals")
#undef signals
#include <arv.h>
#pragma pop_macro("signals")
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace lapido {

QString cameraKindKey(CameraKind kind)
{
    switch (kind) {
    case CameraKind::GStreamer: return QStringLiteral("gstreamer");
    case CameraKind::GenICam: return QStringLiteral("genicam");
    case CameraKind::Simulated: return QStringLiteral("sim");
    case CameraKind::Vendor: break;
    }
    return QStringLiteral("vendor");
}

std::optional<CameraKind> cameraKindFromKey(const QString& key)
{
    for (CameraKind k : {CameraKind::Vendor, CameraKind::GStreamer, CameraKind::GenICam, CameraKind::Simulated})
        if (key.trimmed().compare(cameraKindKey(k), Qt::CaseInsensitive) == 0)
            return k;
    return std::nullopt;
}

std::optional<CameraChoice> parseCameraSource(const QString& text, QString* why)
{
    const QString t = text.trimmed();
    if (t == QLatin1String("vendor"))
        return CameraChoice{CameraKind::Vendor, {}};
    if (t == QLatin1String("sim"))
        return CameraChoice{CameraKind::Simulated, {}};
    if (t.startsWith(QLatin1String("gst:"))) {
        const QString pipeline = t.mid(4).trimmed();
        if (!pipeline.isEmpty())
            return CameraChoice{CameraKind::GStreamer, pipeline};
        if (why)
            *why = QStringLiteral("gst: needs a pipeline, e.g. gst:videotestsrc");
        return std::nullopt;
    }
    if (t.startsWith(QLatin1String("genicam:"))) {
        const QString parameter = t.mid(8).trimmed();
        QString error;
        if (!parseGenICamParameter(parameter, &error)) {
            if (why)
                *why = error;
            return std::nullopt;
        }
        return CameraChoice{CameraKind::GenICam, parameter};
    }
    if (why)
        *why = QStringLiteral("the source is gst:PIPELINE, genicam:NAME, vendor or sim, not \"%1\"").arg(t);
    return std::nullopt;
}

CameraChoice storedCameraChoice()
{
    CameraChoice c;
    c.kind = cameraKindFromKey(keys::read(keys::CameraKind)).value_or(CameraKind::Vendor);
    if (c.kind == CameraKind::GStreamer)
        c.parameter = keys::read(keys::CameraPipeline);
    else if (c.kind == CameraKind::GenICam)
        c.parameter = keys::read(keys::GenICamCamera);
    return c;
}

void storeCameraChoice(const CameraChoice& choice)
{
    keys::write(keys::CameraKind, cameraKindKey(choice.kind));
    if (choice.kind == CameraKind::GStreamer)
        keys::write(keys::CameraPipeline, choice.parameter);
    else if (choice.kind == CameraKind::GenICam)
        keys::write(keys::GenICamCamera, choice.parameter);
}

std::unique_ptr<UEyeLibrary> openCameraChoice(const CameraChoice& choice, QString* why, const QString& vendorFile)
{
    switch (choice.kind) {
    case CameraKind::Simulated: return UEyeLibrary::simulated();
    case CameraKind::GStreamer: return UEyeLibrary::fromSource(makeGstCameraSource(choice.parameter));
    case CameraKind::GenICam: {
        QString error;
        const auto options = parseGenICamParameter(choice.parameter, &error);
        if (!options) {
            if (why)
                *why = error;
            return nullptr;
        }
        return UEyeLibrary::fromSource(makeGenICamCameraSource(*options));
    }
    case CameraKind::Vendor: break;
    }
    return openCameraLibrary(false, why, vendorFile);
}

CameraGrab grabCameraFrame(const CameraChoice& choice)
{
    CameraGrab grab;
    QString why;
    auto library = openCameraChoice(choice, &why);
    if (!library) {
        grab.why = why.isEmpty() ? QStringLiteral("no camera library") : why;
        return grab;
    }
    const UEyeLibrary* lib = library.get();
    TuEye camera(std::move(library));
    if (!camera.IsPresent()) {
        grab.why = lib->lastError().isEmpty() ? QStringLiteral("the camera cannot be opened") : lib->lastError();
        return grab;
    }
    if (!camera.ImageMemPnt) {
        grab.why = QStringLiteral("the camera has no picture memory");
        return grab;
    }
    QImage frame(camera.fMaxWidth, camera.fMaxHeight, QImage::Format_RGB32);
    // The first tick shows what the opening captured; the second, a frame asked for since.
    camera.Draw(frame, false);
    camera.Draw(frame, false);
    if (!lib->lastError().isEmpty()) {
        grab.why = lib->lastError();
        return grab;
    }
    grab.frame = frame;
    return grab;
}

namespace {

void listV4l2(std::vector<PresentCamera>& found)
{
    const QStringList nodes = QDir(QStringLiteral("/dev")).entryList({QStringLiteral("video*")}, QDir::System, QDir::Name);
    for (const QString& node : nodes) {
        const QString path = QStringLiteral("/dev/") + node;
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK);
        if (fd < 0) {
            found.push_back({QStringLiteral("v4l2"), QStringLiteral("%1: cannot be opened (%2)").arg(path, QString::fromLocal8Bit(strerror(errno))), {}});
            continue;
        }
        v4l2_capability cap{};
        const bool ok = ::ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0;
        ::close(fd);
        if (!ok)
            continue;
        const std::uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
        // Metadata and output nodes of the same camera are left out: they give no picture.
        if (!(caps & (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE)))
            continue;
        found.push_back({QStringLiteral("v4l2"),
                         QStringLiteral("%1 %2").arg(path, QString::fromUtf8(reinterpret_cast<const char*>(cap.card))),
                         QStringLiteral("gst:v4l2src device=%1").arg(path)});
    }
}

} // namespace

std::vector<PresentCamera> listPresentCameras(const QString& vendorFile)
{
    std::vector<PresentCamera> found;
    listV4l2(found);
    arv_update_device_list();
    for (unsigned i = 0, n = arv_get_n_devices(); i < n; ++i) {
        auto text = [](const char* s) { return QString::fromUtf8(s ? s : ""); };
        const QString id = text(arv_get_device_id(i));
        found.push_back({QStringLiteral("genicam"),
                         QStringLiteral("%1: %2 %3").arg(id, text(arv_get_device_vendor(i)), text(arv_get_device_model(i))),
                         QStringLiteral("genicam:") + id});
    }
    QString error;
    bool notFound = false;
    if (auto vendor = UEyeLibrary::load(vendorFile, &error, &notFound))
        found.push_back({QStringLiteral("vendor"), vendor->name(), QStringLiteral("vendor")});
    else
        found.push_back({QStringLiteral("vendor"),
                         notFound ? QStringLiteral("%1 is not installed").arg(vendorFile) : error, {}});
    return found;
}

} // namespace lapido
