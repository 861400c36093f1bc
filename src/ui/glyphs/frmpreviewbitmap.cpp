// The engraving preview: the photo dithered at engraving resolution with the gamma of the track bar.
#include "ui/glyphs/frmpreviewbitmap.h"

#include "glyphs/glyphphoto.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QScrollBar>
#include <QToolButton>
#include <QWheelEvent>
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

void DotImageView::setDots(const QImage& dots)
{
    m_dots = dots;
    resize(sizeHint());
    update();
}

void DotImageView::setZoom(int zoom)
{
    m_zoom = std::clamp(zoom, 1, kMaxZoom);
    resize(sizeHint());
    update();
}

QSize DotImageView::sizeHint() const
{
    return m_dots.isNull() ? QSize(0, 0) : m_dots.size() * m_zoom;
}

namespace {
constexpr int kZoomSteps[] = {1, 2, 3, 4, 6, 8, 12, 16, 24, 32, 48, DotImageView::kMaxZoom};
}

int DotImageView::zoomedIn(int zoom)
{
    for (const int step : kZoomSteps)
        if (step > zoom)
            return step;
    return kMaxZoom;
}

int DotImageView::zoomedOut(int zoom)
{
    int lower = 1;
    for (const int step : kZoomSteps)
        if (step < zoom)
            lower = step;
    return lower;
}

int DotImageView::fittingZoom(QSize dots, QSize room)
{
    if (dots.isEmpty() || room.isEmpty())
        return 1;
    return std::clamp(std::min(room.width() / dots.width(), room.height() / dots.height()), 1, kMaxZoom);
}

void DotImageView::paintEvent(QPaintEvent*)
{
    if (m_dots.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(QRect(QPoint(0, 0), m_dots.size() * m_zoom), m_dots);
}

namespace {

// Two greys apart from black and from white, in squares, so that the picture's edge and dots
// of any shade show against them.
QBrush checkBrush()
{
    QPixmap check(16, 16);
    check.fill(QColor(0x80, 0x80, 0x80));
    QPainter p(&check);
    p.fillRect(0, 0, 8, 8, QColor(0xa0, 0xa0, 0xa0));
    p.fillRect(8, 8, 8, 8, QColor(0xa0, 0xa0, 0xa0));
    return QBrush(check);
}

} // namespace

TfrmPreviewBitmap::TfrmPreviewBitmap(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Engraving preview"));
    setMinimumSize(400, 300);
    auto* layout = new QVBoxLayout(this);
    ScrollBox = new QScrollArea(this);
    QPalette check = ScrollBox->palette();
    check.setBrush(QPalette::Window, checkBrush());
    check.setBrush(QPalette::Dark, checkBrush());
    ScrollBox->setPalette(check);
    ScrollBox->setBackgroundRole(QPalette::Window);
    ScrollBox->viewport()->setPalette(check);
    ScrollBox->viewport()->setBackgroundRole(QPalette::Window);
    ScrollBox->viewport()->setAutoFillBackground(true);
    ScrollBox->setAlignment(Qt::AlignCenter);
    Image = new DotImageView;
    ScrollBox->setWidget(Image);
    ScrollBox->setWidgetResizable(false);
    // The wheel zooms about the point under it, over the picture and around it.
    ScrollBox->viewport()->installEventFilter(this);
    layout->addWidget(ScrollBox, 1);

    auto* zoomRow = new QHBoxLayout;
    auto zoomButton = [&](const QString& text, const QString& tip) {
        auto* b = new QToolButton(this);
        b->setText(text);
        b->setToolTip(tip);
        b->setFocusPolicy(Qt::NoFocus);
        zoomRow->addWidget(b);
        return b;
    };
    ButtonZoomOut = zoomButton(QStringLiteral("\u2212"), tr("Zoom out (-, wheel)"));
    ButtonZoomIn = zoomButton(QStringLiteral("+"), tr("Zoom in (+, wheel)"));
    ButtonZoomFit = zoomButton(tr("Fit"), tr("The whole picture (F)"));
    LabelZoom = new QLabel(this);
    zoomRow->addWidget(LabelZoom);
    zoomRow->addStretch();
    connect(ButtonZoomOut, &QToolButton::clicked, this, &TfrmPreviewBitmap::ZoomOut);
    connect(ButtonZoomIn, &QToolButton::clicked, this, &TfrmPreviewBitmap::ZoomIn);
    connect(ButtonZoomFit, &QToolButton::clicked, this, &TfrmPreviewBitmap::ZoomToFit);
    layout->addLayout(zoomRow);

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
    Image->setDots(dots);
    if (!m_fitted && !dots.isNull()) {
        m_fitted = true;
        ZoomToFit();
    }
    zoomTo(Image->zoom());
}

void TfrmPreviewBitmap::zoomTo(int zoom, QPoint anchor)
{
    QWidget* viewport = ScrollBox->viewport();
    if (anchor.x() < 0)
        anchor = viewport->rect().center();
    // The dot under the anchor stays under it.
    const int old = Image->zoom();
    const QPointF dot = QPointF(Image->mapFrom(viewport, anchor)) / old;
    Image->setZoom(zoom);
    LabelZoom->setText(QStringLiteral("%1 %").arg(Image->zoom() * 100));
    ButtonZoomIn->setEnabled(Image->zoom() < DotImageView::kMaxZoom);
    ButtonZoomOut->setEnabled(Image->zoom() > 1);
    ScrollBox->horizontalScrollBar()->setValue(int(std::lround(dot.x() * Image->zoom() - anchor.x())));
    ScrollBox->verticalScrollBar()->setValue(int(std::lround(dot.y() * Image->zoom() - anchor.y())));
}

void TfrmPreviewBitmap::ZoomToFit()
{
    // The room without scroll bars, less a few pixels of the check around the picture.
    const QSize room = ScrollBox->maximumViewportSize() - QSize(8, 8);
    zoomTo(DotImageView::fittingZoom(Image->dots().size(), room));
}

void TfrmPreviewBitmap::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        ZoomIn();
        return;
    case Qt::Key_Minus:
        ZoomOut();
        return;
    case Qt::Key_F:
        ZoomToFit();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

bool TfrmPreviewBitmap::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ScrollBox->viewport() && event->type() == QEvent::Wheel) {
        auto* wheel = static_cast<QWheelEvent*>(event);
        const int steps = wheel->angleDelta().y();
        if (steps != 0) {
            const QPoint at = wheel->position().toPoint();
            zoomTo(steps > 0 ? DotImageView::zoomedIn(Image->zoom()) : DotImageView::zoomedOut(Image->zoom()), at);
        }
        return true;
    }
    return QDialog::eventFilter(watched, event);
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
