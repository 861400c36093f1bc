// A label of outline glyphs marked through the machine on the simulator: every mark lies in
// the rectangle the glyphs measured, and every contour of every character is visited.
#include "geometry/cadobjects.h"
#include "geometry/cadonpaintbox.h"
#include "glyphs/glyph.h"
#include "glyphs/glyphoutline.h"
#include "glyphs/labeltree.h"

#include "machine/applysettings.h"
#include "machine/laser.h"
#include "platform/eventpump.h"
#include "platform/stationglobals.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "sim/dmcsimulator.h"
#include "stallinglink.h"
#include "testsupport.h"

#include <cmath>

using namespace lapido;

namespace {

class GlyphMarkingSim : public test::StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        m_sim = std::make_unique<ScopedDmcSimulator>(&m_clock);
        DmcWiring wiring = sim().wiring();
        wiring.xyCountsPerMm = 10000; // the station's default resolution
        sim().setWiring(wiring);
        keys::write(keys::GalilIP, QStringLiteral("sim"));
        store().WriteString("Hardware", "EnableOnDelay", "0");
        Settings() = TSettings{};
        Settings().UseZaxis = false;
        Settings().XY_CountsPerMM = 10000;
        Settings().PulseDistance = 1; // µm between pulses
        Settings().MarkingSpeed = 0.5;
        m_laser = std::make_unique<TLaser>();
        setLaser(m_laser.get());
        ASSERT_EQ(ApplyMotionSettings(Settings(), *m_laser), std::nullopt);
        m_laser->ServoHere();
        m_laser->SystemOn();
        ASSERT_TRUE(m_laser->EnableOn());
    }
    void TearDown() override
    {
        setLaser(nullptr);
        m_laser.reset();
        m_sim.reset();
        Settings() = TSettings{};
        StationFixture::TearDown();
    }
    DmcSimulator& sim() { return **m_sim; }

    std::unique_ptr<ScopedDmcSimulator> m_sim;
    std::unique_ptr<TLaser> m_laser;
    TLabelTree m_tree;
};

// Label-to-machine transform as the marking sequence builds it: girdle height 0.5 mm, slant
// 10 degrees, centred on (15, 12).
void buildTransform(TXYTransform& t)
{
    t.SetScale(0.5, 0.5);
    t.SetRotation(10 * 3.14159265358979323846 / 180);
    t.SetOutTranslation(15, 12);
}

// A triangle logo drawing, 2 wide and 1 high.
QString writeTriangleLogo(const QString& path)
{
    TCADOnPaintBox drawing;
    drawing.CADObjectList.Add(std::make_unique<TCADLine>(&drawing, Coord(0, 0), Coord(2, 0)));
    drawing.CADObjectList.Add(std::make_unique<TCADLine>(&drawing, Coord(2, 0), Coord(1, 1)));
    drawing.CADObjectList.Add(std::make_unique<TCADLine>(&drawing, Coord(1, 1), Coord(0, 0)));
    EXPECT_TRUE(drawing.SaveToFile(path));
    return path;
}

double totalWidth(const TLabelTree& tree)
{
    double w = 0;
    for (TTreeNode* n : tree.Items())
        if (TGlyph* g = n->Data())
            w += g->Width();
    return w;
}

} // namespace

