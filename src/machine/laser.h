// TLaser: the machine object (start-up, moves, output lines, vector and dot marking, focus cam).
#pragma once

#include "machine/galildmc.h"
#include "machine/laserwatchdog.h"
#include "machine/ticktimer.h"

#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace lapido {

class TLaserSource;

// Start switches of the program ("/NOHOMING", "/DEBUG").
struct StartSwitches {
    bool noHoming = false;
    bool debugMode = false;
};

// The motion values the machine sends: its resolutions, axis speeds and accelerations, and
// the vector marking's speeds, accelerations and pulse distance.
struct MotionValues {
    double xyCountsPerMm = 0, zCountsPerMm = 0;
    double xSpeed = 0, xAccel = 0, xDecel = 0;
    double ySpeed = 0, yAccel = 0, yDecel = 0;
    double zSpeed = 0, zAccel = 0, zDecel = 0;
    double vectorHiSpeed = 0, vectorPhotoSpeed = 0, vectorAccel = 0, vectorDecel = 0;
    double pulseDistance = 0;
};
// The one check before any of them is sent: the first value that is not a finite number above
// 0, or whose count in a command would not fit the controller's 32-bit field, as a message
// naming it; nullopt when all are fine.
std::optional<QString> motionValuesError(const MotionValues& m);

// Which side of the manual command window's memo a line belongs to.
enum class EchoLine { Command, Reply };

// The laser's lines as the controller reports them (not as the station last set them).
struct LaserLinesReading {
    bool gateOpen = false;
    bool enableOn = false;
    bool supplyOn = false;
    bool allOff() const { return !gateOpen && !enableOn && !supplyOn; }
    bool safe() const { return !gateOpen && !enableOn; }
};

// Every operation of the machine turns millimetres into controller counts and sends the
// command strings of the controller language through DMCCmd, the single send path. Status
// and position reads go to the channel directly (never echoed).
//
// Waits that the controller could keep open forever (motion complete, buffer space, end of
// a sequence, the pulse-train axis) carry a guard: they end when a status read comes back
// empty (link lost) or nothing has moved for guardTimeMs(); the machine is then put in its
// safe state (motion stopped, gate closed, pulses off, laser disabled) and the reason logged.
class TLaser {
public:
    // Opens the channel at the stored address. Without a controller the operator gets the
    // no-hardware box and the program is asked to end (terminateRequested()).
    TLaser();
    explicit TLaser(std::unique_ptr<TDMC> dmc);
    ~TLaser();
    TLaser(const TLaser&) = delete;
    TLaser& operator=(const TLaser&) = delete;

    // --- start-up and set-up
    void Initialize();
    void ShutDown();
    void Reset();
    // False (and nothing sent) when the fields hold counts, speeds or accelerations that
    // are not positive; the reason is logged and kept in lastError().
    bool SetMotionParams();
    // Why the motion fields cannot be sent (a count, speed or acceleration not positive).
    std::optional<QString> motionFieldsError() const;
    void ApplyLowCurrentMode();

    // --- moves
    void MoveTo(double X, double Y, double Z, double W);
    void MoveTo(double X, double Y, double Z);
    void MoveTo(double X, double Y);
    void MoveZFastTo(double X, double Y, double Z, int SpeedUpMove);
    void MoveToAfterMarkingPosition();
    void MoveToBeforeMarkingPosition();
    void IncrementX(double Increment);
    void IncrementY(double Increment);
    void IncrementZ(double Increment);
    void JogX(double Speed);
    void JogY(double Speed);
    void JogZ(double Speed);
    void Stop();
    void ServoHere();
    void MotorsOff();

    // --- status and positions
    bool IsMoving();
    bool X_IsMoving();
    bool Y_IsMoving();
    bool Z_IsMoving();
    bool N_IsMoving();
    bool W_IsShooting();
    // False when the guard ended the wait.
    bool WaitOnMotionComplete();
    void GetPosition(double& X, double& Y, double& Z, double& W);
    void GetEncoder(double& X, double& Y, double& Z, double& W);
    void DistanceToTarget(double& X, double& Y, double& Z);

    // --- output lines
    void OpenGate();
    void CloseGate();
    bool EnableOn();
    void EnableOff();
    void EnableOffImmediate();
    void SystemOn();
    void SystemOff();
    void CheckTimers();
    bool Wait(TTickTimer& TickTimer);

    // --- variables and the send path
    void SetVariable(std::string_view VariableName, double Val);
    double Getvariable(std::string_view VariableName);
    std::string DMCCmd(std::string_view St);

