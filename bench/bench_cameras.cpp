// Frame to picture for the cameras that deliver frames on their own (GStreamer, GenICam): the
// one copy out of the library's buffer (with the conversion a GenICam Bayer frame needs), the
// copy into the picture (halved for a frame larger than the panel) and the overlay, through the
// same camera calls and video tick as the station. Sizes: 1008 x 820, 2016 x 1640 (4x the
// pixels, for the growth) and a 2448 x 2048 frame, both zoomed out to the panel.
// A real videotestsrc pipeline at 1008 x 820 is timed beside them (pull, copy, tick).
#include "camera/framesource.h"
#include "camera/gstcamera.h"
#include "camera/ueye.h"
#include "camera/videooverlay.h"
#include "glyphs/glyph.h"
#include "glyphs/richstring.h"
#include "machine/laser.h"
#include "platform/settingsstore.h"
#include "platform/stationglobals.h"
#include "settings/settingsrecord.h"
#include "workflow/station.h"

#include <benchmark/benchmark.h>

#include <opencv2/imgproc.hpp>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

using namespace lapido;

// A camera whose library buffer is already full: every fetch is a new frame, so that each tick
// pays the whole way from the library's buffer to the picture.
class BufferedFrames final : public FrameSource {
public:
    BufferedFrames(int width, int height, bool bayer) : m_bayer(bayer)
    {
        m_format = {width, height, bayer ? 24 : 8, !bayer};
        m_buffer.resize(size_t(width) * size_t(height));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                m_buffer[size_t(y) * size_t(width) + size_t(x)] = static_cast<unsigned char>((x * 7 + y * 3) & 0xFF);
    }
    QString name() const override { return QStringLiteral("buffered frames"); }
    bool start(QString*) override { return true; }
    void stop() override {}
    SourceFrameFormat format() const override { return m_format; }
    Fetch fetch(char* dst, int pitch) override
    {
        const cv::Mat in(m_format.height, m_format.width, CV_8UC1, m_buffer.data());
        if (m_bayer) {
            cv::Mat out(m_format.height, m_format.width, CV_8UC3, dst, size_t(pitch));
            cv::cvtColor(in, out, cv::COLOR_BayerBG2BGR);
        } else {
            for (int y = 0; y < m_format.height; ++y)
                std::memcpy(dst + std::ptrdiff_t(y) * pitch, in.ptr(y), size_t(m_format.width));
        }
        return Fetch::NewFrame;
    }
    QString lostReason() const override { return {}; }
    CameraControls controls() const override { return {false, false, false}; }
    void setBrightness(double) override {}
    void setContrast(double) override {}
    void setAutoGain(bool) override {}

private:
    bool m_bayer;
    SourceFrameFormat m_format;
    std::vector<unsigned char> m_buffer;
};

// The station with a 20-character label on the girdle, table at the start-up position.
struct Scene {
    QTemporaryDir dir;
    std::unique_ptr<TStation> station;
    TVideoTransform transform;
    QImage buffer{kVideoBufferWidth, kVideoBufferHeight, QImage::Format_RGB32};

    explicit Scene(bool zoomOut)
    {
        setAppRegistry(SettingsStore::open(dir.filePath(QStringLiteral("settings.db"))));
        Settings() = TSettings{};
        setLaser(nullptr);
        setGirdleHeight(0.15);
        setWorkingDir(dir.path() + QStringLiteral("/"));
        station = std::make_unique<TStation>();
        TLabelTree& tree = station->TreeViewGlyphs();
        auto& label = TGlyph::CreateFor<TGlyphRichString>(&tree, tree.Add(QStringLiteral("Label")), nullptr, 0.8, 0.0, 0.1);
        label.RichString->Add(QStringLiteral("GIA 2141438167 AB-07"), QStringLiteral("ROMANS"), TFontStyles());
        label.UpDate(nullptr, 0.8, 0.0, 0.1);
        station->AxisPosition_X = station->MarkingReference_X = Settings().StartUp_X;
        station->AxisPosition_Y = station->MarkingReference_Y = Settings().StartUp_Y;
        station->AxisPosition_Z = station->MarkingReference_Z = Settings().StartUp_Z;
        station->SetAIMSState(TAIMState::aimsAligning);
        station->ShowOverlay = true;
        station->ZoomOut = zoomOut;
        transform.UpdateVideoTransform(Settings(), zoomOut);
    }
    ~Scene()
    {
        station.reset();
        resetStationGlobals();
        setAppRegistry(nullptr);
    }
};

