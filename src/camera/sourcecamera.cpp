// The camera-library calls over a FrameSource: the picture memory, the picture settings mapped to
// the source's controls, the newest frame fetched when the picture asks whether one finished.
#include "camera/sourcecamera.h"

#include "camera/imagememoryjpeg.h"

#include "platform/savefile.h"

#include <QFile>
#include <QImage>

#include <cmath>
#include <map>
#include <mutex>
#include <vector>

namespace lapido {

namespace {

struct SourceCamera {
    std::unique_ptr<FrameSource> source;
    bool open = false;
    bool lost = false;
    QString lastError;
    SourceFrameFormat format;
    std::vector<char> memory;
    int memoryId = 0;
    int memWidth = 0, memHeight = 0, memBits = 0, memPitch = 0;
    // The vendor library's ranges: brightness 0..255, contrast 0..511.
    int brightness = 128;
    int contrast = 255;
};

struct Registry {
    std::mutex mutex;
    std::map<HIDS, std::unique_ptr<SourceCamera>> cameras;
    // Ids count down from the top, far from the small ids the vendor library hands out.
    HIDS nextId = ~HIDS(0) >> 1;
};

Registry& registry()
{
    static Registry r;
    return r;
}

// Runs f on the registered camera h, under the registry's lock; kNoSuccess for an unknown one.
template <typename F>
int withCamera(HIDS h, F f, bool mustBeOpen = true)
{
    auto& r = registry();
    const std::lock_guard lock(r.mutex);
    const auto it = r.cameras.find(h);
    if (it == r.cameras.end() || (mustBeOpen && !it->second->open))
        return ueye::kNoSuccess;
    return f(*it->second);
}

int srcInitCamera(HIDS* h, void*)
{
    if (!h)
        return ueye::kNoSuccess;
    return withCamera(
        *h,
        [](SourceCamera& c) {
            if (c.open)
                return ueye::kNoSuccess;
            QString why;
            if (!c.source->start(&why)) {
                c.lastError = why.isEmpty() ? QStringLiteral("the camera did not start") : why;
                return ueye::kNoSuccess;
            }
            c.format = c.source->format();
            c.open = true;
            c.lost = false;
            c.lastError.clear();
            return ueye::kSuccess;
        },
        false);
}

int srcSuccess(HIDS h, int)
{
    return withCamera(h, [](SourceCamera&) { return ueye::kSuccess; });
}

int srcGetSensorInfo(HIDS h, SENSORINFO* info)
{
    return withCamera(h, [info](SourceCamera& c) {
        if (!info)
            return ueye::kNoSuccess;
        *info = SENSORINFO{};
        info->nColorMode = c.format.monochrome ? ueye::kColorModeMonochrome : 2;
        info->nMaxWidth = std::uint32_t(c.format.width);
        info->nMaxHeight = std::uint32_t(c.format.height);
        return ueye::kSuccess;
    });
}

int srcSetImageSize(HIDS h, int x, int)
{
    return withCamera(h, [x](SourceCamera& c) {
        if (x == ueye::kGetImageSizeX)
            return c.format.width;
        if (x == ueye::kGetImageSizeY)
            return c.format.height;
        return ueye::kSuccess;
    });
}

// The source's frames have one size: the area of interest is always the whole frame.
int srcSetAOI(HIDS h, int, int* x, int* y, int* width, int* height)
{
    return withCamera(h, [=](SourceCamera& c) {
        if (x)
            *x = 0;
        if (y)
            *y = 0;
        if (width)
            *width = c.format.width;
        if (height)
            *height = c.format.height;
        return ueye::kSuccess;
    });
}

int srcGetColorDepth(HIDS h, int* bits, int* mode)
{
    return withCamera(h, [=](SourceCamera& c) {
        if (bits)
            *bits = c.format.bits;
        if (mode)
            *mode = c.format.bits;
        return ueye::kSuccess;
    });
}

int srcAllocImageMem(HIDS h, int width, int height, int bits, char** mem, int* id)
{
    return withCamera(h, [=](SourceCamera& c) {
        const int bpp = frameBytesPerPixel(bits);
        if (!mem || !id || bpp == 0 || width <= 0 || height <= 0 || !c.memory.empty())
            return ueye::kNoSuccess;
        // Lines padded to four bytes, as the vendor library lays them out.
        c.memPitch = (width * bpp + 3) & ~3;
        c.memory.assign(size_t(c.memPitch) * size_t(height), 0);
        c.memWidth = width;
        c.memHeight = height;
        c.memBits = bits;
        c.memoryId = 1;
        *mem = c.memory.data();
        *id = c.memoryId;
        return ueye::kSuccess;
    });
}

int srcSetImageMem(HIDS h, char* mem, int id)
{
    return withCamera(h, [=](SourceCamera& c) {
        return !c.memory.empty() && mem == c.memory.data() && id == c.memoryId ? ueye::kSuccess : ueye::kNoSuccess;
    });
}

double contrastLevelOfGamma(int gamma)
{
    // The picture's contrast x (-50..50) is gamma 100 * 10^(-x/50) in automatic-gain mode.
    const double x = -50 * std::log10(std::max(gamma, 1) / 100.0);
    return std::clamp((x + 50) / 100, 0.0, 1.0);
}

int srcSetAutoParameter(HIDS h, int param, double* v1, double*)
{
    return withCamera(h, [=](SourceCamera& c) {
        if (!v1)
            return ueye::kNoSuccess;
        switch (param) {
        case ueye::kSetEnableAutoGain: c.source->setAutoGain(*v1 != 0); break;
        // The automatic gain's reference is the picture's brightness: the source's own
        // brightness control stands in for it.
        case ueye::kSetAutoReference: c.source->setBrightness(std::clamp(*v1 / 255, 0.0, 1.0)); break;
        default: break;
        }
        return ueye::kSuccess;
    });
}

int srcSetBrightness(HIDS h, int value)
{
    return withCamera(h, [=](SourceCamera& c) {
        if (value == ueye::kGetBrightness)
            return c.brightness;
        c.brightness = std::clamp(value, 0, 255);
        c.source->setBrightness(c.brightness / 255.0);
        return ueye::kSuccess;
    });
}

int srcSetContrast(HIDS h, int value)
{
    return withCamera(h, [=](SourceCamera& c) {
        if (value == ueye::kGetContrast)
            return c.contrast;
        c.contrast = std::clamp(value, 0, 511);
        c.source->setContrast(c.contrast / 511.0);
        return ueye::kSuccess;
    });
}

int srcSetGamma(HIDS h, int gamma)
{
    return withCamera(h, [=](SourceCamera& c) {
        c.source->setContrast(contrastLevelOfGamma(gamma));
        return ueye::kSuccess;
    });
}

int srcFreezeVideo(HIDS h, int)
{
    return withCamera(h, [](SourceCamera& c) { return c.lost ? ueye::kNoSuccess : ueye::kSuccess; });
}

// The picture asks here whether a frame finished: the newest one is fetched into the memory.
int srcIsVideoFinish(HIDS h, int* value)
{
    return withCamera(h, [=](SourceCamera& c) {
        if (c.lost)
            return ueye::kNoSuccess;
        if (c.memory.empty()) {
            if (value)
                *value = 0;
            return ueye::kSuccess;
        }
        const FrameSource::Fetch got = c.source->fetch(c.memory.data(), c.memPitch);
        if (got == FrameSource::Fetch::Lost) {
            c.lost = true;
            c.lastError = c.source->lostReason();
            return ueye::kNoSuccess;
        }
        if (value)
            *value = got == FrameSource::Fetch::NewFrame ? 1 : 0;
        return ueye::kSuccess;
    });
}

int srcInquireImageMem(HIDS h, char* mem, int id, int* x, int* y, int* bits, int* pitch)
{
    return withCamera(h, [=](SourceCamera& c) {
        if (c.lost || c.memory.empty() || mem != c.memory.data() || id != c.memoryId)
            return ueye::kNoSuccess;
        if (x)
            *x = c.memWidth;
        if (y)
            *y = c.memHeight;
        if (bits)
            *bits = c.memBits;
        if (pitch)
            *pitch = c.memPitch;
        return ueye::kSuccess;
    });
}

int srcSaveImageEx(HIDS h, const char* file, int format, int param)
{
    return withCamera(h, [=](SourceCamera& c) {
        if (format != ueye::kImageFileJpeg || c.memory.empty())
            return ueye::kNoSuccess;
        return saveImageMemoryAsJpeg(file, param, c.memory.data(), c.memWidth, c.memHeight, c.memPitch, c.memBits);
    });
}

int srcFreeImageMem(HIDS h, char* mem, int id)
{
    return withCamera(h, [=](SourceCamera& c) {
        if (c.memory.empty() || mem != c.memory.data() || id != c.memoryId)
            return ueye::kNoSuccess;
        c.memory = {};
        c.memoryId = 0;
        return ueye::kSuccess;
    });
}

int srcExitCamera(HIDS h)
{
    return withCamera(h, [](SourceCamera& c) {
        c.source->stop();
        c.open = false;
        c.memory = {};
        return ueye::kSuccess;
    });
}

UEyeApi makeApi()
{
    UEyeApi a;
    a.is_InitCamera = srcInitCamera;
    a.is_SetDisplayMode = srcSuccess;
    a.is_SetErrorReport = srcSuccess;
    a.is_GetSensorInfo = srcGetSensorInfo;
    a.is_SetImageSize = srcSetImageSize;
    a.is_SetAOI = srcSetAOI;
    a.is_GetColorDepth = srcGetColorDepth;
    a.is_AllocImageMem = srcAllocImageMem;
    a.is_SetImageMem = srcSetImageMem;
    a.is_SetColorMode = srcSuccess;
    a.is_SetWhiteBalance = srcSuccess;
    a.is_SetAutoParameter = srcSetAutoParameter;
    a.is_SetBrightness = srcSetBrightness;
    a.is_SetContrast = srcSetContrast;
    a.is_SetGamma = srcSetGamma;
    a.is_FreezeVideo = srcFreezeVideo;
    a.is_IsVideoFinish = srcIsVideoFinish;
    a.is_InquireImageMem = srcInquireImageMem;
    a.is_SaveImageEx = srcSaveImageEx;
    a.is_FreeImageMem = srcFreeImageMem;
    a.is_ExitCamera = srcExitCamera;
    return a;
}

} // namespace

SourceCameraSlot::SourceCameraSlot(std::unique_ptr<FrameSource> source)
{
    auto camera = std::make_unique<SourceCamera>();
    camera->source = std::move(source);
    auto& r = registry();
    const std::lock_guard lock(r.mutex);
    m_id = r.nextId--;
    r.cameras.emplace(m_id, std::move(camera));
}

SourceCameraSlot::~SourceCameraSlot()
{
    std::unique_ptr<SourceCamera> gone;
    {
        auto& r = registry();
        const std::lock_guard lock(r.mutex);
        const auto it = r.cameras.find(m_id);
        if (it == r.cameras.end())
            return;
        gone = std::move(it->second);
        r.cameras.erase(it);
    }
    // A camera left open (its user never closed it) is stopped outside the lock.
    if (gone->open)
        gone->source->stop();
}

QString SourceCameraSlot::name() const
{
    QString n;
    withCamera(
        m_id, [&](SourceCamera& c) { n = c.source->name(); return ueye::kSuccess; }, false);
    return n;
}

QString SourceCameraSlot::lastError() const
{
    QString why;
    withCamera(
        m_id, [&](SourceCamera& c) { why = c.lastError; return ueye::kSuccess; }, false);
    return why;
}

CameraControls SourceCameraSlot::controls() const
{
    CameraControls controls{false, false, false};
    withCamera(
        m_id, [&](SourceCamera& c) { controls = c.source->controls(); return ueye::kSuccess; }, false);
    return controls;
}

const UEyeApi& sourceCameraApi()
{
    static const UEyeApi api = makeApi();
    return api;
}

} // namespace lapido
