// Micro-text legibility: the closest approach of separate strokes in each character, found
// through a grid of segments so that a long label is checked in a few milliseconds.
#include "glyphs/legibility.h"

#include "geometry/contours.h"
#include "glyphs/customfonts.h"
#include "glyphs/fontoutlines.h"
#include "glyphs/glyph.h"
#include "glyphs/glyphoutline.h"
#include "glyphs/labeltree.h"
#include "settings/settingsrecord.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <tuple>

namespace lapido {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// A grid larger than this gets coarser cells instead: a huge outline must not allocate a
// table of millions of empty cells.
constexpr std::int64_t kMaxGridCells = 1 << 18;
// The cosine between a probe's line to the other trace and its own segment above which the two
// traces are not side by side there (about 6 degrees off square).
constexpr double kSquareOn = 0.1;
// Long segments are probed at a quarter of the limit, but never more often than this.
constexpr int kMaxProbes = 2048;

struct Segment {
    double ax, ay, bx, by;
    double start;  // distance along its contour to a
    double length;
    int contour;
    int previous = -1; // the neighbouring segments of the same trace, -1 at an open end
    int next = -1;
};

struct ContourSpan {
    double length = 0;
    bool closed = false;
    int firstSegment = 0;
    int endSegment = 0; // one past the last
};

// Where two contours (or two parts of one) meet: the position along each.
struct Joint {
    int c1;
    double s1;
    int c2;
    double s2;
};

// The closest points of two segments: their distance and the offsets along each segment.
struct Closest {
    double d;
    double t;
    double u;
};

struct Candidate {
    int i;
    int j;
    Closest at;
};

// Offset along s of the point of s closest to (px, py), and the distance to it.
double projectOnto(const Segment& s, double px, double py, double& distance)
{
    const double dx = s.bx - s.ax;
    const double dy = s.by - s.ay;
    const double l2 = dx * dx + dy * dy;
    double f = l2 > 0 ? ((px - s.ax) * dx + (py - s.ay) * dy) / l2 : 0;
    f = std::clamp(f, 0.0, 1.0);
    distance = std::hypot(px - (s.ax + f * dx), py - (s.ay + f * dy));
    return f * s.length;
}

Closest closestPoints(const Segment& a, const Segment& b)
{
    const double ax = a.bx - a.ax, ay = a.by - a.ay;
    const double bx = b.bx - b.ax, by = b.by - b.ay;
    const double denom = ax * by - ay * bx;
    if (denom != 0) {
        const double rx = b.ax - a.ax, ry = b.ay - a.ay;
        const double t = (rx * by - ry * bx) / denom;
        const double u = (rx * ay - ry * ax) / denom;
        if (t >= 0 && t <= 1 && u >= 0 && u <= 1)
            return {0, t * a.length, u * b.length};
    }
    Closest best{kInfinity, 0, 0};
    double d = 0;
    double f = projectOnto(b, a.ax, a.ay, d);
    if (d < best.d)
        best = {d, 0, f};
    f = projectOnto(b, a.bx, a.by, d);
    if (d < best.d)
        best = {d, a.length, f};
    f = projectOnto(a, b.ax, b.ay, d);
    if (d < best.d)
        best = {d, f, 0};
    f = projectOnto(a, b.bx, b.by, d);
    if (d < best.d)
        best = {d, f, b.length};
    return best;
}

class StrokeGapFinder {
public:
    StrokeGapFinder(const TContourList& contours, double limit, double joinedTolerance, bool filled)
        : m_limit(limit), m_joined(joinedTolerance), m_reach(std::max(limit, joinedTolerance)), m_filled(filled)
    {
        collectSegments(contours);
    }

