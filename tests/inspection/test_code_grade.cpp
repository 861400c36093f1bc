// 2D codes read back and graded from the simulated camera's picture: a table of contents, module
// sizes, kinds and girdles that read and grade A or B when marked cleanly and lose grade (and
// fail the inspection once they no longer read) when a fifth of the pulses misfire; the grading
// thresholds; faults the grade must show.
#include "inspectionfixture.h"

#include "glyphs/glyphcode.h"

#include <cstdio>

namespace lapido::test {
namespace {

constexpr const char* kReport = "2141234567";
constexpr const char* kLink = "https://lab.example/r/2141234567?v=12345"; // 40 characters

struct CodeCase {
    std::string name;
    const char* content;
    TCodeSymbology symbology;
    double moduleFactor; // of the smallest module the spot allows
    bool curved;
    TCodeModuleMarking marking;
    double pulseDistanceUm = 0.5;
};

std::vector<CodeCase> codeCases()
{
    std::vector<CodeCase> cases;
    for (const char* content : {kReport, kLink})
        for (const TCodeSymbology s : {TCodeSymbology::DataMatrix, TCodeSymbology::QR})
            for (const double factor : {1.0, 2.0, 4.0})
                for (const bool curved : {false, true}) {
                    // The curved girdle at the two ends of the range of sizes.
                    if (curved && factor == 2.0)
                        continue;
                    CodeCase c{{}, content, s, factor, curved, TCodeModuleMarking::OnePulse};
                    c.name = std::string(content == kReport ? "Report" : "Link") + (s == TCodeSymbology::QR ? "QR" : "DM")
                             + "x" + std::to_string(int(factor)) + (curved ? "Curved" : "Flat");
                    cases.push_back(c);
                }
    // Modules filled with pulses at the pulse distance; at 2 µm rather than the station's 0.5 µm,
    // which fills a module of twice the smallest size with some five hundred pulses.
    cases.push_back({"ReportDMSquarex2Flat", kReport, TCodeSymbology::DataMatrix, 2.0, false,
                     TCodeModuleMarking::PulseSquare, 2.0});
    cases.push_back({"LinkQRSquarex2Curved", kLink, TCodeSymbology::QR, 2.0, true, TCodeModuleMarking::PulseSquare, 2.0});
    return cases;
}

class CodeGradeFixture : public InspectionFixture {
protected:
    void SetUp() override
    {
        InspectionFixture::SetUp();
        // The station's own pulse distance: the smallest module is the spot and half a micrometre.
        Settings().PulseDistance = 0.5;
    }
    // The same run filmed again with other marks on the stone (the plan is the same).
    InspectedShot reshoot(const InspectedShot& base, std::vector<LaserMark> marks)
    {
        InspectedShot shot;
        shot.preview = base.preview;
        shot.plan = base.plan;
        shot.marks = std::move(marks);
        SimulatedInspectionCamera camera;
        camera.sensor = camera.picture;
        shot.picture = simulatedInspectionPicture(Settings(), TCoord{kRefX, kRefY}, kRefY, shot.marks, camera);
        const InspectionView view = InspectionView::fromSettings(Settings(), shot.picture.size(), TCoord{kRefX, kRefY});
        shot.result = m_inspector.inspect(shot.plan, shot.picture, view, InspectionLimits::fromStore(Settings()));
        return shot;
    }
    InspectedShot reshoot(const InspectedShot& base, const LaserMarkFaults& faults)
    {
        LaserMarkFaultModel model(faults);
        return reshoot(base, model.apply(base.preview.marks));
    }
    TGlyphCode& addCode(const QString& content, TCodeSymbology symbology, double moduleUm, TCodeModuleMarking marking)
    {
        const int quiet = symbology == TCodeSymbology::QR ? 4 : 2;
        const CodeEncoding e = encodeCode(symbology, content);
        // The girdle a little taller than the code with its quiet zone, so that its edges lie
        // outside the code as on a stone chosen for it.
        const double heightMm = (e.matrix->rows + 2 * quiet) * moduleUm / 1000.0;
        setGirdleHeight(std::max(0.15, heightMm + 0.1));
        st().CodeContent = content;
        st().CodeSymbology = symbology;
        st().CodeModuleUm = moduleUm;
        st().CodeQuietModules = quiet;
        st().CodeModuleMarking = marking;
        st().CodeOffset = 0;
        st().BitBtnAddCodeClick();
        return *static_cast<TGlyphCode*>(st().TreeViewGlyphs().Selected()->Data());
    }
    static double smallestModuleUm() { return Settings().SpotDiameter + Settings().PulseDistance; }
    static const GlyphInspection* codeOf(const InspectionResult& r)
    {
        for (const GlyphInspection& g : r.glyphs)
            if (g.code)
                return &g;
        return nullptr;
    }
};

class CodeTableTest : public CodeGradeFixture, public ::testing::WithParamInterface<CodeCase> {};

TEST_P(CodeTableTest, ReadsAndGradesWellCleanAndLosesGradeWithMisfires)
{
    const CodeCase& c = GetParam();
    Settings().PulseDistance = c.pulseDistanceUm;
    TGlyphCode& code = addCode(QString::fromUtf8(c.content), c.symbology, smallestModuleUm() * c.moduleFactor, c.marking);
    ASSERT_EQ(code.MarkingProblem(), QString());
    if (c.curved)
        teachCurvedGirdle();

    const InspectedShot clean = shoot();
    const GlyphInspection* g = codeOf(clean.result);
    ASSERT_NE(g, nullptr) << qPrintable(clean.result.lines().join('\n'));
    ASSERT_TRUE(g->code->graded);
    EXPECT_TRUE(g->code->decoded) << qPrintable(g->code->line());
    EXPECT_EQ(g->code->text, QString::fromUtf8(c.content));
    EXPECT_LE(g->code->overall, 'B') << qPrintable(g->code->line());
    EXPECT_TRUE(clean.result.ok()) << qPrintable(clean.result.verdict());
    EXPECT_TRUE(clean.result.traceLine().contains(QStringLiteral(": grade ") + QChar(g->code->overall)))
        << qPrintable(clean.result.traceLine());
    std::printf("%-24s clean:   %s\n", c.name.c_str(), qPrintable(g->code->line()));

    LaserMarkFaults faults;
    faults.misfireRate = 0.2;
    faults.misfireSeed = 7;
    const InspectedShot misfired = reshoot(clean, faults);
    const GlyphInspection* m = codeOf(misfired.result);
    ASSERT_NE(m, nullptr);
    std::printf("%-24s misfire: %s\n", c.name.c_str(), qPrintable(m->code->line()));
    if (c.marking == TCodeModuleMarking::OnePulse) {
        // A fifth of the modules is missing: contrast goes, the finder and clock patterns are damaged.
        EXPECT_LT(m->code->cellContrast, g->code->cellContrast);
        EXPECT_GT(m->code->overall, g->code->overall) << qPrintable(m->code->line());
        EXPECT_GT(m->code->damagedFixedModules, 0);
    } else {
        // Hundreds of pulses a module: a fifth of them missing leaves every module dark.
        EXPECT_LE(m->code->cellContrast, g->code->cellContrast + 0.01);
        EXPECT_TRUE(m->code->decoded);
    }
    if (!m->code->decoded) {
        EXPECT_FALSE(misfired.result.ok());
        EXPECT_TRUE(misfired.result.verdict().contains(QStringLiteral("the code does not read")))
            << qPrintable(misfired.result.verdict());
    }
}

INSTANTIATE_TEST_SUITE_P(Codes, CodeTableTest, ::testing::ValuesIn(codeCases()),
                         [](const auto& info) { return info.param.name; });

TEST(CodeGrades, ThresholdsOfTheGuideline)
{
    struct Row {
        double contrast;
        int damaged;
        double axial, grid;
        char expected;
    };
    for (const Row r : {Row{0.30, 0, 0.06, 0.38, 'A'}, Row{0.29, 1, 0.07, 0.45, 'B'}, Row{0.20, 2, 0.10, 0.63, 'C'},
                        Row{0.15, 3, 0.12, 0.75, 'D'}, Row{0.14, 4, 0.13, 0.76, 'F'}}) {
        SCOPED_TRACE(r.expected);
        EXPECT_EQ(contrastGradeOf(r.contrast), r.expected);
        EXPECT_EQ(fixedPatternGradeOf(r.damaged), r.expected);
        EXPECT_EQ(axialGradeOf(r.axial), r.expected);
        EXPECT_EQ(gridGradeOf(r.grid), r.expected);
    }
}

TEST_F(CodeGradeFixture, AFinderLegLeftOutFailsTheFixedPatternAndAStretchedCodeTheAxialGrade)
{
    TGlyphCode& code = addCode(QString::fromLatin1(kReport), TCodeSymbology::DataMatrix, 30, TCodeModuleMarking::OnePulse);
    const InspectedShot clean = shoot();
    ASSERT_TRUE(codeOf(clean.result)->code->decoded);

    // The pulses of the bottom row (the solid leg of the finder) leave no mark: the planned
    // marks of the last module row are found by their place.
    const PlannedCode& planned = *clean.plan.glyphs.front().code;
    LaserMarkFaults faults;
    const std::vector<TCoord>& marks = clean.plan.glyphs.front().marksMm;
    for (std::size_t i = 0; i < marks.size(); ++i) {
        const TCoord lastRow{planned.originMm.X + (planned.rows - 1) * planned.rowStepMm.X,
                             planned.originMm.Y + (planned.rows - 1) * planned.rowStepMm.Y};
        if (std::abs(marks[i].Y - lastRow.Y) < 0.004)
            faults.skipped.push_back({i, 1});
    }
    ASSERT_EQ(faults.skipped.size(), std::size_t(code.Matrix->cols));
    const InspectedShot broken = reshoot(clean, faults);
    const GlyphInspection* g = codeOf(broken.result);
    EXPECT_GE(g->code->damagedFixedModules, code.Matrix->cols - 1);
    EXPECT_EQ(g->code->fixedPatternGrade, 'F');
    EXPECT_EQ(g->code->overall, 'F');
    EXPECT_FALSE(broken.result.ok());

    // The table's X running a sixth too far (a wrong scale): the columns lie wider apart than
    // the rows, the grid is followed out to the edges and the axial grade fails.
    std::vector<LaserMark> stretched = clean.preview.marks;
    const double centreX = (planned.originMm.X + (planned.cols - 1) * planned.colStepMm.X / 2);
    for (LaserMark& mark : stretched)
        mark.xMm = centreX + (mark.xMm - centreX) * 1.16;
    const InspectedShot wide = reshoot(clean, stretched);
    const GlyphInspection* w = codeOf(wide.result);
    EXPECT_NEAR(w->code->axialNonuniformity, 0.148, 0.02) << qPrintable(w->code->line());
    EXPECT_EQ(w->code->axialGrade, 'F');
    EXPECT_LE(w->code->gridGrade, 'B') << "a uniform stretch keeps the grid regular";
}

TEST_F(CodeGradeFixture, ACodeOutsideThePictureIsNotGradedAndFails)
{
    addCode(QString::fromLatin1(kReport), TCodeSymbology::QR, 30, TCodeModuleMarking::OnePulse);
    InspectedShot shot = shoot();
    // Filmed a few millimetres away: the code lies outside the frame.
    const InspectionView view = InspectionView::fromSettings(Settings(), shot.picture.size(), TCoord{kRefX + 3, kRefY});
    const InspectionResult away = m_inspector.inspect(shot.plan, shot.picture, view, InspectionLimits{});
    EXPECT_FALSE(away.ok());
    const CodeGrade grade = gradeCode(*shot.plan.glyphs.front().code, shot.picture, view, TCoord{0, 0}, 8);
    EXPECT_FALSE(grade.graded);
    EXPECT_FALSE(grade.decoded);
}

TEST_F(CodeGradeFixture, TheMinimumGradeComesFromTheStore)
{
    struct Case {
        const char* stored;
        char expected;
    };
    for (const Case c : {Case{"B", 'B'}, Case{"c", 'C'}, Case{"F", 'D'}, Case{"AB", 'D'}, Case{"", 'D'}}) {
        keys::write(keys::InspectionMinCodeGrade, QString::fromLatin1(c.stored));
        EXPECT_EQ(InspectionLimits::fromStore(Settings()).minCodeGrade, c.expected) << c.stored;
    }
}

} // namespace
} // namespace lapido::test
