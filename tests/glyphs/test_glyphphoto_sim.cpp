// A photo marked through the machine on the simulator: one pulse per black dot, where the dot
// is, in serpentine row order; gate pulses for a gated source; abort and refusals.
#include "glyphs/glyph.h"
#include "glyphs/glyphphoto.h"
#include "glyphs/labeltree.h"

#include "machine/applysettings.h"
#include "machine/laser.h"
#include "machine/lasersource.h"
#include "platform/stationglobals.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "sim/dmcsimulator.h"
#include "stallinglink.h"
#include "testsupport.h"

#include <cmath>
#include <map>
#include <random>
#include <set>

using namespace lapido;

namespace {

constexpr double kPi = 3.14159265358979323846;

// 40 x 20 dots of pure black and white, which dither to themselves; rows 1 and 4 are empty.
QImage dotPicture(double blackShare = 0.3)
{
    std::mt19937 rng(42);
    std::bernoulli_distribution black(blackShare);
    QImage img(40, 20, QImage::Format_RGB32);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x)
            img.setPixel(x, y, (y != 1 && y != 4 && black(rng)) ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
    img.setPixel(0, 0, qRgb(0, 0, 0));
    img.setPixel(39, 0, qRgb(255, 255, 255));
    return img;
}

std::set<std::pair<int, int>> blackDots(const QImage& img)
{
    std::set<std::pair<int, int>> dots;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if ((img.pixel(x, y) & 0xFFFFFF) == 0)
                dots.insert({x, y});
    return dots;
}

class PhotoMarkingSim : public test::StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        m_sim = std::make_unique<ScopedDmcSimulator>(&m_clock);
        DmcWiring wiring = sim().wiring();
        wiring.xyCountsPerMm = 10000;
        sim().setWiring(wiring);
        keys::write(keys::GalilIP, QStringLiteral("sim"));
        store().WriteString("Hardware", "EnableOnDelay", "0");
        Settings() = TSettings{};
        Settings().UseZaxis = false;
        Settings().XY_CountsPerMM = 10000;
        Settings().PhotoResolution = 25; // 20 dot rows for a photo of height 1 on a 0.5 mm girdle
        Settings().PhotoSpeed = 1;
        setGirdleHeight(0.5);
        m_laser = std::make_unique<TLaser>();
        setLaser(m_laser.get());
        ASSERT_EQ(ApplyMotionSettings(Settings(), *m_laser), std::nullopt);
        m_laser->ServoHere();
        m_laser->SystemOn();
        ASSERT_TRUE(m_laser->EnableOn());
        m_source.FDoesPulseTrain = true;
        setLaserSource(&m_source);

        // Girdle height 0.5 mm, slant 10 degrees, centred on (15, 12), as the marking sequence
        // builds it.
        m_xytf.SetScale(0.5, 0.5);
        m_xytf.SetRotation(10 * kPi / 180);
        m_xytf.SetOutTranslation(15, 12);
    }
    void TearDown() override
    {
        setLaserSource(nullptr);
        setLaser(nullptr);
        m_laser.reset();
        m_sim.reset();
        Settings() = TSettings{};
        resetStationGlobals();
        StationFixture::TearDown();
    }
    DmcSimulator& sim() { return **m_sim; }

    // A space and then the photo, measured and marked from the start of the label as the
    // marking sequence does it. Returns the photo's start X.
    double markLabel(TGlyphPhoto& photo, TCoord& mn, TCoord& mx)
    {
        const double T = m_space->Width() + photo.Width();
        SetMarkPosition(-T / 2, 0);
        m_space->ExtendMarkingRect(m_xytf, mn, mx);
        photo.ExtendMarkingRect(m_xytf, mn, mx);
        EXPECT_NEAR(MarkPosition().X, T / 2, 1e-12);
        SetMarkPosition(-T / 2, 0);
        sim().clearMarks();
        sim().clearTranscript();
        m_space->Mark(m_xytf);
        const double start = MarkPosition().X;
        photo.Mark(m_xytf);
        m_laser->WaitOnMotionComplete();
        EXPECT_NEAR(MarkPosition().X, T / 2, 1e-12);
        return start;
    }
    TGlyphPhoto& addPhoto(double blackShare = 0.3)
    {
        m_space = &TGlyph::CreateFor<TGlyphSpace>(&m_tree, m_tree.Add("Space"), 0.3);
        return TGlyph::CreateFor<TGlyphPhoto>(&m_tree, m_tree.Add("Photo"), dotPicture(blackShare), 1.0, 0.0);
    }
    // The dot (column, row) a mark belongs to, from its place on the stone.
    std::pair<int, int> dotOf(const LaserMark& mark, double startX, const TGlyphPhoto& photo) const
    {
        const TCoord g = m_xytf.TransFormCoordBack(Coord(mark.xMm, mark.yMm));
        const double dx = photo.RelativeSize * photo.UnitWidth / 40;
        const double dy = photo.RelativeSize / 20;
        const double top = photo.RelativeSize * photo.Offset + photo.RelativeSize / 2;
        const double i = (g.X - startX) / dx;
        const double j = (top - g.Y) / dy;
        // Within a count of the dot's own place.
        EXPECT_NEAR(i, std::round(i), 0.01);
        EXPECT_NEAR(j, std::round(j), 0.01);
        return {static_cast<int>(std::lround(i)), static_cast<int>(std::lround(j))};
    }
    std::vector<std::string> lines() const
    {
        std::vector<std::string> out;
        for (const auto& e : (**m_sim).transcript())
            out.push_back(e.line);
        return out;
    }

    std::unique_ptr<ScopedDmcSimulator> m_sim;
    std::unique_ptr<TLaser> m_laser;
    TLaserSource m_source;
    TLabelTree m_tree;
    TGlyph* m_space = nullptr;
    TXYTransform m_xytf;
};

