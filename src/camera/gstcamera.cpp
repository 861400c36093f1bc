// The GStreamer pipeline camera: building and starting the pipeline, its appsink, colour balance
// and the end of the stream seen as a lost camera.
#include "camera/gstcamera.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/colorbalance.h>
#include <gst/video/video.h>

#include <QElapsedTimer>
#include <QRegularExpression>

#include <cstring>
#include <mutex>

namespace lapido {

namespace {

// The depths the picture copies, best first; the converter picks the one nearest the source.
constexpr char kSinkCaps[] = "video/x-raw, format=(string){ BGRx, GRAY8, BGR, RGB16, RGB15 }";

QString gstInitError()
{
    static std::once_flag once;
    static QString error;
    std::call_once(once, [] {
        GError* err = nullptr;
        if (!gst_init_check(nullptr, nullptr, &err)) {
            error = QStringLiteral("GStreamer could not be started: %1")
                        .arg(err ? QString::fromUtf8(err->message) : QStringLiteral("unknown reason"));
            g_clear_error(&err);
        }
    });
    return error;
}

const QLatin1String kEndOfStream("the pipeline ended (end of stream)");

// The message of an error or end-of-stream message from the bus.
QString describeMessage(GstMessage* msg)
{
    if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS)
        return kEndOfStream;
    GError* err = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(msg, &err, &debug);
    QString text = QStringLiteral("%1: %2")
                       .arg(QString::fromUtf8(GST_OBJECT_NAME(GST_MESSAGE_SRC(msg))),
                            err ? QString::fromUtf8(err->message) : QStringLiteral("error"));
    // A stream error's message is generic ("Internal data stream error."); the last line of its
    // details names the cause ("streaming stopped, reason not-negotiated (-4)").
    const QString details = QString::fromUtf8(debug ? debug : "").trimmed();
    if (const QString last = details.section(QLatin1Char('\n'), -1).trimmed(); last.contains(QLatin1String("reason")))
        text += QStringLiteral(" (%1)").arg(last);
    g_clear_error(&err);
    g_free(debug);
    return text;
}

GstElement* findAppSink(GstElement* top)
{
    if (GST_IS_APP_SINK(top))
        return GST_ELEMENT(gst_object_ref(top));
    if (!GST_IS_BIN(top))
        return nullptr;
    GstIterator* it = gst_bin_iterate_recurse(GST_BIN(top));
    GValue item = G_VALUE_INIT;
    GstElement* found = nullptr;
    for (bool done = false; !done;) {
        switch (gst_iterator_next(it, &item)) {
        case GST_ITERATOR_OK: {
            auto* e = GST_ELEMENT(g_value_get_object(&item));
            if (!found && GST_IS_APP_SINK(e))
                found = GST_ELEMENT(gst_object_ref(e));
            g_value_reset(&item);
            break;
        }
        case GST_ITERATOR_RESYNC: gst_iterator_resync(it); break;
        default: done = true; break;
        }
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return found;
}

std::optional<SourceFrameFormat> formatOfCaps(GstCaps* caps, GstVideoInfo* info)
{
    if (!caps || !gst_video_info_from_caps(info, caps))
        return std::nullopt;
    SourceFrameFormat f;
    f.width = int(GST_VIDEO_INFO_WIDTH(info));
    f.height = int(GST_VIDEO_INFO_HEIGHT(info));
    switch (GST_VIDEO_INFO_FORMAT(info)) {
    case GST_VIDEO_FORMAT_GRAY8: f.bits = 8; f.monochrome = true; break;
    case GST_VIDEO_FORMAT_RGB15: f.bits = 15; break;
    case GST_VIDEO_FORMAT_RGB16: f.bits = 16; break;
    case GST_VIDEO_FORMAT_BGR: f.bits = 24; break;
    case GST_VIDEO_FORMAT_BGRx: f.bits = 32; break;
    default: return std::nullopt;
    }
    return f;
}

class GstCameraSource final : public FrameSource {
public:
    GstCameraSource(QString description, int startTimeoutMs, GstPipelinePrepared prepared)
        : m_description(std::move(description)), m_startTimeoutMs(startTimeoutMs), m_prepared(std::move(prepared))
    {
    }
    ~GstCameraSource() override { stop(); }

    QString name() const override { return QStringLiteral("GStreamer pipeline \"%1\"").arg(m_description); }

    bool start(QString* why) override
    {
        stop();
        QString reason;
        if (!startPipeline(&reason)) {
            stop();
            if (why)
                *why = reason;
            return false;
        }
        return true;
    }

    void stop() override
    {
        if (m_pending)
            gst_sample_unref(std::exchange(m_pending, nullptr));
        if (m_pipeline)
            gst_element_set_state(m_pipeline, GST_STATE_NULL);
        if (m_balance)
            gst_object_unref(std::exchange(m_balance, nullptr));
        if (m_sink)
            gst_object_unref(std::exchange(m_sink, nullptr));
        if (m_bus)
            gst_object_unref(std::exchange(m_bus, nullptr));
        if (m_pipeline)
            gst_object_unref(std::exchange(m_pipeline, nullptr));
        m_channels = {};
    }

    SourceFrameFormat format() const override { return m_format; }

    Fetch fetch(char* dst, int pitch) override
    {
        if (m_lost)
            return Fetch::Lost;
        if (!m_pipeline)
            return lose(QStringLiteral("the pipeline is not running"));
        if (GstMessage* msg = gst_bus_pop_filtered(m_bus, GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_EOS))) {
            const QString why = describeMessage(msg);
            gst_message_unref(msg);
            return lose(why);
        }
        GstSample* sample = m_pending ? std::exchange(m_pending, nullptr)
                                      : gst_app_sink_try_pull_sample(GST_APP_SINK(m_sink), 0);
        if (!sample) {
            if (gst_app_sink_is_eos(GST_APP_SINK(m_sink)))
                return lose(kEndOfStream);
            return Fetch::NoNewFrame;
        }
        const Fetch result = copySample(sample, dst, pitch);
        gst_sample_unref(sample);
        return result;
    }

    QString lostReason() const override { return m_lostReason; }

    CameraControls controls() const override
    {
        return {m_channels.brightness != nullptr, m_channels.contrast != nullptr, false};
    }
    void setBrightness(double level) override { setChannel(m_channels.brightness, level); }
    void setContrast(double level) override { setChannel(m_channels.contrast, level); }
    // Automatic gain has no common interface across GStreamer sources.
    void setAutoGain(bool) override {}

private:
    struct Channels {
        GstColorBalanceChannel* brightness = nullptr;
        GstColorBalanceChannel* contrast = nullptr;
    };

    bool startPipeline(QString* why)
    {
        m_lost = false;
        m_lostReason.clear();
        if (const QString e = gstInitError(); !e.isEmpty()) {
            *why = e;
            return false;
        }
        if (m_description.trimmed().isEmpty()) {
            *why = QStringLiteral("no pipeline is given");
            return false;
        }
        const QString text = gstPipelineWithSink(m_description);
        GError* err = nullptr;
        GstElement* parsed = gst_parse_launch(text.toUtf8().constData(), &err);
        if (err || !parsed) {
            *why = QStringLiteral("the pipeline cannot be built: %1")
                       .arg(err ? QString::fromUtf8(err->message) : QStringLiteral("empty description"));
            g_clear_error(&err);
            if (parsed)
                gst_object_unref(parsed);
            return false;
        }
        if (GST_IS_PIPELINE(parsed)) {
            m_pipeline = parsed;
        } else {
            m_pipeline = gst_pipeline_new(nullptr);
            gst_bin_add(GST_BIN(m_pipeline), parsed);
        }
        m_sink = findAppSink(m_pipeline);
        if (!m_sink) {
            *why = QStringLiteral("the pipeline has no appsink");
            return false;
        }
        GstCaps* caps = gst_caps_from_string(kSinkCaps);
        gst_app_sink_set_caps(GST_APP_SINK(m_sink), caps);
        gst_caps_unref(caps);
        // Only the newest frame is kept: the picture shows the present, never a backlog.
        gst_app_sink_set_max_buffers(GST_APP_SINK(m_sink), 1);
        gst_app_sink_set_drop(GST_APP_SINK(m_sink), TRUE);
        m_bus = gst_element_get_bus(m_pipeline);
        if (m_prepared)
            m_prepared(m_pipeline);

        if (gst_element_set_state(m_pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
            *why = busError().value_or(QStringLiteral("the pipeline refused to start"));
            return false;
        }
        QElapsedTimer clock;
        clock.start();
        while (!m_pending) {
            m_pending = gst_app_sink_try_pull_sample(GST_APP_SINK(m_sink), 20 * GST_MSECOND);
            if (m_pending)
                break;
            // A sink that stopped (it reads as ended once the pipeline fails, too) and the bus's
            // message arrive in either order: the bus is given a moment to say which it was.
            const bool sinkEnded = gst_app_sink_is_eos(GST_APP_SINK(m_sink));
            auto e = busError();
            if (sinkEnded && !e)
                e = busError(100 * GST_MSECOND);
            if (e && *e != kEndOfStream) {
                *why = QStringLiteral("the pipeline did not start: %1").arg(*e);
                return false;
            }
            if (e || sinkEnded) {
                *why = QStringLiteral("the pipeline ended before its first frame");
                return false;
            }
            if (clock.elapsed() > m_startTimeoutMs) {
                *why = QStringLiteral("the pipeline gave no frame within %1 s").arg(m_startTimeoutMs / 1000.0);
                return false;
            }
        }
        GstVideoInfo info;
        const auto f = formatOfCaps(gst_sample_get_caps(m_pending), &info);
        if (!f) {
            *why = QStringLiteral("the pipeline's frames are not in a depth the picture takes");
            return false;
        }
        m_format = *f;
        findBalance();
        return true;
    }

    std::optional<QString> busError(GstClockTime wait = 0)
    {
        GstMessage* msg = gst_bus_timed_pop_filtered(m_bus, wait, GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_EOS));
        if (!msg)
            return std::nullopt;
        QString text = describeMessage(msg);
        gst_message_unref(msg);
        return text;
    }

    // A source's colour balance is there once it has opened its device, so it is looked for
    // after the first frame.
    void findBalance()
    {
        m_balance = gst_bin_get_by_interface(GST_BIN(m_pipeline), GST_TYPE_COLOR_BALANCE);
        if (!m_balance)
            return;
        for (const GList* l = gst_color_balance_list_channels(GST_COLOR_BALANCE(m_balance)); l; l = l->next) {
            auto* ch = GST_COLOR_BALANCE_CHANNEL(l->data);
            const QString label = QString::fromUtf8(ch->label).toUpper();
            if (!m_channels.brightness && label.contains(QLatin1String("BRIGHTNESS")))
                m_channels.brightness = ch;
            else if (!m_channels.contrast && label.contains(QLatin1String("CONTRAST")))
                m_channels.contrast = ch;
        }
    }

    void setChannel(GstColorBalanceChannel* ch, double level)
    {
        if (!ch || !m_balance)
            return;
        const double v = ch->min_value + std::clamp(level, 0.0, 1.0) * (ch->max_value - ch->min_value);
        gst_color_balance_set_value(GST_COLOR_BALANCE(m_balance), ch, gint(std::lround(v)));
    }

    Fetch copySample(GstSample* sample, char* dst, int pitch)
    {
        GstVideoInfo info;
        const auto f = formatOfCaps(gst_sample_get_caps(sample), &info);
        if (!f || *f != m_format)
            return lose(QStringLiteral("the pipeline changed its frame size or format"));
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        GstVideoFrame frame;
        if (!buffer || !gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ))
            return Fetch::NoNewFrame;
        const auto* src = static_cast<const char*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
        const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
        const size_t lineBytes = size_t(m_format.width) * size_t((m_format.bits + 7) / 8);
        for (int y = 0; y < m_format.height; ++y)
            std::memcpy(dst + std::ptrdiff_t(y) * pitch, src + std::ptrdiff_t(y) * stride, lineBytes);
        gst_video_frame_unmap(&frame);
        return Fetch::NewFrame;
    }

