// Which camera films the stone: the vendor library, a GStreamer pipeline, a GenICam camera or the
// simulated camera; what is present on this computer; one frame taken to try a choice.
#pragma once

#include "camera/ueyeapi.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace lapido {

enum class CameraKind { Vendor, GStreamer, GenICam, Simulated };

struct CameraChoice {
    CameraKind kind = CameraKind::Vendor;
    // The pipeline description (GStreamer) or the camera parameter (GenICam, genicamcamera.h).
    QString parameter;
    bool operator==(const CameraChoice&) const = default;
};

// The settings' words for the kinds: "vendor", "gstreamer", "genicam", "sim".
QString cameraKindKey(CameraKind kind);
std::optional<CameraKind> cameraKindFromKey(const QString& key);

// "gst:PIPELINE" (without its appsink), "genicam:NAME", "vendor" or "sim": the command line's
// form. Nullopt, with the reason, for anything else.
std::optional<CameraChoice> parseCameraSource(const QString& text, QString* why = nullptr);

// The choice in the settings (Video/CameraKind, CameraPipeline, GenICamCamera); an unknown kind
// reads as the vendor library.
CameraChoice storedCameraChoice();
void storeCameraChoice(const CameraChoice& choice);

// The camera library of a choice. The vendor kind follows the station's rule (openCameraLibrary:
// the vendor library, else the simulated camera when the settings ask for it). Null, with the
// reason, when there is nothing to open; a camera that is there but cannot start is found out
// when it is opened (UEyeLibrary::lastError).
std::unique_ptr<UEyeLibrary> openCameraChoice(const CameraChoice& choice, QString* why = nullptr,
                                              const QString& vendorFile = QString::fromLatin1(kUEyeVendorLibrary));

// One frame of a choice, as the picture copies it (the frame's own size, its own depth), or the
// reason there is none. The camera is opened for the frame and closed again.
struct CameraGrab {
    QImage frame;
    QString why;
};
CameraGrab grabCameraFrame(const CameraChoice& choice);

// What is present: one line per V4L2 capture device ("v4l2 /dev/video0 NAME"), GenICam camera
// ("genicam ID: VENDOR MODEL") and the vendor library ("vendor ..."); each with the source that
// selects it for "camera grab --source".
struct PresentCamera {
    QString kind;        // "v4l2", "genicam", "vendor"
    QString description; // what it is, or why it is not usable
    QString source;      // the --source text, empty when it cannot be used
};
std::vector<PresentCamera> listPresentCameras(const QString& vendorFile = QString::fromLatin1(kUEyeVendorLibrary));

} // namespace lapido
