// The engraving preview: the dots at engraving resolution follow the gamma track bar.
#include "ui/glyphs/frmpreviewbitmap.h"

#include "glyphs/dithering.h"
#include "glyphs/glyphphoto.h"
#include "platform/stationglobals.h"
#include "settings/settingsrecord.h"

#include "testsupport.h"

#include <QApplication>
#include <QLabel>
#include <QPixmap>
#include <QSignalSpy>
#include <QTest>
#include <QScrollArea>
#include <QToolButton>
#include <QWheelEvent>

namespace lapido {
namespace {

QImage greyRamp(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(255 * x / (w - 1), 255 * y / (h - 1), 128));
    return image;
}

class FrmPreviewBitmapTest : public test::StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        Settings() = TSettings{};
        Settings().PhotoResolution = 5;
        setGirdleHeight(0.5); // 100 dot rows at height 1
        m_photo = std::make_unique<TGlyphPhoto>(nullptr, nullptr, greyRamp(80, 40), 1.0, 0.0);
        m_form = std::make_unique<TfrmPreviewBitmap>();
        m_form->GlyphPhoto = m_photo.get();
    }
    void TearDown() override
    {
        m_form.reset();
        m_photo.reset();
        resetStationGlobals();
        Settings() = TSettings{};
        StationFixture::TearDown();
    }
    QImage shown() const { return m_form->Image->dots().convertToFormat(QImage::Format_Grayscale8); }
    // The dots an independent dithering gives at engraving resolution with this gamma.
    QImage expected(double gamma) const
    {
        TDithering d;
        d.SourceImg = &m_photo->Bitmap;
        d.DitherWidth = m_photo->dotImageWidth();
        d.DitherHeight = m_photo->dotImageHeight();
        d.Gamma = gamma;
        d.Execute();
        return d.DitherImg.convertToFormat(QImage::Format_Grayscale8);
    }

    std::unique_ptr<TGlyphPhoto> m_photo;
    std::unique_ptr<TfrmPreviewBitmap> m_form;
};

TEST_F(FrmPreviewBitmapTest, TrackBarAsTheMainWindowHasIt)
{
    EXPECT_EQ(m_form->windowTitle(), QStringLiteral("Engraving preview"));
    EXPECT_EQ(m_form->TrackBarGamma->minimum(), 5);
    EXPECT_EQ(m_form->TrackBarGamma->maximum(), 25);
    EXPECT_EQ(m_form->TrackBarGamma->tickInterval(), 2);
    EXPECT_EQ(m_form->TrackBarGamma->value(), 15);
    EXPECT_EQ(m_form->TrackBarGamma->toolTip(), QStringLiteral("Image correction"));
    EXPECT_GE(m_form->minimumWidth(), 400);
}

TEST_F(FrmPreviewBitmapTest, DotsFollowTheGammaAtEngravingResolution)
{
    QSignalSpy spy(m_form.get(), &TfrmPreviewBitmap::gammaPositionChanged);
    for (const int position : {25, 7, 15}) {
        m_form->TrackBarGamma->setValue(position);
        const QImage dots = shown();
        ASSERT_EQ(dots.size(), QSize(200, 100)) << position;
        EXPECT_EQ(dots, expected(position / 10.0)) << position;
        EXPECT_EQ(spy.takeFirst().at(0).toInt(), position);
    }
    // a different gamma really gives different dots
    EXPECT_NE(expected(2.5), expected(0.7));
}

TEST_F(FrmPreviewBitmapTest, SelectionBandRunsBetweenThePositionAndTheNeutralOne)
{
    m_form->TrackBarGamma->setValue(22);
    EXPECT_EQ(m_form->TrackBarGamma->selStart(), 15);
    EXPECT_EQ(m_form->TrackBarGamma->selEnd(), 22);
    m_form->TrackBarGamma->setValue(9);
    EXPECT_EQ(m_form->TrackBarGamma->selStart(), 9);
    EXPECT_EQ(m_form->TrackBarGamma->selEnd(), 15);
}

