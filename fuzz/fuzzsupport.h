// What every fuzz target shares: a quiet, self-contained station environment in a private
// temporary folder (settings store, working folder, virtual clock, scripted dialogs), set up
// once per process, and small helpers for turning the input into files.
#pragma once

#include "platform/operatordialogs.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace lapido::fuzz {

struct Environment {
    // The private folder of this process (no trailing separator); everything a target writes
    // stays inside it and it is removed when the process ends.
    QString folder;
    // The station's working folder inside it (with a trailing separator).
    QString workingDir;
    ScriptedDialogs* dialogs = nullptr;
};

// Sets everything up on first call (an offscreen GUI application, so that fonts, painting
// and text documents work) and returns the same environment afterwards.
Environment& environment();

// Forgets what the previous input left behind: the dialogs' transcript and queued answers.
void resetBetweenInputs();

// The input as bytes (no copy is kept).
inline QByteArray bytes(const std::uint8_t* data, std::size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// Writes the input to name inside the private folder and returns the path.
QString writeInput(const QString& name, const QByteArray& content);

// Stops the run with a message when an invariant of the reader does not hold; libFuzzer
// records the input as a crash.
[[noreturn]] void fail(const char* what);
inline void check(bool condition, const char* what)
{
    if (!condition)
        fail(what);
}

} // namespace lapido::fuzz
