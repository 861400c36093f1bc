// TuEye: opening the camera, picture settings, frame copy and snapshots.
#include "camera/ueye.h"

#include "platform/debuglog.h"
#include "platform/numfmt.h"
#include "records/loggingproxy.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace lapido {

namespace {

// The reason, where the camera library tells one (a pipeline's error), goes with the record.
void reportNotAvailable(const QString& text, const QString& reason = QString())
{
    TLoggingProxy::GetInstance().InsertCameraNotAvailable(text, reason);
}

} // namespace

QImage::Format videoFormatForBits(int bits)
{
    switch (bits) {
    case 8: return QImage::Format_Grayscale8;
    case 15: return QImage::Format_RGB555;
    case 16: return QImage::Format_RGB16;
    case 24: return QImage::Format_BGR888;
    case 32: return QImage::Format_RGB32;
    default: return QImage::Format_Invalid;
    }
}

TuEye::TuEye(std::unique_ptr<UEyeLibrary> library) : m_library(std::move(library))
{
    open();
}

void TuEye::open()
{
    Connected = false;
    if (!m_library) {
        reportNotAvailable(QStringLiteral("is_InitCamera failed"));
        return;
    }
    const UEyeApi& a = api();
    HC = m_library->cameraId();
    if (a.is_InitCamera(&HC, nullptr) != ueye::kSuccess) {
        const QString why = m_library->lastError();
        if (!why.isEmpty())
            LogDebug(QStringLiteral("TuEye.Create: %1: %2").arg(m_library->name(), why));
        reportNotAvailable(QStringLiteral("is_InitCamera failed"), why);
        return;
    }
    m_cameraOpen = true;
    if (a.is_SetDisplayMode(HC, ueye::kSetDmDib) != ueye::kSuccess
        || a.is_SetErrorReport(HC, ueye::kDisableErrorReport) != ueye::kSuccess) {
        a.is_ExitCamera(HC);
        m_cameraOpen = false;
        reportNotAvailable(QStringLiteral("is_SetDisplayMode or is_SetErrorReport failed"));
        return;
    }
    a.is_GetSensorInfo(HC, &SensorInfo);
    fMaxWidth = int(std::min<std::uint32_t>(SensorInfo.nMaxWidth, 1u << 16));
    fMaxHeight = int(std::min<std::uint32_t>(SensorInfo.nMaxHeight, 1u << 16));
    a.is_SetImageSize(HC, fMaxWidth, fMaxHeight);
    int x = 0, y = 0, width = fMaxWidth, height = fMaxHeight;
    const int aoi = SensorInfo.nColorMode == ueye::kColorModeMonochrome ? ueye::kSetImageAoiMono : ueye::kSetImageAoiColor;
    a.is_SetAOI(HC, aoi, &x, &y, &width, &height);
    a.is_GetColorDepth(HC, &BitsPerPixel, &ColorMode);

    if (a.is_AllocImageMem(HC, width, height, BitsPerPixel, &ImageMemPnt, &ImageMemID) != ueye::kSuccess
        || !ImageMemPnt) {
        ImageMemPnt = nullptr;
        ImageMemID = -1;
    } else {
        m_memWidth = width;
        m_memHeight = height;
        m_memBits = BitsPerPixel;
        a.is_SetImageMem(HC, ImageMemPnt, ImageMemID);
        a.is_SetImageSize(HC, width, height);
        a.is_SetDisplayMode(HC, ueye::kSetDmDib);
        a.is_SetColorMode(HC, ColorMode);
        SetAutoGain(true);
        if (SensorInfo.nColorMode != ueye::kColorModeMonochrome)
            a.is_SetWhiteBalance(HC, ueye::kWhiteBalanceAuto);
    }
    if (ImageMemPnt)
        a.is_FreezeVideo(HC, ueye::kDontWait);
    Connected = true;
    SetContrast(7);
    SetBrightness(0);
}

TuEye::~TuEye()
{
    if (!Connected)
        return;
    const UEyeApi& a = api();
    if (ImageMemPnt)
        a.is_FreeImageMem(HC, ImageMemPnt, ImageMemID);
    a.is_ExitCamera(HC);
}

void TuEye::SetAutoGain(bool AutoGain)
{
    SetBrightness(0);
    SetContrast(0);
    fUseAutoGain = AutoGain;
    // Also called while the camera is being opened, before it counts as connected.
    if (!m_cameraOpen)
        return;
    double v1 = AutoGain ? 1.0 : 0.0, v2 = 0;
    api().is_SetAutoParameter(HC, ueye::kSetEnableAutoGain, &v1, &v2);
    if (AutoGain) {
        double speed = 100.0, unused = 0;
        api().is_SetAutoParameter(HC, ueye::kSetAutoSpeed, &speed, &unused);
    }
}

void TuEye::SetBrightness(float Brightness)
{
    if (!Connected)
        return;
    const double x = std::clamp(double(Brightness), -50.0, 50.0);
    const double a = (x + 50) * 255 / 100;
    if (fUseAutoGain) {
        fGainRef = double(RoundHalfEven(a));
        double v1 = fGainRef, v2 = 0;
        api().is_SetAutoParameter(HC, ueye::kSetAutoReference, &v1, &v2);
    } else {
        api().is_SetBrightness(HC, int(RoundHalfEven(a)));
    }
}

void TuEye::SetContrast(float Contrast)
{
    if (!Connected)
        return;
    const double x = std::clamp(double(Contrast), -50.0, 50.0);
    if (fUseAutoGain) {
        fGamma = int(RoundHalfEven(100 * std::pow(10.0, -x / 50)));
        api().is_SetGamma(HC, fGamma);
    } else {
        api().is_SetContrast(HC, int(RoundHalfEven((x + 50) * 511 / 100)));
    }
}

