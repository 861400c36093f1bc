// Reading a 2D code back from the camera picture (zxing-cpp) and grading it: modules sampled
// where the plan put them, the dots of a module joined first as a reader of dot-marked codes does.
#include "inspection/codegrade.h"

#include "inspection/inspection.h"

// The reader's texts as UTF-8 (its wide-string texts are on their way out).
#define ZX_USE_UTF8 1
#include <ZXing/DecodeHints.h>
#include <ZXing/ReadBarcode.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>

namespace lapido {

namespace {

char worst(std::initializer_list<char> grades)
{
    // Letters run from A (best) to F (fail): the worst is the latest.
    return *std::max_element(grades.begin(), grades.end());
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    const auto mid = v.begin() + std::ptrdiff_t(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

float sample(const cv::Mat& m, double x, double y)
{
    const int x0 = std::clamp(int(std::floor(x)), 0, m.cols - 2), y0 = std::clamp(int(std::floor(y)), 0, m.rows - 2);
    const float fx = float(std::clamp(x - x0, 0.0, 1.0)), fy = float(std::clamp(y - y0, 0.0, 1.0));
    const float* r0 = m.ptr<float>(y0);
    const float* r1 = m.ptr<float>(y0 + 1);
    return (r0[x0] * (1 - fx) + r0[x0 + 1] * fx) * (1 - fy) + (r1[x0] * (1 - fx) + r1[x0 + 1] * fx) * fy;
}

// The fixed patterns a reader locates the symbol by, as segments of (row, column) with the
// shade each module must have.
struct FixedModule {
    int row, col;
    bool dark;
};
std::vector<std::vector<FixedModule>> fixedSegments(const PlannedCode& c)
{
    std::vector<std::vector<FixedModule>> segments;
    if (c.qr) {
        // Each finder square with its light separator inside the symbol, and the two timing lines.
        const int n = c.rows;
        for (const auto& [r0, c0] : {std::pair{0, 0}, std::pair{0, n - 7}, std::pair{n - 7, 0}}) {
            std::vector<FixedModule> seg;
            for (int r = r0 - 1; r <= r0 + 7; ++r)
                for (int col = c0 - 1; col <= c0 + 7; ++col) {
                    if (r < 0 || col < 0 || r >= n || col >= n)
                        continue;
                    const int dr = r - r0, dc = col - c0;
                    const bool ring = dr == -1 || dr == 7 || dc == -1 || dc == 7;
                    const bool dark = !ring && (dr == 0 || dr == 6 || dc == 0 || dc == 6
                                                || (dr >= 2 && dr <= 4 && dc >= 2 && dc <= 4));
                    seg.push_back({r, col, dark});
                }
            segments.push_back(std::move(seg));
        }
        std::vector<FixedModule> rowTiming, colTiming;
        for (int i = 8; i < n - 8; ++i) {
            rowTiming.push_back({6, i, i % 2 == 0});
            colTiming.push_back({i, 6, i % 2 == 0});
        }
        segments.push_back(std::move(rowTiming));
        segments.push_back(std::move(colTiming));
        return segments;
    }
    // Data Matrix: the solid L on the left and at the bottom, the clock tracks on the top and right.
    std::vector<FixedModule> left, bottom, top, right;
    for (int r = 0; r < c.rows; ++r) {
        left.push_back({r, 0, true});
        right.push_back({r, c.cols - 1, (c.rows - 1 - r) % 2 == 0});
    }
    for (int col = 0; col < c.cols; ++col) {
        bottom.push_back({c.rows - 1, col, true});
        top.push_back({0, col, col % 2 == 0});
    }
    return {left, bottom, top, right};
}

struct Decoded {
    bool ok = false;
    QString text;
};

Decoded decode(const cv::Mat& image, bool qr, double modulePx)
{
    cv::Mat bytes;
    image.convertTo(bytes, CV_8U);
    // The reader finds symbols best at a few pixels per module: small modules are enlarged
    // smoothly, large ones reduced (at a dozen pixels a module it misses finder patterns).
    const double factor = 5 / std::max(modulePx, 0.5);
    if (std::abs(factor - 1) > 0.2)
        cv::resize(bytes, bytes, cv::Size(), factor, factor, factor > 1 ? cv::INTER_LINEAR : cv::INTER_AREA);
    if (!bytes.isContinuous())
        bytes = bytes.clone();
    ZXing::DecodeHints hints;
    hints.setFormats(qr ? ZXing::BarcodeFormat::QRCode : ZXing::BarcodeFormat::DataMatrix);
    hints.setTryHarder(true);
    hints.setTryRotate(false);
    const ZXing::ImageView view(bytes.data, bytes.cols, bytes.rows, ZXing::ImageFormat::Lum);
    const ZXing::Result result = ZXing::ReadBarcode(view, hints);
    if (!result.isValid())
        return {};
    return {true, QString::fromStdString(result.text())};
}

} // namespace

char contrastGradeOf(double cc)
{
    return cc >= 0.30 ? 'A' : cc >= 0.25 ? 'B' : cc >= 0.20 ? 'C' : cc >= 0.15 ? 'D' : 'F';
}

char fixedPatternGradeOf(int damaged)
{
    return damaged <= 0 ? 'A' : damaged == 1 ? 'B' : damaged == 2 ? 'C' : damaged == 3 ? 'D' : 'F';
}

char axialGradeOf(double an)
{
    return an <= 0.06 ? 'A' : an <= 0.08 ? 'B' : an <= 0.10 ? 'C' : an <= 0.12 ? 'D' : 'F';
}

char gridGradeOf(double gn)
{
    return gn <= 0.38 ? 'A' : gn <= 0.50 ? 'B' : gn <= 0.63 ? 'C' : gn <= 0.75 ? 'D' : 'F';
}

QString CodeGrade::line() const
{
    if (!graded)
        return QStringLiteral("not graded (outside the picture)");
    QString s = QStringLiteral("grade %1 (decode %2, cell contrast %3 %4 %, fixed pattern %5, axial nonuniformity %6 %7, "
                               "grid nonuniformity %8 %9)")
                    .arg(QChar(overall))
                    .arg(QChar(decodeGrade))
                    .arg(QChar(contrastGrade))
                    .arg(std::lround(cellContrast * 100))
                    .arg(QChar(fixedPatternGrade))
                    .arg(QChar(axialGrade))
                    .arg(axialNonuniformity, 0, 'f', 2)
                    .arg(QChar(gridGrade))
                    .arg(gridNonuniformity, 0, 'f', 2);
    s += decoded ? QStringLiteral(", reads \"") + text + QStringLiteral("\"") : QStringLiteral(", does not read");
    return s;
}

CodeGrade gradeCode(const PlannedCode& code, const QImage& picture, const InspectionView& view, const TCoord& offsetUm,
                    double dotUm)
{
    CodeGrade g;
    if (picture.isNull() || code.rows <= 0 || code.cols <= 0
        || code.dark.size() != std::size_t(code.rows) * std::size_t(code.cols))
        return g;
    const TCoord shift{offsetUm.X / 1000.0, offsetUm.Y / 1000.0};
    const auto centreMm = [&](double r, double c) {
        return TCoord{code.originMm.X + c * code.colStepMm.X + r * code.rowStepMm.X + shift.X,
                      code.originMm.Y + c * code.colStepMm.Y + r * code.rowStepMm.Y + shift.Y};
    };
    const QPointF p00 = view.toPixel(centreMm(0, 0));
    const QPointF colPx = view.toPixel(centreMm(0, 1)) - p00;
    const QPointF rowPx = view.toPixel(centreMm(1, 0)) - p00;
    const double modulePx = (std::hypot(colPx.x(), colPx.y()) + std::hypot(rowPx.x(), rowPx.y())) / 2;
    if (!(modulePx > 0.5))
        return g;

    // The symbol with its quiet zone must lie in the picture.
    const double reach = code.quietModules + 0.5;
    QRectF box;
    for (const auto& [r, c] : {std::pair{-reach, -reach}, std::pair{-reach, code.cols - 1 + reach},
                               std::pair{code.rows - 1 + reach, -reach}, std::pair{code.rows - 1 + reach, code.cols - 1 + reach}}) {
        const QPointF p = view.toPixel(centreMm(r, c));
        box = box.isNull() ? QRectF(p, QSizeF(0.001, 0.001)) : box.united(QRectF(p, QSizeF(0.001, 0.001)));
    }
    const cv::Rect area(int(std::floor(box.left())), int(std::floor(box.top())), int(std::ceil(box.width())) + 1,
                        int(std::ceil(box.height())) + 1);
    if (area.x < 0 || area.y < 0 || area.x + area.width > picture.width() || area.y + area.height > picture.height()
        || area.width < 4 || area.height < 4)
        return g;
    g.graded = true;

    const QImage greyImage = picture.copy(area.x, area.y, area.width, area.height).convertToFormat(QImage::Format_Grayscale8);
    const cv::Mat wrapped(greyImage.height(), greyImage.width(), CV_8UC1, const_cast<uchar*>(greyImage.constBits()),
                          std::size_t(greyImage.bytesPerLine()));
    cv::Mat grey;
    wrapped.convertTo(grey, CV_32F);

    // Join the marks of a module into one dark square: each mark grows by what separates its
    // reach from the module's edge, and by a little more, so that no seam of light is left
    // between neighbouring dark modules (a light module between two dark ones keeps most of it).
    const double pxPerUm = modulePx / code.moduleUm;
    const double growUm = std::max(0.0, (code.moduleUm - 2 * code.pulseSpanUm - dotUm) / 2);
    const int grow = int(std::lround(growUm * pxPerUm + 0.75));
    cv::Mat joined;
    if (grow > 0)
        cv::erode(grey, joined, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(2 * grow + 1, 2 * grow + 1)));
    else
        joined = grey;

    const QPointF origin(area.x, area.y);

    // Where the modules really are. Marks are found by the centroid of their darkness around
    // where the grid puts them; the grid (least squares over column and row numbers, in mm) is
    // fitted first to the modules near the symbol's middle and then to ever more of them, so that
    // a code marked stretched or sheared is followed out to its edges.
    // The shades of marks and of the polish, from the modules where the plan puts them: the
    // darkest pixel near a dark module's centre, the middle of a light one.
    std::vector<double> markShades, polishShades;
    {
        const int core = std::max(1, int(std::lround(0.3 * modulePx)));
        for (int r = 0; r < code.rows; ++r)
            for (int c = 0; c < code.cols; ++c) {
                const QPointF p = view.toPixel(centreMm(r, c)) - origin;
                const int cx = int(std::lround(p.x())), cy = int(std::lround(p.y()));
                if (!code.at(r, c)) {
                    polishShades.push_back(sample(grey, p.x(), p.y()));
                    continue;
                }
                double darkest = 1e9;
                for (int y = std::max(0, cy - core); y <= std::min(grey.rows - 1, cy + core); ++y)
                    for (int x = std::max(0, cx - core); x <= std::min(grey.cols - 1, cx + core); ++x)
                        darkest = std::min(darkest, double(grey.at<float>(y, x)));
                markShades.push_back(darkest);
            }
    }
    const double markLevel = (median(markShades) + median(polishShades)) / 2;
    std::array<double, 3> fitX{code.originMm.X + shift.X, code.colStepMm.X, code.rowStepMm.X};
    std::array<double, 3> fitY{code.originMm.Y + shift.Y, code.colStepMm.Y, code.rowStepMm.Y};
    const auto fittedPx = [&](double r, double c) {
        return view.toPixel(TCoord{fitX[0] + fitX[1] * c + fitX[2] * r, fitY[0] + fitY[1] * c + fitY[2] * r}) - origin;
    };
    struct Centroid {
        double col, row, xMm, yMm;
    };
    std::vector<Centroid> found;
    const auto centroids = [&](double radius) {
        found.clear();
        const double rc = (code.rows - 1) / 2.0, cc = (code.cols - 1) / 2.0;
        const int half = std::max(1, int(std::floor(0.45 * modulePx)));
        const int core = std::max(0, int(std::floor(0.3 * modulePx)));
        for (int r = 0; r < code.rows; ++r)
            for (int c = 0; c < code.cols; ++c) {
                if (!code.at(r, c) || std::abs(r - rc) > radius || std::abs(c - cc) > radius)
                    continue;
                const QPointF p = fittedPx(r, c);
                const int cx = int(std::lround(p.x())), cy = int(std::lround(p.y()));
                double sw = 0, sx = 0, sy = 0;
                bool marked = false; // a mark near the middle: a missing one is no evidence of place
                for (int y = cy - half; y <= cy + half; ++y)
                    for (int x = cx - half; x <= cx + half; ++x) {
                        if (x < 0 || y < 0 || x >= grey.cols || y >= grey.rows)
                            continue;
                        const double v = grey.at<float>(y, x);
                        const double w = std::max(0.0, markLevel - v);
                        sw += w;
                        sx += w * x;
                        sy += w * y;
                        marked = marked || (w > 0 && std::abs(x - cx) <= core && std::abs(y - cy) <= core);
                    }
                if (sw <= 0 || !marked)
                    continue;
                const TCoord mm = view.toMm(QPointF(sx / sw, sy / sw) + origin);
                found.push_back({double(c), double(r), mm.X, mm.Y});
            }
    };
    const auto fit = [&]() {
        if (found.size() < 6)
            return false;
        cv::Mat A(int(found.size()), 3, CV_64F), bx(int(found.size()), 1, CV_64F), by(int(found.size()), 1, CV_64F);
        for (int i = 0; i < int(found.size()); ++i) {
            const Centroid& f = found[std::size_t(i)];
            A.at<double>(i, 0) = 1;
            A.at<double>(i, 1) = f.col;
            A.at<double>(i, 2) = f.row;
            bx.at<double>(i) = f.xMm;
            by.at<double>(i) = f.yMm;
        }
        cv::Mat ax, ay;
        if (!cv::solve(A, bx, ax, cv::DECOMP_SVD) || !cv::solve(A, by, ay, cv::DECOMP_SVD))
            return false;
        for (int k = 0; k < 3; ++k) {
            fitX[std::size_t(k)] = ax.at<double>(k);
            fitY[std::size_t(k)] = ay.at<double>(k);
        }
        return true;
    };
    bool fitted = false;
    for (const double radius : {3.0, 6.0, 12.0, 1e9}) {
        centroids(radius);
        fitted = fit() || fitted;
    }
    centroids(1e9);
    if (fitted && found.size() >= 6) {
        const double colPitch = std::hypot(fitX[1], fitY[1]);
        const double rowPitch = std::hypot(fitX[2], fitY[2]);
        const double pitch = (colPitch + rowPitch) / 2;
        if (pitch > 0) {
            g.axialNonuniformity = std::abs(colPitch - rowPitch) / pitch;
            for (const Centroid& f : found) {
                const double fx = fitX[0] + fitX[1] * f.col + fitX[2] * f.row;
                const double fy = fitY[0] + fitY[1] * f.col + fitY[2] * f.row;
                g.gridNonuniformity = std::max(g.gridNonuniformity, std::hypot(f.xMm - fx, f.yMm - fy) / pitch);
            }
            g.axialGrade = axialGradeOf(g.axialNonuniformity);
            g.gridGrade = gridGradeOf(g.gridNonuniformity);
        }
    }

    // Each module's shade where the grid puts it: the mean over an aperture of a fifth of a
    // module around its centre, in the picture with the marks of a module joined.
    const double aperture = std::max(0.5, 0.2 * modulePx);
    std::vector<double> shade(code.dark.size());
    std::vector<double> light, dark;
    for (int r = 0; r < code.rows; ++r)
        for (int c = 0; c < code.cols; ++c) {
            const QPointF p = fittedPx(r, c);
            double sum = 0;
            for (int j = -1; j <= 1; ++j)
                for (int i = -1; i <= 1; ++i)
                    sum += sample(joined, p.x() + i * aperture, p.y() + j * aperture);
            const double v = sum / 9;
            shade[std::size_t(r) * std::size_t(code.cols) + std::size_t(c)] = v;
            (code.at(r, c) ? dark : light).push_back(v);
        }
    double meanLight = 0, meanDark = 0;
    for (double v : light)
        meanLight += v;
    for (double v : dark)
        meanDark += v;
    meanLight = light.empty() ? 0 : meanLight / double(light.size());
    meanDark = dark.empty() ? 0 : meanDark / double(dark.size());
    g.cellContrast = meanLight > 0 ? std::clamp((meanLight - meanDark) / meanLight, 0.0, 1.0) : 0;

    // Modules read against the middle of the typical shades: a missing mark reads light.
    const double threshold = (median(light) + median(dark)) / 2;
    const auto readDark = [&](int r, int c) { return shade[std::size_t(r) * std::size_t(code.cols) + std::size_t(c)] < threshold; };
    for (int r = 0; r < code.rows; ++r)
        for (int c = 0; c < code.cols; ++c)
            g.moduleErrors += readDark(r, c) != code.at(r, c);
    for (const auto& segment : fixedSegments(code)) {
        int damaged = 0;
        for (const FixedModule& m : segment)
            damaged += readDark(m.row, m.col) != m.dark;
        g.damagedFixedModules = std::max(g.damagedFixedModules, damaged);
    }

    Decoded read = decode(joined, code.qr, modulePx);
    if (!read.ok && grow > 0)
        read = decode(grey, code.qr, modulePx);
    g.decoded = read.ok;
    g.text = read.text;
    g.matches = read.ok && read.text == code.content;
    g.decodeGrade = g.decoded ? 'A' : 'F';
    g.contrastGrade = contrastGradeOf(g.cellContrast);
    g.fixedPatternGrade = fixedPatternGradeOf(g.damagedFixedModules);
    g.overall = worst({g.decodeGrade, g.contrastGrade, g.fixedPatternGrade, g.axialGrade, g.gridGrade});
    return g;
}

void gradeCodes(const InspectionPlan& plan, const QImage& picture, const InspectionView& view,
                const InspectionLimits& limits, InspectionResult& result)
{
    const double dotUm = result.markWidthUm > 0 ? result.markWidthUm : limits.spotDiameterUm;
    for (std::size_t i = 0; i < plan.glyphs.size() && i < result.glyphs.size(); ++i) {
        const PlannedGlyph& planned = plan.glyphs[i];
        GlyphInspection& g = result.glyphs[i];
        if (!planned.code || !g.inView)
            continue;
        const TCoord offset = g.offsetUm ? *g.offsetUm : result.labelOffsetUm.value_or(TCoord{0, 0});
        g.code = gradeCode(*planned.code, picture, view, offset, dotUm);
        g.reasons.clear();
        if (g.offsetUm && std::hypot(g.offsetUm->X, g.offsetUm->Y) > limits.maxOffsetUm)
            g.reasons << offsetWords(*g.offsetUm) + QStringLiteral(" its place");
        if (!g.code->graded)
            g.reasons << QStringLiteral("the code is not wholly in the picture");
        else if (!g.code->decoded)
            g.reasons << QStringLiteral("the code does not read");
        else if (!g.code->matches)
            g.reasons << QStringLiteral("the code reads \"") + g.code->text + QStringLiteral("\"");
        else if (g.code->overall > limits.minCodeGrade)
            g.reasons << QStringLiteral("code grade %1, below %2").arg(QChar(g.code->overall), QChar(limits.minCodeGrade));
    }
}

} // namespace lapido
