// The marking sequence on the simulated machine: format check, what is left to mark, the work
// area, the focus cam, the glyph walk with abort, trace entries and control states.
#include "markingfixture.h"

#include "platform/debuglog.h"
#include "platform/eventpump.h"

#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <functional>

namespace lapido {
namespace {

using test::MarkingFixture;

class MarkingTest : public MarkingFixture {
protected:
    // The leaf glyphs (characters) of a label node, in order.
    static std::vector<TGlyph*> chars(TTreeNode* label)
    {
        std::vector<TGlyph*> out;
        for (int i = 0; i < label->Count(); ++i)
            for (int k = 0; k < label->Item(i)->Count(); ++k)
                out.push_back(label->Item(i)->Item(k)->Data());
        return out;
    }
    long marksBetween(double x0, double x1) const
    {
        const auto marks = m_sim->get()->marks();
        return std::count_if(marks.begin(), marks.end(), [&](const LaserMark& m) { return m.xMm >= x0 && m.xMm < x1; });
    }
    void setEditorText(const QString& text) { st().RichEditGlyphLabel().document().setPlainText(text); }
};

// Calls a function from inside the machine's waits, as the window's event loop would.
class HookPump final : public EventPump {
public:
    explicit HookPump(std::function<void()> f) : m_f(std::move(f)), m_previous(setEventPump(this)) {}
    ~HookPump() override { setEventPump(m_previous); }
    void pump() override { m_f(); }

private:
    std::function<void()> m_f;
    EventPump* m_previous;
};

TEST(MarkingCharacterClasses, AsciiLettersAndDigitsOnly)
{
    struct Case {
        const char16_t* text;
        bool alpha, numeric, alnum;
    };
    const Case cases[] = {
        {u"", true, true, true},          {u"abcXYZ", true, false, true}, {u"0123456789", false, true, true},
        {u"ab12", false, false, true},    {u"\u00e9", false, false, false}, {u"a b", false, false, false},
        {u"12\n", false, false, false},   {u"A-1", false, false, false},
    };
    for (const Case& c : cases) {
        const QString s = QString::fromUtf16(c.text);
        EXPECT_EQ(TStation::IsAlphabetic(s), c.alpha) << s.toStdString();
        EXPECT_EQ(TStation::IsNumeric(s), c.numeric) << s.toStdString();
        EXPECT_EQ(TStation::IsAlphaNumeric(s), c.alnum) << s.toStdString();
    }
}

TEST_F(MarkingTest, LabelFormatFilterWarnsWithTheSettingsInTheText)
{
    struct Case {
        const char* mode;
        int length;
        const char* type;
        const char16_t* text;
        const char* warning; // the two filter lines, or null when the label passes
    };
    const Case cases[] = {
        {"Fixed ", 10, "-- Disable --", u"123456789",
         "Text Length Filter: Fixed  10 NOT OK.\r\nText Type Filter: -- Disable -- OK.\r\n"},
        {"Minimum", 5, "-- Disable --", u"12345", nullptr},
        {"Maximum ", 5, "-- Disable --", u"12345", nullptr},
        {"Maximum ", 4, "-- Disable --", u"12345",
         "Text Length Filter: Maximum  4 NOT OK.\r\nText Type Filter: -- Disable -- OK.\r\n"},
        {"-- Disabled --", 10, "Numeric only", u"123\n",
         "Text Length Filter: -- Disabled -- 10 OK.\r\nText Type Filter: Numeric only NOT OK.\r\n"},
        {"-- Disabled --", 10, "Alphanumeric only", u"AB12", nullptr},
        {"Minimum", 3, "Alphabetic only", u"A1",
         "Text Length Filter: Minimum 3 NOT OK.\r\nText Type Filter: Alphabetic only NOT OK.\r\n"},
    };
    addBox(2);
    inspect();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode + std::string("/") + c.type);
        Settings().WLabelCheckBeforeEngrave = true;
        Settings().WLabeTextLengthMode = QString::fromLatin1(c.mode);
        Settings().WLabelTextLength = c.length;
        Settings().WLabelTextType = QString::fromLatin1(c.type);
        setEditorText(QString::fromUtf16(c.text));
        m_dialogs.clear();
        QFile::remove(m_logger->filePath());
        // No answer queued: the default button is taken, which refuses.
        engrave();
        const QStringList lines = trace();
        if (!c.warning) {
            EXPECT_FALSE(lines.contains(QStringLiteral("OrN")));
            EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const QString& l) { return l.endsWith("]:ME"); }));
            st().TreeViewGlyphs().Root(0)->Data()->ResetMarking();
            continue;
        }
        ASSERT_EQ(m_dialogs.transcript().size(), 1u);
        const auto& box = m_dialogs.transcript().front();
        EXPECT_EQ(box.kind, DialogKind::Custom);
        EXPECT_EQ(box.buttons, QStringList({"No", "Yes"}));
        EXPECT_EQ(box.answer, "No");
        const QString expected = QStringLiteral("Warning !\r\nLabel format does not match the one set in the settings page.\r\n")
                                 + QString::fromLatin1(c.warning) + QStringLiteral("Would you like to inscribe anyway?");
        EXPECT_EQ(box.text, expected);
        const QString all = lines.join(QStringLiteral("\r\n"));
        EXPECT_TRUE(all.contains(QStringLiteral("Operator Warned !\r\nLabel format does not match")));
        EXPECT_TRUE(lines.contains(QStringLiteral("OrN")));
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const QString& l) { return l.endsWith("]:Abe"); }));
        EXPECT_FALSE(std::any_of(lines.begin(), lines.end(), [](const QString& l) { return l.endsWith("]:ME"); }));
        EXPECT_EQ(st().controls().down, TSpeedButton::Inspect);
        EXPECT_EQ(st().AIMState, TAIMState::aimsInspecting);
    }
}

