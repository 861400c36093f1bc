// The simulated camera: a camera library that films the stone under the simulated table, with
// its girdle band, a surface texture and every laser mark made so far.
#pragma once

#include "camera/ueyeapi.h"
#include "geometry/xytransform.h"
#include "sim/dmcsimulator.h"

#include <QSize>

#include <optional>
#include <vector>

namespace lapido {

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
};

void setSimulatedCameraOptions(const SimulatedCameraOptions& options);
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
