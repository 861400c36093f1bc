// DmcSimulator: command interpreter and motion model of the simulated motion controller.
#include "sim/dmcsimulator.h"

#include "machine/galiltransport.h"
#include "platform/clock.h"
#include "platform/numfmt.h"
#include "sim/dmcsimstate.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unordered_map>

namespace lapido {

using namespace dmcsim;

namespace {

// Error codes the station can meet, with the controller's texts (TC1).
struct ErrorText {
    int code;
    const char* text;
};
constexpr ErrorText kErrors[] = {
    {1, "Unrecognized command"},
    {6, "Number out of range"},
    {7, "Not valid while running"},
    {20, "Begin not valid with motor off"},
    {21, "Begin not valid while running"},
    {22, "Begin not possible due to Limit Switch"},
    {24, "Begin not valid because no sequence defined"},
    {28, "Not valid when in motion"},
    {100, "Not valid when running ECAM"},
    {101, "Improper index into ET"},
    {103, "Variable not defined"},
    {110, "No label found"},
    {111, "Program too long"},
};

const char* errorText(int code)
{
    for (const auto& e : kErrors)
        if (e.code == code)
            return e.text;
    return "Unrecognized command";
}

// A refused command: the code that TC1 reports afterwards.
struct Refused {
    int code;
};

// Blanks only: control characters are commands here (Ctrl-R Ctrl-V asks for the revision).
std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\n' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\n' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

constexpr double kNumberMin = -2147483648.0;
constexpr double kNumberEnd = 2147483648.0;

std::optional<double> parseNumber(std::string_view t)
{
    const auto parsed = StrToFloatPoint(t);
    if (!parsed)
        return std::nullopt;
    const double v = *parsed;
    // The controller holds a number in four integer bytes and two fraction bytes; anything
    // beyond is refused before a command stores it (later integer answers and waits could not
    // represent it).
    if (v < kNumberMin || v >= kNumberEnd)
        throw Refused{6};
    return v;
}

// The controller's number forms: one sign character (blank or '-'), then the digits.
std::string fmtFixed4(double v)
{
    // to_chars, not printf: the station's process runs in the user's C locale, and the
    // controller writes a point whatever the locale.
    char buf[400];
    double r = std::round(v * 10000.0) / 10000.0;
    if (r == 0)
        r = 0; // no "-0.0000"
    buf[0] = r < 0 ? '-' : ' ';
    const auto res = std::to_chars(buf + 1, buf + sizeof buf, std::fabs(r), std::chars_format::fixed, 4);
    return std::string(buf, res.ptr);
}

std::string fmtInt(double v)
{
    const double r = std::round(v);
    char buf[400];
    buf[0] = r < 0 ? '-' : ' ';
    const auto res = std::to_chars(buf + 1, buf + sizeof buf, std::fabs(r), std::chars_format::fixed, 0);
    return std::string(buf, res.ptr);
}

std::string joinFields(const std::vector<std::string>& values)
{
    std::string out;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i)
            out += ',';
        out += values[i];
    }
    return out;
}

int axisSlot(char c, int axisCount)
{
    switch (c) {
    case 'X': case 'A': return 0;
    case 'Y': case 'B': return 1;
    case 'Z': case 'C': return 2;
    case 'W': case 'D': return 3;
    case 'E': case 'F': case 'G': case 'H': return axisCount >= 8 ? 4 + (c - 'E') : -1;
    case 'N': return kN;
    default: return -1;
    }
}

// One field of a per-axis list: empty (leave the axis alone), '?' (interrogate) or a number.
struct Field {
    enum Kind { Empty, Query, Value } kind = Empty;
    double value = 0;
};

// Fields in axis order X Y Z W E..H; the axis-equals form ("GRW=2", "SPN=1000") fills the
// named slot, N included.
std::vector<Field> parseFields(std::string_view args, int axisCount)
{
    std::vector<Field> fields(kSlots);
    args = trim(args);
    if (args.size() >= 2 && args[1] == '=' && axisSlot(args[0], axisCount) >= 0) {
        const int slot = axisSlot(args[0], axisCount);
        std::string_view v = trim(args.substr(2));
        if (v == "?")
            fields[slot].kind = Field::Query;
        else if (auto n = parseNumber(v))
            fields[slot] = {Field::Value, *n};
        else
            throw Refused{1};
        return fields;
    }
    if (args.empty())
        return fields;
    std::size_t slot = 0;
    std::size_t start = 0;
    const int maxFields = axisCount >= 8 ? 8 : 4;
    while (true) {
        const std::size_t comma = args.find(',', start);
        std::string_view f = trim(args.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        if (static_cast<int>(slot) >= maxFields)
            throw Refused{6};
        if (f == "?")
            fields[slot].kind = Field::Query;
        else if (!f.empty()) {
            auto n = parseNumber(f);
            if (!n)
                throw Refused{1};
            fields[slot] = {Field::Value, *n};
        }
        ++slot;
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
    }
    return fields;
}

// Axis letters of the mask form ("BGXY", "ST SXYZW"): bit per slot, bit 9 for S.
constexpr int kMaskS = 1 << 9;
int parseMask(std::string_view args, int axisCount, int defaultMask)
{
    args = trim(args);
    if (args.empty())
        return defaultMask;
    int mask = 0;
    for (char c : args) {
        if (c == ' ')
            continue;
        if (c == 'S') {
            mask |= kMaskS;
            continue;
        }
        const int slot = axisSlot(c, axisCount);
        if (slot < 0)
            throw Refused{1};
        mask |= 1 << slot;
    }
    return mask;
}

bool isVariableName(std::string_view n)
{
    if (n.empty() || n.size() > 8 || !std::isalpha(static_cast<unsigned char>(n[0])))
        return false;
    for (char c : n)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            return false;
    return true;
}

// Splits a line on ';' outside quoted MG text.
std::vector<std::string_view> splitCommands(std::string_view line)
{
    std::vector<std::string_view> out;
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ';' && !quoted) {
            out.push_back(line.substr(start, i - start));
            start = i + 1;
        }
    }
    out.push_back(line.substr(start));
    return out;
}

} // namespace

void DmcSimulatorState::resetController()
{
    // Limit switches are the world outside the controller: a reset does not move them.
    std::array<int, 4> switches{};
    for (int i = 0; i < 4; ++i)
        switches[i] = axes[i].limitSwitch;
    axes = {};
    for (int i = 0; i < 4; ++i) {
        axes[i].homeSwitch = static_cast<double>(model.homeSwitch[i]);
        axes[i].limitSwitch = switches[i];
    }
    axes[3].encFollows = false; // W has no encoder; its TP keeps the DE value
    axes[kN].motorOn = true;    // N has no drive to switch on
    vec = {};
    cam = {};
    out = {};
    variables.clear();
    program.clear();
    labels.clear();
    threads = {};
    errorCode = 0;
    wStepsSeen = 0;
    wStepsTotal = 0;
}

// ---------------------------------------------------------------------------------------
// The machine in motion: one controller sample at a time.

namespace {

// Runs the program threads for the sample that has just passed (defined with the interpreter).
void runProgramThreads(DmcSimulatorState& st);
bool anyThreadRunning(const DmcSimulatorState& st)
{
    return std::any_of(st.threads.begin(), st.threads.end(), [](const ProgramThread& t) { return t.running; });
}

class Machine {
public:
    explicit Machine(DmcSimulatorState& s) : st(s) {}

    bool laserReady() const
    {
        const DmcWiring& w = st.wiring;
        return outLevel(w.enableBit) == w.enableActiveHigh && outLevel(w.systemBit) == w.systemActiveHigh;
    }
    bool gateOpen() const { return outLevel(st.wiring.gateBit) == st.wiring.gateActiveHigh; }
    bool outLevel(int bit) const { return bit >= 1 && bit <= kOutputs && st.out[bit]; }

    bool axisInVector(int slot) const { return slot < 4 && st.vec.running && (st.vec.lmMask & (1 << slot)); }
    bool axisMoving(int slot) const { return st.axes[slot].kind != MoveKind::None || axisInVector(slot); }

    bool anyActivity() const
    {
        for (const Axis& a : st.axes)
            if (a.kind != MoveKind::None)
                return true;
        if (st.vec.running && (!st.vec.queue.empty() || st.vec.leSent || st.vec.stopping))
            return true;
        if (st.wiring.gatedSource && gateOpen() && laserReady())
            return true;
        return anyThreadRunning(st);
    }

    void advanceTo(std::int64_t nowUs)
    {
        if (!st.timeSet || nowUs < st.timeUs) {
            st.timeUs = nowUs - nowUs % kSampleUs;
            st.timeSet = true;
            return;
        }
        while (st.timeUs + kSampleUs <= nowUs) {
            if (!anyActivity()) {
                st.timeUs = nowUs - nowUs % kSampleUs;
                return;
            }
            sample();
        }
    }