TEST_F(MarkingTest, OperatorMayInscribeAWrongFormatAnyway)
{
    Settings().WLabelCheckBeforeEngrave = true;
    Settings().WLabeTextLengthMode = QStringLiteral("Fixed ");
    Settings().WLabelTextLength = 10;
    TTreeNode* label = addLabel(QStringLiteral("AB"));
    setEditorText(QStringLiteral("AB"));
    inspect();
    m_dialogs.queueCaption(QStringLiteral("Yes"));
    engrave();
    const QStringList lines = trace();
    EXPECT_TRUE(lines.contains(QStringLiteral("LWfE")));
    EXPECT_TRUE(lines.contains(QStringLiteral("OrY")));
    EXPECT_TRUE(lines.contains(QStringLiteral("Im:")));
    EXPECT_GT(sim().markCount(), 0u);
    for (TGlyph* g : chars(label))
        EXPECT_TRUE(g->Processed);
}

TEST_F(MarkingTest, ACompleteRunLeavesItsTraceAndCountsThePulses)
{
    TTreeNode* label = addLabel(QStringLiteral("AB"));
    TLabelTree& tree = st().TreeViewGlyphs();
    TGlyph::CreateFor<TGlyphSpace>(&tree, tree.Add(QStringLiteral("Space")), 0.2);
    setEditorText(QStringLiteral("AB"));
    inspect();
    engrave();

    const QStringList lines = trace();
    const auto at = [&](const QString& s) { return lines.indexOf(s); };
    const int nmr = int(std::find_if(lines.begin(), lines.end(), [](const QString& l) { return l.endsWith("]:NMR"); }) - lines.begin());
    ASSERT_LT(nmr, lines.size());
    EXPECT_EQ(at("LWfA"), nmr + 1);
    EXPECT_EQ(at("LWfD"), nmr + 2);
    EXPECT_EQ(at("RCbefore\"M\":AB"), nmr + 3);
    const int im = at("Im:");
    ASSERT_GT(im, nmr);
    EXPECT_EQ(lines.at(im + 1), label->Text());
    EXPECT_EQ(lines.count("Im:"), 1) << "only labels, logos and photos are listed";
    EXPECT_TRUE(lines.last().endsWith("]:ME"));
    EXPECT_FALSE(lines.contains("Mabu"));

    for (TGlyph* g : chars(label))
        EXPECT_TRUE(g->Processed);
    EXPECT_GT(sim().markCount(), 0u);
    EXPECT_EQ(st().AIMState, TAIMState::aimsInspecting);
    EXPECT_EQ(st().controls().down, TSpeedButton::Inspect);
    // Laser off, back at the reference, shots counted from the controller's pulse count.
    EXPECT_FALSE(laser().EnableIsOn);
    EXPECT_EQ(sim().referencePosition('X'), 15000);
    EXPECT_EQ(sim().referencePosition('Y'), 12500);
    EXPECT_GT(st().AxisPosition_W(), 0);
    EXPECT_EQ(st().AxisPosition_W(), double(sim().referencePosition('W')));
    EXPECT_EQ(Settings().TotalPulseCount, sim().referencePosition('W'));
    // The label lies centred on the reference.
    const auto marks = sim().marks();
    const auto [mn, mx] = std::minmax_element(marks.begin(), marks.end(),
                                              [](const LaserMark& a, const LaserMark& b) { return a.xMm < b.xMm; });
    EXPECT_LT(mn->xMm, 15);
    EXPECT_GT(mx->xMm, 15);
}

