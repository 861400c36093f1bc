// Live picture: one video tick (frame copy from the simulated camera and the whole overlay with
// a 20-character label, the grid and a 200 x 100-dot photo) beside a plain copy of the buffer.
// Calibration: the shift between two frames (phase correlation) at 320 x 256 pixels and at ten
// times the pixels, with the growth factor (FFT work grows a little faster than the pixels).
#include "camera/calibration.h"
#include "camera/simcamera.h"
#include "camera/ueye.h"
#include "camera/videooverlay.h"
#include "glyphs/glyph.h"
#include "glyphs/glyphphoto.h"
#include "glyphs/richstring.h"
#include "machine/laser.h"
#include "platform/settingsstore.h"
#include "platform/stationglobals.h"
#include "settings/settingsrecord.h"
#include "workflow/station.h"

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

using namespace lapido;

// The station of the figure: label and photo on the girdle, grid on, table at the start-up
// position, the simulated camera filming at 32 bits.
struct TickScene {
    QTemporaryDir dir;
    std::unique_ptr<TStation> station;
    std::unique_ptr<ScopedSimulatedCamera> scene;
    std::unique_ptr<TuEye> camera;
    TVideoTransform transform;
    QImage buffer{kVideoBufferWidth, kVideoBufferHeight, QImage::Format_RGB32};

    TickScene()
    {
        setAppRegistry(SettingsStore::open(dir.filePath(QStringLiteral("settings.db"))));
        Settings() = TSettings{};
        // 0.8 girdle heights of 0.15 mm at 1.2 µm per dot: 100 dot rows.
        Settings().PhotoResolution = 1.2;
        setLaser(nullptr);
        setGirdleHeight(0.15);
        setWorkingDir(dir.path() + QStringLiteral("/"));
        station = std::make_unique<TStation>();
        TLabelTree& tree = station->TreeViewGlyphs();
        TTreeNode* node = tree.Add(QStringLiteral("Label"));
        auto& label = TGlyph::CreateFor<TGlyphRichString>(&tree, node, nullptr, 0.8, 0.0, 0.1);
        label.RichString->Add(QStringLiteral("GIA 2141438167 AB-07"), QStringLiteral("ROMANS"), TFontStyles());
        label.UpDate(nullptr, 0.8, 0.0, 0.1);
        QImage picture(400, 200, QImage::Format_RGB32);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                picture.setPixel(x, y, qRgb((x * 255) / 400, (y * 255) / 200, 128));
        TGlyph::CreateFor<TGlyphPhoto>(&tree, tree.Add(QStringLiteral("Photo")), picture, 0.8, 0.0);
        station->AxisPosition_X = station->MarkingReference_X = Settings().StartUp_X;
        station->AxisPosition_Y = station->MarkingReference_Y = Settings().StartUp_Y;
        station->AxisPosition_Z = station->MarkingReference_Z = Settings().StartUp_Z;
        station->SetAIMSState(TAIMState::aimsAligning);
        station->ShowGrid = true;
        station->GridPitch = 0.1;
        SimulatedCameraOptions options;
        options.tableMm = TCoord{Settings().StartUp_X, Settings().StartUp_Y};
        scene = std::make_unique<ScopedSimulatedCamera>(options);
        camera = std::make_unique<TuEye>(UEyeLibrary::simulated());
        transform.UpdateVideoTransform(Settings(), false);
    }
    ~TickScene()
    {
        camera.reset();
        scene.reset();
        station.reset();
        resetStationGlobals();
        setAppRegistry(nullptr);
    }
};

// Argument 1: zoomed out (the frame halved).
void BM_VideoTick(benchmark::State& state)
{
    TickScene s;
    s.station->ZoomOut = state.range(0) != 0;
    s.transform.UpdateVideoTransform(Settings(), s.station->ZoomOut);
    for (auto _ : state) {
        VideoTimerTick(s.buffer, s.camera.get(), *s.station, s.transform, Settings());
        benchmark::DoNotOptimize(s.buffer.constBits());
    }
}
BENCHMARK(BM_VideoTick)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

// The parts of the tick: the frame copy alone (with the simulated camera's filming of the next
// frame) and the overlay alone.
void BM_FrameCopy(benchmark::State& state)
{
    TickScene s;
    for (auto _ : state) {
        s.camera->Draw(s.buffer, false);
        benchmark::DoNotOptimize(s.buffer.constBits());
    }
}
BENCHMARK(BM_FrameCopy)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_Overlay(benchmark::State& state)
{
    TickScene s;
    for (auto _ : state) {
        PaintVideoOverlay(s.buffer, *s.station, s.transform, Settings());
        benchmark::DoNotOptimize(s.buffer.constBits());
    }
}
BENCHMARK(BM_Overlay)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

// The yardstick: one plain copy of a buffer of the picture's size.
void BM_PlainBufferCopy(benchmark::State& state)
{
    const QImage source(kVideoBufferWidth, kVideoBufferHeight, QImage::Format_RGB32);
    QImage target(kVideoBufferWidth, kVideoBufferHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        std::memcpy(target.bits(), source.constBits(), size_t(source.sizeInBytes()));
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_PlainBufferCopy)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

// Two grey frames of a grain, the second moved by a fraction of a pixel's worth of content.
std::pair<QImage, QImage> shiftedFrames(int width, int height)
{
    QImage a(width + 16, height + 16, QImage::Format_Grayscale8);
    std::uint32_t h = 12345;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            h = h * 1664525u + 1013904223u;
            a.scanLine(y)[x] = uchar(h >> 24);
        }
    return {a.copy(0, 0, width, height), a.copy(7, 3, width, height)};
}

double bestShiftMs(int width, int height)
{
    const auto [from, to] = shiftedFrames(width, height);
    double best = 1e300;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer t;
        t.start();
        benchmark::DoNotOptimize(measureShift(from, to));
        best = std::min(best, double(t.nsecsElapsed()) / 1e6);
    }
    return best;
}

void printShiftGrowth()
{
    const double small = bestShiftMs(320, 256), large = bestShiftMs(1012, 810);
    std::printf("calibration frame shift: %.2f ms at 320 x 256, %.2f ms at 1012 x 810 (10x the pixels), growth %.2f\n",
                small, large, large / small);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printShiftGrowth();
    return 0;
}
