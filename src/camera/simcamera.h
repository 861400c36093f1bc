// The simulated camera: a camera library that films the stone under the simulated table, with
// its girdle band, a surface texture and every laser mark made so far.
#pragma once

#include "camera/ueyeapi.h"
#include "geometry/xytransform.h"
#include "sim/dmcsimulator.h"

#include <QPointF>
#include <QSize>

#include <cstdint>
#include <optional>
#include <vector>

namespace lapido {

// The camera's own optics, whatever the settings record believes: how many pixels a millimetre
// of the table spans, how the camera is turned against the table and where in the picture the
// laser spot lies. With these the stone is drawn by sampling a texture that never repeats, at
// sub-pixel positions, so that a calibration can be checked against a known truth.
struct SimulatedOptics {
    double scalePxPerMm = 300;   // along the picture's X
    double aspectPercent = 100;  // Y scale as a percentage of the X scale
    double rotationDeg = 0;      // table X axis seen turned by this angle, counter-clockwise
    QPointF crossHairPx{384, 288}; // picture pixel of the laser spot (the settings' units)
    double noiseGreyLevels = 0;  // standard deviation of the sensor noise, grey levels
    std::uint32_t noiseSeed = 1;
    bool operator==(const SimulatedOptics&) const = default;
};

// A mark on a test piece, for a calibration to find: a dark disc on the stone.
struct SimulatedTestMark {
    TCoord centreMm;
    double radiusMm = 0.02;
};

// What the simulated camera is and what it films. The picture is drawn at the overlay's scale
// (VideoScale, VideoAspect of the settings record) with the laser spot where the cross hair
// shows it, so that the overlay and the picture agree.
struct SimulatedCameraOptions {
    int sensorWidth = 1280;
    int sensorHeight = 1024;
    // 8 (monochrome), 15, 16, 24 or 32. Any other depth is reported as it is and nothing is
    // filmed (a camera handing frames of an unusable depth).
    int bitsPerPixel = 32;
    bool monochrome = false;
    // Faults: no camera at all, a camera refusing its display mode, no image memory.
    bool initFails = false;
    bool configureFails = false;
    bool allocFails = false;
    // Where the table stands in mm; none: the simulated controller's reference position.
    std::optional<TCoord> tableMm;
    // Marks of an earlier run, filmed together with the simulated controller's own.
    std::vector<LaserMark> extraMarks;
    // Machine Y of the girdle's centre line; none: the start-up position's Y, where the stone
    // is presented.
    std::optional<double> girdleCentreYMm;
    // The station's picture, whose centre meets the frame's centre.
    QSize paintArea{1008, 820};
    // None: the picture follows the settings record (VideoScale, VideoAspect, cross hair) with
    // a texture of whole-pixel tiles, as the overlay expects it.
    std::optional<SimulatedOptics> optics;
    // Filmed only through explicit optics.
    std::optional<SimulatedTestMark> testMark;
    // A laser out of focus: every mark is this many times wider than the spot and as many
    // times fainter (the pulse's energy spread over the larger disc). 1: in focus.
    double markDefocus = 1;
};

void setSimulatedCameraOptions(const SimulatedCameraOptions& options);
// The open cameras vanish (a cable pulled, the library failing): every call on them fails
// until the fault is lifted. ScopedSimulatedCamera lifts it when it ends.
void setSimulatedCameraLost(bool lost);
SimulatedCameraOptions simulatedCameraOptions();

// Installs options for the lifetime of the object (tests), then restores the previous ones.
class ScopedSimulatedCamera {
public:
    explicit ScopedSimulatedCamera(const SimulatedCameraOptions& options);
    ~ScopedSimulatedCamera();
    ScopedSimulatedCamera(const ScopedSimulatedCamera&) = delete;
    ScopedSimulatedCamera& operator=(const ScopedSimulatedCamera&) = delete;

private:
    SimulatedCameraOptions m_previous;
};

// The table of the simulated camera library.
const UEyeApi& simulatedCameraApi();

// Reads the marks of an earlier run from the CSV the simulated controller writes
// ("x_mm,y_mm,z_mm,time_us,kind"). Nullopt, with the reason, when the file is not such a list.
std::optional<std::vector<LaserMark>> readMarksCsv(const QString& path, QString* error = nullptr);

} // namespace lapido
