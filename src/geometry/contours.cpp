// Contour containers and the recursive flattening of quadratic B-splines.
#include "geometry/contours.h"

#include "settings/settingsrecord.h"

#include <cmath>
#include <stdexcept>

namespace lapido {

namespace {

// A piece split this deep is a millionth of its size; the bound keeps a pathological piece
// (huge coordinates) from producing millions of points.
constexpr int kMaxSplitDepth = 20;

TVertex midpoint(const TVertex& p, const TVertex& q)
{
    return TVertex{(p.X + q.X) / 2, (p.Y + q.Y) / 2, false};
}

void checkIndex(int index, std::size_t size)
{
    if (index < 0 || std::size_t(index) >= size)
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
}

} // namespace

int TVertexList::Add(double X, double Y)
{
    return Add(TVertex{X, Y, false});
}

TVertex TVertexList::GetVertex(int Index) const
{
    checkIndex(Index, m_vertices.size());
    return m_vertices[std::size_t(Index)];
}

void TVertexList::Delete(int Index)
{
    checkIndex(Index, m_vertices.size());
    m_vertices.erase(m_vertices.begin() + Index);
}

void TVertexList::Clear()
{
    m_vertices.clear();
}

namespace {
// Buffers of exactly one block, ready for new contours of this thread.
constexpr std::size_t kCachedBlocks = 64;
thread_local std::vector<std::vector<TVertex>> t_freeBlocks;
} // namespace

TContour::TContour()
{
    if (!t_freeBlocks.empty()) {
        m_vertices = std::move(t_freeBlocks.back());
        t_freeBlocks.pop_back();
        m_vertices.clear();
        return;
    }
    m_vertices.reserve(kCapacityBlock);
}

TContour::TContour(std::size_t capacity)
{
    m_vertices.reserve(capacity);
}

TContour::~TContour()
{
    // Only untouched first blocks are kept, so a new contour always starts with exactly
    // one block of room.
    if (m_vertices.capacity() == std::size_t(kCapacityBlock) && t_freeBlocks.size() < kCachedBlocks)
        t_freeBlocks.push_back(std::move(m_vertices));
}

int TContour::Add(double X, double Y)
{
    return Add(TVertex{X, Y, false});
}

namespace {

// One piece (S, C, E) split at its parameter midpoint until its two legs turn by no more than
// the limit; only end points are appended. Plain coordinates keep the innermost step of every
// character outline small.
struct Flattener {
    std::vector<TVertex>& out;
    double cosLimit;
    double cos2;

    void piece(double sx, double sy, double cx, double cy, double ex, double ey, int depth)
    {
        const double ax = cx - sx, ay = cy - sy;
        const double bx = ex - cx, by = ey - cy;
        // cos(theta) = a.b / (|a| |b|) >= cosLimit, squared so that no square root is needed;
        // legs with |a| |b| <= 0.0001 count as straight.
        const double pp = (ax * ax + ay * ay) * (bx * bx + by * by);
        const double dot = ax * bx + ay * by;
        bool straight;
        if (std::isnan(pp) || std::isnan(dot) || pp <= 1e-8)
            straight = true; // not-a-number (from non-finite nodes) cannot be settled by splitting
        else if (cosLimit >= 0)
            straight = dot >= 0 && dot * dot >= cos2 * pp;
        else
            straight = !(dot / std::sqrt(pp) < cosLimit);
        if (straight || depth >= kMaxSplitDepth) {
            if (out.size() == out.capacity())
                out.reserve(TContour::grownCapacity(out.capacity()));
            out.push_back(TVertex{ex, ey, false});
            return;
        }
        const double m1x = (sx + cx) / 2, m1y = (sy + cy) / 2;
        const double m2x = (cx + ex) / 2, m2y = (cy + ey) / 2;
        const double mx = (m1x + m2x) / 2, my = (m1y + m2y) / 2;
        piece(sx, sy, m1x, m1y, mx, my, depth + 1);
        piece(mx, my, m2x, m2y, ex, ey, depth + 1);
    }
};

} // namespace

void TContour::addQuadraticPiece(const TVertex& s, const TVertex& c, const TVertex& e,
                                 double cosLimit, int depth)
{
    Flattener f{m_vertices, cosLimit, cosLimit * cosLimit};
    f.piece(s.X, s.Y, c.X, c.Y, e.X, e.Y, depth);
}

void TContour::AddQubicBSpline(const TVertexList& QBSplineNodes)
{
    const int n = QBSplineNodes.Count();
    if (n <= 2) {
        for (const TVertex& v : QBSplineNodes)
            Add(TVertex{v.X, v.Y, false});
        return;
    }
    const double cosLimit = std::cos(Settings().ContourResolution);
    for (int i = 1; i <= n - 2; ++i) {
        const TVertex& prev = QBSplineNodes[i - 1];
        const TVertex& ctrl = QBSplineNodes[i];
        const TVertex& next = QBSplineNodes[i + 1];
        const TVertex s = i > 1 ? midpoint(prev, ctrl) : TVertex{prev.X, prev.Y, false};
        const TVertex e = i < n - 2 ? midpoint(ctrl, next) : TVertex{next.X, next.Y, false};
        addQuadraticPiece(s, TVertex{ctrl.X, ctrl.Y, false}, e, cosLimit, 0);
    }
}

TContour& TContourList::GetContour(int Index) const
{
    checkIndex(Index, m_contours.size());
    return *m_contours[std::size_t(Index)];
}

int TContourList::Add(std::unique_ptr<TContour> AContour)
{
    if (!AContour)
        AContour = std::make_unique<TContour>();
    m_contours.push_back(std::move(AContour));
    return int(m_contours.size()) - 1;
}

int TContourList::Add(TContour&& AContour)
{
    return Add(std::make_unique<TContour>(std::move(AContour)));
}

void TContourList::Delete(int Index)
{
    checkIndex(Index, m_contours.size());
    m_contours.erase(m_contours.begin() + Index);
}

} // namespace lapido
