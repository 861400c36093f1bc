// A stand-in for the camera vendor's shared library: every call the station makes, a frame with
// a known pattern, and a control block the tests read and set. Built with FAKE_UEYE_INCOMPLETE
// it lacks is_SetAOI, as a broken install would.
#include "fake_ueye.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

using HIDS = std::uintptr_t;

namespace {

FakeUEyeControl makeControl()
{
    FakeUEyeControl c{};
    c.sensorWidth = 1280;
    c.sensorHeight = 1024;
    c.colorMode = 2;
    c.bitsPerPixel = 32;
    return c;
}

FakeUEyeControl g_control = makeControl();
std::vector<char> g_memory;
int g_width = 0, g_height = 0, g_pitch = 0;

void logCall(const char* name)
{
    const size_t used = std::strlen(g_control.calls);
    std::snprintf(g_control.calls + used, sizeof(g_control.calls) - used, "%s%s", used ? "," : "", name);
}

int bytesOf(int bits) { return (bits + 7) / 8; }

} // namespace

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

FAKE_EXPORT FakeUEyeControl* fake_ueye_control() { return &g_control; }

FAKE_EXPORT int is_InitCamera(HIDS* h, void*)
{
    logCall("is_InitCamera");
    if (g_control.failInit)
        return 3;
    *h = 7;
    return 0;
}
FAKE_EXPORT int is_SetDisplayMode(HIDS, int)
{
    logCall("is_SetDisplayMode");
    return g_control.failDisplayMode ? -1 : 0;
}
FAKE_EXPORT int is_SetErrorReport(HIDS, int)
{
    logCall("is_SetErrorReport");
    return 0;
}
FAKE_EXPORT int is_GetSensorInfo(HIDS, void* info)
{
    logCall("is_GetSensorInfo");
    // SensorID, name[32], colour mode, max width, max height, as the station's record lays them out.
    struct Info {
        std::uint16_t id;
        char name[32];
        char colorMode;
        std::uint32_t maxWidth, maxHeight;
    } i{};
    i.colorMode = g_control.colorMode;
    i.maxWidth = std::uint32_t(g_control.sensorWidth);
    i.maxHeight = std::uint32_t(g_control.sensorHeight);
    std::memcpy(info, &i, sizeof i);
    return 0;
}
FAKE_EXPORT int is_SetImageSize(HIDS, int x, int)
{
    logCall("is_SetImageSize");
    if (x == 0x8000)
        return g_control.sensorWidth;
    if (x == 0x8001)
        return g_control.sensorHeight;
    return 0;
}
#ifndef FAKE_UEYE_INCOMPLETE
FAKE_EXPORT int is_SetAOI(HIDS, int type, int*, int*, int* w, int* h)
{
    logCall(type == 0x8002 ? "is_SetAOI(mono)" : "is_SetAOI(colour)");
    *w = g_control.sensorWidth;
    *h = g_control.sensorHeight;
    return 0;
}
#endif
FAKE_EXPORT int is_GetColorDepth(HIDS, int* bits, int* mode)
{
    logCall("is_GetColorDepth");
    *bits = g_control.bitsPerPixel;
    *mode = 0;
    return 0;
}
FAKE_EXPORT int is_AllocImageMem(HIDS, int w, int h, int bits, char** mem, int* id)
{
    logCall("is_AllocImageMem");
    if (g_control.failAlloc)
        return -1;
    g_width = w;
    g_height = h;
    const int bpp = bytesOf(bits);
    g_pitch = w * bpp + g_control.extraPitch;
    g_memory.assign(size_t(g_pitch) * size_t(h), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int k = 0; k < bpp; ++k)
                g_memory[size_t(y) * size_t(g_pitch) + size_t(x * bpp + k)] = char(fakeFrameByte(x, y, k));
    *mem = g_memory.data();
    *id = 1;
    return 0;
}
FAKE_EXPORT int is_SetImageMem(HIDS, char*, int)
{
    logCall("is_SetImageMem");
    return 0;
}
FAKE_EXPORT int is_SetColorMode(HIDS, int)
{
    logCall("is_SetColorMode");
    return 0;
}
FAKE_EXPORT int is_SetWhiteBalance(HIDS, int)
{
    logCall("is_SetWhiteBalance");
    return 0;
}
FAKE_EXPORT int is_SetAutoParameter(HIDS, int param, double* v1, double*)
{
    logCall("is_SetAutoParameter");
    if (param == 0x8800)
        g_control.autoGain = *v1;
    else if (param == 0x8006)
        g_control.autoSpeed = *v1;
    else if (param == 0x8000)
        g_control.autoReference = *v1;
    return 0;
}
FAKE_EXPORT int is_SetBrightness(HIDS, int v)
{
    if (v == 0x8000)
        return g_control.brightness;
    logCall("is_SetBrightness");
    g_control.brightness = v;
    return 0;
}
FAKE_EXPORT int is_SetContrast(HIDS, int v)
{
    if (v == 0x8000)
        return g_control.contrast;
    logCall("is_SetContrast");
    g_control.contrast = v;
    return 0;
}
FAKE_EXPORT int is_SetGamma(HIDS, int v)
{
    logCall("is_SetGamma");
    g_control.gamma = v;
    return 0;
}
FAKE_EXPORT int is_FreezeVideo(HIDS, int)
{
    logCall("is_FreezeVideo");
    ++g_control.freezeCount;
    return 0;
}
FAKE_EXPORT int is_IsVideoFinish(HIDS, int* v)
{
    *v = 1;
    return 0;
}
FAKE_EXPORT int is_InquireImageMem(HIDS, char*, int, int* x, int* y, int* bits, int* pitch)
{
    *x = g_width;
    *y = g_height;
    *bits = g_control.bitsPerPixel;
    *pitch = g_pitch;
    return 0;
}
FAKE_EXPORT int is_SaveImageEx(HIDS, const char* file, int, int)
{
    logCall("is_SaveImageEx");
    std::snprintf(g_control.savedFile, sizeof g_control.savedFile, "%s", file);
    return 0;
}
FAKE_EXPORT int is_FreeImageMem(HIDS, char*, int)
{
    logCall("is_FreeImageMem");
    return 0;
}
FAKE_EXPORT int is_ExitCamera(HIDS)
{
    logCall("is_ExitCamera");
    ++g_control.exitCount;
    return 0;
}
