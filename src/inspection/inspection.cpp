// The inspection of an inscription: registration of the planned marks to the picture, coverage,
// spread, mark width, stray marks and the read-back.
#include "inspection/inspection.h"

#include "inspection/textreader.h"
#include "settings/settingsrecord.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace lapido {

namespace {

constexpr double kPi = 3.14159265358979323846;

// A picture as a grey-level matrix of floats.
cv::Mat greyOf(const QImage& picture)
{
    const QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);
    cv::Mat wrapped(grey.height(), grey.width(), CV_8UC1, const_cast<uchar*>(grey.constBits()),
                    size_t(grey.bytesPerLine()));
    cv::Mat out;
    wrapped.convertTo(out, CV_32F);
    return out;
}

int oddAtLeast(double v, int minimum)
{
    int n = std::max(minimum, int(std::ceil(v)));
    return n % 2 ? n : n + 1;
}

float sampleBilinear(const cv::Mat& m, double x, double y)
{
    const int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    if (x0 < 0 || y0 < 0 || x0 + 1 >= m.cols || y0 + 1 >= m.rows)
        return 0;
    const float fx = float(x - x0), fy = float(y - y0);
    const float* r0 = m.ptr<float>(y0);
    const float* r1 = m.ptr<float>(y0 + 1);
    return (r0[x0] * (1 - fx) + r0[x0 + 1] * fx) * (1 - fy) + (r1[x0] * (1 - fx) + r1[x0 + 1] * fx) * fy;
}

double percentile(std::vector<float> values, double share)
{
    if (values.empty())
        return 0;
    const auto k = std::min(values.size() - 1, size_t(share * double(values.size() - 1) + 0.5));
    std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(k), values.end());
    return values[k];
}

// The planned marks of a glyph drawn as discs (the union, as the stone shows overlapping spots)
// into a canvas whose pixel (0, 0) is the picture's origin, blurred as the picture is.
cv::Mat renderMarks(const std::vector<QPointF>& marksPx, const QPointF& shift, const cv::Rect& area, double radiusPx,
                    double blurSigma)
{
    cv::Mat canvas(area.height, area.width, CV_32F, cv::Scalar(0));
    const int reach = int(std::ceil(radiusPx + 1));
    for (const QPointF& p : marksPx) {
        const double cx = p.x() + shift.x() - area.x, cy = p.y() + shift.y() - area.y;
        const int x0 = std::max(0, int(std::floor(cx)) - reach), x1 = std::min(area.width - 1, int(std::ceil(cx)) + reach);
        const int y0 = std::max(0, int(std::floor(cy)) - reach), y1 = std::min(area.height - 1, int(std::ceil(cy)) + reach);
        for (int y = y0; y <= y1; ++y) {
            float* row = canvas.ptr<float>(y);
            for (int x = x0; x <= x1; ++x) {
                const double d = std::hypot(x - cx, y - cy);
                const float cover = float(std::clamp(0.5 + radiusPx - d, 0.0, 1.0));
                row[x] = std::max(row[x], cover);
            }
        }
    }
    if (blurSigma > 0)
        cv::GaussianBlur(canvas, canvas, cv::Size(0, 0), blurSigma);
    return canvas;
}

double normalisedCorrelation(const cv::Mat& a, const cv::Mat& b)
{
    cv::Scalar ma, sa, mb, sb;
    cv::meanStdDev(a, ma, sa);
    cv::meanStdDev(b, mb, sb);
    if (sa[0] <= 0 || sb[0] <= 0)
        return 0;
    const double cov = (a - ma[0]).dot(b - mb[0]) / double(a.total());
    return cov / (sa[0] * sb[0]);
}

// The vertex of a parabola through (-h, a), (0, b), (h, c), as an offset from the middle.
double parabolaVertex(double a, double b, double c, double h)
{
    const double den = a - 2 * b + c;
    if (!(den < 0))
        return 0;
    return std::clamp(0.5 * h * (a - c) / den, -h, h);
}

struct GlyphWork {
    std::vector<QPointF> px; // planned marks in the picture
    QRectF box;              // their bounding box
    bool inView = true;
    double peakScore = 0;
    QPointF shift;           // picture pixels, from the search and its refinement
    bool placed = false;
};

