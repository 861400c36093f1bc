// TLaser: command strings of start-up, moves, output lines, marking modes and the focus cam.
#include "machine/laser.h"

#include "machine/lasersource.h"
#include "platform/clock.h"
#include "platform/debuglog.h"
#include "platform/eventpump.h"
#include "platform/numfmt.h"
#include "platform/operatordialogs.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace lapido {

namespace {

TLaser* g_laser = nullptr;

constexpr int kBufferSize = 512;
constexpr int kUnderrunFree = 511;
constexpr int kThrottleFree = kBufferSize - 10;

// Segments waiting in the controller's buffer from its free-space answer. A reply from a
// confused link can be any number (RoundHalfEven saturates at the int64 ends), so the answer
// is held to the buffer's size before the subtraction.
int bufferUsed(std::int64_t free)
{
    return kBufferSize - static_cast<int>(std::clamp<std::int64_t>(free, 0, kBufferSize));
}

constexpr std::int64_t kPollMs = 10;
// How often a stalled wait looks at the axis positions to see whether anything still moves.
constexpr std::int64_t kProgressCheckMs = 250;
constexpr std::int64_t kHomingDecel = 67107840;

std::string num(std::int64_t v)
{
    return std::to_string(v);
}

// A position beyond what the controller's 32-bit registers hold is sent as the nearest one it
// can hold; the converted value must never leave the type's range.
std::int32_t roundCounts(double v)
{
    const double r = RoundHalfEven(v);
    if (std::isnan(r))
        return 0;
    return static_cast<std::int32_t>(std::clamp(r, double(std::numeric_limits<std::int32_t>::min()),
                                                double(std::numeric_limits<std::int32_t>::max())));
}

// The next count of a reply. The controller's registers are 32 bits wide, so a number beyond
// them is bytes a disturbed link made up: it reads like any other garbled value, not wrapped
// round into a position somewhere else on the table.
std::int32_t replyCounts(std::string& reply)
{
    const double r = RoundHalfEven(TDMC::SeparateValue(reply));
    if (!(r >= std::numeric_limits<std::int32_t>::min() && r <= std::numeric_limits<std::int32_t>::max()))
        return 0;
    return static_cast<std::int32_t>(r);
}

void emissionOn()
{
    if (auto* source = laserSource())
        source->EmissionOn();
}

void emissionOff()
{
    if (auto* source = laserSource())
        source->EmissionOff();
}

// A three-axis command ("SP ", "AC ", "DC ") of counts, each rounded half to even.
std::string axesCommand(const char* command, double x, double y, double z)
{
    return std::string(command) + num(RoundHalfEven(x)) + "," + num(RoundHalfEven(y)) + "," + num(RoundHalfEven(z));
}

} // namespace

std::optional<QString> motionValuesError(const MotionValues& m)
{
    struct Named {
        const char* name;
        double value;
    };
    const Named values[] = {
        {"XY_CountsPerMM", m.xyCountsPerMm},
        {"Z_CountsPerMM", m.zCountsPerMm},
        {"X_Speed", m.xSpeed},
        {"X_Accel", m.xAccel},
        {"X_Decel", m.xDecel},
        {"Y_Speed", m.ySpeed},
        {"Y_Accel", m.yAccel},
        {"Y_Decel", m.yDecel},
        {"Z_Speed", m.zSpeed},
        {"Z_Accel", m.zAccel},
        {"Z_Decel", m.zDecel},
        {"MarkingSpeed", m.vectorHiSpeed},
        {"PhotoSpeed", m.vectorPhotoSpeed},
        {"LinearAccel", m.vectorAccel},
        {"LinearDecel", m.vectorDecel},
        {"PulseDistance", m.pulseDistance},
        // The counts the commands carry must fit the controller's 32-bit fields.
        {"X speed in counts", m.xyCountsPerMm * m.xSpeed},
        {"X acceleration in counts", m.xyCountsPerMm * m.xAccel},
        {"X deceleration in counts", m.xyCountsPerMm * m.xDecel},
        {"Y speed in counts", m.xyCountsPerMm * m.ySpeed},
        {"Y acceleration in counts", m.xyCountsPerMm * m.yAccel},
        {"Y deceleration in counts", m.xyCountsPerMm * m.yDecel},
        {"Z speed in counts", m.zCountsPerMm * m.zSpeed},
        {"Z acceleration in counts", m.zCountsPerMm * m.zAccel},
        {"Z deceleration in counts", m.zCountsPerMm * m.zDecel},
        {"marking speed in counts", m.xyCountsPerMm * m.vectorHiSpeed},
        {"photo speed in counts", m.xyCountsPerMm * m.vectorPhotoSpeed},
        {"contour acceleration in counts", m.xyCountsPerMm * m.vectorAccel},
        {"contour deceleration in counts", m.xyCountsPerMm * m.vectorDecel},
    };
    constexpr double kMaxCounts = std::numeric_limits<std::int32_t>::max();
    for (const auto& v : values) {
        if (!(v.value > 0) || !std::isfinite(v.value))
            return QStringLiteral("%1 must be greater than 0 (it is %2)").arg(QLatin1String(v.name), FloatToStr(v.value));
        if (v.value > kMaxCounts)
            return QStringLiteral("%1 is out of range (%2)").arg(QLatin1String(v.name), FloatToStr(v.value));
    }
    return std::nullopt;
}

QString markingProblemText()
{
    return QStringLiteral("There was a buffer underrun during marking.\n"
                          "Adjust one or more of the following settings:\n"
                          "\n"
                          "   1) Increase the Contour Angular resolution\n"
                          "   2) Reduce the marking speed\n"
                          "   3) Reduce the contouring acceleration and \n"
                          "        deceleration");
}

TLaser* Laser()
{
    return g_laser;
}

void setLaser(TLaser* laser)
{
    g_laser = laser;
}

// Watches a wait for progress: a changing indicator (buffer free count) or moving axes.
class TLaser::Guard {
public:
    Guard(TLaser& laser, QString what)
        : m_laser(laser), m_what(std::move(what)), m_lastChange(systemClock().tickMs()), m_lastCheck(m_lastChange)
    {
    }

    // False when the wait must end; the machine is then in its safe state.
    bool proceed(double indicator)
    {
        const std::int64_t now = systemClock().tickMs();
        if (!m_indicator || *m_indicator != indicator) {
            m_indicator = indicator;
            m_lastChange = now;
            return true;
        }
        if (now - m_lastCheck >= kProgressCheckMs || now - m_lastChange >= m_laser.m_guardMs) {
            m_lastCheck = now;
            const auto positions = m_laser.readPositions();
            if (!positions)
                return linkLost();
            if (!m_positions || *m_positions != *positions) {
                m_positions = positions;
                m_lastChange = now;
                return true;
            }
        }
        if (now - m_lastChange >= m_laser.m_guardMs) {
            m_laser.enterSafeState(m_what + QStringLiteral(": nothing progressed for ")
                                   + QString::number(m_laser.m_guardMs) + QStringLiteral(" ms"));
            return false;
        }
        return true;
    }

