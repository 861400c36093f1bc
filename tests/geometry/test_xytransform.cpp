// Affine transform chain: order of steps, chaining, ownership, pixel rounding.
#include "geometry/xytransform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace lapido;

namespace {

constexpr double kPi = std::numbers::pi;

void expectNear(const TCoord& a, const TCoord& b, double tol = 1e-12)
{
    EXPECT_NEAR(a.X, b.X, tol);
    EXPECT_NEAR(a.Y, b.Y, tol);
}

// Counts destructions so that ownership through the chain is visible.
class CountedTransform : public TXYTransform {
public:
    explicit CountedTransform(int& destroyed) : m_destroyed(destroyed) {}
    ~CountedTransform() override { ++m_destroyed; }

private:
    int& m_destroyed;
};

} // namespace

TEST(TXYTransformTest, FreshAndClearedTransformsAreTheIdentity)
{
    TXYTransform t;
    expectNear(t.TransFormCoord({3.25, -7.5}), {3.25, -7.5}, 0);
    t.SetRotation(1);
    t.SetScale(2, 3);
    t.SetInTranslation(4, 5);
    t.SetOutTranslation(6, 7);
    t.Xin = 11;
    t.Clear();
    expectNear(t.TransFormCoord({3.25, -7.5}), {3.25, -7.5}, 0);
    expectNear(t.TransFormCoordBack({3.25, -7.5}), {3.25, -7.5}, 0);
    EXPECT_EQ(t.Xin, 11); // registers survive Clear
}

TEST(TXYTransformTest, StepsApplyInTheirOrder)
{
    TXYTransform t;
    t.SetRotation(kPi / 2);
    expectNear(t.TransFormCoord({1, 0}), {0, 1});
    expectNear(t.TransFormCoordBack({0, 1}), {1, 0});

    t.Clear();
    t.SetInTranslation(1, 0);
    t.SetScale(2, 2);
    expectNear(t.TransFormCoord({0, 0}), {2, 0}); // translation before scale
    t.Clear();
    t.SetOutTranslation(1, 0);
    t.SetScale(2, 2);
    expectNear(t.TransFormCoord({0, 0}), {1, 0}); // translation after scale

    TXYTransform twice;
    twice.AddRotation(kPi / 4);
    twice.AddRotation(kPi / 4);
    TXYTransform once;
    once.SetRotation(kPi / 2);
    for (double v : {once.A11 - twice.A11, once.A12 - twice.A12, once.A21 - twice.A21,
                     once.A22 - twice.A22, once.B12 - twice.B12, once.B21 - twice.B21})
        EXPECT_NEAR(v, 0, 1e-15);

    // A flipped Y scale turns a counter-clockwise input into a clockwise screen picture.
    t.Clear();
    t.SetScale(10, -10);
    expectNear(t.TransFormCoord({0, 1}), {0, -10});
}

TEST(TXYTransformTest, ChainRunsForwardFirstToLastAndBackLastToFirst)
{
    TXYTransform t1, t2, t3;
    t1.SetInTranslation(1, 2);
    t1.SetRotation(0.3);
    t2.SetScale(2, -3);
    t2.SetOutTranslation(5, 0);
    t3.SetRotation(-1.1);
    t3.SetInTranslation(-4, 1);
    t1.AddTransform(t2);
    t1.AddTransform(t3);
    EXPECT_EQ(t1.NextTransForm, &t2);
    EXPECT_EQ(t2.NextTransForm, &t3);

    const TCoord p{0.7, -2.25};
    TXYTransform a, b, c;
    a.CloneFrom(t1);
    b.CloneFrom(t2);
    c.CloneFrom(t3);
    const TCoord stepwise = c.TransFormCoord(b.TransFormCoord(a.TransFormCoord(p)));
    expectNear(t1.TransFormCoord(p), stepwise);
    expectNear(t1.TransFormCoordBack(stepwise), p, 1e-12);

    // The register interface gives the same and leaves each stage's values in its registers.
    t1.Xin = p.X;
    t1.Yin = p.Y;
    t1.TransFormXY();
    expectNear({t1.Xout, t1.Yout}, stepwise);
    expectNear({t2.Xin, t2.Yin}, a.TransFormCoord(p));
    t1.Xin = t1.Yin = 0;
    t1.TransFormXYBack();
    expectNear({t1.Xin, t1.Yin}, p, 1e-12);
}

