// TGlyphPhoto: dot geometry, preview sizes, the measured rectangle, the cached overlay and
// picture files.
#include "glyphs/glyphphoto.h"
#include "glyphs/overlayhalo.h"
#include "glyphs/labeltree.h"

#include "platform/stationglobals.h"
#include "settings/settingsrecord.h"
#include "testsupport.h"

#include <QPainter>

#include <cmath>
#include <functional>
#include <random>
#include <set>

using namespace lapido;

namespace {

constexpr double kPi = 3.14159265358979323846;

QImage randomPicture(int w, int h, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> grey(0, 255);
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int g = grey(rng);
            img.setPixel(x, y, qRgb(g, g, g));
        }
    return img;
}

// A camera picture with something in every pixel, so that any change shows.
QImage cameraPicture()
{
    QImage img(1008, 820, QImage::Format_RGB32);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            img.setPixel(x, y, qRgb(x % 61, y % 53, (x + y) % 47));
    return img;
}

class PhotoTest : public test::StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        Settings() = TSettings{};
        setGirdleHeight(0.5);
        SetPaintPosition(0, 0);
        SetMarkPosition(0, 0);
    }
    void TearDown() override
    {
        Settings() = TSettings{};
        resetStationGlobals();
        StationFixture::TearDown();
    }
};

TEST_F(PhotoTest, DotImageFollowsHeightGirdleAndResolution)
{
    struct Case {
        double height, girdle, resolution;
        int rows, columns;
    };
    // 200 x 100 picture: UnitWidth 2.
    const Case cases[] = {
        {1.0, 0.5, 5, 100, 200},  // one dot = 5 µm on the stone
        {0.8, 0.5, 5, 80, 160},
        {0.5, 0.3, 7, 21, 43},    // n = 21.43: rows 21, columns Round(42.86)
        {1.0, 0.5, 0, 0, 0},      // a resolution of 0 gives no dots rather than a division blow-up
        {1.0, 0.0, 5, 0, 0},
    };
    TGlyphPhoto photo(nullptr, nullptr, randomPicture(200, 100, 1), 1.0, 0.0);
    EXPECT_DOUBLE_EQ(photo.UnitWidth, 2.0);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.height << " " << c.girdle << " " << c.resolution);
        photo.UpDate(1.5, c.height, 0.0);
        setGirdleHeight(c.girdle);
        Settings().PhotoResolution = c.resolution;
        EXPECT_EQ(photo.dotImageHeight(), c.rows);
        EXPECT_EQ(photo.dotImageWidth(), c.columns);
        QImage dots;
        photo.MarkingBitmapAssignTo(&dots);
        EXPECT_EQ(dots.size(), QSize(c.columns, c.rows));
        EXPECT_TRUE(photo.Dithering->DitherImg.isNull()); // emptied after the copy
    }
}

TEST_F(PhotoTest, CreationUpdateAndPreview)
{
    TLabelTree tree;
    TTreeNode* node = tree.Add("Photo");
    auto& wide = TGlyph::CreateFor<TGlyphPhoto>(&tree, node, randomPicture(200, 100, 2), 0.8, 0.1);
    EXPECT_EQ(node->Data(), &wide);
    EXPECT_DOUBLE_EQ(wide.Gamma, 1.5);
    EXPECT_DOUBLE_EQ(wide.RelativeSize, 0.8);
    EXPECT_DOUBLE_EQ(wide.Offset, 0.1);
    EXPECT_EQ(wide.OverlayPixHeight, -1);
    EXPECT_EQ(wide.Dithering->SourceImg, &wide.Bitmap);
    EXPECT_EQ(wide.Dithered(100, 100, true).size(), QSize(100, 50));
    EXPECT_EQ(wide.Dithered(100, 100, false).size(), QSize(100, 100));

    TGlyphPhoto tall(nullptr, nullptr, randomPicture(100, 200, 3), 1.0, 0.0);
    EXPECT_DOUBLE_EQ(tall.UnitWidth, 0.5);
    EXPECT_EQ(tall.Dithered(100, 100, true).size(), QSize(50, 100));

    // The marking dithers with the glyph's own gamma, whatever a preview left in the dithering.
    tall.UpDate(0.7, 1.0, 0.0);
    tall.MarkingBitmapAssignTo(nullptr);
    EXPECT_DOUBLE_EQ(tall.Dithering->Gamma, 0.7);
    tall.UpDate(2.0, 1.0, 0.0);
    tall.Dithered(10, 10, true);
    EXPECT_DOUBLE_EQ(tall.Dithering->Gamma, 2.0);

    TGlyphPhoto empty(nullptr, nullptr, QImage(), 1.0, 0.0);
    EXPECT_DOUBLE_EQ(empty.UnitWidth, 0.0);
    EXPECT_TRUE(empty.Dithered(100, 100, true).isNull());
    QImage dots(3, 3, QImage::Format_RGB32);
    empty.MarkingBitmapAssignTo(&dots);
    EXPECT_TRUE(dots.isNull());
}

