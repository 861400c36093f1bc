// Geometry benchmarks: DXF import throughput and linearity, spline flattening, outlines.
// Besides the Google Benchmark run, "--write-dxf FILE N" writes the large test drawing and
// "--import FILE" imports one file as a whole process (for bench/peers/dxf.sh).
#include "geometry/cadonpaintbox.h"
#include "geometry/contours.h"
#include "settings/settingsrecord.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <numbers>
#include <random>
#include <string>

using namespace lapido;

namespace {

constexpr int kLayers = 24;

// Writes an AutoCAD 2000 style ASCII DXF: header, layer table, an unused block, and model
// space entities with handles, owners and subclass markers, codes right-aligned in three
// columns, CR LF line ends. Mix: 40 % LINE, 20 % ARC, 15 % CIRCLE, 20 % LWPOLYLINE (3-18
// vertices, a third with bulges, half closed), 5 % old-style POLYLINE. Deterministic.
class DxfWriter {
public:
    explicit DxfWriter(int entities) : m_entities(entities) {}

    std::string write()
    {
        m_out.reserve(std::size_t(m_entities) * 260 + 4096);
        header();
        tables();
        blocks();
        pair(0, "SECTION");
        pair(2, "ENTITIES");
        for (int i = 0; i < m_entities; ++i)
            entity();
        pair(0, "ENDSEC");
        pair(0, "SECTION");
        pair(2, "OBJECTS");
        pair(0, "DICTIONARY");
        pair(5, "C");
        pair(100, "AcDbDictionary");
        pair(0, "ENDSEC");
        pair(0, "EOF");
        return std::move(m_out);
    }