TEST_F(FrmPreviewBitmapTest, ActivationTakesTheMainWindowsPosition)
{
    m_form->setMainGammaPosition([] { return 21; });
    m_form->show();
    QApplication::setActiveWindow(m_form.get());
    QTRY_COMPARE_WITH_TIMEOUT(m_form->TrackBarGamma->value(), 21, 2000);
    EXPECT_EQ(shown(), expected(2.1));
}

// The preview opens with the whole picture as large as the window allows, zooms by whole
// factors with the keys, the buttons and the wheel (about the dot under it), and draws each
// dot as an exact block of its zoom over a surround that is neither black nor white.
TEST_F(FrmPreviewBitmapTest, ZoomShowsEveryDotExactlyOverASurroundThatShowsThem)
{
    m_form->resize(900, 600);
    m_form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
    m_form->TrackBarGammaChange();
    DotImageView* view = m_form->Image;
    const QSize room = m_form->ScrollBox->maximumViewportSize();
    const int fit = view->zoom();
    EXPECT_EQ(fit, DotImageView::fittingZoom(QSize(200, 100), room - QSize(8, 8)));
    EXPECT_GE(fit, 2);
    EXPECT_LE(200 * fit, room.width());
    EXPECT_GT(200 * (fit + 1), room.width() - 8);
    EXPECT_EQ(m_form->LabelZoom->text(), QStringLiteral("%1 %").arg(fit * 100));

    // Each dot is a zoom x zoom block of its own value.
    const QImage dots = shown();
    const QImage drawn = view->grab().toImage().convertToFormat(QImage::Format_Grayscale8);
    ASSERT_EQ(drawn.size(), dots.size() * fit);
    int wrong = 0;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x)
            wrong += drawn.pixelColor(x, y) != dots.pixelColor(x / fit, y / fit);
    EXPECT_EQ(wrong, 0);
    // The surround, seen around the picture, is a grey.
    const QImage around = m_form->ScrollBox->viewport()->grab().toImage();
    const int grey = qGray(around.pixel(1, 1));
    EXPECT_GT(grey, 60);
    EXPECT_LT(grey, 200);

    const struct {
        int key;
        int zoom;
    } keys[] = {{Qt::Key_Plus, DotImageView::zoomedIn(fit)}, {Qt::Key_Minus, fit}, {Qt::Key_Minus, DotImageView::zoomedOut(fit)},
                {Qt::Key_F, fit}};
    for (const auto& k : keys) {
        QTest::keyClick(m_form.get(), Qt::Key(k.key));
        EXPECT_EQ(view->zoom(), k.zoom) << k.key;
    }
    m_form->ButtonZoomIn->click();
    EXPECT_EQ(view->zoom(), DotImageView::zoomedIn(fit));
    m_form->ButtonZoomFit->click();
    EXPECT_EQ(view->zoom(), fit);

    // Wheel up at a dot near the middle (one at the edge may not stay: the picture does not
    // scroll past its edge): a larger zoom, and the same dot still under the wheel.
    QWidget* viewport = m_form->ScrollBox->viewport();
    const QPoint at = view->mapTo(viewport, QPoint(110 * fit + fit / 2, 55 * fit + fit / 2));
    QWheelEvent wheel(at, viewport->mapToGlobal(at), {}, QPoint(0, 120), Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &wheel);
    const int zoomed = view->zoom();
    EXPECT_EQ(zoomed, DotImageView::zoomedIn(fit));
    const QPoint dot = view->mapFrom(viewport, at) / zoomed;
    EXPECT_LE(std::abs(dot.x() - 110), 1);
    EXPECT_LE(std::abs(dot.y() - 55), 1);
    // The zoom stays when the gamma changes the dots.
    m_form->TrackBarGamma->setValue(20);
    EXPECT_EQ(view->zoom(), zoomed);
    for (int i = 0; i < 20; ++i)
        m_form->ZoomIn();
    EXPECT_EQ(view->zoom(), DotImageView::kMaxZoom);
    EXPECT_FALSE(m_form->ButtonZoomIn->isEnabled());
}

} // namespace
} // namespace lapido