// The measured rectangle holds the whole dot field whatever the transform does to it.
TEST_F(PhotoTest, MarkingRectangleHoldsAllFourCorners)
{
    TGlyphPhoto photo(nullptr, nullptr, randomPicture(200, 100, 4), 0.8, 0.1);
    for (double slantDeg : {0.0, 10.0, -25.0}) {
        SCOPED_TRACE(slantDeg);
        TXYTransform t;
        t.SetScale(0.5, 0.5);
        t.SetRotation(slantDeg * kPi / 180);
        t.SetOutTranslation(15, 12);
        SetMarkPosition(-1, 0);
        TCoord mn{1e300, 1e300}, mx{-1e300, -1e300};
        photo.ExtendMarkingRect(t, mn, mx);
        EXPECT_DOUBLE_EQ(MarkPosition().X, -1 + 2 * 0.8);
        double lo[2] = {1e300, 1e300}, hi[2] = {-1e300, -1e300};
        for (double x : {-1.0, 0.6})
            for (double y : {0.08 + 0.4, 0.08 - 0.4}) {
                const TCoord c = t.TransFormCoord(Coord(x, y));
                lo[0] = std::min(lo[0], c.X), lo[1] = std::min(lo[1], c.Y);
                hi[0] = std::max(hi[0], c.X), hi[1] = std::max(hi[1], c.Y);
            }
        EXPECT_NEAR(mn.X, lo[0], 1e-12);
        EXPECT_NEAR(mn.Y, lo[1], 1e-12);
        EXPECT_NEAR(mx.X, hi[0], 1e-12);
        EXPECT_NEAR(mx.Y, hi[1], 1e-12);
    }
}

// The overlay: dots land where the transform puts them, lit in the pen colour on top of the
// camera picture; every other pixel stays exactly as the camera gave it. The rendering is
// rebuilt only for a new dot count, an update, or a change of scale or rotation.
class PhotoOverlayTest : public PhotoTest {
protected:
    void SetUp() override
    {
        PhotoTest::SetUp();
        Settings().PhotoResolution = 25; // 20 dot rows at height 1, girdle 0.5
        m_photo = std::make_unique<TGlyphPhoto>(nullptr, nullptr, randomPicture(40, 20, 5), 1.0, 0.1);
        setView(60, 0, 500, 400);
    }
    void setView(double pixelsPerUnit, double degrees, double x, double y)
    {
        m_view.Clear();
        m_view.SetScale(pixelsPerUnit, -pixelsPerUnit);
        m_view.SetRotation(degrees * kPi / 180);
        m_view.SetOutTranslation(x, y);
    }
    QImage paint(const QColor& pen = QColor(255, 255, 0))
    {
        QImage canvas = m_camera;
        QPainter painter(&canvas);
        painter.setPen(pen);
        SetPaintPosition(-1, 0);
        m_photo->Paint(painter, m_view);
        EXPECT_DOUBLE_EQ(PaintPosition().X, -1 + m_photo->Width());
        return canvas;
    }
    // Pixels of the black dots for the present dot count, as the transform places them.
    std::set<std::pair<int, int>> expectedDots()
    {
        QImage dots;
        m_photo->MarkingBitmapAssignTo(&dots);
        const double d = m_photo->RelativeSize / dots.height();
        const double top = m_photo->RelativeSize * m_photo->Offset + m_photo->RelativeSize / 2;
        std::set<std::pair<int, int>> px;
        for (int j = 0; j < dots.height(); ++j)
            for (int i = 0; i < dots.width(); ++i)
                if (isDot(dots, i, j)) {
                    const TPoint p = CoordToPoint(m_view.TransFormCoord(Coord(-1 + i * d, top - j * d)));
                    px.insert({p.x(), p.y()});
                }
        return px;
    }
    void expectOverlay(const QImage& canvas, const std::set<std::pair<int, int>>& dots, QRgb pen)
    {
        ASSERT_EQ(canvas.format(), QImage::Format_RGB32);
        QImage want = m_camera;
        // Under the dots a dark rim one pixel round them, so they read on a light picture.
        // (Dots just outside the picture have their rim on its edge: one pixel of margin.)
        QImage ink(want.size() + QSize(2, 2), QImage::Format_ARGB32_Premultiplied);
        ink.fill(Qt::transparent);
        for (const auto& [x, y] : dots)
            if (ink.rect().contains(x + 1, y + 1))
                ink.setPixel(x + 1, y + 1, 0xFFFFFFFFu);
        {
            QPainter under(&want);
            under.drawImage(-1, -1, darkRim(ink));
        }
        for (const auto& [x, y] : dots)
            if (want.rect().contains(x, y))
                want.setPixel(x, y, want.pixel(x, y) | pen);
        int wrong = 0;
        for (int y = 0; y < canvas.height(); ++y) {
            const auto* got = reinterpret_cast<const QRgb*>(canvas.constScanLine(y));
            const auto* exp = reinterpret_cast<const QRgb*>(want.constScanLine(y));
            for (int x = 0; x < canvas.width(); ++x)
                wrong += got[x] != exp[x];
        }
        EXPECT_EQ(wrong, 0);
    }