    void sample()
    {
        st.timeUs += kSampleUs; // marks of this sample are stamped within it
        std::array<double, kSlots> before{};
        for (int i = 0; i < kSlots; ++i)
            before[i] = st.axes[i].pos;
        for (int i = 0; i < kSlots; ++i)
            stepAxis(st.axes[i]);
        // The path is cut at each segment end so that a pulse is placed where it fell, not
        // where the interpolation over the whole sample would put it.
        std::array<double, kSlots> pieceFrom = before;
        recordSteps(pieceFrom);
        for (int i = 0; i < kSlots; ++i)
            pieceFrom[i] = st.axes[i].pos;
        stepVector([&](double ds) {
            for (Axis& a : st.axes)
                if (a.ratio != 0 && a.gearMaster == kMasterS)
                    a.pos += a.ratio * ds; // the path counts forward whatever its direction
            recordSteps(pieceFrom);
            for (int i = 0; i < kSlots; ++i)
                pieceFrom[i] = st.axes[i].pos;
        });
        for (int i = 0; i < kSlots; ++i) {
            Axis& a = st.axes[i];
            if (a.ratio == 0 || a.gearMaster < 0 || a.gearMaster == kMasterS)
                continue;
            a.pos += a.ratio * (st.axes[a.gearMaster].pos - before[a.gearMaster]);
        }
        stepCam();
        checkLimits(before);
        recordSteps(pieceFrom);
        if (st.wiring.gatedSource && laserReady() && gateOpen())
            addMark(before, 1.0, LaserMarkKind::Gated);
        // The program threads act at the end of the sample: what they switch holds from the next.
        if (anyThreadRunning(st))
            runProgramThreads(st);
    }

    void stepAxis(Axis& a)
    {
        switch (a.kind) {
        case MoveKind::None:
            return;
        case MoveKind::Position: {
            const double dist = a.moveTarget - a.pos;
            const int dir = dist > 0 ? 1 : -1;
            if (a.v * dir < 0) { // reversing: brake first
                double speed = std::max(std::fabs(a.v) - a.dc * kDt, 0.0);
                a.v = a.v > 0 ? speed : -speed;
                a.pos += a.v * kDt;
                return;
            }
            double speed = std::fabs(a.v);
            const double brake = speed * speed / (2 * a.dc);
            if (std::fabs(dist) - speed * kDt <= brake)
                speed = std::max(speed - a.dc * kDt, std::min(a.sp, a.dc * kDt));
            else
                speed = std::min(speed + a.ac * kDt, a.sp);
            speed = std::max(speed, 1.0);
            const double step = speed * kDt;
            if (step >= std::fabs(dist)) {
                a.pos = a.moveTarget;
                a.v = 0;
                a.kind = MoveKind::None;
            } else {
                a.pos += dir * step;
                a.v = dir * speed;
            }
            return;
        }
        case MoveKind::Jog:
            rampTo(a, a.jg);
            a.pos += a.v * kDt;
            return;
        case MoveKind::Stopping:
            rampTo(a, 0);
            a.pos += a.v * kDt;
            if (a.v == 0)
                a.kind = MoveKind::None;
            return;
        case MoveKind::HomeSeek:
            rampTo(a, a.homeDir * a.sp);
            a.pos += a.v * kDt;
            if ((a.pos >= a.homeSwitch) != a.homeSide)
                a.kind = MoveKind::HomeDecel;
            return;
        case MoveKind::HomeDecel:
            rampTo(a, 0);
            a.pos += a.v * kDt;
            if (a.v == 0) {
                a.kind = MoveKind::HomeBack;
                a.homeSide = a.pos >= a.homeSwitch;
                a.homeDir = a.homeSide ? -1 : 1;
            }
            return;
        case MoveKind::HomeBack:
            a.v = a.homeDir * 256.0;
            a.pos += a.v * kDt;
            if ((a.pos >= a.homeSwitch) != a.homeSide) {
                // The switch edge is the new origin of the reference and of the encoder.
                a.v = 0;
                a.kind = MoveKind::None;
                const double enc = a.encoder();
                a.pos = 0;
                a.target = 0;
                if (a.encFollows)
                    a.encOffset = 0;
                else
                    a.encValue = enc;
            }
            return;
        }
    }

    static void rampTo(Axis& a, double v)
    {
        if (a.v < v)
            a.v = std::min(a.v + (a.v < 0 ? a.dc : a.ac) * kDt, v);
        else if (a.v > v)
            a.v = std::max(a.v - (a.v > 0 ? a.dc : a.ac) * kDt, v);
    }

    double segmentSpeed(const Segment& g) const { return g.speed >= 0 ? g.speed : st.vec.vs; }

    // Advances the vector path by one sample; onPiece(ds) is called with the path length
    // travelled up to each segment end and for the rest of the sample.
    template <typename OnPiece>
    void stepVector(OnPiece&& onPiece)
    {
        Vector& vc = st.vec;
        if (!vc.running)
            return;
        if (vc.queue.empty()) {
            vc.v = 0;
            if (vc.leSent || vc.stopping)
                endSequence();
            return;
        }
        double vmax = 0;
        if (vc.stopping) {
            vmax = 0;
        } else {
            const Segment& g = vc.queue.front();
            vmax = segmentSpeed(g);
            const double rem = g.len - vc.s;
            // One end-speed demand at a time: the nearest one ahead, within the next segment.
            if (g.endSpeed >= 0)
                vmax = std::min(vmax, std::sqrt(g.endSpeed * g.endSpeed + 2 * vc.vd * rem));
            else if (vc.queue.size() > 1 && vc.queue[1].endSpeed >= 0)
                vmax = std::min(vmax, std::sqrt(vc.queue[1].endSpeed * vc.queue[1].endSpeed +
                                                2 * vc.vd * (rem + vc.queue[1].len)));
            if (vc.leSent)
                vmax = std::min(vmax, std::sqrt(2 * vc.vd * std::max(vc.queuedLen - vc.s, 0.0)));
        }
        if (vc.v < vmax)
            vc.v = std::min(vc.v + vc.va * kDt, vmax);
        else
            vc.v = std::max(vc.v - vc.vd * kDt, vmax);
        if (vc.stopping && vc.v <= 0) {
            endSequence();
            return;
        }
        if (!vc.stopping)
            vc.v = std::max(vc.v, std::min(segmentSpeed(vc.queue.front()), std::max(vc.vd * kDt, 1.0)));
        double dist = vc.v * kDt;
        double travelled = 0;
        while (dist > 0 && !vc.queue.empty()) {
            Segment& g = vc.queue.front();
            const double rem = g.len - vc.s;
            if (dist >= rem) {
                for (int i = 0; i < 4; ++i)
                    if (vc.lmMask & (1 << i))
                        st.axes[i].pos += g.d[i] - vc.applied[i];
                travelled += rem;
                dist -= rem;
                if (g.endSpeed >= 0 && !vc.stopping)
                    vc.v = std::min(vc.v, std::max(g.endSpeed, 1.0));
                vc.queuedLen -= g.len;
                vc.queue.pop_front();
                ++vc.segmentsDone;
                vc.s = 0;
                vc.applied = {};
                onPiece(travelled);
                travelled = 0;
                if (vc.queue.empty()) {
                    // With LE the path has come to rest; without it the buffer ran dry and the
                    // path stops dead, waiting for more segments.
                    vc.v = 0;
                    if (vc.leSent || vc.stopping)
                        endSequence();
                    break;
                }
            } else {
                vc.s += dist;
                const double f = vc.s / g.len;
                for (int i = 0; i < 4; ++i)
                    if (vc.lmMask & (1 << i)) {
                        const double inc = g.d[i] * f - vc.applied[i];
                        st.axes[i].pos += inc;
                        vc.applied[i] += inc;
                    }
                travelled += dist;
                dist = 0;
            }
        }
        if (travelled > 0)
            onPiece(travelled);
    }

    void endSequence()
    {
        Vector& vc = st.vec;
        vc.running = false;
        vc.stopping = false;
        vc.v = 0;
        vc.queue.clear();
        vc.queuedLen = 0;
        vc.s = 0;
        vc.applied = {};
    }

    double camValue(const Axis& slave, double master) const
    {
        const Cam& c = st.cam;
        double p = master - c.phase;
        double cycles = 0;
        if (c.cycle > 0) {
            cycles = std::floor(p / c.cycle);
            p -= cycles * c.cycle;
        }
        // Held to the table before the conversion: a phase far from the master can put the
        // index beyond any int.
        const double idx = std::clamp(p / c.interval, 0.0, double(kCamEntries - 1));
        int i0 = static_cast<int>(std::floor(idx));
        i0 = std::clamp(i0, 0, kCamEntries - 2);
        const double f = std::clamp(idx - i0, 0.0, 1.0);
        return slave.camTable[i0] + f * (slave.camTable[i0 + 1] - slave.camTable[i0]) + cycles * slave.camChange;
    }

    void stepCam()
    {
        if (!st.cam.enabled)
            return;
        const double master = st.axes[st.cam.master].encoder();
        for (int i = 0; i < 8; ++i) {
            Axis& a = st.axes[i];
            if (a.camPending && std::fabs(master - a.camEngageAt) < 0.5) {
                a.camPending = false;
                a.camEngaged = true;
            }
            if (a.camEngaged && a.kind == MoveKind::None)
                a.pos = camValue(a, master);
        }
    }

