// Outline extraction for every character of Liberation Sans beside FreeType's own load-and-decompose.
#include "geometry/contours.h"
#include "glyphs/customfonts.h"
#include "glyphs/fontoutlines.h"
#include "glyphs/truetypefonts.h"
#include "platform/settingsstore.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"

#include <QGuiApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <cmath>
#include <vector>

using namespace lapido;

namespace {

const QString kFamily = QStringLiteral("Liberation Sans");

// The characters of the font's character map (16-bit codes, as labels carry them).
std::vector<char16_t> charactersOf(FT_Face face)
{
    std::vector<char16_t> codes;
    FT_UInt index = 0;
    for (FT_ULong code = FT_Get_First_Char(face, &index); index != 0; code = FT_Get_Next_Char(face, code, &index))
        if (code <= 0xFFFF)
            codes.push_back(char16_t(code));
    return codes;
}

// A private store and working folder, so that the custom-font lookup finds an empty folder.
struct Station {
    QTemporaryDir dir;
    Station()
    {
        setAppRegistry(SettingsStore::open(dir.filePath(QStringLiteral("settings.db"))));
        keys::write(keys::WorkingDir, dir.path() + QLatin1Char('/'));
        TCustomFonts();
        Settings().ContourResolution = 6 * M_PI / 180;
    }
    ~Station() { setAppRegistry(nullptr); }
};

void BM_FreeTypeLoadAndDecompose(benchmark::State& state)
{
    const TrueTypeFace* face = truetype::face(kFamily, {});
    if (!face) {
        state.SkipWithError("Liberation Sans is not installed");
        return;
    }
    FT_Library lib = nullptr;
    FT_Init_FreeType(&lib);
    FT_Face ft = nullptr;
    if (FT_New_Face(lib, face->file().toLocal8Bit().constData(), 0, &ft) != 0) {
        state.SkipWithError("font file cannot be opened");
        return;
    }
    const std::vector<char16_t> codes = charactersOf(ft);
    std::vector<FT_UInt> indices;
    for (char16_t c : codes)
        indices.push_back(FT_Get_Char_Index(ft, c));
    FT_Outline_Funcs funcs{};
    funcs.move_to = [](const FT_Vector*, void* u) { ++*static_cast<long*>(u); return 0; };
    funcs.line_to = [](const FT_Vector*, void* u) { ++*static_cast<long*>(u); return 0; };
    funcs.conic_to = [](const FT_Vector*, const FT_Vector*, void* u) { ++*static_cast<long*>(u); return 0; };
    funcs.cubic_to = [](const FT_Vector*, const FT_Vector*, const FT_Vector*, void* u) {
        ++*static_cast<long*>(u);
        return 0;
    };
    long segments = 0;
    for (auto _ : state) {
        for (FT_UInt gi : indices) {
            FT_Load_Glyph(ft, gi, FT_LOAD_NO_SCALE);
            FT_Outline_Decompose(&ft->glyph->outline, &funcs, &segments);
        }
        benchmark::DoNotOptimize(segments);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(indices.size()));
    state.counters["chars"] = double(indices.size());
    FT_Done_Face(ft);
    FT_Done_FreeType(lib);
}
BENCHMARK(BM_FreeTypeLoadAndDecompose)->Unit(benchmark::kMicrosecond);

void BM_GetCharOutlineFlattened6Degrees(benchmark::State& state)
{
    Station station;
    const TrueTypeFace* face = truetype::face(kFamily, {});
    if (!face) {
        state.SkipWithError("Liberation Sans is not installed");
        return;
    }
    const std::vector<char16_t> codes = charactersOf(static_cast<FT_Face>(face->ftFace()));
    long vertices = 0;
    for (auto _ : state) {
        for (char16_t code : codes) {
            double cellIncX = 0, blackBoxX = 0, originX = 0;
            auto contours = GetCharOutline(kFamily, {}, code, cellIncX, blackBoxX, originX);
            for (int c = 0; c < contours->Count(); ++c)
                vertices += contours->GetContour(c).Count();
        }
        benchmark::DoNotOptimize(vertices);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(codes.size()));
    state.counters["chars"] = double(codes.size());
    state.counters["vertices/char"] =
        double(vertices) / double(std::max<int64_t>(1, int64_t(state.iterations()) * int64_t(codes.size())));
}
BENCHMARK(BM_GetCharOutlineFlattened6Degrees)->Unit(benchmark::kMicrosecond);

// The walk alone, without flattening or contour lists: where the time goes.
void BM_NativeOutlineOnly(benchmark::State& state)
{
    const TrueTypeFace* face = truetype::face(kFamily, {});
    if (!face) {
        state.SkipWithError("Liberation Sans is not installed");
        return;
    }
    const std::vector<char16_t> codes = charactersOf(static_cast<FT_Face>(face->ftFace()));
    NativeOutline native;
    for (auto _ : state) {
        for (char16_t code : codes)
            face->nativeOutline(code, native);
        benchmark::DoNotOptimize(native.points.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(codes.size()));
}
BENCHMARK(BM_NativeOutlineOnly)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
