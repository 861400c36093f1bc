// The marking preview against the real run of the same label on the simulated machine: the same
// marks, the same duration, and nothing of the station changed by previewing.
#include "markingfixture.h"

#include "glyphs/glyphphoto.h"
#include "machine/galil.h"
#include "machine/galildmc.h"
#include "platform/eventpump.h"
#include "workflow/markingpreview.h"

#include <QRegularExpression>

#include <algorithm>
#include <functional>

#include <optional>
#include <thread>

namespace lapido {
namespace {

using test::MarkingFixture;

// The real machine's link paying a round trip per command on the virtual clock, as a network
// link does. Only the marking thread pays: the trace sampler's reads would advance the shared
// virtual clock from a second thread, which no real link does.
class RoundTripTransport final : public GalilTransport {
public:
    RoundTripTransport(Clock& clock, std::int64_t roundTripUs) : m_clock(clock), m_roundTripUs(roundTripUs) {}
    std::string address() const override { return m_link.address(); }
    void setAddress(std::string_view a) override { m_link.setAddress(a); }
    bool connect() override { return m_link.connect(); }
    void disconnect() override { m_link.disconnect(); }
    std::string connection() const override { return m_link.connection(); }
    GalilReply command(std::string_view text, std::string_view terminator, std::string_view ack, bool trim) override
    {
        const bool pays = std::this_thread::get_id() == m_owner;
        if (pays)
            m_clock.sleepUs(m_roundTripUs / 2);
        GalilReply reply = m_link.command(text, terminator, ack, trim);
        if (pays)
            m_clock.sleepUs(m_roundTripUs - m_roundTripUs / 2);
        return reply;
    }

private:
    TGalil m_link;
    Clock& m_clock;
    std::int64_t m_roundTripUs;
    std::thread::id m_owner = std::this_thread::get_id();
};

class PreviewTest : public MarkingFixture {
protected:
    // The trace's "Time:" line of the last run: estimated and measured seconds.
    std::optional<std::pair<double, double>> runTimes() const
    {
        static const QRegularExpression re(QStringLiteral("^Time: estimated ([0-9.]+) s, measured ([0-9.]+) s$"));
        std::optional<std::pair<double, double>> found;
        for (const QString& line : trace())
            if (const auto m = re.match(line); m.hasMatch())
                found = std::make_pair(m.captured(1).toDouble(), m.captured(2).toDouble());
        return found;
    }
    // Runs Engrave and checks the preview taken before against what the run did.
    void expectPreviewMatchesRun(const TMarkingPreview& preview)
    {
        ASSERT_TRUE(preview.markable) << preview.problem.toStdString();
        sim().clearMarks();
        engrave();
        const std::vector<LaserMark> real = sim().marks();
        ASSERT_FALSE(real.empty());
        ASSERT_EQ(preview.marks.size(), real.size());
        for (size_t i = 0; i < real.size(); ++i) {
            ASSERT_DOUBLE_EQ(preview.marks[i].xMm, real[i].xMm) << "mark " << i;
            ASSERT_DOUBLE_EQ(preview.marks[i].yMm, real[i].yMm) << "mark " << i;
            ASSERT_DOUBLE_EQ(preview.marks[i].zMm, real[i].zMm) << "mark " << i;
        }
        // The firing times relative to the first shot agree to the controller sample.
        const std::int64_t p0 = preview.marks.front().timeUs, r0 = real.front().timeUs;
        EXPECT_NEAR(double(preview.marks.back().timeUs - p0), double(real.back().timeUs - r0), 1000.0);
        const auto times = runTimes();
        ASSERT_TRUE(times.has_value());
        EXPECT_NEAR(times->first, preview.seconds, 0.0005);
        EXPECT_NEAR(preview.seconds, times->second, 0.002 + 0.001 * times->second);
        // The window's "engraved in" time is the trace's measured time, to the millisecond.
        EXPECT_NEAR(st().markingElapsedMs() / 1000.0, times->second, 0.0015);
    }
    void teach(double x, double z)
    {
        st().AxisPosition_X = x;
        st().AxisPosition_Z = z;
        st().BitBtnFocusClick();
        st().AxisPosition_X = 15;
        st().AxisPosition_Z = 12.5;
    }
};

TEST_F(PreviewTest, MarksAndDurationEqualTheRunOfTheSameLabel)
{
    struct Case {
        const char* name;
        const char* enableOnDelay; // seconds, as stored
        bool curved;               // a taught girdle: the focus cam follows it
        bool startAway;            // the axes stand off the reference when Engrave is pressed
    };
    const Case cases[] = {
        {"flat", "0", false, false},
        {"enable delay", "0.3", false, false},
        {"long enable delay", "1.2", false, false},
        {"curved girdle", "0", true, false},
        {"away from the reference", "0", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        store().WriteString(QStringLiteral("Hardware"), QStringLiteral("EnableOnDelay"), QString::fromLatin1(c.enableOnDelay));
        addLabel(QStringLiteral("AB"));
        inspect();
        if (c.curved) {
            teach(14, 12.4);
            teach(16, 12.45);
        }
        if (c.startAway) {
            laser().MoveTo(14, 12, 12);
            laser().WaitOnMotionComplete();
            st().TimerLaserTick(); // the axes moved on; Inspect keeps the reference
        }
        expectPreviewMatchesRun(st().PreviewMarking());
    }
}

TEST_F(PreviewTest, RoundTripsOfTheLinkAreCounted)
{
    // The station's machine on a link that costs 2 ms per command.
    setLaser(nullptr);
    m_laser.reset();
    m_laser = std::make_unique<TLaser>(std::make_unique<TDMC>(std::make_unique<RoundTripTransport>(m_clock, 2000), "sim"));
    ASSERT_EQ(ApplyMotionSettings(Settings(), *m_laser), std::nullopt);
    m_laser->Initialize();
    ASSERT_TRUE(m_laser->Initialized);
    setLaser(m_laser.get());
    addLabel(QStringLiteral("L"));
    inspect();

    const TMarkingPreview withoutLink = st().PreviewMarking();
    st().services().roundTripMs = MeasureRoundTripMs(m_laser->channel());
    EXPECT_NEAR(st().services().roundTripMs, 2.0, 1e-9);
    const TMarkingPreview preview = st().PreviewMarking();
    EXPECT_GT(preview.seconds, withoutLink.seconds + 0.05);
    expectPreviewMatchesRun(preview);
}

TEST_F(PreviewTest, PreviewingChangesNothingOfTheStation)
{
    addLabel(QStringLiteral("AB"));
    TTreeNode* second = addLabel(QStringLiteral("C"));
    inspect();
    teach(14, 12.4);
    teach(16, 12.45); // the cam run writes the controller-busy flag for the companion programs
    second->Item(0)->Item(0)->Data()->Processed = true;
    MarkingAborted() = true;
    st().TreeViewGlyphs().setSelected(second);

    const auto storeBefore = store().entries();
    const QStringList traceBefore = trace();
    std::vector<bool> processed;
    for (TTreeNode* n : st().TreeViewGlyphs().Items())
        if (n->Data())
            processed.push_back(n->Data()->Processed);
    const TStationControls controlsBefore = st().controls();
    sim().clearTranscript();
    const std::int64_t clockBefore = m_clock.nowUs();
    const size_t dialogsBefore = m_dialogs.transcript().size();

    const TMarkingPreview preview = st().PreviewMarking();
    ASSERT_TRUE(preview.markable) << preview.problem.toStdString();
    EXPECT_FALSE(preview.marks.empty());

    EXPECT_TRUE(sim().transcript().empty()) << "the station's controller was sent a command";
    EXPECT_EQ(m_clock.nowUs(), clockBefore);
    EXPECT_EQ(store().entries(), storeBefore);
    EXPECT_EQ(trace(), traceBefore);
    EXPECT_EQ(m_dialogs.transcript().size(), dialogsBefore);
    EXPECT_TRUE(MarkingAborted());
    EXPECT_EQ(Laser(), m_laser.get());
    EXPECT_EQ(st().TreeViewGlyphs().Selected(), second);
    EXPECT_EQ(st().controls().down, controlsBefore.down);
    std::vector<bool> after;
    for (TTreeNode* n : st().TreeViewGlyphs().Items())
        if (n->Data())
            after.push_back(n->Data()->Processed);
    EXPECT_EQ(after, processed);
}

// The window compares these at every tick instead of the label's text: they must move with
// every change a preview depends on, and stay put while nothing changes.
TEST_F(PreviewTest, InputsMoveWithEveryChangeOfWhatThePreviewDependsOnAndOnlyThen)
{
    TTreeNode* label = addLabel(QStringLiteral("AB"));
    inspect();
    // What the window does after each command, then what its timers do while nobody works.
    const auto atRest = [this] {
        st().CommitLabelEdit();
        const TPreviewInputs before = PreviewInputs(st());
        st().TimerLaserTick();
        st().FormControlTimerTick();
        st().CommitLabelEdit();
        return PreviewInputs(st()) == before;
    };
    ASSERT_TRUE(atRest());
    TTreeNode* character = label->Item(0)->Item(0);
    const struct {
        const char* what;
        std::function<void()> change;
    } changes[] = {
        {"label height", [&] {
             st().TreeViewGlyphs().setSelected(label);
             st().TreeViewGlyphsChange(label);
             st().EditFloatChange(TEditBox::EditGlyphLabelHeight, QStringLiteral("70"));
         }},
        {"label text", [&] {
             auto* rich = static_cast<TGlyphRichString*>(label->Data());
             rich->RichString->Clear();
             rich->RichString->Add(QStringLiteral("AC"), QStringLiteral("ROMANS"), TFontStyles());
             rich->UpDate(nullptr, 0.8, 0.0, 0.1);
             character = label->Item(0)->Item(0);
         }},
        {"a character's marking status", [&] {
             st().TreeViewGlyphs().setSelected(character);
             st().TreeViewGlyphsChange(character);
             const TPreviewInputs selected = PreviewInputs(st());
             st().MarkingStatusChange(1);
             EXPECT_FALSE(PreviewInputs(st()) == selected) << "the status alone moves them";
         }},
        {"a run", [&] { engrave(); }},
        {"girdle", [&] { st().EditFloatChange(TEditBox::EditGirdle, QStringLiteral("0.2")); }},
        {"slant", [&] { st().EditFloatChange(TEditBox::EditSlant, QStringLiteral("3")); }},
        {"marking reference", [&] { st().MarkingReference_X += 0.1; }},
        {"taught point", [&] { teach(14, 12.4); }},
        {"undo", [&] { st().LabelUndo(); }},
    };
    for (const auto& c : changes) {
        SCOPED_TRACE(c.what);
        const TPreviewInputs before = PreviewInputs(st());
        c.change();
        EXPECT_FALSE(PreviewInputs(st()) == before);
        EXPECT_TRUE(atRest());
    }
}

TEST_F(PreviewTest, WhatTheNextEngraveMarks)
{
    // Glyphs already marked are left out, as Engrave leaves them; once all are marked, Engrave
    // offers to mark all again, and the preview shows all.
    TTreeNode* label = addLabel(QStringLiteral("AB"));
    inspect();
    const TMarkingPreview whole = st().PreviewMarking();
    TGlyph* a = label->Item(0)->Item(0)->Data();
    a->Processed = true;
    const TMarkingPreview rest = st().PreviewMarking();
    ASSERT_TRUE(whole.markable && rest.markable);
    EXPECT_LT(rest.marks.size(), whole.marks.size());
    EXPECT_FALSE(rest.marks.empty());
    for (TTreeNode* n : st().TreeViewGlyphs().Items())
        if (n->Data())
            n->Data()->Processed = true;
    EXPECT_EQ(st().PreviewMarking().marks.size(), whole.marks.size());
}

TEST_F(PreviewTest, ARehearsalIsMadeAgainWhenAnythingItDependsOnChanges)
{
    // A rehearsal is kept between two previews of the same label from the same state; each of
    // these changes must give the preview of the new state, as a station without any kept
    // rehearsal computes it.
    struct Case {
        const char* name;
        std::function<void(TTreeNode* label)> change;
    };
    const Case cases[] = {
        {"a delay in the store", [this](TTreeNode*) {
             store().WriteString(QStringLiteral("Hardware"), QStringLiteral("EnableOnDelay"), QStringLiteral("0.4"));
         }},
        {"the axes moved", [this](TTreeNode*) {
             laser().MoveTo(14, 12, 12);
             laser().WaitOnMotionComplete();
             st().TimerLaserTick();
         }},
        {"a character's own size", [](TTreeNode* label) {
             label->Item(0)->Item(0)->Data()->RelativeSize *= 0.5;
         }},
        {"a marking speed", [this](TTreeNode*) {
             // As the settings window's OK does: the record, then the machine.
             Settings().MarkingSpeed *= 0.5;
             ASSERT_EQ(ApplyMotionSettings(Settings(), laser()), std::nullopt);
         }},
        {"a glyph marked", [](TTreeNode* label) { label->Item(0)->Item(0)->Data()->Processed = true; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        TTreeNode* label = addLabel(QStringLiteral("AB"));
        inspect();
        const TMarkingPreview before = st().PreviewMarking();
        ASSERT_TRUE(before.markable) << before.problem.toStdString();
        EXPECT_EQ(st().PreviewMarking().marks.size(), before.marks.size());
        c.change(label);
        const TMarkingPreview after = st().PreviewMarking();
        ASSERT_TRUE(after.markable) << after.problem.toStdString();
        const bool marksMoved = after.marks.size() != before.marks.size()
                                || !std::equal(after.marks.begin(), after.marks.end(), before.marks.begin(),
                                               [](const LaserMark& a, const LaserMark& b) {
                                                   return a.xMm == b.xMm && a.yMm == b.yMm && a.zMm == b.zMm;
                                               });
        EXPECT_TRUE(marksMoved || after.seconds != before.seconds) << "the kept rehearsal was given";
        expectPreviewMatchesRun(after);
    }
}

TEST_F(PreviewTest, ALabelBuiltAgainAlikeIsPreviewedWithItsOwnNodes)
{
    addLabel(QStringLiteral("AB"));
    inspect();
    const TMarkingPreview before = st().PreviewMarking();
    ASSERT_TRUE(before.markable);
    st().XML2Tree(st().Tree2XML());
    const TMarkingPreview after = st().PreviewMarking();
    ASSERT_EQ(after.glyphs.size(), before.glyphs.size());
    const std::vector<TTreeNode*> nodes = st().TreeViewGlyphs().Items();
    for (const TMarkingPreview::Glyph& g : after.glyphs)
        EXPECT_NE(std::find(nodes.begin(), nodes.end(), g.node), nodes.end()) << "a glyph of the label gone";
}

// Calls a function at every turn a machine wait gives the window.
class SamplingPump final : public EventPump {
public:
    explicit SamplingPump(std::function<void()> f) : m_f(std::move(f)) {}
    void pump() override { m_f(); }

private:
    std::function<void()> m_f;
};

// While a run goes as estimated, the glyph being marked shows how far it has come and the time
// the run still needs: the time gone and the time left make the estimate all through, and a
// photo's share grows to nearly all of it without saying it is done before it is.
TEST_F(PreviewTest, TheGlyphBeingMarkedShowsItsShareAndTheTimeLeft)
{
    addLabel(QStringLiteral("AB"));
    QImage picture(24, 24, QImage::Format_Grayscale8);
    picture.fill(60);
    TLabelTree& tree = st().TreeViewGlyphs();
    TGlyph::CreateFor<TGlyphPhoto>(&tree, tree.Add(QStringLiteral("Photo")), picture, 0.8, 0.0);
    inspect();
    const TMarkingPreview preview = st().PreviewMarking();
    ASSERT_TRUE(preview.markable) << preview.problem.toStdString();
    EXPECT_FALSE(st().GlyphProgress().has_value()) << "progress outside a run";

    struct Sample {
        int glyph;
        TGlyphProgress progress;
        std::int64_t elapsedMs;
    };
    std::vector<Sample> samples;
    SamplingPump pump([&] {
        if (const auto p = st().GlyphProgress())
            samples.push_back({st().markingProgress().glyph, *p, st().markingElapsedMs()});
    });
    EventPump* previous = setEventPump(&pump);
    engrave();
    setEventPump(previous);
    EXPECT_FALSE(st().GlyphProgress().has_value()) << "progress after the run";

    ASSERT_FALSE(samples.empty());
    const int photo = st().markingProgress().glyphCount;
    double lastLeft = preview.seconds + 1, lastShare = -1, photoShare = 0;
    for (const Sample& s : samples) {
        EXPECT_NEAR(s.elapsedMs / 1000.0 + s.progress.secondsLeft, preview.seconds, 0.005)
            << "glyph " << s.glyph << " at " << s.elapsedMs << " ms";
        EXPECT_LE(s.progress.secondsLeft, lastLeft + 1e-9);
        lastLeft = s.progress.secondsLeft;
        EXPECT_GE(s.progress.share, 0.0);
        EXPECT_LT(s.progress.share, 1.0);
        if (s.glyph == photo) {
            EXPECT_GE(s.progress.share, lastShare);
            lastShare = s.progress.share;
            photoShare = std::max(photoShare, s.progress.share);
        }
    }
    EXPECT_GT(photoShare, 0.9);
}

TEST_F(PreviewTest, RefusedLabelIsNotRehearsed)
{
    addBox(200); // 100 mm wide at a 0.5 mm girdle: beyond any table
    inspect();
    sim().clearTranscript();
    const size_t dialogsBefore = m_dialogs.transcript().size();
    const TMarkingPreview preview = st().PreviewMarking();
    EXPECT_FALSE(preview.markable);
    EXPECT_EQ(preview.problem, QStringLiteral("Label extends outside workarea!"));
    EXPECT_TRUE(preview.marks.empty());
    EXPECT_EQ(m_dialogs.transcript().size(), dialogsBefore);
    EXPECT_TRUE(sim().transcript().empty());
}

TEST(PreviewTexts, EstimateAndRunTimeLines)
{
    TMarkingPreview p;
    p.seconds = 12.3456;
    EXPECT_EQ(estimateLine(p), QStringLiteral("estimate: 12.346 s"));
    EXPECT_EQ(runTimeLine(1.5, 1.52), QStringLiteral("Time: estimated 1.500 s, measured 1.520 s"));
}

} // namespace
} // namespace lapido