float TuEye::GetBrightness()
{
    if (!Connected)
        return 0;
    const double v = fUseAutoGain ? fGainRef : double(api().is_SetBrightness(HC, ueye::kGetBrightness));
    return float(v * 100 / 255 - 50);
}

float TuEye::GetContrast()
{
    if (!Connected)
        return 0;
    if (fUseAutoGain)
        return float(-50 * std::log10(std::max(fGamma, 1) / 100.0));
    return float(double(api().is_SetContrast(HC, ueye::kGetContrast)) * 100 / 511 - 50);
}

bool TuEye::Draw(QImage& BitMap, bool HalfSize, QRgb brush)
{
    if (!Connected || !ImageMemPnt)
        return true;
    // A camera lost while running (cable, library) shows the grey field from then on; the
    // marking does not depend on it, so it is a maintenance record, never a box in the middle
    // of a run.
    if (m_lost) {
        BitMap.fill(brush);
        return true;
    }
    const UEyeApi& a = api();
    int finished = 0;
    int w = 0, h = 0, bits = 0, pitch = 0;
    if (a.is_IsVideoFinish(HC, &finished) != ueye::kSuccess
        || a.is_InquireImageMem(HC, ImageMemPnt, ImageMemID, &w, &h, &bits, &pitch) != ueye::kSuccess) {
        m_lost = true;
        const QString why = m_library->lastError();
        LogDebug(QStringLiteral("TuEye.Draw: the camera stopped answering") + (why.isEmpty() ? QString() : QStringLiteral(": ") + why));
        reportNotAvailable(QStringLiteral("is_IsVideoFinish or is_InquireImageMem failed while running"), why);
        BitMap.fill(brush);
        return true;
    }
    // The background shows only where no frame pixel lands; a frame covering the whole
    // bitmap needs no fill first (the result is the same, the tick is cheaper).
    const int coveredW = HalfSize ? w / 2 : w, coveredH = HalfSize ? h / 2 : h;
    const bool covers = coveredW >= BitMap.width() && coveredH >= BitMap.height();
    bool filled = false;
    if (!covers || BitMap.format() != videoFormatForBits(bits)) {
        BitMap.fill(brush);
        filled = true;
    }
    const int bpp = frameBytesPerPixel(bits);
    const QImage::Format format = videoFormatForBits(bits);
    // A frame whose lines do not hold its width cannot be read safely; it is treated as a
    // depth we cannot use.
    if (bpp == 0 || w <= 0 || h <= 0 || pitch < w * bpp || w > m_memWidth || h > m_memHeight
        || bits > m_memBits) {
        if (!m_reportedUnusable)
            LogDebug(QStringLiteral("TuEye.Draw: unusable frame %1 x %2, %3 bits, pitch %4").arg(w).arg(h).arg(bits).arg(pitch));
        m_reportedUnusable = true;
        if (!filled)
            BitMap.fill(brush);
        return true;
    }
    if (BitMap.format() != format) {
        BitMap = QImage(BitMap.size(), format);
        if (!covers)
            BitMap.fill(brush);
    }
    const int step = HalfSize ? 2 : 1;
    if (HalfSize) {
        w /= 2;
        h /= 2;
    }
    int ox = (BitMap.width() - w) / 2;
    int oy = (BitMap.height() - h) / 2;
    w = std::min(w, BitMap.width());
    h = std::min(h, BitMap.height());
    const char* src = ImageMemPnt;
    if (oy < 0) {
        src += std::ptrdiff_t(-oy) * step * pitch;
        oy = 0;
    }
    // Horizontal centring: a positive offset moves the destination, a negative one skips
    // source pixels.
    const int dstX = std::max(ox, 0);
    const int srcX = std::max(-ox, 0);
    const int count = std::min(w, BitMap.width() - dstX);
    if (count > 0) {
        for (int i = 0; i < h; ++i) {
            uchar* dst = BitMap.scanLine(oy + i) + std::ptrdiff_t(dstX) * bpp;
            const char* line = src + std::ptrdiff_t(i) * step * pitch;
            if (!HalfSize) {
                std::memcpy(dst, line + std::ptrdiff_t(srcX) * bpp, size_t(count) * size_t(bpp));
            } else {
                const char* s = line + std::ptrdiff_t(srcX) * 2 * bpp;
                switch (bpp) {
                case 1:
                    for (int x = 0; x < count; ++x)
                        dst[x] = uchar(s[2 * x]);
                    break;
                case 2:
                    for (int x = 0; x < count; ++x)
                        std::memcpy(dst + 2 * x, s + 4 * x, 2);
                    break;
                case 3:
                    for (int x = 0; x < count; ++x)
                        std::memcpy(dst + 3 * x, s + 6 * x, 3);
                    break;
                default:
                    for (int x = 0; x < count; ++x)
                        std::memcpy(dst + 4 * x, s + 8 * x, 4);
                    break;
                }
            }
        }
    }
    a.is_FreezeVideo(HC, ueye::kDontWait);
    return true;
}

bool TuEye::SaveToFile(const QString& FName)
{
    if (!Connected || !ImageMemPnt)
        return false;
    const QByteArray name = QFile::encodeName(FName);
    return api().is_SaveImageEx(HC, name.constData(), ueye::kImageFileJpeg, 0) == ueye::kSuccess;
}

} // namespace lapido
