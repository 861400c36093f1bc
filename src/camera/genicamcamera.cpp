// The GenICam camera through Aravis: opening, features, the stream's buffer pool, pixel formats
// turned into the picture's depths in the one copy out of the camera's buffer, a lost camera.
#include "camera/genicamcamera.h"

// Qt defines "signals" as a keyword; GLib uses it as a field name.
#pragma push_macro("signals")
#undef signals
#include <arv.h>
#pragma pop_macro("signals")

#include <opencv2/imgproc.hpp>

#include <QElapsedTimer>

#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>

namespace lapido {

namespace {

QString takeError(GError*& err)
{
    QString text = err ? QString::fromUtf8(err->message) : QString();
    g_clear_error(&err);
    return text;
}

// How a pixel format reaches the picture: its depth there and the conversion (none: a plain copy
// of width * bytes per line).
struct Conversion {
    int bits = 0;
    bool monochrome = false;
    int srcBytes = 0;   // bytes per source pixel
    int cvCode = -1;    // OpenCV colour conversion, or -1
    int shift = 0;      // right shift of 16-bit grey to 8 bits
};

std::optional<Conversion> conversionOf(ArvPixelFormat f)
{
    switch (f) {
    case ARV_PIXEL_FORMAT_MONO_8: return Conversion{8, true, 1, -1, 0};
    case ARV_PIXEL_FORMAT_MONO_10: return Conversion{8, true, 2, -1, 2};
    case ARV_PIXEL_FORMAT_MONO_12: return Conversion{8, true, 2, -1, 4};
    case ARV_PIXEL_FORMAT_MONO_16: return Conversion{8, true, 2, -1, 8};
    case ARV_PIXEL_FORMAT_BGR_8_PACKED: return Conversion{24, false, 3, -1, 0};
    case ARV_PIXEL_FORMAT_RGB_8_PACKED: return Conversion{24, false, 3, cv::COLOR_RGB2BGR, 0};
    case ARV_PIXEL_FORMAT_BGRA_8_PACKED: return Conversion{32, false, 4, -1, 0};
    case ARV_PIXEL_FORMAT_RGBA_8_PACKED: return Conversion{32, false, 4, cv::COLOR_RGBA2BGRA, 0};
    // GenICam names the Bayer tile from its top-left pixel; OpenCV from the second row's
    // second and third pixels, hence the crossed names.
    case ARV_PIXEL_FORMAT_BAYER_RG_8: return Conversion{24, false, 1, cv::COLOR_BayerBG2BGR, 0};
    case ARV_PIXEL_FORMAT_BAYER_BG_8: return Conversion{24, false, 1, cv::COLOR_BayerRG2BGR, 0};
    case ARV_PIXEL_FORMAT_BAYER_GR_8: return Conversion{24, false, 1, cv::COLOR_BayerGB2BGR, 0};
    case ARV_PIXEL_FORMAT_BAYER_GB_8: return Conversion{24, false, 1, cv::COLOR_BayerGR2BGR, 0};
    case ARV_PIXEL_FORMAT_YUV_422_PACKED: return Conversion{24, false, 2, cv::COLOR_YUV2BGR_UYVY, 0};
    case ARV_PIXEL_FORMAT_YUV_422_YUYV_PACKED: return Conversion{24, false, 2, cv::COLOR_YUV2BGR_YUYV, 0};
    default: return std::nullopt;
    }
}

class AravisCamera final : public GenICamCameraSource {
public:
    explicit AravisCamera(GenICamOptions options) : m_options(std::move(options)) {}
    ~AravisCamera() override { stop(); }

    QString name() const override
    {
        return QStringLiteral("GenICam camera \"%1\"").arg(m_options.name.isEmpty() ? QStringLiteral("(first)") : m_options.name);
    }

    bool start(QString* why) override
    {
        stop();
        QString reason;
        if (!open(&reason)) {
            stop();
            if (why)
                *why = reason;
            return false;
        }
        return true;
    }

    void stop() override
    {
        if (m_camera && m_acquiring)
            arv_camera_stop_acquisition(m_camera, nullptr);
        m_acquiring = false;
        if (m_pending && m_stream)
            arv_stream_push_buffer(m_stream, m_pending);
        m_pending = nullptr;
        if (m_device && m_lostHandler)
            g_signal_handler_disconnect(m_device, m_lostHandler);
        m_lostHandler = 0;
        if (m_stream)
            g_object_unref(std::exchange(m_stream, nullptr));
        m_device = nullptr;
        if (m_camera)
            g_object_unref(std::exchange(m_camera, nullptr));
    }

    SourceFrameFormat format() const override { return m_format; }

