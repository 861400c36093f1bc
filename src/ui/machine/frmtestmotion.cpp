// The motion test window: the profile display, the distance check and the test moves.
#include "ui/machine/frmtestmotion.h"

#include "machine/laser.h"
#include "platform/operatordialogs.h"
#include "settings/settingsrecord.h"

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace lapido {

TfrmTestMotion::TfrmTestMotion(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(QStringLiteral("Test Motion"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    ComboBoxAxis = new QComboBox(this);
    ComboBoxAxis->addItems({QStringLiteral("X-axis"), QStringLiteral("Y-axis"), QStringLiteral("Z-axis"),
                            QStringLiteral("A-axis")});
    ComboBoxAxis->setCurrentIndex(0);
    EditDistance = new QLineEdit(QStringLiteral("1.0"), this);
    EditAccelDistance = new QLineEdit(this);
    EditConstDistance = new QLineEdit(this);
    EditDecelDistance = new QLineEdit(this);
    for (QLineEdit* e : {EditAccelDistance, EditConstDistance, EditDecelDistance})
        e->setReadOnly(true);
    form->addRow(tr("Axis"), ComboBoxAxis);
    form->addRow(tr("Distance (mm)"), EditDistance);
    form->addRow(tr("Acceleration (mm)"), EditAccelDistance);
    form->addRow(tr("Constant speed (mm)"), EditConstDistance);
    form->addRow(tr("Deceleration (mm)"), EditDecelDistance);
    layout->addLayout(form);
    LabelMaxSpeed = new QLabel(QStringLiteral("maximum speed not reached"), this);
    LabelMaxSpeed->hide();
    layout->addWidget(LabelMaxSpeed);

    auto* buttons = new QHBoxLayout;
    BitBtnMoveLeft = new QPushButton(QStringLiteral("<-  Move"), this);
    BitBtnMoveRight = new QPushButton(QStringLiteral("Move   ->"), this);
    BitBtnLoop = new QPushButton(QStringLiteral("Loop"), this);
    BitBtnStop = new QPushButton(QStringLiteral("Stop"), this);
    BitBtnStop->setEnabled(false);
    for (QPushButton* b : {BitBtnMoveLeft, BitBtnMoveRight, BitBtnLoop, BitBtnStop})
        buttons->addWidget(b);
    layout->addLayout(buttons);

    TimerProfile = new QTimer(this);
    TimerProfile->setInterval(50);
    TimerProfile->start();

    connect(EditDistance, &QLineEdit::textChanged, this, &TfrmTestMotion::EditDistanceChange);
    connect(BitBtnMoveLeft, &QPushButton::clicked, this, [this] { Move(TestMove::Back); });
    connect(BitBtnMoveRight, &QPushButton::clicked, this, [this] { Move(TestMove::Forward); });
    connect(BitBtnLoop, &QPushButton::clicked, this, [this] { Move(TestMove::Loop); });
    connect(BitBtnStop, &QPushButton::clicked, this, &TfrmTestMotion::BitBtnStopClick);
    connect(TimerProfile, &QTimer::timeout, this, &TfrmTestMotion::TimerProfileTimer);
}

TestAxis TfrmTestMotion::selectedAxis() const
{
    switch (ComboBoxAxis->currentIndex()) {
    case 1: return TestAxis::Y;
    case 2: return TestAxis::Z;
    case 3: return TestAxis::A;
    default: return TestAxis::X;
    }
}

void TfrmTestMotion::EditDistanceChange()
{
    const auto value = parseTestDistance(EditDistance->text());
    QPalette palette = EditDistance->palette();
    palette.setColor(QPalette::Text, value ? QApplication::palette(EditDistance).color(QPalette::Text) : QColor(Qt::red));
    EditDistance->setPalette(palette);
    if (value)
        m_distance = *value;
}

void TfrmTestMotion::TimerProfileTimer()
{
    const AxisMotionValues v = settingsAxisValues(Settings(), selectedAxis());
    const auto profile = motionProfile(v.speed, v.accel, v.decel, m_distance);
    auto show = [](QLineEdit* edit, double value) { edit->setText(QString::number(value, 'f', 3)); };
    if (!profile) {
        for (QLineEdit* e : {EditAccelDistance, EditConstDistance, EditDecelDistance})
            e->clear();
        LabelMaxSpeed->hide();
        return;
    }
    show(EditAccelDistance, profile->accelDistance);
    show(EditConstDistance, profile->constDistance);
    show(EditDecelDistance, profile->decelDistance);
    LabelMaxSpeed->setVisible(profile->maxSpeedNotReached);
}

void TfrmTestMotion::setMoveControlsEnabled(bool enabled)
{
    for (QWidget* w : std::initializer_list<QWidget*>{EditDistance, BitBtnMoveLeft, BitBtnMoveRight, BitBtnLoop, ComboBoxAxis})
        w->setEnabled(enabled);
    BitBtnStop->setEnabled(!enabled);
}

void TfrmTestMotion::Move(TestMove move)
{
    TLaser* laser = Laser();
    if (!laser || m_moving)
        return;
    m_moving = true;
    m_stopRequested = false;
    TimerProfile->stop();
    setMoveControlsEnabled(false);
    QString refusal;
    RunTestMove(
        *laser, selectedAxis(), move, m_distance, settingsAxisValues(Settings(), selectedAxis()),
        [this] {
            // Stop is a click; let it arrive between the pairs of a loop.
            QCoreApplication::processEvents();
            return m_stopRequested;
        },
        &refusal);
    setMoveControlsEnabled(true);
    TimerProfile->start();
    m_moving = false;
    if (!refusal.isEmpty())
        operatorDialogs().error(refusal);
}

void TfrmTestMotion::BitBtnStopClick()
{
    // The move under way runs to its end; a loop ends after its pair.
    m_stopRequested = true;
    BitBtnStop->setEnabled(false);
}

void TfrmTestMotion::stopMachine()
{
    if (TLaser* laser = Laser()) {
        laser->Stop();
        laser->WaitOnMotionComplete();
    }
}

void TfrmTestMotion::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    stopMachine();
}

void TfrmTestMotion::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    // A loop left running in a hidden window could never be stopped.
    m_stopRequested = true;
    stopMachine();
}

void TfrmTestMotion::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        EditDistanceChange();
}

} // namespace lapido
