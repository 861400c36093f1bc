// ASCII DXF import: lines and arcs of the ENTITIES section into the drawing.
#include "geometry/cadonpaintbox.h"

#include <QFile>
#include <QIODevice>

#include <charconv>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <string_view>
#include <vector>

namespace lapido {

namespace {

constexpr double kPi = std::numbers::pi;
// One read of the file; a DXF line longer than this is not DXF.
constexpr std::size_t kBufferBytes = std::size_t(1) << 20;
// A logo is a few thousand objects; these bounds keep a damaged or hostile file from taking
// all memory or producing numbers that overflow in the view and the outline.
constexpr double kMaxMagnitude = kMaxDrawingMagnitude;
constexpr std::int64_t kMaxPolylineVertices = 1'000'000;

struct DxfError {
    std::int64_t line;
    QString message;
};

std::string_view trim(std::string_view s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r'))
        --e;
    return s.substr(b, e - b);
}

QString shown(std::string_view s)
{
    constexpr std::size_t kShow = 40;
    QString t = QString::fromUtf8(s.data(), qsizetype(std::min(s.size(), kShow)));
    return s.size() > kShow ? t + QStringLiteral("...") : t;
}

// Pairs of lines (group code, value) read through a fixed buffer, with a one-pair push-back.
class PairReader {
public:
    explicit PairReader(QIODevice& device) : m_device(device), m_buffer(kBufferBytes) {}

    // The next pair; false at the end of the file. A code line that is not a number, or a code
    // without its value line, throws.
    bool read()
    {
        if (m_pushedBack) {
            m_pushedBack = false;
            return true;
        }
        std::string_view codeLine;
        if (!nextLine(codeLine))
            return false;
        m_codeLineNo = m_lineNo;
        // Text editors may put a byte-order mark in front of the first line.
        if (m_codeLineNo == 1 && codeLine.starts_with("\xEF\xBB\xBF"))
            codeLine.remove_prefix(3);
        codeLine = trim(codeLine);
        int c = 0;
        const auto res = std::from_chars(codeLine.data(), codeLine.data() + codeLine.size(), c);
        if (codeLine.empty() || res.ec != std::errc() || res.ptr != codeLine.data() + codeLine.size()) {
            if (m_codeLineNo == 1 && codeLine.starts_with("AutoCAD Binary DXF"))
                throw DxfError{1, QStringLiteral("binary DXF is not supported; save the drawing as ASCII DXF")};
            throw DxfError{m_codeLineNo, QStringLiteral("group code expected, found \"%1\"").arg(shown(codeLine))};
        }
        std::string_view valueLine;
        if (!nextLine(valueLine))
            throw DxfError{m_codeLineNo, QStringLiteral("the file ends after group code %1 without its value (truncated file)").arg(c)};
        code = c;
        value = trim(valueLine);
        return true;
    }

    // read() where the end of the file would cut an entity or a section short.
    void need()
    {
        if (!read())
            throw truncated();
    }

    void pushBack() { m_pushedBack = true; }

    DxfError truncated() const
    {
        return DxfError{m_lineNo, QStringLiteral("the file ends inside a section (truncated file)")};
    }

    bool is(int c, std::string_view v) const { return code == c && value == v; }

    double number() const
    {
        std::string_view v = value;
        if (!v.empty() && v.front() == '+')
            v.remove_prefix(1);
        double d = 0;
        const auto res = std::from_chars(v.data(), v.data() + v.size(), d);
        if (v.empty() || res.ec != std::errc() || res.ptr != v.data() + v.size() || !std::isfinite(d))
            throw DxfError{m_codeLineNo + 1, QStringLiteral("group %1: number expected, found \"%2\"").arg(code).arg(shown(value))};
        if (std::abs(d) > kMaxMagnitude)
            throw DxfError{m_codeLineNo + 1, QStringLiteral("group %1: the number %2 is out of range").arg(code).arg(shown(value))};
        return d;
    }

    std::int64_t integer() const
    {
        std::string_view v = value;
        if (!v.empty() && v.front() == '+')
            v.remove_prefix(1);
        std::int64_t n = 0;
        const auto res = std::from_chars(v.data(), v.data() + v.size(), n);
        if (v.empty() || res.ec != std::errc() || res.ptr != v.data() + v.size())
            throw DxfError{m_codeLineNo + 1, QStringLiteral("group %1: integer expected, found \"%2\"").arg(code).arg(shown(value))};
        return n;
    }

    std::int64_t codeLine() const { return m_codeLineNo; }

