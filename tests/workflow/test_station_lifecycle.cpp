// The station's life cycle without widgets: start switches, the symbol-list encoding, the
// settings read at show and written at close, the reset-button variants, the position timer,
// jogging and the exit question on a running machine.
#include "labelfixture.h"
#include "markingfixture.h"

#include "platform/debuglog.h"
#include "platform/settingsstore.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace lapido::test {
namespace {

struct SwitchCase {
    const char* name;
    QStringList args;
    bool debug;
    bool noHoming;
};

class StartSwitchTest : public StationFixture, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(StartSwitchTest, SetsTheFlags)
{
    TStation::ParseStartSwitches(GetParam().args);
    EXPECT_EQ(DebugMode(), GetParam().debug);
    EXPECT_EQ(NoHoming(), GetParam().noHoming);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, StartSwitchTest,
    ::testing::Values(SwitchCase{"LowerCase", {QStringLiteral("/debug")}, true, false},
                      SwitchCase{"Both", {QStringLiteral("/DEBUG"), QStringLiteral("/NoHoming")}, true, true},
                      SwitchCase{"NoHomingOnly", {QStringLiteral("prog"), QStringLiteral("/NOHOMING")}, false, true},
                      SwitchCase{"LookAlikes", {QStringLiteral("DEBUG"), QStringLiteral("/DEBUGX"), QStringLiteral("-debug")},
                                 false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SymbolListTest, StoredAsDollarAndFourHexDigitsPerCharacter)
{
    EXPECT_EQ(TStation::DecodeSymbolList(QStringLiteral("$0041$00B0")), QStringLiteral("A\u00B0"));
    EXPECT_EQ(TStation::DecodeSymbolList(QString()), QString());
    EXPECT_EQ(TStation::EncodeSymbolList(QStringLiteral("A\u00B0\u20ac")), QStringLiteral("$0041$00B0$20AC"));
    const QString odd = QStringLiteral("\u2665x\U0001F48E");
    EXPECT_EQ(TStation::DecodeSymbolList(TStation::EncodeSymbolList(odd)), odd);
    EXPECT_EQ(TStation::DecodeSymbolList(QStringLiteral("$0041$zzzzX0043$0042$00")), QStringLiteral("AB"))
        << "pieces that are not a code are skipped";
}

class StationLifeTest : public LabelFixture {};

TEST_F(StationLifeTest, ShowReadsTheDefaultsAndCloseWritesThemBack)
{
    SettingsStore& s = store();
    s.WriteString(QStringLiteral("Diamond"), QStringLiteral("Girdle"), QStringLiteral("0.2"));
    s.WriteString(QStringLiteral("Layout"), QStringLiteral("RichLabel"), QStringLiteral("R1"));
    s.WriteString(QStringLiteral("Layout"), QStringLiteral("TextLabelHeight"), QStringLiteral("70.0"));
    s.WriteString(QStringLiteral("Layout"), QStringLiteral("TextLabelStyle"), QStringLiteral("3"));
    s.WriteString(QStringLiteral("Layout"), QStringLiteral("SymbolList"), QStringLiteral("$0041$00B0"));
    s.WriteString(QStringLiteral("RollDown"), QStringLiteral("Grid"), QStringLiteral("0.250"));
    st().FormCreate();
    st().FormShow();
    EXPECT_DOUBLE_EQ(GirdleHeight(), 0.2);
    EXPECT_EQ(editorText(), QStringLiteral("R1"));
    EXPECT_DOUBLE_EQ(st().TextHeight, 0.7);
    EXPECT_EQ(st().TextLabelStyle, TFontStyles(fsBold | fsItalic));
    EXPECT_EQ(st().DefaultSymbolList, QStringLiteral("A\u00B0"));
    EXPECT_DOUBLE_EQ(st().GridPitch, 0.25);
    EXPECT_DOUBLE_EQ(st().SpaceWidth, 0.5);
    EXPECT_EQ(st().AIMState, TAIMState::aimsHoming);

    st().EditFloatChange(TEditBox::EditGlyphLogoHeight, QStringLiteral("55.5"));
    st().DefaultSymbolList = QStringLiteral("\u00B0");
    // A picture loaded into a photo: its folder is where the photo dialog opens next time.
    QDir().mkpath(scratch(QStringLiteral("pictures")));
    QImage picture(8, 8, QImage::Format_RGB32);
    picture.fill(Qt::gray);
    const QString pictureFile = scratch(QStringLiteral("pictures/stone.png"));
    ASSERT_TRUE(picture.save(pictureFile));
    st().BitBtnAddPhotoClick();
    ASSERT_TRUE(st().LoadPhotoFile(pictureFile));
    EXPECT_EQ(st().PhotoDir(), scratch(QStringLiteral("pictures")));
    ASSERT_TRUE(st().FormCloseQuery());
    EXPECT_EQ(s.ReadString(QStringLiteral("PathNames"), QStringLiteral("PhotoDir"), {}), scratch(QStringLiteral("pictures")));
    EXPECT_TRUE(m_dialogs.transcript().empty()) << "no machine: nothing to ask";
    EXPECT_EQ(s.ReadString(QStringLiteral("Layout"), QStringLiteral("RichLabel"), QStringLiteral("?")), QString());
    EXPECT_EQ(s.ReadString(QStringLiteral("Layout"), QStringLiteral("LogoHeight"), {}), QStringLiteral("55.5"));
    EXPECT_EQ(s.ReadString(QStringLiteral("Layout"), QStringLiteral("SymbolList"), {}), QStringLiteral("$00B0"));
    EXPECT_EQ(s.ReadString(QStringLiteral("Layout"), QStringLiteral("TextLabelStyle"), {}), QStringLiteral("3"));
    EXPECT_EQ(s.ReadString(QStringLiteral("Diamond"), QStringLiteral("Girdle"), {}), QStringLiteral("0.2"));
    EXPECT_EQ(s.ReadString(QStringLiteral("RollDown"), QStringLiteral("Grid"), {}), QStringLiteral("0.250"));
}

TEST_F(StationLifeTest, CreateTakesTheUsersDataFolderWhenNoWorkingFolderIsSet)
{
    // An installed program's folder is not writable: the station works in the user's data
    // folder and makes its logo folder there.
    const QByteArray previous = qgetenv("XDG_DATA_HOME");
    const bool wasSet = qEnvironmentVariableIsSet("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", scratch(QStringLiteral("data")).toLocal8Bit());
    store().WriteString(QStringLiteral("Administration"), QStringLiteral("WorkingDir"), QString());
    st().FormCreate();
    if (wasSet)
        qputenv("XDG_DATA_HOME", previous);
    else
        qunsetenv("XDG_DATA_HOME");
    const QString expected = scratch(QStringLiteral("data/Lapidograph/"));
    EXPECT_EQ(keys::read(keys::WorkingDir), expected);
    EXPECT_EQ(WorkingDir(), expected);
    EXPECT_TRUE(QFileInfo(expected + QStringLiteral("Logos")).isDir());
}

// Building a station, as the headless programs do, changes neither the store nor the folders;
// the window's creation makes the template list (its folder, its bindings) once.
TEST_F(StationLifeTest, BuildingAStationChangesNothingAndCreateMakesTheTemplatesOnce)
{
    const auto before = store().entries();
    DebugLogCapture log;
    makeStation();
    EXPECT_EQ(store().entries(), before);
    EXPECT_FALSE(QDir(scratch("Templates")).exists());
    st().FormCreate();
    EXPECT_TRUE(QDir(scratch("Templates")).exists());
    const auto lines = log.lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("templates FilesDir = ", 0) == 0; }), 1);
}

