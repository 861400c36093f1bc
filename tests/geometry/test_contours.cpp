// Contour containers and quadratic B-spline flattening.
#include "geometry/contours.h"

#include "geometrytestutil.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace lapido;
using lapido::test::ScopedContourResolution;

namespace {

TVertexList nodes(std::initializer_list<TVertex> list)
{
    TVertexList l;
    for (const auto& v : list)
        l.Add(v);
    return l;
}

// Largest turn between consecutive segments of a polyline, in radians.
double largestTurn(const TContour& c)
{
    double worst = 0;
    for (int i = 2; i < c.Count(); ++i) {
        const double ax = c[i - 1].X - c[i - 2].X, ay = c[i - 1].Y - c[i - 2].Y;
        const double bx = c[i].X - c[i - 1].X, by = c[i].Y - c[i - 1].Y;
        worst = std::max(worst, std::abs(std::atan2(ax * by - ay * bx, ax * bx + ay * by)));
    }
    return worst;
}

struct FlattenCase {
    double degrees;
    int points;
    TVertex first;
};

class FlattenPieceTest : public ::testing::TestWithParam<FlattenCase> {};

} // namespace

TEST_P(FlattenPieceTest, CountsAndFirstPointFollowTheTolerance)
{
    const auto& c = GetParam();
    ScopedContourResolution res(c.degrees);
    TContour contour;
    contour.AddQubicBSpline(nodes({{0, 0}, {1, 1}, {2, 0}}));
    ASSERT_EQ(contour.Count(), c.points);
    if (c.first.X != 0) {
        EXPECT_EQ(contour[0], c.first);
    }
    EXPECT_EQ(contour[contour.Count() - 1], (TVertex{2, 0}));
    // Each chord pair turns by at most the tolerance, except across a piece's own ends.
    EXPECT_LE(largestTurn(contour), c.degrees * std::numbers::pi / 180 * 1.01);
}

INSTANTIATE_TEST_SUITE_P(Tolerances, FlattenPieceTest,
                         ::testing::Values(FlattenCase{6, 24, {0.125, 0.1171875}},
                                           FlattenCase{1, 120, {0.03125, 0.03076171875}},
                                           FlattenCase{10, 14, {0, 0}}));

TEST(TContourTest, ShortAndDegenerateNodeLists)
{
    ScopedContourResolution res(6);
    TContour one;
    one.AddQubicBSpline(nodes({{1, 2}}));
    EXPECT_EQ(one.vertices(), (std::vector<TVertex>{{1, 2}}));
    TContour two;
    two.AddQubicBSpline(nodes({{1, 2}, {3, 4, true}}));
    EXPECT_EQ(two.vertices(), (std::vector<TVertex>{{1, 2}, {3, 4}}));

    TContour straight;
    straight.AddQubicBSpline(nodes({{0, 0}, {1, 1}, {3, 3}}));
    EXPECT_EQ(straight.vertices(), (std::vector<TVertex>{{3, 3}}));
    TContour degenerate;
    degenerate.AddQubicBSpline(nodes({{0, 0}, {0, 0}, {5, 1}}));
    EXPECT_EQ(degenerate.vertices(), (std::vector<TVertex>{{5, 1}}));

    // Non-finite nodes end in a bounded number of points instead of endless splitting.
    TContour bad;
    bad.AddQubicBSpline(nodes({{0, 0}, {NAN, 1}, {2, 0}}));
    EXPECT_GE(bad.Count(), 1);
}

TEST(TContourTest, FourNodesJoinAtTheImpliedMidpointOnce)
{
    ScopedContourResolution res(6);
    TContour c;
    c.AddQubicBSpline(nodes({{0, 0}, {1, 2}, {3, 2}, {4, 0}}));
    int joins = 0;
    for (const auto& v : c)
        joins += v == TVertex{2, 2};
    EXPECT_EQ(joins, 1);
    EXPECT_EQ(c[c.Count() - 1], (TVertex{4, 0}));
    for (const auto& v : c)
        EXPECT_FALSE(v.Processed);
}

TEST(TContourTest, CapacityGrowsInBlocksAndIndexErrorsThrow)
{
    TContour c;
    EXPECT_EQ(c.capacity(), 256);
    for (int i = 0; i < 256; ++i)
        c.Add(i, 0);
    EXPECT_EQ(c.capacity(), 256);
    EXPECT_EQ(c.Add(TVertex{1, 1}), 256);
    EXPECT_EQ(c.capacity(), 512);

    EXPECT_THROW(c.GetVertex(257), std::out_of_range);
    EXPECT_THROW(c.Delete(-1), std::out_of_range);
    c.Delete(0);
    EXPECT_EQ(c.GetVertex(0).X, 1);
    c.Clear();
    EXPECT_TRUE(c.isEmpty());
}

// Growing by one block at a time copies a long contour thousands of times (a million vertices
// took seconds); the room must grow in proportion once it is large.
TEST(TContourTest, AMillionVerticesReallocateOnlyAFewTimes)
{
    TContour c;
    int growths = 0;
    int room = c.capacity();
    for (int i = 0; i < 1000000; ++i) {
        c.Add(i, 0);
        if (c.capacity() != room) {
            ++growths;
            room = c.capacity();
        }
    }
    EXPECT_EQ(c.Count(), 1000000);
    EXPECT_EQ(c[999999].X, 999999);
    EXPECT_LE(growths, 20);
    EXPECT_EQ(room % TContour::kCapacityBlock, 0);
}

TEST(TContourTest, AReusedBlockStartsEmptyWithOneBlockOfRoom)
{
    {
        TContour used;
        for (int i = 0; i < 10; ++i)
            used.Add(i, i);
        TContour grown;
        for (int i = 0; i < 300; ++i)
            grown.Add(i, -i);
    }
    for (int round = 0; round < 3; ++round) {
        TContour fresh;
        EXPECT_TRUE(fresh.isEmpty());
        EXPECT_EQ(fresh.capacity(), TContour::kCapacityBlock);
    }
    // A contour moved into a list keeps its vertices; the moved-from shell gives nothing back.
    TContour source;
    source.Add(1, 2);
    TContourList list;
    list.Add(std::move(source));
    EXPECT_EQ(list.GetContour(0).Count(), 1);
}

TEST(TContourListTest, OwnsItsContours)
{
    TContourList list;
    auto first = std::make_unique<TContour>();
    first->Add(1, 1);
    TContour* raw = first.get();
    EXPECT_EQ(list.Add(std::move(first)), 0);
    TContour second;
    second.Add(2, 2);
    EXPECT_EQ(list.Add(std::move(second)), 1);
    EXPECT_EQ(&list.GetContour(0), raw); // stays put while the list grows
    EXPECT_EQ(list.GetContour(1)[0].X, 2);
    EXPECT_THROW(list.GetContour(2), std::out_of_range);
    list.Delete(0);
    EXPECT_EQ(list.Count(), 1);
}
