// TInspectionOverlay: the main window's part of the inspection after a run: the camera picture
// handed to the station, the simulated machine's faults armed from the settings, and each
// glyph drawn green or red with its reason over the live picture, the text read back beside it.
#pragma once

#include <QImage>

#include <functional>

namespace lapido {

class TStation;
class TuEye;
class TVideoTransform;

class TInspectionOverlay {
public:
    // camera: the window's camera at the moment of asking (the window may replace it).
    TInspectionOverlay(TStation& station, std::function<TuEye*()> camera);

    // Called at every video tick: draws the last run's inspection until the holder is freed.
    void paint(QImage& buffer, const TVideoTransform& view) const;

private:
    QImage picture() const;

    TStation& m_station;
    std::function<TuEye*()> m_camera;
};

} // namespace lapido
