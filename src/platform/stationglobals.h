// Program-wide values of the station: the abort flag, the start switches, the stone's girdle
// and slant, the working folder. One accessor each; the app sets them, tests reset them.
#pragma once

#include <QString>

#include <atomic>

namespace lapido {

// Set by the Abort command (and by the machine's safety guard); polled by every marking loop.
std::atomic<bool>& MarkingAborted();

// Start switches "/DEBUG" and "/NOHOMING".
bool DebugMode();
void setDebugMode(bool on);
bool NoHoming();
void setNoHoming(bool on);

// The current stone: girdle height in mm, slant angle in degrees.
double GirdleHeight();
void setGirdleHeight(double mm);
double SlantAngle();
void setSlantAngle(double degrees);

// Working folder of the station, with a trailing separator ("Logos", "Templates/" lie under it).
QString WorkingDir();
void setWorkingDir(const QString& folder);

// The working folder a station takes when none is stored: "Lapidograph/" in the user's data
// folder ($XDG_DATA_HOME, else ~/.local/share), since an installed program's own folder is not
// writable. Only names it; the station creates it.
QString DefaultWorkingDir();

// Back to the values of a fresh start (tests).
void resetStationGlobals();

} // namespace lapido
