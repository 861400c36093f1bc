// The station program: what happens between the command line and the event loop, and after it.
#include "app/stationprogram.h"

#include "app/singleinstance.h"
#include "app/startoptions.h"
#include "app/stopsignals.h"
#include "machine/applysettings.h"
#include "machine/galil.h"
#include "machine/galildmc.h"
#include "machine/laser.h"
#include "machine/lasersource.h"
#include "platform/clock.h"
#include "platform/debuglog.h"
#include "platform/operatordialogs.h"
#include "peripherals/ledsrgb.h"
#include "platform/stationglobals.h"
#include "records/log4station.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "sim/dmcsimtransport.h"
#include "sim/dmcsimulator.h"
#include "sim/lightsimulator.h"
#include "sim/simfromsettings.h"
#include "glyphs/richstring.h"
#include "ui/common/qtoperatordialogs.h"
#include "ui/common/screenfit.h"
#include "ui/links/stationwindowlinks.h"
#include "ui/machine/frmlaser.h"
#include "ui/machine/frmtestmotion.h"
#include "ui/main/frmmain.h"
#include "ui/settings/frmsettings.h"
#include "ui/settings/settingswindowlink.h"
#include "ui/workflow/frmbreakpoint.h"
#include "ui/workflow/frmclipboard.h"
#include "ui/workflow/frmmessage.h"
#include "ui/workflow/frmwait.h"
#include "ui/workflow/labelveiwform.h"

#include <QApplication>
#include <QIcon>
#include <QFileInfo>
#include <QMetaObject>
#include <QTextDocument>

#include <cstdio>
#include <exception>
#include <memory>

