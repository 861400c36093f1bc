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

TContour::TContour()
{
    m_vertices.reserve(kCapacityBlock);
}

int TContour::Add(double X, double Y)
{
    return Add(TVertex{X, Y, false});
}

void TContour::addQuadraticPiece(const TVertex& s, const TVertex& c, const TVertex& e,
                                 double cosLimit, int depth)
{
    const double ax = c.X - s.X, ay = c.Y - s.Y;
    const double bx = e.X - c.X, by = e.Y - c.Y;
    // The turn test cos(theta) = a.b / (|a| |b|) >= cosLimit, squared so that the innermost step
    // of every character outline needs no square root; legs with |a| |b| <= 0.0001 count as
    // straight.
    const double pp = (ax * ax + ay * ay) * (bx * bx + by * by);
    const double dot = ax * bx + ay * by;
    bool straight;
    if (std::isnan(pp) || std::isnan(dot) || pp <= 1e-8)
        straight = true; // not-a-number (from non-finite nodes) cannot be settled by splitting
    else if (cosLimit >= 0)
        straight = dot >= 0 && dot * dot >= cosLimit * cosLimit * pp;
    else
        straight = !(dot / std::sqrt(pp) < cosLimit);
    if (straight || depth >= kMaxSplitDepth) {
        Add(e);
        return;
    }
    const TVertex m1 = midpoint(s, c);
    const TVertex m2 = midpoint(c, e);
    const TVertex m = midpoint(m1, m2);
    addQuadraticPiece(s, m1, m, cosLimit, depth + 1);
    addQuadraticPiece(m, m2, e, cosLimit, depth + 1);
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
