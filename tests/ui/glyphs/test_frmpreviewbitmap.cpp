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
    QImage shown() const { return m_form->Image->pixmap().toImage().convertToFormat(QImage::Format_Grayscale8); }
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

} // namespace
} // namespace lapido