TEST_F(MarkingTest, AnEmptyLabelNeitherAsksNorMarks)
{
    inspect();
    engrave();
    EXPECT_TRUE(m_dialogs.transcript().empty());
    EXPECT_EQ(sim().markCount(), 0u);
    EXPECT_EQ(st().controls().down, TSpeedButton::Inspect);
    EXPECT_FALSE(trace().contains("RCbefore\"M\":"));
}

TEST_F(MarkingTest, AllProcessedAsksBeforeMarkingAgain)
{
    TTreeNode* label = addLabel(QStringLiteral("I"));
    inspect();
    engrave();
    const std::size_t first = sim().markCount();
    ASSERT_GT(first, 0u);

    m_dialogs.queueAnswer(DialogResult::Cancel);
    engrave();
    ASSERT_EQ(m_dialogs.texts(), QStringList{"Engrave all objects once more?"});
    EXPECT_EQ(sim().markCount(), first);

    m_dialogs.queueAnswer(DialogResult::Ok);
    engrave();
    EXPECT_EQ(sim().markCount(), 2 * first);
    for (TGlyph* g : chars(label))
        EXPECT_TRUE(g->Processed);
}

// A declined question changes nothing: "once more" answered OK, then No to the legibility
// question, leaves the glyphs marked, and the next Engrave asks again.
TEST_F(MarkingTest, OnceMoreThenNoAtALaterQuestionLeavesTheGlyphsMarked)
{
    // An "e" 0.05 mm high, whose counter the 10 um spot closes: Engrave asks about legibility.
    QString error;
    ASSERT_TRUE(st().XML2Tree(QStringLiteral("<tree2xml app=\"x\"><item text=\"n\" imageIndex=\"-1\" stateIndex=\"-1\" "
                                             "type=\"TGlyphWideString\" textLabel=\"ee\" fontName=\"Liberation Sans\" "
                                             "textHeight=\"0.1\" textOffset=\"0\" textSpacing=\"0.1\"/></tree2xml>"),
                              &error))
        << qPrintable(error);
    ASSERT_FALSE(st().LegibilityFindings().empty());
    TTreeNode* label = st().TreeViewGlyphs().Root(0);
    inspect();
    m_dialogs.queueAnswer(DialogResult::Yes);
    engrave();
    const std::size_t first = sim().markCount();
    ASSERT_GT(first, 0u);
    ASSERT_FALSE(chars(label).empty());
    m_dialogs.clear();
    m_dialogs.queueAnswer(DialogResult::Ok);
    m_dialogs.queueAnswer(DialogResult::No);
    engrave();
    ASSERT_EQ(m_dialogs.texts().size(), 2) << qPrintable(m_dialogs.texts().join(QStringLiteral(" | ")));
    EXPECT_EQ(m_dialogs.texts()[0], QStringLiteral("Engrave all objects once more?"));
    EXPECT_EQ(sim().markCount(), first);
    for (TGlyph* g : chars(label))
        EXPECT_TRUE(g->Processed) << "a declined question changed the marking state";
    m_dialogs.clear();
    m_dialogs.queueAnswer(DialogResult::Cancel);
    engrave();
    EXPECT_EQ(m_dialogs.texts(), QStringList{"Engrave all objects once more?"});
    EXPECT_EQ(sim().markCount(), first);
}