TEST(TXYTransformTest, OnlyOwnedLinksAreDestroyed)
{
    int destroyed = 0;
    CountedTransform shared(destroyed);
    {
        TXYTransform t1;
        t1.AddTransform(shared);
        t1.AddTransform(std::make_unique<CountedTransform>(destroyed));
        EXPECT_TRUE(shared.NextTransFormOwned);
        EXPECT_FALSE(t1.NextTransFormOwned);
    }
    EXPECT_EQ(destroyed, 0); // the owned one hangs behind shared, which t1 never owned
    shared.Clear();
    EXPECT_EQ(destroyed, 1);
    {
        TXYTransform owner;
        owner.AddTransform(std::make_unique<CountedTransform>(destroyed));
    }
    EXPECT_EQ(destroyed, 2);

    TXYTransform t1, t2;
    t1.AddTransform(t2);
    t1.Clear();
    EXPECT_EQ(t1.NextTransForm, nullptr);
    t1.AddTransform(std::make_unique<CountedTransform>(destroyed));
    t1.Clear();
    EXPECT_EQ(destroyed, 3);
    EXPECT_EQ(t1.NextTransForm, nullptr);
}

TEST(TXYTransformTest, CloneFromCopiesGeometryButNotTheChain)
{
    TXYTransform source, target, next;
    source.SetRotation(0.5);
    source.SetScale(2, 3);
    source.SetInTranslation(1, 1);
    source.SetOutTranslation(-2, 4);
    target.AddTransform(next);
    target.Xin = 9;
    target.CloneFrom(source);
    EXPECT_EQ(target.NextTransForm, &next);
    EXPECT_EQ(target.Xin, 9);
    EXPECT_EQ(target.S2, 3);
    EXPECT_EQ(target.B12, source.B12);
    expectNear(target.TransFormCoord({1, 2}), source.TransFormCoord({1, 2}));
}

TEST(TXYTFW2STest, PixelsRoundHalfToEven)
{
    struct Case {
        double x;
        int expected;
    };
    const Case cases[] = {{10.5, 10}, {11.5, 12}, {-0.5, 0}, {-1.5, -2}, {2.4999, 2}, {1e300, 1 << 30}};
    TXYTFW2S t;
    for (const auto& c : cases) {
        EXPECT_EQ(t.TransFormCoord({c.x, 0}).x(), c.expected) << c.x;
        t.TXYTransform::Xin = c.x;
        t.TXYTransform::Yin = 0;
        t.TransFormXY();
        EXPECT_EQ(t.Xout, c.expected) << c.x;
    }
    EXPECT_EQ(CoordToPoint({std::nan(""), 0}).x(), 0);
}

TEST(TXYTFW2STest, IntegerOutTranslationAndBack)
{
    TXYTFW2S t;
    t.SetScale(36, -36);
    t.SetOutTranslation(200, 200);
    t.AddOutTranslation(1, -1);
    EXPECT_EQ(t.Oout1, 201);
    EXPECT_EQ(t.TXYTransform::Oout2, 199.0);
    EXPECT_EQ(t.TransFormCoord({1, 1}), TPoint(237, 163));
    expectNear(t.TransFormCoordBack(TPoint(237, 163)), {1, 1});
    t.Xout = 201 + 72;
    t.Yout = 199;
    t.TransFormXYBack();
    expectNear({t.Xin, t.Yin}, {2, 0});
}

TEST(CoordFunctionsTest, BuildConvertAndMeasure)
{
    EXPECT_EQ(Coord(1.5, -2), (TCoord{1.5, -2}));
    EXPECT_EQ(IntCoord(3, -4), (TCoord{3, -4}));
    EXPECT_EQ(PointToCoord(TPoint(7, 8)), (TCoord{7, 8}));
    EXPECT_EQ(CoordToPoint({2.5, 3.5}), TPoint(2, 4));
    EXPECT_DOUBLE_EQ(CoordDistance({0, 0}, {3, 4}), 5);
}
