// The camera-library table over a FrameSource: each source is registered under a camera id that
// is_InitCamera opens, so that TuEye drives it through the same calls as the vendor's camera.
#pragma once

#include "camera/framesource.h"
#include "camera/ueyeapi.h"

#include <memory>

namespace lapido {

// Keeps a source registered under its own camera id while it lives.
class SourceCameraSlot {
public:
    explicit SourceCameraSlot(std::unique_ptr<FrameSource> source);
    ~SourceCameraSlot();
    SourceCameraSlot(const SourceCameraSlot&) = delete;
    SourceCameraSlot& operator=(const SourceCameraSlot&) = delete;

    HIDS id() const { return m_id; }
    QString name() const;
    QString lastError() const;
    CameraControls controls() const;

private:
    HIDS m_id = 0;
};

// The calls, shared by every registered source.
const UEyeApi& sourceCameraApi();

} // namespace lapido