TEST_F(GlyphMarkingSim, MarksStayInsideTheMeasuredRectangleAndVisitEveryContour)
{
    TGlyph::CreateFor<TGlyphString>(&m_tree, m_tree.Add("Text"), "AB", "ROMANS", TFontStyles(), 0.8, 0.0, 0.1);
    TGlyph::CreateFor<TGlyphSpace>(&m_tree, m_tree.Add("Space"), 0.3);
    TGlyph::CreateFor<TGlyphString>(&m_tree, m_tree.Add("Text"), "Ro", "Arial", TFontStyles(), 0.8, 0.0, 0.0);
    auto& logo = TGlyph::CreateFor<TGlyphLogo>(&m_tree, m_tree.Add("Logo"), writeTriangleLogo(scratch("tri.lal")), 0.6,
                                               0.1);
    EXPECT_EQ(m_tree.Root(3)->Text(), "Logo \"tri\"");
    EXPECT_NEAR(logo.UnitWidth, 2.0, 1e-9);

    TXYTransform xytf;
    buildTransform(xytf);
    const double T = totalWidth(m_tree);

    // Measure each glyph on its own so every character's rectangle is known.
    SetMarkPosition(-T / 2, 0);
    TCoord all[2] = {{1e300, 1e300}, {-1e300, -1e300}};
    struct Measured {
        TGlyphOutLine* glyph;
        TCoord min, max;
        std::vector<TCoord> firstPoints; // first vertex of each contour, in mm
    };
    std::vector<Measured> chars;
    for (TTreeNode* n : m_tree.Items()) {
        TGlyph* g = n->Data();
        if (!g)
            continue;
        auto* outline = dynamic_cast<TGlyphOutLine*>(g);
        const TCoord start = MarkPosition();
        Measured m{outline, {1e300, 1e300}, {-1e300, -1e300}, {}};
        g->ExtendMarkingRect(xytf, m.min, m.max);
        MarkPosition() = start; // measured twice: the label's rectangle from the same start
        g->ExtendMarkingRect(xytf, all[0], all[1]);
        if (outline) {
            for (int c = 0; c < outline->ContourList->Count(); ++c) {
                const TVertex v = outline->ContourList->GetContour(c)[0];
                m.firstPoints.push_back(xytf.TransFormCoord(Coord(start.X + outline->RelativeSize * v.X
                                                                      + outline->RelativeSize * outline->Spacing / 2,
                                                                  start.Y + outline->RelativeSize * (v.Y + outline->Offset))));
            }
            chars.push_back(m);
        }
    }
    ASSERT_EQ(chars.size(), 5u);
    for (const auto& m : chars)
        ASSERT_FALSE(m.firstPoints.empty());

    sim().clearMarks();
    SetMarkPosition(-T / 2, 0);
    for (TTreeNode* n : m_tree.Items())
        if (TGlyph* g = n->Data())
            g->Mark(xytf);
    m_laser->WaitOnMotionComplete();
    EXPECT_NEAR(MarkPosition().X, T / 2, 1e-9);

    const auto marks = sim().marks();
    ASSERT_GT(marks.size(), 500u);
    const double tol = 0.0015; // one pulse and a count of rounding
    for (const auto& mk : marks) {
        EXPECT_GE(mk.xMm, all[0].X - tol);
        EXPECT_LE(mk.xMm, all[1].X + tol);
        EXPECT_GE(mk.yMm, all[0].Y - tol);
        EXPECT_LE(mk.yMm, all[1].Y + tol);
    }
    // Each contour starts where the gate opens after its positioning move: a mark lies close to
    // its first point, and every character has marks inside its own rectangle.
    for (const auto& m : chars) {
        int inside = 0;
        for (const auto& mk : marks)
            if (mk.xMm >= m.min.X - tol && mk.xMm <= m.max.X + tol && mk.yMm >= m.min.Y - tol && mk.yMm <= m.max.Y + tol)
                ++inside;
        EXPECT_GT(inside, 20);
        for (const TCoord& p : m.firstPoints) {
            double nearest = 1e9;
            for (const auto& mk : marks)
                nearest = std::min(nearest, std::hypot(mk.xMm - p.X, mk.yMm - p.Y));
            EXPECT_LT(nearest, 0.005) << "a contour starting at " << p.X << "," << p.Y << " was not marked";
        }
        EXPECT_TRUE(m.glyph->Processed);
    }
    EXPECT_FALSE(m_laser->GateIsOpen);
}

// The Abort button reaches the model through the event pump while the machine waits.
class AbortAfterMarks : public EventPump {
public:
    AbortAfterMarks(DmcSimulator& sim, std::size_t marks) : m_sim(sim), m_marks(marks) {}
    void pump() override
    {
        if (m_sim.markCount() >= m_marks)
            MarkingAborted() = true;
    }

private:
    DmcSimulator& m_sim;
    std::size_t m_marks;
};

