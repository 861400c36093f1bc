// A frame of the simulated camera for the inspection after a run.
#include "camera/inspectionpicture.h"

#include "camera/simcamera.h"
#include "camera/ueye.h"
#include "settings/settingsrecord.h"

namespace lapido {

SimulatedOptics inspectionOptics(const TSettings& settings, const SimulatedInspectionCamera& camera)
{
    SimulatedOptics optics;
    optics.scalePxPerMm = settings.VideoScale;
    optics.aspectPercent = settings.VideoAspect;
    optics.crossHairPx = QPointF(settings.CrossHairX, settings.CrossHairY);
    optics.noiseGreyLevels = camera.noiseGreyLevels;
    optics.noiseSeed = camera.noiseSeed;
    return optics;
}

QImage simulatedInspectionPicture(const TSettings& settings, const TCoord& tableMm, double girdleCentreYMm,
                                  std::vector<LaserMark> marks, const SimulatedInspectionCamera& camera)
{
    SimulatedCameraOptions options;
    options.sensorWidth = camera.sensor.width();
    options.sensorHeight = camera.sensor.height();
    options.tableMm = tableMm;
    options.girdleCentreYMm = girdleCentreYMm;
    options.extraMarks = std::move(marks);
    options.markDefocus = camera.defocus;
    options.optics = inspectionOptics(settings, camera);
    const ScopedSimulatedCamera scene(options);
    TuEye eye(UEyeLibrary::simulated());
    if (!eye.IsPresent())
        return {};
    QImage picture(camera.picture, QImage::Format_RGB32);
    // The first copy holds the frame filmed when the camera opened; the second the scene now.
    eye.Draw(picture, false);
    eye.Draw(picture, false);
    return picture;
}

} // namespace lapido
