// The ring light against the simulated light controller on a real pseudo-terminal.
#include "peripherals/ledsrgb.h"
#include "sim/lightsimulator.h"

#include "settings/settingskeys.h"
#include "testsupport.h"

namespace lapido {
namespace {

const QString kCannotOpen = QStringLiteral("Wrong Light COM Port!\r\nPlease configure it from Settings > Misc");
const QString kNotTheLight = QStringLiteral("Wrong Light COM Port !\r\nPlease configure it from Settings > Misc");

class LightOnPtyTest : public test::StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        QString why;
        ASSERT_TRUE(m_sim.start(&why)) << why.toStdString();
        keys::write(keys::ArdlightCOMnb, m_sim.portName());
    }
    void TearDown() override
    {
        TLedsRGB::ReleaseInstance();
        m_sim.stop();
        StationFixture::TearDown();
    }
    LightSimulator m_sim;
};

TEST_F(LightOnPtyTest, ConnectReadSetAndRotate)
{
    const QString start = QStringLiteral(
        "0#10#0#0#@1#20#0#0#@2#30#0#0#@3#40#0#0#@4#50#0#0#@5#60#0#0#@6#70#0#0#@7#80#0#0#@"
        "8#90#0#0#@9#100#0#0#@10#110#0#0#@11#120#0#0#@12#130#0#0#@13#140#0#0#@14#150#0#0#@15#160#0#0#@");
    m_sim.setPattern(start);

    TLedsRGB& light = TLedsRGB::GetInstance(); // connects and reads the colours
    ASSERT_TRUE(light.IsConnected());
    EXPECT_TRUE(m_dialogs.texts().isEmpty()) << m_dialogs.texts().join(u'|').toStdString();
    EXPECT_TRUE(light.identity().contains(QStringLiteral("RNG")));
    EXPECT_EQ(joinLedPattern(light.GetLedsColor()), start);

    // A stored template reaches the LEDs; reading back goes through "TC" on the same line.
    const QString inspection = QStringLiteral(
        "0#255#255#255#@1#0#0#0#@2#0#0#0#@3#0#0#0#@4#255#255#255#@5#0#0#0#@6#0#0#0#@7#0#0#0#@"
        "8#255#255#255#@9#0#0#0#@10#0#0#0#@11#0#0#0#@12#255#255#255#@13#0#0#0#@14#0#0#0#@15#0#0#0#@");
    keys::write(keys::AdvLightInspection, inspection);
    light.LoadLedsTemplate(QStringLiteral("inspection"));
    ASSERT_TRUE(light.LoadLedsColor());
    EXPECT_EQ(joinLedPattern(light.GetLedsColor()), inspection);

    // Rotating here and rotating in the controller agree, both ways.
    light.RotatePlus();
    const QString plus = joinLedPattern(light.GetLedsColor());
    ASSERT_TRUE(light.LoadLedsColor());
    EXPECT_EQ(joinLedPattern(light.GetLedsColor()), plus);
    light.RotateMoins();
    ASSERT_TRUE(light.LoadLedsColor());
    EXPECT_EQ(joinLedPattern(light.GetLedsColor()), inspection);
    light.DirectRotatePlus();
    ASSERT_TRUE(light.LoadLedsColor());
    EXPECT_EQ(joinLedPattern(light.GetLedsColor()), plus);
    light.DirectRotateMoins();
    ASSERT_TRUE(light.LoadLedsColor());
    EXPECT_EQ(joinLedPattern(light.GetLedsColor()), inspection);

    const QStringList got = m_sim.received();
    EXPECT_EQ(got.first(), QStringLiteral("TSN"));
    EXPECT_TRUE(got.contains(QStringLiteral("SC") + inspection + QLatin1Char(';')));
    EXPECT_TRUE(got.contains(QStringLiteral("SR1")));
    EXPECT_TRUE(got.contains(QStringLiteral("SR15")));

    // Closing the light closes the port; the controller hears nothing more.
    TLedsRGB::ReleaseInstance();
    m_sim.clearReceived();
    TLedsRGB other;
    other.setLedsColors(splitLedPattern(start));
    other.ApplyLedsColor();
    EXPECT_TRUE(m_sim.received().isEmpty());
}

