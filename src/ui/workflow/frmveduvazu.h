// TfrmVeduvAZU: the "Logo Editor" window around TLogoEditor and its drawing.
#pragma once

#include "geometry/cadonpaintbox.h"
#include "workflow/logoeditor.h"

#include <QDialog>
#include <QImage>
#include <QWidget>

#include <memory>

class QAction;
class QGroupBox;
class QListWidget;
class QMenu;
class QPushButton;
class QStatusBar;

namespace lapido {

// The white paint box the drawing is shown on: it shows the drawing's finished picture and
// forwards size changes and the mouse to the editor.
class CADPaintBoxWidget : public QWidget, public PaintBox {
    Q_OBJECT
public:
    explicit CADPaintBoxWidget(QWidget* parent = nullptr);

    QSize clientSize() const override { return size(); }
    void showBitmap(const QImage& bitmap) override;
    void setCursorShape(Qt::CursorShape shape) override { setCursor(shape); }
    const QImage& bitmap() const { return m_bitmap; }

signals:
    void resized();
    void mouseMoved(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, QPoint pos);
    void mousePressed(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint pos, QPoint globalPos);
    void wheelTurned(int delta);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    QImage m_bitmap;
};

class TfrmVeduvAZU : public QDialog {
    Q_OBJECT
public:
    explicit TfrmVeduvAZU(QWidget* parent = nullptr);
    ~TfrmVeduvAZU() override;

    TLogoEditor& editor() { return *m_editor; }
    TCADOnPaintBox& CADOnPaintBox() { return m_editor->CADOnPaintBox; }
    bool Dirty() const { return m_editor->Dirty; }

    // The layer list as the model has it (shown sorted and checked).
    void refreshLayers();

    QPushButton* butSave = nullptr;
    QPushButton* butOpen = nullptr;
    QPushButton* BitBtnDXF = nullptr;
    QPushButton* BitBtnZoomAll = nullptr;
    QPushButton* BitBtnClose = nullptr;
    QGroupBox* GroupBoxLayers = nullptr;
    QListWidget* CheckListBoxLayers = nullptr;
    CADPaintBoxWidget* PaintBox = nullptr;
    QMenu* PopupMenuCAD = nullptr;
    QAction* mnuCADObjectSurpress = nullptr;
    QStatusBar* StatusBar = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

public slots:
    void reject() override;

private:
    void PaintBoxMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint pos, QPoint globalPos);

    std::unique_ptr<TLogoEditor> m_editor;
};

} // namespace lapido
