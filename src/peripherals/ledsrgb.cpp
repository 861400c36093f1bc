// The ring light object: connection and identification, colour reads, templates, rotation.
#include "peripherals/ledsrgb.h"

#include "platform/clock.h"
#include "platform/debuglog.h"
#include "platform/eventpump.h"
#include "platform/operatordialogs.h"
#include "platform/settingsstore.h"
#include "settings/settingskeys.h"

#include <QDeadlineTimer>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace lapido {

namespace {

const QString kNotConfigured = QStringLiteral("Light COM Port not configured!\r\nPlease configure it from Settings > Misc");
const QString kCannotOpen = QStringLiteral("Wrong Light COM Port!\r\nPlease configure it from Settings > Misc");
const QString kNotTheLight = QStringLiteral("Wrong Light COM Port !\r\nPlease configure it from Settings > Misc");
const QString kStoppedAnswering =
    QStringLiteral("The ring light does not answer any more!\r\nCheck its cable, then select its COM Port again from Settings > Misc");
const QString kIdentityTag = QStringLiteral("RNG");
// How long one write may wait for the handshake before the command is given up.
constexpr int kWriteTimeoutMs = 1000;
// Longest single sleep inside a pumping wait, so that timers and buttons stay responsive.
constexpr int kPumpSliceMs = 10;

std::unique_ptr<TLedsRGB>& instanceSlot()
{
    static std::unique_ptr<TLedsRGB> instance;
    return instance;
}

QString& instancePortOverride()
{
    static QString port;
    return port;
}

QString templateKey(const QString& templatename)
{
    return QLatin1String(keys::kAdvLightPrefix) + templatename;
}

// From the first "#" to the end; an entry without one keeps all of its text.
QString colourPart(const QString& entry)
{
    const qsizetype hash = entry.indexOf(QLatin1Char('#'));
    return hash < 0 ? entry : entry.mid(hash);
}

} // namespace

std::optional<LedColor> parseLedEntry(const QString& entry)
{
    const QStringList parts = entry.split(QLatin1Char('#'), Qt::SkipEmptyParts);
    if (parts.size() != 4)
        return std::nullopt;
    int values[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = parts.at(i).toInt(&ok);
        if (!ok || values[i] < 0 || (i > 0 && values[i] > 255))
            return std::nullopt;
    }
    return LedColor{values[0], values[1], values[2], values[3]};
}

QStringList splitLedPattern(const QString& pattern)
{
    // Pieces are trimmed: a reply cut right after its ";" can leave the CR of a following
    // CR LF behind, and a stray entry of white space would make the ring one LED longer.
    QStringList entries;
    for (const QString& piece : pattern.split(QLatin1Char('@'), Qt::SkipEmptyParts)) {
        const QString entry = piece.trimmed();
        if (!entry.isEmpty())
            entries << entry;
    }
    return entries;
}

QString joinLedPattern(const QStringList& entries)
{
    QString text;
    for (const QString& e : entries)
        text += e + QLatin1Char('@');
    return text;
}

TLedsRGB& TLedsRGB::GetInstance()
{
    auto& slot = instanceSlot();
    if (!slot) {
        slot = std::make_unique<TLedsRGB>();
        slot->setPortOverride(instancePortOverride());
        slot->InitLedsLight();
    }
    return *slot;
}

TLedsRGB& TLedsRGB::StartInstance(std::function<void(bool connected)> done)
{
    auto& slot = instanceSlot();
    if (!slot) {
        slot = std::make_unique<TLedsRGB>();
        slot->setPortOverride(instancePortOverride());
        slot->StartLedsLight(std::move(done));
    }
    return *slot;
}

TLedsRGB* TLedsRGB::ExistingInstance()
{
    return instanceSlot().get();
}

void TLedsRGB::setInstancePortOverride(const QString& portName)
{
    instancePortOverride() = portName;
    if (auto& slot = instanceSlot())
        slot->setPortOverride(portName);
}

void TLedsRGB::ReleaseInstance()
{
    instanceSlot().reset();
}

TLedsRGB::TLedsRGB(LinkFactory makeLink) : m_makeLink(std::move(makeLink)) {}

TLedsRGB::~TLedsRGB()
{
    disconnect();
}

void TLedsRGB::ensurePort()
{
    if (!ComPort1)
        ComPort1 = m_makeLink();
}

void TLedsRGB::InitLedsLight()
{
    disconnect();
    ComPort1.reset();
    ensurePort();
    connect();
    if (IsConnected())
        LoadLedsColor();
}

