// The laser record of the simulated controller written out: CSV of the marks and a picture of them.
#include "sim/dmcsimulator.h"
#include "platform/savefile.h"


#include <algorithm>
#include <cmath>

namespace lapido {

bool DmcSimulator::writeMarksCsv(const QString& path, QString* error) const
{
    return lapido::writeMarksCsv(marks(), path, error);
}

QImage DmcSimulator::marksImage(double pixelsPerMm, double marginMm) const
{
    return lapido::marksImage(marks(), pixelsPerMm, marginMm);
}

bool DmcSimulator::writeMarksPng(const QString& path, double pixelsPerMm, QString* error) const
{
    return lapido::writeMarksPng(marks(), path, pixelsPerMm, error);
}

bool writeMarksCsv(std::span<const LaserMark> all, const QString& path, QString* error)
{
    QByteArray text = "x_mm,y_mm,z_mm,time_us,kind\n";
    for (const LaserMark& m : all) {
        text += QByteArray::number(m.xMm, 'f', 6) + ',' + QByteArray::number(m.yMm, 'f', 6) + ',' +
                QByteArray::number(m.zMm, 'f', 6) + ',' + QByteArray::number(static_cast<qlonglong>(m.timeUs)) +
                ',' + (m.kind == LaserMarkKind::Pulse ? "pulse" : "gated") + '\n';
    }
    const QString why = writeWholeFile(path, QByteArrayView(text));
    if (!why.isEmpty() && error)
        *error = why;
    return why.isEmpty();
}

QImage marksImage(std::span<const LaserMark> all, double pixelsPerMm, double marginMm)
{
    if (all.empty() || !(pixelsPerMm > 0))
        return {};
    double minX = all.front().xMm, maxX = minX, minY = all.front().yMm, maxY = minY;
    for (const LaserMark& m : all) {
        minX = std::min(minX, m.xMm);
        maxX = std::max(maxX, m.xMm);
        minY = std::min(minY, m.yMm);
        maxY = std::max(maxY, m.yMm);
    }
    minX -= marginMm;
    minY -= marginMm;
    maxX += marginMm;
    maxY += marginMm;
    // A picture of a few square metres at this scale is a mistake, not a stone.
    constexpr double kMaxPixels = 16384;
    // Checked in floating point first: the product can lie beyond any int.
    const double wide = std::ceil((maxX - minX) * pixelsPerMm) + 1;
    const double high = std::ceil((maxY - minY) * pixelsPerMm) + 1;
    if (!(wide <= kMaxPixels && high <= kMaxPixels))
        return {};
    const int w = static_cast<int>(wide);
    const int h = static_cast<int>(high);
    QImage img(w, h, QImage::Format_Grayscale8);
    img.fill(255);
    for (const LaserMark& m : all) {
        const int px = static_cast<int>(std::lround((m.xMm - minX) * pixelsPerMm));
        const int py = h - 1 - static_cast<int>(std::lround((m.yMm - minY) * pixelsPerMm));
        if (px >= 0 && px < w && py >= 0 && py < h)
            img.scanLine(py)[px] = 0;
    }
    return img;
}

bool writeMarksPng(std::span<const LaserMark> all, const QString& path, double pixelsPerMm, QString* error)
{
    const QImage img = marksImage(all, pixelsPerMm);
    if (img.isNull()) {
        if (error)
            *error = QStringLiteral("no marks to draw at this scale");
        return false;
    }
    const QString why = writeWholeFile(path, [&img](QIODevice& device, QString*) { return img.save(&device, "PNG"); });
    if (!why.isEmpty() && error)
        *error = why;
    return why.isEmpty();
}

} // namespace lapido