    QImage m_camera = cameraPicture();
    TXYTransform m_view;
    std::unique_ptr<TGlyphPhoto> m_photo;
};

TEST_F(PhotoOverlayTest, DotsBrightenTheCameraPictureInThePenColour)
{
    const QImage canvas = paint();
    const auto dots = expectedDots();
    ASSERT_GT(dots.size(), 100u);
    expectOverlay(canvas, dots, qRgb(255, 255, 0));
    EXPECT_EQ(m_photo->overlayRenderCount(), 1);

    // A new colour only recolours the cached rendering.
    const QImage recoloured = paint(QColor(0, 128, 255));
    expectOverlay(recoloured, dots, qRgb(0, 128, 255));
    EXPECT_EQ(m_photo->overlayRenderCount(), 1);
}

TEST_F(PhotoOverlayTest, RenderingIsRebuiltOnlyWhenItMust)
{
    paint();
    struct Case {
        const char* name;
        std::function<void()> change;
        bool rebuilds;
    };
    const Case cases[] = {
        {"same view", [] {}, false},
        {"shift", [&] { setView(60, 0, 507, 396); }, false},
        {"scale +0.05%", [&] { setView(60 * 1.0005, 0, 507, 396); }, false},
        {"scale +1%", [&] { setView(60 * 1.01, 0, 507, 396); }, true},
        {"rotation", [&] { setView(60 * 1.01, 5, 507, 396); }, true},
        {"update", [&] { m_photo->UpDate(1.5, 1.0, 0.1); }, true},
        {"more dot rows", [&] { Settings().PhotoResolution = 20; }, true},
        {"fractional dot count", [&] { Settings().PhotoResolution = 23; }, true}, // 21.7 rows, 43.5 columns
        {"processed colour", [&] { m_photo->Processed = true; }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int before = m_photo->overlayRenderCount();
        c.change();
        const QImage canvas = paint();
        EXPECT_EQ(m_photo->overlayRenderCount(), before + (c.rebuilds ? 1 : 0));
        // Cached or not, the picture is the one a fresh rendering gives.
        expectOverlay(canvas, expectedDots(), qRgb(255, 255, 0));
    }
}

TEST_F(PhotoOverlayTest, NodeStateChoosesTheColourAndSelectionDrawsTheFrame)
{
    TLabelTree tree;
    TTreeNode* node = tree.Add("Photo");
    m_photo->TreeView = &tree;
    m_photo->TreeNode = node;
    const auto dots = expectedDots();
    Settings().Outline = 0x0000FF;   // red, as 0x00BBGGRR
    Settings().Processed = 0x00FF00; // green
    expectOverlay(paint(), dots, qRgb(255, 0, 0));
    m_photo->Processed = true;
    expectOverlay(paint(), dots, qRgb(0, 255, 0));

    tree.setSelected(node);
    Settings().Selected = 0xFF0000; // blue: the frame's colour
    const QImage canvas = paint();
    const TPoint corner = CoordToPoint(m_view.TransFormCoord(Coord(-1, 0.6)));
    EXPECT_EQ(canvas.pixel(corner.x(), corner.y()) & 0xFFFFFF, 0x0000FFu); // the frame's corner
}

TEST_F(PhotoOverlayTest, OverlayTooLargeIsNotDrawnButTheLabelGoesOn)
{
    setView(2.0e5, 0, 500, 400); // about 2e5 x 1e5 pixels
    const QImage canvas = paint();
    EXPECT_TRUE(m_photo->OverlayWhite.isNull());
    EXPECT_EQ(canvas, m_camera);
    setView(60, 0, 500, 400);
    expectOverlay(paint(), expectedDots(), qRgb(255, 255, 0));
}

TEST_F(PhotoTest, PictureFilesThatCannotBeUsedLeaveThePhotoAsItWas)
{
    TGlyphPhoto photo(nullptr, nullptr, randomPicture(200, 100, 6), 1.0, 0.0);
    photo.Processed = true;
    const QString dir = test::testDataDir() + QStringLiteral("/glyphs/photo/");
    struct Bad {
        QString file;
        QString message;
    };
    const Bad bad[] = {
        {dir + "missing.bmp", QStringLiteral("File \"%1\" does not exist").arg(dir + "missing.bmp")},
        {dir + "broken.bmp", QStringLiteral("cannot be read")},
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.file.toStdString());
        m_dialogs.clear();
        EXPECT_FALSE(photo.LoadFromFile(b.file));
        ASSERT_EQ(m_dialogs.texts().size(), 1);
        EXPECT_TRUE(m_dialogs.texts().at(0).contains(b.message)) << m_dialogs.texts().at(0).toStdString();
        EXPECT_EQ(photo.Bitmap.size(), QSize(200, 100));
        EXPECT_DOUBLE_EQ(photo.UnitWidth, 2.0);
        EXPECT_TRUE(photo.Processed);
    }
    photo.UpDate(1.2, 0.9, 0.1);
    EXPECT_TRUE(photo.LoadFromFile(dir + "stone.png"));
    EXPECT_EQ(photo.Bitmap.size(), QSize(40, 20));
    EXPECT_DOUBLE_EQ(photo.UnitWidth, 2.0);
    EXPECT_FALSE(photo.Processed);
    EXPECT_EQ(photo.Filename, dir + "stone.png");
    EXPECT_DOUBLE_EQ(photo.Gamma, 1.2);
    EXPECT_DOUBLE_EQ(photo.RelativeSize, 0.9);
    EXPECT_EQ(photo.OverlayPixHeight, -1);
    QImage dots;
    photo.MarkingBitmapAssignTo(&dots);
    EXPECT_EQ(dots.size(), QSize(180, 90));
}