// Where a glyph lies: the integer shift of best correlation within the search area, then the
// correlation's peak to a tenth of a pixel or better by parabolas through shifted renderings.
// The search is centred on prior (the label's whole-pixel shift for a glyph); without refine
// only the whole-pixel shift is found.
void registerGlyph(GlyphWork& g, const cv::Mat& darkBlur, double radiusPx, double blurSigma, int searchPx,
                   cv::Point prior = {}, bool refine = true)
{
    const int margin = int(std::ceil(radiusPx + 3 * blurSigma + 1));
    const cv::Rect tplArea(int(std::floor(g.box.left())) - margin, int(std::floor(g.box.top())) - margin,
                           int(std::ceil(g.box.width())) + 2 * margin + 1, int(std::ceil(g.box.height())) + 2 * margin + 1);
    const cv::Rect searchArea(tplArea.x + prior.x - searchPx, tplArea.y + prior.y - searchPx, tplArea.width + 2 * searchPx,
                              tplArea.height + 2 * searchPx);
    if ((searchArea & cv::Rect(0, 0, darkBlur.cols, darkBlur.rows)) != searchArea) {
        g.inView = false;
        return;
    }
    const cv::Mat tpl = renderMarks(g.px, {}, tplArea, radiusPx, blurSigma);
    cv::Mat scores;
    cv::matchTemplate(darkBlur(searchArea), tpl, scores, cv::TM_CCOEFF_NORMED);
    double best = 0;
    cv::Point at;
    cv::minMaxLoc(scores, nullptr, &best, nullptr, &at);
    g.peakScore = best;
    QPointF shift(prior.x + at.x - searchPx, prior.y + at.y - searchPx);
    if (!refine) {
        g.shift = shift;
        return;
    }

    // Refinement on the picture itself: the score of the template moved by fractions of a
    // pixel, a parabola through three of them per axis, with steps getting finer.
    const cv::Mat window = darkBlur(tplArea + cv::Point(int(std::lround(shift.x())), int(std::lround(shift.y())))).clone();
    const QPointF base(std::lround(shift.x()), std::lround(shift.y()));
    auto score = [&](const QPointF& s) {
        const cv::Rect area = tplArea + cv::Point(int(base.x()), int(base.y()));
        return normalisedCorrelation(window, renderMarks(g.px, s, area, radiusPx, blurSigma));
    };
    QPointF fine = base;
    for (const double h : {0.5, 0.25, 0.1}) {
        const double mid = score(fine);
        const double dx = parabolaVertex(score(fine - QPointF(h, 0)), mid, score(fine + QPointF(h, 0)), h);
        const double dy = parabolaVertex(score(fine - QPointF(0, h)), mid, score(fine + QPointF(0, h)), h);
        fine += QPointF(dx, dy);
    }
    g.shift = fine;
}

QString quoted(const GlyphInspection& g)
{
    return g.kind == PlannedGlyphKind::Character ? QStringLiteral("'") + g.text + QStringLiteral("'") : g.text;
}

QString fmtUm(double um)
{
    return QString::number(std::lround(std::abs(um)));
}

// Characters the read-back may return: the classes the label's text uses.
QString allowedCharacters(const QString& text)
{
    bool digits = false, upper = false, lower = false;
    QString extra;
    for (const QChar c : text) {
        if (c.isDigit())
            digits = true;
        else if (c.isUpper())
            upper = true;
        else if (c.isLower())
            lower = true;
        else if (!c.isSpace() && !extra.contains(c))
            extra += c;
    }
    QString allowed;
    if (digits)
        allowed += QStringLiteral("0123456789");
    if (upper)
        allowed += QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    if (lower)
        allowed += QStringLiteral("abcdefghijklmnopqrstuvwxyz");
    return allowed + extra;
}

// Hollow letters (a TrueType outline marked as its contour) filled: a region of the paper is
// inside the letter when a ray from it to the edge crosses the ink an odd number of times. Four
// rays vote, since a ray running along a stroke miscounts. Where the two sides of a stroke ran
// together in the picture a ray counts one crossing for two; only regions no wider than a
// stroke (maxBodyPx from edge to middle) are filled, so counters stay open.
void fillOutlines(cv::Mat& ink, double maxBodyPx)
{
    cv::Mat paper = ink == 0, labels, inside;
    cv::distanceTransform(paper, inside, cv::DIST_L2, cv::DIST_MASK_PRECISE);
    const int n = cv::connectedComponents(paper, labels, 4, CV_32S);
    std::vector<float> widest(size_t(n), 0);
    for (int y = 0; y < labels.rows; ++y)
        for (int x = 0; x < labels.cols; ++x) {
            const int l = labels.at<int>(y, x);
            widest[size_t(l)] = std::max(widest[size_t(l)], inside.at<float>(y, x));
        }
    std::vector<int> votes(size_t(n), 0);
    std::vector<bool> seen(size_t(n), false);
    auto crossings = [&](int x, int y, int dx, int dy) {
        int count = 0;
        bool inInk = false;
        for (x += dx, y += dy; x >= 0 && y >= 0 && x < ink.cols && y < ink.rows; x += dx, y += dy) {
            const bool now = ink.at<uchar>(y, x) != 0;
            if (now && !inInk)
                ++count;
            inInk = now;
        }
        return count;
    };
    for (int y = 0; y < labels.rows; ++y)
        for (int x = 0; x < labels.cols; ++x) {
            const int l = labels.at<int>(y, x);
            if (l == 0 || ink.at<uchar>(y, x) || seen[size_t(l)])
                continue;
            seen[size_t(l)] = true;
            int odd = 0;
            for (const auto& [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}})
                odd += crossings(x, y, dx, dy) % 2;
            votes[size_t(l)] = odd;
        }
    for (int y = 0; y < labels.rows; ++y)
        for (int x = 0; x < labels.cols; ++x) {
            const int l = labels.at<int>(y, x);
            if (l > 0 && votes[size_t(l)] >= 3 && widest[size_t(l)] <= maxBodyPx)
                ink.at<uchar>(y, x) = 255;
        }
}

