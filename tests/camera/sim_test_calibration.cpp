// Camera self-calibration against the simulated camera's known optics, on the simulated machine.
#include "camera/calibration.h"
#include "camera/simcamera.h"
#include "camera/ueye.h"
#include "machine/applysettings.h"
#include "machine/laser.h"
#include "platform/operatordialogs.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "sim/dmcsimulator.h"

#include "testsupport.h"

#include <cmath>
#include <memory>
#include <optional>

namespace lapido {
namespace {

struct OpticsCase {
    const char* name;
    SimulatedOptics optics;
};

void PrintTo(const OpticsCase& c, std::ostream* os)
{
    *os << c.name;
}

SimulatedOptics optics(double scale, double aspect, double rotation, double cx, double cy, double noise)
{
    SimulatedOptics o;
    o.scalePxPerMm = scale;
    o.aspectPercent = aspect;
    o.rotationDeg = rotation;
    o.crossHairPx = {cx, cy};
    o.noiseGreyLevels = noise;
    return o;
}

class CameraCalibrationTest : public test::StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        m_sim = std::make_unique<ScopedDmcSimulator>(&m_clock);
        keys::write(keys::GalilIP, QStringLiteral("sim"));
        Settings() = TSettings{};
        // The simulated table counts as the settings do, so that the camera films it in mm.
        DmcWiring wiring = (*m_sim)->wiring();
        wiring.xyCountsPerMm = Settings().XY_CountsPerMM;
        (*m_sim)->setWiring(wiring);
        m_laser = std::make_unique<TLaser>();
        ASSERT_EQ(ApplyMotionSettings(Settings(), *m_laser), std::nullopt);
        m_laser->ServoHere();
        m_laser->MoveTo(m_startMm.X, m_startMm.Y);
        ASSERT_TRUE(m_laser->WaitOnMotionComplete());
    }
    void TearDown() override
    {
        m_laser.reset();
        m_sim.reset();
        Settings() = TSettings{};
        StationFixture::TearDown();
    }
    // The camera with the given optics over a test piece whose mark lies under the laser.
    CalibrationOutcome calibrate(const SimulatedOptics& o, bool withMark = true)
    {
        SimulatedCameraOptions camera;
        camera.optics = o;
        if (withMark)
            camera.testMark = SimulatedTestMark{m_startMm, 0.02};
        ScopedSimulatedCamera scoped(camera);
        TuEye cam(UEyeLibrary::simulated());
        EXPECT_TRUE(cam.IsPresent());
        return CalibrateCamera(*m_laser, cam, Settings(), m_clock);
    }
    TCoord tablePosition()
    {
        double x = 0, y = 0, z = 0, w = 0;
        m_laser->GetPosition(x, y, z, w);
        return {x, y};
    }

    TCoord m_startMm{15, 12.5};
    std::unique_ptr<ScopedDmcSimulator> m_sim;
    std::unique_ptr<TLaser> m_laser;
};

class CameraCalibrationOpticsTest : public CameraCalibrationTest, public ::testing::WithParamInterface<OpticsCase> {};

