// A camera given as a GStreamer pipeline description (v4l2src, libcamerasrc, aravissrc, RTSP,
// files): frames taken from its appsink in a depth the picture takes.
#pragma once

#include "camera/framesource.h"

#include <QString>

#include <functional>
#include <memory>

typedef struct _GstElement GstElement;

namespace lapido {

// The description as it is run: one without an appsink gets a converter and an appsink
// appended; one with an appsink is run as written, its appsink held to the depths we take.
QString gstPipelineWithSink(const QString& description);

// The pipeline as a frame source. It starts when the camera is opened and must deliver its
// first frame within startTimeoutMs. Brightness and contrast reach the first element of the
// pipeline with a colour-balance interface (v4l2src, videobalance) where there is one.
// prepared, when given, sees the pipeline once it is built and before it starts (a program
// feeding an appsrc of its own finds it there by name).
using GstPipelinePrepared = std::function<void(GstElement* pipeline)>;
std::unique_ptr<FrameSource> makeGstCameraSource(const QString& description, int startTimeoutMs = 10000,
                                                 GstPipelinePrepared prepared = {});

// GStreamer itself could be started; false with the reason.
bool gstAvailable(QString* why = nullptr);

} // namespace lapido