TEST_F(PhotoMarkingSim, PulseTrainFiresOncePerBlackDotRowByRowInSerpentineOrder)
{
    TGlyphPhoto& photo = addPhoto();
    TCoord mn{1e300, 1e300}, mx{-1e300, -1e300};
    const double startX = markLabel(photo, mn, mx);
    EXPECT_TRUE(photo.Processed);
    EXPECT_FALSE(m_laser->GateIsOpen);

    const auto expected = blackDots(dotPicture());
    const auto marks = sim().marks();
    ASSERT_EQ(marks.size(), expected.size()); // the photo's pulses equal its black dots
    std::set<std::pair<int, int>> seen;
    std::pair<int, int> previous{-1, -1};
    const double count = 1.5e-4; // a mark lands on whole counts
    for (const LaserMark& m : marks) {
        EXPECT_GE(m.xMm, mn.X - count);
        EXPECT_LE(m.xMm, mx.X + count);
        EXPECT_GE(m.yMm, mn.Y - count);
        EXPECT_LE(m.yMm, mx.Y + count);
        const auto dot = dotOf(m, startX, photo);
        EXPECT_TRUE(seen.insert(dot).second);
        if (dot.second == previous.second) // even rows right to left, odd rows left to right
            EXPECT_EQ(dot.first < previous.first, dot.second % 2 == 0) << dot.first << "," << dot.second;
        else
            EXPECT_GT(dot.second, previous.second);
        previous = dot;
    }
    EXPECT_EQ(seen, expected);

    // Rows 1 and 4 are empty: no move, no sequence for them.
    const auto sent = lines();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "LM XYW"), 18);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "DPW=0"), 1);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "LI 0,0,,1"), static_cast<long>(expected.size()));
}

TEST_F(PhotoMarkingSim, GatedSourceGetsOneTimedGatePulsePerDot)
{
    for (const bool invert : {false, true}) {
        SCOPED_TRACE(invert ? "inverted gate" : "plain gate");
        m_tree.Clear();
        TGlyphPhoto& photo = addPhoto();
        m_source.FDoesPulseTrain = false;
        DmcWiring wiring = sim().wiring();
        wiring.gatedSource = true;
        wiring.gateActiveHigh = !invert;
        sim().setWiring(wiring);
        m_laser->InvertGate = invert;
        m_laser->CloseGate();
        Settings().TimedPulseWidth = 50;

        TCoord mn{1e300, 1e300}, mx{-1e300, -1e300};
        const double startX = markLabel(photo, mn, mx);
        EXPECT_TRUE(photo.Processed);

        const auto expected = blackDots(dotPicture());
        const std::string pulse = invert ? "CB1;WT50;SB1;IP ,,,1" : "SB1;WT50;CB1;IP ,,,1";
        const auto sent = lines();
        EXPECT_EQ(std::count(sent.begin(), sent.end(), pulse), static_cast<long>(expected.size()));
        std::set<std::pair<int, int>> seen;
        for (const LaserMark& m : sim().marks())
            seen.insert(dotOf(m, startX, photo));
        EXPECT_EQ(seen, expected);
    }
}

