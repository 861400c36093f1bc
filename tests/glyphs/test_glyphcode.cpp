// The code glyph: the symbols the encoders give (orientation and fixed patterns), the pulse plan
// of its modules, its refusals, and its marking through the machine on the simulator.
#include "glyphs/glyph.h"
#include "glyphs/glyphcode.h"
#include "glyphs/labeltree.h"

#include "machine/applysettings.h"
#include "machine/laser.h"
#include "machine/lasersource.h"
#include "platform/eventpump.h"
#include "platform/stationglobals.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "sim/dmcsimulator.h"
#include "testsupport.h"

#include <cmath>
#include <set>

using namespace lapido;

namespace {

// The fixed patterns a reader finds a symbol by: Data Matrix's solid L on the left and bottom
// and its dotted clock track on the top and right; QR's three finder squares.
void expectFixedPatterns(TCodeSymbology symbology, const CodeMatrix& m)
{
    if (symbology == TCodeSymbology::QR) {
        for (const auto& [r0, c0] : {std::pair{0, 0}, std::pair{0, m.cols - 7}, std::pair{m.rows - 7, 0}})
            for (int i = 0; i < 7; ++i) {
                EXPECT_TRUE(m.at(r0, c0 + i) && m.at(r0 + 6, c0 + i) && m.at(r0 + i, c0) && m.at(r0 + i, c0 + 6));
                if (i >= 2 && i <= 4) {
                    EXPECT_TRUE(m.at(r0 + i, c0 + 2) && m.at(r0 + i, c0 + 3) && m.at(r0 + i, c0 + 4));
                }
            }
        EXPECT_FALSE(m.at(m.rows - 7, m.cols - 7) && m.at(m.rows - 1, m.cols - 1) && m.at(m.rows - 7, m.cols - 1));
        return;
    }
    for (int r = 0; r < m.rows; ++r)
        EXPECT_TRUE(m.at(r, 0)) << "left edge, row " << r;
    for (int c = 0; c < m.cols; ++c)
        EXPECT_TRUE(m.at(m.rows - 1, c)) << "bottom edge, column " << c;
    // The clock track of the top row starts dark at the left; the right column's ends dark at
    // the bottom. (Large symbols split into regions repeat the pattern inside; the outer edges
    // hold it all the same.)
    for (int c = 0; c < m.cols; ++c)
        EXPECT_EQ(m.at(0, c), c % 2 == 0) << "top edge, column " << c;
    for (int r = 0; r < m.rows; ++r)
        EXPECT_EQ(m.at(r, m.cols - 1), (m.rows - 1 - r) % 2 == 0) << "right edge, row " << r;
}

struct EncodingCase {
    const char* name;
    TCodeSymbology symbology;
    const char* content;
    int rows, cols;
};

class CodeEncodingTest : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(CodeEncodingTest, SymbolHasItsSizeAndFixedPatternsTheRightWayUp)
{
    const EncodingCase& c = GetParam();
    const CodeEncoding e = encodeCode(c.symbology, QString::fromUtf8(c.content));
    ASSERT_TRUE(e.matrix) << e.error.toStdString();
    EXPECT_EQ(e.matrix->rows, c.rows);
    EXPECT_EQ(e.matrix->cols, c.cols);
    EXPECT_EQ(e.matrix->dark.size(), std::size_t(c.rows * c.cols));
    expectFixedPatterns(c.symbology, *e.matrix);
    // The same content gives the same symbol.
    EXPECT_EQ(encodeCode(c.symbology, QString::fromUtf8(c.content)).matrix, e.matrix);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, CodeEncodingTest,
    ::testing::Values(EncodingCase{"ReportNumberDM", TCodeSymbology::DataMatrix, "2141234567", 12, 12},
                      EncodingCase{"ReportNumberRect", TCodeSymbology::DataMatrixRect, "2141234567", 8, 18},
                      EncodingCase{"LinkDM", TCodeSymbology::DataMatrix, "https://lab.example/r/2141234567?v=1", 24, 24},
                      EncodingCase{"ReportNumberQR", TCodeSymbology::QR, "2141234567", 21, 21},
                      EncodingCase{"LinkQR", TCodeSymbology::QR, "https://lab.example/report/2141234567?v=1", 29, 29},
                      EncodingCase{"Umlauts", TCodeSymbology::DataMatrix, "Größe 0,5 ct", 18, 18}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CodeEncoding, RefusesWhatNoSymbolCanHold)
{
    EXPECT_FALSE(encodeCode(TCodeSymbology::DataMatrix, QString()).matrix);
    EXPECT_FALSE(encodeCode(TCodeSymbology::QR, QString(codelimits::kMaxContentChars + 1, QChar('7'))).matrix);
    EXPECT_FALSE(encodeCode(TCodeSymbology::QR, QStringLiteral("A") + QChar(0) + QStringLiteral("B")).matrix);
    // A content too long for the largest rectangle still fits a square.
    const CodeEncoding longRect = encodeCode(TCodeSymbology::DataMatrixRect, QString(120, QChar('x')));
    ASSERT_TRUE(longRect.matrix);
    EXPECT_EQ(longRect.matrix->rows, longRect.matrix->cols);
    for (TCodeSymbology s : {TCodeSymbology::DataMatrix, TCodeSymbology::DataMatrixRect, TCodeSymbology::QR})
        EXPECT_EQ(symbologyFromName(symbologyName(s)), s);
    EXPECT_FALSE(symbologyFromName(QStringLiteral("PDF417")));
}

struct PulseCase {
    const char* name;
    TCodeModuleMarking marking;
    double moduleUm, spotUm, pulseUm;
    int perSide;
};

class ModulePulsesTest : public ::testing::TestWithParam<PulseCase> {};

TEST_P(ModulePulsesTest, PulsesFillTheModuleWithoutCrossingItsEdge)
{
    const PulseCase& c = GetParam();
    CodeLayout l;
    l.moduleUm = c.moduleUm;
    l.spotUm = c.spotUm;
    l.pulseDistanceUm = c.pulseUm;
    l.marking = c.marking;
    const auto offsets = modulePulseOffsetsUm(l);
    ASSERT_EQ(offsets.size(), std::size_t(c.perSide * c.perSide));
    double sumX = 0, sumY = 0;
    std::set<std::pair<double, double>> distinct;
    // A spot wider than the module cannot stay inside it: its one pulse is at the centre.
    const double reach = std::max(0.0, (c.moduleUm - c.spotUm) / 2);
    for (const auto& [x, y] : offsets) {
        EXPECT_LE(std::abs(x), reach + 1e-9);
        EXPECT_LE(std::abs(y), reach + 1e-9);
        sumX += x;
        sumY += y;
        distinct.insert({x, y});
    }
    EXPECT_EQ(distinct.size(), offsets.size());
    EXPECT_NEAR(sumX, 0, 1e-9); // centred on the module
    EXPECT_NEAR(sumY, 0, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(
    Modules, ModulePulsesTest,
    ::testing::Values(PulseCase{"OnePulse", TCodeModuleMarking::OnePulse, 40, 10, 2.5, 1},
                      PulseCase{"SquareExact", TCodeModuleMarking::PulseSquare, 20, 10, 2.5, 5},
                      PulseCase{"SquareRoundedDown", TCodeModuleMarking::PulseSquare, 21, 10, 2.5, 5},
                      PulseCase{"SquareAtTheSmallestModule", TCodeModuleMarking::PulseSquare, 12.5, 10, 2.5, 2},
                      PulseCase{"SquareNarrowerThanTheSpot", TCodeModuleMarking::PulseSquare, 8, 10, 2.5, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CodePlan, EveryDarkModuleGetsItsPulsesAndNoLightOneAny)
{
    const CodeMatrix m = *encodeCode(TCodeSymbology::DataMatrix, QStringLiteral("2141234567")).matrix;
    for (const TCodeModuleMarking marking : {TCodeModuleMarking::OnePulse, TCodeModuleMarking::PulseSquare}) {
        CodeLayout l;
        l.moduleUm = 25;
        l.quietModules = 3;
        l.spotUm = 10;
        l.pulseDistanceUm = 5;
        l.marking = marking;
        const std::size_t perModule = modulePulseOffsetsUm(l).size();
        std::vector<int> pulsesOf(m.dark.size(), 0);
        std::size_t total = 0;
        double lastY = -1;
        for (const CodeDotRow& row : planCodeDots(m, l)) {
            EXPECT_GT(row.yUm, lastY); // rows from the top down
            lastY = row.yUm;
            ASSERT_FALSE(row.xUm.empty());
            EXPECT_TRUE(std::is_sorted(row.xUm.begin(), row.xUm.end()));
            for (double x : row.xUm) {
                const int c = int(std::floor(x / l.moduleUm)) - l.quietModules;
                const int r = int(std::floor(row.yUm / l.moduleUm)) - l.quietModules;
                ASSERT_TRUE(r >= 0 && r < m.rows && c >= 0 && c < m.cols) << x << "," << row.yUm;
                ++pulsesOf[std::size_t(r * m.cols + c)];
                ++total;
            }
        }
        EXPECT_EQ(total, perModule * std::size_t(m.darkCount()));
        for (std::size_t i = 0; i < m.dark.size(); ++i)
            EXPECT_EQ(pulsesOf[i], m.dark[i] ? int(perModule) : 0);
    }
}

class CodeGlyphTest : public test::StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        Settings() = TSettings{};
        Settings().SpotDiameter = 10;
        Settings().PulseDistance = 2;
        setGirdleHeight(0.2);
    }
    void TearDown() override
    {
        Settings() = TSettings{};
        resetStationGlobals();
        StationFixture::TearDown();
    }
    TGlyphCode& add(const QString& content, double moduleUm, TCodeSymbology s = TCodeSymbology::DataMatrix)
    {
        return TGlyph::CreateFor<TGlyphCode>(&m_tree, m_tree.Add("Code"), content, s, moduleUm, 2,
                                             TCodeModuleMarking::OnePulse, 0.0);
    }
    TLabelTree m_tree;
};

TEST_F(CodeGlyphTest, ModuleNarrowerThanSpotPlusPulseDistanceIsRefused)
{
    struct Case {
        double moduleUm;
        bool refused;
    };
    for (const Case c : {Case{11.9, true}, Case{12, false}, Case{48, false}, Case{0.5, true}, Case{NAN, true}}) {
        SCOPED_TRACE(c.moduleUm);
        EXPECT_EQ(!add(QStringLiteral("2141234567"), c.moduleUm).MarkingProblem().isEmpty(), c.refused);
    }
    EXPECT_NE(add(QString(), 20).MarkingProblem(), QString());
}

TEST_F(CodeGlyphTest, SizeFollowsTheModulesNotTheGirdle)
{
    TGlyphCode& code = add(QStringLiteral("2141234567"), 20); // 12 x 12 and 2 quiet modules a side
    EXPECT_EQ(code.TreeNode->Text(), QStringLiteral("Code \"2141234567\""));
    EXPECT_NEAR(code.heightMm(), 16 * 0.020, 1e-12);
    EXPECT_NEAR(code.heightUnits(), 0.32 / 0.2, 1e-12);
    EXPECT_NEAR(code.Width(), 0.32 / 0.2, 1e-12);
    setGirdleHeight(0.4);
    EXPECT_NEAR(code.Width(), 0.32 / 0.4, 1e-12);
    code.Increment();
    EXPECT_EQ(code.Content, QStringLiteral("2141234568"));
    EXPECT_EQ(code.Matrix, encodeCode(TCodeSymbology::DataMatrix, QStringLiteral("2141234568")).matrix);
}

class CodeMarkingSim : public CodeGlyphTest {
protected:
    void SetUp() override
    {
        CodeGlyphTest::SetUp();
        m_sim = std::make_unique<ScopedDmcSimulator>(&m_clock);
        DmcWiring wiring = (**m_sim).wiring();
        wiring.xyCountsPerMm = 10000;
        (**m_sim).setWiring(wiring);
        keys::write(keys::GalilIP, QStringLiteral("sim"));
        store().WriteString("Hardware", "EnableOnDelay", "0");
        Settings().UseZaxis = false;
        Settings().XY_CountsPerMM = 10000;
        Settings().PhotoSpeed = 1;
        m_laser = std::make_unique<TLaser>();
        setLaser(m_laser.get());
        ASSERT_EQ(ApplyMotionSettings(Settings(), *m_laser), std::nullopt);
        m_laser->ServoHere();
        m_laser->SystemOn();
        m_source.FDoesPulseTrain = true;
        setLaserSource(&m_source);
        m_xytf.SetScale(0.2, 0.2);
        m_xytf.SetRotation(0.1);
        m_xytf.SetOutTranslation(15, 12);
    }
    void TearDown() override
    {
        setLaserSource(nullptr);
        setLaser(nullptr);
        m_laser.reset();
        m_sim.reset();
        CodeGlyphTest::TearDown();
    }
    std::unique_ptr<ScopedDmcSimulator> m_sim;
    std::unique_ptr<TLaser> m_laser;
    TLaserSource m_source;
    TXYTransform m_xytf;
};

TEST_F(CodeMarkingSim, EachDarkModuleGetsItsPulsesOnTheModuleAndTheLaserEndsOff)
{
    for (const TCodeModuleMarking marking : {TCodeModuleMarking::OnePulse, TCodeModuleMarking::PulseSquare}) {
        SCOPED_TRACE(moduleMarkingName(marking).toStdString());
        m_tree.Clear();
        TGlyphCode& code = add(QStringLiteral("2141234567"), 20);
        code.UpDate(code.Content, code.Symbology, 20, 2, marking, 0.1);
        const double T = code.Width();
        SetMarkPosition(-T / 2, 0);
        (**m_sim).clearMarks();
        code.Mark(m_xytf);
        m_laser->WaitOnMotionComplete();
        EXPECT_TRUE(code.Processed);
        EXPECT_FALSE(m_laser->GateIsOpen);
        EXPECT_NEAR(MarkPosition().X, T / 2, 1e-12);

        const CodeMatrix& m = *code.Matrix;
        const std::size_t perModule = modulePulseOffsetsUm(code.layout()).size();
        const auto marks = (**m_sim).marks();
        ASSERT_EQ(marks.size(), perModule * std::size_t(m.darkCount()));
        // Every mark within its module, and each dark module marked: module (r, c) is found from
        // the mark's place taken back into glyph units.
        const double u = 0.020 / 0.2;
        const double top = code.heightUnits() * 0.1 + code.heightUnits() / 2;
        std::set<std::pair<int, int>> seen;
        for (const LaserMark& mark : marks) {
            const TCoord g = m_xytf.TransFormCoordBack(Coord(mark.xMm, mark.yMm));
            const double c = (g.X + T / 2) / u - 2;
            const double r = (top - g.Y) / u - 2;
            const int ci = int(std::floor(c)), ri = int(std::floor(r));
            ASSERT_TRUE(ri >= 0 && ri < m.rows && ci >= 0 && ci < m.cols);
            EXPECT_TRUE(m.at(ri, ci));
            // The spot stays inside the module (a count, 0.1 um, of rounding aside).
            EXPECT_LE(std::abs(c - ci - 0.5) * 20 + 5, 10 + 0.1);
            EXPECT_LE(std::abs(r - ri - 0.5) * 20 + 5, 10 + 0.1);
            seen.insert({ri, ci});
        }
        EXPECT_EQ(int(seen.size()), m.darkCount());
    }
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

TEST_F(CodeMarkingSim, AbortStopsTheCodeUnmarkedWithTheGateShut)
{
    TGlyphCode& code = add(QStringLiteral("https://lab.example/r/2141234567"), 20, TCodeSymbology::QR);
    SetMarkPosition(-code.Width() / 2, 0);
    (**m_sim).clearMarks();
    AbortAfterMarks abortButton(**m_sim, 30);
    EventPump* previous = setEventPump(&abortButton);
    code.Mark(m_xytf);
    setEventPump(previous);
    m_laser->WaitOnMotionComplete();
    EXPECT_TRUE(MarkingAborted());
    EXPECT_FALSE(code.Processed);
    EXPECT_FALSE(m_laser->GateIsOpen);
    EXPECT_FALSE((**m_sim).isMoving('S'));
    EXPECT_LT((**m_sim).marks().size(), std::size_t(code.Matrix->darkCount()));
    MarkingAborted() = false;
}

} // namespace