namespace lapido {

namespace {

// The simulated laser source plug-in built with the station.
const QString kSimulatedSourceFile = QStringLiteral("DE60_Sim.so");

void printOut(const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

void printErr(const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

// Whether the windowing platform Qt would pick is X and there is no X display to open: Qt
// would abort in the application's construction, while the help and version need no display.
bool displayMissing(const QStringList& args)
{
    QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    bool displayArgument = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if ((a == QLatin1String("-platform") || a == QLatin1String("--platform")) && i + 1 < args.size())
            platform = args[i + 1];
        displayArgument = displayArgument || a == QLatin1String("-display") || a == QLatin1String("--display");
    }
    if (platform.isEmpty())
        platform = qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ? QStringLiteral("xcb") : QStringLiteral("wayland");
    return platform.startsWith(QLatin1String("xcb")) && !displayArgument && qEnvironmentVariableIsEmpty("DISPLAY");
}

// The simulated source in the list the settings window shows, chosen for this run only.
void selectSimulatedSource(TLaserSource& source, TSettings& settings)
{
    for (int i = 0; i < source.LaserPackageNames.size(); ++i)
        if (QFileInfo(source.LaserPackageNames.at(i)).fileName() == kSimulatedSourceFile) {
            source.ComboBoxSourceSelect(i, settings);
            return;
        }
    printErr(QStringLiteral("lapidograph: the simulated laser source %1 was not found beside the program; "
                            "the pulse-triggered source is used\n")
                 .arg(kSimulatedSourceFile));
    source.ComboBoxSourceSelect(TLaserSource::kPulseTriggeredEntry, settings);
}

void bringToFront(QWidget& window)
{
    if (window.isMinimized())
        window.showNormal();
    window.show();
    window.raise();
    window.activateWindow();
}

} // namespace

int runStation(int argc, char** argv)
{
    QCoreApplication::setApplicationName(QStringLiteral("Lapidograph"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LAPIDO_FILE_VERSION));
    QStringList rawArguments;
    for (int i = 1; i < argc; ++i)
        rawArguments << QString::fromLocal8Bit(argv[i]);
    if (displayMissing(rawArguments)) {
        const StartOptions early = parseStartOptions(rawArguments);
        if (!early.error.isEmpty()) {
            printErr(QStringLiteral("lapidograph: ") + early.error + QLatin1Char('\n') + usageText());
            return 2;
        }
        if (early.help) {
            printOut(usageText());
            return 0;
        }
        if (early.version) {
            printOut(versionLine() + QLatin1Char('\n'));
            return 0;
        }
        printErr(QStringLiteral("lapidograph: no display to open the station window on (DISPLAY is not set)\n"));
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lapidograph"));
    QApplication::setApplicationVersion(QStringLiteral(LAPIDO_FILE_VERSION));
    // The desktop finds the entry and icon of its windows by these (the X window class is the
    // application's name, as the entry's StartupWMClass says).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.lapidograph.Lapidograph"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/lapidograph.png")));
    // Every window of the station opens fully on the screen.
    TScreenFit screenFit;
    app.installEventFilter(&screenFit);

    const StartOptions options = parseStartOptions(QApplication::arguments().mid(1));
    if (!options.error.isEmpty()) {
        printErr(QStringLiteral("lapidograph: ") + options.error + QLatin1Char('\n') + usageText());
        return 2;
    }
    if (options.help) {
        printOut(usageText());
        return 0;
    }
    if (options.version) {
        printOut(versionLine() + QLatin1Char('\n'));
        return 0;
    }

    QtOperatorDialogs dialogs;
    OperatorDialogs* const previousDialogs = setOperatorDialogs(&dialogs);
    struct RestoreDialogs {
        OperatorDialogs* previous;
        ~RestoreDialogs() { setOperatorDialogs(previous); }
    } restoreDialogs{previousDialogs};

    // 1. One station per computer.
    SingleInstance instance;
    switch (instance.claim()) {
    case SingleInstance::Outcome::HandedOver:
        return 0;
    case SingleInstance::Outcome::BlockFailed:
        dialogs.error(QObject::tr("The single-instance block \"%1\" could not be created: %2")
                          .arg(QString::fromLatin1(SingleInstance::kBlockName), instance.error()));
        break;
    case SingleInstance::Outcome::First:
        break;
    }

    // 2. The debug log, before any window. A log that cannot be written is told to the operator
    // once, in the window's own thread, and the station goes on without it.
    setDebugLogFailureHandler([](const QString& text) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [text] { operatorDialogs().notice(QObject::tr("Debug log"), text); },
            Qt::QueuedConnection);
    });
    ConfigureDebugLog();
    struct ReleaseLoggers {
        ~ReleaseLoggers()
        {
            ResetDebugLog();
            setDebugLogFailureHandler({});
        }
    } releaseLoggers;

    // The machine the station talks to: the simulator behind the address "sim", on real time
    // (sped up on request) so that moves take the time the machine would need.
    registerSimulatedController();
    try {
        LoadSettingsFromRegistery();
    } catch (const std::exception& e) {
        dialogs.error(QString::fromLocal8Bit(e.what()));
        return 1;
    }
    RealClock simulatorClock(options.simSpeed);
    setCurrentDmcSimulator(makeWiredSimulator(&simulatorClock, Settings()));
    struct DropSimulator {
        ~DropSimulator() { setCurrentDmcSimulator(nullptr); }
    } dropSimulator;

    // With --simulate the ring light is simulated as well, on a pseudo-terminal that the
    // light opens instead of the stored port (the store keeps its port).
    LightSimulator simulatedLight;
    struct ReleaseLight {
        ~ReleaseLight()
        {
            TLedsRGB::ReleaseInstance();
            TLedsRGB::setInstancePortOverride({});
        }
    } releaseLight;
    if (options.simulate) {
        QString why;
        if (simulatedLight.start(&why))
            TLedsRGB::setInstancePortOverride(simulatedLight.portName());
        else
            printErr(QStringLiteral("lapidograph: no simulated ring light: ") + why + QLatin1Char('\n'));
    }

    // 3. The windows, in the station's order. The main window opens the store, the working
    // folder, the camera, the trace file, the records and the templates.
    TfrmMain frmMain;