// The light's cable pulled while the station runs: the next commands fail at once instead of
// waiting, the operator is told once, and the stored templates stay as they were.
TEST_F(LightOnPtyTest, UnpluggedLightIsReportedOnceAndNothingStoredChanges)
{
    TLedsRGB& light = TLedsRGB::GetInstance();
    ASSERT_TRUE(light.IsConnected());
    const QString inspection = QStringLiteral(
        "0#255#255#255#@1#0#0#0#@2#0#0#0#@3#0#0#0#@4#255#255#255#@5#0#0#0#@6#0#0#0#@7#0#0#0#@"
        "8#255#255#255#@9#0#0#0#@10#0#0#0#@11#0#0#0#@12#255#255#255#@13#0#0#0#@14#0#0#0#@15#0#0#0#@");
    keys::write(keys::AdvLightInspection, inspection);
    m_dialogs.clear();

    m_sim.stop();
    light.LoadLedsTemplate(QStringLiteral("inspection"));
    light.RotatePlus();
    light.DirectRotatePlus();
    light.LoadLedsTemplate(QStringLiteral("holderfree"));
    EXPECT_FALSE(light.LoadLedsColor());

    const QStringList told = m_dialogs.texts();
    ASSERT_EQ(told.size(), 1) << told.join(u'|').toStdString();
    EXPECT_TRUE(told[0].contains(QStringLiteral("ring light"), Qt::CaseInsensitive)) << told[0].toStdString();
    EXPECT_FALSE(light.IsConnected());
    EXPECT_EQ(keys::read(keys::AdvLightInspection), inspection);
}

TEST_F(LightOnPtyTest, StrayReplyIsNotTakenForTheColours)
{
    TLedsRGB light;
    light.InitLedsLight();
    ASSERT_TRUE(light.IsConnected());
    // A stray reply nobody asked for waits in the line: the next read must not take it for
    // the colours.
    m_sim.speakOutOfTurn("0#9#9#9#@;\r\n");
    ASSERT_TRUE(light.LoadLedsColor());
    EXPECT_EQ(joinLedPattern(light.GetLedsColor()), m_sim.pattern());
}

TEST_F(LightOnPtyTest, ControllerFallingSilentKeepsTheColours)
{
    TLedsRGB light;
    light.setReplyTimeoutMs(200);
    light.InitLedsLight();
    ASSERT_TRUE(light.IsConnected());
    const QStringList before = light.GetLedsColor();
    ASSERT_EQ(before.size(), LightSimulator::kLeds);
    m_sim.setFault(LightSimulator::Fault::Silent);
    EXPECT_FALSE(light.LoadLedsColor());
    EXPECT_EQ(light.GetLedsColor(), before);
}

class LightFaultTest : public LightOnPtyTest, public ::testing::WithParamInterface<LightSimulator::Fault> {};

TEST_P(LightFaultTest, IdentificationFailsAndThePortCloses)
{
    m_sim.setFault(GetParam());
    TLedsRGB light;
    light.setReplyTimeoutMs(300);
    light.InitLedsLight();
    EXPECT_FALSE(light.IsConnected());
    EXPECT_EQ(m_dialogs.texts(), QStringList{kNotTheLight});
    EXPECT_TRUE(light.GetLedsColor().isEmpty());
    // After the failure nothing more goes to the device.
    m_sim.clearReceived();
    light.DirectRotatePlus();
    light.LoadLedsTemplate(QStringLiteral("holderfree"));
    EXPECT_TRUE(m_sim.received().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Faults, LightFaultTest,
                         ::testing::Values(LightSimulator::Fault::Silent, LightSimulator::Fault::Garbage,
                                           LightSimulator::Fault::OtherDevice,
                                           LightSimulator::Fault::EndlessReply),
                         [](const auto& info) {
                             switch (info.param) {
                             case LightSimulator::Fault::Silent: return "Silent";
                             case LightSimulator::Fault::Garbage: return "Garbage";
                             case LightSimulator::Fault::OtherDevice: return "OtherDevice";
                             case LightSimulator::Fault::EndlessReply: return "EndlessReply";
                             case LightSimulator::Fault::None: break;
                             }
                             return "None";
                         });

TEST_F(LightOnPtyTest, PortThatDoesNotOpen)
{
    keys::write(keys::ArdlightCOMnb, scratch(QStringLiteral("no-such-tty")));
    TLedsRGB light;
    light.InitLedsLight();
    EXPECT_FALSE(light.IsConnected());
    EXPECT_EQ(m_dialogs.texts(), QStringList{kCannotOpen});
    EXPECT_TRUE(m_sim.received().isEmpty());
}

} // namespace
} // namespace lapido
