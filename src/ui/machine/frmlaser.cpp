// The manual command window: raw controller commands, the echo of the station's own commands,
// the vector buffer gauge and the periodic check of the laser's output delays.
#include "ui/machine/frmlaser.h"

#include "machine/laser.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace lapido {

TfrmLaser::TfrmLaser(QWidget* parent) : TfrmLaser(std::make_unique<TLaser>(), parent) {}

TfrmLaser::TfrmLaser(std::unique_ptr<TLaser> laser, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint), m_laser(std::move(laser))
{
    build();
    setLaser(m_laser.get());
    m_laser->setEchoHook([this](EchoLine, const std::string& text) {
        MemoReply->appendPlainText(QString::fromStdString(text));
    });
    m_laser->setBufferGaugeHook([this](int value) { ProgressBarBuffer->setValue(value); });
    // The delayed switch-off of the enable line depends on this check for the whole run.
    TimerOutputs->start();
}

TfrmLaser::~TfrmLaser()
{
    m_laser->setEchoHook({});
    m_laser->setBufferGaugeHook({});
    if (Laser() == m_laser.get())
        setLaser(nullptr);
}

void TfrmLaser::build()
{
    setWindowTitle(QStringLiteral("Laser system"));
    auto* layout = new QVBoxLayout(this);
    EditCommand = new QLineEdit(this);
    MemoReply = new QPlainTextEdit(this);
    MemoReply->setReadOnly(true);
    ProgressBarBuffer = new QProgressBar(this);
    ProgressBarBuffer->setRange(0, 512);
    ProgressBarBuffer->setValue(0);
    ProgressBarBuffer->setFormat(QStringLiteral("LI Buffer"));
    CheckBoxShowDMC = new QCheckBox(QStringLiteral("Show application DMC commands"), this);
    BitBtnInitialize = new QPushButton(QStringLiteral("Initilize"), this);
    BitBtnServoOn = new QPushButton(QStringLiteral("Servo on"), this);
    BitBtnServoOff = new QPushButton(QStringLiteral("Servo off"), this);
    BitBtnSinglePulse = new QPushButton(QStringLiteral("Single Pulse"), this);
    // Enter sends the command; the buttons must not steal it as a default button.
    for (QPushButton* b : {BitBtnInitialize, BitBtnServoOn, BitBtnServoOff, BitBtnSinglePulse})
        b->setAutoDefault(false);

    layout->addWidget(EditCommand);
    layout->addWidget(MemoReply, 1);
    layout->addWidget(ProgressBarBuffer);
    auto* buttons = new QGridLayout;
    buttons->addWidget(BitBtnInitialize, 0, 0);
    buttons->addWidget(BitBtnSinglePulse, 0, 1);
    buttons->addWidget(BitBtnServoOn, 1, 0);
    buttons->addWidget(BitBtnServoOff, 1, 1);
    layout->addLayout(buttons);
    layout->addWidget(CheckBoxShowDMC);

    TimerOutputs = new QTimer(this);
    TimerOutputs->setInterval(500);

    connect(EditCommand, &QLineEdit::returnPressed, this, &TfrmLaser::EditCommandEnter);
    connect(BitBtnInitialize, &QPushButton::clicked, this, [this] { m_laser->Initialize(); });
    connect(BitBtnServoOn, &QPushButton::clicked, this, [this] { m_laser->ServoHere(); });
    connect(BitBtnServoOff, &QPushButton::clicked, this, [this] { m_laser->MotorsOff(); });
    connect(BitBtnSinglePulse, &QPushButton::clicked, this, [this] { m_laser->EmitPulseTrain(1, 100); });
    connect(CheckBoxShowDMC, &QCheckBox::toggled, this, [this](bool on) { m_laser->ShowDMCCmd = on; });
    connect(TimerOutputs, &QTimer::timeout, this, &TfrmLaser::TimerOutputsTimer);
}

void TfrmLaser::EditCommandEnter()
{
    // The command above its answer, and a refusal with the controller's reason: a bare empty
    // reply would not tell a refused command from one that answers nothing.
    const QString command = EditCommand->text();
    MemoReply->appendPlainText(QStringLiteral("> ") + command);
    TDMC& channel = m_laser->channel();
    const std::string reply = channel.CommandReply(command.toStdString());
    if (!reply.empty())
        MemoReply->appendPlainText(QString::fromStdString(reply));
    if (const std::string why = channel.LastError(); !why.empty())
        MemoReply->appendPlainText(QStringLiteral("Refused: ") + QString::fromStdString(why));
    EditCommand->clear();
}

void TfrmLaser::TimerOutputsTimer()
{
    m_laser->CheckTimers();
}

} // namespace lapido
