// TuEye: the camera over the camera library's table: opening, picture settings, frame copy
// into the station's picture buffer and snapshots.
#pragma once

#include "camera/ueyeapi.h"

#include <QImage>
#include <QRgb>
#include <QString>

#include <memory>

namespace lapido {

// The picture's background where no frame lies (dark grey).
inline constexpr QRgb kVideoBackground = 0xFF383838;

class TuEye {
public:
    // Opens and configures the camera of the library; a null library (none installed) counts
    // as a camera that cannot be opened. Failures are recorded as CameraNotAvailable.
    explicit TuEye(std::unique_ptr<UEyeLibrary> library);
    // Frees the image memory and closes the camera.
    ~TuEye();
    TuEye(const TuEye&) = delete;
    TuEye& operator=(const TuEye&) = delete;

    bool IsPresent() const { return Connected; }
    // Fills BitMap with brush, copies the last frame into it, centred (halved with HalfSize),
    // and requests the next frame. The bitmap takes the pixel format of the frame's depth.
    bool Draw(QImage& BitMap, bool HalfSize, QRgb brush = kVideoBackground);
    // The current frame as a JPEG file; false when there is no camera or it failed.
    bool SaveToFile(const QString& FName);
    void SetAutoGain(bool AutoGain);
    void SetBrightness(float Brightness);
    void SetContrast(float Contrast);
    float GetBrightness();
    float GetContrast();

    bool Connected = false;
    HIDS HC = 0;
    SENSORINFO SensorInfo;
    BOARDINFO BoardInfo;
    int fMaxWidth = 0, fMaxHeight = 0;
    char* ImageMemPnt = nullptr;
    int ImageMemID = -1;
    int BitsPerPixel = 0, ColorMode = 0;
    double fGainRef = 0;
    int fGamma = 100;
    bool fUseAutoGain = false;

    // The library in use (null when none).
    const UEyeLibrary* library() const { return m_library.get(); }

private:
    void open();
    const UEyeApi& api() const { return m_library->api(); }

    std::unique_ptr<UEyeLibrary> m_library;
    // What the image memory was allocated for: a frame reported larger is not read.
    int m_memWidth = 0, m_memHeight = 0, m_memBits = 0;
    // HC names an open camera (set between is_InitCamera and is_ExitCamera).
    bool m_cameraOpen = false;
    // An unusable frame is logged once, not at every tick.
    bool m_reportedUnusable = false;
    // The camera stopped answering while it ran: recorded once, then left alone.
    bool m_lost = false;
};

// The picture buffer's pixel format for a frame depth; Format_Invalid for a depth the copy
// does not handle.
QImage::Format videoFormatForBits(int bits);

} // namespace lapido
