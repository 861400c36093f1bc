// The camera library's function table: the is_ calls the station makes, loaded from the vendor's
// shared library or taken from the built-in simulated camera.
#pragma once

#include "camera/framesource.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

class QLibrary;

namespace lapido {

class SourceCameraSlot;

// Camera handle; the vendor library writes its 32-bit handle into a zeroed one.
using HIDS = std::uintptr_t;

// Sensor information as the vendor library fills it.
struct SENSORINFO {
    std::uint16_t SensorID = 0;
    char strSensorName[32] = {};
    char nColorMode = 0; // 1: monochrome
    std::uint32_t nMaxWidth = 0;
    std::uint32_t nMaxHeight = 0;
    std::int32_t bMasterGain = 0, bRGain = 0, bGGain = 0, bBGain = 0, bGlobShutter = 0;
    std::uint16_t wPixelSize = 0;
    char nUpperLeftBayerPixel = 0;
    char Reserved[13] = {};
};

// Board information (kept for the camera record, not read).
struct BOARDINFO {
    char SerNo[12] = {};
    char ID[20] = {};
    char Version[10] = {};
    char Date[12] = {};
    unsigned char Select = 0;
    unsigned char Type = 0;
    char Reserved[8] = {};
};

// Numeric arguments of the calls.
namespace ueye {
inline constexpr int kSuccess = 0;
inline constexpr int kNoSuccess = -1;
inline constexpr char kColorModeMonochrome = 1;
inline constexpr int kSetDmDib = 1;            // frames go to memory
inline constexpr int kDisableErrorReport = 0;
inline constexpr int kGetImageSizeX = 0x8000;
inline constexpr int kGetImageSizeY = 0x8001;
inline constexpr int kSetImageAoiMono = 0x8002;
inline constexpr int kSetImageAoiColor = 0x8006;
inline constexpr int kGetBrightness = 0x8000;
inline constexpr int kGetContrast = 0x8000;
inline constexpr int kSetAutoReference = 0x8000;
inline constexpr int kSetAutoSpeed = 0x8006;
inline constexpr int kSetEnableAutoGain = 0x8800;
inline constexpr int kWhiteBalanceAuto = 2;
inline constexpr int kDontWait = 0;
inline constexpr int kImageFileJpeg = 1;
} // namespace ueye

// One pointer per call, named as the library exports it.
struct UEyeApi {
    int (*is_InitCamera)(HIDS* phCam, void* hWnd) = nullptr;
    int (*is_SetDisplayMode)(HIDS hCam, int Mode) = nullptr;
    int (*is_SetErrorReport)(HIDS hCam, int Mode) = nullptr;
    int (*is_GetSensorInfo)(HIDS hCam, SENSORINFO* pInfo) = nullptr;
    int (*is_SetImageSize)(HIDS hCam, int x, int y) = nullptr;
    int (*is_SetAOI)(HIDS hCam, int type, int* pXPos, int* pYPos, int* pWidth, int* pHeight) = nullptr;
    int (*is_GetColorDepth)(HIDS hCam, int* pnCol, int* pnColMode) = nullptr;
    int (*is_AllocImageMem)(HIDS hCam, int width, int height, int bitspixel, char** ppcImgMem, int* pid) = nullptr;
    int (*is_SetImageMem)(HIDS hCam, char* pcMem, int id) = nullptr;
    int (*is_SetColorMode)(HIDS hCam, int Mode) = nullptr;
    int (*is_SetWhiteBalance)(HIDS hCam, int nMode) = nullptr;
    int (*is_SetAutoParameter)(HIDS hCam, int param, double* pval1, double* pval2) = nullptr;
    int (*is_SetBrightness)(HIDS hCam, int Bright) = nullptr;
    int (*is_SetContrast)(HIDS hCam, int Cont) = nullptr;
    int (*is_SetGamma)(HIDS hCam, int nGamma) = nullptr;
    int (*is_FreezeVideo)(HIDS hCam, int Wait) = nullptr;
    int (*is_IsVideoFinish)(HIDS hCam, int* pValue) = nullptr;
    int (*is_InquireImageMem)(HIDS hCam, char* pcMem, int nID, int* pnX, int* pnY, int* pnBits, int* pnPitch) = nullptr;
    int (*is_SaveImageEx)(HIDS hCam, const char* File, int fileFormat, int Param) = nullptr;
    int (*is_FreeImageMem)(HIDS hCam, char* pcMem, int id) = nullptr;
    int (*is_ExitCamera)(HIDS hCam) = nullptr;
};

// The names of the calls, in the table's order.
QStringList uEyeApiSymbols();

// A usable table and what keeps it valid (the loaded vendor library, if any).
class UEyeLibrary {
public:
    ~UEyeLibrary();
    UEyeLibrary(const UEyeLibrary&) = delete;
    UEyeLibrary& operator=(const UEyeLibrary&) = delete;

    // The vendor library at fileName (a bare name is searched as the system loader does).
    // Null, with the reason, when it cannot be loaded or lacks any of the calls; notFound tells
    // the first case from the second.
    static std::unique_ptr<UEyeLibrary> load(const QString& fileName, QString* error = nullptr,
                                             bool* notFound = nullptr);
    // The built-in simulated camera (simcamera.h).
    static std::unique_ptr<UEyeLibrary> simulated();
    // A camera delivering frames on its own (framesource.h), behind the same calls.
    static std::unique_ptr<UEyeLibrary> fromSource(std::unique_ptr<FrameSource> source);

    const UEyeApi& api() const { return m_api; }
    bool isSimulated() const { return !m_library && !m_source; }
    QString name() const;
    // The camera is_InitCamera is asked to open (the handle's value on entry); 0, the first
    // free camera, for the vendor library and the simulated camera.
    HIDS cameraId() const;
    // Why the camera could not be opened, or why it was lost, where the library tells.
    QString lastError() const;
    // The picture controls the camera has (all of them for the vendor library).
    CameraControls controls() const;

private:
    UEyeLibrary() = default;
    static std::unique_ptr<UEyeLibrary> make(const UEyeApi& api, std::unique_ptr<QLibrary> library);
    UEyeApi m_api;
    std::unique_ptr<QLibrary> m_library;
    std::unique_ptr<SourceCameraSlot> m_source;
};

// The vendor's Linux library name.
inline constexpr char kUEyeVendorLibrary[] = "libueye_api.so";

// The station's choice of camera library: the simulated camera when simulate is set; else the
// camera the settings choose when it is not the vendor's (camerachoice.h); else the vendor
// library when it is installed; else the simulated camera when the settings ask for it
// (keys::SimulateCamera). Null, with the reason, when there is no usable camera library (a
// vendor library that lacks calls is not replaced by the simulation: it is a broken install).
std::unique_ptr<UEyeLibrary> openCameraLibrary(bool simulate, QString* why = nullptr,
                                               const QString& vendorFile = QString::fromLatin1(kUEyeVendorLibrary));

// Bytes per pixel of a frame of the given colour depth (8, 15, 16, 24, 32); 0 for any other.
inline int frameBytesPerPixel(int bits)
{
    switch (bits) {
    case 8: return 1;
    case 15:
    case 16: return 2;
    case 24: return 3;
    case 32: return 4;
    default: return 0;
    }
}

} // namespace lapido