    // --- vector and dot marking
    void StartLIXYMode();
    void AddLIXYVertex(double AX, double AY, double ASpeed);
    void StartLIXY_Pulse_Mode();
    void AddLIXY_Pulse(double AX, double AY, bool EndPoint);
    void FinishLIXYMode();
    void StopLIXYMode();
    void EnablePulses();
    void DisablePulses();
    void EmitPulse(int Time);
    void EmitPulseTrain(int Shots, int Freq);

    // --- focus cam
    void XZ_ECAM_Start(double X_Start, double X_Interval);
    void XZ_ECAM_Stop();

    // --- additions of this station
    void setStartSwitches(StartSwitches switches) { m_switches = switches; }
    // Receives each command and reply of DMCCmd while ShowDMCCmd is on.
    void setEchoHook(std::function<void(EchoLine, const std::string&)> hook) { m_echo = std::move(hook); }
    // The buffer gauge of the manual command window (queued segments, 0..512).
    int bufferGauge() const { return m_bufferGauge; }
    void setBufferGaugeHook(std::function<void(int)> hook) { m_gaugeHook = std::move(hook); }
    // How long a guarded wait may see no progress before it gives up.
    std::int64_t guardTimeMs() const { return m_guardMs; }
    void setGuardTimeMs(std::int64_t ms) { m_guardMs = ms; }
    // Why the last guarded wait ended early, or why set-up was refused; empty otherwise.
    const QString& lastError() const { return m_lastError; }
    // True once a guard has stopped the machine. Until clearGuardStop the stop holds the laser
    // off: the enable line is refused, the gate stays closed, emission stays off and no marking
    // sequence begins, so nothing later in a stopped glyph can fire.
    bool sequenceFaulted() const { return m_sequenceFaulted; }
    // True when the controller's watchdog switched the laser off since the laser was last
    // switched on (the station or its link fell silent for longer than its limit).
    bool watchdogTripped() const { return m_watchdogTripped; }
    // The operator starts again (a marking run, a manual pulse): a guard stop no longer holds.
    void clearGuardStop();
    // Gate closed, emission and the enable line off at once, a delayed switch-off included:
    // the state every program leaves the laser in, whatever its own delays say.
    void laserOff();
    // The program was asked to end (no controller at start).
    bool terminateRequested() const { return m_terminateRequested; }
    // Gate, enable line and supply as the controller reports them now; nullopt when it does
    // not answer (the station then knows nothing about the laser).
    std::optional<LaserLinesReading> readLaserLines();
    // The laser lines as far as the controller confirmed them: gate closed and enable line off
    // when the commands that last switched them were acknowledged (the supply as last sent),
    // else read back as readLaserLines() does.
    std::optional<LaserLinesReading> confirmedLaserLines();
    // One sentence for the operator about the laser after a stop: "The laser is off" only when
    // the controller confirmed it; otherwise that its state is unknown and what to do.
    QString laserStateText();
    // The controller's own watchdog over the laser lines (a controller apart from the
    // station only; null otherwise).
    const LaserWatchdog* watchdog() const { return m_watchdog.get(); }
    TDMC& channel() { return *DMC; }

    // Counts of mm on an axis (Round half to even, negated when reversed) and back.
    std::int32_t xyCounts(double mm, bool reversed) const;
    std::int32_t zCounts(double mm) const;

    // --- fields
    bool HardwareFound = false;
    bool InAfterMarkingPosition = false;
    bool Initialized = false;
    bool ShowDMCCmd = false;

    std::int32_t XY_CountsPerMM = 0;
    bool X_Reversed = false;
    double X_Speed = 0, X_Accel = 0, X_Decel = 0, X_RefPos = 0, X_MinPos = 0, X_MaxPos = 0;
    std::int32_t X_Current = 0;
    bool Y_Reversed = false;
    double Y_Speed = 0, Y_Accel = 0, Y_Decel = 0, Y_RefPos = 0, Y_MinPos = 0, Y_MaxPos = 0;
    std::int32_t Y_Current = 0;
    std::int32_t Z_CountsPerMM = 0;
    bool Z_Reversed = false;
    double Z_Speed = 0, Z_Accel = 0, Z_Decel = 0, Z_RefPos = 0, Z_MinPos = 0, Z_MaxPos = 0;
    std::int32_t Z_Current = 0;
    std::int32_t A_CountsPerDeg = 0;
    bool A_Reversed = false;
    double A_Speed = 0, A_Accel = 0, A_Decel = 0, A_RefPos = 0;
    std::int32_t A_Current = 0;