    // Objects the drawing should receive: one per line, arc and circle, one per polyline
    // segment.
    long expectedObjects() const { return m_objects; }
    const std::map<std::string, long>& counts() const { return m_counts; }

private:
    void pair(int code, const char* value)
    {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%3d\n", code);
        m_out += buf;
        m_out += value;
        m_out += "\n";
    }
    void pair(int code, const std::string& value) { pair(code, value.c_str()); }
    void num(int code, double v)
    {
        char buf[48];
        std::snprintf(buf, sizeof buf, "%.6f", v);
        std::string s(buf);
        while (s.back() == '0')
            s.pop_back();
        if (s.back() == '.')
            s += '0';
        pair(code, s);
    }
    void integer(int code, long v) { pair(code, std::to_string(v)); }
    std::string handle()
    {
        char buf[24];
        std::snprintf(buf, sizeof buf, "%lX", ++m_handle);
        return buf;
    }
    double coord(double max) { return std::uniform_real_distribution<double>(0, max)(m_rng); }
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_rng); }

    void header()
    {
        pair(0, "SECTION");
        pair(2, "HEADER");
        pair(9, "$ACADVER");
        pair(1, "AC1015");
        pair(9, "$INSUNITS");
        integer(70, 4);
        pair(9, "$EXTMIN");
        num(10, 0);
        num(20, 0);
        num(30, 0);
        pair(9, "$EXTMAX");
        num(10, 600);
        num(20, 400);
        num(30, 0);
        pair(0, "ENDSEC");
    }

    void tables()
    {
        pair(0, "SECTION");
        pair(2, "TABLES");
        pair(0, "TABLE");
        pair(2, "LAYER");
        pair(5, "2");
        pair(100, "AcDbSymbolTable");
        integer(70, kLayers + 1);
        for (int i = 0; i <= kLayers; ++i) {
            pair(0, "LAYER");
            pair(5, handle());
            pair(100, "AcDbSymbolTableRecord");
            pair(100, "AcDbLayerTableRecord");
            pair(2, i == 0 ? std::string("0") : "Layer_" + std::to_string(i));
            integer(70, 0);
            integer(62, 1 + i % 7);
            pair(6, "CONTINUOUS");
        }
        pair(0, "ENDTAB");
        pair(0, "ENDSEC");
    }

    void blocks()
    {
        pair(0, "SECTION");
        pair(2, "BLOCKS");
        pair(0, "BLOCK");
        pair(5, handle());
        pair(100, "AcDbEntity");
        pair(8, "0");
        pair(100, "AcDbBlockBegin");
        pair(2, "*Model_Space");
        integer(70, 0);
        num(10, 0);
        num(20, 0);
        num(30, 0);
        pair(0, "LINE");
        pair(5, handle());
        pair(100, "AcDbEntity");
        pair(8, "0");
        pair(100, "AcDbLine");
        num(10, 0);
        num(20, 0);
        num(11, 1);
        num(21, 1);
        pair(0, "ENDBLK");
        pair(5, handle());
        pair(100, "AcDbEntity");
        pair(8, "0");
        pair(100, "AcDbBlockEnd");
        pair(0, "ENDSEC");
    }

    void common(const char* type, const char* subclass)
    {
        pair(0, type);
        pair(5, handle());
        pair(330, "1F");
        pair(100, "AcDbEntity");
        pair(8, "Layer_" + std::to_string(1 + pick(kLayers)));
        if (pick(8) == 0)
            integer(62, 1 + pick(250));
        if (pick(16) == 0)
            pair(6, "DASHED");
        pair(100, subclass);
        ++m_counts[type];
    }

    void entity()
    {
        const int kind = pick(100);
        if (kind < 40) {
            common("LINE", "AcDbLine");
            num(10, coord(600));
            num(20, coord(400));
            num(30, 0);
            num(11, coord(600));
            num(21, coord(400));
            num(31, 0);
            ++m_objects;
        } else if (kind < 60) {
            common("ARC", "AcDbCircle");
            num(10, coord(600));
            num(20, coord(400));
            num(30, 0);
            num(40, 0.5 + coord(20));
            pair(100, "AcDbArc");
            num(50, coord(360));
            num(51, coord(360));
            ++m_objects;
        } else if (kind < 75) {
            common("CIRCLE", "AcDbCircle");
            num(10, coord(600));
            num(20, coord(400));
            num(30, 0);
            num(40, 0.5 + coord(20));
            ++m_objects;
        } else if (kind < 95) {
            common("LWPOLYLINE", "AcDbPolyline");
            const int n = 3 + pick(16);
            const bool closed = pick(2) == 0;
            const bool bulges = pick(3) == 0;
            integer(90, n);
            integer(70, closed ? 1 : 0);
            num(43, 0);
            double x = coord(600), y = coord(400);
            for (int v = 0; v < n; ++v) {
                num(10, x);
                num(20, y);
                if (bulges && pick(2) == 0)
                    num(42, coord(2) - 1 + 0.01);
                x += coord(10) + 0.1;
                y += coord(10) - 5;
            }
            m_objects += closed ? n : n - 1;
            m_counts["LWPOLYLINE vertices"] += n;
        } else {
            common("POLYLINE", "AcDb2dPolyline");
            integer(66, 1);
            num(10, 0);
            num(20, 0);
            num(30, 0);
            integer(70, 0);
            const int n = 3 + pick(8);
            double x = coord(600), y = coord(400);
            for (int v = 0; v < n; ++v) {
                pair(0, "VERTEX");
                pair(5, handle());
                pair(330, "1F");
                pair(100, "AcDbEntity");
                pair(8, "Layer_1");
                pair(100, "AcDbVertex");
                pair(100, "AcDb2dVertex");
                num(10, x);
                num(20, y);
                num(30, 0);
                integer(70, 0);
                x += coord(10) + 0.1;
                y += coord(10) - 5;
            }
            pair(0, "SEQEND");
            pair(5, handle());
            pair(330, "1F");
            pair(100, "AcDbEntity");
            pair(8, "Layer_1");
            m_objects += n - 1;
            m_counts["POLYLINE vertices"] += n;
        }
    }

    int m_entities;
    std::string m_out;
    std::mt19937_64 m_rng{4711};
    unsigned long m_handle = 0x100;
    long m_objects = 0;
    std::map<std::string, long> m_counts;
};