// Arguments: width, height, Bayer (1) or grey (0), zoomed out (1).
void BM_FrameToPicture(benchmark::State& state)
{
    const int w = int(state.range(0)), h = int(state.range(1));
    Scene s(state.range(3) != 0);
    TuEye camera(UEyeLibrary::fromSource(std::make_unique<BufferedFrames>(w, h, state.range(2) != 0)));
    if (!camera.IsPresent()) {
        state.SkipWithError("camera did not open");
        return;
    }
    for (auto _ : state) {
        VideoTimerTick(s.buffer, &camera, *s.station, s.transform, Settings());
        benchmark::DoNotOptimize(s.buffer.constBits());
    }
}
BENCHMARK(BM_FrameToPicture)
    ->Args({1008, 820, 0, 0})
    ->Args({1008, 820, 1, 0})
    ->Args({2016, 1640, 1, 1})
    ->Args({2448, 2048, 0, 1})
    ->Args({2448, 2048, 1, 1})
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

// Best time of one tick over a few runs, in ms.
double bestTickMs(int w, int h, bool bayer, bool zoomOut)
{
    Scene s(zoomOut);
    TuEye camera(UEyeLibrary::fromSource(std::make_unique<BufferedFrames>(w, h, bayer)));
    double best = 1e300;
    for (int run = 0; run < 20; ++run) {
        QElapsedTimer t;
        t.start();
        VideoTimerTick(s.buffer, &camera, *s.station, s.transform, Settings());
        best = std::min(best, double(t.nsecsElapsed()) / 1e6);
    }
    return best;
}

// A real pipeline: ticks until 60 new frames have reached the picture, the mean time of a tick
// that brought one.
void printPipelineTick()
{
    Scene s(false);
    auto lib = UEyeLibrary::fromSource(makeGstCameraSource(
        QStringLiteral("videotestsrc pattern=ball ! video/x-raw,format=BGRx,width=1008,height=820,framerate=60/1")));
    const UEyeLibrary* l = lib.get();
    TuEye camera(std::move(lib));
    if (!camera.IsPresent()) {
        std::printf("videotestsrc pipeline did not open: %s\n", qPrintable(l->lastError()));
        return;
    }
    qint64 busyNs = 0;
    int frames = 0;
    QImage last = s.buffer.copy();
    for (int tick = 0; frames < 60 && tick < 5000; ++tick) {
        QElapsedTimer t;
        t.start();
        VideoTimerTick(s.buffer, &camera, *s.station, s.transform, Settings());
        const qint64 ns = t.nsecsElapsed();
        if (s.buffer != last) {
            busyNs += ns;
            ++frames;
            last = s.buffer.copy();
        }
        QThread::msleep(2);
    }
    if (frames == 0) {
        std::printf("videotestsrc pipeline brought no frame\n");
        return;
    }
    std::printf("videotestsrc 1008 x 820 BGRx pipeline: %.2f ms a tick that brings a frame (pull, copy, overlay)\n",
                double(busyNs) / 1e6 / frames);
}

void printGrowth()
{
    const double small = bestTickMs(1008, 820, true, false);
    const double large = bestTickMs(2016, 1640, true, true);
    const double genicam = bestTickMs(2448, 2048, true, true);
    std::printf("frame to picture, Bayer frame: %.2f ms at 1008 x 820, %.2f ms at 2016 x 1640 zoomed out "
                "(4x the pixels), growth %.2f; %.2f ms at 2448 x 2048 zoomed out\n",
                small, large, large / small, genicam);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printGrowth();
    printPipelineTick();
    return 0;
}