    Fetch fetch(char* dst, int pitch) override
    {
        if (m_lost)
            return Fetch::Lost;
        if (m_controlLost.load())
            return lose(QStringLiteral("the camera's control link was lost"));
        if (!m_stream)
            return lose(QStringLiteral("the camera is not acquiring"));
        // The newest complete frame wins; older ones go straight back to the pool.
        ArvBuffer* newest = std::exchange(m_pending, nullptr);
        while (ArvBuffer* b = arv_stream_try_pop_buffer(m_stream)) {
            if (arv_buffer_get_status(b) == ARV_BUFFER_STATUS_SUCCESS) {
                if (newest)
                    arv_stream_push_buffer(m_stream, newest);
                newest = b;
            } else {
                arv_stream_push_buffer(m_stream, b);
            }
        }
        if (!newest) {
            if (m_sinceFrame.elapsed() > m_options.silenceMs)
                return lose(QStringLiteral("the camera sent no frame for %1 s").arg(m_options.silenceMs / 1000.0));
            return Fetch::NoNewFrame;
        }
        m_sinceFrame.restart();
        const Fetch result = copyBuffer(newest, dst, pitch);
        arv_stream_push_buffer(m_stream, newest);
        return result;
    }

    QString lostReason() const override { return m_lostReason; }

    CameraControls controls() const override { return m_controls; }
    void setBrightness(double level) override { setFloatLevel("BlackLevel", m_controls.brightness, level); }
    void setContrast(double level) override { setFloatLevel("Gamma", m_controls.contrast, level); }
    void setAutoGain(bool on) override
    {
        if (m_camera && m_controls.gain)
            arv_camera_set_gain_auto(m_camera, on ? ARV_AUTO_CONTINUOUS : ARV_AUTO_OFF, nullptr);
    }

    Readback readback() const override
    {
        Readback r;
        if (!m_camera)
            return r;
        GError* err = nullptr;
        r.exposureUs = arv_camera_get_exposure_time(m_camera, &err);
        g_clear_error(&err);
        r.gain = arv_camera_get_gain(m_camera, &err);
        g_clear_error(&err);
        r.frameRateHz = arv_camera_get_frame_rate(m_camera, &err);
        g_clear_error(&err);
        const char* pf = arv_camera_get_pixel_format_as_string(m_camera, &err);
        g_clear_error(&err);
        r.pixelFormat = QString::fromUtf8(pf ? pf : "");
        gint x = 0, y = 0, w = 0, h = 0;
        arv_camera_get_region(m_camera, &x, &y, &w, &h, &err);
        g_clear_error(&err);
        r.size = QSize(w, h);
        return r;
    }

