// The "Preview" switch of the main window and the preview's marks over the picture.
#include "ui/main/previewswitch.h"

#include "camera/videooverlay.h"
#include "glyphs/glyph.h"
#include "workflow/station.h"

#include <QCheckBox>
#include <QLabel>
#include <QTimer>

namespace lapido {

namespace {
// A label being typed is previewed once the typing pauses.
constexpr int kSettleMs = 400;
} // namespace

TPreviewSwitch::TPreviewSwitch(TStation& station, std::function<bool()> mayRehearse, QWidget* parent)
    : QObject(parent), m_station(station), m_mayRehearse(std::move(mayRehearse))
{
    m_switch = new QCheckBox(tr("Preview"), parent);
    m_switch->setObjectName(QStringLiteral("CheckBoxPreview"));
    m_switch->setToolTip(tr("Show where the laser will mark and how long it will take"));
    m_time = new QLabel(parent);
    m_time->setObjectName(QStringLiteral("LabelPreviewTime"));
    m_settle = new QTimer(this);
    m_settle->setSingleShot(true);
    m_settle->setInterval(kSettleMs);
    connect(m_settle, &QTimer::timeout, this, &TPreviewSwitch::recompute);
    connect(m_switch, &QCheckBox::toggled, this, &TPreviewSwitch::toggled);
}

bool TPreviewSwitch::isOn() const
{
    return m_switch->isChecked();
}

bool TPreviewSwitch::changePending() const
{
    return m_settle->isActive();
}

void TPreviewSwitch::toggled(bool on)
{
    if (on) {
        recompute();
    } else {
        m_preview = {};
        m_time->clear();
    }
}

void TPreviewSwitch::recompute()
{
    const TAIMState state = m_station.AIMState;
    const bool machineFree = state != TAIMState::aimsMarking && state != TAIMState::aimsHoming;
    if (!machineFree || (m_mayRehearse && !m_mayRehearse())) {
        m_settle->start(); // again once the machine is free
        return;
    }
    // The label is rehearsed at rest even with the switch off: Engrave then starts from this
    // rehearsal instead of making one while the picture stands still.
    TMarkingPreview preview = m_station.PreviewMarking();
    ++m_computes;
    // Taken after the rehearsal, which marks the glyphs and gives their state back. A change
    // noted before it (the switch turned on while the label settled) is in this rehearsal.
    m_inputs = PreviewInputs(m_station);
    m_settle->stop();
    if (!isOn())
        return;
    m_preview = std::move(preview);
    if (m_preview.markable)
        m_time->setText(tr("Estimated time: %1 s").arg(m_preview.seconds, 0, 'f', 1));
    else
        m_time->setText(tr("Not markable: %1").arg(m_preview.problem));
}

void TPreviewSwitch::paint(QImage& buffer, const TVideoTransform& camera)
{
    // While marking the label's state changes by itself; the preview waits for the run's end.
    if (m_station.AIMState != TAIMState::aimsMarking && !m_settle->isActive() && PreviewInputs(m_station) != m_inputs)
        m_settle->start();
    if (!isOn())
        return;
    PaintPreviewMarks(buffer, m_preview.marks, m_station, camera, &m_marksLayer, std::uint64_t(m_computes));
}

} // namespace lapido
