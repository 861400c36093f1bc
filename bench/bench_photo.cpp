// Photographs: dithering a 12-megapixel picture, and the camera overlay of a photo glyph.
#include "glyphs/dithering.h"
#include "glyphs/glyphphoto.h"
#include "platform/stationglobals.h"
#include "settings/settingsrecord.h"

#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>

#include <cmath>
#include <random>

namespace {

using namespace lapido;

// A grey ramp with a ripple and noise, like the peer comparison's test picture.
QImage rampPicture(int w, int h, QImage::Format format)
{
    QImage grey(w, h, QImage::Format_Grayscale8);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> noise(-24, 24);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = grey.scanLine(y);
        const double fy = double(y) / std::max(h - 1, 1);
        for (int x = 0; x < w; ++x) {
            const double fx = double(x) / std::max(w - 1, 1);
            const double v = 255.0 * (0.6 * fx + 0.4 * fy) + 18.0 * std::sin(fy * 7.0) * std::cos(fx * 5.0) + noise(rng);
            row[x] = static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
        }
    }
    return format == QImage::Format_Grayscale8 ? grey : grey.convertToFormat(format);
}

// The whole Execute at the picture's own size: extremes, mapping and diffusion of 12 MP.
void BM_DitherExecute12MP(benchmark::State& state)
{
    const auto format = state.range(0) ? QImage::Format_RGB32 : QImage::Format_Grayscale8;
    const QImage picture = rampPicture(4000, 3000, format);
    TDithering d;
    d.SourceImg = &picture;
    d.DitherWidth = 4000;
    d.DitherHeight = 3000;
    for (auto _ : state) {
        d.Execute();
        benchmark::DoNotOptimize(d.DitherImg.constBits());
    }
    state.SetItemsProcessed(state.iterations() * 4000 * 3000);
    state.SetLabel(state.range(0) ? "RGB picture" : "grey picture");
}
BENCHMARK(BM_DitherExecute12MP)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The camera overlay of a 200 x 100 dot photo on a 1008 x 820 picture: the view transform of
// glyph units to pixels, as the overlay painter chains it.
struct OverlayScene {
    OverlayScene()
        : camera(1008, 820, QImage::Format_RGB32),
          photo(nullptr, nullptr, rampPicture(400, 200, QImage::Format_RGB32), 1.0, 0.0)
    {
        camera.fill(qRgb(40, 60, 80));
        setGirdleHeight(0.5);
        Settings().PhotoResolution = 5; // 100 dot rows, 200 columns, 4 pixels apart
        view(400);
    }
    void view(double pixelsPerUnit)
    {
        xytf.Clear();
        xytf.SetScale(pixelsPerUnit, -pixelsPerUnit);
        xytf.SetRotation(0.1);
        xytf.SetOutTranslation(504, 410);
    }
    void paint(QPainter& painter)
    {
        SetPaintPosition(-1, 0);
        photo.Paint(painter, xytf);
    }
    QImage camera;
    TGlyphPhoto photo;
    TXYTransform xytf;
};

// A repaint that finds scale and rotation unchanged: copies the cached overlay onto the picture.
void BM_PhotoOverlayCachedRepaint(benchmark::State& state)
{
    OverlayScene scene;
    QImage canvas = scene.camera;
    QPainter painter(&canvas);
    painter.setPen(QColor(255, 255, 0));
    scene.paint(painter);
    for (auto _ : state) {
        scene.paint(painter);
        benchmark::ClobberMemory();
    }
    if (scene.photo.overlayRenderCount() != 1)
        state.SkipWithError("the overlay was rendered again");
}
BENCHMARK(BM_PhotoOverlayCachedRepaint)->Unit(benchmark::kMicrosecond);

// A scale change: dithering at the dot count and drawing every dot anew.
void BM_PhotoOverlayRerenderAfterScaleChange(benchmark::State& state)
{
    OverlayScene scene;
    QImage canvas = scene.camera;
    QPainter painter(&canvas);
    painter.setPen(QColor(255, 255, 0));
    bool zoomed = false;
    for (auto _ : state) {
        zoomed = !zoomed;
        scene.view(zoomed ? 440 : 400);
        scene.paint(painter);
        benchmark::ClobberMemory();
    }
    if (scene.photo.overlayRenderCount() != static_cast<int>(state.iterations()))
        state.SkipWithError("a scale change did not render the overlay again");
}
BENCHMARK(BM_PhotoOverlayRerenderAfterScaleChange)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
