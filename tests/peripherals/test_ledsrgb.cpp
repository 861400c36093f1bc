// TLedsRGB over a scripted serial link: connection paths, reply reading, templates, rotation.
#include "peripherals/ledsrgb.h"

#include "platform/eventpump.h"
#include "settings/settingskeys.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <deque>

namespace lapido {
namespace {

const QString kNotConfigured = QStringLiteral("Light COM Port not configured!\r\nPlease configure it from Settings > Misc");
const QString kCannotOpen = QStringLiteral("Wrong Light COM Port!\r\nPlease configure it from Settings > Misc");
const QString kNotTheLight = QStringLiteral("Wrong Light COM Port !\r\nPlease configure it from Settings > Misc");

// What the scripted link saw and what it will answer; shared with the test because the
// light owns the link itself.
struct LinkScript {
    bool openFails = false;
    QStringList opened;
    QList<QByteArray> written;
    // Each read returns the next piece; nullopt stands for a read error. When the queue is
    // empty, reads time out (empty piece) unless `endless` is set.
    std::deque<std::optional<QByteArray>> pieces;
    QByteArray endless;
    int largestRequest = 0;
    int discards = 0;
    bool isOpen = false;
};

class ScriptedLink final : public SerialLink {
public:
    explicit ScriptedLink(std::shared_ptr<LinkScript> s) : m_s(std::move(s)) {}
    bool open(const QString& device, QString* error) override
    {
        m_s->opened << device;
        if (m_s->openFails) {
            *error = QStringLiteral("No such file or directory");
            return false;
        }
        m_s->isOpen = true;
        return true;
    }
    void close() override { m_s->isOpen = false; }
    bool isOpen() const override { return m_s->isOpen; }
    bool write(const QByteArray& bytes, int) override
    {
        m_s->written << bytes;
        return true;
    }
    std::optional<QByteArray> read(int maxBytes, int) override
    {
        m_s->largestRequest = std::max(m_s->largestRequest, maxBytes);
        if (m_s->pieces.empty())
            return m_s->endless;
        auto p = m_s->pieces.front();
        m_s->pieces.pop_front();
        return p;
    }
    void discardInput() override { ++m_s->discards; }

private:
    std::shared_ptr<LinkScript> m_s;
};

QString numbered(int count, const QString& colourFormat)
{
    // colourFormat gets the LED index + 1 as %1: "%1#%1#%1#" gives 0#1#1#1#@1#2#2#2#@...
    QString text;
    for (int i = 0; i < count; ++i)
        text += QString::number(i) + QLatin1Char('#') + colourFormat.arg(i + 1) + QLatin1Char('@');
    return text;
}

class LedsRGBTest : public test::StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        m_script = std::make_shared<LinkScript>();
        m_light = std::make_unique<TLedsRGB>([s = m_script] { return std::make_unique<ScriptedLink>(s); });
        m_light->setReplyTimeoutMs(50);
    }
    void TearDown() override
    {
        m_light.reset();
        StationFixture::TearDown();
    }
    // Connects to a light that identifies itself properly, then forgets what was sent.
    void connectGood()
    {
        keys::write(keys::ArdlightCOMnb, QStringLiteral("COM8"));
        m_script->pieces.push_back(QByteArray("RNG16 SN 1\r\n"));
        m_light->connect();
        ASSERT_TRUE(m_light->IsConnected());
        m_script->written.clear();
        m_dialogs.clear();
    }
    QStringList sent() const
    {
        QStringList out;
        for (const auto& w : m_script->written)
            out << QString::fromLatin1(w);
        return out;
    }

    std::shared_ptr<LinkScript> m_script;
    std::unique_ptr<TLedsRGB> m_light;
};

struct ConnectCase {
    const char* name;
    const char* storedPort;
    bool openFails;
    std::vector<std::optional<QByteArray>> reply;
    QByteArray endless;
    bool connected;
    QString dialog; // empty: no box
};

class LedsRGBConnect : public LedsRGBTest, public ::testing::WithParamInterface<ConnectCase> {};