// Abort in the wait for the laser at the start of a run (the wait window's Abort, or Esc in
// front of it) aborts the run: nothing marked, "Mabu" in the trace, the laser off.
TEST_F(MarkingTest, AbortInTheWaitForTheLaserAbortsTheRun)
{
    store().WriteString(QStringLiteral("Hardware"), QStringLiteral("EnableOnDelay"), QStringLiteral("3"));
    TTreeNode* label = addLabel(QStringLiteral("I"));
    inspect();
    m_dialogs.abortNextWaitAfter(2);
    engrave();
    bool waited = false;
    for (const auto& e : m_dialogs.transcript())
        waited = waited || e.text.contains(QStringLiteral("Please wait"));
    EXPECT_TRUE(waited) << qPrintable(m_dialogs.texts().join(QStringLiteral(" | ")));
    EXPECT_EQ(sim().markCount(), 0u);
    EXPECT_TRUE(MarkingAborted());
    EXPECT_TRUE(trace().contains("Mabu"));
    EXPECT_FALSE(laser().EnableIsOn || laser().GateIsOpen);
    for (TGlyph* g : chars(label))
        EXPECT_FALSE(g->Processed);

    // Esc during the wait (the window's key, while the wait's own window stays): the same.
    sim().clearMarks();
    m_dialogs.clear();
    m_dialogs.queueCaption(QStringLiteral("Restart"));
    {
        HookPump pump([&] {
            if (st().AIMState == TAIMState::aimsMarking && !MarkingAborted())
                st().KeyDown(Qt::Key_Escape, Qt::NoModifier);
        });
        engrave();
    }
    EXPECT_EQ(sim().markCount(), 0u);
    EXPECT_TRUE(MarkingAborted());
    EXPECT_FALSE(laser().EnableIsOn || laser().GateIsOpen);
}

