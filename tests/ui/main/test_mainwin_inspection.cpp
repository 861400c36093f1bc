// The inspection in the main window: after a run on the simulated machine with a fault from the
// settings, the overlay shows the failed glyph in red with its reason and the text read back,
// and Reset asks before the holder of a failed stone is freed.
#include "mainwinfixture.h"

#include "inspection/inspection.h"

#include <cmath>

namespace lapido::test {
namespace {

// Pixels of the overlay's colour for a failed (or a passed) glyph in the window's picture buffer
// (the panel may show it scaled, its colours blended).
int pixelsOf(const QImage& picture, QRgb colour)
{
    int n = 0;
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x)
            n += (rgb.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
    return n;
}
int redPixels(const QImage& picture)
{
    return pixelsOf(picture, qRgb(235, 40, 40));
}
int greenPixels(const QImage& picture)
{
    return pixelsOf(picture, qRgb(40, 200, 60));
}

class MainWindowInspectionTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        // Pulses a little closer than the spot: dotted strokes, where a missing pulse shows.
        Settings().PulseDistance = 5;
    }
};

TEST_F(MainWindowInspectionTest, ASkippedGlyphIsRedWithItsReasonAndTheHolderStaysUntilTheOperatorAgrees)
{
    store().WriteString(QStringLiteral("Simulator"), QStringLiteral("SkipGlyph"), QStringLiteral("2"));
    TfrmMain& w = start();
    addLabel(QStringLiteral("LG 1407"));
    key(Qt::Key_F9);
    ASSERT_EQ(w.station().AIMState, TAIMState::aimsInspecting);
    const auto& inspection = w.station().LastInspection();
    ASSERT_TRUE(inspection.has_value()) << m_dialogs.texts().join(QStringLiteral(" | ")).toStdString();
    EXPECT_FALSE(inspection->ok());
    EXPECT_EQ(inspection->verdict(), QStringLiteral("'G': 0 % of its marks found")) << inspection->verdict().toStdString();
    w.VideoTimerTick();
    EXPECT_GT(redPixels(w.videoBuffer()), 50) << "no red glyph over the picture";

    m_dialogs.clear();
    key(Qt::Key_F10);
    EXPECT_EQ(m_dialogs.texts(),
              QStringList{QStringLiteral("Inspection failed: 'G': 0 % of its marks found. Free the holder anyway?")});
    EXPECT_EQ(w.station().AIMState, TAIMState::aimsInspecting) << "the default answer freed the holder";
}

TEST_F(MainWindowInspectionTest, ACleanRunShowsNoRedAndReadsTheLabelBack)
{
    TfrmMain& w = start();
    addLabel(QStringLiteral("LG 1407"));
    key(Qt::Key_F9);
    const auto& inspection = w.station().LastInspection();
    ASSERT_TRUE(inspection.has_value());
    EXPECT_TRUE(inspection->ok()) << inspection->verdict().toStdString();
    EXPECT_EQ(inspection->readBack.line(), QStringLiteral("read back: LG1407 (matches)"));
    // The simulated camera films the marks where they are, to a fraction of a pixel, as the
    // inspection needs: every glyph where it was planned within a micrometre.
    for (const GlyphInspection& g : inspection->glyphs) {
        ASSERT_TRUE(g.offsetUm.has_value()) << g.text.toStdString();
        EXPECT_LT(std::hypot(g.offsetUm->X, g.offsetUm->Y), 1.0)
            << g.text.toStdString() << ": " << g.offsetUm->X << ", " << g.offsetUm->Y << " um";
    }
    w.VideoTimerTick();
    EXPECT_EQ(redPixels(w.videoBuffer()), 0);
    EXPECT_GT(greenPixels(w.videoBuffer()), 50);
}

TEST_F(MainWindowInspectionTest, AMisfiringLaserTurnsItsGlyphsRed)
{
    store().WriteString(QStringLiteral("Simulator"), QStringLiteral("MisfireRate"), QStringLiteral("0.12"));
    TfrmMain& w = start();
    addLabel(QStringLiteral("LG 1407"));
    key(Qt::Key_F9);
    const auto& inspection = w.station().LastInspection();
    ASSERT_TRUE(inspection.has_value());
    EXPECT_FALSE(inspection->ok());
    EXPECT_TRUE(inspection->verdict().contains(QStringLiteral("of its marks found"))) << inspection->verdict().toStdString();
    std::printf("misfire: %s\n", qPrintable(inspection->verdict()));
    w.VideoTimerTick();
    EXPECT_GT(redPixels(w.videoBuffer()), 20);
    const QImage shot = w.grab().toImage();
    // The picture of the README.
    if (const QString path = qEnvironmentVariable("LAPIDO_INSPECTION_SCREENSHOT"); !path.isEmpty())
        shot.save(path);
}

// A code of the report number marked through the window with the laser misfiring at the rate
// given: graded after the run, green while it reads, red once it does not.
class MainWindowCodeTest : public MainWindowInspectionTest,
                           public ::testing::WithParamInterface<std::pair<const char*, bool>> {};

TEST_P(MainWindowCodeTest, ACodeIsGradedAfterTheRunAndRedWhenItNoLongerReads)
{
    const auto [misfire, reads] = GetParam();
    store().WriteString(QStringLiteral("Simulator"), QStringLiteral("MisfireRate"), QString::fromLatin1(misfire));
    TfrmMain& w = start();
    w.station().EditFloatChange(TEditBox::EditGirdle, QStringLiteral("0.45"));
    w.station().CodeContent = QStringLiteral("2141234567");
    w.station().CodeModuleUm = 20;
    click(QStringLiteral("Add Code"));
    key(Qt::Key_F9);
    const auto& inspection = w.station().LastInspection();
    ASSERT_TRUE(inspection.has_value()) << m_dialogs.texts().join(QStringLiteral(" | ")).toStdString();
    ASSERT_EQ(inspection->glyphs.size(), 1u);
    const GlyphInspection& code = inspection->glyphs.front();
    ASSERT_TRUE(code.code.has_value());
    EXPECT_EQ(code.code->decoded, reads) << code.code->line().toStdString();
    EXPECT_EQ(inspection->ok(), reads) << inspection->verdict().toStdString();
    w.VideoTimerTick();
    if (reads) {
        EXPECT_LE(code.code->overall, 'B') << code.code->line().toStdString();
        EXPECT_EQ(redPixels(w.videoBuffer()), 0);
        EXPECT_GT(greenPixels(w.videoBuffer()), 50);
    } else {
        EXPECT_GT(redPixels(w.videoBuffer()), 50);
    }
}

INSTANTIATE_TEST_SUITE_P(Misfires, MainWindowCodeTest,
                         ::testing::Values(std::pair<const char*, bool>{"0", true}, std::pair<const char*, bool>{"0.2", false}),
                         [](const auto& info) { return info.param.second ? std::string("Clean") : std::string("FifthMisfiring"); });

} // namespace
} // namespace lapido::test