    std::optional<double> run()
    {
        if (m_segments.size() < 2)
            return std::nullopt;
        buildGrid();
        findCandidates();
        findJoints();
        return smallestGap();
    }

private:
    void collectSegments(const TContourList& contours)
    {
        for (int c = 0; c < contours.Count(); ++c) {
            const TContour& contour = contours.GetContour(c);
            ContourSpan span;
            span.firstSegment = int(m_segments.size());
            for (int v = 1; v < contour.Count(); ++v) {
                const TVertex& a = contour[v - 1];
                const TVertex& b = contour[v];
                const double length = std::hypot(b.X - a.X, b.Y - a.Y);
                if (!std::isfinite(length))
                    continue;
                if (length > 0)
                    m_segments.push_back({a.X, a.Y, b.X, b.Y, span.length, length, c});
                span.length += length;
            }
            if (contour.Count() > 2) {
                const TVertex& first = contour[0];
                const TVertex& last = contour[contour.Count() - 1];
                span.closed = first.X == last.X && first.Y == last.Y;
            }
            span.endSegment = int(m_segments.size());
            for (int i = span.firstSegment; i < span.endSegment; ++i) {
                m_segments[size_t(i)].previous = i > span.firstSegment ? i - 1 : (span.closed ? span.endSegment - 1 : -1);
                m_segments[size_t(i)].next = i + 1 < span.endSegment ? i + 1 : (span.closed ? span.firstSegment : -1);
            }
            m_spans.push_back(span);
        }
    }

    void buildGrid()
    {
        double lengths = 0;
        m_minX = m_minY = kInfinity;
        double maxX = -kInfinity, maxY = -kInfinity;
        for (const Segment& s : m_segments) {
            lengths += s.length;
            m_minX = std::min({m_minX, s.ax, s.bx});
            m_minY = std::min({m_minY, s.ay, s.by});
            maxX = std::max({maxX, s.ax, s.bx});
            maxY = std::max({maxY, s.ay, s.by});
        }
        // Cells about one segment or one reach wide: each segment meets a few cells and each
        // cell holds a few segments.
        m_cell = std::max(m_reach, lengths / double(m_segments.size()));
        for (;;) {
            m_nx = std::int64_t((maxX - m_minX) / m_cell) + 1;
            m_ny = std::int64_t((maxY - m_minY) / m_cell) + 1;
            if (m_nx * m_ny <= kMaxGridCells)
                break;
            m_cell *= 2;
        }
        // Compressed rows: the segments of cell k are m_items[m_first[k] .. m_first[k + 1]).
        m_first.assign(size_t(m_nx * m_ny + 1), 0);
        forEachSegmentCell([this](int, std::int64_t cell) { ++m_first[size_t(cell + 1)]; });
        for (size_t k = 1; k < m_first.size(); ++k)
            m_first[k] += m_first[k - 1];
        m_items.resize(size_t(m_first.back()));
        std::vector<std::int64_t> fill(m_first.begin(), m_first.end() - 1);
        forEachSegmentCell([this, &fill](int index, std::int64_t cell) { m_items[size_t(fill[size_t(cell)]++)] = index; });
    }

    std::int64_t column(double x) const { return std::clamp(std::int64_t((x - m_minX) / m_cell), std::int64_t(0), m_nx - 1); }
    std::int64_t row(double y) const { return std::clamp(std::int64_t((y - m_minY) / m_cell), std::int64_t(0), m_ny - 1); }

    template <class Visit>
    void forEachSegmentCell(Visit visit) const
    {
        for (size_t i = 0; i < m_segments.size(); ++i) {
            const Segment& s = m_segments[i];
            for (std::int64_t y = row(std::min(s.ay, s.by)); y <= row(std::max(s.ay, s.by)); ++y)
                for (std::int64_t x = column(std::min(s.ax, s.bx)); x <= column(std::max(s.ax, s.bx)); ++x)
                    visit(int(i), y * m_nx + x);
        }
    }