void BM_LoadDxf(benchmark::State& state)
{
    DxfWriter writer(int(state.range(0)));
    const QByteArray text = QByteArray::fromStdString(writer.write());
    for (auto _ : state) {
        QBuffer buffer;
        buffer.setData(text);
        buffer.open(QIODevice::ReadOnly);
        TCADOnPaintBox drawing;
        const auto result = drawing.loadDxf(buffer);
        if (!result.ok || result.objectsAdded != writer.expectedObjects())
            state.SkipWithError("import did not build every object");
        benchmark::DoNotOptimize(drawing.CADObjectList.Count());
    }
    state.SetBytesProcessed(state.iterations() * text.size());
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetComplexityN(state.range(0));
}
// About three drawing objects an entity: the largest stays within what a drawing may hold.
BENCHMARK(BM_LoadDxf)->Arg(1600)->Arg(4000)->Arg(16000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

void BM_FlattenGlyphSpline(benchmark::State& state)
{
    Settings().ContourResolution = double(state.range(0)) * std::numbers::pi / 180;
    // A closed, glyph-like loop of 64 off-curve controls.
    TVertexList nodes;
    nodes.Add(1, 0);
    for (int i = 0; i < 64; ++i) {
        const double t = (i + 0.5) * 2 * std::numbers::pi / 64;
        const double r = i % 2 ? 1.1 : 0.9;
        nodes.Add(r * std::cos(t), r * std::sin(t));
    }
    nodes.Add(1, 0);
    long points = 0;
    for (auto _ : state) {
        TContour contour;
        contour.Add(1, 0);
        contour.AddQubicBSpline(nodes);
        points += contour.Count();
        benchmark::DoNotOptimize(contour.Count());
    }
    state.SetItemsProcessed(points);
}
BENCHMARK(BM_FlattenGlyphSpline)->Arg(1)->Arg(6);

void BM_GetOutLineOfLogo(benchmark::State& state)
{
    // A logo-sized drawing: a polygon of n sides given in shuffled order and directions.
    const int n = int(state.range(0));
    TCADOnPaintBox drawing;
    std::mt19937 rng(7);
    std::vector<int> order(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        order[std::size_t(i)] = i;
    std::shuffle(order.begin(), order.end(), rng);
    for (int i : order) {
        const double a = 2 * std::numbers::pi * i / n, b = 2 * std::numbers::pi * (i + 1) / n;
        const TCoord p{std::cos(a), std::sin(a)}, q{std::cos(b), std::sin(b)};
        if (i % 2)
            TCADLine::Create(drawing, p, q);
        else
            TCADLine::Create(drawing, q, p);
    }
    for (auto _ : state) {
        double width = 0;
        benchmark::DoNotOptimize(drawing.GetOutLine(width).Count());
    }
    state.SetComplexityN(n);
}
BENCHMARK(BM_GetOutLineOfLogo)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

int writeDxf(const char* path, int entities)
{
    DxfWriter writer(entities);
    const std::string text = writer.write();
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::WriteOnly) || file.write(text.data(), qint64(text.size())) != qint64(text.size())) {
        std::fprintf(stderr, "cannot write %s\n", path);
        return 1;
    }
    std::printf("wrote %s: %zu bytes, %d entities, %ld drawing objects expected\n", path, text.size(), entities,
                writer.expectedObjects());
    for (const auto& [name, count] : writer.counts())
        std::printf("  %s %ld\n", name.c_str(), count);
    return 0;
}

int importDxf(const char* path)
{
    TCADOnPaintBox drawing;
    const auto result = drawing.LoadDXF(QString::fromLocal8Bit(path));
    long arcs = 0;
    for (const auto& object : drawing.CADObjectList)
        arcs += object->typeName() == QLatin1String("TCADArc");
    std::printf("lapidograph objects %d (lines %ld, arcs %ld)\n", drawing.CADObjectList.Count(),
                drawing.CADObjectList.Count() - arcs, arcs);
    if (!result.ok) {
        std::fprintf(stderr, "%s\n", qPrintable(result.error));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--write-dxf") == 0)
        return writeDxf(argv[2], std::atoi(argv[3]));
    if (argc == 3 && std::strcmp(argv[1], "--import") == 0)
        return importDxf(argv[2]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
