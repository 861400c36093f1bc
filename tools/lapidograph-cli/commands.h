// The commands of lapidograph-cli; each returns the process exit code.
#pragma once

#include <QStringList>

namespace lapido::cli {

// args: the words after the command name.
int cmdSettings(const QStringList& args);
int cmdDmc(const QStringList& args);
int cmdMachine(const QStringList& args);
int cmdDither(const QStringList& args);
int cmdLight(const QStringList& args);
int cmdLightSim(const QStringList& args);
// DXF import into a drawing file; the outline of a drawing (or of a character with --font).
int cmdDxf2Lal(const QStringList& args);
int cmdOutline(const QStringList& args);
// The --font form of "outline" (one character of a font); "outline" hands these words over.
int cmdOutlineFont(const QStringList& args);
// Maintenance log and marking records by hand (service).
int cmdMaintenance(const QStringList& args);
int cmdRecords(const QStringList& args);
// The whole marking sequence of a label without a window.
int cmdMark(const QStringList& args);
// One video tick of a label (camera frame and overlay) into a picture file.
int cmdRender(const QStringList& args);
// The camera's scale, aspect, turn and cross hair measured on the machine.
int cmdCalibrate(const QStringList& args);
// The legibility check of a label: its findings, exit code 1 when there are any.
int cmdCheck(const QStringList& args);
// The inspection of an inscription on a saved camera picture against the label's plan.
int cmdInspect(const QStringList& args);
// The cameras present, and one frame of a camera into a picture file.
int cmdCamera(const QStringList& args);

} // namespace lapido::cli
