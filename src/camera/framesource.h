// Cameras that deliver whole frames on their own (a GStreamer pipeline, a GenICam camera), shown
// to TuEye as a camera library so that the picture, snapshots and the lost-camera path stay one.
#pragma once

#include <QString>

#include <optional>

namespace lapido {

// Which picture controls a camera has; the window disables the others.
struct CameraControls {
    bool brightness = true;
    bool contrast = true;
    bool gain = true; // automatic gain
    bool operator==(const CameraControls&) const = default;
};

// A frame as the station's picture takes it: 8 (grey), 15, 16, 24 or 32 bits a pixel in the
// byte order of the vendor library (24: B, G, R; 32: B, G, R, unused).
struct SourceFrameFormat {
    int width = 0;
    int height = 0;
    int bits = 0;
    bool monochrome = false;
    bool operator==(const SourceFrameFormat&) const = default;
};

class FrameSource {
public:
    virtual ~FrameSource() = default;

    // What the source is, for messages ("GStreamer pipeline ...").
    virtual QString name() const = 0;
    // Starts the camera and waits for its first frame; false with the reason.
    virtual bool start(QString* why) = 0;
    virtual void stop() = 0;
    // The frames' size and depth, known once started.
    virtual SourceFrameFormat format() const = 0;

    enum class Fetch { NewFrame, NoNewFrame, Lost };
    // Copies the newest frame that came since the last call into dst (format()'s size and depth,
    // pitch bytes a line): the only copy between the camera's buffer and the picture memory.
    // Lost when the camera is gone (ended, unplugged, failing); lostReason() then says why.
    virtual Fetch fetch(char* dst, int pitch) = 0;
    virtual QString lostReason() const = 0;

    virtual CameraControls controls() const = 0;
    // Levels from 0 to 1 over the control's own range; ignored where the control is missing.
    virtual void setBrightness(double level) = 0;
    virtual void setContrast(double level) = 0;
    virtual void setAutoGain(bool on) = 0;
};

} // namespace lapido
