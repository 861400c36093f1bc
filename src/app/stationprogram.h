// The station program: single instance, debug log, simulated or real machine, the windows.
#pragma once

namespace lapido {

// main() of lapidograph. Exit codes: 0 after a normal end (or a start that handed over to the
// running station), 1 when the machine could not be reached, 2 for a malformed command line.
int runStation(int argc, char** argv);

} // namespace lapido
