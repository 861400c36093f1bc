// DmcSimulator: the motion controller in software, with the laser record of every mark it made.
#pragma once

#include <QImage>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lapido {

class Clock;
struct LaserMarkFaults;

// How the laser hangs on the controller's outputs. Defaults match the station's defaults:
// gate on output 1, enable on 2, system supply on 3, all active high (no inverted lines).
struct DmcWiring {
    int gateBit = 1;
    bool gateActiveHigh = true;
    int enableBit = 2;
    bool enableActiveHigh = true;
    int systemBit = 3;
    bool systemActiveHigh = true;
    // A gated source emits while the gate is open (marks every controller sample) instead of
    // one pulse per W step.
    bool gatedSource = false;
    // Scales and directions for the laser record (counts per mm; a reversed axis counts
    // opposite to millimetres).
    double xyCountsPerMm = 1000.0;
    double zCountsPerMm = 1000.0;
    bool xReversed = false;
    bool yReversed = false;
    bool zReversed = false;
};

enum class LaserMarkKind { Pulse, Gated };

// One mark on the stone: where the table and focus were when the laser fired.
struct LaserMark {
    double xMm = 0;
    double yMm = 0;
    double zMm = 0;
    std::int64_t timeUs = 0; // controller time
    LaserMarkKind kind = LaserMarkKind::Pulse;
    bool operator==(const LaserMark&) const = default;
};

// The laser record written out, for the simulator's own marks and for any list of them.
// CSV: header "x_mm,y_mm,z_mm,time_us,kind", one line per mark. The picture: pixelsPerMm
// pixels per mm, one dark dot per mark on white, a margin of marginMm around the marks (y
// upwards); a null image when there are no marks or the picture would be unreasonably large.
bool writeMarksCsv(std::span<const LaserMark> marks, const QString& path, QString* error = nullptr);
QImage marksImage(std::span<const LaserMark> marks, double pixelsPerMm, double marginMm = 0.1);
bool writeMarksPng(std::span<const LaserMark> marks, const QString& path, double pixelsPerMm,
                   QString* error = nullptr);

// Controller model settings (the open points of the real hardware, settled per model).
struct DmcModel {
    int bufferSize = 512;   // LI buffer; 511 reproduces a DMC-40x0
    int axisCount = 4;      // 4: "MG _BGE" is refused; 8: it reads 0
    int resetMs = 200;      // duration of "RS"
    // Drives on at power-on (as after a start-up program's "SH"); "RS" always leaves them off,
    // which is the state the station's start-up expects.
    bool motorsOnAtPowerOn = true;
    std::int64_t homeSwitch[4] = {0, 0, 0, 0}; // home switch transition per axis, counts
};

// One line received and what was answered (the transcript tests read).
struct DmcTranscriptEntry {
    std::int64_t timeUs = 0;
    std::string line;
    std::string reply;
};

class DmcSimulatorState;

// Executes the command lines a station sends, on axes X, Y, Z, W (A..D), the virtual axis N
// and the vector axis S, and answers byte for byte as the controller does (':' per command,
// '?' when refused, data followed by "\r\n:"). Its state advances to the clock's time at each
// line; controller-side waits (WT, MC, RS) sleep on the clock, so on a virtual clock a whole
// marking runs in milliseconds. Thread safe.
class DmcSimulator {
public:
    // clock: the time source; null means systemClock() at each use.
    explicit DmcSimulator(Clock* clock = nullptr, DmcModel model = {});
    ~DmcSimulator();
    DmcSimulator(const DmcSimulator&) = delete;
    DmcSimulator& operator=(const DmcSimulator&) = delete;

    // Executes one line (without its carriage return) and returns the bytes the controller
    // sends back. nullopt: nothing comes back (injected no-reply fault or lost link).
    // sendPart, when given, receives each command's answer as soon as it is ready, so that
    // the acknowledgements of a line holding WT or MC arrive late, one by one, as they do
    // from the controller.
    std::optional<std::string> execute(std::string_view line,
                                       const std::function<void(std::string_view)>& sendPart = {});
    // The firmware text of "^R^V".
    std::string revision() const;

    // --- state for tests and tools, as of the clock's present time; axis is one of X Y Z W
    // (or A B C D) and N
    std::int64_t referencePosition(char axis) const;
    std::int64_t encoderPosition(char axis) const;
    bool isMoving(char axis) const; // 'S' for the vector sequence
    bool output(int bit) const;
    // Brings the model up to the clock's present time without a command.
    void advanceToNow();

    // --- laser record
    void setWiring(const DmcWiring& wiring);
    DmcWiring wiring() const;
    std::vector<LaserMark> marks() const;
    std::size_t markCount() const;
    void clearMarks();
    // W steps issued since power-on or RS, whether the laser was ready or not.
    std::int64_t wSteps() const;
    // CSV: header "x_mm,y_mm,z_mm,time_us,kind", one line per mark.
    bool writeMarksCsv(const QString& path, QString* error = nullptr) const;
    // Picture of the marked area, pixelsPerMm pixels per mm, one dark dot per mark on white,
    // with a margin of marginMm around the marks (y upwards). A null image when no marks.
    QImage marksImage(double pixelsPerMm, double marginMm = 0.1) const;
    bool writeMarksPng(const QString& path, double pixelsPerMm, QString* error = nullptr) const;

    // --- fault injection
    void setNoReply(bool on);          // every line goes unanswered
    void setGarbageReply(bool on);     // every line is answered with bytes that are no reply
    void setLinkLostAfter(int lines);  // after this many more lines nothing is answered; -1 off
    bool linkLost() const;
    void forceBufferUnderrun();        // drops the queued segments: the path runs dry
    // A limit switch: direction +1 forward, -1 reverse, 0 released.
    void setLimitSwitch(char axis, int direction);
    void setHomeSwitch(char axis, std::int64_t counts);
    // Faults of the marks from the next pulse on, its pulses counted from there (lasermarkfaults.h).
    void setMarkFaults(const LaserMarkFaults& faults);

    // --- transcript (bounded: the last maxEntries lines)
    std::vector<DmcTranscriptEntry> transcript() const;
    void setTranscriptLimit(std::size_t maxEntries);
    void clearTranscript();

private:
    Clock& clock() const;
    // Brings the model to the clock's time; the state is behind a pointer, so readers that
    // only observe may call it (the model is the same whenever it is looked at).
    void syncLocked() const;

    Clock* m_clock;
    mutable std::recursive_mutex m_mutex;
    std::unique_ptr<DmcSimulatorState> m_state;
};

// The simulator that address "sim" connects to, created on first use. Tests install a fresh
// one (with their virtual clock) so they can read its marks and inject faults while the
// station talks to it.
std::shared_ptr<DmcSimulator> currentDmcSimulator();
void setCurrentDmcSimulator(std::shared_ptr<DmcSimulator> simulator);

// Installs a fresh simulator for the lifetime of the object (tests).
class ScopedDmcSimulator {
public:
    explicit ScopedDmcSimulator(Clock* clock = nullptr, DmcModel model = {});
    ~ScopedDmcSimulator();
    ScopedDmcSimulator(const ScopedDmcSimulator&) = delete;
    ScopedDmcSimulator& operator=(const ScopedDmcSimulator&) = delete;
    DmcSimulator& operator*() const { return *m_sim; }
    DmcSimulator* operator->() const { return m_sim.get(); }
    const std::shared_ptr<DmcSimulator>& get() const { return m_sim; }

private:
    std::shared_ptr<DmcSimulator> m_sim;
    std::shared_ptr<DmcSimulator> m_previous;
};

} // namespace lapido