TEST_F(MarkingTest, AbortInTheSecondOfThreeGlyphsThenContinue)
{
    std::vector<TTreeNode*> labels = {addLabel("I"), addLabel("I"), addLabel("I")};
    std::vector<TGlyph*> glyphs;
    for (TTreeNode* l : labels)
        glyphs.push_back(chars(l).front());
    inspect();

    std::size_t marksAtSecond = 0;
    bool pressed = false;
    {
        HookPump pump([&] {
            if (pressed || st().MarkingTreeNode() != glyphs[1]->TreeNode)
                return;
            if (marksAtSecond == 0)
                marksAtSecond = sim().markCount() + 1;
            else if (sim().markCount() >= marksAtSecond) {
                st().KeyEsc();
                pressed = true;
            }
        });
        engrave();
    }
    ASSERT_TRUE(pressed);
    EXPECT_TRUE(glyphs[0]->Processed);
    EXPECT_FALSE(glyphs[1]->Processed) << "a glyph cut short counts as not marked";
    EXPECT_FALSE(glyphs[2]->Processed);
    const QStringList lines = trace();
    EXPECT_TRUE(lines.contains("Mabu"));
    EXPECT_EQ(lines.count("Istbm:"), 3);
    EXPECT_FALSE(lines.contains("Im:"));
    EXPECT_FALSE(laser().EnableIsOn);
    EXPECT_FALSE(st().controls().abort);

    // Glyph centres along X: the first glyph's region gets no new marks on "Continue".
    const auto marks = sim().marks();
    const double firstRight = std::max_element(marks.begin(), marks.begin() + long(marksAtSecond) - 1,
                                               [](const LaserMark& a, const LaserMark& b) { return a.xMm < b.xMm; })->xMm;
    const long firstBefore = marksBetween(0, firstRight + 1e-9);
    m_dialogs.queueCaption(QStringLiteral("Continue"));
    engrave();
    ASSERT_EQ(m_dialogs.transcript().back().text, "Engrave");
    EXPECT_EQ(m_dialogs.transcript().back().buttons, QStringList({"Continue", "Restart", "Cancel"}));
    EXPECT_EQ(marksBetween(0, firstRight + 1e-9), firstBefore);
    EXPECT_GT(marksBetween(firstRight + 1e-9, 100), 0);
    for (TGlyph* g : glyphs)
        EXPECT_TRUE(g->Processed);
    EXPECT_FALSE(MarkingAborted());
}

TEST_F(MarkingTest, RestartAfterAnAbortMarksEverythingAgain)
{
    TTreeNode* label = addLabel("II");
    inspect();
    {
        HookPump pump([&] {
            if (sim().markCount() > 0)
                st().BitBtnAbortClick();
        });
        engrave();
    }
    ASSERT_TRUE(MarkingAborted());
    m_dialogs.queueCaption(QStringLiteral("Restart"));
    engrave();
    for (TGlyph* g : chars(label))
        EXPECT_TRUE(g->Processed);
    m_dialogs.clear();
    {
        HookPump pump([&] { st().BitBtnAbortClick(); });
        engrave();
    }
    m_dialogs.queueAnswer(DialogResult::Cancel);
    const std::size_t before = sim().markCount();
    engrave();
    EXPECT_EQ(sim().markCount(), before) << "Cancel on the Restart/Continue box marks nothing";
}

TEST_F(MarkingTest, LabelOutsideTheWorkAreaOrFocusRangeIsRefused)
{
    struct Case {
        const char* what;
        double referenceX;
        double referenceZ;
        double leftZ, rightZ; // taught points 1 mm either side (0: not taught)
    };
    const Case cases[] = {
        {"right end beyond X_MaxPos", 34.5, 12.5, 0, 0},
        {"left end below X_MinPos", 1.2, 12.5, 0, 0},
        {"focus height of the left end below Z_MinPos", 15, 12.5, 0, 12},
        // Both ends at Z 1.5, the middle of the bulge at 1 - 0.75 = 0.25: below Z_MinPos.
        {"focus curve below Z_MinPos between the ends", 15, 0.25, 1.25, 1.25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        st().TreeViewGlyphs().Clear();
        addBox(4); // 2 mm wide at girdle 0.5
        st().SetAIMSState(TAIMState::aimsAligning);
        st().MarkingReference_X = c.referenceX;
        st().MarkingReference_Z = c.referenceZ;
        st().CuvatureLeft_X = c.leftZ != 0 ? -1 : 0;
        st().CuvatureLeft_Z = c.leftZ;
        st().CuvatureRight_X = c.rightZ != 0 ? 1 : 0;
        st().CuvatureRight_Z = c.rightZ;
        inspect();
        m_dialogs.clear();
        QFile::remove(m_logger->filePath());
        sim().clearTranscript();
        engrave();
        EXPECT_EQ(m_dialogs.texts(), QStringList{"Label extends outside workarea!"});
        EXPECT_FALSE(st().TreeViewGlyphs().Root(0)->Data()->Processed);
        EXPECT_FALSE(laser().EnableIsOn);
        EXPECT_FALSE(trace().contains("Im:")) << "refused before the run began";
        for (const DmcTranscriptEntry& e : sim().transcript())
            EXPECT_TRUE(e.line.rfind("TP", 0) == 0 || e.line.rfind("RP", 0) == 0 || e.line.rfind("MG", 0) == 0)
                << "only reads after a refusal: " << e.line;
    }
    EXPECT_EQ(sim().markCount(), 0u);
}

TEST_F(MarkingTest, FlatFocusMovesOnceToTheReferenceHeight)
{
    addLabel("I");
    inspect();
    laser().MoveTo(15, 12.5, 11);
    laser().WaitOnMotionComplete();
    DebugLogCapture log;
    engrave();
    const auto lines = log.lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
        return l == "First move after ecam : AxisPosition_X = 15 AxisPosition_Y = 12.5 MarkingReference_Z = 12.5";
    }));
    const auto marks = sim().marks();
    ASSERT_FALSE(marks.empty());
    for (const LaserMark& m : marks)
        EXPECT_NEAR(m.zMm, 12.5, 1e-9);
}