    void findCandidates()
    {
        std::vector<int> seenBy(m_segments.size(), -1);
        for (size_t i = 0; i < m_segments.size(); ++i) {
            const Segment& s = m_segments[i];
            const double x0 = std::min(s.ax, s.bx) - m_reach, x1 = std::max(s.ax, s.bx) + m_reach;
            const double y0 = std::min(s.ay, s.by) - m_reach, y1 = std::max(s.ay, s.by) + m_reach;
            for (std::int64_t y = row(y0); y <= row(y1); ++y)
                for (std::int64_t x = column(x0); x <= column(x1); ++x) {
                    const std::int64_t cell = y * m_nx + x;
                    for (std::int64_t k = m_first[size_t(cell)]; k < m_first[size_t(cell + 1)]; ++k) {
                        const int j = m_items[size_t(k)];
                        if (j <= int(i) || seenBy[size_t(j)] == int(i))
                            continue;
                        seenBy[size_t(j)] = int(i);
                        const Segment& o = m_segments[size_t(j)];
                        if (std::max(o.ax, o.bx) < x0 || std::min(o.ax, o.bx) > x1 || std::max(o.ay, o.by) < y0
                            || std::min(o.ay, o.by) > y1)
                            continue;
                        const Closest at = closestPoints(s, o);
                        if (at.d < m_reach)
                            m_candidates.push_back({int(i), j, at});
                    }
                }
        }
    }

    // Distance along one contour; a closed contour may be followed either way round.
    double along(int contour, double from, double to) const
    {
        const ContourSpan& span = m_spans[size_t(contour)];
        const double d = std::abs(from - to);
        return span.closed ? std::min(d, span.length - d) : d;
    }

    // The shortest way from one point to another along the traces, crossing from one trace
    // to another only where they meet; infinite when no such way is known.
    double pathBetween(int cp, double sp, int cq, double sq) const
    {
        double best = cp == cq ? along(cp, sp, sq) : kInfinity;
        for (const Joint& j : m_joints) {
            if (j.c1 == cp && j.c2 == cq)
                best = std::min(best, along(cp, sp, j.s1) + along(cq, j.s2, sq));
            if (j.c2 == cp && j.c1 == cq)
                best = std::min(best, along(cp, sp, j.s2) + along(cq, j.s1, sq));
        }
        return best;
    }

    void addJoint(const Joint& joint)
    {
        // Neighbouring segments around one meeting point all touch: keep one of them.
        for (const Joint& j : m_joints)
            if (j.c1 == joint.c1 && j.c2 == joint.c2 && std::abs(j.s1 - joint.s1) <= m_joined
                && std::abs(j.s2 - joint.s2) <= m_joined)
                return;
        m_joints.push_back(joint);
    }

    void findJoints()
    {
        for (const Candidate& c : m_candidates) {
            if (c.at.d >= m_joined)
                continue;
            const Segment& a = m_segments[size_t(c.i)];
            const Segment& b = m_segments[size_t(c.j)];
            const double sa = a.start + c.at.t;
            const double sb = b.start + c.at.u;
            // Neighbouring segments of one trace always touch; a trace meets itself only where
            // it comes back after a detour (a loop crossing its own stroke).
            if (a.contour == b.contour && along(a.contour, sa, sb) <= kDetourFactor * m_joined)
                continue;
            addJoint({a.contour, sa, b.contour, sb});
        }
    }

    // Whether the point lies inside the filled outline (non-zero winding), by a ray towards +x
    // through the grid's row of the point.
    bool insideFill(double px, double py) const
    {
        const std::int64_t y = row(py);
        int winding = 0;
        for (std::int64_t x = column(px); x < m_nx; ++x) {
            const std::int64_t cell = y * m_nx + x;
            for (std::int64_t k = m_first[size_t(cell)]; k < m_first[size_t(cell + 1)]; ++k) {
                const Segment& s = m_segments[size_t(m_items[size_t(k)])];
                if ((s.ay <= py) == (s.by <= py))
                    continue;
                const double xc = s.ax + (py - s.ay) * (s.bx - s.ax) / (s.by - s.ay);
                // A segment lies in every cell its box covers: count it in the cell of its crossing only.
                if (xc <= px || column(xc) != x)
                    continue;
                winding += s.by > s.ay ? 1 : -1;
            }
        }
        return winding != 0;
    }