// A gated source fires each dot with a timed gate pulse sent as it is; a jam after the third
// dot makes the guard stop the machine, and no further dot may be fired once the jam clears.
TEST_F(PhotoMarkingSim, AGuardStopEndsTheTimedGatePulses)
{
    const std::string pulse = "SB1;WT50;CB1;IP ,,,1";
    auto link = std::make_unique<test::StallingLink>(pulse, 3);
    const test::StallingLink& controller = *link;
    setLaser(nullptr);
    m_laser = std::make_unique<TLaser>(std::make_unique<TDMC>(std::move(link)));
    setLaser(m_laser.get());
    ASSERT_EQ(ApplyMotionSettings(Settings(), *m_laser), std::nullopt);
    m_laser->setGuardTimeMs(1000);
    m_laser->ServoHere();
    m_laser->SystemOn();
    ASSERT_TRUE(m_laser->EnableOn());
    m_source.FDoesPulseTrain = false;
    DmcWiring wiring = sim().wiring();
    wiring.gatedSource = true;
    sim().setWiring(wiring);
    Settings().TimedPulseWidth = 50;

    TGlyphPhoto& photo = addPhoto();
    TCoord mn{1e300, 1e300}, mx{-1e300, -1e300};
    markLabel(photo, mn, mx);

    ASSERT_TRUE(m_laser->sequenceFaulted());
    const auto& sent = controller.sent();
    const auto stop = std::find(sent.begin(), sent.end(), "ST SXYZW");
    ASSERT_NE(stop, sent.end());
    EXPECT_EQ(std::count(sent.begin(), stop, pulse), 3);
    EXPECT_EQ(std::count(stop, sent.end(), pulse), 0) << "a dot was fired after the stop";
    EXPECT_FALSE(m_laser->GateIsOpen);
    EXPECT_FALSE(m_laser->EnableIsOn);
}

TEST_F(PhotoMarkingSim, AbortStopsTheRowLeavesTheGateClosedAndQueuesNothingMore)
{
    // Long rows: the motion begins within row 0, and Abort is pressed a few dots later.
    TGlyphPhoto& photo = addPhoto(0.9);
    int dotsAfterBegin = -1;
    m_laser->ShowDMCCmd = true;
    m_laser->setEchoHook([&](EchoLine kind, const std::string& text) {
        if (kind != EchoLine::Command)
            return;
        if (text == "BGS")
            dotsAfterBegin = 0;
        else if (text == "LI 0,0,,1" && dotsAfterBegin >= 0 && ++dotsAfterBegin == 3)
            MarkingAborted() = true;
    });
    TCoord mn{1e300, 1e300}, mx{-1e300, -1e300};
    markLabel(photo, mn, mx);
    m_laser->setEchoHook(nullptr);

    EXPECT_TRUE(MarkingAborted());
    EXPECT_TRUE(photo.Processed); // the marking sequence resets a glyph cut short
    EXPECT_FALSE(m_laser->GateIsOpen);
    EXPECT_LT(sim().markCount(), blackDots(dotPicture(0.9)).size());
    const auto sent = lines();
    const auto stop = std::find(sent.begin(), sent.end(), "STS");
    ASSERT_NE(stop, sent.end());
    for (auto it = stop; it != sent.end(); ++it)
        EXPECT_NE(it->rfind("LI ", 0), 0u) << *it;
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "LM XYW"), 1);

    // An aborted run marks nothing more, not even the position.
    const double at = MarkPosition().X;
    photo.Processed = false;
    photo.Mark(m_xytf);
    EXPECT_EQ(MarkPosition().X, at);
}

TEST_F(PhotoMarkingSim, PhotosThatCannotBeMarkedStayUnprocessed)
{
    TGlyphPhoto& photo = addPhoto();
    // A dot pitch of 0.1 nm: millions of rows, refused with a message.
    Settings().PhotoResolution = 0.0001;
    TCoord mn{1e300, 1e300}, mx{-1e300, -1e300};
    markLabel(photo, mn, mx);
    EXPECT_FALSE(photo.Processed);
    ASSERT_EQ(m_dialogs.texts().size(), 1);
    EXPECT_TRUE(m_dialogs.texts().at(0).contains(QStringLiteral("40,000,000"))) << m_dialogs.texts().at(0).toStdString();
    auto sent = lines();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "DPW=0"), 0);
    EXPECT_EQ(sim().markCount(), 0u);

    // The laser enable cannot be switched on (its delay window is aborted): skipped, unprocessed.
    Settings().PhotoResolution = 25;
    m_dialogs.clear();
    m_laser->EnableOff();
    store().WriteString("Hardware", "EnableOnDelay", "2");
    m_dialogs.abortNextWaitAfter(0);
    markLabel(photo, mn, mx);
    EXPECT_FALSE(photo.Processed);
    sent = lines();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "DPW=0"), 0);
    EXPECT_EQ(sim().markCount(), 0u);
}

} // namespace