TEST_F(MarkingTest, CamTableSamplesTheFocusCurveInWholeCounts)
{
    setGirdleHeight(1.0);
    addBox(4.8);
    st().CuvatureLeft_X = -2;
    st().CuvatureLeft_Z = 0.02;
    st().CuvatureRight_X = 2;
    st().CuvatureRight_Z = 0.03;
    inspect();
    engrave();
    EXPECT_DOUBLE_EQ(st().Curvature_Interval, 0.103);
    EXPECT_NEAR(st().Curvature_Span, 5.047, 1e-12);
    EXPECT_NEAR(st().Curvature_Start, 15 - 2.5235, 1e-12);
    EXPECT_DOUBLE_EQ(laser().Z_ECAMTable[0], st().GetFocusHeight(st().Curvature_Start));
    EXPECT_NEAR(laser().Z_ECAMTable[50], st().GetFocusHeight(15 + 2.6265), 1e-12);
    EXPECT_NEAR(laser().Z_ECAMTable[25], st().GetFocusHeight(15 + 0.0515), 1e-12);
}

TEST_F(MarkingTest, MarksOnACurvedGirdleFollowTheTaughtFocus)
{
    addLabel("IHI");
    st().CuvatureLeft_X = -1;
    st().CuvatureLeft_Z = -0.16;
    st().CuvatureRight_X = 1;
    st().CuvatureRight_Z = -0.08;
    inspect();
    engrave();
    const auto marks = sim().marks();
    ASSERT_GT(marks.size(), 100u);
    double zMin = 1e9, zMax = -1e9;
    for (const LaserMark& m : marks) {
        EXPECT_NEAR(m.zMm, st().GetFocusHeight(m.xMm), 0.002) << m.xMm;
        zMin = std::min(zMin, m.zMm);
        zMax = std::max(zMax, m.zMm);
    }
    EXPECT_GT(zMax - zMin, 0.015) << "the focus moved along the label";
}

TEST_F(MarkingTest, InDebugModeTheCamStopsOnlyWhenConfirmed)
{
    std::vector<std::string> sent;
    laser().ShowDMCCmd = true;
    laser().setEchoHook([&](EchoLine kind, const std::string& text) {
        if (kind == EchoLine::Command)
            sent.push_back(text);
    });
    // The machine outlives this test body and still sends its shut-down commands.
    struct Unhook {
        TLaser& l;
        ~Unhook() { l.setEchoHook({}); }
    } unhook{laser()};
    addBox(2);
    st().CuvatureRight_X = 1;
    st().CuvatureRight_Z = 0.01;
    inspect();
    struct Case {
        bool debug;
        std::optional<DialogResult> answer;
        bool stopped;
    };
    for (const Case& c : {Case{false, {}, true}, Case{true, DialogResult::Cancel, false}, Case{true, DialogResult::Ok, true}}) {
        setDebugMode(c.debug);
        m_dialogs.clear();
        if (c.answer)
            m_dialogs.queueAnswer(*c.answer);
        sent.clear();
        st().TreeViewGlyphs().Root(0)->Data()->ResetMarking();
        engrave();
        const auto started = std::find(sent.begin(), sent.end(), "EB1");
        ASSERT_NE(started, sent.end());
        EXPECT_EQ(std::find(started, sent.end(), "EB0") != sent.end(), c.stopped) << c.debug;
        EXPECT_EQ(m_dialogs.texts().contains("Stop Ecam"), c.debug);
    }
    setDebugMode(false);
}