    // Whether two points at distance d belong to separate strokes. Of a filled outline, two
    // edges facing each other across the fill are the two sides of one stroke: only a gap
    // across the background separates strokes.
    bool separate(int a, double ta, double px, double py, int b, double tb, double qx, double qy, double d) const
    {
        const Segment& sa = m_segments[size_t(a)];
        const Segment& sb = m_segments[size_t(b)];
        if (!locallyClosest(sa, ta, qx, qy, d) || !locallyClosest(sb, tb, px, py, d))
            return false;
        if (pathBetween(sa.contour, sa.start + ta, sb.contour, sb.start + tb) <= kDetourFactor * d)
            return false;
        return !m_filled || !insideFill((px + qx) / 2, (py + qy) / 2);
    }

    // Whether the point at offset t of segment s is, along its trace, the closest to (x, y):
    // at a vertex, the neighbouring segment must not come closer. The two sides of a corner
    // get ever closer towards its tip, so no pair of them is a narrowest place, while the two
    // sides of a slot, a counter's narrow place or a stroke ending short of another are.
    bool locallyClosest(const Segment& s, double t, double x, double y, double d) const
    {
        const double slack = 1e-9 * std::max(1.0, d);
        double other = 0;
        if (t <= 0 && s.previous >= 0) {
            projectOnto(m_segments[size_t(s.previous)], x, y, other);
            if (other < d - slack)
                return false;
        }
        if (t >= s.length && s.next >= 0) {
            projectOnto(m_segments[size_t(s.next)], x, y, other);
            if (other < d - slack)
                return false;
        }
        return true;
    }

    // Counters: a closed trace around background (a TrueType counter, a stroke-font loop) is
    // filled in by the spot when it is narrower than the limit in its narrowest direction.
    // Pairs of its points are no narrowest places (opposite sides of a round counter are the
    // farthest apart, not the closest), so its width is measured on its own.
    std::optional<double> narrowestCounter() const
    {
        std::optional<double> best;
        for (const ContourSpan& span : m_spans) {
            if (!span.closed || span.endSegment - span.firstSegment < 3)
                continue;
            if (m_filled && !enclosesBackground(span))
                continue;
            const double width = hullWidth(span);
            if (width >= m_joined && width < m_limit && (!best || width < *best))
                best = width;
        }
        return best;
    }

    bool enclosesBackground(const ContourSpan& span) const
    {
        double area2 = 0;
        for (int i = span.firstSegment; i < span.endSegment; ++i) {
            const Segment& s = m_segments[size_t(i)];
            area2 += s.ax * s.by - s.bx * s.ay;
        }
        // A point just inside the trace, beside the middle of its longest segment.
        const Segment* longest = &m_segments[size_t(span.firstSegment)];
        for (int i = span.firstSegment; i < span.endSegment; ++i)
            if (m_segments[size_t(i)].length > longest->length)
                longest = &m_segments[size_t(i)];
        const double side = (area2 > 0 ? 1 : -1) * std::min(m_joined, longest->length) * 1e-3;
        const double nx = -(longest->by - longest->ay) / longest->length;
        const double ny = (longest->bx - longest->ax) / longest->length;
        return !insideFill((longest->ax + longest->bx) / 2 + side * nx, (longest->ay + longest->by) / 2 + side * ny);
    }

    // The width of the trace's convex hull in its narrowest direction.
    double hullWidth(const ContourSpan& span) const
    {
        std::vector<std::pair<double, double>> points;
        for (int i = span.firstSegment; i < span.endSegment; ++i)
            points.emplace_back(m_segments[size_t(i)].ax, m_segments[size_t(i)].ay);
        std::sort(points.begin(), points.end());
        const auto cross = [](const std::pair<double, double>& o, const std::pair<double, double>& a,
                              const std::pair<double, double>& b) {
            return (a.first - o.first) * (b.second - o.second) - (a.second - o.second) * (b.first - o.first);
        };
        std::vector<std::pair<double, double>> hull(2 * points.size());
        size_t k = 0;
        for (size_t i = 0; i < points.size(); ++i) {
            while (k >= 2 && cross(hull[k - 2], hull[k - 1], points[i]) <= 0)
                --k;
            hull[k++] = points[i];
        }
        for (size_t i = points.size() - 1, lower = k + 1; i-- > 0;) {
            while (k >= lower && cross(hull[k - 2], hull[k - 1], points[i]) <= 0)
                --k;
            hull[k++] = points[i];
        }
        hull.resize(k > 0 ? k - 1 : 0);
        if (hull.size() < 3)
            return 0;
        double width = kInfinity;
        for (size_t i = 0; i < hull.size(); ++i) {
            const auto& a = hull[i];
            const auto& b = hull[(i + 1) % hull.size()];
            const double length = std::hypot(b.first - a.first, b.second - a.second);
            if (length <= 0)
                continue;
            double farthest = 0;
            for (const auto& p : hull)
                farthest = std::max(farthest, std::abs(cross(a, b, p)) / length);
            width = std::min(width, farthest);
        }
        return width;
    }