TEST_F(GlyphMarkingSim, AbortWhileAGlyphIsMarkedStopsItAndLeavesTheNextAlone)
{
    TGlyph::CreateFor<TGlyphString>(&m_tree, m_tree.Add("Text"), "ABC", "ROMANS", TFontStyles(), 1.0, 0.0, 0.0);
    TTreeNode* text = m_tree.Root(0);
    TXYTransform xytf;
    buildTransform(xytf);
    SetMarkPosition(-totalWidth(m_tree) / 2, 0);
    TGlyph* a = text->Item(0)->Data();
    TGlyph* b = text->Item(1)->Data();
    TGlyph* c = text->Item(2)->Data();
    sim().clearMarks();
    a->Mark(xytf);
    const std::size_t afterA = sim().markCount();
    ASSERT_GT(afterA, 0u);

    AbortAfterMarks abortButton(sim(), afterA + 50);
    EventPump* previous = setEventPump(&abortButton);
    const double beforeB = MarkPosition().X;
    b->Mark(xytf);
    const double afterB = MarkPosition().X;
    c->Mark(xytf);
    setEventPump(previous);
    m_laser->WaitOnMotionComplete();

    EXPECT_TRUE(MarkingAborted());
    EXPECT_TRUE(b->Processed); // the sequence resets a glyph cut short
    EXPECT_GT(afterB, beforeB);
    EXPECT_FALSE(c->Processed);
    EXPECT_EQ(MarkPosition().X, afterB); // refused at entry: C did not advance
    EXPECT_FALSE(m_laser->GateIsOpen);
    EXPECT_FALSE(sim().isMoving('S'));
    // B was cut short: far fewer marks than a whole B would leave.
    EXPECT_LT(sim().markCount(), afterA + 400);
}

// A jam at the end of the first contour: the guard stops the machine, the jam clears, and from
// then on nothing of this glyph or the next may open the gate or begin a sequence again.
TEST_F(GlyphMarkingSim, AGuardStopEndsTheGlyphAndNothingAfterItFires)
{
    auto link = std::make_unique<test::StallingLink>("LE", 1);
    const test::StallingLink& controller = *link;
    setLaser(nullptr);
    m_laser = std::make_unique<TLaser>(std::make_unique<TDMC>(std::move(link)));
    setLaser(m_laser.get());
    ASSERT_EQ(ApplyMotionSettings(Settings(), *m_laser), std::nullopt);
    m_laser->setGuardTimeMs(1000);
    m_laser->ServoHere();
    m_laser->SystemOn();
    ASSERT_TRUE(m_laser->EnableOn());

    TGlyph::CreateFor<TGlyphString>(&m_tree, m_tree.Add("Text"), "AB", "ROMANS", TFontStyles(), 1.0, 0.0, 0.0);
    TXYTransform xytf;
    buildTransform(xytf);
    SetMarkPosition(-totalWidth(m_tree) / 2, 0);
    for (TTreeNode* n : m_tree.Items())
        if (TGlyph* g = n->Data())
            g->Mark(xytf);

    ASSERT_TRUE(m_laser->sequenceFaulted());
    EXPECT_TRUE(m_laser->lastError().contains(QStringLiteral("nothing progressed"))) << m_laser->lastError().toStdString();
    const auto& sent = controller.sent();
    const auto stop = std::find(sent.begin(), sent.end(), "ST SXYZW");
    ASSERT_NE(stop, sent.end());
    ASSERT_GT(std::count(sent.begin(), stop, "BGS"), 0) << "the first contour was marked";
    for (auto it = stop; it != sent.end(); ++it) {
        EXPECT_NE(*it, "SB1") << "the gate opened after the stop";
        EXPECT_NE(*it, "BGS") << "a sequence began after the stop";
        EXPECT_NE(*it, "SB2") << "the enable line came on after the stop";
    }
    EXPECT_FALSE(m_laser->GateIsOpen);
    EXPECT_FALSE(m_laser->EnableIsOn);
}