QString TLedsRGB::portName() const
{
    return m_portOverride.isEmpty() ? getCOMP() : m_portOverride;
}

void TLedsRGB::StartLedsLight(std::function<void(bool connected)> done)
{
    m_startContext = std::make_unique<QObject>();
    m_starting = true;
    m_startDone = std::move(done);
    const auto finish = [this] { finishStart(); };
    disconnect();
    ComPort1.reset();
    ensurePort();
    if (!openPort()) {
        finish();
        return;
    }
    after(kSettleMs, [this, finish] {
        ComPort1->discardInput();
        CMD(QStringLiteral("TSN"));
        after(kSettleMs, [this, finish] {
            pollReply(QDeadlineTimer(m_replyTimeoutMs), {}, [this, finish](std::optional<QString> reply) {
                acceptIdentity(reply);
                if (!IsConnected()) {
                    finish();
                    return;
                }
                // The colours, as LoadLedsColor reads them.
                after(kSettleMs, [this, finish] {
                    if (!IsConnected()) {
                        finish();
                        return;
                    }
                    after(kSettleMs, [this, finish] {
                        ComPort1->discardInput();
                        CMD(QStringLiteral("TC"));
                        after(kSettleMs, [this, finish] {
                            pollReply(QDeadlineTimer(m_replyTimeoutMs), {},
                                      [this, finish](std::optional<QString> colours) {
                                          if (colours)
                                              LedsColors = splitLedPattern(*colours);
                                          finish();
                                      });
                        });
                    });
                });
            });
        });
    });
}

void TLedsRGB::finishStart()
{
    m_starting = false;
    if (auto done = std::exchange(m_startDone, {}))
        done(IsConnected());
}

void TLedsRGB::after(int ms, std::function<void()> next)
{
    QTimer::singleShot(ms, m_startContext.get(), std::move(next));
}

void TLedsRGB::pollReply(QDeadlineTimer deadline, QByteArray collected,
                         std::function<void(std::optional<QString>)> then)
{
    if (!IsConnected()) {
        then(std::nullopt);
        return;
    }
    const auto piece = ComPort1->read(kReadPieceChars, 0);
    if (!piece) {
        then(std::nullopt);
        return;
    }
    collected += *piece;
    if (collected.contains(';') || collected.contains("\r\n")) {
        collected.replace("\r\n", QByteArray()).replace(';', QByteArray());
        then(QString::fromLatin1(collected));
        return;
    }
    if (deadline.hasExpired() || collected.size() > kMaxReplyChars) {
        LogDebug(QStringLiteral("Ring light: reply without end after %1 characters").arg(collected.size()));
        then(std::nullopt);
        return;
    }
    after(kPumpSliceMs, [this, deadline, collected, then] { pollReply(deadline, collected, then); });
}

bool TLedsRGB::openPort()
{
    const QString name = portName();
    if (name.isEmpty()) {
        operatorDialogs().error(kNotConfigured);
        return false;
    }
    QString why;
    if (!ComPort1->open(serialDevicePath(name), &why)) {
        LogDebug(QStringLiteral("Ring light: cannot open %1 (%2): %3").arg(name, serialDevicePath(name), why));
        operatorDialogs().error(kCannotOpen);
        return false;
    }
    return true;
}

void TLedsRGB::acceptIdentity(const std::optional<QString>& reply)
{
    m_identity = reply.value_or(QStringLiteral("nothing"));
    if (!m_identity.contains(kIdentityTag)) {
        LogDebug(QStringLiteral("Ring light: %1 answered \"%2\"").arg(portName(), m_identity));
        disconnect();
        operatorDialogs().error(kNotTheLight);
    }
}

void TLedsRGB::connect()
{
    // A start under way is replaced by this connection, and told its outcome.
    m_startContext.reset();
    struct EndStart {
        TLedsRGB& light;
        bool wasStarting;
        ~EndStart()
        {
            if (wasStarting)
                light.finishStart();
        }
    } endStart{*this, m_starting};
    ensurePort();
    disconnect();
    if (!openPort())
        return;
    waitPumping(kSettleMs);
    // Whatever a previous device left in the line is not the answer to this question.
    ComPort1->discardInput();
    CMD(QStringLiteral("TSN"));
    waitPumping(kSettleMs);
    acceptIdentity(readReply());
}

void TLedsRGB::disconnect()
{
    if (ComPort1 && ComPort1->isOpen())
        ComPort1->close();
}