    static void pointAt(const Segment& s, double offset, double& x, double& y)
    {
        const double f = s.length > 0 ? offset / s.length : 0;
        x = s.ax + f * (s.bx - s.ax);
        y = s.ay + f * (s.by - s.ay);
    }

    std::optional<double> smallestGap()
    {
        std::optional<double> best = narrowestCounter();
        std::sort(m_candidates.begin(), m_candidates.end(),
                  [](const Candidate& x, const Candidate& y) { return x.at.d < y.at.d; });
        for (const Candidate& c : m_candidates) {
            if (c.at.d < m_joined)
                continue;
            if (c.at.d >= m_limit || (best && c.at.d >= *best))
                break;
            const Segment& a = m_segments[size_t(c.i)];
            const Segment& b = m_segments[size_t(c.j)];
            double px = 0, py = 0, qx = 0, qy = 0;
            pointAt(a, c.at.t, px, py);
            pointAt(b, c.at.u, qx, qy);
            if (separate(c.i, c.at.t, px, py, c.j, c.at.u, qx, qy, c.at.d)) {
                // Candidates come in order of distance: none left can be closer.
                best = c.at.d;
                break;
            }
            // The closest points may be the two sides of a corner while farther along the same
            // two segments run side by side (the two edges of a thin stem): probe the longer one.
            const bool aLonger = a.length >= b.length;
            const Segment& probed = aLonger ? a : b;
            const Segment& other = aLonger ? b : a;
            if (probed.length <= m_limit / 2)
                continue;
            const int probes = int(std::min(std::ceil(probed.length / (m_limit / 4)), double(kMaxProbes)));
            for (int k = 0; k <= probes; ++k) {
                const double f = double(k) / probes;
                px = probed.ax + f * (probed.bx - probed.ax);
                py = probed.ay + f * (probed.by - probed.ay);
                double d = 0;
                const double u = projectOnto(other, px, py, d);
                if (d < m_joined || d >= m_limit || (best && d >= *best))
                    continue;
                pointAt(other, u, qx, qy);
                // Inside a segment, a narrowest place faces the other trace square on; a probe
                // across a corner looks at the other side at a slant.
                const double along = ((qx - px) * (probed.bx - probed.ax) + (qy - py) * (probed.by - probed.ay))
                                     / (d * probed.length);
                if (std::abs(along) > kSquareOn)
                    continue;
                if (separate(aLonger ? c.i : c.j, f * probed.length, px, py, aLonger ? c.j : c.i, u, qx, qy, d))
                    best = d;
            }
        }
        return best;
    }

    double m_limit;
    double m_joined;
    double m_reach;
    bool m_filled;
    std::vector<Segment> m_segments;
    std::vector<ContourSpan> m_spans;
    std::vector<Joint> m_joints;
    std::vector<Candidate> m_candidates;
    double m_minX = 0, m_minY = 0, m_cell = 1;
    std::int64_t m_nx = 1, m_ny = 1;
    std::vector<std::int64_t> m_first;
    std::vector<int> m_items;
};

QString micrometres(double um)
{
    // Whole micrometres read best; below one a decimal keeps a gap from reading as none.
    return QString::number(um, 'f', um < 1 ? 1 : 0);
}

} // namespace

LegibilityLimits LegibilityLimits::fromSettings(const TSettings& settings)
{
    return {settings.SpotDiameter, settings.PulseDistance};
}

double LegibilityLimits::limitUm() const
{
    const auto usable = [](double v) { return std::isfinite(v) && v > 0 ? v : 0.0; };
    return std::max(usable(spotDiameterUm), 2 * usable(pulseDistanceUm));
}