    void checkLimits(const std::array<double, kSlots>& before)
    {
        for (int i = 0; i < 4; ++i) {
            Axis& a = st.axes[i];
            const double d = a.pos - before[i];
            if (d == 0)
                continue;
            const int dir = d > 0 ? 1 : -1;
            const bool soft = dir > 0 ? a.pos > a.fl : a.pos < a.bl;
            const bool hard = a.limitSwitch == dir;
            if (!soft && !hard)
                continue;
            if (a.kind != MoveKind::None && a.kind != MoveKind::Stopping) {
                if (hard && (a.kind == MoveKind::HomeSeek || a.kind == MoveKind::HomeBack)) {
                    a.kind = MoveKind::None; // a limit switch ends the homing
                    a.v = 0;
                } else {
                    a.kind = MoveKind::Stopping;
                }
            }
            if (axisInVector(i) && !st.vec.stopping) {
                if (hard) {
                    endSequence();
                } else {
                    st.vec.stopping = true;
                }
            }
            if (a.ratio != 0 && !a.gantry)
                a.ratio = 0;
        }
    }

    void recordSteps(const std::array<double, kSlots>& from)
    {
        // A stepper issues a step when the profile reaches the next whole count (the small
        // tolerance keeps a path that ends at 1999.9999999 from losing its last pulse).
        constexpr double kEps = 1e-6;
        const double w = st.axes[3].pos;
        const double w0 = from[3];
        const bool fire = laserReady() && gateOpen() && !st.wiring.gatedSource;
        while (w >= static_cast<double>(st.wStepsSeen) + 1 - kEps || w <= static_cast<double>(st.wStepsSeen) - 1 + kEps) {
            const bool up = w > static_cast<double>(st.wStepsSeen);
            st.wStepsSeen += up ? 1 : -1;
            ++st.wStepsTotal;
            if (fire) {
                const double f = w == w0 ? 1.0 : std::clamp((static_cast<double>(st.wStepsSeen) - w0) / (w - w0), 0.0, 1.0);
                addMark(from, f, LaserMarkKind::Pulse);
            }
        }
    }

    void addMark(const std::array<double, kSlots>& before, double f, LaserMarkKind kind)
    {
        const DmcWiring& w = st.wiring;
        auto at = [&](int i) { return before[i] + f * (st.axes[i].pos - before[i]); };
        LaserMark m;
        m.xMm = at(0) / w.xyCountsPerMm * (w.xReversed ? -1 : 1);
        m.yMm = at(1) / w.xyCountsPerMm * (w.yReversed ? -1 : 1);
        m.zMm = at(2) / w.zCountsPerMm * (w.zReversed ? -1 : 1);
        m.timeUs = st.timeUs - kSampleUs + static_cast<std::int64_t>(std::llround(f * kSampleUs));
        m.kind = kind;
        if (st.markFaults.admit(m))
            st.marks.push_back(m);
    }

    DmcSimulatorState& st;
};

} // namespace

// ---------------------------------------------------------------------------------------
// The interpreter.

namespace {

class Interpreter {
public:
    Interpreter(DmcSimulatorState& s, Clock& c) : st(s), clock(c), m(s) {}

    // Runs one command; appends its reply bytes. False: the line goes unanswered (a wait
    // that can never end).
    bool run(std::string_view cmd, std::string& reply)
    {
        m.advanceTo(clock.nowUs());
        try {
            std::string data;
            if (!dispatch(cmd, data))
                return false;
            if (!data.empty())
                reply += data + "\r\n";
            reply += ':';
        } catch (const Refused& r) {
            st.errorCode = r.code;
            reply += '?';
        }
        return true;
    }

    // One command of a program thread (no reply goes anywhere: a program's MG would be an
    // unsolicited message). Waits are the thread's business, not the interpreter's.
    void programCommand(std::string_view cmd)
    {
        std::string data;
        dispatch(cmd, data);
    }

    bool condition(std::string_view text) { return evaluateCondition(text); }

    // "DL", a carriage return, the program and a backslash (or Ctrl-Z): the program replaces
    // the one in memory; running threads stop.
    void download(std::string_view text, std::string& reply)
    {
        try {
            loadProgram(text.substr(3));
            reply += ':';
        } catch (const Refused& r) {
            st.errorCode = r.code;
            reply += '?';
        }
    }

private:
    void loadProgram(std::string_view body)
    {
        const std::size_t end = body.find_first_of("\\\x1a");
        if (end != std::string_view::npos)
            body = body.substr(0, end);
        std::vector<ProgramCommand> program;
        std::map<std::string, std::size_t> labels;
        int line = 0;
        std::size_t start = 0;
        while (start <= body.size()) {
            std::size_t stop = body.find_first_of("\r\n", start);
            if (stop == std::string_view::npos)
                stop = body.size();
            const std::string_view text = trim(body.substr(start, stop - start));
            start = stop + 1;
            if (text.empty())
                continue;
            if (text.size() > 80 || line >= kProgramLines)
                throw Refused{111};
            for (std::string_view cmd : splitCommands(text)) {
                cmd = trim(cmd);
                if (cmd.empty())
                    continue;
                if (cmd.front() == '#') {
                    const std::string name(cmd);
                    if (name.size() < 2 || name.size() > 8 || !isVariableName(name.substr(1)))
                        throw Refused{1};
                    labels.emplace(name, program.size());
                }
                program.push_back({std::string(cmd), line});
            }
            ++line;
        }
        st.program = std::move(program);
        st.labels = std::move(labels);
        st.threads = {};
    }

    int axisCount() const { return st.model.axisCount; }
    int allAxesMask() const { return axisCount() >= 8 ? 0xFF : 0x0F; }

    bool dispatch(std::string_view cmd, std::string& data)
    {
        // A line feed after the carriage return is blank space, not a command.
        cmd = trim(cmd);
        if (cmd.empty())
            return true;
        if (cmd.size() >= 2 && cmd[0] == '\x12' && cmd[1] == '\x16') {
            data = "DMC4040 Rev sim";
            return true;
        }
        const std::size_t eq = cmd.find('=');
        if (eq != std::string_view::npos) {
            const std::string_view name = trim(cmd.substr(0, eq));
            const bool axisForm = name.size() == 3 && handlerFor(name.substr(0, 2)) &&
                                  axisSlot(name[2], 8) >= 0;
            const bool tableForm = name.substr(0, 3) == "ET[";
            if (!axisForm && !tableForm) {
                if (!isVariableName(name))
                    throw Refused{1};
                return variable(std::string(name), trim(cmd.substr(eq + 1)), data);
            }
        }
        if (cmd.size() < 2)
            throw Refused{1};
        const std::string_view op = cmd.substr(0, 2);
        if (!handlerFor(op))
            throw Refused{1};
        std::string_view args = cmd.substr(2);
        return command(op, args, data);
    }

    bool variable(const std::string& name, std::string_view value, std::string& data)
    {
        if (value.empty() || value == "?") {
            auto it = st.variables.find(name);
            if (it == st.variables.end())
                throw Refused{103};
            data = fmtFixed4(it->second);
            return true;
        }
        st.variables[name] = evaluate(value);
        return true;
    }

    // ---- expressions of MG and assignments: numbers, operands, variables, + - * / ( )
    double evaluate(std::string_view text)
    {
        std::size_t pos = 0;
        const double v = expr(text, pos);
        skipBlanks(text, pos);
        if (pos != text.size())
            throw Refused{1};
        return v;
    }
    // A jump's condition: an expression, or two compared with < > = <= >= <>; true when it
    // holds (an expression alone, when it is not zero).
    bool evaluateCondition(std::string_view text)
    {
        std::size_t pos = 0;
        const double left = expr(text, pos);
        skipBlanks(text, pos);
        if (pos == text.size())
            return left != 0;
        std::string_view op = text.substr(pos, 1);
        if (pos + 1 < text.size() && (text.substr(pos, 2) == "<=" || text.substr(pos, 2) == ">=" || text.substr(pos, 2) == "<>"))
            op = text.substr(pos, 2);
        if (op != "<" && op != ">" && op != "=" && op != "<=" && op != ">=" && op != "<>")
            throw Refused{1};
        pos += op.size();
        const double right = expr(text, pos);
        skipBlanks(text, pos);
        if (pos != text.size())
            throw Refused{1};
        if (op == "<")
            return left < right;
        if (op == ">")
            return left > right;
        if (op == "=")
            return left == right;
        if (op == "<=")
            return left <= right;
        if (op == ">=")
            return left >= right;
        return left != right;
    }
    static void skipBlanks(std::string_view t, std::size_t& p)
    {
        while (p < t.size() && t[p] == ' ')
            ++p;
    }
    double expr(std::string_view t, std::size_t& p)
    {
        double v = term(t, p);
        while (true) {
            skipBlanks(t, p);
            if (p < t.size() && (t[p] == '+' || t[p] == '-')) {
                const char op = t[p++];
                const double r = term(t, p);
                v = op == '+' ? v + r : v - r;
            } else {
                return v;
            }
        }
    }
    double term(std::string_view t, std::size_t& p)
    {
        double v = factor(t, p);
        while (true) {
            skipBlanks(t, p);
            if (p < t.size() && (t[p] == '*' || t[p] == '/')) {
                const char op = t[p++];
                const double r = factor(t, p);
                if (op == '/' && r == 0)
                    throw Refused{6};
                v = op == '*' ? v * r : v / r;
            } else {
                return v;
            }
        }
    }
    // Nesting of brackets and signs; the parser recurses once per level, so a line of a
    // hundred thousand "(" would otherwise exhaust the stack of the link's thread.
    static constexpr int kMaxNesting = 64;
    struct Nesting {
        explicit Nesting(int& depth) : m_depth(depth)
        {
            if (++m_depth > kMaxNesting) {
                --m_depth;
                throw Refused{1};
            }
        }
        ~Nesting() { --m_depth; }
        Nesting(const Nesting&) = delete;
        Nesting& operator=(const Nesting&) = delete;
        int& m_depth;
    };

