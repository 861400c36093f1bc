// The inspection on frames that reached the station through a real GStreamer pipeline: the
// simulated camera's picture (known optics) pushed into an appsrc, converted and taken from the
// appsink by the station's camera, as a pipeline camera's frames are.
#include "inspectionfixture.h"

#include "camera/gstcamera.h"
#include "camera/ueye.h"

#include <gst/app/gstappsrc.h>

#include <memory>

namespace lapido::test {
namespace {

// The picture as the pipeline's source gives it, a few times over (the sink keeps the newest).
struct Feed {
    QByteArray frame;
    int pushed = 0;
};

void pushFrame(GstAppSrc* src, guint, gpointer data)
{
    auto* feed = static_cast<Feed*>(data);
    if (feed->pushed >= 3)
        return;
    ++feed->pushed;
    GstBuffer* buffer = gst_buffer_new_memdup(feed->frame.constData(), gsize(feed->frame.size()));
    gst_app_src_push_buffer(src, buffer);
}

// The picture as the station's camera shows it after the pipeline; a null picture when the
// pipeline did not open.
QImage throughPipeline(const QImage& picture, QString* why)
{
    const QImage frame = picture.convertToFormat(QImage::Format_RGB32);
    auto feed = std::make_shared<Feed>();
    for (int y = 0; y < frame.height(); ++y)
        feed->frame.append(reinterpret_cast<const char*>(frame.constScanLine(y)), frame.width() * 4);
    const QString description = QStringLiteral("appsrc name=stone is-live=true format=time "
                                               "caps=video/x-raw,format=BGRx,width=%1,height=%2,framerate=30/1 "
                                               "! videoconvert ! appsink")
                                    .arg(frame.width())
                                    .arg(frame.height());
    auto prepared = [feed](GstElement* pipeline) {
        GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "stone");
        if (!src)
            return;
        GstAppSrcCallbacks callbacks{};
        callbacks.need_data = pushFrame;
        gst_app_src_set_callbacks(GST_APP_SRC(src), &callbacks, feed.get(), nullptr);
        gst_object_unref(src);
    };
    auto library = UEyeLibrary::fromSource(makeGstCameraSource(description, 10000, prepared));
    const UEyeLibrary* lib = library.get();
    TuEye camera(std::move(library));
    if (!camera.IsPresent()) {
        *why = lib->lastError();
        return {};
    }
    QImage shown(frame.size(), QImage::Format_RGB32);
    camera.Draw(shown, false);
    return shown.convertToFormat(QImage::Format_RGB32);
}

using InspectionThroughGStreamerTest = InspectionFixture;

TEST_F(InspectionThroughGStreamerTest, ACleanRunPassesAndASkippedGlyphFailsOnFramesFromAnAppsrc)
{
    addText(QStringLiteral("ROMANS"), QStringLiteral("LG 1407"), 0.15);
    const InspectedShot clean = shoot();
    LaserMarkFaults skip;
    skip.skipped = {glyphPulses(clean.preview, 2)};
    const InspectedShot skipped = shoot(skip);
    const InspectionView view = InspectionView::fromSettings(Settings(), clean.picture.size(), TCoord{kRefX, kRefY});
    const InspectionLimits limits = InspectionLimits::fromStore(Settings());
    for (const InspectedShot* shot : {&clean, &skipped}) {
        QString why;
        const QImage frame = throughPipeline(shot->picture, &why);
        ASSERT_FALSE(frame.isNull()) << why.toStdString();
        // The frame is the simulated camera's picture, pixel for pixel.
        EXPECT_EQ(frame, shot->picture.convertToFormat(QImage::Format_RGB32));
        const InspectionResult r = m_inspector.inspect(shot->plan, frame, view, limits);
        EXPECT_EQ(r.verdict(), shot->result.verdict());
        EXPECT_EQ(r.readBack.line(), shot->result.readBack.line());
    }
    EXPECT_TRUE(clean.result.ok()) << clean.result.verdict().toStdString();
    EXPECT_EQ(clean.result.readBack.line(), QStringLiteral("read back: LG1407 (matches)"));
    EXPECT_EQ(skipped.result.verdict(), QStringLiteral("'G': 0 % of its marks found"));
}

} // namespace
} // namespace lapido::test
