// TfrmPreviewBitmap: the "Engraving preview" window, the photo's dots at engraving resolution.
#pragma once

#include <QDialog>
#include <QSlider>

#include <functional>

class QLabel;
class QScrollArea;
class QToolButton;

namespace lapido {

class TGlyphPhoto;

// A track bar that shows a selected band between two positions, as the gamma track bars do
// between the current position and the neutral one.
class SelectionTrackBar : public QSlider {
    Q_OBJECT
public:
    using QSlider::QSlider;
    void setSelection(int start, int end);
    int selStart() const { return m_selStart; }
    int selEnd() const { return m_selEnd; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_selStart = 0;
    int m_selEnd = 0;
};

// The dots, each drawn as a square block of zoom x zoom screen pixels (never smoothed, so that
// every dot stays exactly where and what it is), over a grey check that both black and white
// dots stand out from.
class DotImageView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMaxZoom = 64;

    using QWidget::QWidget;
    void setDots(const QImage& dots);
    const QImage& dots() const { return m_dots; }
    int zoom() const { return m_zoom; }
    // Held to 1..kMaxZoom; the widget takes the size of the zoomed dots.
    void setZoom(int zoom);
    QSize sizeHint() const override;

    // The steps of the zoom: whole factors, so that each dot stays a square of equal blocks.
    static int zoomedIn(int zoom);
    static int zoomedOut(int zoom);
    // The largest whole factor at which dots of size dots fit into room (1 at least).
    static int fittingZoom(QSize dots, QSize room);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_dots;
    int m_zoom = 1;
};

class TfrmPreviewBitmap : public QDialog {
    Q_OBJECT
public:
    // The track bar's neutral position (gamma 1.5).
    static constexpr int kNeutralPosition = 15;

    explicit TfrmPreviewBitmap(QWidget* parent = nullptr);

    // The photo to preview, set by the opener (not owned).
    TGlyphPhoto* GlyphPhoto = nullptr;
    // Where activation reads the main window's gamma track bar position from.
    void setMainGammaPosition(std::function<int()> source) { m_mainPosition = std::move(source); }
    // The change handler: selection band, the main window's track bar, the dot image.
    void TrackBarGammaChange();

    // Zoom about a point of the scroll box's viewport (the wheel's), or its middle.
    void zoomTo(int zoom, QPoint anchor = {-1, -1});
    void ZoomIn() { zoomTo(DotImageView::zoomedIn(Image->zoom())); }
    void ZoomOut() { zoomTo(DotImageView::zoomedOut(Image->zoom())); }
    // The largest zoom at which the whole picture shows.
    void ZoomToFit();

    SelectionTrackBar* TrackBarGamma = nullptr;
    QScrollArea* ScrollBox = nullptr;
    DotImageView* Image = nullptr;
    QToolButton* ButtonZoomOut = nullptr;
    QToolButton* ButtonZoomIn = nullptr;
    QToolButton* ButtonZoomFit = nullptr;
    QLabel* LabelZoom = nullptr;

signals:
    // The main window's gamma track bar is to take this position.
    void gammaPositionChanged(int position);

protected:
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<int()> m_mainPosition;
    bool m_fitted = false; // the first picture is shown whole; later ones keep the zoom
};

} // namespace lapido