    double factor(std::string_view t, std::size_t& p)
    {
        const Nesting nesting(m_nesting);
        skipBlanks(t, p);
        if (p >= t.size())
            throw Refused{1};
        const char c = t[p];
        if (c == '-') {
            ++p;
            return -factor(t, p);
        }
        if (c == '(') {
            ++p;
            const double v = expr(t, p);
            skipBlanks(t, p);
            if (p >= t.size() || t[p] != ')')
                throw Refused{1};
            ++p;
            return v;
        }
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') {
            std::size_t e = p;
            while (e < t.size() && (std::isdigit(static_cast<unsigned char>(t[e])) || t[e] == '.'))
                ++e;
            auto n = parseNumber(t.substr(p, e - p));
            if (!n)
                throw Refused{1};
            p = e;
            return *n;
        }
        if (c == '@') {
            // @OUT[n]
            const std::size_t close = t.find(']', p);
            if (t.substr(p, 5) != "@OUT[" || close == std::string_view::npos)
                throw Refused{1};
            auto n = parseNumber(t.substr(p + 5, close - p - 5));
            p = close + 1;
            if (!n || *n < 1 || *n > kOutputs)
                throw Refused{6};
            return st.out[static_cast<int>(*n)] ? 1 : 0;
        }
        if (c == '_') {
            std::size_t e = p + 1;
            while (e < t.size() && std::isalnum(static_cast<unsigned char>(t[e])))
                ++e;
            const std::string_view name = t.substr(p + 1, e - p - 1);
            p = e;
            return operand(name);
        }
        if (std::isalpha(static_cast<unsigned char>(c))) {
            std::size_t e = p;
            while (e < t.size() && std::isalnum(static_cast<unsigned char>(t[e])))
                ++e;
            // The controller's free-running clock, in samples of 1 ms.
            if (t.substr(p, e - p) == "TIME") {
                p = e;
                return static_cast<double>(st.timeUs / kSampleUs);
            }
            auto it = st.variables.find(std::string(t.substr(p, e - p)));
            p = e;
            if (it == st.variables.end())
                throw Refused{103};
            return it->second;
        }
        throw Refused{1};
    }

    double operand(std::string_view name)
    {
        if (name == "BN")
            return 0;
        if (name == "TC")
            return st.errorCode;
        if (name == "LMS")
            return freeSlots();
        if (name == "CS")
            return static_cast<double>(st.vec.segmentsDone);
        // _XQn: the program line thread n runs, -1 when it runs none.
        if (name.size() == 3 && name.substr(0, 2) == "XQ" && name[2] >= '0' && name[2] < '0' + kThreads) {
            const ProgramThread& t = st.threads[name[2] - '0'];
            if (!t.running)
                return -1;
            return t.line;
        }
        if (name.size() != 3)
            throw Refused{1};
        const std::string_view op = name.substr(0, 2);
        if (op == "BG" && name[2] == 'S')
            return st.vec.running ? 1 : 0;
        const int slot = axisSlot(name[2], axisCount());
        if (slot < 0)
            throw Refused{1};
        const Axis& a = st.axes[slot];
        if (op == "BG")
            return m.axisMoving(slot) ? 1 : 0;
        if (op == "RP")
            return static_cast<double>(reference(slot));
        if (op == "TP")
            return std::llround(a.encoder());
        if (op == "SP")
            return a.sp;
        if (op == "AC")
            return a.ac;
        if (op == "DC")
            return a.dc;
        if (op == "GR")
            return a.ratio;
        if (op == "LC")
            return a.lc;
        if (op == "MO")
            return a.motorOn ? 0 : 1;
        if (op == "PA")
            return a.target;
        // Switch inputs read 0 while the switch is pressed (active low, as the station wires them).
        if (op == "LF")
            return a.limitSwitch > 0 ? 0 : 1;
        if (op == "LR")
            return a.limitSwitch < 0 ? 0 : 1;
        throw Refused{1};
    }

    // For W, the steps issued (its profile may sit between two counts); others round.
    std::int64_t reference(int slot) const
    {
        return slot == 3 ? st.wStepsSeen : std::llround(st.axes[slot].pos);
    }

    int freeSlots() const { return st.model.bufferSize - static_cast<int>(st.vec.queue.size()); }

    // ---- per-field helpers
    std::string fieldsCommand(std::string_view args, double Axis::*member, bool asInt, bool allowN = true)
    {
        const auto fields = parseFields(args, axisCount());
        std::vector<std::string> answers;
        for (int i = 0; i < kSlots; ++i) {
            if (fields[i].kind == Field::Empty)
                continue;
            if (i == kN && !allowN)
                throw Refused{1};
            if (fields[i].kind == Field::Query)
                answers.push_back(asInt ? fmtInt(st.axes[i].*member) : fmtFixed4(st.axes[i].*member));
            else
                st.axes[i].*member = fields[i].value;
        }
        return joinFields(answers);
    }

    void refuseIfMoving(int slot)
    {
        if (m.axisMoving(slot))
            throw Refused{7};
    }

    void sleepMs(double ms)
    {
        clock.sleepUs(static_cast<std::int64_t>(ms * 1000));
        m.advanceTo(clock.nowUs());
    }

    // Holds the interpreter until the listed axes are at rest. False: they never will be
    // (a jog), so the wait outlives any host's patience.
    bool waitMotion(int mask)
    {
        const std::int64_t limitUs = clock.nowUs() + 600LL * 1000 * 1000;
        auto busy = [&] {
            for (int i = 0; i < kSlots; ++i)
                if ((mask & (1 << i)) && m.axisMoving(i))
                    return true;
            return (mask & kMaskS) && st.vec.running;
        };
        while (busy()) {
            if (clock.nowUs() > limitUs)
                return false;
            sleepMs(1);
        }
        return true;
    }

    void begin(int slot)
    {
        Axis& a = st.axes[slot];
        if (m.axisMoving(slot))
            throw Refused{21};
        if (!a.motorOn)
            throw Refused{20};
        switch (a.mode) {
        case BeginMode::Home:
            // Towards the switch edge, whichever side the axis stands on.
            a.homeSide = a.pos >= a.homeSwitch;
            a.homeDir = a.homeSide ? -1 : 1;
            a.kind = MoveKind::HomeSeek;
            a.mode = BeginMode::Position;
            return;
        case BeginMode::Jog:
            if (a.jg == 0)
                return;
            refuseIntoLimit(slot, a.jg > 0 ? 1 : -1);
            a.kind = MoveKind::Jog;
            return;
        case BeginMode::Relative:
            a.target = a.pos + a.pr;
            [[fallthrough]];
        case BeginMode::Position:
            if (a.target == a.pos)
                return;
            refuseIntoLimit(slot, a.target > a.pos ? 1 : -1);
            a.moveTarget = a.target;
            a.kind = MoveKind::Position;
            return;
        }
    }

    void refuseIntoLimit(int slot, int dir)
    {
        const Axis& a = st.axes[slot];
        if (slot >= 4)
            return;
        if (a.limitSwitch == dir || (dir > 0 && a.pos >= a.fl) || (dir < 0 && a.pos <= a.bl))
            throw Refused{22};
    }

    std::string positions(std::string_view args, bool encoder)
    {
        const int mask = parseMask(args, axisCount(), 0x0F);
        if (mask & kMaskS)
            throw Refused{1};
        std::vector<std::string> vals;
        for (int i = 0; i < kSlots; ++i)
            if (mask & (1 << i))
                vals.push_back(fmtInt(encoder ? st.axes[i].encoder() : static_cast<double>(reference(i))));
        return joinFields(vals);
    }

    int outputBit(std::string_view args)
    {
        auto n = parseNumber(args);
        if (!n || *n < 1 || *n > kOutputs || *n != std::floor(*n))
            throw Refused{6};
        return static_cast<int>(*n);
    }

