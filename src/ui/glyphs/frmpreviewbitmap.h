// TfrmPreviewBitmap: the "Engraving preview" window, the photo's dots at engraving resolution.
#pragma once

#include <QDialog>
#include <QSlider>

#include <functional>

class QLabel;
class QScrollArea;

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

    SelectionTrackBar* TrackBarGamma = nullptr;
    QScrollArea* ScrollBox = nullptr;
    QLabel* Image = nullptr;

signals:
    // The main window's gamma track bar is to take this position.
    void gammaPositionChanged(int position);

protected:
    void changeEvent(QEvent* event) override;

private:
    std::function<int()> m_mainPosition;
};

} // namespace lapido
