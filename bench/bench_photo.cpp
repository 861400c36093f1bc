// Photographs: dithering a 12-megapixel picture, and the camera overlay of a photo glyph.
#include "glyphs/dithering.h"

#include <benchmark/benchmark.h>

#include <QImage>

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

} // namespace
BENCHMARK_MAIN();