    void queueSegment(std::string_view args)
    {
        Vector& vc = st.vec;
        if (vc.lmMask == 0)
            throw Refused{1};
        if (freeSlots() <= 0)
            throw Refused{7};
        Segment g;
        auto cut = [&](char mark) -> std::optional<double> {
            const std::size_t p = args.find(mark);
            if (p == std::string_view::npos)
                return std::nullopt;
            std::size_t e = p + 1;
            while (e < args.size() && args[e] != '<' && args[e] != '>')
                ++e;
            auto v = parseNumber(args.substr(p + 1, e - p - 1));
            if (!v || *v < 0)
                throw Refused{6};
            return v;
        };
        const auto speed = cut('<');
        const auto end = cut('>');
        std::size_t firstMark = std::min(args.find('<'), args.find('>'));
        const auto fields = parseFields(args.substr(0, firstMark), axisCount());
        double sq = 0;
        bool any = false;
        for (int i = 0; i < 4; ++i) {
            if (fields[i].kind == Field::Query)
                throw Refused{1};
            if (fields[i].kind != Field::Value)
                continue;
            if (!(vc.lmMask & (1 << i))) {
                if (fields[i].value != 0)
                    throw Refused{1};
                continue;
            }
            if (std::fabs(fields[i].value) > 8388607)
                throw Refused{6};
            g.d[i] = fields[i].value;
            sq += g.d[i] * g.d[i];
            any = any || g.d[i] != 0;
        }
        for (int i = 4; i < kSlots; ++i)
            if (fields[i].kind != Field::Empty)
                throw Refused{1};
        if (!any)
            throw Refused{6};
        g.len = std::sqrt(sq);
        g.speed = speed.value_or(-1);
        g.endSpeed = end.value_or(-1);
        vc.queue.push_back(g);
        vc.queuedLen += g.len;
    }

    void ecamEntry(std::string_view cmd)
    {
        // ET[i]=fields
        const std::size_t close = cmd.find(']');
        const std::size_t eq = cmd.find('=');
        if (close == std::string_view::npos || eq == std::string_view::npos || eq < close)
            throw Refused{1};
        auto idx = parseNumber(cmd.substr(1, close - 1));
        if (!idx || *idx < 0 || *idx >= kCamEntries || *idx != std::floor(*idx))
            throw Refused{101};
        const auto fields = parseFields(cmd.substr(eq + 1), axisCount());
        for (int i = 0; i < 8; ++i)
            if (fields[i].kind == Field::Value)
                st.axes[i].camTable[static_cast<int>(*idx)] = fields[i].value;
    }