    void simulateControlLost() override
    {
        if (m_device)
            g_signal_emit_by_name(m_device, "control-lost");
    }

private:
    bool open(QString* why)
    {
        m_lost = false;
        m_lostReason.clear();
        m_controlLost = false;
        GError* err = nullptr;
        const QByteArray id = m_options.name.toUtf8();
        m_camera = arv_camera_new(m_options.name.isEmpty() ? nullptr : id.constData(), &err);
        if (!m_camera) {
            *why = QStringLiteral("no GenICam camera %1: %2").arg(m_options.name, takeError(err));
            return false;
        }
        m_device = arv_camera_get_device(m_camera);
        // Aravis tells from its own thread that the camera stopped answering.
        m_lostHandler = g_signal_connect(m_device, "control-lost", G_CALLBACK(+[](ArvDevice*, gpointer self) {
                                             static_cast<AravisCamera*>(self)->m_controlLost = true;
                                         }),
                                         this);
        auto failed = [&](const char* what) {
            if (!err)
                return false;
            *why = QStringLiteral("%1: %2").arg(QString::fromLatin1(what), takeError(err));
            return true;
        };
        if (!m_options.pixelFormat.isEmpty()) {
            arv_camera_set_pixel_format_from_string(m_camera, m_options.pixelFormat.toUtf8().constData(), &err);
            if (failed("the pixel format cannot be set"))
                return false;
        }
        if (m_options.size) {
            arv_camera_set_region(m_camera, 0, 0, m_options.size->width(), m_options.size->height(), &err);
            if (failed("the frame size cannot be set"))
                return false;
        }
        if (m_options.exposureUs) {
            arv_camera_set_exposure_time(m_camera, *m_options.exposureUs, &err);
            if (failed("the exposure cannot be set"))
                return false;
        }
        if (m_options.gain) {
            arv_camera_set_gain(m_camera, *m_options.gain, &err);
            if (failed("the gain cannot be set"))
                return false;
        }
        if (m_options.frameRateHz) {
            arv_camera_set_frame_rate(m_camera, *m_options.frameRateHz, &err);
            if (failed("the frame rate cannot be set"))
                return false;
        }
        m_controls.brightness = arv_camera_is_feature_available(m_camera, "BlackLevel", nullptr);
        m_controls.contrast = arv_camera_is_feature_available(m_camera, "Gamma", nullptr);
        m_controls.gain = arv_camera_is_gain_auto_available(m_camera, nullptr);

        const ArvPixelFormat pf = arv_camera_get_pixel_format(m_camera, &err);
        if (failed("the pixel format cannot be read"))
            return false;
        m_conversion = conversionOf(pf).value_or(Conversion{});
        if (m_conversion.bits == 0) {
            const char* pfName = arv_camera_get_pixel_format_as_string(m_camera, nullptr);
            *why = QStringLiteral("the camera's pixel format %1 is not one the picture takes")
                       .arg(QString::fromUtf8(pfName ? pfName : "?"));
            return false;
        }
        gint x = 0, y = 0, w = 0, h = 0;
        arv_camera_get_region(m_camera, &x, &y, &w, &h, &err);
        if (failed("the frame size cannot be read"))
            return false;
        m_format = SourceFrameFormat{w, h, m_conversion.bits, m_conversion.monochrome};

        arv_camera_set_acquisition_mode(m_camera, ARV_ACQUISITION_MODE_CONTINUOUS, &err);
        if (failed("continuous acquisition cannot be set"))
            return false;
        m_stream = arv_camera_create_stream(m_camera, nullptr, nullptr, &err);
        if (!m_stream) {
            *why = QStringLiteral("the camera's stream cannot be opened: %1").arg(takeError(err));
            return false;
        }
        const guint payload = arv_camera_get_payload(m_camera, &err);
        if (failed("the frame size cannot be read"))
            return false;
        for (int i = 0; i < std::max(m_options.buffers, 2); ++i)
            arv_stream_push_buffer(m_stream, arv_buffer_new(payload, nullptr));
        arv_camera_start_acquisition(m_camera, &err);
        if (failed("acquisition does not start"))
            return false;
        m_acquiring = true;
        // As every camera of the station, it counts as open once it has sent a frame.
        QElapsedTimer clock;
        clock.start();
        while (!m_pending) {
            ArvBuffer* b = arv_stream_timeout_pop_buffer(m_stream, 20000);
            if (b && arv_buffer_get_status(b) == ARV_BUFFER_STATUS_SUCCESS)
                m_pending = b;
            else if (b)
                arv_stream_push_buffer(m_stream, b);
            if (m_controlLost.load()) {
                *why = QStringLiteral("the camera's control link was lost");
                return false;
            }
            if (!m_pending && clock.elapsed() > m_options.silenceMs) {
                *why = QStringLiteral("the camera gave no frame within %1 s").arg(m_options.silenceMs / 1000.0);
                return false;
            }
        }
        m_sinceFrame.start();
        return true;
    }

    void setFloatLevel(const char* feature, bool available, double level)
    {
        if (!m_camera || !available)
            return;
        double lo = 0, hi = 0;
        GError* err = nullptr;
        arv_camera_get_float_bounds(m_camera, feature, &lo, &hi, &err);
        if (err) {
            g_clear_error(&err);
            return;
        }
        arv_camera_set_float(m_camera, feature, lo + std::clamp(level, 0.0, 1.0) * (hi - lo), &err);
        g_clear_error(&err);
    }

    Fetch copyBuffer(ArvBuffer* buffer, char* dst, int pitch)
    {
        if (arv_buffer_get_image_width(buffer) != m_format.width || arv_buffer_get_image_height(buffer) != m_format.height
            || !conversionOf(arv_buffer_get_image_pixel_format(buffer)))
            return lose(QStringLiteral("the camera changed its frame size or format"));
        size_t size = 0;
        const auto* src = static_cast<const unsigned char*>(arv_buffer_get_data(buffer, &size));
        const int w = m_format.width, h = m_format.height;
        const size_t srcPitch = size_t(w) * size_t(m_conversion.srcBytes);
        if (!src || size < srcPitch * size_t(h))
            return Fetch::NoNewFrame;
        if (m_conversion.cvCode >= 0) {
            const int srcType = m_conversion.srcBytes == 1 ? CV_8UC1 : m_conversion.srcBytes == 2 ? CV_8UC2
                                : m_conversion.srcBytes == 3                                       ? CV_8UC3
                                                                                                   : CV_8UC4;
            const cv::Mat in(h, w, srcType, const_cast<unsigned char*>(src), srcPitch);
            cv::Mat out(h, w, m_conversion.bits == 32 ? CV_8UC4 : CV_8UC3, dst, size_t(pitch));
            cv::cvtColor(in, out, m_conversion.cvCode);
        } else if (m_conversion.shift > 0) {
            for (int y = 0; y < h; ++y) {
                const auto* s = reinterpret_cast<const std::uint16_t*>(src + size_t(y) * srcPitch);
                auto* d = reinterpret_cast<unsigned char*>(dst + std::ptrdiff_t(y) * pitch);
                for (int x = 0; x < w; ++x)
                    d[x] = static_cast<unsigned char>(std::min<unsigned>(s[x] >> m_conversion.shift, 255u));
            }
        } else {
            for (int y = 0; y < h; ++y)
                std::memcpy(dst + std::ptrdiff_t(y) * pitch, src + size_t(y) * srcPitch, srcPitch);
        }
        return Fetch::NewFrame;
    }

