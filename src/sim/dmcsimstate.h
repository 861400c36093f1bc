// The simulated controller's inner state: axes, vector buffer, gearing, cam, outputs (private to src/sim).
#pragma once

#include "sim/dmcsimulator.h"
#include "sim/lasermarkfaults.h"

#include <array>
#include <cstdint>
#include <deque>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace lapido {

namespace dmcsim {

constexpr int kSlots = 9;       // X Y Z W E F G H, then the virtual axis N
constexpr int kN = 8;
constexpr int kMasterS = 100;   // gearing master: the vector path of S
constexpr std::int64_t kSampleUs = 1000;
constexpr double kDt = 0.001;
constexpr double kLimitLow = -2147483648.0;
constexpr double kLimitHigh = 2147483647.0;
constexpr int kOutputs = 64;
constexpr int kCamEntries = 257;

enum class MoveKind { None, Position, Jog, HomeSeek, HomeDecel, HomeBack, Stopping };
enum class BeginMode { Position, Relative, Jog, Home };

struct Axis {
    double pos = 0;          // reference position in counts, fractional while the profile runs
    double encOffset = 0;    // encoder = pos + encOffset when the encoder follows the steps
    double encValue = 0;     // encoder of an axis without one (W keeps its DE value)
    bool encFollows = true;
    double target = 0;       // the absolute target that "PA ?" reports
    double sp = 25000, ac = 256000, dc = 256000, jg = 0, pr = 0;
    bool motorOn = false;
    double bl = kLimitLow, fl = kLimitHigh;
    double mt = 1, ce = 0, ag = 0, lc = 0, cnLimit = 1, cnHome = 1;
    BeginMode mode = BeginMode::Position;
    MoveKind kind = MoveKind::None;
    double v = 0;            // signed velocity, counts/s
    double moveTarget = 0;
    int homeDir = 1;
    bool homeSide = false;
    double homeSwitch = 0;
    int limitSwitch = 0;     // +1 forward switch active, -1 reverse, 0 none
    // Gearing of this axis to a master (slot index or kMasterS), ratio 0 = off.
    int gearMaster = -1;
    double ratio = 0;
    bool gantry = false;
    // Cam slave.
    double camChange = 0;
    bool camPending = false;
    bool camEngaged = false;
    double camEngageAt = 0;
    std::array<double, kCamEntries> camTable{};

    double encoder() const { return encFollows ? pos + encOffset : encValue; }
};

struct Segment {
    std::array<double, 4> d{};
    double len = 0;
    double speed = -1;    // "<v"; -1: the vector speed VS at execution
    double endSpeed = -1; // ">e"; -1: none
};

struct Vector {
    std::deque<Segment> queue;
    int lmMask = 0; // bits of X Y Z W taking part
    double vs = 25000, va = 256000, vd = 256000;
    bool running = false;
    bool leSent = false;
    bool stopping = false;
    double v = 0;
    double s = 0;                // progress along the front segment
    std::array<double, 4> applied{};
    double queuedLen = 0;        // path length still in the buffer, the front segment included
    std::int64_t segmentsDone = 0;
};

// The application program in the controller's memory, one entry per command (a line of several
// ';'-separated commands gives several), with the line each came from.
struct ProgramCommand {
    std::string text;
    int line = 0;
};

constexpr int kThreads = 8;
constexpr int kProgramLines = 2000;

// One thread of the program: where it is and what it waits for.
struct ProgramThread {
    bool running = false;
    std::size_t next = 0;          // the command to run next
    int line = 0;                  // the program line it runs (or waits in)
    std::int64_t waitUntilUs = 0;  // WT: controller time the thread sleeps until
    int waitMotionMask = 0;        // MC/AM: axes (and S) to come to rest
};

struct Cam {
    bool enabled = false;
    int master = 0;    // slot whose encoder drives the cam
    double cycle = 0;  // master counts per cycle (EM master field)
    int interval = 256;
    double phase = 0;
};

} // namespace dmcsim

class DmcSimulatorState {
public:
    DmcModel model;
    DmcWiring wiring;
    std::int64_t timeUs = 0;
    bool timeSet = false;
    std::array<dmcsim::Axis, dmcsim::kSlots> axes{};
    dmcsim::Vector vec;
    dmcsim::Cam cam;
    std::array<bool, dmcsim::kOutputs + 1> out{};
    std::map<std::string, double> variables;
    std::vector<dmcsim::ProgramCommand> program;
    std::map<std::string, std::size_t> labels; // "#NAME" -> index of its first command
    std::array<dmcsim::ProgramThread, dmcsim::kThreads> threads{};
    int errorCode = 0;
    std::int64_t wStepsSeen = 0;  // llround(W) at the last sample
    std::int64_t wStepsTotal = 0;
    std::vector<LaserMark> marks;
    LaserMarkFaultModel markFaults;
    // faults
    bool noReply = false;
    bool garbage = false;
    int linesUntilLost = -1;
    bool lost = false;
    std::deque<DmcTranscriptEntry> transcript;
    std::size_t transcriptLimit = 20000;

    void resetController();
};

} // namespace lapido
