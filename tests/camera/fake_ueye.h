// Control block of the fake camera vendor library used by the loading tests.
#pragma once

extern "C" {

struct FakeUEyeControl {
    // Sensor and the frames it hands out.
    int sensorWidth;
    int sensorHeight;
    char colorMode;     // 1: monochrome
    int bitsPerPixel;   // reported by is_GetColorDepth and is_InquireImageMem
    int extraPitch;     // bytes added to each line beyond the width
    // Faults.
    int failInit;
    int failDisplayMode;
    int failAlloc;
    // What the station set.
    int brightness;
    int contrast;
    int gamma;
    double autoGain;
    double autoSpeed;
    double autoReference;
    int freezeCount;
    int exitCount;
    char calls[4096];   // the calls made, comma-separated, in order
    char savedFile[1024];
};

}

// Byte k of pixel (x, y) in every fake frame.
inline unsigned char fakeFrameByte(int x, int y, int k)
{
    return static_cast<unsigned char>(x * 3 + y * 7 + k * 101);
}
