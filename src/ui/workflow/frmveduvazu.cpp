// The logo editor window: buttons, the layer check list, the paint box with its pop-up menu
// and the status bar, over the editor model.
#include "ui/workflow/frmveduvazu.h"

#include <QAction>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace lapido {

CADPaintBoxWidget::CADPaintBoxWidget(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setMinimumSize(200, 150);
}

void CADPaintBoxWidget::showBitmap(const QImage& bitmap)
{
    m_bitmap = bitmap;
    update();
}

void CADPaintBoxWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (!m_bitmap.isNull())
        painter.drawImage(0, 0, m_bitmap);
}

void CADPaintBoxWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    emit resized();
}

void CADPaintBoxWidget::mouseMoveEvent(QMouseEvent* event)
{
    emit mouseMoved(event->buttons(), event->modifiers(), event->position().toPoint());
}

void CADPaintBoxWidget::mousePressEvent(QMouseEvent* event)
{
    emit mousePressed(event->button(), event->modifiers(), event->position().toPoint(),
                      event->globalPosition().toPoint());
}

void CADPaintBoxWidget::wheelEvent(QWheelEvent* event)
{
    emit wheelTurned(event->angleDelta().y());
    event->accept();
}

TfrmVeduvAZU::TfrmVeduvAZU(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Logo Editor"));
    setMinimumSize(500, 350);
    auto* layout = new QVBoxLayout(this);
    auto* buttons = new QHBoxLayout;
    butSave = new QPushButton(QStringLiteral("Save"), this);
    butOpen = new QPushButton(QStringLiteral("Open"), this);
    BitBtnDXF = new QPushButton(QStringLiteral("Import DXF"), this);
    BitBtnZoomAll = new QPushButton(QStringLiteral("Zoom All"), this);
    BitBtnClose = new QPushButton(QStringLiteral("&Close"), this);
    for (QPushButton* b : {butSave, butOpen, BitBtnDXF, BitBtnZoomAll, BitBtnClose}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    buttons->addStretch();
    layout->addLayout(buttons);

    auto* body = new QHBoxLayout;
    GroupBoxLayers = new QGroupBox(QStringLiteral("Layers"), this);
    CheckListBoxLayers = new QListWidget(GroupBoxLayers);
    (new QVBoxLayout(GroupBoxLayers))->addWidget(CheckListBoxLayers);
    GroupBoxLayers->setFixedWidth(160);
    GroupBoxLayers->hide();
    body->addWidget(GroupBoxLayers);
    PaintBox = new CADPaintBoxWidget(this);
    body->addWidget(PaintBox, 1);
    layout->addLayout(body, 1);
    StatusBar = new QStatusBar(this);
    layout->addWidget(StatusBar);

    PopupMenuCAD = new QMenu(this);
    mnuCADObjectSurpress = PopupMenuCAD->addAction(QStringLiteral("Surpress"));
    mnuCADObjectSurpress->setCheckable(true);

    m_editor = std::make_unique<TLogoEditor>(PaintBox, [this](const QString& text) { StatusBar->showMessage(text); });

    connect(butOpen, &QPushButton::clicked, this, [this] {
        m_editor->butOpenClick();
        refreshLayers();
    });
    connect(BitBtnDXF, &QPushButton::clicked, this, [this] {
        m_editor->BitBtnDXFClick();
        refreshLayers();
    });
    connect(butSave, &QPushButton::clicked, this, [this] { m_editor->butSaveClick(); });
    connect(BitBtnZoomAll, &QPushButton::clicked, this, [this] { m_editor->BitBtnZoomAllClick(); });
    connect(BitBtnClose, &QPushButton::clicked, this, &QDialog::close);
    connect(CheckListBoxLayers, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        m_editor->CheckListBoxLayersClick(CheckListBoxLayers->row(item), item->checkState() == Qt::Checked);
    });
    connect(mnuCADObjectSurpress, &QAction::triggered, this, [this] {
        m_editor->mnuCADObjectSurpressClick();
        mnuCADObjectSurpress->setChecked(m_editor->popupMenu().checked);
        mnuCADObjectSurpress->setText(m_editor->popupMenu().caption);
    });
    connect(PaintBox, &CADPaintBoxWidget::resized, this, [this] { m_editor->CADOnPaintBox.Paint(); });
    connect(PaintBox, &CADPaintBoxWidget::mouseMoved, this,
            [this](Qt::MouseButtons b, Qt::KeyboardModifiers m, QPoint p) {
                m_editor->CADOnPaintBox.PaintBoxMouseMove(b, m, p.x(), p.y());
            });
    connect(PaintBox, &CADPaintBoxWidget::mousePressed, this, &TfrmVeduvAZU::PaintBoxMouseDown);
    connect(PaintBox, &CADPaintBoxWidget::wheelTurned, this, [this](int delta) { m_editor->MouseWheel(delta); });
    resize(800, 560);
}

TfrmVeduvAZU::~TfrmVeduvAZU() = default;

void TfrmVeduvAZU::refreshLayers()
{
    const QSignalBlocker block(CheckListBoxLayers);
    CheckListBoxLayers->clear();
    for (const auto& layer : m_editor->layers()) {
        auto* item = new QListWidgetItem(layer.name, CheckListBoxLayers);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(layer.checked ? Qt::Checked : Qt::Unchecked);
    }
    GroupBoxLayers->setVisible(m_editor->layersVisible());
}

void TfrmVeduvAZU::PaintBoxMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint pos,
                                     QPoint globalPos)
{
    const TLogoEditor::PopupMenu menu = m_editor->PaintBoxMouseDown(button, modifiers, pos.x(), pos.y());
    // The menu belongs to the paint box only while an object is picked.
    if (!menu.attached)
        return;
    mnuCADObjectSurpress->setChecked(menu.checked);
    mnuCADObjectSurpress->setText(menu.caption);
    if (button == Qt::RightButton)
        PopupMenuCAD->popup(globalPos);
}

void TfrmVeduvAZU::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    m_editor->FormShow();
    refreshLayers();
}

void TfrmVeduvAZU::reject()
{
    // The frame, "&Close" and Escape all end here (a dialog's close event rejects), so the
    // question is asked once whichever way the window is closed.
    if (m_editor->FormCloseQuery())
        QDialog::reject();
}

} // namespace lapido
