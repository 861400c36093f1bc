// A GenICam camera (GigE Vision, USB3 Vision) through Aravis: opened by name, its exposure,
// gain, pixel format and frame rate set through GenICam features, frames taken from its stream.
#pragma once

#include "camera/framesource.h"

#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace lapido {

// What to open and how to set it up. Unset values are left as the camera has them.
struct GenICamOptions {
    QString name; // empty: the first camera found
    std::optional<double> exposureUs;
    std::optional<double> gain;
    std::optional<double> frameRateHz;
    QString pixelFormat; // a GenICam name ("Mono8", "BayerRG8", "RGB8")
    std::optional<QSize> size;
    // Frames in the stream's pool: the camera fills one while the picture reads another.
    int buffers = 4;
    // A camera that sends nothing for this long while acquiring counts as lost.
    int silenceMs = 5000;
    bool operator==(const GenICamOptions&) const = default;
};

// "NAME[,exposure=US][,gain=G][,fps=HZ][,format=NAME][,size=WxH]": the parameter of a GenICam
// camera in the settings and on the command line. Nullopt, with the reason, when it is malformed.
std::optional<GenICamOptions> parseGenICamParameter(const QString& text, QString* why = nullptr);

// A GenICam camera as the camera layer's frame source.
class GenICamCameraSource : public FrameSource {
public:
    // What the camera reports of itself once started, to check that features took effect.
    struct Readback {
        double exposureUs = 0;
        double gain = 0;
        double frameRateHz = 0;
        QString pixelFormat;
        QSize size;
    };
    virtual Readback readback() const = 0;
    // The camera's control link drops (as Aravis reports an unplugged camera).
    virtual void simulateControlLost() = 0;
};

std::unique_ptr<GenICamCameraSource> makeGenICamCameraSource(const GenICamOptions& options);

// The GenICam cameras present ("vendor model (id)"); Aravis's fake camera appears only after
// enableGenICamFakeCamera.
QStringList listGenICamCameras();
// Leaves Aravis's own simulated camera ("Fake_1") as the only GenICam camera, for tests and
// demonstrations: the network (GigE Vision, found by broadcast) and USB3 Vision are not searched.
void enableGenICamFakeCamera();

} // namespace lapido