bool LegibilityLimits::spotGoverns() const
{
    return !(std::isfinite(pulseDistanceUm) && pulseDistanceUm > 0) || !std::isfinite(spotDiameterUm)
           || spotDiameterUm >= 2 * pulseDistanceUm;
}

std::optional<double> smallestStrokeGap(const TContourList& contours, double limit, double joinedTolerance, bool filled)
{
    if (!(limit > joinedTolerance) || !std::isfinite(limit))
        return std::nullopt;
    return StrokeGapFinder(contours, limit, joinedTolerance, filled).run();
}

std::vector<LegibilityFinding> CheckLegibility(const TLabelTree& tree, double girdleHeightMm,
                                               const LegibilityLimits& limits)
{
    std::vector<LegibilityFinding> findings;
    const double limitUm = limits.limitUm();
    if (!(limitUm > 0) || !(girdleHeightMm > 0) || !std::isfinite(girdleHeightMm))
        return findings;
    // A label repeats its characters: each (text, code, height) is measured once.
    std::map<std::tuple<const TGlyphWideString*, char16_t, double>, std::optional<double>> measured;
    // TrueType characters are filled outlines; stroke and custom fonts are lines.
    std::map<const TGlyphWideString*, bool> filledText;
    for (const TTreeNode* node : tree.Items()) {
        const auto* ch = dynamic_cast<const TGlyphChar*>(node->Data());
        if (!ch || !ch->ContourList || ch->ContourList->isEmpty())
            continue;
        const double sizeMm = ch->RelativeSize * girdleHeightMm;
        if (!(sizeMm > 0) || !std::isfinite(sizeMm))
            continue;
        const auto key = std::make_tuple(static_cast<const TGlyphWideString*>(ch->GlyphWideString), ch->UniCode,
                                         ch->RelativeSize);
        auto it = measured.find(key);
        if (it == measured.end()) {
            // The outline is in units of the character's height.
            auto filled = filledText.find(ch->GlyphWideString);
            if (filled == filledText.end()) {
                const QString font = ch->GlyphWideString ? ch->GlyphWideString->FontName : QString();
                filled = filledText.emplace(ch->GlyphWideString, !IsStrokeFont(font) && !isCustomFont(font)).first;
            }
            const double cellUm = sizeMm * 1000;
            it = measured.emplace(key, smallestStrokeGap(*ch->ContourList, limitUm / cellUm,
                                                             filled->second ? kJoinedFractionFilled : kJoinedFractionLines,
                                                             filled->second))
                     .first;
            if (it->second)
                *it->second *= cellUm;
        }
        if (!it->second)
            continue;
        const double gapUm = *it->second;
        const QString character(QChar(ch->UniCode));
        auto group = std::find_if(findings.begin(), findings.end(),
                                  [sizeMm](const LegibilityFinding& f) { return f.sizeMm == sizeMm; });
        if (group == findings.end()) {
            findings.push_back({sizeMm, character, gapUm});
            continue;
        }
        if (!group->characters.contains(character))
            group->characters += character;
        group->smallestGapUm = std::min(group->smallestGapUm, gapUm);
    }
    return findings;
}

QStringList legibilityLines(const std::vector<LegibilityFinding>& findings, const LegibilityLimits& limits)
{
    const QString limit = limits.spotGoverns()
                              ? QStringLiteral("spot %1 um").arg(micrometres(limits.limitUm()))
                              : QStringLiteral("two pulse distances %1 um").arg(micrometres(limits.limitUm()));
    QStringList lines;
    for (const LegibilityFinding& f : findings) {
        QStringList quoted;
        for (QChar c : f.characters)
            quoted << QStringLiteral("'") + c + QStringLiteral("'");
        lines << QStringLiteral("Characters %1 at %2 mm: strokes %3 um apart, %4.")
                     .arg(quoted.join(QStringLiteral(", ")), QString::number(f.sizeMm, 'f', 3),
                          micrometres(f.smallestGapUm), limit);
    }
    return lines;
}

} // namespace lapido