    bool linkLost()
    {
        m_laser.enterSafeState(m_what + QStringLiteral(": no reply from the controller (link lost)"));
        return false;
    }

private:
    TLaser& m_laser;
    QString m_what;
    std::optional<double> m_indicator;
    std::optional<std::array<std::int64_t, 4>> m_positions;
    std::int64_t m_lastChange;
    std::int64_t m_lastCheck;
};

TLaser::TLaser() : DMC(std::make_unique<TDMC>())
{
    create();
}

TLaser::TLaser(std::unique_ptr<TDMC> dmc) : DMC(std::move(dmc))
{
    create();
}

void TLaser::create()
{
    HardwareFound = DMC->Connected();
    ShowDMCCmd = false;
    const int guard = keys::read(keys::MachineGuardTime);
    m_guardMs = guard > 0 ? guard : keys::MachineGuardTime.defaultValue;
    if (!HardwareFound) {
        operatorDialogs().message(
            DialogKind::Error, QStringLiteral("Error"),
            QStringLiteral("No hardware detected! please make sure the power is on and restart Lapidograph."), {});
        m_terminateRequested = true;
        // The program ends once control is back in the event loop, as creation continues.
        if (auto* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(app, [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
    }
    EnableOnDelay = keys::read(keys::EnableOnDelaySeconds);
    EnableOffDelay = 0;
    SystemOnDelay = 0;
    TimerEnableOn = std::make_unique<TTickTimer>(QStringLiteral("Enabling laser system"), 0);
    TimerEnableOff = std::make_unique<TTickTimer>(QStringLiteral("Disabling laser system"), 0);
    TimerSystemOn = std::make_unique<TTickTimer>(QStringLiteral("Starting up laser system"), 0);
    // A controller apart from the station outlives it: its own program keeps the laser safe.
    if (HardwareFound && DMC->transport().isRemote())
        m_watchdog = std::make_unique<LaserWatchdog>(*DMC);
}

TLaser::~TLaser()
{
    ShutDown();
    m_watchdog.reset();
    TimerEnableOn.reset();
    TimerEnableOff.reset();
    TimerSystemOn.reset();
    DMC.reset();
    if (g_laser == this)
        g_laser = nullptr;
}

// ---------------------------------------------------------------- conversions and sending

std::int32_t TLaser::xyCounts(double mmValue, bool reversed) const
{
    const std::int32_t c = roundCounts(mmValue * XY_CountsPerMM);
    return reversed ? -c : c;
}

std::int32_t TLaser::zCounts(double mmValue) const
{
    const std::int32_t c = roundCounts(mmValue * Z_CountsPerMM);
    return Z_Reversed ? -c : c;
}

double TLaser::mm(std::int32_t counts, std::int32_t countsPerUnit, bool reversed) const
{
    // Before the settings are applied there is no scale; report 0 rather than divide by it.
    if (countsPerUnit == 0)
        return 0;
    return counts * (reversed ? -1.0 : 1.0) / countsPerUnit;
}

std::string TLaser::DMCCmd(std::string_view St)
{
    if (!HardwareFound || St.empty())
        return {};
    if (ShowDMCCmd && m_echo)
        m_echo(EchoLine::Command, std::string(St));
    if (m_watchdog && m_watchdog->isArmed()) {
        noticeWatchdogTrip();
        const std::string_view line = trimmedAscii(St);
        const bool single = line.find(';') == std::string_view::npos;
        const std::string_view head = line.substr(0, 2);
        bool announce = true;
        if (single && (head == "MC" || head == "AM" || head == "mc" || head == "am")) {
            // A motion-complete wait holds the interpreter for the whole move, and no heartbeat
            // passes meanwhile: the station watches the move itself, beating as it polls, and
            // sends the wait once only the last samples of the move remain, which need no
            // stretched heartbeat.
            if (!WaitOnMotionComplete())
                return {};
            announce = false;
        } else if (single && (head == "WT" || head == "wt")) {
            const std::int64_t ms = RoundHalfEven(StrToFloatPoint(trimmedAscii(line.substr(2))).value_or(0));
            if (ms > LaserWatchdog::kMaxHoldMs) {
                // In pieces, each short enough that a station dying inside it still leaves the
                // laser off within a second; the heartbeat goes between them.
                std::string reply;
                for (std::int64_t left = ms; left > 0; left -= LaserWatchdog::kMaxHoldMs)
                    reply = DMCCmd("WT" + num(std::min<std::int64_t>(left, LaserWatchdog::kMaxHoldMs)));
                return reply;
            }
        }
        if (announce)
            announceHold(St);
    }
    std::string reply = DMC->CommandReply(St);
    if (ShowDMCCmd && m_echo)
        m_echo(EchoLine::Reply, reply);
    return reply;
}

// A status reply is a number; anything else (nothing, or bytes a disturbed link made up) is
// no answer, so a garbled controller stops the run like a silent one instead of reading as 0.
static std::optional<double> statusNumber(std::string_view reply)
{
    std::string_view first = reply.substr(0, reply.find_first_of(",\r\n"));
    return StrToFloatPoint(trimmedAscii(first));
}

std::optional<double> TLaser::readStatus(std::string_view command)
{
    return statusNumber(DMC->CommandReply(command));
}

bool TLaser::axisMoving(std::string_view command)
{
    if (!HardwareFound)
        return false;
    return RoundHalfEven(readStatus(command).value_or(0)) != 0;
}

std::optional<bool> TLaser::isMovingChecked()
{
    if (!HardwareFound)
        return false;
    // Only the first query tells a lost link: "MG _BGE" is refused (empty) on a four-axis
    // controller that is perfectly alive.
    const auto s = readStatus("MG _BGS");
    if (!s)
        return std::nullopt;
    if (RoundHalfEven(*s) != 0)
        return true;
    for (const char* q : {"MG _BGX", "MG _BGY", "MG _BGZ", "MG _BGD", "MG _BGE"})
        if (axisMoving(q))
            return true;
    return false;
}

std::optional<std::array<std::int64_t, 4>> TLaser::readPositions()
{
    const std::string reply = DMC->CommandReply("RPXYZW");
    std::array<std::int64_t, 4> p{};
    std::string_view rest = reply;
    for (auto& v : p) {
        const auto value = statusNumber(rest);
        if (!value)
            return std::nullopt;
        v = RoundHalfEven(*value);
        const auto comma = rest.find(',');
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    return p;
}

void TLaser::pause(int ms)
{
    if (ms > 0)
        systemClock().sleepMs(ms);
}

void TLaser::setGauge(int value)
{
    m_bufferGauge = value;
    if (m_gaugeHook)
        m_gaugeHook(value);
}

void TLaser::enterSafeState(const QString& reason)
{
    // The first reason is the stop's: what later waits meet on a stopped machine (a lost link
    // seen again) is logged, while the operator and the run's result keep the first one. A stop
    // under an armed watchdog may be what its trip left behind (motion stopped, a begin
    // refused): the trip is then the reason the operator must hear.
    if (!m_sequenceFaulted && m_watchdog && m_watchdog->isArmed()
        && (m_watchdog->tripSeen() || m_watchdog->askTripped())) {
        m_watchdogTripped = true;
        m_lastError = watchdogTripText();
    } else if (!m_sequenceFaulted || m_lastError.isEmpty()) {
        m_lastError = reason;
    }
    m_sequenceFaulted = true;
    LogDebug(QStringLiteral("Machine stopped: ") + reason);
    DMCCmd("ST SXYZW");
    CloseGate();
    DMCCmd("GRW=0");
    emissionOff();
    EnableOffImmediate();
    LIXYIsStopped = true;
    setGauge(0);
}

// ---------------------------------------------------------------- start-up and set-up

void TLaser::Initialize()
{
    if (HardwareFound) {
        if (auto error = motionFieldsError()) {
            m_lastError = QStringLiteral("Motion settings refused: ") + *error;
            LogDebug(m_lastError);
            operatorDialogs().error(m_lastError);
            return;
        }
    }
    DMCCmd("MG _BGX");
    if (HardwareFound) {
        Reset();
        CloseGate();
        m_enableOffConfirmed = acknowledged(InvertShutter ? "SB2;SB4;SB5" : "CB2;CB4;CB5");
        DMCCmd(InvertSystem ? "SB3;SB6;SB7" : "CB3;CB6;CB7");
        SystemOn();
        DMCCmd("MT -2,-2,-2,-2");
        ApplyLowCurrentMode();
        DMCCmd("CE 3");
        SetMotionParams();
        ServoHere();
        bool home = !m_switches.noHoming;
        if (home && m_switches.debugMode) {
            const DialogButton buttons[] = {{DialogResult::Yes, {}, true}, {DialogResult::No, {}, false}};
            home = operatorDialogs().message(DialogKind::Confirmation, QStringLiteral("Confirm"),
                                             QStringLiteral("Do Homing?"), buttons)
                == DialogResult::Yes;
        }
        if (home) {
            DMCCmd("DC " + num(kHomingDecel) + "," + num(kHomingDecel) + "," + num(kHomingDecel));
            DMCCmd("HM");
            DMCCmd(Settings().UseZaxis ? "BGXYZ" : "BGXY");
            if (!WaitOnMotionComplete())
                return;
        }
    }
    if (!HardwareFound)
        return;
    DMCCmd(RawDecelSt);
    TargetX = xyCounts(X_RefPos, X_Reversed);
    TargetY = xyCounts(Y_RefPos, Y_Reversed);
    TargetZ = zCounts(Z_RefPos);
    DMCCmd("DP " + num(TargetX) + "," + num(TargetY) + "," + num(TargetZ));
    DMCCmd("DE " + num(TargetX));
    // A reversed axis counts the other way, so its limits swap and change sign.
    auto lower = [](std::int32_t cpm, bool rev, double minPos, double maxPos) {
        return rev ? -RoundHalfEven(cpm * maxPos) : RoundHalfEven(cpm * minPos);
    };
    auto upper = [](std::int32_t cpm, bool rev, double minPos, double maxPos) {
        return rev ? -RoundHalfEven(cpm * minPos) : RoundHalfEven(cpm * maxPos);
    };
    DMCCmd("BL " + num(lower(XY_CountsPerMM, X_Reversed, X_MinPos, X_MaxPos)) + ","
           + num(lower(XY_CountsPerMM, Y_Reversed, Y_MinPos, Y_MaxPos)) + ","
           + num(lower(Z_CountsPerMM, Z_Reversed, Z_MinPos, Z_MaxPos)));
    DMCCmd("FL " + num(upper(XY_CountsPerMM, X_Reversed, X_MinPos, X_MaxPos)) + ","
           + num(upper(XY_CountsPerMM, Y_Reversed, Y_MinPos, Y_MaxPos)) + ","
           + num(upper(Z_CountsPerMM, Z_Reversed, Z_MinPos, Z_MaxPos)));
    const TSettings& s = Settings();
    MoveTo(s.StartUp_X, s.StartUp_Y, s.StartUp_Z, s.StartUp_A);
    if (!WaitOnMotionComplete())
        return;
    Initialized = true;
}

std::optional<QString> TLaser::motionFieldsError() const
{
    return motionValuesError({
        .xyCountsPerMm = double(XY_CountsPerMM),
        .zCountsPerMm = double(Z_CountsPerMM),
        .xSpeed = X_Speed, .xAccel = X_Accel, .xDecel = X_Decel,
        .ySpeed = Y_Speed, .yAccel = Y_Accel, .yDecel = Y_Decel,
        .zSpeed = Z_Speed, .zAccel = Z_Accel, .zDecel = Z_Decel,
        .vectorHiSpeed = VectorHiSpeed,
        .vectorPhotoSpeed = VectorPhotoSpeed,
        .vectorAccel = VectorAccel,
        .vectorDecel = VectorDecel,
        .pulseDistance = PulseDistance,
    });
}

bool TLaser::SetMotionParams()
{
    if (!HardwareFound)
        return false;
    if (auto error = motionFieldsError()) {
        m_lastError = QStringLiteral("Motion settings refused: ") + *error;
        LogDebug(m_lastError);
        return false;
    }
    // A command the controller refuses is told, not only logged: the first one is the
    // machine's last error and the set-up reports failure once the rest is sent.
    QString refused;
    auto send = [&](const std::string& command) {
        DMCCmd(command);
        if (const std::string why = DMC->LastError(); !why.empty() && refused.isEmpty())
            refused = QStringLiteral("The controller refused \"%1\": %2")
                          .arg(QString::fromStdString(command), QString::fromStdString(why));
    };
    send("STXYZ");
    ApplyLowCurrentMode();
    // The drives' current level only changes with the motors off: the controller refuses AG
    // on a motor that is on. It is sent when the levels change, with the motors that are on
    // switched off for it and on again where they stand.
    const std::array<int, 3> currents{X_Current, Y_Current, Z_Current};
    if (m_currentsSent != currents) {
        bool motorsOn = false;
        for (const char* status : {"MG _MOX", "MG _MOY", "MG _MOZ"})
            motorsOn = motorsOn || readStatus(status).value_or(1) == 0;
        if (motorsOn)
            send("MO");
        const QString before = refused;
        send("AG " + num(X_Current) + "," + num(Y_Current) + "," + num(Z_Current) + ",0");
        if (refused == before)
            m_currentsSent = currents;
        if (motorsOn)
            ServoHere();
    }
    send(InvertLimits ? "CN -1" : "CN 1");
    send(InvertHoming ? "CN ,-1" : "CN ,1");
    send(InvertTrigger ? "MT ,,,2" : "MT ,,,-2");
    RawSpeedSt = axesCommand("SP ", double(XY_CountsPerMM) * X_Speed, double(XY_CountsPerMM) * Y_Speed,
                        double(Z_CountsPerMM) * Z_Speed);
    RawAccelSt = axesCommand("AC ", double(XY_CountsPerMM) * X_Accel, double(XY_CountsPerMM) * Y_Accel,
                        double(Z_CountsPerMM) * Z_Accel);
    RawDecelSt = axesCommand("DC ", double(XY_CountsPerMM) * X_Decel, double(XY_CountsPerMM) * Y_Decel,
                        double(Z_CountsPerMM) * Z_Decel);
    send(RawAccelSt);
    send(RawDecelSt);
    send(RawSpeedSt);
    send("GAW=S");
    send("GMW=1");
    GearRatio = 1000.0 / (XY_CountsPerMM * PulseDistance);
    if (GearRatio > 127)
        GearRatio = 127;
    if (!refused.isEmpty()) {
        m_lastError = refused;
        LogDebug(refused);
        return false;
    }
    return true;
}

void TLaser::ApplyLowCurrentMode()
{
    std::string cmd = keys::read(keys::XAxesLowCurrentMode) ? "LC 1" : "LC 0";
    cmd += keys::read(keys::YAxesLowCurrentMode) ? ",1" : ",0";
    cmd += keys::read(keys::ZAxesLowCurrentMode) ? ",1,1" : ",0,1";
    DMCCmd(cmd);
}

void TLaser::ShutDown()
{
    DMCCmd("AB");
    DMCCmd("MO");
    ApplyLowCurrentMode();
    laserOff();
    SystemOff();
}

void TLaser::laserOff()
{
    CloseGate();
    emissionOff();
    EnableOffImmediate();
}

void TLaser::clearGuardStop()
{
    m_sequenceFaulted = false;
}

void TLaser::Reset()
{
    // A reset takes the drives back to their saved current levels.
    m_currentsSent.reset();
    if (HardwareFound)
        DMCCmd("RS");
    if (m_watchdog)
        m_watchdog->forgetProgram();
}

void TLaser::Stop()
{
    if (HardwareFound)
        DMCCmd("ST SXYZW");
}

void TLaser::ServoHere()
{
    if (!HardwareFound)
        return;
    DMCCmd("SH");
    DMCCmd("WT50");
    std::string reply = DMC->CommandReply("RPXYZ");
    TargetX = replyCounts(reply);
    TargetY = replyCounts(reply);
    TargetZ = replyCounts(reply);
}

void TLaser::MotorsOff()
{
    DMCCmd("MO");
}

// ---------------------------------------------------------------- moves

void TLaser::MoveTo(double X, double Y, double Z, double W)
{
    TargetW = roundCounts(A_CountsPerDeg * W);
    MoveTo(X, Y, Z);
}

void TLaser::MoveTo(double X, double Y, double Z)
{
    TargetX = xyCounts(X, X_Reversed);
    TargetY = xyCounts(Y, Y_Reversed);
    TargetZ = zCounts(Z);
    DMCCmd(RawSpeedSt);
    DMCCmd("PA " + num(TargetX) + "," + num(TargetY) + "," + num(TargetZ));
    DMCCmd(Settings().UseZaxis ? "BGXYZ" : "BGXY");
}

void TLaser::MoveTo(double X, double Y)
{
    TargetX = xyCounts(X, X_Reversed);
    TargetY = xyCounts(Y, Y_Reversed);
    DMCCmd(RawSpeedSt);
    DMCCmd("PA " + num(TargetX) + "," + num(TargetY));
    DMCCmd("BGXY");
}

void TLaser::MoveZFastTo(double X, double Y, double Z, int SpeedUpMove)
{
    TargetX = xyCounts(X, X_Reversed);
    TargetY = xyCounts(Y, Y_Reversed);
    TargetZ = zCounts(Z);
    DMCCmd(axesCommand("SP ", double(XY_CountsPerMM) * X_Speed, double(XY_CountsPerMM) * Y_Speed,
                       SpeedUpMove * Z_Speed * Z_CountsPerMM));
    DMCCmd("PA " + num(TargetX) + "," + num(TargetY) + "," + num(TargetZ));
    DMCCmd(Settings().UseZaxis ? "BGXYZ" : "BGXY");
}

bool TLaser::pollUntilStill(const QString& what)
{
    // The poll does not pump messages; it still lets a millisecond pass per poll so that
    // the station clock (virtual in headless runs) moves the machine on.
    Guard guard(*this, what);
    for (;;) {
        const auto moving = isMovingChecked();
        if (!moving) {
            guard.linkLost();
            return false;
        }
        if (!*moving)
            return true;
        if (!guard.proceed(1))
            return false;
        systemClock().sleepMs(1);
    }
}

void TLaser::MoveToAfterMarkingPosition()
{
    if (InAfterMarkingPosition)
        return;
    if (!pollUntilStill(QStringLiteral("after-marking position")))
        return;
    double x = 0, y = 0, z = 0, w = 0;
    GetPosition(x, y, z, w);
    const double distance = Settings().AfterMarking_Z;
    LogDebug(QStringLiteral("AfterMarking_Z") + FloatToStr(distance));
    MoveZFastTo(x, y, z - distance, keys::read(keys::BeforeAndAfterMarkingSpeedUp));
    InAfterMarkingPosition = true;
}

void TLaser::MoveToBeforeMarkingPosition()
{
    if (!InAfterMarkingPosition)
        return;
    if (!pollUntilStill(QStringLiteral("before-marking position")))
        return;
    double x = 0, y = 0, z = 0, w = 0;
    GetPosition(x, y, z, w);
    const double distance = Settings().BeforeMarking_Z;
    LogDebug(QStringLiteral("BeforeMarking_Z") + FloatToStr(distance));
    MoveZFastTo(x, y, z + distance, keys::read(keys::BeforeAndAfterMarkingSpeedUp));
    InAfterMarkingPosition = false;
}

void TLaser::IncrementX(double Increment)
{
    DMCCmd(RawSpeedSt);
    DMCCmd("IP " + num(xyCounts(Increment, X_Reversed)));
}

void TLaser::IncrementY(double Increment)
{
    DMCCmd(RawSpeedSt);
    DMCCmd("IP ," + num(xyCounts(Increment, Y_Reversed)));
}

void TLaser::IncrementZ(double Increment)
{
    if (!Settings().UseZaxis)
        return;
    DMCCmd(RawSpeedSt);
    DMCCmd("IP ,," + num(zCounts(Increment)));
}

void TLaser::JogX(double Speed)
{
    DMCCmd("JG " + num(xyCounts(Speed, X_Reversed)));
    DMCCmd("BGX");
}

void TLaser::JogY(double Speed)
{
    DMCCmd("JG ," + num(xyCounts(Speed, Y_Reversed)));
    DMCCmd("BGY");
}

void TLaser::JogZ(double Speed)
{
    if (!Settings().UseZaxis)
        return;
    DMCCmd("JG ,," + num(zCounts(Speed)));
    DMCCmd("BGZ");
}

// ---------------------------------------------------------------- status and positions

bool TLaser::IsMoving()
{
    return isMovingChecked().value_or(false);
}

bool TLaser::X_IsMoving() { return axisMoving("MG _BGX"); }
bool TLaser::Y_IsMoving() { return axisMoving("MG _BGY"); }
bool TLaser::Z_IsMoving() { return axisMoving("MG _BGZ"); }
bool TLaser::N_IsMoving() { return axisMoving("MG _BGN"); }

bool TLaser::W_IsShooting()
{
    if (!HardwareFound)
        return false;
    std::string reply = DMC->LightCommandReply("MG @OUT[1]");
    return RoundHalfEven(TDMC::SeparateValue(reply)) != 0;
}

bool TLaser::WaitOnMotionComplete()
{
    Guard guard(*this, QStringLiteral("motion complete"));
    for (;;) {
        const auto moving = isMovingChecked();
        if (!moving)
            return guard.linkLost();
        if (!*moving)
            return true;
        if (!guard.proceed(1))
            return false;
        eventPump().pump();
        systemClock().sleepMs(kPollMs);
    }
}

void TLaser::readFourCounts(const char* command, std::int32_t& x, std::int32_t& y, std::int32_t& z,
                            std::int32_t& w)
{
    std::string reply = DMC->CommandReply(command);
    x = replyCounts(reply);
    y = replyCounts(reply);
    z = replyCounts(reply);
    w = replyCounts(reply);
}

void TLaser::GetPosition(double& X, double& Y, double& Z, double& W)
{
    // The trace sampler reads positions from its own thread while the marking runs.
    std::lock_guard lock(m_positionMutex);
    if (HardwareFound)
        readFourCounts("RPXYZW", CountX, CountY, CountZ, CountW);
    X = mm(CountX, XY_CountsPerMM, X_Reversed);
    Y = mm(CountY, XY_CountsPerMM, Y_Reversed);
    Z = mm(CountZ, Z_CountsPerMM, Z_Reversed);
    W = CountW;
}

void TLaser::GetEncoder(double& X, double& Y, double& Z, double& W)
{
    if (HardwareFound)
        readFourCounts("TPXYZW", EncoderCountX, EncoderCountY, EncoderCountZ, EncoderCountW);
    X = mm(EncoderCountX, XY_CountsPerMM, X_Reversed);
    Y = mm(EncoderCountY, XY_CountsPerMM, Y_Reversed);
    Z = mm(EncoderCountZ, Z_CountsPerMM, Z_Reversed);
    W = EncoderCountW;
}

void TLaser::DistanceToTarget(double& X, double& Y, double& Z)
{
    if (!HardwareFound)
        return;
    std::string targets = DMC->CommandReply("PA ?,?,?");
    std::string commanded = DMC->CommandReply("RPXYZ");
    const auto tx = replyCounts(targets);
    const auto ty = replyCounts(targets);
    const auto tz = replyCounts(targets);
    const auto rx = replyCounts(commanded);
    const auto ry = replyCounts(commanded);
    const auto rz = replyCounts(commanded);
    // The difference of two counts can leave the 32-bit range; it is taken in doubles.
    const auto distance = [](double counts, std::int32_t perUnit, bool reversed) {
        return perUnit == 0 ? 0.0 : counts * (reversed ? -1.0 : 1.0) / perUnit;
    };
    X = distance(double(tx) - rx, XY_CountsPerMM, X_Reversed);
    Y = distance(double(ty) - ry, XY_CountsPerMM, Y_Reversed);
    Z = distance(double(tz) - rz, Z_CountsPerMM, Z_Reversed);
}

// ---------------------------------------------------------------- output lines

void TLaser::OpenGate()
{
    if (m_sequenceFaulted) {
        LogDebug(QStringLiteral("Gate kept closed: the machine was stopped (") + m_lastError + QStringLiteral(")"));
        return;
    }
    m_gateOffConfirmed = false;
    DMCCmd(InvertGate ? "CB1" : "SB1");
    GateIsOpen = true;
}

void TLaser::CloseGate()
{
    m_gateOffConfirmed = acknowledged(InvertGate ? "SB1" : "CB1");
    GateIsOpen = false;
}

bool TLaser::acknowledged(std::string_view command)
{
    // A data reply to a command that has none is bytes a disturbed link made up.
    const std::string reply = DMCCmd(command);
    return HardwareFound && DMC->LastError().empty() && reply.empty();
}

void TLaser::SystemOn()
{
    if (InvertSystem) {
        DMCCmd("CB3");
        DMCCmd("CB6;WT20;SB6");
    } else {
        DMCCmd("SB3");
        DMCCmd("SB6;WT20;CB6");
    }
    TimerSystemOn->Start(static_cast<std::uint32_t>(std::max<std::int64_t>(0, RoundHalfEven(SystemOnDelay * 1000))));
}

void TLaser::SystemOff()
{
    if (InvertSystem) {
        DMCCmd("SB3");
        DMCCmd("CB7;WT20;SB7");
    } else {
        DMCCmd("CB3");
        DMCCmd("SB7;WT20;CB7");
    }
    SystemIsOn = false;
}

bool TLaser::EnableOn()
{
    if (m_sequenceFaulted) {
        LogDebug(QStringLiteral("Laser enable refused: the machine was stopped (") + m_lastError + QStringLiteral(")"));
        return false;
    }
    TimerEnableOff->Stop();
    const bool blowerReady = keys::read(keys::VA5BlowerStatus) == 2;
    if (EnableIsOn && blowerReady)
        return true;
    if (!Wait(*TimerSystemOn))
        return false;
    // The controller is to switch the laser off by itself should the station fall silent from
    // here on; without that it is not switched on.
    if (m_watchdog) {
        m_watchdogTripped = false;
        if (const auto problem = m_watchdog->arm({InvertGate, InvertShutter, InvertSystem})) {
            enterSafeState(QStringLiteral("laser watchdog not armed: ") + *problem);
            return false;
        }
    }
    m_enableOffConfirmed = false;
    if (InvertShutter) {
        DMCCmd("CB2");
        DMCCmd("CB4;WT20;SB4");
    } else {
        DMCCmd("SB2");
        DMCCmd("SB4;WT20;CB4");
    }
    EnableIsOn = true;
    EnableOnDelay = blowerReady ? 0 : keys::read(keys::EnableOnDelaySeconds);
    TimerEnableOn->Start(static_cast<std::uint32_t>(std::max<std::int64_t>(0, RoundHalfEven(EnableOnDelay * 1000))));
    if (!Wait(*TimerEnableOn)) {
        EnableOffImmediate();
        return false;
    }
    return true;
}

void TLaser::EnableOffImmediate()
{
    TimerEnableOff->Stop();
    if (!EnableIsOn) {
        disarmWatchdog();
        return;
    }
    const bool lineOff = acknowledged(InvertShutter ? "SB2" : "CB2");
    const bool pulsed = acknowledged(InvertShutter ? "CB5;WT20;SB5" : "SB5;WT20;CB5");
    m_enableOffConfirmed = lineOff && pulsed;
    EnableIsOn = false;
    disarmWatchdog();
}

void TLaser::disarmWatchdog()
{
    if (!m_watchdog || !m_watchdog->isArmed())
        return;
    if (m_watchdog->disarm()) {
        m_watchdogTripped = true;
        if (!m_sequenceFaulted) {
            // The laser went off under the run: what followed was not marked.
            m_lastError = watchdogTripText();
            m_sequenceFaulted = true;
            LogDebug(QStringLiteral("Machine stopped: ") + m_lastError);
        }
    }
}

QString TLaser::watchdogTripText()
{
    return QStringLiteral("the controller's watchdog switched the laser off: no heartbeat from the station for %1 ms "
                          "(the station or its link to the controller stalled)")
        .arg(LaserWatchdog::kLimitMs);
}

void TLaser::noticeWatchdogTrip()
{
    // Read by the watchdog's own thread; the run stops at the next command, not at its end.
    if (!m_sequenceFaulted && m_watchdog->tripSeen())
        enterSafeState(watchdogTripText());
}

void TLaser::announceHold(std::string_view line)
{
    // WT holds for its own time; MC and AM as long as the moves under way take. Short waits
    // fit into the heartbeat's own margin.
    std::int64_t holdMs = 0;
    bool motion = false;
    std::size_t start = 0;
    while (start <= line.size()) {
        std::size_t end = line.find(';', start);
        if (end == std::string_view::npos)
            end = line.size();
        std::string_view cmd = trimmedAscii(line.substr(start, end - start));
        if (cmd.substr(0, 2) == "WT")
            holdMs += std::max<std::int64_t>(0, RoundHalfEven(StrToFloatPoint(trimmedAscii(cmd.substr(2))).value_or(0)));
        else if (cmd.substr(0, 2) == "MC" || cmd.substr(0, 2) == "AM")
            motion = true;
        start = end + 1;
    }
    if (motion)
        holdMs += motionHoldMs();
    if (holdMs >= 100)
        m_watchdog->hold(holdMs);
}

std::int64_t TLaser::motionHoldMs()
{
    // Per axis the distance still to go at its speed, with a whole ramp up and down; a reply
    // that says nothing gives the guard's time.
    std::string at = DMC->CommandReply("RPXYZ");
    std::string to = DMC->CommandReply("PA ?,?,?");
    std::string sp = DMC->CommandReply("SP ?,?,?");
    std::string ac = DMC->CommandReply("AC ?,?,?");
    std::string dc = DMC->CommandReply("DC ?,?,?");
    double worst = 0;
    for (int i = 0; i < 3; ++i) {
        const double distance = std::fabs(TDMC::SeparateValue(to) - TDMC::SeparateValue(at));
        const double v = TDMC::SeparateValue(sp), a = TDMC::SeparateValue(ac), d = TDMC::SeparateValue(dc);
        if (!(v > 0) || !(a > 0) || !(d > 0))
            return m_guardMs;
        worst = std::max(worst, distance / v + v / a + v / d);
    }
    return std::min<std::int64_t>(m_guardMs, std::llround(worst * 1250) + 250);
}

std::optional<LaserLinesReading> TLaser::readLaserLines()
{
    if (!HardwareFound)
        return std::nullopt;
    const std::string reply = DMC->CommandReply("MG @OUT[1],@OUT[2],@OUT[3]");
    if (!DMC->LastError().empty())
        return std::nullopt;
    // Three numbers, 0 or 1, between blanks.
    std::array<bool, 3> level{};
    std::string_view rest = reply;
    for (bool& l : level) {
        const std::size_t begin = rest.find_first_not_of(" \r\n");
        if (begin == std::string_view::npos)
            return std::nullopt;
        rest.remove_prefix(begin);
        const std::size_t end = std::min(rest.find(' '), rest.size());
        const auto value = StrToFloatPoint(rest.substr(0, end));
        if (!value || (*value != 0 && *value != 1))
            return std::nullopt;
        l = *value == 1;
        rest.remove_prefix(end);
    }
    if (!trimmedAscii(rest).empty())
        return std::nullopt;
    return LaserLinesReading{level[0] != InvertGate, level[1] != InvertShutter, level[2] != InvertSystem};
}

std::optional<LaserLinesReading> TLaser::confirmedLaserLines()
{
    if (m_gateOffConfirmed && m_enableOffConfirmed && !GateIsOpen && !EnableIsOn)
        return LaserLinesReading{false, false, SystemIsOn};
    return readLaserLines();
}

QString TLaser::laserStateText()
{
    const auto lines = confirmedLaserLines();
    if (lines && lines->safe())
        return QStringLiteral("The laser is off");
    if (lines)
        return QStringLiteral("The controller reports the laser still switched on (gate %1, enable %2): switch the "
                              "laser off at the machine")
            .arg(lines->gateOpen ? QStringLiteral("open") : QStringLiteral("closed"),
                 lines->enableOn ? QStringLiteral("on") : QStringLiteral("off"));
    QString text = QStringLiteral("The state of the laser is unknown: the controller does not answer. Switch the laser "
                                  "off at the machine before the stone is taken out, and check the controller and "
                                  "its cable");
    if (m_watchdog)
        text += QStringLiteral(" (the controller switches the laser off by itself %1 ms after the station falls "
                               "silent, which the station cannot confirm now)")
                    .arg(LaserWatchdog::kLimitMs);
    return text;
}

void TLaser::EnableOff()
{
    if (!EnableIsOn)
        return;
    const std::int64_t d = RoundHalfEven(EnableOffDelay * 1000);
    if (d > 500) {
        TimerEnableOff->Start(static_cast<std::uint32_t>(d));
        return;
    }
    DMCCmd("WT" + num(std::max<std::int64_t>(0, d)));
    EnableOffImmediate();
}

void TLaser::CheckTimers()
{
    if (TimerSystemOn->Finished())
        SystemIsOn = true;
    if (TimerEnableOff->Finished())
        EnableOffImmediate();
}

bool TLaser::Wait(TTickTimer& TickTimer)
{
    WaitAborted = false;
    const std::uint32_t remaining = TickTimer.Remaining();
    if (HardwareFound && remaining <= 500) {
        // Short enough for the controller to wait, without a window.
        DMCCmd("WT" + num(remaining));
        return true;
    }
    const bool done = TickTimer.Wait();
    WaitAborted = !done;
    return done;
}

// ---------------------------------------------------------------- variables

void TLaser::SetVariable(std::string_view VariableName, double Val)
{
    // A point always: the controller reads "0,5" as two fields and refuses it.
    DMCCmd(std::string(trimmedAscii(VariableName)) + "=" + FloatToStrPoint(Val));
}

double TLaser::Getvariable(std::string_view VariableName)
{
    std::string reply = DMCCmd(std::string(trimmedAscii(VariableName)) + "=");
    return TDMC::SeparateValue(reply);
}

// ---------------------------------------------------------------- vector and dot marking

namespace {
int startCount()
{
    // The settings page keeps it within 20..500; a store edited by hand must neither begin
    // the motion on an empty buffer nor wait for more segments than the buffer holds.
    return std::clamp(Settings().ContourBuffering, 1, kBufferSize);
}
} // namespace

void TLaser::EnablePulses()
{
    DMCCmd("GAW=N");
    DMCCmd("DPW=0");
    DMCCmd("GAW=S");
    DMCCmd("GRW=" + FloatToStrPoint(GearRatio));
}

void TLaser::DisablePulses()
{
    if (!HardwareFound)
        return;
    CloseGate();
    DMCCmd("GRW=0");
    emissionOff();
}

void TLaser::StartLIXYMode()
{
    // A sequence opened after a guard stop stays stopped: its vertices send nothing and its
    // finish begins nothing.
    const bool idle = !m_sequenceFaulted && WaitOnMotionComplete();
    LIXYIsRunning = LIXY_LE_Sent = false;
    LIXYIsStopped = !idle;
    LIXYSegmentSent = 0;
    if (!idle)
        return;
    EnablePulses();
    DMCCmd("CS");
    DMCCmd("LM XY");
    DMCCmd("VS " + num(RoundHalfEven(double(XY_CountsPerMM) * VectorHiSpeed)));
    DMCCmd("VA " + num(RoundHalfEven(double(XY_CountsPerMM) * VectorAccel)));
    DMCCmd("VD " + num(RoundHalfEven(double(XY_CountsPerMM) * VectorDecel)));
}

void TLaser::StartLIXY_Pulse_Mode()
{
    // A sequence opened after a guard stop stays stopped: its vertices send nothing and its
    // finish begins nothing.
    const bool idle = !m_sequenceFaulted && WaitOnMotionComplete();
    LIXYIsRunning = LIXY_LE_Sent = false;
    LIXYIsStopped = !idle;
    LIXYSegmentSent = 0;
    if (!idle)
        return;
    DMCCmd("GAW=N");
    DMCCmd("GRW=1");
    DMCCmd("CS");
    DMCCmd("LM XYW");
    DMCCmd("VS " + num(RoundHalfEven(double(XY_CountsPerMM) * VectorPhotoSpeed)));
    DMCCmd("VA " + num(RoundHalfEven(double(XY_CountsPerMM) * std::min(X_Accel, Y_Accel))));
    DMCCmd("VD " + num(RoundHalfEven(double(XY_CountsPerMM) * std::min(X_Decel, Y_Decel))));
}

void TLaser::pollBufferSpace()
{
    Guard guard(*this, QStringLiteral("buffer space"));
    for (;;) {
        const auto reply = readStatus("LM?");
        if (!reply) {
            guard.linkLost();
            return;
        }
        const auto free = RoundHalfEven(*reply);
        // An empty buffer under a running sequence: a limit switch ended it, or the station
        // fed it too slowly.
        if (free >= kUnderrunFree) {
            if (stoppedByLimitSwitch(QStringLiteral("buffer space")))
                return;
            operatorDialogs().notice(QStringLiteral("Marking problem"), markingProblemText());
        }
        if (free < kThrottleFree) {
            setGauge(bufferUsed(free));
            eventPump().pump();
            systemClock().sleepMs(kPollMs);
        }
        if (free > 0)
            return;
        if (!guard.proceed(double(free)))
            return;
    }
}

void TLaser::sendBegin()
{
    if (m_sequenceFaulted)
        return;
    emissionOn();
    OpenGate();
    DMCCmd("BGS");
    LIXYIsRunning = true;
}

void TLaser::beginSequenceIfDue()
{
    if (LIXYIsRunning)
        pollBufferSpace();
    else if (LIXYSegmentSent >= startCount())
        sendBegin();
}

void TLaser::AddLIXYVertex(double AX, double AY, double ASpeed)
{
    if (m_sequenceFaulted)
        return;
    const std::int32_t x = xyCounts(AX, X_Reversed);
    const std::int32_t y = xyCounts(AY, Y_Reversed);
    if (x == TargetX && y == TargetY)
        return;
    beginSequenceIfDue();
    if (m_sequenceFaulted)
        return;
    DMCCmd("LI " + num(std::int64_t(x) - TargetX) + "," + num(std::int64_t(y) - TargetY) + " <"
           + num(RoundHalfEven(double(XY_CountsPerMM) * VectorHiSpeed)) + " >"
           + num(RoundHalfEven(double(XY_CountsPerMM) * ASpeed)));
    ++LIXYSegmentSent;
    TargetX = x;
    TargetY = y;
}

void TLaser::AddLIXY_Pulse(double AX, double AY, bool EndPoint)
{
    if (m_sequenceFaulted)
        return;
    const std::int32_t x = xyCounts(AX, X_Reversed);
    const std::int32_t y = xyCounts(AY, Y_Reversed);
    if (x == TargetX && y == TargetY)
        return;
    beginSequenceIfDue();
    if (m_sequenceFaulted)
        return;
    const std::string move = "LI " + num(std::int64_t(x) - TargetX) + "," + num(std::int64_t(y) - TargetY) + ",,0";
    if (EndPoint) {
        DMCCmd(move + ">1");
        LIXYSegmentSent += 1;
    } else {
        DMCCmd(move);
        DMCCmd("LI 0,0,,1");
        LIXYSegmentSent += 2;
    }
    TargetX = x;
    TargetY = y;
}

void TLaser::FinishLIXYMode()
{
    DMCCmd("LE");
    LIXY_LE_Sent = true;
    if (!LIXYIsRunning && !LIXYIsStopped)
        sendBegin();
    Guard guard(*this, QStringLiteral("end of sequence"));
    for (;;) {
        const auto moving = isMovingChecked();
        if (!moving) {
            if (!m_sequenceFaulted)
                guard.linkLost();
            break;
        }
        if (!*moving)
            break;
        const auto free = readStatus("LM?");
        if (!free) {
            if (!m_sequenceFaulted)
                guard.linkLost();
            break;
        }
        setGauge(bufferUsed(RoundHalfEven(*free)));
        systemClock().sleepMs(kPollMs);
        eventPump().pump();
        if (!guard.proceed(*free))
            break;
    }
    // A sequence the operator did not stop ends on its last vertex; short of it, the machine
    // stopped it.
    if (!m_sequenceFaulted && !LIXYIsStopped && LIXYSegmentSent > 0) {
        const auto at = readPositions();
        if (at && ((*at)[0] != TargetX || (*at)[1] != TargetY))
            stoppedByLimitSwitch(QStringLiteral("end of sequence"));
    }
    DisablePulses();
    setGauge(0);
}

QString TLaser::pressedLimitSwitches()
{
    QStringList pressed;
    for (const char axis : {'X', 'Y'})
        for (const auto& [side, name] : {std::pair{"LF", "forward"}, std::pair{"LR", "reverse"}}) {
            const auto level = readStatus(std::string("MG _") + side + axis);
            if (level && RoundHalfEven(*level) == 0)
                pressed << QStringLiteral("%1 %2").arg(QChar::fromLatin1(axis), QLatin1String(name));
        }
    return pressed.join(QStringLiteral(", "));
}

bool TLaser::stoppedByLimitSwitch(const QString& what)
{
    const QString pressed = pressedLimitSwitches();
    if (pressed.isEmpty())
        return false;
    enterSafeState(what + QStringLiteral(": limit switch hit (") + pressed + QStringLiteral(")"));
    return true;
}

void TLaser::StopLIXYMode()
{
    DisablePulses();
    if (LIXYIsRunning)
        DMCCmd("STS");
    LIXYIsStopped = true;
}

void TLaser::EmitPulse(int Time)
{
    if (!HardwareFound)
        return;
    clearGuardStop();
    emissionOn();
    if (EnableOn()) {
        const std::string t = num(std::max(0, Time));
        DMCCmd(InvertGate ? "CB1;WT" + t + ";SB1" : "SB1;WT" + t + ";CB1");
    }
    EnableOff();
    emissionOff();
}

void TLaser::EmitPulseTrain(int Shots, int Freq)
{
    if (!HardwareFound)
        return;
    if (Shots < 1 || Freq < 1) {
        // A train of no pulses, or one that never advances, would hold the wait forever.
        m_lastError = QStringLiteral("Pulse train refused: count %1 and rate %2 must be at least 1").arg(Shots).arg(Freq);
        LogDebug(m_lastError);
        return;
    }
    clearGuardStop();
    emissionOn();
    if (EnableOn()) {
        OpenGate();
        DMCCmd("GAW=N");
        DMCCmd("GRW=0.1");
        DMCCmd("ACN=67107840");
        DMCCmd("DCN=67107840");
        DMCCmd("SPN=" + num(std::int64_t(Freq) * 10));
        DMCCmd("PRN=" + num(std::int64_t(Shots) * 10));
        DMCCmd("BGN");
        Guard guard(*this, QStringLiteral("pulse train"));
        for (;;) {
            const auto moving = readStatus("MG _BGN");
            if (!moving) {
                guard.linkLost();
                break;
            }
            if (RoundHalfEven(*moving) == 0)
                break;
            systemClock().sleepMs(kPollMs);
            eventPump().pump();
            if (!guard.proceed(1))
                break;
        }
        CloseGate();
    }
    EnableOff();
    emissionOff();
}

// ---------------------------------------------------------------- focus cam

void TLaser::XZ_ECAM_Start(double X_Start, double X_Interval)
{
    if (!Settings().UseZaxis)
        return;
    keys::write(keys::GalilIsBusy, QStringLiteral("1"));
    LogDebug(QStringLiteral("Wrote 1 to Lapidograph\\LaserSource\\GalilIsBusy"));
    const int sleepMs = keys::read(keys::Sleep);
    LogDebug(QStringLiteral("Sleeptime: ") + QString::number(sleepMs));
    Stop();
    LogDebug(QStringLiteral("All movement is stopped"));
    WaitOnMotionComplete();

    const std::int64_t b = RoundHalfEven(X_Interval * XY_CountsPerMM);
    LogDebug(QStringLiteral("X_Interval : ") + FloatToStr(X_Interval));
    LogDebug(QStringLiteral("XY_CountsPerMM : ") + QString::number(XY_CountsPerMM));
    LogDebug(QStringLiteral("X_Interval_Counts : ") + QString::number(b));
    if (b < 1) {
        // Nothing was loaded; the companion process must not see the controller busy forever.
        keys::write(keys::GalilIsBusy, QStringLiteral("0"));
        LogDebug(QStringLiteral("Wrote 0 to Lapidograph\\LaserSource\\GalilIsBusy"));
        return;
    }
    const std::int64_t m = 50 * b;
    const double zc = std::fabs(Z_ECAMTable[50] - Z_ECAMTable[0]);
    LogDebug(QStringLiteral("X_Change_Counts : ") + QString::number(m));
    LogDebug(QStringLiteral("Z_Change : ") + FloatToStr(zc));
    const std::int64_t c = X_Reversed ? RoundHalfEven(-X_Start * XY_CountsPerMM - double(m))
                                      : RoundHalfEven(double(XY_CountsPerMM) * X_Start);
    const std::int64_t pl = X_Reversed ? RoundHalfEven(double(c + m)) : c;
    const std::int64_t po = X_Reversed ? m - 1 : 0;
    const std::int64_t middle = c + RoundHalfEven(double(m) / 2);
    std::int64_t z0 = RoundHalfEven(Z_CountsPerMM * Z_ECAMTable[0]);
    if (Z_Reversed)
        z0 = -z0;
    if (X_Reversed) {
        LogDebug(QStringLiteral("X is reversed"));
        LogDebug(QStringLiteral("X start counts : ") + QString::number(c));
        LogDebug(QStringLiteral("X middle counts (correct?): ") + QString::number(middle));
    } else {
        LogDebug(QStringLiteral("X is not reversed"));
        LogDebug(QStringLiteral("X start counts: ") + QString::number(c));
        LogDebug(QStringLiteral("X middle counts : ") + QString::number(middle));
    }
    LogDebug(QStringLiteral("MarkingLeftPositionX : ") + QString::number(po));
    LogDebug(QStringLiteral("Position left : ") + QString::number(pl));
    LogDebug(QStringLiteral("EcamTableStartMarkingIndex : ") + QString::number(0));
    LogDebug(QStringLiteral("Construction ECAM table started."));
    for (int i = 0; i <= 50; ++i) {
        const double h = X_Reversed ? Z_ECAMTable[50 - i] : Z_ECAMTable[i];
        std::int64_t t = RoundHalfEven(Z_CountsPerMM * h);
        if (Z_Reversed)
            t = -t;
        DMCCmd("ET[" + num(i) + "]=,," + num(t));
    }
    LogDebug(QStringLiteral("Finished construction of ECAM table."));
    QString heights = QStringLiteral("ECAM: ");
    for (double h : Z_ECAMTable)
        heights += FloatToStr(h) + QLatin1Char(' ');
    LogDebug(heights);

    DMCCmd("EB0");
    pause(sleepMs);
    DMCCmd("EAX");
    pause(sleepMs);
    DMCCmd("EM " + num(m) + "," + num(RoundHalfEven(Z_CountsPerMM * zc)));
    pause(sleepMs);
    DMCCmd("EP " + num(b) + ",0");
    pause(sleepMs);
    DMCCmd("SHXZ");
    pause(sleepMs);
    DMCCmd("LC ,,1");
    DMCCmd("PA " + num(pl) + ",," + num(z0));
    pause(sleepMs);
    const int k = keys::read(keys::SpeedUpMoveToStartPosition);
    DMCCmd(axesCommand("SP ", double(k) * X_Speed * XY_CountsPerMM, double(k) * Y_Speed * XY_CountsPerMM,
                       double(k) * Z_Speed * Z_CountsPerMM));
    pause(sleepMs);
    DMCCmd("BGXZ");
    pause(sleepMs);
    DMCCmd("MCXZ");
    DMCCmd(RawSpeedSt);
    pause(sleepMs);
    DMCCmd("DE " + num(po) + ",," + num(z0));
    pause(sleepMs);
    DMCCmd("DP ,," + num(z0));
    pause(sleepMs);
    DMCCmd("EB1");
    pause(sleepMs);
    DMCCmd("WT300");
    pause(sleepMs);
    DMCCmd("EG,," + num(po));
    pause(sleepMs);
    keys::write(keys::GalilIsBusy, QStringLiteral("0"));
    LogDebug(QStringLiteral("Wrote 0 to Lapidograph\\LaserSource\\GalilIsBusy"));
}

void TLaser::XZ_ECAM_Stop()
{
    DMCCmd("EB0");
    DMCCmd("LC ,,1");
}

} // namespace lapido