// Strokes of a binary picture of letters brought to about the given width: thin strokes
// break up for the OCR engine, fat ones close the counters.
void setStrokeWidth(cv::Mat& letters, double widthPx)
{
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(letters.clone(), contours, cv::RETR_LIST, cv::CHAIN_APPROX_NONE);
    double perimeter = 0;
    for (const auto& c : contours)
        perimeter += cv::arcLength(c, true);
    if (perimeter <= 0)
        return;
    const double stroke = 2 * cv::countNonZero(letters) / perimeter;
    const int change = int(std::lround(widthPx - stroke));
    if (change >= 1)
        cv::dilate(letters, letters, cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(change + 1, change + 1)));
    else if (change <= -2)
        cv::erode(letters, letters, cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(-change, -change)));
}

// Positions (1-based, in the label's text) where the reading first differs; 0 when equal.
// Spaces are left out of the comparison: the camera cannot tell a space's width from a gap.
int firstDifference(const QString& expected, const QString& read)
{
    QString r;
    for (const QChar c : read)
        if (!c.isSpace())
            r += c;
    int k = 0;
    for (int i = 0; i < expected.size(); ++i) {
        if (expected.at(i).isSpace())
            continue;
        if (k >= r.size() || r.at(k) != expected.at(i))
            return i + 1;
        ++k;
    }
    return k < r.size() ? int(expected.size()) + 1 : 0;
}

} // namespace

QPointF InspectionView::toPixel(const TCoord& mm) const
{
    const double sy = scalePxPerMm * aspectPercent / 100.0;
    return {laserPx.x() + (mm.X - tableMm.X) * scalePxPerMm, laserPx.y() - (mm.Y - tableMm.Y) * sy};
}

TCoord InspectionView::toMm(const QPointF& px) const
{
    const double sy = scalePxPerMm * aspectPercent / 100.0;
    return {tableMm.X + (px.x() - laserPx.x()) / scalePxPerMm, tableMm.Y - (px.y() - laserPx.y()) / sy};
}

InspectionView InspectionView::fromSettings(const TSettings& s, QSize picture, const TCoord& tableMm)
{
    // The station's picture is 1008 x 820 and the frame is centred on it.
    InspectionView v;
    v.tableMm = tableMm;
    v.laserPx = QPointF(picture.width() / 2 + s.CrossHairX - 1008 / 2, picture.height() / 2 + s.CrossHairY - 820 / 2);
    v.scalePxPerMm = s.VideoScale;
    v.aspectPercent = s.VideoAspect;
    return v;
}

QString offsetWords(const TCoord& o)
{
    QStringList parts;
    if (std::lround(o.X) != 0)
        parts << fmtUm(o.X) + (o.X > 0 ? QStringLiteral(" µm right of") : QStringLiteral(" µm left of"));
    if (std::lround(o.Y) != 0)
        parts << fmtUm(o.Y) + (o.Y > 0 ? QStringLiteral(" µm above") : QStringLiteral(" µm below"));
    if (parts.isEmpty())
        return QStringLiteral("at");
    return parts.join(QStringLiteral(" and "));
}

QString GlyphInspection::line() const
{
    const QString name = quoted(*this);
    if (ok())
        return name + QStringLiteral(": ok");
    QStringList texts;
    for (const QString& r : reasons)
        texts << name + QStringLiteral(": ") + r;
    return texts.join(QStringLiteral("; "));
}

QString ReadBack::line() const
{
    if (!attempted)
        return QStringLiteral("read back: none (") + why + QStringLiteral(")");
    if (matches())
        return QStringLiteral("read back: ") + text + QStringLiteral(" (matches)");
    return QStringLiteral("read back: ") + (text.isEmpty() ? QStringLiteral("nothing") : text)
           + QStringLiteral(" (differs at ") + QString::number(differsAt) + QStringLiteral(")");
}

bool InspectionResult::ok() const
{
    return reasons.isEmpty() && std::all_of(glyphs.begin(), glyphs.end(), [](const GlyphInspection& g) { return g.ok(); });
}

QString InspectionResult::verdict() const
{
    if (ok())
        return QStringLiteral("ok");
    QStringList parts;
    for (const GlyphInspection& g : glyphs)
        if (!g.ok())
            parts << g.line();
    parts << reasons;
    return parts.join(QStringLiteral("; "));
}

