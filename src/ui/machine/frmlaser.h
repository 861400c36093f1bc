// TfrmLaser: the "Laser system" manual command window; it owns the station's machine object.
#pragma once

#include <QWidget>

#include <memory>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace lapido {

class TLaser;

class TfrmLaser : public QWidget {
    Q_OBJECT
public:
    // Creates the machine object at the stored controller address and publishes it as Laser().
    explicit TfrmLaser(QWidget* parent = nullptr);
    // Takes a machine object made by the caller (tests, or a program that chose the link).
    explicit TfrmLaser(std::unique_ptr<TLaser> laser, QWidget* parent = nullptr);
    ~TfrmLaser() override;

    TLaser& laser() { return *m_laser; }

    // Sends the command field's text through the channel and adds the reply to the memo.
    void EditCommandEnter();
    void TimerOutputsTimer();

    QLineEdit* EditCommand = nullptr;
    QPlainTextEdit* MemoReply = nullptr;
    QProgressBar* ProgressBarBuffer = nullptr;
    QCheckBox* CheckBoxShowDMC = nullptr;
    QPushButton* BitBtnInitialize = nullptr;
    QPushButton* BitBtnServoOn = nullptr;
    QPushButton* BitBtnServoOff = nullptr;
    QPushButton* BitBtnSinglePulse = nullptr;
    QTimer* TimerOutputs = nullptr;

private:
    void build();

    std::unique_ptr<TLaser> m_laser;
};

} // namespace lapido
