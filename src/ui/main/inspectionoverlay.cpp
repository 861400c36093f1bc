// The inspection in the main window: picture, simulator faults and the overlay of the verdict.
#include "ui/main/inspectionoverlay.h"

#include "camera/inspectionpicture.h"
#include "camera/simcamera.h"
#include "camera/ueye.h"
#include "camera/videooverlay.h"
#include "glyphs/glyph.h"
#include "platform/settingsstore.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "sim/dmcsimulator.h"
#include "sim/lasermarkfaults.h"
#include "workflow/markingpreview.h"
#include "workflow/station.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <optional>

namespace lapido {

namespace {

double storedNumber(const keys::TextKey& key, double low, double high, double fallback)
{
    bool ok = false;
    const double v = keys::read(key).trimmed().replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
    return ok && std::isfinite(v) && v >= low && v <= high ? v : fallback;
}

// The faults the settings give the simulated machine, armed with the run's plan: the pulses
// of the glyph to leave out and the number the drift spreads over are the plan's. A real
// controller never sees them; a real camera ignores the defocus.
void armSimulatorFaults(const TMarkingPreview& plan)
{
    LaserMarkFaults faults;
    double defocus = 1;
    try {
        faults.misfireRate = storedNumber(keys::SimMisfireRate, 0, 1, 0);
        faults.driftUm = storedNumber(keys::SimDriftUm, -1000, 1000, 0);
        defocus = storedNumber(keys::SimDefocus, 1, 20, 1);
        const int skip = keys::read(keys::SimSkipGlyph);
        int n = 0;
        for (const TMarkingPreview::Glyph& g : plan.glyphs)
            if (g.count > 0 && ++n == skip)
                faults.skipped.push_back({g.first, g.count});
    } catch (const SettingsStoreError&) {
        return;
    }
    faults.driftOverPulses = plan.marks.size();
    if (const auto sim = currentDmcSimulator())
        sim->setMarkFaults(faults);
    SimulatedCameraOptions camera = simulatedCameraOptions();
    if (camera.markDefocus != defocus) {
        camera.markDefocus = defocus;
        setSimulatedCameraOptions(camera);
    }
}

} // namespace

TInspectionOverlay::TInspectionOverlay(TStation& station, std::function<TuEye*()> camera)
    : m_station(station), m_camera(std::move(camera))
{
    m_station.services().inspectionPicture = [this] { return picture(); };
    m_station.services().runPlanned = [](const TMarkingPreview& plan) { armSimulatorFaults(plan); };
}

QImage TInspectionOverlay::picture() const
{
    TuEye* camera = m_camera ? m_camera() : nullptr;
    if (!camera || !camera->IsPresent())
        return {};
    QImage frame(kVideoBufferWidth, kVideoBufferHeight, QImage::Format_RGB32);
    // The simulated camera's live picture is drawn from whole pixels, which places marks to half
    // a pixel (nearly 2 µm at the usual scale); the inspection's picture is filmed through the
    // optics the settings describe, to a fraction of a pixel, as lapidograph-cli films it.
    // The live scene comes back afterwards.
    struct LiveScene {
        std::optional<SimulatedCameraOptions> options;
        ~LiveScene()
        {
            if (options)
                setSimulatedCameraOptions(*options);
        }
    } live;
    if (camera->library() && camera->library()->isSimulated()) {
        live.options = simulatedCameraOptions();
        SimulatedCameraOptions filmed = *live.options;
        filmed.optics = inspectionOptics(Settings());
        setSimulatedCameraOptions(filmed);
    }
    // The first copy is the frame asked for at the last tick, while the table may still have
    // been on its way back; the second one is filmed with the table at the reference.
    camera->Draw(frame, false);
    camera->Draw(frame, false);
    return frame;
}

void TInspectionOverlay::paint(QImage& buffer, const TVideoTransform& view) const
{
    const auto& inspection = m_station.LastInspection();
    if (!inspection || m_station.AIMState != TAIMState::aimsInspecting || !m_station.ShowOverlay)
        return;
    const InspectionView shot = InspectionView::fromSettings(Settings(), m_station.LastInspectionPicture().size(),
                                                             TCoord{m_station.MarkingReference_X, m_station.MarkingReference_Y});
    auto onScreen = [&](const QPointF& px) {
        const TCoord mm = shot.toMm(px);
        return QPointF(view.toPixel(mm.X - m_station.AxisPosition_X, mm.Y - m_station.AxisPosition_Y));
    };
    const QColor good(40, 200, 60), bad(235, 40, 40);
    QPainter p(&buffer);
    p.setRenderHint(QPainter::Antialiasing, false);
    QFont font = p.font();
    font.setPixelSize(12);
    p.setFont(font);
    double textY = 0;
    QRectF label;
    for (const GlyphInspection& g : inspection->glyphs) {
        const QRectF box = QRectF(onScreen(g.boxPx.topLeft()), onScreen(g.boxPx.bottomRight())).normalized().adjusted(-2, -2, 2, 2);
        label = label.isNull() ? box : label.united(box);
        p.setPen(QPen(g.ok() ? good : bad, g.ok() ? 1 : 2));
        p.setBrush(Qt::NoBrush);
        p.drawRect(box);
        // A 2D code carries its grade and what it read above its box.
        if (g.code && g.code->graded)
            p.drawText(QPointF(box.left(), box.top() - 4),
                       QStringLiteral("grade %1").arg(QChar(g.code->overall))
                           + (g.code->decoded ? QStringLiteral(": ") + g.code->text : QStringLiteral(": does not read")));
    }
    // Reasons under the label, one line per failed glyph, so that they never overlap.
    textY = label.bottom() + 14;
    for (const GlyphInspection& g : inspection->glyphs) {
        if (g.ok())
            continue;
        p.setPen(bad);
        p.drawText(QPointF(label.left(), textY), g.line());
        textY += 14;
    }
    for (const QString& reason : inspection->reasons) {
        p.setPen(bad);
        p.drawText(QPointF(label.left(), textY), reason);
        textY += 14;
    }
    const ReadBack& read = inspection->readBack;
    if (read.attempted || !read.why.isEmpty()) {
        p.setPen(read.matches() ? good : bad);
        p.drawText(QPointF(label.right() + 8, label.center().y() + 4), read.line());
    }
    p.setPen(inspection->ok() ? good : bad);
    p.drawText(QPointF(label.left(), label.top() - 6),
               inspection->ok() ? QStringLiteral("Inspection: ok") : QStringLiteral("Inspection failed"));
}

} // namespace lapido
