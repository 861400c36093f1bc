// TfrmTestMotion: the "Test Motion" window that moves one axis with the motion values being edited.
#pragma once

#include "machine/motiontest.h"

#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace lapido {

class TfrmTestMotion : public QWidget {
    Q_OBJECT
public:
    explicit TfrmTestMotion(QWidget* parent = nullptr);

    // The distance a move uses: the last valid value of the distance field.
    double testDistance() const { return m_distance; }
    TestAxis selectedAxis() const;
    // Runs the distance check on the field's text.
    void EditDistanceChange();
    // The profile split of the selected axis's settings over the test distance.
    void TimerProfileTimer();
    void Move(TestMove move);
    void BitBtnStopClick();

    QComboBox* ComboBoxAxis = nullptr;
    QLineEdit* EditDistance = nullptr;
    QLineEdit* EditAccelDistance = nullptr;
    QLineEdit* EditConstDistance = nullptr;
    QLineEdit* EditDecelDistance = nullptr;
    QLabel* LabelMaxSpeed = nullptr;
    QPushButton* BitBtnMoveLeft = nullptr;
    QPushButton* BitBtnMoveRight = nullptr;
    QPushButton* BitBtnLoop = nullptr;
    QPushButton* BitBtnStop = nullptr;
    QTimer* TimerProfile = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void setMoveControlsEnabled(bool enabled);
    static void stopMachine();

    double m_distance = 1.0;
    bool m_stopRequested = false;
    bool m_moving = false;
};

} // namespace lapido