    void gearMaster(std::string_view args)
    {
        args = trim(args);
        auto masterOf = [&](std::string_view v) {
            v = trim(v);
            if (v == "S")
                return kMasterS;
            if (v.size() == 2 && (v[0] == 'C' || v[0] == 'D'))
                v.remove_prefix(1);
            if (v.size() != 1)
                throw Refused{1};
            const int slot = axisSlot(v[0], axisCount());
            if (slot < 0)
                throw Refused{1};
            return slot;
        };
        if (args.size() >= 2 && args[1] == '=') {
            const int slot = axisSlot(args[0], axisCount());
            if (slot < 0 || slot == kN)
                throw Refused{1};
            st.axes[slot].gearMaster = masterOf(args.substr(2));
            return;
        }
        int slot = 0;
        std::size_t start = 0;
        while (true) {
            const std::size_t comma = args.find(',', start);
            const std::string_view f = trim(args.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
            if (slot >= 8)
                throw Refused{6};
            if (!f.empty())
                st.axes[slot].gearMaster = masterOf(f);
            ++slot;
            if (comma == std::string_view::npos)
                break;
            start = comma + 1;
        }
    }

    // Each command's handler; a name missing here is refused as unknown.
    using Handler = bool (Interpreter::*)(std::string_view op, std::string_view args, std::string& data);
    static Handler handlerFor(std::string_view op)
    {
        static const std::unordered_map<std::string_view, Handler> handlers = {
            {"MG", &Interpreter::onMG},
            {"RP", &Interpreter::onRP},
            {"TP", &Interpreter::onTP},
            {"SB", &Interpreter::onSBCB},
            {"CB", &Interpreter::onSBCB},
            {"OB", &Interpreter::onOB},
            {"WT", &Interpreter::onWT},
            {"MC", &Interpreter::onMCAM},
            {"AM", &Interpreter::onMCAM},
            {"LM", &Interpreter::onLM},
            {"LI", &Interpreter::onLI},
            {"LE", &Interpreter::onLE},
            {"CS", &Interpreter::onCS},
            {"VS", &Interpreter::onVSVAVD},
            {"VA", &Interpreter::onVSVAVD},
            {"VD", &Interpreter::onVSVAVD},
            {"BG", &Interpreter::onBG},
            {"ST", &Interpreter::onSTAB},
            {"AB", &Interpreter::onSTAB},
            {"SH", &Interpreter::onSHMO},
            {"MO", &Interpreter::onSHMO},
            {"PA", &Interpreter::onPA},
            {"PR", &Interpreter::onPR},
            {"IP", &Interpreter::onIP},
            {"JG", &Interpreter::onJG},
            {"HM", &Interpreter::onHM},
            {"DP", &Interpreter::onDP},
            {"DE", &Interpreter::onDE},
            {"BL", &Interpreter::onBL},
            {"FL", &Interpreter::onFL},
            {"SP", &Interpreter::onSPACDC},
            {"AC", &Interpreter::onSPACDC},
            {"DC", &Interpreter::onSPACDC},
            {"GR", &Interpreter::onGR},
            {"GA", &Interpreter::onGA},
            {"GM", &Interpreter::onGM},
            {"MT", &Interpreter::onMT},
            {"CE", &Interpreter::onCE},
            {"LC", &Interpreter::onLC},
            {"AG", &Interpreter::onAG},
            {"CN", &Interpreter::onCN},
            {"RS", &Interpreter::onRS},
            {"TC", &Interpreter::onTC},
            {"EA", &Interpreter::onEA},
            {"EM", &Interpreter::onEM},
            {"EP", &Interpreter::onEP},
            {"ET", &Interpreter::onET},
            {"EB", &Interpreter::onEB},
            {"EG", &Interpreter::onEG},
            {"XQ", &Interpreter::onXQ},
            {"HX", &Interpreter::onHX},
            {"JP", &Interpreter::onInProgramOnly},
            {"EN", &Interpreter::onInProgramOnly},
            {"DL", &Interpreter::onDL},
        };
        const auto it = handlers.find(op);
        return it == handlers.end() ? nullptr : it->second;
    }

    bool command(std::string_view op, std::string_view args, std::string& data)
    {
        const Handler handler = handlerFor(op);
        if (!handler)
            throw Refused{1};
        return (this->*handler)(op, args, data);
    }

    bool onMG(std::string_view, std::string_view args, std::string& data)
    {
        data = message(trim(args));
        return true;
    }

    bool onRP(std::string_view, std::string_view args, std::string& data)
    {
        data = positions(args, false);
        return true;
    }

    bool onTP(std::string_view, std::string_view args, std::string& data)
    {
        data = positions(args, true);
        return true;
    }

    bool onSBCB(std::string_view op, std::string_view args, std::string&)
    {
        const auto is = [&](const char* c) { return op == c; };
        st.out[outputBit(args)] = is("SB");
        return true;
    }

    bool onOB(std::string_view, std::string_view args, std::string&)
    {
        const auto f = parseFields(args, 8);
        if (f[0].kind != Field::Value || f[1].kind != Field::Value)
            throw Refused{1};
        st.out[outputBit(std::to_string(static_cast<int>(f[0].value)))] = f[1].value != 0;
        return true;
    }

    bool onWT(std::string_view, std::string_view args, std::string&)
    {
        auto ms = parseNumber(args);
        if (!ms || *ms < 0)
            throw Refused{6};
        sleepMs(*ms);
        return true;
    }

    bool onMCAM(std::string_view, std::string_view args, std::string&)
    {
        return waitMotion(parseMask(args, axisCount(), allAxesMask() | kMaskS));
    }

    bool onLM(std::string_view, std::string_view args, std::string& data)
    {
        args = trim(args);
        if (args == "?") {
            data = fmtInt(freeSlots());
            return true;
        }
        if (st.vec.running)
            throw Refused{7};
        const int mask = parseMask(args, axisCount(), 0);
        if (mask == 0 || (mask & ~0x0F))
            throw Refused{1};
        st.vec.lmMask = mask;
        return true;
    }

    bool onLI(std::string_view, std::string_view args, std::string&)
    {
        queueSegment(args);
        return true;
    }

    bool onLE(std::string_view, std::string_view args, std::string&)
    {
        if (!trim(args).empty())
            throw Refused{1};
        st.vec.leSent = true;
        return true;
    }

    bool onCS(std::string_view, std::string_view, std::string&)
    {
        if (st.vec.running)
            throw Refused{7};
        st.vec.queue.clear();
        st.vec.queuedLen = 0;
        st.vec.leSent = false;
        st.vec.segmentsDone = 0;
        return true;
    }

    bool onVSVAVD(std::string_view op, std::string_view args, std::string& data)
    {
        const auto is = [&](const char* c) { return op == c; };
        args = trim(args);
        double& target = is("VS") ? st.vec.vs : is("VA") ? st.vec.va : st.vec.vd;
        if (args == "?") {
            data = fmtInt(target);
            return true;
        }
        auto v = parseNumber(args);
        if (!v || *v <= 0)
            throw Refused{6};
        target = *v;
        return true;
    }

    bool onBG(std::string_view, std::string_view args, std::string&)
    {
        const int mask = parseMask(args, axisCount(), allAxesMask());
        // Check every axis before starting any, as the controller refuses the whole command.
        for (int i = 0; i < kSlots; ++i)
            if (mask & (1 << i)) {
                if (m.axisMoving(i))
                    throw Refused{21};
                if (!st.axes[i].motorOn)
                    throw Refused{20};
            }
        if (mask & kMaskS) {
            if (st.vec.running)
                throw Refused{21};
            if (st.vec.queue.empty())
                throw Refused{24};
            for (int i = 0; i < 4; ++i)
                if ((st.vec.lmMask & (1 << i)) && (!st.axes[i].motorOn))
                    throw Refused{20};
        }
        for (int i = 0; i < kSlots; ++i)
            if (mask & (1 << i))
                begin(i);
        if (mask & kMaskS) {
            st.vec.running = true;
            st.vec.stopping = false;
            st.vec.v = 0;
        }
        return true;
    }

    bool onSTAB(std::string_view op, std::string_view args, std::string&)
    {
        const auto is = [&](const char* c) { return op == c; };
        const int mask = is("AB") ? (0x1FF | kMaskS) : parseMask(args, axisCount(), 0x1FF | kMaskS);
        // AB stops the programs too; "AB 1" aborts the motion only.
        if (is("AB") && trim(args) != "1")
            st.threads = {};
        for (int i = 0; i < kSlots; ++i) {
            if (!(mask & (1 << i)))
                continue;
            Axis& a = st.axes[i];
            if (is("AB")) {
                a.kind = MoveKind::None;
                a.v = 0;
            } else if (a.kind != MoveKind::None) {
                a.kind = MoveKind::Stopping;
            }
            if (a.mode == BeginMode::Home)
                a.mode = BeginMode::Position;
        }
        if (mask & kMaskS) {
            if (is("AB") || (st.vec.running && st.vec.v == 0))
                Machine(st).endSequence();
            else if (st.vec.running)
                st.vec.stopping = true;
        }
        return true;
    }

    bool onSHMO(std::string_view op, std::string_view args, std::string&)
    {
        const auto is = [&](const char* c) { return op == c; };
        const int mask = parseMask(args, axisCount(), allAxesMask());
        for (int i = 0; i < 8; ++i)
            if (mask & (1 << i)) {
                Axis& a = st.axes[i];
                a.motorOn = is("SH");
                if (!a.motorOn) {
                    a.kind = MoveKind::None;
                    a.v = 0;
                    if (m.axisInVector(i))
                        Machine(st).endSequence();
                }
            }
        return true;
    }

    bool onPA(std::string_view, std::string_view args, std::string& data)
    {
        const auto fields = parseFields(args, axisCount());
        std::vector<std::string> answers;
        for (int i = 0; i < 8; ++i) {
            Axis& a = st.axes[i];
            if (fields[i].kind == Field::Query)
                answers.push_back(fmtInt(a.target));
            else if (fields[i].kind == Field::Value) {
                if (std::fabs(fields[i].value) > 2147483647)
                    throw Refused{6};
                // Only the next BG uses it; a running move keeps its own target.
                a.target = std::round(fields[i].value);
                a.mode = BeginMode::Position;
            }
        }
        if (fields[kN].kind != Field::Empty)
            throw Refused{1};
        data = joinFields(answers);
        return true;
    }

    bool onPR(std::string_view, std::string_view args, std::string& data)
    {
        const auto fields = parseFields(args, axisCount());
        std::vector<std::string> answers;
        for (int i = 0; i < kSlots; ++i) {
            Axis& a = st.axes[i];
            if (fields[i].kind == Field::Query)
                answers.push_back(fmtInt(a.pr));
            else if (fields[i].kind == Field::Value) {
                a.pr = std::round(fields[i].value);
                a.mode = BeginMode::Relative;
            }
        }
        data = joinFields(answers);
        return true;
    }

    bool onIP(std::string_view, std::string_view args, std::string&)
    {
        const auto fields = parseFields(args, axisCount());
        for (int i = 0; i < 8; ++i)
            if (fields[i].kind == Field::Query)
                throw Refused{1};
        for (int i = 0; i < 8; ++i) {
            if (fields[i].kind != Field::Value)
                continue;
            Axis& a = st.axes[i];
            if (a.kind == MoveKind::Jog || a.kind == MoveKind::Stopping || a.kind == MoveKind::HomeSeek ||
                a.kind == MoveKind::HomeDecel || a.kind == MoveKind::HomeBack || m.axisInVector(i))
                throw Refused{7};
            if (!a.motorOn)
                throw Refused{20};
        }
        for (int i = 0; i < 8; ++i) {
            if (fields[i].kind != Field::Value)
                continue;
            Axis& a = st.axes[i];
            const double n = std::round(fields[i].value);
            if (a.kind == MoveKind::Position) {
                a.moveTarget += n;
                a.target = a.moveTarget;
            } else {
                a.target = a.pos + n;
                a.mode = BeginMode::Position;
                begin(i);
            }
        }
        return true;
    }

    bool onJG(std::string_view, std::string_view args, std::string& data)
    {
        const auto fields = parseFields(args, axisCount());
        std::vector<std::string> answers;
        for (int i = 0; i < kSlots; ++i) {
            Axis& a = st.axes[i];
            if (fields[i].kind == Field::Query)
                answers.push_back(fmtInt(a.jg));
            else if (fields[i].kind == Field::Value) {
                a.jg = fields[i].value;
                a.mode = BeginMode::Jog;
            }
        }
        data = joinFields(answers);
        return true;
    }

    bool onHM(std::string_view, std::string_view args, std::string&)
    {
        const int mask = parseMask(args, axisCount(), allAxesMask());
        for (int i = 0; i < 8; ++i)
            if (mask & (1 << i))
                st.axes[i].mode = BeginMode::Home;
        return true;
    }

    bool onDP(std::string_view, std::string_view args, std::string& data)
    {
        const auto fields = parseFields(args, axisCount());
        std::vector<std::string> answers;
        for (int i = 0; i < kSlots; ++i) {
            Axis& a = st.axes[i];
            if (fields[i].kind == Field::Query)
                answers.push_back(fmtInt(a.pos));
            else if (fields[i].kind == Field::Value) {
                refuseIfMoving(i);
                // The reference moves, the encoder stays where it is.
                const double enc = a.encoder();
                a.pos = std::round(fields[i].value);
                a.target = a.pos;
                if (a.encFollows)
                    a.encOffset = enc - a.pos;
                if (i == 3)
                    st.wStepsSeen = std::llround(a.pos);
            }
        }
        data = joinFields(answers);
        return true;
    }

    bool onDE(std::string_view, std::string_view args, std::string& data)
    {
        const auto fields = parseFields(args, axisCount());
        std::vector<std::string> answers;
        for (int i = 0; i < 8; ++i) {
            Axis& a = st.axes[i];
            if (fields[i].kind == Field::Query)
                answers.push_back(fmtInt(a.encoder()));
            else if (fields[i].kind == Field::Value) {
                const double v = std::round(fields[i].value);
                if (a.encFollows)
                    a.encOffset = v - a.pos;
                else
                    a.encValue = v;
            }
        }
        data = joinFields(answers);
        return true;
    }

    bool onBL(std::string_view, std::string_view args, std::string& data)
    {
        data = fieldsCommand(args, &Axis::bl, true, false);
        return true;
    }

    bool onFL(std::string_view, std::string_view args, std::string& data)
    {
        data = fieldsCommand(args, &Axis::fl, true, false);
        return true;
    }

    bool onSPACDC(std::string_view op, std::string_view args, std::string& data)
    {
        const auto is = [&](const char* c) { return op == c; };
        const auto fields = parseFields(args, axisCount());
        for (int i = 0; i < kSlots; ++i)
            if (fields[i].kind == Field::Value && (fields[i].value < 0 || fields[i].value > 1.0e9))
                throw Refused{6};
        for (int i = 0; i < kSlots; ++i)
            if (fields[i].kind == Field::Value && fields[i].value == 0 && !is("SP"))
                throw Refused{6};
        data = fieldsCommand(args, is("SP") ? &Axis::sp : is("AC") ? &Axis::ac : &Axis::dc, true);
        return true;
    }

    bool onGR(std::string_view, std::string_view args, std::string& data)
    {
        const auto fields = parseFields(args, axisCount());
        std::vector<std::string> answers;
        for (int i = 0; i < 8; ++i) {
            if (fields[i].kind == Field::Query)
                answers.push_back(fmtFixed4(st.axes[i].ratio));
            else if (fields[i].kind == Field::Value) {
                if (std::fabs(fields[i].value) > 127)
                    throw Refused{6};
                st.axes[i].ratio = std::round(fields[i].value * 65536.0) / 65536.0;
            }
        }
        data = joinFields(answers);
        return true;
    }

    bool onGA(std::string_view, std::string_view args, std::string&)
    {
        gearMaster(args);
        return true;
    }

    bool onGM(std::string_view, std::string_view args, std::string&)
    {
        const auto fields = parseFields(args, axisCount());
        for (int i = 0; i < 8; ++i)
            if (fields[i].kind == Field::Value)
                st.axes[i].gantry = fields[i].value != 0;
        return true;
    }

    bool onMT(std::string_view, std::string_view args, std::string& data)
    {
        data = fieldsCommand(args, &Axis::mt, false, false);
        return true;
    }

    bool onCE(std::string_view, std::string_view args, std::string& data)
    {
        data = fieldsCommand(args, &Axis::ce, true, false);
        return true;
    }

    bool onLC(std::string_view, std::string_view args, std::string& data)
    {
        data = fieldsCommand(args, &Axis::lc, true, false);
        return true;
    }

    bool onAG(std::string_view, std::string_view args, std::string& data)
    {
        const auto fields = parseFields(args, axisCount());
        for (int i = 0; i < 8; ++i)
            if (fields[i].kind == Field::Value && st.axes[i].motorOn)
                throw Refused{28};
        data = fieldsCommand(args, &Axis::ag, true, false);
        return true;
    }

    bool onCN(std::string_view, std::string_view args, std::string&)
    {
        const auto fields = parseFields(args, 8);
        for (int i = 0; i < 2; ++i)
            if (fields[i].kind == Field::Value && std::fabs(fields[i].value) != 1)
                throw Refused{6};
        for (int i = 0; i < 4; ++i) {
            if (fields[0].kind == Field::Value)
                st.axes[i].cnLimit = fields[0].value;
            if (fields[1].kind == Field::Value)
                st.axes[i].cnHome = fields[1].value;
        }
        return true;
    }

    bool onRS(std::string_view, std::string_view args, std::string&)
    {
        if (!trim(args).empty())
            throw Refused{1};
        st.resetController();
        sleepMs(st.model.resetMs);
        return true;
    }

    bool onTC(std::string_view, std::string_view args, std::string& data)
    {
        args = trim(args);
        if (args == "1")
            data = fmtInt(st.errorCode) + " " + errorText(st.errorCode);
        else if (args.empty() || args == "0")
            data = fmtInt(st.errorCode);
        else
            throw Refused{1};
        return true;
    }

    bool onEA(std::string_view, std::string_view args, std::string&)
    {
        const int mask = parseMask(args, axisCount(), 0);
        int count = 0;
        for (int i = 0; i < kSlots; ++i)
            if (mask & (1 << i)) {
                st.cam.master = i;
                ++count;
            }
        if (count != 1 || (mask & kMaskS))
            throw Refused{1};
        return true;
    }

    bool onEM(std::string_view, std::string_view args, std::string&)
    {
        const auto fields = parseFields(args, axisCount());
        for (int i = 0; i < 8; ++i) {
            if (fields[i].kind != Field::Value)
                continue;
            if (i == st.cam.master)
                st.cam.cycle = fields[i].value;
            else
                st.axes[i].camChange = fields[i].value;
        }
        return true;
    }

    bool onEP(std::string_view, std::string_view args, std::string&)
    {
        if (st.cam.enabled && std::any_of(st.axes.begin(), st.axes.end(), [](const Axis& a) { return a.camEngaged; }))
            throw Refused{100};
        const auto fields = parseFields(args, 8);
        if (fields[0].kind == Field::Value) {
            if (fields[0].value < 1 || fields[0].value > 32767)
                throw Refused{6};
            st.cam.interval = static_cast<int>(fields[0].value);
        }
        if (fields[1].kind == Field::Value)
            st.cam.phase = fields[1].value;
        return true;
    }

    bool onET(std::string_view, std::string_view args, std::string&)
    {
        ecamEntry(args);
        return true;
    }

    bool onEB(std::string_view, std::string_view args, std::string&)
    {
        auto v = parseNumber(args);
        if (!v || (*v != 0 && *v != 1))
            throw Refused{6};
        st.cam.enabled = *v == 1;
        if (!st.cam.enabled)
            for (Axis& a : st.axes) {
                a.camEngaged = false;
                a.camPending = false;
            }
        return true;
    }

    bool onEG(std::string_view, std::string_view args, std::string&)
    {
        if (!st.cam.enabled)
            throw Refused{100};
        const auto fields = parseFields(args, axisCount());
        const double master = st.axes[st.cam.master].encoder();
        for (int i = 0; i < 8; ++i) {
            if (fields[i].kind != Field::Value || i == st.cam.master)
                continue;
            Axis& a = st.axes[i];
            const double at = fields[i].value;
            // A position outside the cycle, or where the master already is, engages now.
            if ((st.cam.cycle > 0 && (at < 0 || at >= st.cam.cycle)) || std::fabs(master - at) < 0.5) {
                a.camEngaged = true;
                a.camPending = false;
            } else {
                a.camPending = true;
                a.camEngageAt = at;
            }
        }
        return true;
    }

    // XQ #LABEL,n starts thread n (0 when not given) at the label; XQ alone runs the program
    // from its first line in thread 0. A thread that runs is started over.
    bool onXQ(std::string_view, std::string_view args, std::string&)
    {
        args = trim(args);
        std::size_t at = 0;
        int thread = 0;
        if (!args.empty()) {
            const std::size_t comma = args.find(',');
            const std::string label(trim(args.substr(0, comma)));
            if (comma != std::string_view::npos) {
                auto n = parseNumber(trim(args.substr(comma + 1)));
                if (!n || *n < 0 || *n >= kThreads || *n != std::floor(*n))
                    throw Refused{6};
                thread = static_cast<int>(*n);
            }
            if (!label.empty()) {
                const auto it = st.labels.find(label);
                if (it == st.labels.end())
                    throw Refused{110};
                at = it->second;
            }
        }
        if (st.program.empty())
            throw Refused{110};
        st.threads[thread] = ProgramThread{true, at, st.program[at].line, 0, 0};
        return true;
    }

    // HX n halts thread n; HX alone halts them all.
    bool onHX(std::string_view, std::string_view args, std::string&)
    {
        args = trim(args);
        if (args.empty()) {
            st.threads = {};
            return true;
        }
        auto n = parseNumber(args);
        if (!n || *n < 0 || *n >= kThreads || *n != std::floor(*n))
            throw Refused{6};
        st.threads[static_cast<int>(*n)] = {};
        return true;
    }

    // Jumps and the end of a program mean nothing outside one.
    bool onInProgramOnly(std::string_view, std::string_view, std::string&) { throw Refused{1}; }

    // "DL" on a line of its own is the host's side of a download; the whole download comes in
    // as one piece (see download()).
    bool onDL(std::string_view, std::string_view, std::string&) { throw Refused{1}; }

    std::string message(std::string_view args)
    {
        if (args.empty())
            return {};
        std::string out;
        bool quoted = false;
        std::size_t start = 0;
        std::vector<std::string_view> items;
        for (std::size_t i = 0; i < args.size(); ++i) {
            if (args[i] == '"')
                quoted = !quoted;
            else if (args[i] == ',' && !quoted) {
                items.push_back(args.substr(start, i - start));
                start = i + 1;
            }
        }
        if (quoted)
            throw Refused{1};
        items.push_back(args.substr(start));
        for (std::string_view item : items) {
            item = trim(item);
            if (!out.empty())
                out += ' ';
            if (item.size() >= 2 && item.front() == '"' && item.back() == '"')
                out += std::string(item.substr(1, item.size() - 2));
            else
                out += fmtFixed4(evaluate(item));
        }
        return out;
    }

    DmcSimulatorState& st;
    Clock& clock;
    Machine m;
    int m_nesting = 0;
};

// The program threads after a sample: each runs until it waits (WT, MC, AM), ends (EN, the
// last line, an error) or has run a sample's worth of commands.
void runProgramThreads(DmcSimulatorState& st)
{
    constexpr int kCommandsPerSample = 16;
    Interpreter interp(st, systemClock()); // program commands never wait on the host's clock
    Machine m(st);
    for (ProgramThread& t : st.threads) {
        if (!t.running || t.waitUntilUs > st.timeUs)
            continue;
        if (t.waitMotionMask) {
            bool busy = (t.waitMotionMask & kMaskS) && st.vec.running;
            for (int i = 0; i < kSlots && !busy; ++i)
                busy = (t.waitMotionMask & (1 << i)) && m.axisMoving(i);
            if (busy)
                continue;
            t.waitMotionMask = 0;
        }
        for (int n = 0; n < kCommandsPerSample && t.running; ++n) {
            if (t.next >= st.program.size()) {
                t.running = false;
                break;
            }
            const std::string cmd = st.program[t.next].text;
            t.line = st.program[t.next].line;
            ++t.next;
            try {
                if (cmd.front() == '#')
                    continue;
                const std::string_view op = std::string_view(cmd).substr(0, 2);
                const std::string_view args = trim(std::string_view(cmd).substr(std::min<std::size_t>(2, cmd.size())));
                if (op == "EN") {
                    t.running = false;
                    break;
                }
                if (op == "WT") {
                    const auto ms = parseNumber(args);
                    if (!ms || *ms < 0)
                        throw Refused{6};
                    t.waitUntilUs = st.timeUs + static_cast<std::int64_t>(*ms * 1000);
                    break;
                }
                if (op == "MC" || op == "AM") {
                    t.waitMotionMask = parseMask(args, st.model.axisCount, (st.model.axisCount >= 8 ? 0xFF : 0x0F) | kMaskS);
                    break;
                }
                if (op == "JP") {
                    const std::size_t comma = args.find(',');
                    const std::string label(trim(args.substr(0, comma)));
                    const auto it = st.labels.find(label);
                    if (it == st.labels.end())
                        throw Refused{110};
                    if (comma == std::string_view::npos || interp.condition(trim(args.substr(comma + 1))))
                        t.next = it->second;
                    continue;
                }
                interp.programCommand(cmd);
            } catch (const Refused& r) {
                // An error ends the thread (a program without an error routine).
                st.errorCode = r.code;
                t.running = false;
            }
        }
    }
}

} // namespace

