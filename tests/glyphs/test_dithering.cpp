// TDithering: the contrast and gamma step, the error diffusion against a literal reference, sizes.
#include "glyphs/dithering.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include <unistd.h>

namespace lapido {
namespace {

// The algorithm exactly as the station's documentation words it: a (W + 2) x (H + 1) buffer
// with a grey frame, extremes starting at 127, the mapping, then diffusion with every quotient
// truncated toward zero. The picture must already have the dot image's size.
std::vector<std::vector<bool>> referenceDots(const QImage& picture, double gamma)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    const int w = rgb.width();
    const int h = rgb.height();
    std::vector<std::vector<int>> buf(static_cast<std::size_t>(h) + 1, std::vector<int>(w + 2, 127));
    int lo = 127;
    int hi = 127;
    for (int y = 0; y <= h; ++y)
        for (int x = 0; x < w + 2; ++x) {
            if (y < h && x >= 1 && x <= w) {
                const QRgb p = rgb.pixel(x - 1, y);
                buf[y][x] = (qBlue(p) + qGreen(p) + qRed(p)) / 3;
            }
            lo = std::min(lo, buf[y][x]);
            hi = std::max(hi, buf[y][x]);
        }
    const double k = lo < hi ? 255.0 / (hi - lo) : 1.0;
    for (auto& row : buf)
        for (int& v : row)
            v = static_cast<int>(std::nearbyint(255.0 * std::pow((v - lo) * k / 255.0, gamma)));
    auto part = [](int e, int n) { return static_cast<int>(std::trunc(double(e) * n / 16.0)); };
    std::vector<std::vector<bool>> black(h, std::vector<bool>(w));
    for (int y = 0; y < h; ++y)
        for (int x = 1; x <= w; ++x) {
            const int v = buf[y][x];
            const int e = v > 127 ? v - 255 : v;
            black[y][x - 1] = v <= 127;
            buf[y][x + 1] += part(e, 7);
            buf[y + 1][x - 1] += part(e, 3);
            buf[y + 1][x] += part(e, 5);
            buf[y + 1][x + 1] += part(e, 1);
        }
    return black;
}

QImage filled(int w, int h, QRgb colour)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(colour);
    return img;
}

QImage dither(const QImage& picture, int w, int h, double gamma, TDithering& d)
{
    d.SourceImg = &picture;
    d.DitherWidth = w;
    d.DitherHeight = h;
    d.Gamma = gamma;
    d.Execute();
    return d.DitherImg;
}

int blackCount(const QImage& dots)
{
    int n = 0;
    for (int y = 0; y < dots.height(); ++y)
        for (int x = 0; x < dots.width(); ++x)
            n += isDot(dots, x, y);
    return n;
}

TEST(TDitheringTest, StartsEmptyWithGammaOnePointFive)
{
    TDithering d;
    EXPECT_EQ(d.DitherWidth, 0);
    EXPECT_EQ(d.DitherHeight, 0);
    EXPECT_DOUBLE_EQ(d.Gamma, 1.5);
    EXPECT_TRUE(d.DitherImg.isNull());
}

// Flat pictures: mid grey maps to 0 after the contrast step (the frame's 127 is the minimum),
// a brighter one to 255, and only pure black and pure white come out.
TEST(TDitheringTest, FlatPicturesAndTheTwoDotPicture)
{
    struct Case {
        const char* name;
        QImage picture;
        int w, h;
        double gamma;
        std::vector<bool> black; // row by row
    };
    QImage pair(2, 1, QImage::Format_RGB32);
    pair.setPixel(0, 0, qRgb(0, 0, 0));
    pair.setPixel(1, 0, qRgb(255, 255, 255));
    const std::vector<Case> cases = {
        {"grey127", filled(6, 4, qRgb(127, 127, 127)), 6, 4, 1.5, std::vector<bool>(24, true)},
        {"grey200", filled(6, 4, qRgb(200, 200, 200)), 6, 4, 1.5, std::vector<bool>(24, false)},
        {"grey200rgb", filled(5, 3, qRgb(100, 250, 250)), 5, 3, 1.0, std::vector<bool>(15, false)},
        {"blackWhite", pair, 2, 1, 1.0, {true, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TDithering d;
        const QImage dots = dither(c.picture, c.w, c.h, c.gamma, d);
        ASSERT_EQ(dots.size(), QSize(c.w, c.h));
        EXPECT_TRUE(d.lastError().isEmpty());
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                const QRgb p = dots.pixel(x, y);
                EXPECT_EQ(p, c.black[y * c.w + x] ? qRgb(0, 0, 0) : qRgb(255, 255, 255)) << x << "," << y;
            }
    }
}

// Random colour pictures of awkward sizes at several gammas: every dot equals the literal form.
TEST(TDitheringTest, DiffusionMatchesTheLiteralAlgorithm)
{
    std::mt19937 rng(20261210);
    struct Case {
        int w, h;
        double gamma;
        int lo, hi; // range of the random channels
    };
    const Case cases[] = {{1, 1, 1.5, 0, 255}, {17, 9, 1.0, 0, 255}, {33, 21, 1.5, 40, 180},
                          {64, 3, 0.5, 90, 140}, {5, 40, 2.5, 0, 255}, {101, 57, 1.7, 120, 135}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " gamma " << c.gamma);
        std::uniform_int_distribution<int> channel(c.lo, c.hi);
        QImage picture(c.w, c.h, QImage::Format_RGB32);
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x)
                picture.setPixel(x, y, qRgb(channel(rng), channel(rng), channel(rng)));
        TDithering d;
        const QImage dots = dither(picture, c.w, c.h, c.gamma, d);
        const auto expected = referenceDots(picture, c.gamma);
        ASSERT_EQ(dots.size(), picture.size());
        int mismatches = 0;
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x)
                mismatches += isDot(dots, x, y) != expected[y][x];
        EXPECT_EQ(mismatches, 0);
    }
}

