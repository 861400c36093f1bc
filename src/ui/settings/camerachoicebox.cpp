// The camera choice box of the settings window's Video page.
#include "ui/settings/camerachoicebox.h"

#include "settings/settingskeys.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>

#include <algorithm>
#include <iterator>

namespace lapido {

namespace {

constexpr CameraKind kKinds[] = {CameraKind::Vendor, CameraKind::GStreamer, CameraKind::GenICam, CameraKind::Simulated};
constexpr QSize kPreview{192, 144};

} // namespace

CameraChoiceBox::CameraChoiceBox(QDialog* dialog, QWidget* parent) : QGroupBox(tr("Camera"), parent)
{
    setObjectName(QStringLiteral("GroupBoxCamera"));
    m_kind = new QComboBox(this);
    m_kind->setObjectName(QStringLiteral("ComboBoxCameraKind"));
    m_kind->addItems({tr("Vendor camera library"), tr("GStreamer pipeline"), tr("GenICam camera"), tr("Simulated camera")});
    m_parameter = new QLineEdit(this);
    m_parameter->setObjectName(QStringLiteral("EditCameraParameter"));
    m_test = new QPushButton(tr("Test"), this);
    m_test->setObjectName(QStringLiteral("ButtonCameraTest"));
    m_result = new QLabel(this);
    m_result->setObjectName(QStringLiteral("LabelCameraTest"));
    m_result->setWordWrap(true);
    m_result->setMinimumWidth(kPreview.width());

    auto* form = new QFormLayout(this);
    form->addRow(tr("Kind"), m_kind);
    auto* row = new QHBoxLayout;
    row->addWidget(m_parameter, 1);
    row->addWidget(m_test);
    form->addRow(tr("Source"), row);
    form->addRow(m_result);
    form->addRow(new QLabel(tr("A new camera is used from the next start of the station."), this));

    connect(m_kind, &QComboBox::currentIndexChanged, this, &CameraChoiceBox::kindChanged);
    connect(m_test, &QPushButton::clicked, this, &CameraChoiceBox::test);
    connect(dialog, &QDialog::accepted, this, [this] { storeCameraChoice(choice()); });
    load();
}

void CameraChoiceBox::showEvent(QShowEvent* event)
{
    // The window is shown again after a Cancel: it shows what is stored, not the last edit.
    load();
    QGroupBox::showEvent(event);
}

void CameraChoiceBox::load()
{
    m_pipeline = keys::read(keys::CameraPipeline);
    m_genicam = keys::read(keys::GenICamCamera);
    const CameraKind stored = storedCameraChoice().kind;
    const QSignalBlocker block(m_kind);
    m_kind->setCurrentIndex(int(std::find(std::begin(kKinds), std::end(kKinds), stored) - std::begin(kKinds)));
    // The edit's old text belongs to no kind now: the stored texts were just read.
    m_shownKind = CameraKind::Vendor;
    kindChanged();
    m_result->clear();
}

void CameraChoiceBox::kindChanged()
{
    // The text on screen belongs to the kind shown until now.
    if (m_shownKind == CameraKind::GStreamer)
        m_pipeline = m_parameter->text();
    else if (m_shownKind == CameraKind::GenICam)
        m_genicam = m_parameter->text();
    m_shownKind = kKinds[std::clamp(m_kind->currentIndex(), 0, 3)];
    const bool takesText = m_shownKind == CameraKind::GStreamer || m_shownKind == CameraKind::GenICam;
    m_parameter->setEnabled(takesText);
    m_parameter->setText(m_shownKind == CameraKind::GStreamer ? m_pipeline
                         : m_shownKind == CameraKind::GenICam ? m_genicam
                                                              : QString());
    m_parameter->setPlaceholderText(m_shownKind == CameraKind::GStreamer
                                        ? tr("v4l2src device=/dev/video0")
                                        : m_shownKind == CameraKind::GenICam ? tr("camera name[,exposure=US][,gain=G][,fps=HZ][,format=Mono8]")
                                                                             : QString());
    m_result->clear();
}

CameraChoice CameraChoiceBox::choice() const
{
    CameraChoice c;
    c.kind = kKinds[std::clamp(m_kind->currentIndex(), 0, 3)];
    if (c.kind == CameraKind::GStreamer || c.kind == CameraKind::GenICam)
        c.parameter = m_parameter->text().trimmed();
    return c;
}

void CameraChoiceBox::test()
{
    m_result->setText(tr("Waiting for a frame..."));
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const CameraGrab grab = grabCameraFrame(choice());
    QApplication::restoreOverrideCursor();
    if (grab.frame.isNull()) {
        m_result->setPixmap({});
        m_result->setText(tr("No frame: %1").arg(grab.why));
        return;
    }
    m_result->setPixmap(QPixmap::fromImage(grab.frame.scaled(kPreview, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    m_result->setToolTip(tr("%1 x %2 pixels").arg(grab.frame.width()).arg(grab.frame.height()));
}

} // namespace lapido