    int code = 0;
    std::string_view value;

private:
    bool nextLine(std::string_view& line)
    {
        for (;;) {
            const char* begin = m_buffer.data() + m_pos;
            if (const void* nl = std::memchr(begin, '\n', m_end - m_pos)) {
                const auto* p = static_cast<const char*>(nl);
                line = std::string_view(begin, std::size_t(p - begin));
                m_pos += line.size() + 1;
                ++m_lineNo;
                return true;
            }
            if (m_eof) {
                if (m_pos == m_end)
                    return false;
                line = std::string_view(begin, m_end - m_pos);
                m_pos = m_end;
                ++m_lineNo;
                return true;
            }
            // Keep the unfinished line and fill the rest of the buffer behind it.
            std::memmove(m_buffer.data(), begin, m_end - m_pos);
            m_end -= m_pos;
            m_pos = 0;
            if (m_end == m_buffer.size())
                throw DxfError{m_lineNo + 1, QStringLiteral("line longer than %1 bytes").arg(kBufferBytes)};
            const qint64 n = m_device.read(m_buffer.data() + m_end, qint64(m_buffer.size() - m_end));
            if (n < 0)
                throw DxfError{m_lineNo + 1, QStringLiteral("read error: %1").arg(m_device.errorString())};
            if (n == 0)
                m_eof = true;
            m_end += std::size_t(n);
        }
    }

    QIODevice& m_device;
    std::vector<char> m_buffer;
    std::size_t m_pos = 0;
    std::size_t m_end = 0;
    bool m_eof = false;
    bool m_pushedBack = false;
    std::int64_t m_lineNo = 0;
    std::int64_t m_codeLineNo = 0;
};

// The reading loop of one import; objects go straight into the drawing.
class DxfReader {
public:
    DxfReader(TCADOnPaintBox& drawing, QIODevice& device) : m_drawing(drawing), m_in(device) {}

    void run()
    {
        for (;;) {
            if (!m_in.read() || m_in.is(0, "EOF"))
                return;
            if (!m_in.is(0, "SECTION"))
                continue;
            for (;;) {
                m_in.need();
                if (m_in.is(2, "ENTITIES")) {
                    entities();
                    break;
                }
                if (m_in.is(0, "ENDSEC"))
                    break;
            }
        }
    }

    int added() const { return m_added; }

private:
    void applyLayer()
    {
        if (m_in.code != 8)
            return;
        if (m_in.value != m_layerBytes) {
            m_layerBytes.assign(m_in.value);
            m_layer = QString::fromUtf8(m_layerBytes.data(), qsizetype(m_layerBytes.size()));
        }
    }

    // Reads on to the given code, applying layer pairs on the way when asked.
    void until(int code, bool withLayer)
    {
        for (;;) {
            m_in.need();
            if (withLayer)
                applyLayer();
            if (m_in.code == code)
                return;
        }
    }

    // The optional Z pair after a point: read when present, otherwise left for the next read.
    // The entity is complete without it, so the end of the file is left for the caller to meet.
    void optional(int code)
    {
        if (m_in.read() && m_in.code != code)
            m_in.pushBack();
    }

    void entities()
    {
        m_layer = QStringLiteral("0");
        m_layerBytes = "0";
        for (;;) {
            m_in.need();
            applyLayer();
            if (m_in.code != 0)
                continue;
            m_entity = m_in.value;
            if (m_in.value == "POLYLINE")
                polyline();
            else if (m_in.value == "LWPOLYLINE")
                lwPolyline();
            else if (m_in.value == "CIRCLE")
                circle();
            else if (m_in.value == "LINE")
                line();
            else if (m_in.value == "ARC")
                arc();
            else if (m_in.value == "ENDSEC")
                return;
        }
    }

    void add(std::unique_ptr<TCADObject> object, int plineId)
    {
        if (m_drawing.CADObjectList.Count() >= kMaxDrawingObjects)
            throw DxfError{m_in.codeLine(), QStringLiteral("more than %1 objects in the drawing, more than a logo may "
                                                           "hold (what a girdle can carry)")
                                                .arg(kMaxDrawingObjects)};
        // Every number is in range by now, but a circle of negative radius or an arc of many
        // turns is still no drawing to mark.
        const QString fault = object->geometryFault();
        if (!fault.isEmpty())
            throw DxfError{m_in.codeLine(), QStringLiteral("%1: %2").arg(shown(m_entity), fault)};
        object->LayerName = m_layer;
        object->PLineID = plineId;
        m_drawing.CADObjectList.Add(std::move(object));
        ++m_added;
    }

    void addLine(TCoord p1, TCoord p2, int plineId)
    {
        add(std::make_unique<TCADLine>(&m_drawing, p1, p2), plineId);
    }

    void addArc(std::unique_ptr<TCADArc> arc, int plineId)
    {
        if (!std::isfinite(arc->Pc.X) || !std::isfinite(arc->Pc.Y) || !std::isfinite(arc->R)
            || !std::isfinite(arc->A1) || !std::isfinite(arc->A2))
            throw DxfError{m_in.codeLine(), QStringLiteral("an arc without a finite centre")};
        add(std::move(arc), plineId);
    }

    void countVertex(std::int64_t& count)
    {
        if (++count > kMaxPolylineVertices)
            throw DxfError{m_in.codeLine(), QStringLiteral("a polyline with more than %1 vertices").arg(kMaxPolylineVertices)};
    }