// ---------------------------------------------------------------------------------------

DmcSimulator::DmcSimulator(Clock* clock, DmcModel model)
    : m_clock(clock), m_state(std::make_unique<DmcSimulatorState>())
{
    m_state->model = model;
    m_state->resetController();
    for (int i = 0; i < 8; ++i)
        m_state->axes[i].motorOn = model.motorsOnAtPowerOn;
}

DmcSimulator::~DmcSimulator() = default;

Clock& DmcSimulator::clock() const
{
    return m_clock ? *m_clock : systemClock();
}

std::optional<std::string> DmcSimulator::execute(std::string_view line,
                                                 const std::function<void(std::string_view)>& sendPart)
{
    std::lock_guard lock(m_mutex);
    DmcSimulatorState& st = *m_state;
    const std::int64_t startUs = clock().nowUs();
    auto log = [&](const std::optional<std::string>& reply) {
        st.transcript.push_back({startUs, std::string(line), reply ? *reply : std::string("(no reply)")});
        while (st.transcript.size() > st.transcriptLimit)
            st.transcript.pop_front();
        return reply;
    };
    if (st.lost)
        return log(std::nullopt);
    if (st.linesUntilLost >= 0) {
        if (st.linesUntilLost == 0) {
            st.lost = true;
            return log(std::nullopt);
        }
        --st.linesUntilLost;
    }
    if (st.noReply)
        return log(std::nullopt);
    if (st.garbage) {
        std::string junk;
        for (int i = 0, n = galil::commandsInLine(line); i < n; ++i)
            junk += "#%&garbage\r\n:";
        if (sendPart)
            sendPart(junk);
        return log(junk);
    }
    Interpreter interp(st, clock());
    std::string reply;
    if (galil::isDownload(line)) {
        Machine(st).advanceTo(clock().nowUs());
        interp.download(line, reply);
        if (sendPart)
            sendPart(reply);
        return log(reply);
    }
    for (std::string_view cmd : splitCommands(line)) {
        const std::size_t before = reply.size();
        if (!interp.run(cmd, reply))
            return log(std::nullopt);
        if (sendPart)
            sendPart(std::string_view(reply).substr(before));
    }
    return log(reply);
}

