// The window's keys, wheel and drag as station operations, the run's progress and the focus
// requests, on the in-process simulated machine.
#include "markingfixture.h"

#include "platform/eventpump.h"
#include "workflow/templatelist.h"

namespace lapido::test {
namespace {

struct Moved {
    double X, Y, Z;
};

// Runs a function at every turn the machine gives the user interface.
class HookPump final : public EventPump {
public:
    explicit HookPump(std::function<void()> f) : m_f(std::move(f)), m_previous(setEventPump(this)) {}
    ~HookPump() override { setEventPump(m_previous); }
    void pump() override { m_f(); }

private:
    std::function<void()> m_f;
    EventPump* m_previous;
};

class StationInputTest : public MarkingFixture {
protected:
    void SetUp() override
    {
        MarkingFixture::SetUp();
        // The station again, with the window's services recorded.
        TStationServices services;
        services.logger = m_logger.get();
        services.lightRotate = [this](bool plus) { m_rotations << (plus ? QStringLiteral("plus") : QStringLiteral("moins")); };
        services.moveFocus = [this](TFocusTarget t) { m_focus.push_back(t); };
        m_station = std::make_unique<TStation>(std::move(services));
        TStation& s = st();
        s.MarkingReference_X = s.AxisPosition_X = 15;
        s.MarkingReference_Y = s.AxisPosition_Y = 12.5;
        s.MarkingReference_Z = s.AxisPosition_Z = 12.5;
        s.SetAIMSState(TAIMState::aimsAligning);
        Settings().VideoScale = 100; // 10 um per pixel
        Settings().XMovementSpeedUp = 1;
        Settings().YMovementSpeedUp = 1;
        Settings().ZMovementSpeedUp = 1;
        Settings().WheelTick1_Z = 5;
    }

    // Where the key moved the table from the start-up position, in mm.
    Moved moved()
    {
        laser().WaitOnMotionComplete();
        st().TimerLaserTick();
        return {st().AxisPosition_X - 15, st().AxisPosition_Y - 12.5, st().AxisPosition_Z - 12.5};
    }

