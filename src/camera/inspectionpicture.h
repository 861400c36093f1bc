// The picture the inspection looks at after a run on the simulated machine: the simulated
// camera, with optics the settings know exactly, filming the marks at the marking reference.
#pragma once

#include "camera/simcamera.h"
#include "geometry/xytransform.h"
#include "sim/dmcsimulator.h"

#include <QImage>
#include <QSize>

#include <cstdint>
#include <vector>

namespace lapido {

struct TSettings;

struct SimulatedInspectionCamera {
    // The camera's sensor and the station picture the frame is centred on.
    QSize sensor{1280, 1024};
    QSize picture{1008, 820};
    double defocus = 1;           // marks this many times wider and fainter
    double noiseGreyLevels = 1.5; // the sensor's noise
    std::uint32_t noiseSeed = 1;
};

// The simulated camera's optics as the settings know them (scale, aspect, cross hair) with the
// camera's sensor noise: marks filmed where they lie, to a fraction of a pixel.
SimulatedOptics inspectionOptics(const TSettings& settings, const SimulatedInspectionCamera& camera = {});

// One frame with the table at tableMm (the laser spot over it), the girdle centred on
// girdleCentreYMm and the given marks on the stone, through the simulated camera library.
QImage simulatedInspectionPicture(const TSettings& settings, const TCoord& tableMm, double girdleCentreYMm,
                                  std::vector<LaserMark> marks, const SimulatedInspectionCamera& camera = {});

} // namespace lapido