QString InspectionResult::traceLine() const
{
    QString line = QStringLiteral("Inspection: ") + (ok() ? QStringLiteral("ok") : QStringLiteral("failed: ") + verdict());
    if (readBack.attempted || !readBack.why.isEmpty())
        line += QStringLiteral("; ") + readBack.line();
    for (const GlyphInspection& g : glyphs)
        if (g.code && g.code->graded)
            line += QStringLiteral("; ") + g.text + QStringLiteral(": grade ") + QChar(g.code->overall)
                    + (g.code->decoded ? QString() : QStringLiteral(", does not read"));
    return line;
}

QStringList InspectionResult::lines() const
{
    QStringList out;
    for (const GlyphInspection& g : glyphs) {
        QString l = g.line();
        l += QStringLiteral(" (") + QString::number(g.found) + QStringLiteral(" of ") + QString::number(g.planned)
             + QStringLiteral(" marks");
        if (g.offsetUm)
            l += QStringLiteral(", offset ") + QString::number(g.offsetUm->X, 'f', 1) + QStringLiteral(", ")
                 + QString::number(g.offsetUm->Y, 'f', 1) + QStringLiteral(" µm, spread ")
                 + QString::number(g.spreadUm, 'f', 1) + QStringLiteral(" µm");
        out << l + QStringLiteral(")");
        if (g.code)
            out << g.text + QStringLiteral(": ") + g.code->line();
    }
    QString label = QStringLiteral("label: ") + (reasons.isEmpty() ? QStringLiteral("ok") : reasons.join(QStringLiteral("; ")));
    if (labelOffsetUm)
        label += QStringLiteral(" (offset ") + QString::number(labelOffsetUm->X, 'f', 1) + QStringLiteral(", ")
                 + QString::number(labelOffsetUm->Y, 'f', 1) + QStringLiteral(" µm, marks ")
                 + QString::number(markWidthUm, 'f', 1) + QStringLiteral(" µm wide)");
    out << label;
    if (readBack.attempted || !readBack.why.isEmpty())
        out << readBack.line();
    out << (ok() ? QStringLiteral("inspection: ok") : QStringLiteral("inspection: failed"));
    return out;
}

Inspector::Inspector() : m_reader(std::make_unique<TextReader>()) {}
Inspector::~Inspector() = default;

