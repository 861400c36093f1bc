// The station's inspection of a run on the simulated machine (trace line after the run's time,
// the inspection log, the question before a failed stone leaves), the fault model of the laser's
// marks, and the verdict's texts and stored thresholds.
#include "inspectionfixture.h"

#include "platform/eventpump.h"
#include "settings/sectionnumbers.h"

#include <QFileInfo>

#include <map>
#include <string>

namespace lapido::test {
namespace {

class InspectionStationTest : public InspectionFixture {
protected:
    // The window's part: the camera's picture after the run, and the simulator's faults armed
    // with the run's plan.
    void wire(LaserMarkFaults faults, int skipGlyph = 0)
    {
        st().services().inspectionPicture = [this] {
            SimulatedInspectionCamera camera;
            camera.sensor = camera.picture;
            return simulatedInspectionPicture(Settings(), TCoord{kRefX, kRefY}, kRefY, sim().marks(), camera);
        };
        st().services().runPlanned = [this, faults, skipGlyph](const TMarkingPreview& plan) mutable {
            if (skipGlyph > 0)
                faults.skipped.push_back(glyphPulses(plan, skipGlyph));
            sim().setMarkFaults(faults);
        };
    }
    QString inspectionLog() const
    {
        QFile f(QFileInfo(m_logger->filePath()).absoluteDir().filePath(QStringLiteral("LAInspection.log")));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
};

TEST_F(InspectionStationTest, ACleanRunIsInspectedAfterItsTimeLineAndFreesTheHolderWithoutAQuestion)
{
    addText(QStringLiteral("ROMANS"), QStringLiteral("LG 7"), 0.15);
    wire({});
    inspect();
    engrave();
    const QStringList lines = trace();
    const auto time = std::find_if(lines.begin(), lines.end(), [](const QString& l) { return l.contains(QStringLiteral("Time: estimated")); });
    ASSERT_NE(time, lines.end());
    ASSERT_NE(time + 1, lines.end());
    EXPECT_TRUE((time + 1)->endsWith(QStringLiteral("Inspection: ok; read back: LG7 (matches)"))) << (time + 1)->toStdString();
    ASSERT_TRUE(st().LastInspection().has_value());
    EXPECT_EQ(st().LastInspection()->glyphs.size(), 3u);
    EXPECT_TRUE(inspectionLog().contains(QStringLiteral("label \"LG 7\"")));
    EXPECT_TRUE(inspectionLog().contains(QStringLiteral("'7': ok")));

    m_dialogs.clear();
    st().KeyF10();
    EXPECT_TRUE(m_dialogs.texts().filter(QStringLiteral("Inspection failed")).isEmpty());
    EXPECT_EQ(st().AIMState, TAIMState::aimsAligning);
}

TEST_F(InspectionStationTest, AFailedInspectionAsksBeforeTheHolderIsFreedAndNoKeepsIt)
{
    addText(QStringLiteral("ROMANS"), QStringLiteral("LG 7"), 0.15);
    wire({}, 3);
    inspect();
    engrave();
    ASSERT_TRUE(st().LastInspection().has_value());
    EXPECT_FALSE(st().LastInspection()->ok());
    const QStringList lines = trace();
    EXPECT_FALSE(lines.filter(QStringLiteral("Inspection: failed: '7': 0 % of its marks found")).isEmpty()) << lines.join('\n').toStdString();

    const QString question = QStringLiteral("Inspection failed: '7': 0 % of its marks found. Free the holder anyway?");
    m_dialogs.clear();
    m_dialogs.queueAnswer(DialogResult::No);
    st().KeyF10();
    EXPECT_EQ(m_dialogs.texts(), QStringList{question});
    EXPECT_EQ(st().AIMState, TAIMState::aimsInspecting) << "the holder was freed although the operator said No";

    // An Enter without reading takes the default: the holder stays.
    m_dialogs.clear();
    st().KeyF10();
    EXPECT_EQ(st().AIMState, TAIMState::aimsInspecting);

    m_dialogs.clear();
    m_dialogs.queueAnswer(DialogResult::Yes);
    st().KeyF10();
    EXPECT_EQ(m_dialogs.texts(), QStringList{question});
    EXPECT_EQ(st().AIMState, TAIMState::aimsAligning);
    EXPECT_TRUE(inspectionLog().contains(QStringLiteral("holder freed by the operator")));

    // Asked once per run.
    m_dialogs.clear();
    st().KeyF10();
    EXPECT_TRUE(m_dialogs.texts().isEmpty());
}

TEST_F(InspectionStationTest, AnAbortedRunIsNotInspected)
{
    addText(QStringLiteral("ROMANS"), QStringLiteral("LG 7"), 0.15);
    wire({});
    bool pressed = false;
    struct AbortPump : EventPump {
        TStation* station;
        bool* pressed;
        void pump() override
        {
            if (!*pressed && station->AIMState == TAIMState::aimsMarking) {
                *pressed = true;
                station->KeyEsc();
            }
        }
    } pump;
    pump.station = &st();
    pump.pressed = &pressed;
    EventPump* previous = setEventPump(&pump);
    inspect();
    engrave();
    setEventPump(previous);
    ASSERT_TRUE(pressed);
    EXPECT_FALSE(st().LastInspection().has_value());
    EXPECT_TRUE(trace().filter(QStringLiteral("Inspection:")).isEmpty());
}

TEST(LaserMarkFaultModelTest, SkipsMisfiresAndDriftsAsTold)
{
    std::vector<LaserMark> planned(2000);
    for (size_t i = 0; i < planned.size(); ++i)
        planned[i].xMm = double(i) * 0.001;

    LaserMarkFaults skip;
    skip.skipped = {{100, 50}};
    const auto skipped = LaserMarkFaultModel(skip).apply(planned);
    ASSERT_EQ(skipped.size(), planned.size() - 50);
    EXPECT_EQ(skipped[99].xMm, planned[99].xMm);
    EXPECT_EQ(skipped[100].xMm, planned[150].xMm);

    LaserMarkFaults misfire;
    misfire.misfireRate = 0.2;
    const auto fired = LaserMarkFaultModel(misfire).apply(planned);
    EXPECT_NEAR(double(planned.size() - fired.size()) / double(planned.size()), 0.2, 0.03);
    EXPECT_EQ(fired, LaserMarkFaultModel(misfire).apply(planned)) << "the same seed misfires on the same pulses";

    LaserMarkFaults drift;
    drift.driftUm = 10;
    drift.driftOverPulses = planned.size();
    const auto drifted = LaserMarkFaultModel(drift).apply(planned);
    EXPECT_DOUBLE_EQ(drifted.front().xMm, planned.front().xMm);
    EXPECT_NEAR(drifted.back().xMm - planned.back().xMm, 0.010, 1e-12);
    EXPECT_NEAR(drifted[1000].xMm - planned[1000].xMm, 0.010 * 1000 / 1999, 1e-12);
}

TEST_F(InspectionStationTest, StrayMarksAndAMisplacedLabelAreNamed)
{
    addText(QStringLiteral("ROMANS"), QStringLiteral("H1"), 0.2);
    InspectedShot shot = shoot();
    ASSERT_TRUE(shot.result.ok()) << shot.result.verdict().toStdString();

    // Three marks 30 µm above the 'H', where nothing was planned.
    std::vector<LaserMark> marks = shot.marks;
    const TCoord h = shot.plan.glyphs.front().marksMm.front();
    for (int i = 0; i < 3; ++i)
        marks.push_back(LaserMark{h.X + 0.02 * i, h.Y + 0.03, 12.5, 0, LaserMarkKind::Pulse});
    SimulatedInspectionCamera camera;
    camera.sensor = camera.picture;
    const QImage picture = simulatedInspectionPicture(Settings(), TCoord{kRefX, kRefY}, kRefY, marks, camera);
    const InspectionView view = InspectionView::fromSettings(Settings(), picture.size(), TCoord{kRefX, kRefY});
    const InspectionResult stray = m_inspector.inspect(shot.plan, picture, view, InspectionLimits::fromStore(Settings()));
    EXPECT_FALSE(stray.ok());
    EXPECT_TRUE(stray.verdict().contains(QStringLiteral("where none")) || stray.verdict().contains(QStringLiteral("beside the label")))
        << stray.verdict().toStdString();
    // The stray marks are not read as characters.
    EXPECT_TRUE(stray.readBack.matches()) << stray.readBack.line().toStdString();

    // The whole label 14 µm to the right: the camera's view of it taken 14 µm to the left.
    InspectionView shifted = view;
    shifted.tableMm.X += 0.014;
    const InspectionResult moved = m_inspector.inspect(shot.plan, shot.picture, shifted, InspectionLimits::fromStore(Settings()));
    EXPECT_TRUE(moved.reasons.contains(QStringLiteral("label 14 µm right of its place"))) << moved.verdict().toStdString();
}

TEST(InspectionTextsTest, ReadBackAndOffsetsReadAsTheOperatorExpects)
{
    ReadBack same{true, {}, QStringLiteral("LG 1407"), QStringLiteral("LG 1407"), 0};
    EXPECT_EQ(same.line(), QStringLiteral("read back: LG 1407 (matches)"));
    ReadBack other{true, {}, QStringLiteral("LG 14O7"), QStringLiteral("LG 1407"), 6};
    EXPECT_EQ(other.line(), QStringLiteral("read back: LG 14O7 (differs at 6)"));
    EXPECT_EQ(offsetWords(TCoord{14.2, 0.3}), QStringLiteral("14 µm right of"));
    EXPECT_EQ(offsetWords(TCoord{-3, 6}), QStringLiteral("3 µm left of and 6 µm above"));
}

TEST_F(InspectionStationTest, ThresholdsComeFromTheStoreAndNonsenseFallsBack)
{
    store().WriteString(QStringLiteral("Inspection"), QStringLiteral("MaxOffset"), QStringLiteral("2,5"));
    store().WriteString(QStringLiteral("Inspection"), QStringLiteral("MinCoverage"), QStringLiteral("250"));
    store().WriteString(QStringLiteral("Inspection"), QStringLiteral("MarkContrast"), QStringLiteral("dark"));
    store().WriteString(QStringLiteral("Inspection"), QStringLiteral("FailOnReadBack"), QStringLiteral("1"));
    TSettings s;
    s.SpotDiameter = 8;
    const InspectionLimits l = InspectionLimits::fromStore(s);
    EXPECT_DOUBLE_EQ(l.maxOffsetUm, 2.5);
    EXPECT_DOUBLE_EQ(l.minCoveragePercent, InspectionLimits{}.minCoveragePercent);
    EXPECT_DOUBLE_EQ(l.markContrastPercent, InspectionLimits{}.markContrastPercent);
    EXPECT_TRUE(l.failOnReadBack);
    EXPECT_DOUBLE_EQ(l.spotDiameterUm, 8);
}

// The settings window's Inspection page takes exactly what the inspection reads: each bound of a
// box is read as stored, a value just beyond it falls back to the default.
TEST_F(InspectionStationTest, TheSettingsPageAndTheInspectionTakeTheSameRanges)
{
    const std::map<std::string, double InspectionLimits::*> members{
        {"MinCoverage", &InspectionLimits::minCoveragePercent}, {"MaxOffset", &InspectionLimits::maxOffsetUm},
        {"MaxSpread", &InspectionLimits::maxSpreadUm},          {"MaxMarkWidth", &InspectionLimits::maxMarkWidthPercent},
        {"MarkContrast", &InspectionLimits::markContrastPercent}, {"MinMarkContrast", &InspectionLimits::minMarkContrast},
        {"SearchDistance", &InspectionLimits::searchUm},
    };
    const InspectionLimits defaults;
    ASSERT_EQ(inspectionSectionFields().numbers.size(), members.size());
    for (const SectionNumber& f : inspectionSectionFields().numbers) {
        SCOPED_TRACE(f.key.name);
        ASSERT_TRUE(members.count(f.key.name));
        const auto member = members.at(f.key.name);
        EXPECT_EQ(checkSectionNumber(f, QString::fromLatin1(f.key.defaultValue)).value, defaults.*member);
        for (const double v : {f.low, f.high}) {
            keys::write(f.key, QString::number(v, 'f', 3));
            EXPECT_TRUE(checkSectionNumber(f, QString::number(v, 'f', 3)).value.has_value());
            EXPECT_DOUBLE_EQ(InspectionLimits::fromStore(Settings()).*member, v);
        }
        for (const double v : {f.low - 0.01, f.high + 0.01}) {
            keys::write(f.key, QString::number(v, 'f', 3));
            EXPECT_FALSE(checkSectionNumber(f, QString::number(v, 'f', 3)).value.has_value());
            EXPECT_DOUBLE_EQ(InspectionLimits::fromStore(Settings()).*member, defaults.*member);
        }
        keys::write(f.key, QString::fromLatin1(f.key.defaultValue));
    }
}

} // namespace
} // namespace lapido::test
