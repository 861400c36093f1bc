// The entry points a laser-source plug-in ("DE60_*.so") exports, as C functions by name.
#pragma once

#include <cstdint>

extern "C" {

// Every entry point is optional; the station looks each one up by its name and never calls
// one that is missing. Texts are 8-bit and zero-terminated in a buffer the station owns.
using LaserShowPanelFn = void (*)(bool service);
// Writes the model name (at most kLaserModelChars characters) into buffer.
using LaserGetModelFn = void (*)(char* buffer);
using LaserVoidFn = void (*)();
using LaserStateFn = std::int32_t (*)();
using LaserSetFrequencyFn = void (*)(std::int32_t hertz);
using LaserGetFrequencyFn = std::int32_t (*)();
using LaserSetFloatFn = void (*)(double value);
using LaserGetFloatFn = double (*)();
using LaserIsEmittingFn = bool (*)();
// Writes a status report of at most kLaserReportBytes - 1 characters into buffer.
using LaserReportFn = void (*)(char* buffer);
using LaserGetMaxPulseRateFn = std::int32_t (*)();
}

namespace lapido {
inline constexpr int kLaserModelChars = 255;
inline constexpr int kLaserReportBytes = 8192;
} // namespace lapido