    // Settings: the record and the laser sources.
    TLaserSource laserSourceList;
    laserSourceList.LoadLaserSourcePackage();
    if (options.simulate)
        selectSimulatedSource(laserSourceList, Settings());
    else
        SelectStoredLaserSource(laserSourceList, Settings());
    setLaserSource(&laserSourceList);
    struct ResetLaserSource {
        ~ResetLaserSource() { setLaserSource(nullptr); }
    } resetLaserSource;
    TfrmSettings frmSettings(&frmMain);
    // The settings window selects the stored source when it is made; a simulated station
    // keeps the simulated one.
    if (options.simulate)
        selectSimulatedSource(laserSourceList, Settings());

    // Manual command window: its creation creates the one machine object and its channel.
    TfrmLaser frmLaser(options.simulate ? std::make_unique<TLaser>(std::make_unique<TDMC>(std::make_unique<TGalil>(), "sim"))
                                        : std::make_unique<TLaser>());
    if (frmLaser.laser().terminateRequested())
        return 1; // the operator was told: no hardware
    // The link's round trip, once: the marking preview pays it for every command.
    frmMain.station().services().roundTripMs = MeasureRoundTripMs(frmLaser.laser().channel());
    struct ShutDownMachine {
        TLaser& laser;
        ~ShutDownMachine()
        {
            // Whatever ended the run (a close, a stop signal, an error), the laser is left
            // disabled, gated and without supply.
            if (laser.HardwareFound)
                laser.ShutDown();
        }
    } shutDownMachine{frmLaser.laser()};

    TfrmMessage frmMessage(&frmMain);
    // Symbol picker, logo editor, templates manager and engraving preview, answering the main
    // window's requests (the manual command window's too).
    TStationWindowLinks windowLinks(frmMain, frmLaser);
    TfrmTestMotion frmTestMotion(&frmMain);
    frmSettings.setMotionTestWindow(&frmTestMotion);
    // "Settings" opens the dialog modally; the automatic backup runs at the first show.
    TSettingsWindowLink settingsLink(frmMain, frmSettings, &frmTestMotion);
    TLabelVeiwForm labelView(&frmMain);
    TfrmBreakPoint frmBreakPoint(&frmMain);
    TfrmClipboard frmClipboard(&frmMain);
    TfrmWait frmWait(&frmMain);
    dialogs.setParent(&frmMain);
    dialogs.setMessageWindow(&frmMessage);
    dialogs.setWaitWindow(&frmWait);

    QObject::connect(&frmMain, &TfrmMain::clipboardRequested, &frmClipboard, [&frmClipboard] { bringToFront(frmClipboard); });
    QObject::connect(&frmMain, &TfrmMain::labelViewRequested, &labelView, [&labelView] { labelView.show(); });
    // The label view follows the label field as it changes.
    QTextDocument& labelField = frmMain.station().RichEditGlyphLabel().document();
    labelView.setLabelText(labelField.toPlainText());
    QObject::connect(&labelField, &QTextDocument::contentsChanged, &labelView,
                     [&labelView, &labelField] { labelView.setLabelText(labelField.toPlainText()); });
    QObject::connect(&instance, &SingleInstance::raiseRequested, &frmMain, [&frmMain] {
        LogDebug(QStringLiteral("Brought to the front by a second start."));
        bringToFront(frmMain);
    });

    // A stop signal ends the run as a close without questions: the machine is shut down by
    // the guard above, the settings the operator did not confirm are not written.
    // A signal that arrives while the window is being shown (a box open in its start-up)
    // ends the run as soon as the event loop would start.
    StopSignals stopSignals;
    bool stopped = false;
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &app, [&stopped](int signalNumber) {
        LogDebug(QStringLiteral("Stopped by signal %1.").arg(signalNumber));
        stopped = true;
        MarkingAborted() = true;
        QApplication::exit(0);
    });

    frmMain.show();
    LogDebug(QStringLiteral("Main window shown."));
    if (stopped)
        return 0;
    return QApplication::exec();
}

} // namespace lapido
