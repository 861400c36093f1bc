// Motion test rules: the profile split, the distance field and the test move on the simulator.
#include "machine/motiontest.h"

#include "test_laserfixture.h"

#include <QString>

#include <algorithm>
#include <cmath>

namespace lapido {
namespace {

struct ProfileCase {
    const char* name;
    double v, a, d, L;
    double sa, sc, sd;
    bool notReached;
};

class MotionProfileTest : public ::testing::TestWithParam<ProfileCase> {};

TEST_P(MotionProfileTest, SplitsTheDistance)
{
    const ProfileCase& c = GetParam();
    const auto p = motionProfile(c.v, c.a, c.d, c.L);
    ASSERT_TRUE(p.has_value());
    EXPECT_NEAR(p->accelDistance, c.sa, 1e-12);
    EXPECT_NEAR(p->constDistance, c.sc, 1e-12);
    EXPECT_NEAR(p->decelDistance, c.sd, 1e-12);
    EXPECT_EQ(p->maxSpeedNotReached, c.notReached);
    EXPECT_NEAR(p->accelDistance + p->constDistance + p->decelDistance, c.L, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(Cases, MotionProfileTest,
    ::testing::Values(
        // exactly fits: no constant part, but the speed is reached
        ProfileCase{"FitsExactly", 10, 100, 100, 1, 0.5, 0, 0.5, false},
        ProfileCase{"HalfDistance", 10, 100, 100, 0.5, 0.25, 0, 0.25, true},
        ProfileCase{"LongMove", 10, 100, 100, 3, 0.5, 2, 0.5, false},
        // both parts shrink by the ratio taken before either is scaled
        ProfileCase{"UnequalRamps", 10, 100, 50, 1, 1.0 / 3, 0, 2.0 / 3, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MotionProfile, NothingToShowForValuesThatAreNotPositive)
{
    EXPECT_FALSE(motionProfile(10, 0, 100, 1));
    EXPECT_FALSE(motionProfile(10, 100, -1, 1));
    EXPECT_FALSE(motionProfile(0, 100, 100, 1));
    EXPECT_FALSE(motionProfile(10, 100, 100, 0));
    EXPECT_FALSE(motionProfile(std::nan(""), 100, 100, 1));
}

TEST(TestDistance, AcceptsPointDecimalsFromOneMicrometre)
{
    const struct {
        const char* text;
        std::optional<double> value;
    } cases[] = {
        {"1.0", 1.0}, {"  2.5 ", 2.5}, {"0.001", 0.001}, {"0.0005", std::nullopt}, {"0", std::nullopt},
        {"-1", std::nullopt}, {"1,5", std::nullopt}, {"", std::nullopt}, {"abc", std::nullopt},
        {"nan", std::nullopt}, {"inf", std::nullopt},
        // A point number only: group separators and exponents are no distance.
        {"1,000", std::nullopt}, {"12,345.5", std::nullopt}, {"1e3", std::nullopt}, {"+1", std::nullopt},
        {"1.", 1.0}, {".5", 0.5},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseTestDistance(QString::fromUtf8(c.text)), c.value) << c.text;
}

class TestMoveTest : public test::LaserFixture {
protected:
    TLaser& ready()
    {
        TLaser& l = applied();
        l.setStartSwitches({.noHoming = true});
        l.Initialize();
        m_sent.clear();
        return l;
    }
    double x()
    {
        double X = 0, Y = 0, Z = 0, W = 0;
        m_laser->GetPosition(X, Y, Z, W);
        return X;
    }
};

TEST_F(TestMoveTest, ForwardMoveUsesTheTestValuesAndPutsTheMachinesBack)
{
    TLaser& l = ready();
    const AxisMotionValues before = machineAxisValues(l, TestAxis::X);
    const double start = x();
    const AxisMotionValues test{1000, 4, 20, 40};

    EXPECT_TRUE(RunTestMove(l, TestAxis::X, TestMove::Forward, 1.5, test, [] { return true; }));

    EXPECT_NEAR(x() - start, 1.5, 1e-3);
    EXPECT_EQ(machineAxisValues(l, TestAxis::X), before);
    // test speed in counts first, the move in test counts, then the machine's own values
    const auto testSpeed = indexOf("SP 4000,10000,10000");
    const auto move = indexOf("IP 1500");
    ASSERT_LT(testSpeed, m_sent.size());
    ASSERT_LT(move, m_sent.size());
    EXPECT_LT(testSpeed, move);
    const auto lastSpeed = std::find_if(m_sent.rbegin(), m_sent.rend(), [](const std::string& c) { return c.rfind("SP ", 0) == 0; });
    ASSERT_NE(lastSpeed, m_sent.rend());
    EXPECT_EQ(*lastSpeed, "SP 10000,10000,10000");
}

TEST_F(TestMoveTest, LoopRunsPairsUntilStopAndEndsWhereItStarted)
{
    TLaser& l = ready();
    const double start = x();
    int pairs = 0;
    EXPECT_TRUE(RunTestMove(l, TestAxis::Y, TestMove::Loop, 2, settingsAxisValues(m_settings, TestAxis::Y),
                            [&] { return ++pairs == 3; }));
    EXPECT_EQ(pairs, 3);
    EXPECT_EQ(count("IP ,2000"), 3);
    EXPECT_EQ(count("IP ,-2000"), 3);
    EXPECT_NEAR(x(), start, 1e-3);
}

TEST_F(TestMoveTest, RefusedTestValuesMoveNothing)
{
    TLaser& l = ready();
    const AxisMotionValues before = machineAxisValues(l, TestAxis::Z);
    EXPECT_FALSE(RunTestMove(l, TestAxis::Z, TestMove::Back, 1, {1000, 0, 5, 5}, [] { return true; }));
    EXPECT_EQ(count("IP"), 0);
    EXPECT_EQ(machineAxisValues(l, TestAxis::Z), before);
}

// A relative move that would leave the work area is not sent, and the refusal says why.
TEST_F(TestMoveTest, AMoveOutOfTheWorkAreaIsNotSent)
{
    TLaser& l = ready();
    const double start = x();
    QString refusal;
    EXPECT_FALSE(RunTestMove(l, TestAxis::X, TestMove::Forward, 1000, settingsAxisValues(m_settings, TestAxis::X),
                             [] { return true; }, &refusal));
    EXPECT_EQ(count("IP"), 0);
    EXPECT_NEAR(x(), start, 1e-3);
    EXPECT_TRUE(refusal.contains(QLatin1String("work area"))) << refusal.toStdString();

    // Back past the low end: refused the same way.
    refusal.clear();
    EXPECT_FALSE(RunTestMove(l, TestAxis::X, TestMove::Back, start - l.X_MinPos + 1,
                             settingsAxisValues(m_settings, TestAxis::X), [] { return true; }, &refusal));
    EXPECT_EQ(count("IP"), 0);
    EXPECT_FALSE(refusal.isEmpty());
}

TEST_F(TestMoveTest, TheAAxisHasNoMoveButALoopStillEndsOnStop)
{
    TLaser& l = ready();
    int pairs = 0;
    EXPECT_TRUE(RunTestMove(l, TestAxis::A, TestMove::Loop, 1, settingsAxisValues(m_settings, TestAxis::A),
                            [&] { return ++pairs == 2; }));
    EXPECT_EQ(count("IP"), 0);
}

} // namespace
} // namespace lapido