    // Old-style polyline: straight segments between its VERTEX entities; bulges and the closed
    // flag are not read.
    void polyline()
    {
        const int id = ++m_polylines;
        bool first = true;
        std::int64_t vertices = 0;
        for (;;) {
            m_in.need();
            applyLayer();
            if (m_in.is(0, "SEQEND"))
                return;
            if (!m_in.is(0, "VERTEX"))
                continue;
            countVertex(vertices);
            m_previous = m_current;
            until(10, false);
            m_current.X = m_in.number();
            until(20, false);
            m_current.Y = m_in.number();
            if (first)
                first = false;
            else
                addLine(m_previous, m_current, id);
        }
    }

    // Lightweight polyline: a bulge written after a vertex bends the segment leaving it; a
    // closed one gets its closing segment with the last vertex's bulge.
    void lwPolyline()
    {
        const int id = ++m_polylines;
        bool first = true;
        do {
            m_in.need();
            applyLayer();
        } while (m_in.code != 90);
        std::int64_t n = m_in.integer();
        if (n < 0 || n > kMaxPolylineVertices)
            throw DxfError{m_in.codeLine(), QStringLiteral("a polyline with %1 vertices").arg(n)};
        m_in.need();
        const bool closed = m_in.code == 70 && (m_in.integer() & 1) == 1;
        if (m_in.code != 70)
            m_in.pushBack();
        if (closed)
            ++n;
        double bulge = 0;
        for (std::int64_t i = 1; i <= n; ++i) {
            const bool last = i == n;
            m_previous = m_current;
            if (closed && last) {
                m_in.need();
                if (m_in.code == 42) {
                    bulge = m_in.number();
                } else {
                    bulge = 0;
                    m_in.pushBack();
                }
                m_current = m_start;
            } else {
                do
                    m_in.need();
                while (m_in.code != 10 && m_in.code != 42);
                if (m_in.code == 42) {
                    bulge = m_in.number();
                    m_in.need();
                    m_current.X = m_in.number();
                } else {
                    bulge = 0;
                    m_current.X = m_in.number();
                }
                m_in.need();
                m_current.Y = m_in.number();
            }
            if (first) {
                first = false;
                m_start = m_current;
            } else if (bulge != 0) {
                addArc(std::make_unique<TCADArc>(&m_drawing, m_previous, m_current, 4 * std::atan(bulge)), id);
            } else {
                addLine(m_previous, m_current, id);
            }
        }
    }

    TCoord point(int xCode, int yCode)
    {
        TCoord p;
        until(xCode, true);
        p.X = m_in.number();
        until(yCode, true);
        p.Y = m_in.number();
        return p;
    }

    void circle()
    {
        const TCoord centre = point(10, 20);
        optional(30);
        until(40, true);
        const double radius = m_in.number();
        addArc(std::make_unique<TCADArc>(&m_drawing, centre, radius, 0.0, 2 * kPi), 0);
    }

    void line()
    {
        const TCoord p1 = point(10, 20);
        optional(30);
        const TCoord p2 = point(11, 21);
        optional(31);
        addLine(p1, p2, 0);
    }

    void arc()
    {
        const TCoord centre = point(10, 20);
        optional(30);
        until(40, true);
        const double radius = m_in.number();
        until(50, true);
        const double start = kPi * m_in.number() / 180;
        until(51, true);
        const double end = kPi * m_in.number() / 180;
        addArc(std::make_unique<TCADArc>(&m_drawing, centre, radius, start, end), 0);
    }

    TCADOnPaintBox& m_drawing;
    PairReader m_in;
    QString m_layer = QStringLiteral("0");
    std::string m_layerBytes = "0";
    std::string m_entity;
    int m_polylines = 0;
    int m_added = 0;
    TCoord m_previous, m_current, m_start;
};

} // namespace

DxfImportResult TCADOnPaintBox::loadDxf(QIODevice& device)
{
    DxfImportResult result;
    DxfReader reader(*this, device);
    try {
        reader.run();
    } catch (const DxfError& e) {
        result.ok = false;
        result.error = QStringLiteral("line %1: %2").arg(e.line).arg(e.message);
    } catch (const std::bad_alloc&) {
        result.ok = false;
        result.error = QStringLiteral("out of memory");
    }
    result.objectsAdded = reader.added();
    return result;
}

DxfImportResult TCADOnPaintBox::LoadDXF(const QString& FileName)
{
    QFile file(FileName);
    if (!file.open(QIODevice::ReadOnly)) {
        DxfImportResult result;
        result.ok = false;
        result.error = QStringLiteral("%1: %2").arg(FileName, file.errorString());
        return result;
    }
    DxfImportResult result = loadDxf(file);
    if (!result.ok)
        result.error = FileName + QStringLiteral(": ") + result.error;
    return result;
}

} // namespace lapido