TEST_P(CameraCalibrationOpticsTest, RecoversTheTrueOptics)
{
    const SimulatedOptics truth = GetParam().optics;
    const CalibrationOutcome outcome = calibrate(truth);
    ASSERT_TRUE(outcome.calibration) << outcome.error.toStdString();
    const CameraCalibration& c = *outcome.calibration;
    EXPECT_NEAR(c.scalePxPerMm, truth.scalePxPerMm, 0.005 * truth.scalePxPerMm);
    EXPECT_NEAR(c.aspectPercent, truth.aspectPercent, 0.005 * truth.aspectPercent);
    EXPECT_NEAR(c.rotationDeg, truth.rotationDeg, 0.1);
    ASSERT_TRUE(c.crossHairPx);
    EXPECT_NEAR(c.crossHairPx->x(), truth.crossHairPx.x(), 1.0);
    EXPECT_NEAR(c.crossHairPx->y(), truth.crossHairPx.y(), 1.0);
    EXPECT_EQ(c.rotationWarning(), std::abs(truth.rotationDeg) > 0.5);
    EXPECT_LT(c.residualUm, 1.0);
    EXPECT_GT(c.machineSeconds, 0.0);
    EXPECT_LT(c.machineSeconds, 10.0);
    // The table is back where it stood and the laser never fired.
    EXPECT_NEAR(tablePosition().X, m_startMm.X, 1e-4);
    EXPECT_NEAR(tablePosition().Y, m_startMm.Y, 1e-4);
    EXPECT_EQ((*m_sim)->markCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Optics, CameraCalibrationOpticsTest,
    ::testing::Values(OpticsCase{"AsStoredNoNoise", optics(300, 100, 0, 384, 288, 0)},
                      OpticsCase{"CoarseTallTurnedLeft", optics(180, 112, 1.3, 402.5, 270.2, 4)},
                      OpticsCase{"FineFlatTurnedRight", optics(520, 91, -2.0, 350.7, 311.4, 4)},
                      OpticsCase{"SlightTurnNoisy", optics(250, 100, 0.4, 384, 288, 8)},
                      OpticsCase{"TwoDegreesOffCentre", optics(330, 104, 2.0, 430, 250, 5)}),
    [](const ::testing::TestParamInfo<OpticsCase>& info) { return std::string(info.param.name); });

TEST_F(CameraCalibrationTest, WithoutATestMarkTheCrossHairIsLeftAlone)
{
    const CalibrationOutcome outcome = calibrate(optics(300, 100, 0.2, 384, 288, 3), false);
    ASSERT_TRUE(outcome.calibration) << outcome.error.toStdString();
    EXPECT_FALSE(outcome.calibration->crossHairPx);
    EXPECT_NEAR(outcome.calibration->scalePxPerMm, 300, 1.5);
    Settings().CrossHairX = 123;
    StoreCameraCalibration(*outcome.calibration, Settings(), store());
    EXPECT_EQ(Settings().CrossHairX, 123);
    EXPECT_FALSE(store().value(QStringLiteral("Video"), QStringLiteral("CrossHairX")));
    EXPECT_EQ(store().value(QStringLiteral("Video"), QStringLiteral("VideoScale")), QStringLiteral("300"));
}

TEST_F(CameraCalibrationTest, StepsBeyondTheTravelLimitsAreRefusedAndTheTableReturns)
{
    Settings().X_MaxPos = m_startMm.X + 0.1;
    const CalibrationOutcome outcome = calibrate(optics(300, 100, 0, 384, 288, 0));
    EXPECT_FALSE(outcome.calibration);
    EXPECT_TRUE(outcome.error.contains(QStringLiteral("travel limits"))) << outcome.error.toStdString();
    EXPECT_NEAR(tablePosition().X, m_startMm.X, 1e-4);
    EXPECT_NEAR(tablePosition().Y, m_startMm.Y, 1e-4);
}

// The settings window's run: stored only when the operator says Yes; Abort in the wait window
// stops before the next step with the table back at its start.
TEST_F(CameraCalibrationTest, ResultIsStoredOnlyWhenTheOperatorAgrees)
{
    SimulatedCameraOptions camera;
    camera.optics = optics(280, 104, 0.8, 400, 300, 3);
    camera.testMark = SimulatedTestMark{m_startMm, 0.02};
    ScopedSimulatedCamera scoped(camera);
    TuEye cam(UEyeLibrary::simulated());
    const auto storedScale = [&] { return store().value(QStringLiteral("Video"), QStringLiteral("VideoScale")); };

    EXPECT_FALSE(CalibrateCameraAndOfferToStore(*m_laser, cam, Settings(), store(), m_clock, m_dialogs));
    EXPECT_FALSE(storedScale());
    EXPECT_EQ(Settings().VideoScale, 300);
    ASSERT_FALSE(m_dialogs.transcript().empty());
    const QString question = m_dialogs.transcript().back().text;
    EXPECT_TRUE(question.contains(QStringLiteral("VideoScale 280"))) << question.toStdString();
    EXPECT_TRUE(question.contains(QStringLiteral("Warning: the camera is turned by 0.80 degrees")));

    m_dialogs.queueAnswer(DialogResult::Yes);
    EXPECT_TRUE(CalibrateCameraAndOfferToStore(*m_laser, cam, Settings(), store(), m_clock, m_dialogs));
    EXPECT_EQ(storedScale(), QStringLiteral("280"));
    EXPECT_EQ(store().value(QStringLiteral("Video"), QStringLiteral("VideoAspect")), QStringLiteral("104"));
    EXPECT_EQ(store().value(QStringLiteral("Video"), QStringLiteral("CrossHairX")), QStringLiteral("400"));
    EXPECT_EQ(store().value(QStringLiteral("Video"), QStringLiteral("CrossHairY")), QStringLiteral("300"));
    EXPECT_EQ(Settings().CrossHairX, 400);

    m_dialogs.clear();
    m_dialogs.abortNextWaitAfter(3);
    EXPECT_FALSE(CalibrateCameraAndOfferToStore(*m_laser, cam, Settings(), store(), m_clock, m_dialogs));
    EXPECT_EQ(m_dialogs.texts().back(), QStringLiteral("Calibration cancelled."));
    EXPECT_NEAR(tablePosition().X, m_startMm.X, 1e-4);
    EXPECT_NEAR(tablePosition().Y, m_startMm.Y, 1e-4);
}

// A result the Video page could not show is not stored at all, not even its valid parts.
TEST_F(CameraCalibrationTest, ValuesBeyondTheVideoPageAreNotStored)
{
    struct Case {
        double scale, aspect;
        std::optional<QPointF> crossHair;
        bool storable;
    };
    const Case cases[] = {
        {300, 100, QPointF(768.4, 576.4), true}, {300, 100, QPointF(768.6, 300), false},
        {300, 100, QPointF(-0.6, 300), false},   {300, 100, QPointF(384, 576.6), false},
        {300, 49.4, std::nullopt, false},        {300, 200.4, std::nullopt, true},
        {0.4, 100, std::nullopt, false},         {100000.4, 100, std::nullopt, true},
    };
    for (const Case& k : cases) {
        CameraCalibration c;
        c.scalePxPerMm = k.scale;
        c.aspectPercent = k.aspect;
        c.crossHairPx = k.crossHair;
        SCOPED_TRACE(testing::Message() << k.scale << " " << k.aspect);
        EXPECT_EQ(!calibrationStoreError(c), k.storable);
        EXPECT_EQ(StoreCameraCalibration(c, Settings(), store()), k.storable);
        EXPECT_EQ(store().value(QStringLiteral("Video"), QStringLiteral("VideoScale")).has_value(), k.storable);
        store().removeValue(QStringLiteral("Video"), QStringLiteral("VideoScale"));
    }
}

TEST(CameraCalibrationFit, MovesAlongOneAxisOnlyGiveNoFit)
{
    const std::vector<CalibrationSample> samples{{{0.1, 0}, {-30, 0}}, {{0.2, 0}, {-60, 0}}};
    EXPECT_FALSE(fitCameraCalibration(samples));
}

} // namespace
} // namespace lapido