    Fetch lose(const QString& why)
    {
        m_lost = true;
        m_lostReason = why;
        return Fetch::Lost;
    }

    GenICamOptions m_options;
    ArvCamera* m_camera = nullptr;
    ArvDevice* m_device = nullptr; // owned by the camera
    ArvStream* m_stream = nullptr;
    ArvBuffer* m_pending = nullptr; // the first frame, taken while opening
    gulong m_lostHandler = 0;
    bool m_acquiring = false;
    std::atomic<bool> m_controlLost{false};
    bool m_lost = false;
    QString m_lostReason;
    Conversion m_conversion;
    SourceFrameFormat m_format;
    CameraControls m_controls{false, false, false};
    QElapsedTimer m_sinceFrame;
};

} // namespace

std::optional<GenICamOptions> parseGenICamParameter(const QString& text, QString* why)
{
    GenICamOptions o;
    const QStringList parts = text.split(QLatin1Char(','));
    o.name = parts.value(0).trimmed();
    auto fail = [&](const QString& reason) {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    for (int i = 1; i < parts.size(); ++i) {
        const QString part = parts.at(i).trimmed();
        const int eq = part.indexOf(QLatin1Char('='));
        if (eq <= 0)
            return fail(QStringLiteral("\"%1\" is not KEY=VALUE").arg(part));
        const QString key = part.left(eq).trimmed().toLower();
        const QString value = part.mid(eq + 1).trimmed();
        bool ok = false;
        const double number = value.toDouble(&ok);
        if (key == QLatin1String("format")) {
            if (value.isEmpty())
                return fail(QStringLiteral("format needs a pixel format name"));
            o.pixelFormat = value;
            continue;
        }
        if (key == QLatin1String("size")) {
            const QStringList wh = value.toLower().split(QLatin1Char('x'));
            const int w = wh.value(0).toInt(&ok);
            bool okH = false;
            const int h = wh.value(1).toInt(&okH);
            if (wh.size() != 2 || !ok || !okH || w <= 0 || h <= 0)
                return fail(QStringLiteral("size needs WIDTHxHEIGHT, not \"%1\"").arg(value));
            o.size = QSize(w, h);
            continue;
        }
        if (!ok || !std::isfinite(number) || number < 0)
            return fail(QStringLiteral("%1 needs a number of 0 or more, not \"%2\"").arg(key, value));
        if (key == QLatin1String("exposure"))
            o.exposureUs = number;
        else if (key == QLatin1String("gain"))
            o.gain = number;
        else if (key == QLatin1String("fps") && number > 0)
            o.frameRateHz = number;
        else if (key == QLatin1String("fps"))
            return fail(QStringLiteral("fps needs a rate above 0"));
        else
            return fail(QStringLiteral("unknown camera setting \"%1\" (exposure, gain, fps, format, size)").arg(key));
    }
    return o;
}

std::unique_ptr<GenICamCameraSource> makeGenICamCameraSource(const GenICamOptions& options)
{
    return std::make_unique<AravisCamera>(options);
}

QStringList listGenICamCameras()
{
    arv_update_device_list();
    QStringList names;
    const unsigned n = arv_get_n_devices();
    for (unsigned i = 0; i < n; ++i) {
        const char* id = arv_get_device_id(i);
        const char* vendor = arv_get_device_vendor(i);
        const char* model = arv_get_device_model(i);
        names << QStringLiteral("%1 %2 (%3)")
                     .arg(QString::fromUtf8(vendor ? vendor : ""), QString::fromUtf8(model ? model : ""),
                          QString::fromUtf8(id ? id : ""));
    }
    return names;
}

void enableGenICamFakeCamera()
{
    arv_enable_interface("Fake");
    for (unsigned i = 0, n = arv_get_n_interfaces(); i < n; ++i)
        if (const char* id = arv_get_interface_id(i); id && std::strcmp(id, "Fake") != 0)
            arv_disable_interface(id);
}

} // namespace lapido