TEST_F(StationLifeTest, PulseTrainRateRoundsHalvesToEven)
{
    Settings().MaxReprate = 500;
    const std::pair<const char*, int> cases[] = {{"2.5", 2}, {"3.5", 4}, {"1.5", 2}, {"2.4999", 2}, {"499.5", 500}, {"1e9", 500}};
    for (const auto& [text, rate] : cases) {
        st().EditFloatChange(TEditBox::Edit_PulseTrainRate, QString::fromLatin1(text));
        EXPECT_EQ(st().PulseTrainRate(), rate) << text;
    }
}

struct ResetCase {
    int resetAndFree;
    const char* caption;
    const char* hint;
    const char* goToStart;
};

class ResetCaptionTest : public LabelFixture, public ::testing::WithParamInterface<ResetCase> {};

TEST_P(ResetCaptionTest, FollowTheFreeHolderSetting)
{
    keys::write(keys::ResetAndFreeEnable, GetParam().resetAndFree);
    st().FormCreate();
    EXPECT_EQ(st().controls().resetCaption, QString::fromLatin1(GetParam().caption));
    EXPECT_EQ(st().controls().resetHint, QString::fromLatin1(GetParam().hint));
    EXPECT_EQ(st().controls().goToStartCaption, QString::fromLatin1(GetParam().goToStart));
    EXPECT_TRUE(st().controls().bitBtnResetVisible);
    EXPECT_FALSE(st().controls().bitBtn3Visible);
}

INSTANTIATE_TEST_SUITE_P(Settings, ResetCaptionTest,
                         ::testing::Values(ResetCase{1, "Reset and Free\r\nHolder (F10)", "", "Go to Start\r\npos. (F11)"},
                                           ResetCase{0, "Reset (F10)", "Reset", ""}));

// Show applies the stored motion settings to the machine; the first activation starts and
// homes it and leaves the operator aligning.
TEST_F(StationLifeTest, FirstActivationStartsTheMachine)
{
    ScopedDmcSimulator sim(&m_clock);
    keys::write(keys::GalilIP, QStringLiteral("sim"));
    store().WriteString(QStringLiteral("Hardware"), QStringLiteral("EnableOnDelay"), QStringLiteral("0"));
    Settings().XY_CountsPerMM = 1000;
    Settings().Z_CountsPerMM = 1000;
    auto machine = std::make_unique<TLaser>();
    setLaser(machine.get());
    st().FormCreate();
    st().FormShow();
    ASSERT_FALSE(machine->Initialized);
    st().FormActivate();
    EXPECT_TRUE(machine->Initialized);
    EXPECT_EQ(st().AIMState, TAIMState::aimsAligning);
    EXPECT_TRUE(st().controls().bitBtnSettingsVisible);
    st().TimerLaserTick();
    EXPECT_NEAR(st().MarkingReference_X, Settings().StartUp_X, 1e-3) << "the reference follows the homed axes";
    m_station.reset();
    setLaser(nullptr);
}