TEST_P(LedsRGBConnect, IdentifiesOrExplains)
{
    const ConnectCase& c = GetParam();
    keys::write(keys::ArdlightCOMnb, QString::fromLatin1(c.storedPort));
    m_script->openFails = c.openFails;
    m_script->pieces.assign(c.reply.begin(), c.reply.end());
    m_script->endless = c.endless;

    m_light->connect();

    EXPECT_EQ(m_light->IsConnected(), c.connected);
    if (c.dialog.isEmpty()) {
        EXPECT_TRUE(m_dialogs.texts().isEmpty()) << m_dialogs.texts().join(u'|').toStdString();
    } else {
        ASSERT_EQ(m_dialogs.texts(), QStringList{c.dialog});
        EXPECT_EQ(m_dialogs.transcript().front().kind, DialogKind::Error);
        EXPECT_EQ(m_dialogs.transcript().front().buttons, QStringList{QStringLiteral("OK")});
    }
    if (QByteArray(c.storedPort).isEmpty()) {
        EXPECT_TRUE(m_script->opened.isEmpty());
    } else {
        EXPECT_EQ(m_script->opened, QStringList{QStringLiteral("/dev/ttyUSB7")});
    }
    // "TSN" goes out only once the port is open, and nothing else is said while identifying.
    EXPECT_EQ(sent(), (c.openFails || QByteArray(c.storedPort).isEmpty()) ? QStringList{}
                                                                            : QStringList{QStringLiteral("TSN\r\n")});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LedsRGBConnect,
    ::testing::Values(
        ConnectCase{"NotConfigured", "", false, {}, {}, false, kNotConfigured},
        ConnectCase{"OpenFails", "COM8", true, {}, {}, false, kCannotOpen},
        ConnectCase{"RingLightCrLf", "COM8", false, {QByteArray("RNG16 SN 42\r\n")}, {}, true, {}},
        ConnectCase{"RingLightSemicolonInPieces", "COM8", false,
                    {QByteArray("xx R"), QByteArray(), QByteArray("NG 7;")}, {}, true, {}},
        ConnectCase{"OtherDevice", "COM8", false, {QByteArray("THC-2 SN 1\r\n")}, {}, false, kNotTheLight},
        ConnectCase{"Silent", "COM8", false, {}, {}, false, kNotTheLight},
        ConnectCase{"ReadError", "COM8", false, {std::nullopt}, {}, false, kNotTheLight},
        // Carries the tag but never ends: the reader gives up and the port is not the light.
        ConnectCase{"ReplyNeverEnds", "COM8", false, {}, QByteArray("RNGRNGRNG"), false, kNotTheLight}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LedsRGBTest, IdentityAndColourReadsStripEndMarks)
{
    connectGood();
    // A reply split over pieces, cut after its ";" with only the CR of the CR LF read: the
    // end marks go, and the lone CR does not become a seventeenth LED.
    m_script->pieces = {QByteArray("0#1#2#3#@1#4#"), QByteArray("5#6#@;\r"), QByteArray("\n")};
    ASSERT_TRUE(m_light->LoadLedsColor());
    EXPECT_EQ(m_light->GetLedsColor(), (QStringList{"0#1#2#3#", "1#4#5#6#"}));
    EXPECT_EQ(sent(), QStringList{QStringLiteral("TC\r\n")});
    EXPECT_LE(m_script->largestRequest, TLedsRGB::kReadPieceChars);
    // Stale input is dropped before each question (once for "TSN", once for "TC").
    EXPECT_EQ(m_script->discards, 2);
    EXPECT_EQ(m_light->identity(), QStringLiteral("RNG16 SN 1"));
}

TEST_F(LedsRGBTest, FailedColourReadKeepsTheList)
{
    connectGood();
    const QString pattern = numbered(16, QStringLiteral("%1#%1#%1#"));
    m_script->pieces = {pattern.toLatin1() + "\r\n"};
    ASSERT_TRUE(m_light->LoadLedsColor());
    const QStringList before = m_light->GetLedsColor();
    ASSERT_EQ(before.size(), 16);

    for (auto failure : {std::optional<QByteArray>{}, std::optional<QByteArray>{QByteArray("0#9#9#9#@")}}) {
        m_script->pieces = {failure};
        EXPECT_FALSE(m_light->LoadLedsColor());
        EXPECT_EQ(m_light->GetLedsColor(), before);
    }
}

TEST_F(LedsRGBTest, FreshStoreTemplateWritesAllOffAndSendsIt)
{
    connectGood();
    m_light->LoadLedsTemplate(QStringLiteral("inspection"));
    const QString allOff = keys::allOffLightTemplate();
    EXPECT_EQ(allOff.count(u'@'), 16);
    EXPECT_EQ(keys::read(keys::AdvLightInspection), allOff);
    EXPECT_EQ(sent(), QStringList{QStringLiteral("SC") + allOff + QStringLiteral(";\r\n")});
    EXPECT_EQ(m_light->GetLedsColor().size(), 16);
}

TEST_F(LedsRGBTest, TemplatesRoundTripThroughTheStore)
{
    connectGood();
    const QString pattern = numbered(16, QStringLiteral("%1#0#200#"));
    m_light->setLedsColors(splitLedPattern(pattern));
    m_light->SaveLedsTemplate(QStringLiteral("holderfree"));
    EXPECT_EQ(keys::read(keys::AdvLightHolderFree), pattern);

    m_light->setLedsColors({});
    m_light->SaveLedsTemplate(QStringLiteral("holderfree")); // an empty list stores nothing
    EXPECT_EQ(keys::read(keys::AdvLightHolderFree), pattern);

    m_light->LoadLedsTemplate(QStringLiteral("holderfree"));
    EXPECT_EQ(joinLedPattern(m_light->GetLedsColor()), pattern);
    EXPECT_EQ(sent(), QStringList{QStringLiteral("SC") + pattern + QStringLiteral(";\r\n")});
}

TEST_F(LedsRGBTest, ChangeLedColorOnlyInsideTheListAndSendsNothing)
{
    connectGood();
    m_light->setLedsColors(splitLedPattern(keys::allOffLightTemplate()));
    const QStringList before = m_light->GetLedsColor();
    for (int led : {-1, 16, 100}) {
        m_light->ChangeLedColor(led, 255, 128, 0);
        EXPECT_EQ(m_light->GetLedsColor(), before) << led;
    }
    m_light->ChangeLedColor(3, 255, 128, 0);
    EXPECT_EQ(m_light->GetLedsColor().at(3), QStringLiteral("3#255#128#0#"));
    m_light->ChangeLedColor(15, 1, 2, 3);
    EXPECT_EQ(m_light->GetLedsColor().at(15), QStringLiteral("15#1#2#3#"));
    EXPECT_TRUE(sent().isEmpty());
}

TEST_F(LedsRGBTest, LiveRotateMovesEachColourOneLedDown)
{
    connectGood();
    m_light->setLedsColors(splitLedPattern(numbered(16, QStringLiteral("%1#%1#%1#"))));
    m_light->LiveRotate(1);
    QString expected;
    for (int i = 0; i < 15; ++i)
        expected += QStringLiteral("%1#%2#%2#%2#@").arg(i).arg(i + 2);
    expected += QStringLiteral("15#1#1#1#@");
    EXPECT_EQ(joinLedPattern(m_light->GetLedsColor()), expected);
    EXPECT_EQ(sent(), QStringList{QStringLiteral("SC") + expected + QStringLiteral(";\r\n")});

    m_light->RotateMoins();
    EXPECT_EQ(joinLedPattern(m_light->GetLedsColor()), numbered(16, QStringLiteral("%1#%1#%1#")));
}

TEST_F(LedsRGBTest, LiveRotateOutsideOneToCountMinusOneDoesNothing)
{
    connectGood();
    const QStringList pattern = splitLedPattern(numbered(16, QStringLiteral("%1#0#0#")));
    m_light->setLedsColors(pattern);
    for (int step : {0, 16, -1, 17}) {
        m_light->LiveRotate(step);
        EXPECT_EQ(m_light->GetLedsColor(), pattern) << step;
    }
    EXPECT_TRUE(sent().isEmpty());
    // A list with one entry has no step to take.
    m_light->setLedsColors({QStringLiteral("0#1#1#1#")});
    m_light->LiveRotate(1);
    EXPECT_TRUE(sent().isEmpty());
}

TEST_F(LedsRGBTest, ClosedPortSendsNothing)
{
    keys::write(keys::ArdlightCOMnb, QString());
    m_light->connect();
    m_dialogs.clear();
    m_light->setLedsColors(splitLedPattern(keys::allOffLightTemplate()));
    m_light->ApplyLedsColor();
    m_light->RotatePlus();
    m_light->DirectRotatePlus();
    m_light->DirectRotateMoins();
    m_light->LoadLedsTemplate(QStringLiteral("inspection"));
    EXPECT_FALSE(m_light->LoadLedsColor());
    EXPECT_TRUE(m_script->written.isEmpty());
    EXPECT_TRUE(m_dialogs.texts().isEmpty()); // the box came once, at the connection attempt
}

TEST_F(LedsRGBTest, DirectRotationSendsWithoutTouchingTheList)
{
    connectGood();
    const QStringList pattern = splitLedPattern(numbered(16, QStringLiteral("%1#0#0#")));
    m_light->setLedsColors(pattern);
    m_light->DirectRotatePlus();
    m_light->DirectRotateMoins();
    EXPECT_EQ(sent(), (QStringList{"SR1\r\n", "SR15\r\n"}));
    EXPECT_EQ(m_light->GetLedsColor(), pattern);
}

TEST_F(LedsRGBTest, SetCompStoresThePortAndConnects)
{
    m_script->pieces = {QByteArray("RNG;")};
    m_light->setCOMP(QStringLiteral("COM3"));
    EXPECT_EQ(m_light->getCOMP(), QStringLiteral("COM3"));
    EXPECT_EQ(m_script->opened, QStringList{QStringLiteral("/dev/ttyUSB2")});
    EXPECT_TRUE(m_light->IsConnected());

    // A service override is used instead of the store and leaves the store alone.
    m_script->pieces = {QByteArray("RNG;")};
    m_light->setPortOverride(QStringLiteral("/dev/ttyACM0"));
    m_light->connect();
    EXPECT_EQ(m_script->opened.last(), QStringLiteral("/dev/ttyACM0"));
    EXPECT_EQ(m_light->getCOMP(), QStringLiteral("COM3"));
    m_light->disconnect();
    EXPECT_FALSE(m_light->IsConnected());
}

// Counts pumps and notes the station time of each, to see the waits keep the window alive.
class CountingPump final : public EventPump {
public:
    explicit CountingPump(const Clock& clock) : m_clock(clock) {}
    void pump() override { times.push_back(m_clock.nowUs()); }
    std::vector<std::int64_t> times;

private:
    const Clock& m_clock;
};

TEST_F(LedsRGBTest, SettleWaitsRunOnTheStationClockAndPump)
{
    CountingPump pump(m_clock);
    EventPump* previous = setEventPump(&pump);
    keys::write(keys::ArdlightCOMnb, QStringLiteral("COM8"));
    m_script->pieces = {QByteArray("RNG;"), QByteArray("0#1#1#1#@;")};

    const std::int64_t t0 = m_clock.nowUs();
    m_light->connect(); // 250 ms before "TSN", 250 ms after
    const std::int64_t t1 = m_clock.nowUs();
    EXPECT_TRUE(m_light->LoadLedsColor()); // three times 250 ms around "TC"
    const std::int64_t t2 = m_clock.nowUs();
    setEventPump(previous);

    EXPECT_EQ(t1 - t0, 500'000);
    EXPECT_EQ(t2 - t1, 750'000);
    ASSERT_FALSE(pump.times.empty());
    // The user interface is served all through the waits, never more than a few ms apart.
    std::int64_t last = t0;
    for (std::int64_t t : pump.times) {
        EXPECT_LE(t - last, 10'000);
        last = t;
    }
    EXPECT_EQ(last, t2);
}

// The start without waiting says what InitLedsLight says, in the same order, returns before
// anything is said, and tells its outcome once.
TEST_F(LedsRGBTest, StartWithoutWaitingSaysWhatTheWaitingStartSays)
{
    struct Case {
        const char* name;
        const char* storedPort;
        std::vector<std::optional<QByteArray>> replies;
        bool connected;
        QString dialog; // empty: no box
    };
    const Case cases[] = {
        {"light with colours", "COM8", {QByteArray("RNG16 SN 1\r\n"), QByteArray("0#1#2#3#@1#4#5#6#@;")}, true, {}},
        {"reply in pieces", "COM8", {QByteArray("RN"), QByteArray(), QByteArray("G 7;"), QByteArray("0#1#1#1#@;")}, true, {}},
        {"another device", "COM8", {QByteArray("THC-2 SN 1\r\n")}, false, kNotTheLight},
        {"silent", "COM8", {}, false, kNotTheLight},
        {"not configured", "", {}, false, kNotConfigured},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        keys::write(keys::ArdlightCOMnb, QString::fromLatin1(c.storedPort));

        // What the waiting start says and reads.
        m_script = std::make_shared<LinkScript>();
        m_script->pieces.assign(c.replies.begin(), c.replies.end());
        m_light = std::make_unique<TLedsRGB>([s = m_script] { return std::make_unique<ScriptedLink>(s); });
        m_light->setReplyTimeoutMs(50);
        m_dialogs.clear();
        m_light->InitLedsLight();
        const QStringList waitingSent = sent();
        const QStringList waitingColours = m_light->GetLedsColor();
        const QStringList waitingBoxes = m_dialogs.texts();

        m_script = std::make_shared<LinkScript>();
        m_script->pieces.assign(c.replies.begin(), c.replies.end());
        m_light = std::make_unique<TLedsRGB>([s = m_script] { return std::make_unique<ScriptedLink>(s); });
        m_light->setReplyTimeoutMs(50);
        m_dialogs.clear();
        std::vector<bool> outcomes;
        m_light->StartLedsLight([&outcomes](bool connected) { outcomes.push_back(connected); });
        if (!QByteArray(c.storedPort).isEmpty()) {
            EXPECT_TRUE(m_light->Starting());
            EXPECT_TRUE(sent().isEmpty()) << "the start waited before returning";
        }
        QDeadlineTimer limit(20000);
        while (outcomes.empty() && !limit.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);

        ASSERT_EQ(outcomes.size(), 1u);
        EXPECT_EQ(outcomes.front(), c.connected);
        EXPECT_FALSE(m_light->Starting());
        EXPECT_EQ(m_light->IsConnected(), c.connected);
        EXPECT_EQ(sent(), waitingSent);
        EXPECT_EQ(m_light->GetLedsColor(), waitingColours);
        EXPECT_EQ(m_dialogs.texts(), waitingBoxes);
        EXPECT_EQ(m_dialogs.texts(), c.dialog.isEmpty() ? QStringList{} : QStringList{c.dialog});
    }
}

TEST_F(LedsRGBTest, AConnectionDuringTheStartEndsItOnce)
{
    keys::write(keys::ArdlightCOMnb, QStringLiteral("COM8"));
    std::vector<bool> outcomes;
    m_light->StartLedsLight([&outcomes](bool connected) { outcomes.push_back(connected); });
    ASSERT_TRUE(m_light->Starting());
    m_script->pieces = {QByteArray("RNG;")};
    m_light->connect(); // the settings page's Connect, pressed while the light starts
    ASSERT_EQ(outcomes, std::vector<bool>{true});
    EXPECT_FALSE(m_light->Starting());
    // The start's own steps are gone: nothing more is said, nothing more is told.
    // A timer due after every step the start had pending: the event loop runs those first.
    m_script->written.clear();
    bool later = false;
    QTimer::singleShot(2 * TLedsRGB::kSettleMs, [&later] { later = true; });
    while (!later)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_TRUE(sent().isEmpty());
    EXPECT_EQ(outcomes.size(), 1u);
}

TEST(LedEntryTest, ParsesExactlyFourNumbers)
{
    const struct {
        const char* entry;
        std::optional<LedColor> expected;
    } cases[] = {
        {"3#255#128#0#", LedColor{3, 255, 128, 0}},
        {"15#0#0#0", LedColor{15, 0, 0, 0}},
        {"3#255#128#", std::nullopt},
        {"3#255#128#0#9#", std::nullopt},
        {"3#red#128#0#", std::nullopt},
        {"3#256#0#0#", std::nullopt},
        {"3#-1#0#0#", std::nullopt},
        {"-1#0#0#0#", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseLedEntry(QString::fromLatin1(c.entry)), c.expected) << c.entry;
}

TEST(SerialDevicePathTest, MapsComNamesAndKeepsPaths)
{
    const struct {
        const char* stored;
        const char* device;
        std::optional<int> number;
    } cases[] = {
        {"COM8", "/dev/ttyUSB7", 8},
        {"com1", "/dev/ttyUSB0", 1},
        {" COM12 ", "/dev/ttyUSB11", 12},
        {"COM0", "COM0", 0}, // no device: opening it fails with the usual box
        {"/dev/ttyACM0", "/dev/ttyACM0", std::nullopt},
        {"/dev/pts/3", "/dev/pts/3", std::nullopt},
        {"ttyS0", "ttyS0", std::nullopt},
        {"COMX", "COMX", std::nullopt},
        {"", "", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(serialDevicePath(QString::fromLatin1(c.stored)), QString::fromLatin1(c.device)) << c.stored;
        EXPECT_EQ(comPortNumber(QString::fromLatin1(c.stored)), c.number) << c.stored;
    }
}

} // namespace
} // namespace lapido
