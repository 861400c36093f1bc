// Outline glyphs: speed planning, trimming, the outline file and abort at entry.
#include "glyphs/glyphoutline.h"

#include "platform/stationglobals.h"
#include "testsupport.h"

#include <QFile>

#include <cmath>

using namespace lapido;

namespace {

std::vector<TPlanningRecord> plan(std::initializer_list<std::pair<double, double>> pts)
{
    std::vector<TPlanningRecord> rec;
    for (auto [x, y] : pts)
        rec.push_back({x, y});
    PlanContourSpeeds(rec, TPlanningLimits{0.5, 0.02, 5, 5});
    return rec;
}

std::unique_ptr<TContour> contour(std::initializer_list<std::pair<double, double>> pts)
{
    auto c = std::make_unique<TContour>();
    for (auto [x, y] : pts)
        c->Add(x, y);
    return c;
}

class OutlineTest : public test::StationFixture {};

} // namespace

TEST(PlanContourSpeeds, SquareCornersRunAtCornerSpeed)
{
    const auto rec = plan({{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}});
    for (int i = 1; i <= 4; ++i)
        EXPECT_DOUBLE_EQ(rec[static_cast<size_t>(i)].V, 0.02) << i;
    EXPECT_NEAR(rec[1].Cos, 0, 1e-12);
    EXPECT_NEAR(rec[1].Vc, 0, 1e-12);
}

TEST(PlanContourSpeeds, StraightLineIsLimitedByTheClampedCosine)
{
    const auto rec = plan({{0, 0}, {1, 0}, {2, 0}});
    EXPECT_DOUBLE_EQ(rec[1].Cos, 0.999);
    EXPECT_NEAR(rec[1].Angle, 0.0447, 1e-4);
    EXPECT_NEAR(rec[1].K, 0.0447, 1e-4);
    EXPECT_DOUBLE_EQ(rec[1].Vr, 0.5);
    EXPECT_NEAR(rec[1].Vd, 3.1623, 1e-4);
    EXPECT_DOUBLE_EQ(rec[1].Vc, 0.4995);
    EXPECT_DOUBLE_EQ(rec[1].V, 0.4995);
    EXPECT_DOUBLE_EQ(rec[2].V, 0.02);
}

TEST(PlanContourSpeeds, TwoPointsRunAtTheMinimumAndTightArcsAtTheRadialLimit)
{
    EXPECT_DOUBLE_EQ(plan({{0, 0}, {1, 0}})[1].V, 0.02);
    // A gentle turn on short segments: the radial acceleration limits the speed.
    const double a = 0.3;
    const auto rec = plan({{0, 0}, {0.01, 0}, {0.01 + 0.01 * std::cos(a), 0.01 * std::sin(a)}, {1, 1}});
    EXPECT_LT(rec[1].Vr, 0.5);
    EXPECT_NEAR(rec[1].Vr, std::sqrt(5 / rec[1].K), 1e-12);
    EXPECT_LE(rec[1].V, rec[1].Vr);
    EXPECT_GE(rec[1].V, 0.02);
}

TEST_F(OutlineTest, TrimDropsRepeatedPointsOnly)
{
    TGlyphOutLine g(nullptr, nullptr);
    g.ContourList->Add(contour({{0, 0}, {0, 0.000005}, {1, 0}, {1, 0}, {1, 1}}));
    g.TrimZeroLengthSegments();
    const TContour& c = g.ContourList->GetContour(0);
    ASSERT_EQ(c.Count(), 3);
    EXPECT_EQ(c[1].X, 1);
    EXPECT_EQ(c[2].Y, 1);
}

TEST_F(OutlineTest, OutlineFileRoundTripsAndHasTheRecordLayout)
{
    TGlyphOutLine g(nullptr, nullptr);
    g.UnitWidth = 0.625;
    g.ContourList->Add(contour({{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}}));
    g.ContourList->Add(contour({{0.25, 0.25}, {0.5, 0.5}, {0.75, -0.125}}));
    const QString file = scratch("char.kol");
    ASSERT_TRUE(g.SaveToFile(file));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_EQ(bytes.size(), 176);
    EXPECT_EQ(bytes.left(16), QByteArray("\x0f" "KMT Outline V01"));

    TGlyphOutLine back(nullptr, nullptr);
    ASSERT_TRUE(back.LoadFromFile(file));
    EXPECT_EQ(back.UnitWidth, 0.625);
    ASSERT_EQ(back.ContourList->Count(), 2);
    EXPECT_EQ(back.ContourList->GetContour(1).vertices(), g.ContourList->GetContour(1).vertices());
}

