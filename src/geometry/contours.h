// Polylines of vertices (contours), lists of them, and quadratic B-spline flattening.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

namespace lapido {

struct TVertex {
    double X = 0;
    double Y = 0;
    bool Processed = false;
    bool operator==(const TVertex&) const = default;
};

// An ordered list of vertices it owns. Index errors throw std::out_of_range.
class TVertexList {
public:
    TVertexList() = default;
    virtual ~TVertexList() = default;
    TVertexList(const TVertexList&) = default;
    TVertexList(TVertexList&&) noexcept = default;
    TVertexList& operator=(const TVertexList&) = default;
    TVertexList& operator=(TVertexList&&) noexcept = default;

    int Add(double X, double Y);
    int Add(const TVertex& AVertex)
    {
        m_vertices.push_back(AVertex);
        return int(m_vertices.size()) - 1;
    }
    TVertex GetVertex(int Index) const;
    void Delete(int Index);
    virtual void Clear();
    // Removes, in one pass, every vertex for which drop(vertex) is true; drop sees the
    // vertices in order.
    template <class Drop>
    void EraseIf(Drop drop)
    {
        std::erase_if(m_vertices, drop);
    }
    // Gives back the room beyond the vertices held (a finished outline that is kept).
    void ShrinkToFit() { m_vertices.shrink_to_fit(); }

    int Count() const { return int(m_vertices.size()); }
    bool isEmpty() const { return m_vertices.empty(); }
    const TVertex& operator[](int index) const { return m_vertices[std::size_t(index)]; }
    const std::vector<TVertex>& vertices() const { return m_vertices; }
    auto begin() const { return m_vertices.begin(); }
    auto end() const { return m_vertices.end(); }

protected:
    std::vector<TVertex> m_vertices;
};

// One open or closed polyline; a closed one repeats its first point as its last.
class TContour : public TVertexList {
public:
    // Vertices come one by one; room grows in blocks so that long outlines do not reallocate
    // at every point. A full contour gains one block or, once larger, as much room as it
    // already has: adding a million vertices copies them a few times, not thousands.
    static constexpr int kCapacityBlock = 256;
    static constexpr std::size_t grownCapacity(std::size_t capacity)
    {
        return capacity + (capacity > std::size_t(kCapacityBlock) ? capacity : std::size_t(kCapacityBlock));
    }

    TContour();
    // Room for exactly this many vertices, for a reader that knows the count (an empty
    // contour then holds no memory).
    explicit TContour(std::size_t capacity);
    // A contour's first block of room goes back to a per-thread cache when it ends, so the
    // next contour (character outlines make and drop them by the thousand) starts without an
    // allocation.
    ~TContour() override;
    TContour(const TContour&) = default;
    TContour(TContour&&) noexcept = default;
    TContour& operator=(const TContour&) = default;
    TContour& operator=(TContour&&) noexcept = default;
    int Add(double X, double Y);
    int Add(const TVertex& AVertex)
    {
        reserveForOneMore();
        return TVertexList::Add(AVertex);
    }
    int capacity() const { return int(m_vertices.capacity()); }

    // Appends a quadratic B-spline with implied on-curve midpoints (the TrueType form). Node 0
    // is the start point, already in the contour; nodes 1..N-2 are off-curve controls; node
    // N-1 is the on-curve end. With N <= 2 every node (node 0 included) is appended as it is.
    // Each Bezier piece is split until consecutive segments turn by no more than
    // Settings().ContourResolution radians.
    void AddQubicBSpline(const TVertexList& QBSplineNodes);

private:
    void reserveForOneMore()
    {
        if (m_vertices.size() == m_vertices.capacity())
            m_vertices.reserve(grownCapacity(m_vertices.capacity()));
    }
    void addQuadraticPiece(const TVertex& s, const TVertex& c, const TVertex& e, double cosLimit,
                           int depth);
};

// Owns its contours; removing or clearing destroys them. References stay valid while more
// contours are added.
class TContourList {
public:
    TContour& GetContour(int Index) const;
    // Takes ownership; returns the index.
    int Add(std::unique_ptr<TContour> AContour);
    int Add(TContour&& AContour);
    void Delete(int Index);
    void Clear() { m_contours.clear(); }
    int Count() const { return int(m_contours.size()); }
    bool isEmpty() const { return m_contours.empty(); }

private:
    std::vector<std::unique_ptr<TContour>> m_contours;
};

} // namespace lapido