// The rim is the ring of pixels round the strokes, never a stroke pixel, and nothing further.
TEST(DarkRimTest, RingsTheStrokesOnly)
{
    QImage strokes(9, 9, QImage::Format_ARGB32_Premultiplied);
    strokes.fill(Qt::transparent);
    strokes.setPixel(4, 4, 0xFFFFFF00u);
    strokes.setPixel(5, 4, 0xFFFFFF00u);
    strokes.setPixel(0, 8, 0x80808000u); // half covered: a stroke too, at the picture's corner
    const QImage rim = darkRim(strokes);
    ASSERT_EQ(rim.size(), strokes.size());
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 9; ++x) {
            const bool stroke = qAlpha(strokes.pixel(x, y)) > 0;
            bool near = false;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int xx = x + dx, yy = y + dy;
                    near = near || (xx >= 0 && xx < 9 && yy >= 0 && yy < 9 && qAlpha(strokes.pixel(xx, yy)) > 0);
                }
            const int alpha = qAlpha(rim.pixel(x, y));
            if (!stroke && near) {
                EXPECT_GT(alpha, 127) << x << "," << y;
                EXPECT_EQ(qRed(rim.pixel(x, y)) + qGreen(rim.pixel(x, y)) + qBlue(rim.pixel(x, y)), 0);
            } else {
                EXPECT_EQ(alpha, 0) << x << "," << y;
            }
        }
}

} // namespace
