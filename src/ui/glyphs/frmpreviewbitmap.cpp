// The engraving preview: the photo dithered at engraving resolution with the gamma of the track bar.
#include "ui/glyphs/frmpreviewbitmap.h"

#include "glyphs/glyphphoto.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QVBoxLayout>

#include <algorithm>

namespace lapido {

void SelectionTrackBar::setSelection(int start, int end)
{
    m_selStart = start;
    m_selEnd = end;
    update();
}

void SelectionTrackBar::paintEvent(QPaintEvent* event)
{
    QSlider::paintEvent(event);
    if (m_selStart == m_selEnd)
        return;
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    const int span = groove.width() - handle.width();
    auto x = [&](int value) {
        return groove.x() + handle.width() / 2
            + QStyle::sliderPositionFromValue(minimum(), maximum(), value, span, option.upsideDown);
    };
    QPainter painter(this);
    QColor band = palette().color(QPalette::Highlight);
    band.setAlpha(110);
    const int left = std::min(x(m_selStart), x(m_selEnd));
    const int right = std::max(x(m_selStart), x(m_selEnd));
    painter.fillRect(QRect(left, groove.center().y() - 3, right - left, 6), band);
}

TfrmPreviewBitmap::TfrmPreviewBitmap(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Engraving preview"));
    setMinimumSize(400, 300);
    auto* layout = new QVBoxLayout(this);
    ScrollBox = new QScrollArea(this);
    ScrollBox->setBackgroundRole(QPalette::Dark);
    QPalette black = ScrollBox->palette();
    black.setColor(QPalette::Dark, Qt::black);
    black.setColor(QPalette::Window, Qt::black);
    ScrollBox->setPalette(black);
    ScrollBox->setAutoFillBackground(true);
    ScrollBox->setAlignment(Qt::AlignCenter);
    Image = new QLabel;
    ScrollBox->setWidget(Image);
    ScrollBox->setWidgetResizable(false);
    layout->addWidget(ScrollBox, 1);

    TrackBarGamma = new SelectionTrackBar(Qt::Horizontal, this);
    TrackBarGamma->setRange(5, 25);
    TrackBarGamma->setTickInterval(2);
    TrackBarGamma->setTickPosition(QSlider::TicksBelow);
    TrackBarGamma->setValue(kNeutralPosition);
    TrackBarGamma->setToolTip(QStringLiteral("Image correction"));
    layout->addWidget(TrackBarGamma);
    connect(TrackBarGamma, &QSlider::valueChanged, this, &TfrmPreviewBitmap::TrackBarGammaChange);

    resize(640, 480);
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

void TfrmPreviewBitmap::TrackBarGammaChange()
{
    const int position = TrackBarGamma->value();
    TrackBarGamma->setSelection(std::min(position, kNeutralPosition), std::max(position, kNeutralPosition));
    emit gammaPositionChanged(position);
    if (!GlyphPhoto)
        return;
    // The photo is dithered for marking with its own gamma, so the track bar sets that: the
    // preview shows the dots the marking will engrave.
    GlyphPhoto->Gamma = position / 10.0;
    QImage dots;
    GlyphPhoto->MarkingBitmapAssignTo(&dots);
    Image->setPixmap(QPixmap::fromImage(dots));
    Image->adjustSize();
}

void TfrmPreviewBitmap::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() != QEvent::ActivationChange || !isActiveWindow())
        return;
    if (m_mainPosition) {
        const QSignalBlocker block(TrackBarGamma);
        TrackBarGamma->setValue(m_mainPosition());
    }
    TrackBarGammaChange();
}

} // namespace lapido
