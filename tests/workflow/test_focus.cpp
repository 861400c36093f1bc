// Focus curvature teaching, moves along the label, standby positions, reset and free holder,
// F12 and the circle-centre tool, on the simulated machine.
#include "markingfixture.h"

#include "glyphs/glyphoutline.h"
#include "glyphs/glyphphoto.h"
#include "platform/debuglog.h"
#include "records/filelogging.h"
#include "records/loggingproxy.h"

#include <QDir>

namespace lapido {
namespace {

using test::MarkingFixture;

class FocusTest : public MarkingFixture {
protected:
    // Teaches a point by standing there and pressing "Set Focus".
    void teach(double x, double z)
    {
        st().AxisPosition_X = x;
        st().AxisPosition_Z = z;
        st().BitBtnFocusClick();
    }
    void stand(double x, double y, double z)
    {
        laser().MoveTo(x, y, z);
        laser().WaitOnMotionComplete();
    }
};

TEST_F(FocusTest, CurvatureThroughTheReferenceAndTheTaughtPoints)
{
    struct Point {
        double x, z;
    };
    struct Case {
        const char* what;
        std::optional<Point> left, right;
        double A, B, C;
        std::vector<std::pair<double, double>> heights; // x -> Z(x)
    };
    const Case cases[] = {
        {"none taught: flat at the reference", {}, {}, 0, 0, 2, {{3, 2}, {17, 2}}},
        {"both sides", Point{9.5, 2.02}, Point{10.5, 2.02}, 0.08, -1.6, 10, {{10, 2}, {9.5, 2.02}, {10.5, 2.02}}},
        {"right only: a slope", {}, Point{10.5, 2.05}, 0, 0.1, 1, {{11, 2.1}, {10, 2}}},
        {"left only: a slope", Point{9, 1.9}, {}, 0, 0.1, 1, {{8, 1.8}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        st().MarkingReference_X = 10;
        st().MarkingReference_Z = 2;
        st().CuvatureLeft_X = st().CuvatureLeft_Z = st().CuvatureRight_X = st().CuvatureRight_Z = 0;
        if (c.left)
            teach(c.left->x, c.left->z);
        if (c.right)
            teach(c.right->x, c.right->z);
        st().SetFocusCurvature();
        EXPECT_NEAR(st().Curvature_A(), c.A, 1e-9);
        EXPECT_NEAR(st().Curvature_B(), c.B, 1e-9);
        EXPECT_NEAR(st().Curvature_C(), c.C, 1e-9);
        for (auto [x, z] : c.heights)
            EXPECT_NEAR(st().GetFocusHeight(x), z, 1e-9) << x;
    }
}

TEST_F(FocusTest, SetFocusRecordsOneSideAndNothingAtTheReference)
{
    st().MarkingReference_X = 10;
    st().MarkingReference_Z = 2;
    DebugLogCapture log;
    teach(10, 3);
    EXPECT_EQ(st().CuvatureLeft_X, 0);
    EXPECT_EQ(st().CuvatureRight_X, 0);
    teach(9, 2.5);
    teach(8, 2.25); // replaces the earlier left point
    EXPECT_DOUBLE_EQ(st().CuvatureLeft_X, -2);
    EXPECT_DOUBLE_EQ(st().CuvatureLeft_Z, 0.25);
    EXPECT_EQ(st().CuvatureRight_X, 0);
    const auto lines = log.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "Teach - axis position x < marking reference x. Curvature left x [-2] curvature left z [0.25]"),
              lines.end());
}

TEST_F(FocusTest, APointOutsideTheTravelIsRefusedAndTheCurveStaysAsItWas)
{
    st().MarkingReference_X = 10;
    st().MarkingReference_Z = 2;
    teach(8, 2.25);
    const double A = st().Curvature_A(), B = st().Curvature_B(), C = st().Curvature_C();
    const TSettings& s = Settings();
    const struct {
        const char* what;
        double x, z;
    } cases[] = {
        {"far right, far up", 1e9, 1e9},
        {"far left", -1e9, 2},
        {"below the Z travel", 12, s.Z_MinPos - 0.001},
        {"beyond the X travel", s.X_MaxPos + 0.001, 2},
        {"not a number", std::nan(""), 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        m_dialogs.clear();
        st().AxisPosition_X = c.x;
        st().AxisPosition_Z = c.z;
        EXPECT_FALSE(st().BitBtnFocusClick());
        ASSERT_EQ(m_dialogs.texts().size(), 1);
        EXPECT_TRUE(m_dialogs.texts()[0].contains(QStringLiteral("outside the travel of the axes")));
        EXPECT_DOUBLE_EQ(st().CuvatureLeft_X, -2);
        EXPECT_EQ(st().CuvatureRight_X, 0);
        EXPECT_EQ(st().Curvature_A(), A);
        EXPECT_EQ(st().Curvature_B(), B);
        EXPECT_EQ(st().Curvature_C(), C);
    }
}

TEST_F(FocusTest, SetFocusIsEnabledOnlyInspectingBeyondOneGirdleHeight)
{
    struct Case {
        TAIMState state;
        bool useZ;
        double x;
        bool enabled;
    };
    const Case cases[] = {
        {TAIMState::aimsInspecting, true, 15.6, true},   {TAIMState::aimsInspecting, true, 14.4, true},
        {TAIMState::aimsInspecting, true, 15.5, false},  {TAIMState::aimsInspecting, false, 16, false},
        {TAIMState::aimsAligning, true, 16, false},
    };
    for (const Case& c : cases) {
        st().AIMState = c.state;
        Settings().UseZaxis = c.useZ;
        st().AxisPosition_X = c.x;
        st().updateSetFocusEnabled();
        EXPECT_EQ(st().controls().setFocus, c.enabled) << int(c.state) << " " << c.useZ << " " << c.x;
    }
}

TEST_F(FocusTest, LeftCentreAndRightMoveAlongTheLabelAtFocus)
{
    addBox(4); // 2 mm at girdle 0.5: from X 14 to 16
    inspect();
    // A taught right point bends the focus; the left end is not taught.
    st().CuvatureRight_X = 0.5;
    st().CuvatureRight_Z = 0.05;
    st().SetFocusCurvature();
    struct Case {
        TStation::TLabelEnd end;
        double x;
    };
    for (const Case& c : {Case{TStation::TLabelEnd::Left, 14}, Case{TStation::TLabelEnd::Center, 15},
                          Case{TStation::TLabelEnd::Right, 15.5}}) {
        st().BitBtnGotoLabelLeftCenterOrRightClick(c.end);
        laser().WaitOnMotionComplete();
        EXPECT_EQ(sim().referencePosition('X'), std::llround(c.x * 1000)) << int(c.end);
        EXPECT_EQ(sim().referencePosition('Y'), 12500);
        EXPECT_EQ(sim().referencePosition('Z'), std::llround(st().GetFocusHeight(c.x) * 1000)) << int(c.end);
    }
    // Not inspecting: the buttons are disabled and nothing moves.
    st().SetAIMSState(TAIMState::aimsAligning);
    st().BitBtnGotoLabelLeftCenterOrRightClick(TStation::TLabelEnd::Left);
    laser().WaitOnMotionComplete();
    EXPECT_EQ(sim().referencePosition('X'), 15500);
}

TEST_F(FocusTest, StandbyPositionsOnlyWhileAligning)
{
    Settings().Goto2_X = 20;
    Settings().Goto2_Y = 18;
    Settings().Goto2_Z = 14;
    st().BitBtnGotoClick(2);
    laser().WaitOnMotionComplete();
    EXPECT_EQ(sim().referencePosition('X'), 20000);
    EXPECT_EQ(sim().referencePosition('Y'), 18000);
    EXPECT_EQ(sim().referencePosition('Z'), 14000);
    inspect();
    st().BitBtnGotoClick(1);
    laser().WaitOnMotionComplete();
    EXPECT_EQ(sim().referencePosition('X'), 20000);
}

TEST_F(FocusTest, ResetDeletesWhatTheSettingsSayAndFreesTheHolder)
{
    struct Case {
        const char* what;
        bool label, picture, logo, space;
        QStringList remaining;
        bool labelsEmptied;
    };
    const Case cases[] = {
        {"nothing deleted", false, false, false, false, {"Label \"AB\"", "Photo", "Logo", "Space 20.0%"}, false},
        {"pictures", false, true, false, false, {"Label \"AB\"", "Logo", "Space 20.0%"}, false},
        {"labels emptied, logos and spaces gone", true, false, true, true, {"Label \"\"", "Photo"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TLabelTree& tree = st().TreeViewGlyphs();
        tree.Clear();
        addLabel("AB");
        QImage picture(8, 8, QImage::Format_Grayscale8);
        picture.fill(80);
        TGlyph::CreateFor<TGlyphPhoto>(&tree, tree.Add("Photo"), picture, 0.8, 0.0);
        TGlyph::CreateFor<TGlyphLogo>(&tree, tree.Add("Logo"), QString(), 0.8, 0.0);
        TGlyph::CreateFor<TGlyphSpace>(&tree, tree.Add("Space"), 0.2);
        for (TTreeNode* n : tree.Items())
            if (n->Data())
                n->Data()->Processed = true;
        Settings().DeleteLabelAfterF10 = c.label;
        Settings().DeletePictureAfterF10 = c.picture;
        Settings().DeleteLogoAfterF10 = c.logo;
        Settings().DeleteSpaceAfterF10 = c.space;
        st().CuvatureLeft_X = -1;
        st().CuvatureRight_X = 1;
        setSlantAngle(5);
        st().SetAIMSState(TAIMState::aimsInspecting);
        st().controls().bitBtn3Visible = false;
        st().controls().bitBtnResetVisible = true;

        st().KeyF10();

        QStringList captions;
        for (int i = 0; i < tree.RootCount(); ++i)
            captions << (tree.Root(i)->Text().startsWith("Logo") ? QStringLiteral("Logo") : tree.Root(i)->Text());
        EXPECT_EQ(captions, c.remaining);
        for (TTreeNode* n : tree.Items()) {
            if (n->Data()) {
                EXPECT_FALSE(n->Data()->Processed) << n->Text().toStdString();
            }
        }
        EXPECT_EQ(tree.Root(0)->Count() == 0, c.labelsEmptied);
        EXPECT_EQ(st().CuvatureLeft_X, 0);
        EXPECT_EQ(st().CuvatureRight_X, 0);
        EXPECT_EQ(st().AIMState, TAIMState::aimsAligning);
        EXPECT_EQ(SlantAngle(), 0);
        // Reset and free holder (the default variant): Go to Start shown, Engrave disabled.
        EXPECT_TRUE(st().controls().bitBtn3Visible);
        EXPECT_FALSE(st().controls().bitBtnResetVisible);
        EXPECT_FALSE(st().controls().speedButtonMark);
        EXPECT_FALSE(MarkingAborted());
        EXPECT_TRUE(laser().InAfterMarkingPosition);
    }
}

TEST_F(FocusTest, GoToStartMakesTheHolderReadyForEngrave)
{
    // The maintenance log as files in the scratch folder: F10 records the machine's shots.
    keys::write(keys::LogFileEnabled, QStringLiteral("1"));
    keys::write(keys::LogFileBaseDir, scratch() + QStringLiteral("/"));
    TLoggingProxy::ResetInstance();
    TFileLogging::ResetInstance();
    Settings().TotalPulseCount = 4321;
    addLabel("I");
    st().KeyF10();
    const QStringList logs = QDir(scratch()).entryList({"TotalMachinePulses_*.log"});
    ASSERT_EQ(logs.size(), 1);
    QFile log(scratch(logs.front()));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromLocal8Bit(log.readAll()).contains("4321"));
    ASSERT_TRUE(st().controls().bitBtn3Visible);
    inspect();
    EXPECT_EQ(st().AIMState, TAIMState::aimsAligning) << "away from the start position Inspect is ignored";
    st().KeyF11();
    EXPECT_FALSE(st().controls().bitBtn3Visible);
    EXPECT_TRUE(st().controls().bitBtnResetVisible);
    EXPECT_TRUE(st().controls().speedButtonMark);
    EXPECT_TRUE(st().controls().gotoStandby);
    inspect();
    EXPECT_EQ(st().AIMState, TAIMState::aimsInspecting);
    EXPECT_EQ(m_lights, QStringList({"holderfree", "inspection"}));
    TLoggingProxy::ResetInstance();
    TFileLogging::ResetInstance();
}

TEST_F(FocusTest, F12ReturnsToAligningAndMayForgetTheTaughtPoints)
{
    for (bool forget : {false, true}) {
        Settings().DeleteZAZBZCAfterF12 = forget;
        st().CuvatureLeft_X = -1;
        st().CuvatureRight_X = 1;
        st().SetAIMSState(TAIMState::aimsInspecting);
        st().KeyF12();
        EXPECT_EQ(st().AIMState, TAIMState::aimsAligning);
        EXPECT_EQ(st().controls().down, TSpeedButton::Align);
        EXPECT_EQ(st().CuvatureLeft_X == 0 && st().CuvatureRight_X == 0, forget);
    }
}

TEST_F(FocusTest, CircleCentreNeedsBothPointsOfAnAxis)
{
    using P = TStation::TCirclePoint;
    const auto setAt = [&](P p, double x, double y) {
        st().AxisPosition_X = x;
        st().AxisPosition_Y = y;
        st().RadioButton_CircleClick(p);
        st().ButtonSetCenterClick();
    };
    EXPECT_EQ(st().circlePointText(P::Left), "not set");
    setAt(P::Top, 10, 14);
    setAt(P::Bottom, 10.5, 12);
    EXPECT_EQ(st().circleCenterXText(), "");
    EXPECT_EQ(st().circleCenterYText(), "13.000");
    setAt(P::Left, 9.12345, 13);
    EXPECT_EQ(st().circlePointText(P::Left), "9.123 , 13");
    EXPECT_EQ(st().circleCenterXText(), "");
    setAt(P::Right, 11, 13);
    EXPECT_EQ(st().circleCenterXText(), "10.062");

    st().RadioButton_CircleClick(P::Center);
    EXPECT_FALSE(st().controls().circleSet) << "the centre cannot be set";
    EXPECT_TRUE(st().controls().circleGoto);
    st().AxisPosition_X = 5;
    st().AxisPosition_Y = 5;
    st().BitBtn_CircleGotoClick();
    laser().WaitOnMotionComplete();
    EXPECT_EQ(sim().referencePosition('X'), 10062);
    EXPECT_EQ(sim().referencePosition('Y'), 13000);

    st().SetAIMSState(TAIMState::aimsMarking);
    EXPECT_FALSE(st().controls().circleGoto);
    st().SetAIMSState(TAIMState::aimsAligning);
    st().BitBtn_CircleClearClick();
    EXPECT_EQ(st().circleCenterXText(), "");
    EXPECT_EQ(st().circlePointText(P::Top), "not set");
    EXPECT_FALSE(st().controls().circleClear);
}

} // namespace
} // namespace lapido