    double VectorHiSpeed = 0.2;
    double VectorPhotoSpeed = 0;
    double VectorLoSpeed = 0.01;
    double VectorAccel = 10, VectorDecel = 10;
    double PulseDistance = 0; // micrometres

    bool InvertLimits = false, InvertHoming = false, InvertTrigger = false;
    bool InvertGate = false, InvertShutter = false, InvertSystem = false;
    bool GateIsOpen = false, EnableIsOn = false, SystemIsOn = false;
    // Set when the operator aborted the last timed wait (its window's Abort or Esc).
    bool WaitAborted = false;
    double EnableOnDelay = 0, EnableOffDelay = 0, SystemOnDelay = 0;

    bool LIXYIsRunning = false, LIXYIsStopped = false, LIXY_LE_Sent = false;
    std::int32_t LIXYSegmentSent = 0;

    std::array<double, 51> Z_ECAMTable{};

    std::unique_ptr<TDMC> DMC;

    std::int32_t CountX = 0, CountY = 0, CountZ = 0, CountW = 0; // guarded by m_positionMutex
    std::int32_t TargetX = 0, TargetY = 0, TargetZ = 0, TargetW = 0;
    std::int32_t EncoderCountX = 0, EncoderCountY = 0, EncoderCountZ = 0, EncoderCountW = 0;

    std::string RawSpeedSt, RawAccelSt, RawDecelSt;
    double GearRatio = 0;

    std::unique_ptr<TTickTimer> TimerEnableOn, TimerEnableOff, TimerSystemOn;

private:
    class Guard;
    // One four-axis count reply ("RPXYZW", "TPXYZW") into its fields.
    void readFourCounts(const char* command, std::int32_t& x, std::int32_t& y, std::int32_t& z, std::int32_t& w);
    // Polls without pumping messages until the axes stand still; false when the guard ended it.
    bool pollUntilStill(const QString& what);
    void create();
    // The pressed limit switches of X and Y ("X forward"), empty when none is or the link
    // does not answer.
    QString pressedLimitSwitches();
    // A sequence that ended before its last vertex was stopped by the machine: a limit switch
    // or an empty buffer. A pressed switch puts the machine in its safe state; true then.
    bool stoppedByLimitSwitch(const QString& what);
    // DMCCmd of a command that answers no data: true when the controller acknowledged it.
    bool acknowledged(std::string_view command);
    // A status read straight to the channel; nullopt when the reply is empty (link lost).
    std::optional<double> readStatus(std::string_view command);
    bool axisMoving(std::string_view command);
    // IsMoving that also tells a lost link from a stopped machine.
    std::optional<bool> isMovingChecked();
    std::optional<std::array<std::int64_t, 4>> readPositions();
    void sendBegin();
    void pollBufferSpace();
    void beginSequenceIfDue();
    void enterSafeState(const QString& reason);
    // The watchdog's end of a period with the laser on; a trip meanwhile stops the run.
    void disarmWatchdog();
    // Stops the run when the watchdog's thread read a trip from the controller.
    void noticeWatchdogTrip();
    static QString watchdogTripText();
    // Announces to the watchdog a line that holds the controller's interpreter (WT, MC, AM).
    void announceHold(std::string_view line);
    // Controller milliseconds the moves under way still need, generously.
    std::int64_t motionHoldMs();
    void setGauge(int value);
    void pause(int ms);
    double mm(std::int32_t counts, std::int32_t countsPerUnit, bool reversed) const;

    StartSwitches m_switches;
    std::function<void(EchoLine, const std::string&)> m_echo;
    std::function<void(int)> m_gaugeHook;
    int m_bufferGauge = 0;
    std::int64_t m_guardMs = 10000;
    QString m_lastError;
    // The drives' current levels last taken by the controller (none since its reset).
    std::optional<std::array<int, 3>> m_currentsSent;
    bool m_sequenceFaulted = false;
    bool m_watchdogTripped = false;
    std::mutex m_positionMutex;
    bool m_terminateRequested = false;
    std::unique_ptr<LaserWatchdog> m_watchdog;
    // The controller acknowledged the last commands that closed the gate / took the enable
    // line off (an acknowledgement is the controller's word that it did it).
    bool m_gateOffConfirmed = false;
    bool m_enableOffConfirmed = false;
};

// The one machine object of the station: created by the app (the manual command window owns
// it), null until then; tests install their own and reset it.
TLaser* Laser();
void setLaser(TLaser* laser);

// The "Marking problem" text shown on a buffer underrun.
QString markingProblemText();

} // namespace lapido