class StationMachineTest : public MarkingFixture {};

TEST_F(StationMachineTest, ExitAsksOnARunningMachineUnlessDebugging)
{
    m_dialogs.queueAnswer(DialogResult::Cancel);
    EXPECT_FALSE(st().FormCloseQuery());
    EXPECT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("Exit Lapidograph?")});
    EXPECT_TRUE(laser().Initialized) << "cancelled: the machine keeps running";

    setDebugMode(true);
    EXPECT_TRUE(st().FormCloseQuery());
    EXPECT_EQ(m_dialogs.transcript().size(), 1u);
}

TEST_F(StationMachineTest, PositionTimerMovesTheReferenceOnlyWhileAligning)
{
    laser().MoveTo(16, 12, 12.5, 0);
    laser().WaitOnMotionComplete();
    st().TimerLaserTick();
    EXPECT_NEAR(st().MarkingReference_X, 16, 1e-6);
    EXPECT_NEAR(st().MarkingReference_Y, 12, 1e-6);

    st().AIMState = TAIMState::aimsInspecting;
    laser().MoveTo(17, 12, 12.5, 0);
    laser().WaitOnMotionComplete();
    st().TimerLaserTick();
    EXPECT_NEAR(st().AxisPosition_X, 17, 1e-6);
    EXPECT_NEAR(st().MarkingReference_X, 16, 1e-6);
}

TEST_F(StationMachineTest, PulseToolsTakeNumbersWithinTheirRangesAndFire)
{
    Settings().MaxReprate = 500;
    st().SpinEditPulseTrainCountChange(QStringLiteral("5"));
    st().SpinEditPulseTrainCountChange(QStringLiteral("five"));
    st().SpinEditPulseDurationChange(QStringLiteral("1000"));
    st().EditFloatChange(TEditBox::Edit_PulseTrainRate, QStringLiteral("900"));
    EXPECT_EQ(st().PulseTrainCount(), 5);
    EXPECT_EQ(st().PulseDuration(), 500);
    EXPECT_EQ(st().PulseTrainRate(), 500) << "clamped to the maximum repetition rate";
    st().EditFloatChange(TEditBox::Edit_PulseTrainRate, QStringLiteral("0.0001"));
    EXPECT_TRUE(st().edit(TEditBox::Edit_PulseTrainRate).refused);
    EXPECT_EQ(st().PulseTrainRate(), 500);

    const size_t before = sim().markCount();
    st().ButtonShootPulseTrainClick();
    EXPECT_EQ(st().edit(TEditBox::Edit_PulseTrainRate).text, QStringLiteral("500"));
    EXPECT_FALSE(st().edit(TEditBox::Edit_PulseTrainRate).refused);
    EXPECT_EQ(sim().markCount() - before, 5u);
}

TEST_F(StationMachineTest, WheelQueuesAtMostTheBufferedSteps)
{
    Settings().VideoScale = 100; // 10 um per tick
    Settings().WheelBuffer = 0;
    const double x0 = st().AxisPosition_X;
    for (int tick = 0; tick < 3; ++tick)
        st().WheelJog('X', +1, false, false);
    laser().WaitOnMotionComplete();
    st().TimerLaserTick();
    EXPECT_NEAR(st().AxisPosition_X - x0, 0.020, 1e-6) << "the third tick came with two steps to go";

    st().controls().down = TSpeedButton::Mark;
    st().WheelJog('X', +1, false, false);
    laser().WaitOnMotionComplete();
    st().TimerLaserTick();
    EXPECT_NEAR(st().AxisPosition_X - x0, 0.020, 1e-6) << "no wheel jog while Engrave is down";
}

TEST_F(StationMachineTest, JogKeysMoveBySteps)
{
    Settings().VideoScale = 250; // 4 um per pixel
    Settings().XMovementSpeedUp = 2;
    Settings().WheelTick1_Z = 10;
    const double x0 = st().AxisPosition_X;
    const double z0 = st().AxisPosition_Z;
    st().KeyJog('X', +1, 4);
    st().KeyJog('Z', -1, 2);
    laser().WaitOnMotionComplete();
    st().TimerLaserTick();
    EXPECT_NEAR(st().AxisPosition_X - x0, 0.032, 1e-3);
    EXPECT_NEAR(st().AxisPosition_Z - z0, -0.020, 1e-3);

    for (TAIMState frozen : {TAIMState::aimsMarking, TAIMState::aimsHoming}) {
        st().AIMState = frozen;
        st().KeyJog('Y', +1, 4);
        laser().WaitOnMotionComplete();
        st().TimerLaserTick();
        EXPECT_NEAR(st().AxisPosition_Y, 12.5, 1e-6);
    }
}

} // namespace
} // namespace lapido::test