InspectionResult Inspector::inspect(const InspectionPlan& plan, const QImage& picture, const InspectionView& view,
                                    const InspectionLimits& limits)
{
    InspectionResult result;
    const double umPerPx = 1000.0 / view.scalePxPerMm;
    const double umPerPxY = umPerPx * 100.0 / view.aspectPercent;
    const double radiusPx = std::max(0.7, limits.spotDiameterUm / 2 / umPerPx);
    const double blurSigma = 0.8;
    const int searchPx = std::max(2, int(std::ceil(limits.searchUm / umPerPx)));

    std::vector<GlyphWork> work(plan.glyphs.size());
    QRectF labelBox;
    for (size_t i = 0; i < plan.glyphs.size(); ++i) {
        GlyphWork& w = work[i];
        for (const TCoord& m : plan.glyphs[i].marksMm)
            w.px.push_back(view.toPixel(m));
        for (const QPointF& p : w.px)
            w.box = w.box.isNull() ? QRectF(p, QSizeF(0.001, 0.001)) : w.box.united(QRectF(p, QSizeF(0.001, 0.001)));
        labelBox = labelBox.isNull() ? w.box : labelBox.united(w.box);
    }
    if (picture.isNull() || labelBox.isNull()) {
        result.reasons << (picture.isNull() ? QStringLiteral("no picture") : QStringLiteral("nothing was planned"));
        return result;
    }

    // The picture's darkness against its own background: closings wider than a stroke take the
    // marks out of the picture, what they took away is left. Beside a girdle edge the closing
    // takes some of the darker facet beyond the edge for the background, and the stroke looks
    // fainter than the others; closings by lines in four directions, the brightest of them,
    // take less of it than one by a disc (a third fainter instead of a half).
    const int pad = searchPx + int(std::ceil(6 * radiusPx)) + 8;
    const cv::Rect whole(0, 0, picture.width(), picture.height());
    const cv::Rect roi = cv::Rect(int(std::floor(labelBox.left())) - pad, int(std::floor(labelBox.top())) - pad,
                                  int(std::ceil(labelBox.width())) + 2 * pad, int(std::ceil(labelBox.height())) + 2 * pad)
                         & whole;
    cv::Mat grey = greyOf(picture);
    cv::Mat dark(grey.size(), CV_32F, cv::Scalar(0)), darkBlur(grey.size(), CV_32F, cv::Scalar(0));
    // The darkness of the marks alone, without the girdle's edges: what places a glyph and
    // measures its marks' spread and width. An edge is dark along a line longer than any glyph's
    // stroke; left in, it pulls a stroke beside it towards itself.
    cv::Mat darkMarks(grey.size(), CV_32F, cv::Scalar(0));
    double widestGlyphPx = 0;
    for (const GlyphWork& w : work)
        widestGlyphPx = std::max(widestGlyphPx, w.box.width());
    if (roi.area() > 0) {
        const int k = oddAtLeast(5 * radiusPx + 2, 7);
        const cv::Mat diagonal = cv::Mat::eye(k, k, CV_8U);
        cv::Mat antiDiagonal;
        cv::flip(diagonal, antiDiagonal, 1);
        cv::Mat background;
        for (const cv::Mat& line : {cv::Mat(1, k, CV_8U, cv::Scalar(1)), cv::Mat(k, 1, CV_8U, cv::Scalar(1)), diagonal, antiDiagonal}) {
            cv::Mat closed;
            cv::morphologyEx(grey(roi), closed, cv::MORPH_CLOSE, line);
            background = background.empty() ? closed : cv::max(background, closed);
        }
        cv::Mat d = background - grey(roi);
        d.copyTo(dark(roi));
        const int edgeLength = int(std::ceil(widestGlyphPx + 2 * radiusPx)) + 3;
        if (edgeLength < roi.width) {
            cv::Mat edges;
            cv::morphologyEx(d, edges, cv::MORPH_OPEN, cv::Mat(1, edgeLength, CV_8U, cv::Scalar(1)));
            d -= edges;
        }
        d.copyTo(darkMarks(roi));
        cv::GaussianBlur(d, darkBlur(roi), cv::Size(0, 0), blurSigma);
    }

    // The label is looked for as a whole first, then each glyph near the label's place: a glyph
    // of little shape (an 'I', a '1') looked for on its own across the whole search distance
    // can take a neighbour's stroke for its own. The glyph's own search still holds more than
    // a drift across the label that fails it.
    GlyphWork label;
    for (const GlyphWork& w : work) {
        label.px.insert(label.px.end(), w.px.begin(), w.px.end());
        label.box = label.box.isNull() ? w.box : label.box.united(w.box);
    }
    registerGlyph(label, darkBlur, radiusPx, blurSigma, searchPx, {}, false);
    const cv::Point labelPrior = label.inView ? cv::Point(int(label.shift.x()), int(label.shift.y())) : cv::Point();
    const int glyphSearchPx = std::max(2, int(std::ceil(2 * limits.maxOffsetUm / umPerPx)) + 1);
    for (GlyphWork& w : work)
        registerGlyph(w, darkBlur, radiusPx, blurSigma, label.inView ? glyphSearchPx : searchPx, labelPrior);

    // A typical mark's darkness: high among the planned places, so that missing marks do not
    // pull it down; the polish's own shades set its floor.
    std::vector<float> atMarks;
    for (const GlyphWork& w : work)
        if (w.inView)
            for (const QPointF& p : w.px)
                atMarks.push_back(sampleBilinear(dark, p.x() + w.shift.x(), p.y() + w.shift.y()));
    const double typical = std::max(percentile(atMarks, 0.9), 2 * limits.minMarkContrast);
    const double threshold = std::max(limits.minMarkContrast, typical * limits.markContrastPercent / 100.0);

    // Glyphs with too little of themselves to be placed take the label's place.
    std::vector<double> xs, ys;
    for (size_t i = 0; i < work.size(); ++i) {
        GlyphWork& w = work[i];
        if (!w.inView)
            continue;
        int found = 0;
        for (const QPointF& p : w.px)
            found += sampleBilinear(dark, p.x() + w.shift.x(), p.y() + w.shift.y()) >= threshold;
        w.placed = !w.px.empty() && found >= std::max(3, int(w.px.size() / 3));
        if (w.placed) {
            xs.push_back(w.shift.x());
            ys.push_back(w.shift.y());
        }
    }
    QPointF labelShift;
    if (!xs.empty()) {
        std::vector<float> fx(xs.begin(), xs.end()), fy(ys.begin(), ys.end());
        labelShift = QPointF(percentile(fx, 0.5), percentile(fy, 0.5));
        result.labelOffsetUm = TCoord{labelShift.x() * umPerPx, -labelShift.y() * umPerPxY};
    }

    // Distance of every pixel near the label to the nearest planned mark where it was found.
    cv::Mat nearest(grey.size(), CV_8U, cv::Scalar(255));
    for (const GlyphWork& w : work) {
        const QPointF s = w.placed ? w.shift : labelShift;
        for (const QPointF& p : w.px) {
            const int x = int(std::lround(p.x() + s.x())), y = int(std::lround(p.y() + s.y()));
            if (x >= 0 && y >= 0 && x < nearest.cols && y < nearest.rows)
                nearest.at<uchar>(y, x) = 0;
        }
    }
    cv::Mat distance;
    cv::distanceTransform(nearest, distance, cv::DIST_L2, cv::DIST_MASK_PRECISE);

    for (size_t i = 0; i < work.size(); ++i) {
        const GlyphWork& w = work[i];
        const PlannedGlyph& pg = plan.glyphs[i];
        GlyphInspection g;
        g.text = pg.text;
        g.kind = pg.kind;
        g.planned = int(w.px.size());
        g.inView = w.inView;
        const QPointF s = w.placed ? w.shift : labelShift;
        g.boxPx = w.box.translated(s).adjusted(-radiusPx, -radiusPx, radiusPx, radiusPx);
        if (!w.inView) {
            g.reasons << QStringLiteral("outside the picture");
            result.glyphs.push_back(g);
            continue;
        }
        std::vector<float> across;
        for (size_t k = 0; k < w.px.size(); ++k) {
            const QPointF q = w.px[k] + s;
            if (sampleBilinear(dark, q.x(), q.y()) < threshold)
                continue;
            ++g.found;
            // How far the mark's darkness lies across the path from where it was aimed.
            const QPointF a = w.px[k > 0 ? k - 1 : k], b = w.px[k + 1 < w.px.size() ? k + 1 : k];
            QPointF dir = b - a;
            const double len = std::hypot(dir.x(), dir.y());
            const int reach = int(std::ceil(radiusPx + 1));
            double sw = 0, sx = 0, sy = 0;
            for (int dy = -reach; dy <= reach; ++dy)
                for (int dx = -reach; dx <= reach; ++dx) {
                    const int x = int(std::lround(q.x())) + dx, y = int(std::lround(q.y())) + dy;
                    if (x < 0 || y < 0 || x >= darkMarks.cols || y >= darkMarks.rows)
                        continue;
                    const double v = std::max(0.0, double(darkMarks.at<float>(y, x)) - threshold / 2);
                    sw += v;
                    sx += v * (x - q.x());
                    sy += v * (y - q.y());
                }
            if (sw <= 0)
                continue;
            const QPointF c(sx / sw, sy / sw);
            if (len > 1e-9 && len < 4 * radiusPx) {
                dir /= len;
                across.push_back(float(std::abs(c.x() * -dir.y() + c.y() * dir.x()) * umPerPx));
            } else {
                across.push_back(float(std::hypot(c.x() * umPerPx, c.y() * umPerPxY)));
            }
        }
        g.coveragePercent = g.planned > 0 ? 100.0 * g.found / g.planned : 0;
        if (w.placed) {
            g.offsetUm = TCoord{w.shift.x() * umPerPx, -w.shift.y() * umPerPxY};
            g.spreadUm = across.size() >= 5 ? 1.4826 * percentile(across, 0.5) : 0;
        }
        if (g.coveragePercent < limits.minCoveragePercent)
            g.reasons << QString::number(std::lround(std::floor(g.coveragePercent))) + QStringLiteral(" % of its marks found");
        if (g.offsetUm && std::hypot(g.offsetUm->X, g.offsetUm->Y) > limits.maxOffsetUm)
            g.reasons << offsetWords(*g.offsetUm) + QStringLiteral(" its place");
        if (g.spreadUm > limits.maxSpreadUm)
            g.reasons << QStringLiteral("marks scattered by ") + fmtUm(g.spreadUm) + QStringLiteral(" µm");
        result.glyphs.push_back(g);
    }

    // The marks' width: the darkness by distance from the nearest planned mark, and where it
    // falls to half of what it is on the marks themselves.
    {
        constexpr int kBins = 16; // quarter pixels
        std::array<double, kBins> sum{}, count{};
        for (const GlyphInspection& g : result.glyphs) {
            if (!g.inView || !g.offsetUm)
                continue;
            const cv::Rect area = cv::Rect(int(g.boxPx.left()) - 4, int(g.boxPx.top()) - 4, int(g.boxPx.width()) + 8,
                                           int(g.boxPx.height()) + 8)
                                  & whole;
            for (int y = area.y; y < area.y + area.height; ++y)
                for (int x = area.x; x < area.x + area.width; ++x) {
                    const int bin = int(distance.at<float>(y, x) * 4);
                    if (bin < kBins) {
                        sum[size_t(bin)] += darkMarks.at<float>(y, x);
                        ++count[size_t(bin)];
                    }
                }
        }
        // Distances on the pixel grid take few values (0, 1, 1.41, 2, ...): empty bins are skipped.
        std::vector<std::pair<double, double>> profile; // distance in pixels, mean darkness
        for (int b = 0; b < kBins; ++b)
            if (count[size_t(b)] > 0)
                profile.push_back({(b + 0.5) / 4.0, sum[size_t(b)] / count[size_t(b)]});
        if (!profile.empty())
            profile.front().first = 0;
        const double top = profile.empty() ? 0 : profile.front().second;
        const double floor = profile.empty() ? 0 : profile.back().second;
        if (profile.size() >= 3 && top - floor > limits.minMarkContrast) {
            double half = profile.back().first;
            for (size_t b = 1; b < profile.size(); ++b)
                if (profile[b].second - floor < (top - floor) / 2) {
                    const double prev = profile[b - 1].second - floor, now = profile[b].second - floor;
                    const double t = prev > now ? (prev - (top - floor) / 2) / (prev - now) : 0;
                    half = profile[b - 1].first + t * (profile[b].first - profile[b - 1].first);
                    break;
                }
            result.markWidthUm = 2 * half * umPerPx;
            if (result.markWidthUm > limits.spotDiameterUm * limits.maxMarkWidthPercent / 100.0)
                result.reasons << QStringLiteral("marks ") + fmtUm(result.markWidthUm)
                                          + QStringLiteral(" µm wide, the spot is ") + fmtUm(limits.spotDiameterUm)
                                          + QStringLiteral(" µm");
        }
    }

    // Marks where none were planned: dark spots near the label, further from every planned
    // mark than a spot and its blur. Rows dark across the whole width are the girdle's edges.
    if (roi.area() > 0) {
        const cv::Rect area = cv::Rect(int(labelBox.left() + labelShift.x()) - int(6 * radiusPx),
                                       int(labelBox.top() + labelShift.y()) - int(6 * radiusPx),
                                       int(labelBox.width()) + int(12 * radiusPx), int(labelBox.height()) + int(12 * radiusPx))
                              & roi;
        cv::Mat ink = dark(area) >= threshold;
        for (int y = 0; y < ink.rows; ++y)
            if (cv::countNonZero(ink.row(y)) > ink.cols / 2) {
                ink.row(y).setTo(0);
                if (y > 0)
                    ink.row(y - 1).setTo(0);
                if (y + 1 < ink.rows)
                    ink.row(y + 1).setTo(0);
            }
        const double clear = radiusPx + 2.5 + (result.markWidthUm > 0 ? std::max(0.0, result.markWidthUm / umPerPx / 2 - radiusPx) : 0);
        ink.setTo(0, distance(area) <= clear);
        cv::Mat labels, stats, centroids;
        const int n = cv::connectedComponentsWithStats(ink, labels, stats, centroids, 8, CV_32S);
        const double minArea = std::max(2.0, 0.5 * kPi * radiusPx * radiusPx);
        for (int c = 1; c < n; ++c) {
            if (stats.at<int>(c, cv::CC_STAT_AREA) < minArea)
                continue;
            const QPointF at(centroids.at<double>(c, 0) + area.x, centroids.at<double>(c, 1) + area.y);
            bool inGlyph = false;
            for (GlyphInspection& g : result.glyphs)
                if (g.boxPx.adjusted(-2, -2, 2, 2).contains(at)) {
                    ++g.strayMarks;
                    inGlyph = true;
                    break;
                }
            if (!inGlyph)
                ++result.strayMarks;
        }
        for (GlyphInspection& g : result.glyphs)
            if (g.strayMarks > limits.maxStrayMarks)
                g.reasons << (g.strayMarks == 1 ? QStringLiteral("1 mark where none was planned")
                                                : QString::number(g.strayMarks) + QStringLiteral(" marks where none were planned"));
        if (result.strayMarks > limits.maxStrayMarks)
            result.reasons << (result.strayMarks == 1 ? QStringLiteral("1 mark beside the label")
                                                      : QString::number(result.strayMarks) + QStringLiteral(" marks beside the label"));
    }

    if (result.labelOffsetUm && std::hypot(result.labelOffsetUm->X, result.labelOffsetUm->Y) > limits.maxOffsetUm)
        result.reasons.prepend(QStringLiteral("label ") + offsetWords(*result.labelOffsetUm) + QStringLiteral(" its place"));
    result.labelBoxPx = labelBox.translated(labelShift);

    // The text read back from the characters' part of the picture.
    bool anyCharacter = false, allReadable = true;
    for (const PlannedGlyph& g : plan.glyphs)
        if (g.kind == PlannedGlyphKind::Character) {
            anyCharacter = true;
            allReadable = allReadable && g.readable;
        }
    result.readBack.expected = plan.text;
    if (!limits.readBack || !anyCharacter || plan.text.trimmed().isEmpty()) {
        result.readBack.why.clear();
    } else if (!allReadable) {
        result.readBack.why = QStringLiteral("the font is not in Latin letters");
    } else {
        QRectF chars;
        double heightPx = 0;
        bool outlines = false;
        for (size_t i = 0; i < work.size(); ++i)
            if (plan.glyphs[i].kind == PlannedGlyphKind::Character) {
                const QRectF b = result.glyphs[i].boxPx;
                chars = chars.isNull() ? b : chars.united(b);
                heightPx = std::max(heightPx, b.height());
                outlines = outlines || plan.glyphs[i].outline;
            }
        const double margin = std::max(4.0, 0.4 * heightPx);
        const cv::Rect area = cv::Rect(int(chars.left() - margin), int(chars.top() - margin),
                                       int(chars.width() + 2 * margin), int(chars.height() + 2 * margin))
                              & whole;
        if (area.area() <= 0) {
            result.readBack.why = QStringLiteral("the characters are outside the picture");
        } else {
            cv::Mat ink = dark(area) >= threshold;
            // Only the characters' places are text: a speck beside them, a girdle edge or a
            // logo would be read as letters or punctuation (stray marks have their own check).
            cv::Mat textPlaces(ink.size(), CV_8U, cv::Scalar(0));
            auto placeOf = [&](size_t i, int grow) {
                const QRectF b = result.glyphs[i].boxPx.translated(-area.x, -area.y);
                return cv::Rect(int(std::floor(b.left())) - grow, int(std::floor(b.top())) - grow,
                                int(std::ceil(b.width())) + 2 * grow + 1, int(std::ceil(b.height())) + 2 * grow + 1)
                       & cv::Rect(0, 0, ink.cols, ink.rows);
            };
            for (size_t i = 0; i < work.size(); ++i)
                if (plan.glyphs[i].kind == PlannedGlyphKind::Character)
                    textPlaces(placeOf(i, 2)).setTo(255);
            for (size_t i = 0; i < work.size(); ++i)
                if (plan.glyphs[i].kind != PlannedGlyphKind::Character)
                    textPlaces(placeOf(i, 1)).setTo(0);
            cv::bitwise_and(ink, textPlaces, ink);
            // Dotted strokes joined: a closing over the gap between two pulses.
            double pitch = 0;
            std::vector<float> gaps;
            for (size_t i = 0; i < work.size(); ++i)
                if (plan.glyphs[i].kind == PlannedGlyphKind::Character)
                    for (size_t k = 1; k < work[i].px.size(); ++k) {
                        const QPointF d = work[i].px[k] - work[i].px[k - 1];
                        gaps.push_back(float(std::hypot(d.x(), d.y())));
                    }
            pitch = percentile(gaps, 0.5);
            const int join = oddAtLeast(std::min(pitch + 1, 4 * radiusPx), 3);
            cv::morphologyEx(ink, ink, cv::MORPH_CLOSE, cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(join, join)));
            if (outlines)
                fillOutlines(ink, 0.1 * heightPx);
            // Letters of about 30 pixels, scaled smoothly, their strokes about a tenth of that,
            // dark on white with a border, as the engine reads best (at 40 pixels it took a lone
            // '9' after letters for a 'g').
            constexpr double kLetterPx = 30, kStrokePx = 3;
            const double scale = std::clamp(kLetterPx / std::max(1.0, heightPx), 0.25, 8.0);
            // Strokes are brought to their width where the picture is finer, before a
            // reduction (a thin stroke reduced first can fall below the threshold and vanish),
            // after an enlargement.
            cv::Mat letters;
            if (scale >= 1) {
                cv::Mat smooth, big;
                ink.convertTo(smooth, CV_32F);
                cv::resize(smooth, big, cv::Size(), scale, scale, cv::INTER_CUBIC);
                letters = big >= 100;
                setStrokeWidth(letters, kStrokePx);
            } else {
                setStrokeWidth(ink, kStrokePx / scale);
                cv::Mat small;
                cv::resize(ink, small, cv::Size(), scale, scale, cv::INTER_AREA);
                letters = small >= 128;
            }
            // The engine's time grows faster than the length of a line: long labels are read in
            // pieces of two dozen characters, cut halfway between two of them.
            std::vector<double> lefts, rights;
            for (size_t i = 0; i < work.size(); ++i)
                if (plan.glyphs[i].kind == PlannedGlyphKind::Character) {
                    lefts.push_back((result.glyphs[i].boxPx.left() - area.x) * scale);
                    rights.push_back((result.glyphs[i].boxPx.right() - area.x) * scale);
                }
            std::vector<int> cuts{0};
            constexpr size_t kPiece = 24;
            for (size_t k = kPiece; k < lefts.size(); k += kPiece)
                if (lefts[k] > rights[k - 1])
                    cuts.push_back(std::clamp(int(std::lround((lefts[k] + rights[k - 1]) / 2)), cuts.back() + 1, letters.cols - 1));
            cuts.push_back(letters.cols);
            QString read, error;
            bool readAll = true;
            for (size_t c = 0; c + 1 < cuts.size() && readAll; ++c) {
                cv::Mat page = letters.colRange(cuts[c], cuts[c + 1]) == 0;
                cv::copyMakeBorder(page, page, 24, 24, 24, 24, cv::BORDER_CONSTANT, cv::Scalar(255));
                // Softened edges, as the engine learnt letters from rendered text: the steps of a
                // letter joined from dots otherwise turn a '9' into a 'g' or add a 'Q' beside it.
                cv::blur(page, page, cv::Size(3, 3));
                const auto text = m_reader->readLine(page, allowedCharacters(plan.text), &error);
                readAll = text.has_value();
                if (text)
                    read += (read.isEmpty() ? QString() : QStringLiteral(" ")) + *text;
            }
            if (!readAll) {
                result.readBack.why = error;
            } else {
                result.readBack.attempted = true;
                result.readBack.text = read.simplified();
                result.readBack.differsAt = firstDifference(plan.text, result.readBack.text);
                if (limits.failOnReadBack && result.readBack.differsAt != 0)
                    result.reasons << result.readBack.line();
            }
        }
    }
    gradeCodes(plan, picture, view, limits, result);
    return result;
}

} // namespace lapido
