// TPreviewSwitch: the main window's "Preview" switch, the estimated time beside it and the
// preview's marks over the live picture, recomputed when the label changes.
#pragma once

#include "camera/videooverlay.h"
#include "workflow/markingpreview.h"

#include <QObject>
#include <QString>

#include <functional>

class QCheckBox;
class QImage;
class QLabel;
class QTimer;
class QWidget;

namespace lapido {

class TStation;

class TPreviewSwitch : public QObject {
    Q_OBJECT

public:
    // mayRehearse: false while the machine is inside an operation (a wait that lets window
    // events through), when no preview may borrow the station's services.
    TPreviewSwitch(TStation& station, std::function<bool()> mayRehearse, QWidget* parent);

    QCheckBox* switchBox() const { return m_switch; }
    QLabel* timeLabel() const { return m_time; }
    bool isOn() const;
    // Called at every video tick: notes a changed label (the rehearsal follows a moment later,
    // not at every keystroke, whether the switch is on or not, so that Engrave finds it made)
    // and paints the marks when the switch is on. What it compares at each tick is the label's
    // revision and a few numbers, whatever the label's size.
    void paint(QImage& buffer, const TVideoTransform& camera);
    // Rehearses the label now (the switch turned on, the label settled, tests).
    void recompute();
    const TMarkingPreview& preview() const { return m_preview; }
    // How many previews were computed since the window opened.
    int computeCount() const { return m_computes; }
    // A change of the label was seen and its preview follows once the editing settles.
    bool changePending() const;

private:
    void toggled(bool on);

    TStation& m_station;
    std::function<bool()> m_mayRehearse;
    QCheckBox* m_switch = nullptr;
    QLabel* m_time = nullptr;
    QTimer* m_settle = nullptr;
    TPreviewInputs m_inputs;
    TMarkingPreview m_preview;
    int m_computes = 0;
    TMarksLayer m_marksLayer; // the marks as placed over the picture, placed again when they move
};

} // namespace lapido