TEST(TDitheringTest, ContrastAndGammaTable)
{
    const auto flat = contrastGammaTable(127, 127, 1.5);
    EXPECT_EQ(flat[127], 0);
    EXPECT_EQ(flat[255], 91); // k = 1: 255 * (128/255)^1.5
    const auto full = contrastGammaTable(0, 255, 2.0);
    EXPECT_EQ(full[0], 0);
    EXPECT_EQ(full[128], 64); // 255 * (128/255)^2 = 64.25
    EXPECT_EQ(full[255], 255);
    const auto narrow = contrastGammaTable(100, 151, 1.0);
    EXPECT_EQ(narrow[100], 0);
    EXPECT_EQ(narrow[110], 50);
    EXPECT_EQ(narrow[151], 255);
    const auto silly = contrastGammaTable(0, 255, -1.0); // 0^-1: no wrap-around
    EXPECT_EQ(silly[0], 255);
}

TEST(TDitheringTest, PreviewSizes)
{
    struct Case {
        QSize picture;
        int w, h;
        bool keep;
        QSize expected;
    };
    const Case cases[] = {
        {{200, 100}, 100, 100, true, {100, 50}},  {{100, 200}, 100, 100, true, {50, 100}},
        {{200, 100}, 100, 100, false, {100, 100}}, {{0, 0}, 100, 100, true, {0, 0}},
        {{200, 100}, 0, 100, false, {0, 0}},       {{300, 200}, 100, 100, true, {100, 67}},
        {{3, 2}, 5, 2, true, {3, 2}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ditheredSize(c.picture, c.w, c.h, c.keep), c.expected)
            << c.picture.width() << "x" << c.picture.height() << " into " << c.w << "x" << c.h;
}

TEST(TDitheringTest, RefusesWhatCannotBeDitheredAndSaysWhy)
{
    const QImage picture = filled(4, 4, qRgb(10, 10, 10));
    TDithering d;
    EXPECT_TRUE(dither(picture, 0, 5, 1.5, d).isNull());
    EXPECT_TRUE(d.lastError().isEmpty());
    EXPECT_TRUE(dither(picture, 10000, 10000, 1.5, d).isNull());
    EXPECT_TRUE(d.lastError().contains(QStringLiteral("40,000,000"))) << d.lastError().toStdString();
    d.SourceImg = nullptr;
    d.DitherWidth = d.DitherHeight = 3;
    d.Execute();
    EXPECT_TRUE(d.DitherImg.isNull());
    EXPECT_FALSE(d.lastError().isEmpty());
    EXPECT_EQ(dither(picture, 3, 3, 1.5, d).size(), QSize(3, 3)); // usable again
    EXPECT_TRUE(d.lastError().isEmpty());
}

// Stretching keeps where things are; transparent parts are not engraved.
TEST(TDitheringTest, StretchesAndTreatsTransparencyAsWhite)
{
    QImage picture(40, 20, QImage::Format_ARGB32);
    picture.fill(Qt::transparent);
    QPainter(&picture).fillRect(0, 0, 20, 20, Qt::black);
    TDithering d;
    const QImage dots = dither(picture, 10, 5, 1.5, d);
    ASSERT_EQ(dots.size(), QSize(10, 5));
    EXPECT_EQ(blackCount(dots), 25);
    for (int y = 0; y < 5; ++y) {
        EXPECT_TRUE(isDot(dots, 0, y));
        EXPECT_FALSE(isDot(dots, 9, y));
    }
}

// The dot image files of the dither command: what is written reads back dot for dot, and a
// failed write leaves an existing file alone.
TEST(TDitheringTest, DotImageFilesReadBackDotForDot)
{
    QTemporaryDir dir;
    std::mt19937 rng(3);
    QImage picture(13, 5, QImage::Format_RGB32); // a width that does not fill whole bytes
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 13; ++x)
            picture.setPixel(x, y, rng() % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    TDithering d;
    const QImage dots = dither(picture, 13, 5, 1.5, d);
    for (const char* name : {"dots.pbm", "dots.png"}) {
        SCOPED_TRACE(name);
        const QString path = dir.filePath(name);
        ASSERT_EQ(saveDotImage(dots, path), QString());
        const QImage back(path);
        ASSERT_EQ(back.size(), dots.size());
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 13; ++x)
                EXPECT_EQ(qGray(back.pixel(x, y)) < 128, isDot(dots, x, y)) << x << "," << y;
    }
    QFile pbm(dir.filePath("dots.pbm"));
    ASSERT_TRUE(pbm.open(QIODevice::ReadOnly));
    EXPECT_EQ(pbm.readAll().left(8), QByteArray("P4\n13 5\n"));

    EXPECT_FALSE(saveDotImage(dots, dir.filePath("dots.jpg")).isEmpty());
    EXPECT_FALSE(saveDotImage(QImage(), dir.filePath("empty.pbm")).isEmpty());
    EXPECT_FALSE(QFile::exists(dir.filePath("empty.pbm")));
    EXPECT_FALSE(saveDotImage(dots, dir.filePath("no/such/folder/dots.pbm")).isEmpty());
}

