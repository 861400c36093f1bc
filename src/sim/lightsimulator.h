// A simulated ring-light controller at the far end of a pseudo-terminal.
#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace lapido {

// Answers like the light controller's firmware on the slave side of a pseudo-terminal, so
// that the station opens it through its ordinary serial port code:
//   "TSN"           -> identity with the "RNG" tag, CR LF
//   "TC"            -> the 16 entries "i#r#g#b#@", CR LF
//   "SC<pattern>;"  -> sets the LEDs named in the pattern, no reply
//   "SR<n>"         -> rotates the ring n positions (LED i takes LED i+1's colour), no reply
// Commands end in CR LF (a lone CR or LF is accepted too). Faults replace the answers.
class LightSimulator {
public:
    enum class Fault {
        None,
        Silent,       // reads everything, answers nothing
        Garbage,      // answers every command with bytes that mean nothing, then CR LF
        OtherDevice,  // a different instrument: its identity lacks the tag, "TC" gets "?"
        EndlessReply, // starts a reply to "TSN" or "TC" and never ends it
    };
    static constexpr int kLeds = 16;

    LightSimulator();
    ~LightSimulator(); // stops
    LightSimulator(const LightSimulator&) = delete;
    LightSimulator& operator=(const LightSimulator&) = delete;

    // Opens the pseudo-terminal pair and starts answering; false with a reason on failure.
    bool start(QString* error = nullptr);
    void stop();
    // The device path the station opens ("/dev/pts/N"); empty before start().
    QString portName() const { return m_portName; }

    void setFault(Fault fault) { m_fault = fault; }
    Fault fault() const { return m_fault; }
    // "none", "silent", "garbage", "other", "endless".
    static std::optional<Fault> faultFromName(const QString& name);

    // The current colours as the firmware reports them to "TC" (without CR LF).
    QString pattern() const;
    // Sets the colours from a pattern text, as "SC" does.
    void setPattern(const QString& pattern);
    // Every command received, in order, without its line end.
    QStringList received() const;
    void clearReceived();
    // Sends bytes nobody asked for (a late or stray reply), at once, from the caller's thread.
    void speakOutOfTurn(const QByteArray& bytes) { send(bytes); }
    // Called on the simulator's thread with each command as it arrives.
    void setCommandObserver(std::function<void(const QString&)> observer);

private:
    struct Rgb {
        int red = 0;
        int green = 0;
        int blue = 0;
    };
    void run();
    void handle(const QByteArray& line);
    void send(const QByteArray& bytes);
    void applyPattern(const QString& pattern); // m_mutex held
    QString patternLocked() const;

    int m_master = -1;
    int m_slave = -1; // held open so that the master never sees a hang-up between clients
    QString m_portName;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<Fault> m_fault{Fault::None};
    std::atomic<bool> m_streaming{false};
    QByteArray m_input;

    mutable std::mutex m_mutex;
    std::array<Rgb, kLeds> m_leds{};
    QStringList m_received;
    std::function<void(const QString&)> m_observer;
    unsigned m_noise = 0x2545F491u;
};

} // namespace lapido