TEST_F(OutlineTest, BadOutlineFilesLeaveTheOutlineAsItWas)
{
    TGlyphOutLine g(nullptr, nullptr);
    g.UnitWidth = 0.5;
    g.ContourList->Add(contour({{0, 0}, {1, 1}}));
    const QString good = scratch("good.kol");
    ASSERT_TRUE(g.SaveToFile(good));
    QFile gf(good);
    ASSERT_TRUE(gf.open(QIODevice::ReadOnly));
    const QByteArray bytes = gf.readAll();

    auto write = [&](const QString& name, QByteArray content) {
        QFile f(scratch(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        return scratch(name);
    };
    QByteArray otherVersion = bytes;
    otherVersion[15] = '7';
    QByteArray wrongHeader = bytes;
    wrongHeader[5] = 'X';
    QByteArray lying = bytes;
    const double hugeCount = 1e12;
    std::memcpy(lying.data() + 24, &hugeCount, 8);
    // A count no 64-bit integer can hold.
    QByteArray beyond = bytes;
    const double beyondCount = 1e300;
    std::memcpy(beyond.data() + 24, &beyondCount, 8);

    TGlyphOutLine target(nullptr, nullptr);
    target.UnitWidth = 2;
    target.ContourList->Add(contour({{5, 5}, {6, 6}, {7, 7}}));
    auto unchanged = [&] {
        EXPECT_EQ(target.UnitWidth, 2);
        ASSERT_EQ(target.ContourList->Count(), 1);
        EXPECT_EQ(target.ContourList->GetContour(0).Count(), 3);
    };

    EXPECT_FALSE(target.LoadFromFile(write("wrong.kol", wrongHeader)));
    unchanged();
    EXPECT_FALSE(target.LoadFromFile(write("short.kol", bytes.left(bytes.size() - 5))));
    unchanged();
    EXPECT_FALSE(target.LoadFromFile(write("lying.kol", lying)));
    unchanged();
    EXPECT_FALSE(target.LoadFromFile(write("beyond.kol", beyond)));
    unchanged();
    EXPECT_FALSE(target.LoadFromFile(scratch("missing.kol")));
    unchanged();
    const QStringList texts = m_dialogs.texts();
    ASSERT_EQ(texts.size(), 5);
    EXPECT_EQ(texts[0], "Invalid file format");
    EXPECT_TRUE(texts[1].contains("truncated"));
    EXPECT_TRUE(texts[3].contains("truncated"));
    EXPECT_EQ(texts[4], "File \"" + scratch("missing.kol") + "\" does not exist");

    ASSERT_TRUE(target.LoadFromFile(write("v07.kol", otherVersion)));
    EXPECT_EQ(target.UnitWidth, 0.5);
}

TEST_F(OutlineTest, AbortAtEntryMarksNothingAndKeepsThePosition)
{
    TGlyphOutLine g(nullptr, nullptr);
    g.UnitWidth = 1;
    g.ContourList->Add(contour({{0, 0}, {1, 0}}));
    MarkingAborted() = true;
    SetMarkPosition(0.5, 0);
    TXYTransform identity;
    g.Mark(identity);
    EXPECT_FALSE(g.Processed);
    EXPECT_EQ(MarkPosition().X, 0.5);
}

TEST_F(OutlineTest, MeasuredRectangleCoversEveryShiftedVertex)
{
    TGlyphOutLine g(nullptr, nullptr);
    g.UnitWidth = 0.6;
    g.RelativeSize = 2;
    g.Offset = 0.1;
    g.Spacing = 0.2;
    g.ContourList->Add(contour({{0, -0.5}, {0.6, 0.5}}));
    SetMarkPosition(-1, 0);
    TXYTransform identity;
    TCoord mn{1e9, 1e9}, mx{-1e9, -1e9};
    g.ExtendMarkingRect(identity, mn, mx);
    EXPECT_DOUBLE_EQ(mn.X, -1 + 0.2);           // RS * S / 2
    EXPECT_DOUBLE_EQ(mx.X, -1 + 1.2 + 0.2);
    EXPECT_DOUBLE_EQ(mn.Y, 2 * (-0.5 + 0.1));
    EXPECT_DOUBLE_EQ(mx.Y, 2 * (0.5 + 0.1));
    EXPECT_DOUBLE_EQ(MarkPosition().X, -1 + (0.6 + 0.2) * 2);
}

TEST_F(OutlineTest, LogoReloadsOnlyWhenItsFileChanges)
{
    TLabelTree tree;
    TTreeNode* node = tree.Add("Logo");
    auto& logo = TGlyph::CreateFor<TGlyphLogo>(&tree, node, scratch("missing.lal"), 0.8, 0.0);
    EXPECT_EQ(node->Text(), "Logo \"missing\"");
    EXPECT_EQ(logo.UnitWidth, 0); // a drawing that cannot be read gives an empty logo
    EXPECT_TRUE(logo.ContourList->isEmpty());
    logo.Processed = true;
    logo.UpDate(scratch("missing.lal"), 0.5, 0.2); // same file: only height and offset change
    EXPECT_TRUE(logo.Processed);
    EXPECT_EQ(logo.RelativeSize, 0.5);
    EXPECT_EQ(logo.Offset, 0.2);
    logo.UpDate(QString(), 0.5, 0.2);
    EXPECT_FALSE(logo.Processed);
    EXPECT_EQ(node->Text(), "Logo");
}

// Memory follows the file: a file of many empty contours (8 bytes each) must not reserve room
// for vertices it does not hold, and a long contour is read into exactly its size.
TEST_F(OutlineTest, ContoursReadFromAFileHoldOnlyTheRoomTheyNeed)
{
    constexpr int kEmpty = 50000;
    constexpr int kLong = 300000;
    QByteArray bytes;
    auto put = [&bytes](double v) { bytes.append(reinterpret_cast<const char*>(&v), 8); };
    bytes.append(char(15));
    bytes.append("KMT Outline V01", 15);
    put(1.0);
    put(kEmpty + 1);
    for (int i = 0; i < kEmpty; ++i)
        put(0);
    put(kLong);
    for (int i = 0; i < kLong; ++i) {
        put(i);
        put(-i);
    }
    const QString path = scratch("many.kol");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();

    const OutlineFileResult r = readOutlineFile(path);
    ASSERT_TRUE(r.content) << r.error.toStdString();
    ASSERT_EQ(r.content->Contours.Count(), kEmpty + 1);
    std::int64_t room = 0;
    for (int c = 0; c < r.content->Contours.Count(); ++c)
        room += r.content->Contours.GetContour(c).capacity();
    EXPECT_EQ(room, kLong);
    const TContour& last = r.content->Contours.GetContour(kEmpty);
    EXPECT_EQ(last[kLong - 1], (TVertex{kLong - 1.0, 1.0 - kLong}));
}
