// Camera self-calibration: the table moves in known steps under a visible feature, the camera
// measures how far the picture moved, and the camera's scale, aspect, turn against the table
// and cross-hair pixel follow by least squares.
#pragma once

#include <QImage>
#include <QPointF>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <span>

namespace lapido {

class Clock;
class OperatorDialogs;
class SettingsStore;
class TLaser;
class TuEye;
struct TSettings;

// A turn of the camera above this is worth the operator's attention; no setting corrects it.
inline constexpr double kCalibrationRotationWarningDeg = 0.5;

// One observation: the table moved by tableMoveMm and the picture's content moved by shiftPx.
struct CalibrationSample {
    QPointF tableMoveMm;
    QPointF shiftPx;
};

// The camera as measured. Scale and aspect in the units of VideoScale and VideoAspect (pixels
// per mm along X; Y as a percentage of X), the cross hair in picture pixels.
struct CameraCalibration {
    double scalePxPerMm = 0;
    double aspectPercent = 0;
    // Counter-clockwise turn of the table's X axis as the picture shows it.
    double rotationDeg = 0;
    // Root mean square of what the fitted camera leaves unexplained, in µm on the table.
    double residualUm = 0;
    // Picture pixel of the laser spot; none when the test mark was not found.
    std::optional<QPointF> crossHairPx;
    int frames = 0;
    // Machine time the run took, in seconds.
    double machineSeconds = 0;

    bool rotationWarning() const;
    // The settings' values: whole numbers as the record keeps them.
    int videoScale() const;
    int videoAspect() const;
};

// Least-squares fit of scale, aspect and rotation to the samples; the cross hair stays unset.
// Nullopt when the samples do not span both table axes.
std::optional<CameraCalibration> fitCameraCalibration(std::span<const CalibrationSample> samples);

// Displacement of the content of `to` against `from` in pixels (content at p in `from` lies at
// p + shift in `to`), by phase correlation. `response` receives the strength of the peak (0 to
// 1); a weak peak means the picture holds too little texture to follow.
QPointF measureShift(const QImage& from, const QImage& to, double* response = nullptr);

// Centre of the test mark, a compact dark spot much darker than the stone around it, in the
// image's pixels; nullopt when the image shows none.
std::optional<QPointF> findTestMark(const QImage& image);

struct CalibrationOptions {
    // The picture's content moves by about this fraction of the frame's shorter side at the
    // largest steps: large enough for a precise angle, small enough for a wide overlap and
    // short moves (the table accelerates slowly, so each millimetre costs most of a second).
    double stepFraction = 0.12;
    // Where the test mark lies relative to the table's position at the start, in mm; the
    // operator marks a dot and calibrates without moving, so by default it is under the laser.
    QPointF testMarkOffsetMm{0, 0};
};

// Called before each frame with the frames taken so far and the frames planned; false cancels.
using CalibrationProgress = std::function<bool(int done, int total)>;

struct CalibrationOutcome {
    std::optional<CameraCalibration> calibration;
    QString error; // why there is none
};

// Runs the calibration on the machine and the camera: the table returns to where it stood; the
// laser is never switched on. `settings` supplies the first guess of the scale, the picture
// size and the travel limits; it is not changed.
CalibrationOutcome CalibrateCamera(TLaser& laser, TuEye& camera, const TSettings& settings, Clock& clock,
                                   const CalibrationOptions& options = {}, const CalibrationProgress& progress = {});

// The result as lines for the operator, the rotation warning included.
QStringList calibrationReport(const CameraCalibration& calibration);

// Why the result cannot be stored: a value beyond what the settings' Video page takes (scale
// 1 to 100000, aspect 50 to 200 %, cross hair 0 to 768 and 0 to 576), which the page would
// silently clip at the next edit. Nullopt when it can be stored.
std::optional<QString> calibrationStoreError(const CameraCalibration& calibration);

// Writes VideoScale, VideoAspect and the cross hair (when found) into the record and the store
// in one write; nothing else of the record is stored. False, with nothing written, when
// calibrationStoreError has a reason.
bool StoreCameraCalibration(const CameraCalibration& calibration, TSettings& record, SettingsStore& store);

// The service run of the settings window: a wait window with progress and Abort, then the
// result with the question whether to store it (No by default). True when stored; a failure
// is shown as an error.
bool CalibrateCameraAndOfferToStore(TLaser& laser, TuEye& camera, TSettings& record, SettingsStore& store, Clock& clock,
                                    OperatorDialogs& dialogs);

} // namespace lapido
