// TLedsRGB: the RGB LED ring light on its serial port, its colour templates and rotation.
#pragma once

#include "peripherals/seriallink.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace lapido {

// One LED entry "index#red#green#blue#" taken apart.
struct LedColor {
    int index = 0;
    int red = 0;
    int green = 0;
    int blue = 0;
    bool operator==(const LedColor&) const = default;
};

// The entry split at "#" into exactly four numbers, each 0..255 (the index only >= 0);
// nullopt for anything else, which the colour display skips.
std::optional<LedColor> parseLedEntry(const QString& entry);
// A pattern text split at "@" into its entries, each trimmed; empty pieces are dropped.
QStringList splitLedPattern(const QString& pattern);
// The entries each followed by "@" (the form of templates and of the set command's body).
QString joinLedPattern(const QStringList& entries);

// The ring light controller: 16 LEDs whose colours are read, set, rotated and kept as named
// templates in the store. Without a configured or working port every command is skipped
// silently after the error box of the connection attempt.
class TLedsRGB {
public:
    using LinkFactory = std::function<std::unique_ptr<SerialLink>()>;

    // The longest a reply to "TSN" or "TC" may take once reading starts. The longest proper
    // reply, 16 entries of up to 16 characters, needs about 270 ms at 9600 baud; a port that
    // stays silent or a reply that never ends is given up after this and counts as a read
    // error. Real time: the controller runs in real time whatever clock the station uses.
    static constexpr int kReplyTimeoutMs = 1000;
    // Replies are read in pieces of at most this many characters.
    static constexpr int kReadPieceChars = 255;
    // A reply growing past this without its end mark is garbage, not a colour pattern.
    static constexpr int kMaxReplyChars = 4096;
    // Pause before and after commands, as the controller's firmware expects.
    static constexpr int kSettleMs = 250;

    // The process-wide instance, created (and InitLedsLight run) on first use.
    static TLedsRGB& GetInstance();
    // The process-wide instance made and started without waiting (StartLedsLight); done is
    // told the outcome. An instance made already is returned as it is and done is not called.
    static TLedsRGB& StartInstance(std::function<void(bool connected)> done);
    // The process-wide instance when one was made (the station makes it at start), else null;
    // never makes one.
    static TLedsRGB* ExistingInstance();
    // Destroys the process-wide instance (closing its port); the next GetInstance makes a new
    // one. For the end of the run and for tests.
    static void ReleaseInstance();
    // The port the process-wide instance opens instead of the stored one, from its creation
    // on (the station on a simulated light); empty: the stored one.
    static void setInstancePortOverride(const QString& portName);

    explicit TLedsRGB(LinkFactory makeLink = makeLightSerialLink);
    ~TLedsRGB(); // Destroy: disconnect
    TLedsRGB(const TLedsRGB&) = delete;
    TLedsRGB& operator=(const TLedsRGB&) = delete;

    void InitLedsLight();
    // What InitLedsLight does, the same commands after the same pauses, without waiting on the
    // calling thread: the pauses are timers of its event loop and the replies are polled, so
    // a window stays usable while the light comes up. done(connected) at the end, also after
    // a failure (its box shown, as InitLedsLight shows it). A connect() meanwhile, or the
    // object's end, cancels the rest.
    void StartLedsLight(std::function<void(bool connected)> done);
    // True from StartLedsLight until its end.
    bool Starting() const { return m_starting; }
    void connect();
    void disconnect();
    bool IsConnected() const;
    void setCOMP(const QString& comn);
    QString getCOMP() const;
    void CMD(const QString& Str);
    // True when a reply was read (the list then holds it); false leaves the list unchanged.
    bool LoadLedsColor();
    const QStringList& GetLedsColor() const { return LedsColors; }
    void ChangeLedColor(int led, int R, int G, int b);
    void ApplyLedsColor();
    void LoadLedsTemplate(const QString& templatename);
    void SaveLedsTemplate(const QString& templatename);
    void LiveRotate(int step);
    void RotatePlus() { LiveRotate(1); }
    void RotateMoins() { LiveRotate(15); }
    void DirectRotatePlus() { CMD(QStringLiteral("SR1")); }
    void DirectRotateMoins() { CMD(QStringLiteral("SR15")); }

    // Service access: a port used instead of the stored one without changing the store
    // (empty: the stored one again).
    void setPortOverride(const QString& portName) { m_portOverride = portName; }
    // The port name connect() uses: the override, else the stored one.
    QString portName() const;
    // The reply of the last identification ("nothing" when it could not be read).
    const QString& identity() const { return m_identity; }
    // Replaces the whole list (a pattern typed by a service engineer); nothing is sent.
    void setLedsColors(const QStringList& entries) { LedsColors = entries; }
    void setReplyTimeoutMs(int ms) { m_replyTimeoutMs = ms; }

private:
    void ensurePort();
    // The port opened for an identification; false (and the box shown) when there is none.
    bool openPort();
    // The identification's reply checked; a port that is not the light is closed and told.
    void acceptIdentity(const std::optional<QString>& reply);
    // The start's end: no longer starting, its caller told.
    void finishStart();
    // Runs next on the calling thread's event loop after ms, unless the start was cancelled.
    void after(int ms, std::function<void()> next);
    // Polls one reply like readReply without waiting, then hands it on.
    void pollReply(QDeadlineTimer deadline, QByteArray collected,
                   std::function<void(std::optional<QString>)> then);
    // Waits on the station's clock while the user interface keeps running.
    void waitPumping(int ms);
    // Reads one reply and removes its end marks; nullopt on a read error or time-out.
    std::optional<QString> readReply();

    LinkFactory m_makeLink;
    std::unique_ptr<SerialLink> ComPort1;
    QStringList LedsColors;
    QString m_portOverride;
    QString m_identity;
    int m_replyTimeoutMs = kReplyTimeoutMs;
    bool m_starting = false;
    std::function<void(bool)> m_startDone;
    // The context of a start's timers: replaced to cancel them.
    std::unique_ptr<QObject> m_startContext;
};

} // namespace lapido