std::string DmcSimulator::revision() const
{
    return "DMC4040 Rev sim";
}

std::int64_t DmcSimulator::referencePosition(char axis) const
{
    std::lock_guard lock(m_mutex);
    syncLocked();
    const int slot = axisSlot(axis, 8);
    if (slot == 3)
        return m_state->wStepsSeen;
    return slot < 0 ? 0 : std::llround(m_state->axes[slot].pos);
}

std::int64_t DmcSimulator::encoderPosition(char axis) const
{
    std::lock_guard lock(m_mutex);
    syncLocked();
    const int slot = axisSlot(axis, 8);
    return slot < 0 ? 0 : std::llround(m_state->axes[slot].encoder());
}

bool DmcSimulator::isMoving(char axis) const
{
    std::lock_guard lock(m_mutex);
    syncLocked();
    Machine m(*m_state);
    if (axis == 'S')
        return m_state->vec.running;
    const int slot = axisSlot(axis, 8);
    return slot >= 0 && m.axisMoving(slot);
}

bool DmcSimulator::output(int bit) const
{
    std::lock_guard lock(m_mutex);
    syncLocked();
    return bit >= 1 && bit <= kOutputs && m_state->out[bit];
}

void DmcSimulator::advanceToNow()
{
    std::lock_guard lock(m_mutex);
    syncLocked();
}

void DmcSimulator::syncLocked() const
{
    Machine(*m_state).advanceTo(clock().nowUs());
}

void DmcSimulator::setWiring(const DmcWiring& wiring)
{
    std::lock_guard lock(m_mutex);
    m_state->wiring = wiring;
}

DmcWiring DmcSimulator::wiring() const
{
    std::lock_guard lock(m_mutex);
    return m_state->wiring;
}

std::vector<LaserMark> DmcSimulator::marks() const
{
    std::lock_guard lock(m_mutex);
    syncLocked();
    return m_state->marks;
}

std::size_t DmcSimulator::markCount() const
{
    std::lock_guard lock(m_mutex);
    syncLocked();
    return m_state->marks.size();
}

void DmcSimulator::setMarkFaults(const LaserMarkFaults& faults)
{
    std::lock_guard lock(m_mutex);
    syncLocked();
    m_state->markFaults = LaserMarkFaultModel(faults);
}

void DmcSimulator::clearMarks()
{
    std::lock_guard lock(m_mutex);
    m_state->marks.clear();
}

std::int64_t DmcSimulator::wSteps() const
{
    std::lock_guard lock(m_mutex);
    syncLocked();
    return m_state->wStepsTotal;
}

void DmcSimulator::setNoReply(bool on)
{
    std::lock_guard lock(m_mutex);
    m_state->noReply = on;
}

void DmcSimulator::setGarbageReply(bool on)
{
    std::lock_guard lock(m_mutex);
    m_state->garbage = on;
}

void DmcSimulator::setLinkLostAfter(int lines)
{
    std::lock_guard lock(m_mutex);
    m_state->linesUntilLost = lines;
    if (lines < 0)
        m_state->lost = false;
}

bool DmcSimulator::linkLost() const
{
    std::lock_guard lock(m_mutex);
    return m_state->lost;
}

void DmcSimulator::forceBufferUnderrun()
{
    std::lock_guard lock(m_mutex);
    Vector& vc = m_state->vec;
    while (vc.queue.size() > 1) {
        vc.queuedLen -= vc.queue.back().len;
        vc.queue.pop_back();
    }
    if (!vc.running && !vc.queue.empty()) {
        vc.queue.clear();
        vc.queuedLen = 0;
    }
    vc.leSent = false;
}

void DmcSimulator::setLimitSwitch(char axis, int direction)
{
    std::lock_guard lock(m_mutex);
    const int slot = axisSlot(axis, 8);
    if (slot >= 0 && slot < 4)
        m_state->axes[slot].limitSwitch = direction > 0 ? 1 : direction < 0 ? -1 : 0;
}

void DmcSimulator::setHomeSwitch(char axis, std::int64_t counts)
{
    std::lock_guard lock(m_mutex);
    const int slot = axisSlot(axis, 8);
    if (slot >= 0 && slot < 4) {
        m_state->axes[slot].homeSwitch = static_cast<double>(counts);
        m_state->model.homeSwitch[slot] = counts;
    }
}

std::vector<DmcTranscriptEntry> DmcSimulator::transcript() const
{
    std::lock_guard lock(m_mutex);
    return {m_state->transcript.begin(), m_state->transcript.end()};
}

void DmcSimulator::setTranscriptLimit(std::size_t maxEntries)
{
    std::lock_guard lock(m_mutex);
    m_state->transcriptLimit = maxEntries;
    while (m_state->transcript.size() > maxEntries)
        m_state->transcript.pop_front();
}

void DmcSimulator::clearTranscript()
{
    std::lock_guard lock(m_mutex);
    m_state->transcript.clear();
}

// ---------------------------------------------------------------------------------------

namespace {
std::mutex g_currentMutex;
std::shared_ptr<DmcSimulator> g_current;
} // namespace

std::shared_ptr<DmcSimulator> currentDmcSimulator()
{
    std::lock_guard lock(g_currentMutex);
    if (!g_current)
        g_current = std::make_shared<DmcSimulator>();
    return g_current;
}

void setCurrentDmcSimulator(std::shared_ptr<DmcSimulator> simulator)
{
    std::lock_guard lock(g_currentMutex);
    g_current = std::move(simulator);
}

ScopedDmcSimulator::ScopedDmcSimulator(Clock* clock, DmcModel model)
    : m_sim(std::make_shared<DmcSimulator>(clock, model))
{
    std::lock_guard lock(g_currentMutex);
    m_previous = g_current;
    g_current = m_sim;
}

ScopedDmcSimulator::~ScopedDmcSimulator()
{
    std::lock_guard lock(g_currentMutex);
    g_current = m_previous;
}

} // namespace lapido