    Fetch lose(const QString& why)
    {
        m_lost = true;
        m_lostReason = why;
        return Fetch::Lost;
    }

    QString m_description;
    int m_startTimeoutMs;
    GstPipelinePrepared m_prepared;
    GstElement* m_pipeline = nullptr;
    GstElement* m_sink = nullptr;
    GstElement* m_balance = nullptr;
    GstBus* m_bus = nullptr;
    GstSample* m_pending = nullptr;
    Channels m_channels;
    SourceFrameFormat m_format;
    bool m_lost = false;
    QString m_lostReason;
};

} // namespace

QString gstPipelineWithSink(const QString& description)
{
    static const QRegularExpression appsink(QStringLiteral(R"((^|[\s!])appsink(\s|!|$))"));
    const QString text = description.trimmed();
    if (text.contains(appsink))
        return text;
    return text + QStringLiteral(" ! videoconvert ! appsink");
}

std::unique_ptr<FrameSource> makeGstCameraSource(const QString& description, int startTimeoutMs,
                                                 GstPipelinePrepared prepared)
{
    return std::make_unique<GstCameraSource>(description, startTimeoutMs, std::move(prepared));
}

bool gstAvailable(QString* why)
{
    const QString e = gstInitError();
    if (why)
        *why = e;
    return e.isEmpty();
}

} // namespace lapido