TEST_F(MarkingTest, ControlsFollowTheCycleState)
{
    struct Case {
        TAIMState state;
        bool edit, inspect, standby, ends, abort;
    };
    const Case cases[] = {
        {TAIMState::aimsHoming, true, false, false, false, false},
        {TAIMState::aimsAligning, true, true, true, false, false},
        {TAIMState::aimsInspecting, true, true, false, true, false},
        {TAIMState::aimsMarking, false, false, false, false, true},
    };
    for (const Case& c : cases) {
        st().SetAIMSState(c.state);
        const TStationControls& k = st().controls();
        SCOPED_TRACE(int(c.state));
        EXPECT_EQ(k.addButtons, c.edit);
        EXPECT_EQ(k.bitBtnReset, c.edit);
        EXPECT_EQ(k.speedButtonInspect, c.inspect);
        EXPECT_EQ(k.speedButtonMark, c.inspect);
        EXPECT_EQ(k.templateSave, c.inspect);
        EXPECT_EQ(k.gotoStandby, c.standby);
        EXPECT_EQ(k.focusLeftCenterRight, c.ends);
        EXPECT_EQ(k.abort, c.abort);
        EXPECT_FALSE(k.templateClose) << "the first template is selected";
    }
}

TEST_F(MarkingTest, BlowerStatusThreeHidesEngraveAndF9)
{
    addLabel("I");
    inspect();
    keys::write(keys::VA5BlowerStatus, 3);
    st().BlowerEnableDisableMarking();
    EXPECT_FALSE(st().controls().speedButtonMarkVisible);
    st().KeyF9();
    EXPECT_EQ(sim().markCount(), 0u);
    keys::write(keys::VA5BlowerStatus, 0);
    st().BlowerEnableDisableMarking();
    st().KeyF9();
    EXPECT_GT(sim().markCount(), 0u);
}

TEST_F(MarkingTest, CommandsAreIgnoredAwayFromTheStartPosition)
{
    addLabel("I");
    inspect();
    st().controls().bitBtn3Visible = true;
    st().controls().bitBtnResetVisible = false;
    engrave();
    st().SpeedButtonAIMClick(TSpeedButton::Align);
    EXPECT_EQ(sim().markCount(), 0u);
    EXPECT_EQ(st().AIMState, TAIMState::aimsInspecting);
    EXPECT_DOUBLE_EQ(st().AxisPosition_X, 15) << "the position is still refreshed";
}

TEST_F(MarkingTest, LinkLostWhileMarkingStopsTheRunWithTheLaserOff)
{
    TTreeNode* label = addLabel("IIII");
    inspect();
    {
        bool armed = false;
        HookPump pump([&] {
            if (!armed && sim().markCount() > 0) {
                sim().setLinkLostAfter(5);
                armed = true;
            }
        });
        engrave();
    }
    ASSERT_TRUE(sim().linkLost());
    const QStringList lines = trace();
    EXPECT_TRUE(lines.contains("Mabu"));
    EXPECT_TRUE(lines.contains("Istbm:"));
    EXPECT_FALSE(laser().GateIsOpen);
    EXPECT_FALSE(laser().EnableIsOn);
    EXPECT_FALSE(chars(label).back()->Processed);
    EXPECT_EQ(st().AIMState, TAIMState::aimsInspecting);
}

} // namespace
} // namespace lapido