    QStringList m_rotations;
    std::vector<TFocusTarget> m_focus;
};

struct JogCase {
    int key;
    Qt::KeyboardModifiers modifiers;
    double dx, dy, dz; // mm
};

TEST_F(StationInputTest, JogKeysMoveTheirAxisByTheStepTimesTheModifierFactor)
{
    const Qt::KeyboardModifiers none = Qt::NoModifier;
    const JogCase cases[] = {
        {Qt::Key_Left, none, -0.010, 0, 0},
        {Qt::Key_Right, Qt::ControlModifier, +0.020, 0, 0},
        {Qt::Key_Up, Qt::ControlModifier | Qt::ShiftModifier, 0, +0.040, 0},
        {Qt::Key_Down, Qt::ShiftModifier, 0, -0.010, 0}, // Shift alone does not multiply
        {Qt::Key_PageUp, none, 0, 0, +0.005},
        {Qt::Key_PageDown, Qt::ControlModifier, 0, 0, -0.010},
        {Qt::Key_I, Qt::AltModifier, +0.010, 0, 0},
        {Qt::Key_J, Qt::AltModifier | Qt::ControlModifier, -0.020, 0, 0},
        {Qt::Key_K, Qt::AltModifier, 0, +0.010, 0},
        {Qt::Key_L, Qt::AltModifier, 0, -0.010, 0},
        {Qt::Key_M, Qt::AltModifier, 0, 0, +0.005},
        {Qt::Key_N, Qt::AltModifier, 0, 0, -0.005},
    };
    for (const JogCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "key " << std::hex << c.key << " modifiers " << int(c.modifiers));
        laser().MoveTo(15, 12.5, 12.5);
        laser().WaitOnMotionComplete();
        EXPECT_TRUE(st().KeyDown(c.key, c.modifiers)) << "a jog key is the station's alone";
        const Moved d = moved();
        EXPECT_NEAR(d.X, c.dx, 1e-6);
        EXPECT_NEAR(d.Y, c.dy, 1e-6);
        EXPECT_NEAR(d.Z, c.dz, 1e-6);
    }
    // Letters without Alt only belong to the focused control.
    laser().MoveTo(15, 12.5, 12.5);
    st().KeyDown(Qt::Key_K, Qt::NoModifier);
    st().KeyDown(Qt::Key_I, Qt::ControlModifier);
    const Moved none0 = moved();
    EXPECT_NEAR(none0.X, 0, 1e-9);
    EXPECT_NEAR(none0.Y, 0, 1e-9);
}

TEST_F(StationInputTest, WhileMarkingOnlyAbortAndTheViewKeysAct)
{
    TLabelTree& tree = st().TreeViewGlyphs();
    addBox(1.0);
    st().Templates().NewTemplate(QStringLiteral("Other"), st().Tree2XML(), QString(), true);
    st().ComboBoxTemplatesChange(1);
    st().BindTemplateTemporary(2);
    st().ComboBoxTemplatesChange(0);
    const QString girdle = st().edit(TEditBox::EditGirdle).text;
    st().SetAIMSState(TAIMState::aimsMarking);
    const int nodes = tree.Count();

    for (const auto& [key, modifiers] : std::initializer_list<std::pair<int, Qt::KeyboardModifiers>>{
             {Qt::Key_K, Qt::AltModifier},
             {Qt::Key_Right, Qt::NoModifier},
             {Qt::Key_2, Qt::AltModifier},
             {Qt::Key_Home, Qt::ControlModifier},
             {Qt::Key_F11, Qt::NoModifier},
             {Qt::Key_F10, Qt::NoModifier}}) {
        SCOPED_TRACE(key);
        EXPECT_TRUE(st().KeyDown(key, modifiers)) << "the station's key is swallowed and does nothing";
    }
    EXPECT_TRUE(st().KeyDown(Qt::Key_F9, Qt::NoModifier)) << "F9 stays the station's";
    const Moved d = moved();
    EXPECT_NEAR(d.X, 0, 1e-9);
    EXPECT_NEAR(d.Y, 0, 1e-9);
    EXPECT_EQ(st().templateIndex(), 0) << "no template loaded during a run";
    EXPECT_EQ(tree.Count(), nodes);
    EXPECT_EQ(st().edit(TEditBox::EditGirdle).text, girdle);

    const bool grid = st().ShowGrid;
    EXPECT_TRUE(st().KeyDown(Qt::Key_F4, Qt::NoModifier));
    EXPECT_NE(st().ShowGrid, grid);
    EXPECT_TRUE(st().KeyDown(Qt::Key_Escape, Qt::NoModifier));
    EXPECT_TRUE(MarkingAborted());
}

TEST_F(StationInputTest, ViewKeysToggleAndGirdleSlantKeysStep)
{
    for (const auto& [key, flag] : std::initializer_list<std::pair<int, bool TStation::*>>{
             {Qt::Key_F2, &TStation::ShowOverlay}, {Qt::Key_F3, &TStation::ZoomOut}, {Qt::Key_F4, &TStation::ShowGrid}}) {
        const bool before = st().*flag;
        EXPECT_TRUE(st().KeyDown(key, Qt::NoModifier));
        EXPECT_EQ(st().*flag, !before);
        EXPECT_TRUE(st().KeyDown(key, Qt::NoModifier));
        EXPECT_EQ(st().*flag, before);
    }

    st().EditFloatChange(TEditBox::EditGirdle, QStringLiteral("0.5"));
    st().EditFloatChange(TEditBox::EditSlant, QStringLiteral("0.0"));
    EXPECT_TRUE(st().KeyDown(Qt::Key_Home, Qt::ControlModifier)) << "Ctrl+Home steps the girdle, and only that";
    EXPECT_GT(GirdleHeight(), 0.5);
    EXPECT_EQ(SlantAngle(), 0.0);
    st().KeyDown(Qt::Key_End, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_LT(SlantAngle(), 0.0);
    const double girdle = GirdleHeight();
    EXPECT_FALSE(st().KeyDown(Qt::Key_Home, Qt::NoModifier));
    EXPECT_EQ(GirdleHeight(), girdle) << "Home alone is the edit boxes'";
    EXPECT_FALSE(st().KeyDown(Qt::Key_Home, Qt::ControlModifier, TKeyFocus::Text));
    EXPECT_FALSE(st().KeyDown(Qt::Key_End, Qt::ControlModifier | Qt::AltModifier, TKeyFocus::LabelEditor));
    EXPECT_EQ(GirdleHeight(), girdle) << "Ctrl+Home while typing moves the caret, not the girdle";
}

TEST_F(StationInputTest, DigitKeysBindAndUseTemplates)
{
    addBox(1.0, QStringLiteral("Logo \"first\""));
    st().Templates().NewTemplate(QStringLiteral("First"), st().Tree2XML(), QString(), true);
    st().ComboBoxTemplatesChange(1);
    st().KeyDown(Qt::Key_2, Qt::ControlModifier);
    st().ComboBoxTemplatesChange(0);
    ASSERT_EQ(st().templateIndex(), 0);

    st().KeyDown(Qt::Key_2, Qt::AltModifier);
    EXPECT_EQ(st().templateIndex(), 1);

    // The digits of the numeric pad bind nothing.
    st().ComboBoxTemplatesChange(0);
    st().KeyDown(Qt::Key_2, Qt::KeypadModifier | Qt::AltModifier);
    EXPECT_EQ(st().templateIndex(), 0);

    // A digit with nothing bound does nothing but say so: the label on show stays.
    addLabel(QStringLiteral("KEEP"));
    const QString label = st().Tree2XML();
    m_dialogs.clear();
    EXPECT_TRUE(st().KeyDown(Qt::Key_7, Qt::AltModifier, TKeyFocus::LabelEditor));
    EXPECT_EQ(st().Tree2XML(), label);
    EXPECT_EQ(st().templateIndex(), 0);
    EXPECT_TRUE(m_dialogs.texts().isEmpty());
    EXPECT_TRUE(st().StatusMessage().contains(QStringLiteral("Alt+7"))) << qPrintable(st().StatusMessage());
}

// Keys with the focus in a text box or a list belong to that control: the station does
// nothing with them and leaves them to it; Alt+I..N jog wherever the focus is.
TEST_F(StationInputTest, KeysOfAFocusedTextBoxOrListMoveNothing)
{
    const int keys[] = {Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down, Qt::Key_PageUp, Qt::Key_PageDown};
    for (const TKeyFocus focus : {TKeyFocus::LabelEditor, TKeyFocus::Text, TKeyFocus::List}) {
        for (const int key : keys) {
            SCOPED_TRACE(testing::Message() << "focus " << int(focus) << " key " << std::hex << key);
            laser().MoveTo(15, 12.5, 12.5);
            EXPECT_FALSE(st().KeyDown(key, Qt::NoModifier, focus));
            const Moved d = moved();
            EXPECT_NEAR(d.X, 0, 1e-9);
            EXPECT_NEAR(d.Y, 0, 1e-9);
            EXPECT_NEAR(d.Z, 0, 1e-9);
        }
        laser().MoveTo(15, 12.5, 12.5);
        EXPECT_TRUE(st().KeyDown(Qt::Key_K, Qt::AltModifier, focus)) << "Alt+K is never typed";
        EXPECT_NEAR(moved().Y, 0.010, 1e-6);
    }
    EXPECT_EQ(st().JogStepText(), QStringLiteral("Jog X 0.010 Y 0.010 Z 0.005 mm"));
}

// The key table: every key x focus gives one thing, the station's or the control's.
TEST(KeyRouter, EachKeyDoesOneThingDependingOnTheFocus)
{
    using F = TKeyFocus;
    using A = TKeyAction;
    struct Row {
        int key;
        Qt::KeyboardModifiers modifiers;
        A jog, label, text, list; // the action with the focus on a jog control, the label editor, a text box, a list
    };
    const Qt::KeyboardModifiers none = Qt::NoModifier, ctrl = Qt::ControlModifier, alt = Qt::AltModifier,
                                shift = Qt::ShiftModifier;
    const Row rows[] = {
        {Qt::Key_Left, none, A::Jog, A::None, A::None, A::None},
        {Qt::Key_Down, ctrl, A::Jog, A::None, A::None, A::None},
        {Qt::Key_PageUp, none, A::Jog, A::None, A::None, A::None},
        {Qt::Key_I, alt, A::Jog, A::Jog, A::Jog, A::Jog},
        {Qt::Key_N, alt | ctrl, A::Jog, A::Jog, A::Jog, A::Jog},
        {Qt::Key_K, none, A::None, A::None, A::None, A::None},
        {Qt::Key_Home, ctrl, A::GirdleUp, A::None, A::None, A::None},
        {Qt::Key_End, ctrl | alt, A::SlantDown, A::None, A::None, A::None},
        {Qt::Key_Home, none, A::None, A::None, A::None, A::None},
        {Qt::Key_Z, ctrl, A::Undo, A::Undo, A::None, A::Undo},
        {Qt::Key_Z, ctrl | shift, A::Redo, A::Redo, A::None, A::Redo},
        {Qt::Key_3, alt, A::UseTemplateBinding, A::UseTemplateBinding, A::UseTemplateBinding, A::UseTemplateBinding},
        {Qt::Key_3, ctrl, A::BindTemplateTemporary, A::BindTemplateTemporary, A::BindTemplateTemporary,
         A::BindTemplateTemporary},
        {Qt::Key_3, Qt::KeypadModifier | alt, A::None, A::None, A::None, A::None},
        {Qt::Key_Escape, none, A::Abort, A::Abort, A::Abort, A::Abort},
        {Qt::Key_F9, none, A::Engrave, A::Engrave, A::Engrave, A::Engrave},
        {Qt::Key_F10, none, A::NextLabel, A::NextLabel, A::NextLabel, A::NextLabel},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "key " << std::hex << r.key << " modifiers " << int(r.modifiers));
        EXPECT_EQ(RouteKey(r.key, r.modifiers, F::Jog).action, r.jog);
        EXPECT_EQ(RouteKey(r.key, r.modifiers, F::LabelEditor).action, r.label);
        EXPECT_EQ(RouteKey(r.key, r.modifiers, F::Text).action, r.text);
        EXPECT_EQ(RouteKey(r.key, r.modifiers, F::List).action, r.list);
    }
    const TKeyCommand j = RouteKey(Qt::Key_J, Qt::AltModifier | Qt::ControlModifier | Qt::ShiftModifier, F::Text);
    EXPECT_EQ(j.axis, 'X');
    EXPECT_EQ(j.direction, -1);
    EXPECT_EQ(j.factor, 4);
}

TEST_F(StationInputTest, RingLightChordNeedsCtrlAndRHeld)
{
    const Qt::KeyboardModifiers padCtrl = Qt::KeypadModifier | Qt::ControlModifier;
    EXPECT_FALSE(st().KeyDown(Qt::Key_Asterisk, padCtrl)) << "R not held";
    EXPECT_FALSE(st().KeyDown(Qt::Key_R, Qt::ControlModifier)) << "R still reaches the control";
    EXPECT_TRUE(st().KeyDown(Qt::Key_Asterisk, padCtrl));
    EXPECT_TRUE(st().KeyDown(Qt::Key_Minus, padCtrl));
    EXPECT_FALSE(st().KeyDown(Qt::Key_Minus, Qt::ControlModifier)) << "the minus of the main keyboard";
    st().KeyUp(Qt::Key_R);
    EXPECT_FALSE(st().KeyDown(Qt::Key_Asterisk, padCtrl));
    EXPECT_EQ(m_rotations, (QStringList{QStringLiteral("moins"), QStringLiteral("plus")}));
}

TEST_F(StationInputTest, WheelFollowsTheControlUnderThePointer)
{
    st().EditFloatChange(TEditBox::EditGirdle, QStringLiteral("0.5"));
    EXPECT_TRUE(st().MouseWheel(TWheelControl::Girdle, +1, Qt::NoModifier));
    EXPECT_GT(GirdleHeight(), 0.5);
    EXPECT_TRUE(st().MouseWheel(TWheelControl::Slant, -1, Qt::NoModifier));
    EXPECT_LT(SlantAngle(), 0.0);

    EXPECT_FALSE(st().MouseWheel(TWheelControl::Video, +1, Qt::NoModifier)) << "zoom needs Ctrl";
    EXPECT_TRUE(st().MouseWheel(TWheelControl::Video, +1, Qt::ControlModifier));
    EXPECT_TRUE(st().ZoomOut);
    EXPECT_TRUE(st().MouseWheel(TWheelControl::Video, -1, Qt::ControlModifier));
    EXPECT_FALSE(st().ZoomOut);

    // Shift and Ctrl: tick level 3 of Y.
    Settings().WheelTick3_Y = 100;
    EXPECT_TRUE(st().MouseWheel(TWheelControl::JogY, -1, Qt::ShiftModifier | Qt::ControlModifier));
    EXPECT_NEAR(moved().Y, -0.100, 1e-6);

    // The girdle does not change during a run.
    st().SetAIMSState(TAIMState::aimsMarking);
    const double g = GirdleHeight();
    st().MouseWheel(TWheelControl::Girdle, +1, Qt::NoModifier);
    EXPECT_EQ(GirdleHeight(), g);
}

TEST_F(StationInputTest, DragMovesTheStoneWithThePointerOnlyWhileAligningOrInspecting)
{
    st().DragPicture(1.0, 2.0, 1.1, 1.9);
    Moved d = moved();
    EXPECT_NEAR(d.X, -0.1, 1e-6);
    EXPECT_NEAR(d.Y, +0.1, 1e-6);

    laser().MoveTo(15, 12.5, 12.5);
    st().DragPicture(0, 0, 0.00005, 0.3);
    d = moved();
    EXPECT_NEAR(d.X, 0, 1e-9) << "differences of 0.0001 mm or less are not moved";
    EXPECT_NEAR(d.Y, -0.3, 1e-6);

    laser().MoveTo(15, 12.5, 12.5);
    st().SetAIMSState(TAIMState::aimsHoming);
    st().DragPicture(0, 0, 1, 1);
    d = moved();
    EXPECT_NEAR(d.X, 0, 1e-9);
}

TEST_F(StationInputTest, RunReportsProgressAndMovesTheFocusToAbortThenReset)
{
    addLabel(QStringLiteral("AB"));
    addBox(0.5);
    engrave();
    const TMarkingProgress& p = st().markingProgress();
    EXPECT_FALSE(p.running);
    EXPECT_GE(p.glyphCount, 2);
    EXPECT_EQ(p.glyph, p.glyphCount);
    EXPECT_GT(st().markingElapsedMs(), 0) << "the run took machine time";
    EXPECT_FALSE(p.aborted);
    EXPECT_EQ(m_focus, (std::vector<TFocusTarget>{TFocusTarget::Abort, TFocusTarget::Reset}));

    // Aborted in the middle: the focus stays where it was (Abort) after the run.
    m_focus.clear();
    m_dialogs.queueCaption(QStringLiteral("OK")); // "Engrave all objects once more?"
    bool pressed = false;
    {
        HookPump pump([&] {
            if (!pressed && st().markingProgress().running && sim().markCount() > 0) {
                pressed = st().KeyDown(Qt::Key_Escape, Qt::NoModifier);
            }
        });
        sim().clearMarks();
        engrave();
    }
    ASSERT_TRUE(pressed);
    EXPECT_TRUE(MarkingAborted());
    EXPECT_LT(st().markingProgress().glyph, st().markingProgress().glyphCount);
    EXPECT_TRUE(st().markingProgress().aborted) << "the status line says the run was aborted";
    EXPECT_EQ(m_focus, (std::vector<TFocusTarget>{TFocusTarget::Abort}));
}

TEST_F(StationInputTest, NothingFiresOrMovesDuringARunButAbort)
{
    st().SetAIMSState(TAIMState::aimsInspecting);
    EXPECT_TRUE(st().controls().shootPulses);
    st().SetAIMSState(TAIMState::aimsMarking);
    EXPECT_FALSE(st().controls().shootPulses);
    sim().clearTranscript();
    st().ButtonSinglePulseClick();
    st().ButtonShootPulseTrainClick();
    st().BitBtnFocusClick();
    st().BitBtn_CircleGotoClick();
    st().BitBtnGoToStartClick();
    st().DebugHomeClick();
    st().WheelJog('X', +1, false, false);
    for (const DmcTranscriptEntry& e : sim().transcript())
        ADD_FAILURE() << "sent during a run: " << e.line;
    EXPECT_FALSE(laser().EnableIsOn);
}

TEST(StationTimerPlan, VideoWaitsFiftyMillisecondsThenTheRefreshSetting)
{
    Settings().VideoRefresh = 40;
    EXPECT_EQ(TStation::VideoTimerInterval(false), 50);
    EXPECT_EQ(TStation::VideoTimerInterval(true), 40);
    Settings().VideoRefresh = 0;
    EXPECT_GE(TStation::VideoTimerInterval(true), 1) << "a zero refresh would spin the event loop";
    Settings() = TSettings{};
}

} // namespace
} // namespace lapido::test
