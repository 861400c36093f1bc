// lapidograph-cli: the station's operations from a terminal, for service and companion programs.
#include "cliio.h"
#include "commands.h"
#include "sim/dmcsimtransport.h"

#include "platform/debuglog.h"
#include "records/log4station.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

namespace {

struct Command {
    const char* name;
    int (*run)(const QStringList&);
    bool needsGui; // fonts, text layout and painting need a GUI application (offscreen is fine)
    // Runs the station's machine or marking: reads the station's debug-log configuration
    // ("log4station.properties" in the current folder) at start, as the station does.
    bool stationLog;
    const char* usage;
};

const Command kCommands[] = {
    {"settings", lapido::cli::cmdSettings, false, false,
     "settings get SECTION KEY | set SECTION KEY VALUE | list [SECTION] | export FILE | import FILE | record"},
    {"dmc", lapido::cli::cmdDmc, false, true, "dmc [--address sim|HOST[:PORT]] [--timeout MS] COMMAND... (prints each reply)"},
    {"machine", lapido::cli::cmdMachine, false, true,
     "machine [--address A] [--echo] init | move X Y [Z] | inc AXIS MM | jog AXIS SPEED [SECONDS] | stop | position"
     " | pulse-train COUNT RATE | timed-pulse MS | cam-start XSTART XINTERVAL --heights H0,...,H50 | cam-stop"},
    {"dither", lapido::cli::cmdDither, false, false, "dither IN OUT --size WxH [--gamma G] [--keep-aspect]"},
    {"light", lapido::cli::cmdLight, false, false,
     "light [--port P] identify | colors | set PATTERN | rotate +|- [--direct] | load-template NAME | save-template NAME"},
    {"light-sim", lapido::cli::cmdLightSim, false, false, "light-sim [--fault none|silent|garbage|other|endless]"},
    {"maintenance", lapido::cli::cmdMaintenance, false, false, "maintenance list | record ACTION [VALUE]"},
    {"records", lapido::cli::cmdRecords, false, false, "records insert REPORT CONTENT"},
    {"dxf2lal", lapido::cli::cmdDxf2Lal, false, false, "dxf2lal IN.dxf OUT.lal"},
    {"outline", lapido::cli::cmdOutline, true, false,
     "outline --drawing FILE.lal [--json] | outline --font NAME --char C [--style S] [--json] [--out FILE.kol]"},
    {"mark", lapido::cli::cmdMark, true, true,
     "mark LABEL.xml [--address sim|HOST] [--out DIR] [--answer yes|no|continue|restart ...] [--reference X,Y,Z]"
     " [--teach-left X,Z] [--teach-right X,Z] [--abort-after N] [--link-lost-after LINES]"
     " [--fault silent|garbage|link-lost|underrun|limit-switch] [--inspect] [--sim-misfire RATE]"
     " [--sim-skip-glyph N] [--sim-defocus F] [--sim-drift UM]"
     " | mark --preview LABEL.xml [--out DIR] [--reference X,Y,Z] [--teach-left X,Z] [--teach-right X,Z]"
     " [--round-trip MS]"},
    {"render", lapido::cli::cmdRender, true, true,
     "render LABEL.xml OUT.png|OUT.ppm [--camera sim|none] [--no-overlay] [--zoom-out] [--grid MM] [--reference X,Y]"
     " [--marks MARKS.csv]"},
    {"calibrate", lapido::cli::cmdCalibrate, false, true,
     "calibrate [--address sim|HOST] [--store] [--sim-optics SCALE,ASPECT,ROTATION,CROSSX,CROSSY,NOISE]"},
    {"inspect", lapido::cli::cmdInspect, true, true,
     "inspect LABEL.xml PICTURE [--reference X,Y,Z] [--out DIR] (the inscription on a saved picture; exit 4 when it fails)"},
    {"check", lapido::cli::cmdCheck, true, false, "check LABEL.xml (strokes closer than the laser can keep apart; exit 1 when any)"},
    {"camera", lapido::cli::cmdCamera, true, true,
     "camera list [--genicam-fake] | camera grab --source gst:PIPELINE|genicam:NAME|vendor|sim --out FILE.png"
     " [--genicam-fake]"},
};

void printUsage(std::FILE* out)
{
    std::fprintf(out, "usage: lapidograph-cli COMMAND [ARGS]\n");
    for (const auto& c : kCommands)
        std::fprintf(out, "  %s\n", c.usage);
}

// The full help goes to standard output, where manual-page generators and pagers read it.
void printHelp()
{
    std::printf("lapidograph-cli runs the operations of the laser inscription station without its window:\n"
                "the settings store, the controller and the machine, the ring light, outlines and\n"
                "drawings, photo dithering, maintenance and marking records, and a whole marking run.\n\n");
    // One paragraph per command, so that a manual page keeps them apart.
    std::printf("usage: lapidograph-cli COMMAND [ARGS]\n\nCommands:\n");
    for (const auto& c : kCommands)
        std::printf("\n  %s\n", c.usage);
    std::printf("\nOptions:\n"
                "  --help     this text\n"
                "  --version  the program's version\n\n"
                "The settings store is $XDG_CONFIG_HOME/Lapidograph/settings.db (~/.config when unset);\n"
                "LAPIDOGRAPH_SETTINGS names another file. Examples of labels are in\n"
                "/usr/share/lapidograph/examples when the station is installed.\n");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        printUsage(stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        printHelp();
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("lapidograph-cli %s\n", LAPIDO_FILE_VERSION);
        return 0;
    }
    const Command* cmd = nullptr;
    for (const auto& c : kCommands)
        if (std::strcmp(argv[1], c.name) == 0)
            cmd = &c;
    if (!cmd) {
        std::fprintf(stderr, "lapidograph-cli: unknown command \"%s\"\n", argv[1]);
        printUsage(stderr);
        return 2;
    }
    // The controller address "sim" (the default) reaches the in-process simulator.
    lapido::registerSimulatedController();
    std::unique_ptr<QCoreApplication> app;
    if (cmd->needsGui) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QStringList args = QCoreApplication::arguments();
    args = args.mid(2);
    if (cmd->stationLog) {
        // A debug log that cannot be written is said once on standard error; the command goes on.
        lapido::setDebugLogFailureHandler(
            [](const QString& text) { lapido::cli::err(QStringLiteral("lapidograph-cli: ") + text); });
        lapido::ConfigureDebugLog();
    }
    try {
        return cmd->run(args);
    } catch (const std::exception& e) {
        lapido::cli::err(QStringLiteral("lapidograph-cli: ") + QString::fromUtf8(e.what()));
        return 1;
    }
}