TEST(TDitheringTest, PictureFilesAreCheckedBeforeTheyAreDecoded)
{
    QTemporaryDir dir;
    // A header that promises 20000 x 10000 pixels and brings none.
    QFile huge(dir.filePath("huge.pgm"));
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
    huge.write("P5\n20000 10000\n255\n");
    huge.close();
    const PictureFile big = loadPicture(huge.fileName());
    EXPECT_TRUE(big.image.isNull());
    EXPECT_TRUE(big.error.contains(QStringLiteral("100,000,000"))) << big.error.toStdString();

    const PictureFile missing = loadPicture(dir.filePath("none.bmp"));
    EXPECT_EQ(missing.error, QStringLiteral("File \"%1\" does not exist").arg(dir.filePath("none.bmp")));

    QImage small(4, 3, QImage::Format_RGB32);
    small.fill(Qt::gray);
    ASSERT_TRUE(small.save(dir.filePath("small.bmp")));
    const PictureFile ok = loadPicture(dir.filePath("small.bmp"));
    EXPECT_TRUE(ok.error.isEmpty());
    EXPECT_EQ(ok.image.size(), QSize(4, 3));
}

// "Does not exist" only for a picture that is not there: a path through a file, a folder and a
// picture that may not be read are named as what they are.
TEST(TDitheringTest, AnUnreadablePictureIsNotReportedAsMissing)
{
    QTemporaryDir dir;
    QImage small(4, 3, QImage::Format_RGB32);
    small.fill(Qt::gray);
    ASSERT_TRUE(small.save(dir.filePath("small.bmp")));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    const std::pair<QString, QString> cases[] = {
        {dir.filePath("small.bmp/inner.bmp"), QStringLiteral("Not a directory")},
        {dir.filePath("folder"), QStringLiteral("it is a folder")},
    };
    for (const auto& [path, reason] : cases) {
        const PictureFile p = loadPicture(path);
        EXPECT_TRUE(p.error.contains(reason) && !p.error.contains(QStringLiteral("does not exist")))
            << p.error.toStdString();
    }
}

TEST(TDitheringTest, APictureThatMayNotBeReadIsNamedSo)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the superuser";
    QTemporaryDir dir;
    QImage small(4, 3, QImage::Format_RGB32);
    small.fill(Qt::gray);
    ASSERT_TRUE(small.save(dir.filePath("small.bmp")));
    ASSERT_TRUE(QFile::setPermissions(dir.filePath("small.bmp"), QFileDevice::WriteOwner));
    const PictureFile denied = loadPicture(dir.filePath("small.bmp"));
    EXPECT_TRUE(denied.error.contains(QStringLiteral("Permission denied"))) << denied.error.toStdString();
}

} // namespace
} // namespace lapido