bool TLedsRGB::IsConnected() const
{
    return ComPort1 && ComPort1->isOpen();
}

void TLedsRGB::setCOMP(const QString& comn)
{
    keys::write(keys::ArdlightCOMnb, comn);
    connect();
}

QString TLedsRGB::getCOMP() const
{
    return keys::read(keys::ArdlightCOMnb);
}

void TLedsRGB::CMD(const QString& Str)
{
    if (!IsConnected())
        return;
    if (!ComPort1->write((Str + QStringLiteral("\r\n")).toLatin1(), kWriteTimeoutMs)) {
        LogDebug(QStringLiteral("Ring light: command \"%1\" could not be sent").arg(Str));
        // A light that was unplugged: the port closes, so that the commands after this one are
        // skipped instead of each failing, and the operator hears of it once.
        disconnect();
        operatorDialogs().error(kStoppedAnswering);
    }
}

bool TLedsRGB::LoadLedsColor()
{
    waitPumping(kSettleMs);
    if (!IsConnected())
        return false;
    waitPumping(kSettleMs);
    ComPort1->discardInput();
    CMD(QStringLiteral("TC"));
    waitPumping(kSettleMs);
    const auto reply = readReply();
    if (!reply)
        return false;
    LedsColors = splitLedPattern(*reply);
    return true;
}

void TLedsRGB::ChangeLedColor(int led, int R, int G, int b)
{
    if (led < 0 || led >= LedsColors.size())
        return;
    LedsColors[led] = QStringLiteral("%1#%2#%3#%4#").arg(led).arg(R).arg(G).arg(b);
}

void TLedsRGB::ApplyLedsColor()
{
    CMD(QStringLiteral("SC") + joinLedPattern(LedsColors) + QLatin1Char(';'));
}

void TLedsRGB::LoadLedsTemplate(const QString& templatename)
{
    SettingsStore& store = AppRegistry();
    const QString section = QLatin1String(keys::kColors);
    const QString key = templateKey(templatename);
    if (store.ReadString(section, key, QString()).isEmpty())
        store.WriteString(section, key, keys::allOffLightTemplate());
    LedsColors = splitLedPattern(store.ReadString(section, key, QString()));
    ApplyLedsColor();
}

void TLedsRGB::SaveLedsTemplate(const QString& templatename)
{
    if (LedsColors.isEmpty())
        return;
    AppRegistry().WriteString(QLatin1String(keys::kColors), templateKey(templatename),
                              joinLedPattern(LedsColors));
}

void TLedsRGB::LiveRotate(int step)
{
    const qsizetype n = LedsColors.size();
    if (step < 1 || step > n - 1)
        return;
    for (int s = 0; s < step; ++s) {
        const QString kept = colourPart(LedsColors.at(0));
        for (qsizetype i = 1; i < n; ++i)
            LedsColors[i - 1] = QString::number(i - 1) + colourPart(LedsColors.at(i));
        LedsColors[n - 1] = QString::number(n - 1) + kept;
    }
    ApplyLedsColor();
}

void TLedsRGB::waitPumping(int ms)
{
    Clock& clock = systemClock();
    const std::int64_t deadlineUs = clock.nowUs() + std::int64_t(ms) * 1000;
    for (;;) {
        eventPump().pump();
        const std::int64_t leftUs = deadlineUs - clock.nowUs();
        if (leftUs <= 0)
            return;
        clock.sleepUs(std::min<std::int64_t>(leftUs, kPumpSliceMs * 1000));
    }
}

std::optional<QString> TLedsRGB::readReply()
{
    if (!IsConnected())
        return std::nullopt;
    QDeadlineTimer deadline(m_replyTimeoutMs);
    QByteArray collected;
    while (!collected.contains(';') && !collected.contains("\r\n")) {
        if (deadline.hasExpired() || collected.size() > kMaxReplyChars) {
            LogDebug(QStringLiteral("Ring light: reply without end after %1 characters").arg(collected.size()));
            return std::nullopt;
        }
        const int waitMs = int(std::min<qint64>(deadline.remainingTime(), kPumpSliceMs));
        const auto piece = ComPort1->read(kReadPieceChars, waitMs);
        if (!piece)
            return std::nullopt;
        collected += *piece;
        eventPump().pump();
    }
    collected.replace("\r\n", QByteArray()).replace(';', QByteArray());
    return QString::fromLatin1(collected);
}

} // namespace lapido
