// lapidograph-cli calibrate: the camera's scale, aspect, turn and cross hair measured on the
// machine without a window; the settings change only when asked.
#include "cliio.h"
#include "commands.h"
#include "controllerlink.h"

#include "camera/calibration.h"
#include "camera/simcamera.h"
#include "camera/ueye.h"
#include "machine/applysettings.h"
#include "machine/laser.h"
#include "machine/lasersource.h"
#include "platform/clock.h"
#include "platform/operatordialogs.h"
#include "platform/settingsstore.h"
#include "settings/settingsrecord.h"
#include "sim/dmcsimulator.h"
#include "sim/simfromsettings.h"

#include <optional>

namespace lapido::cli {

namespace {

const QString kCalibrateUsage = QStringLiteral(
    "usage: calibrate [--address sim|HOST] [--store] [--sim-optics SCALE,ASPECT,ROTATION,CROSSX,CROSSY,NOISE]\n"
    "  Moves the table in small steps around where it stands and measures the camera: image scale\n"
    "  (VideoScale, pixels/mm), aspect (VideoAspect, %), the camera's turn against the table, and\n"
    "  the cross hair (CrossHairX, CrossHairY) from a dark test mark lying under the laser at the\n"
    "  start. The laser stays off. --store writes the results into the settings; without it\n"
    "  nothing is stored. --sim-optics gives the simulated camera its true optics (simulated\n"
    "  machine only; default: the stored values, no turn, no noise).\n"
    "  Exit code: 0 measured, 1 failed, 2 usage.");

} // namespace

int cmdCalibrate(const QStringList& args)
{
    QString address;
    bool store = false;
    std::optional<std::vector<double>> simOptics;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        const bool hasValue = i + 1 < args.size();
        if (a == QLatin1String("--address") && hasValue) {
            address = args.at(++i);
        } else if (a == QLatin1String("--store")) {
            store = true;
        } else if (a == QLatin1String("--sim-optics") && hasValue) {
            simOptics = pointNumbers(args.at(++i), 6);
            if (!simOptics || !((*simOptics)[0] > 0) || !((*simOptics)[1] > 0) || (*simOptics)[5] < 0)
                return usageError(QStringLiteral("--sim-optics needs SCALE,ASPECT,ROTATION,CROSSX,CROSSY,NOISE with a "
                                                 "positive scale and aspect and a noise of 0 or more"));
        } else {
            return usageError(QStringLiteral("unexpected \"%1\"\n").arg(a) + kCalibrateUsage);
        }
    }

    LoadSettingsFromRegistery();
    TSettings& settings = Settings();
    const QString effectiveAddress = controllerAddress(address);
    const bool simulated = isSimulatorAddress(effectiveAddress);
    if (simOptics && !simulated)
        return usageError(QStringLiteral("--sim-optics needs the simulated machine"));

    // The simulated machine runs on virtual time: the steps and frames take no waiting.
    VirtualClock virtualClock;
    std::optional<ScopedClock> simulatedTime;
    std::shared_ptr<DmcSimulator> previousSim;
    if (simulated) {
        simulatedTime.emplace(virtualClock);
        previousSim = currentDmcSimulator();
        setCurrentDmcSimulator(makeWiredSimulator(&virtualClock, settings));
    }
    struct RestoreSim {
        bool active;
        std::shared_ptr<DmcSimulator> previous;
        ~RestoreSim()
        {
            if (active)
                setCurrentDmcSimulator(previous);
        }
    } restoreSim{simulated, previousSim};

    const TerminalDialogs dialogs;

    const StoredLaserSource source(settings);
    struct ResetLaser {
        ~ResetLaser() { setLaser(nullptr); }
    } resetLaser;

    TLaser laser(openController(effectiveAddress));
    if (!laser.HardwareFound) {
        err(QStringLiteral("lapidograph-cli: no controller at \"%1\"").arg(addressText(effectiveAddress)));
        return 1;
    }
    // The laser is never switched on here; every way out still leaves it off.
    struct LaserOffAtExit {
        TLaser& laser;
        ~LaserOffAtExit() { laser.laserOff(); }
    } laserOffAtExit{laser};
    if (const auto refused = ApplyMotionSettings(settings, laser)) {
        err(QStringLiteral("lapidograph-cli: ") + *refused);
        laser.HardwareFound = false;
        return 1;
    }
    setLaser(&laser);
    laser.Initialize();
    if (!laser.Initialized) {
        err(QStringLiteral("lapidograph-cli: the machine was not initialised. ") + laser.lastError());
        return 1;
    }

    std::optional<ScopedSimulatedCamera> scene;
    std::unique_ptr<UEyeLibrary> library;
    if (simulated) {
        // The simulated test piece carries its mark where the table stands now, under the laser.
        double x = 0, y = 0, z = 0, w = 0;
        laser.GetPosition(x, y, z, w);
        SimulatedCameraOptions options = simulatedCameraOptions();
        SimulatedOptics optics;
        optics.scalePxPerMm = simOptics ? (*simOptics)[0] : settings.VideoScale;
        optics.aspectPercent = simOptics ? (*simOptics)[1] : settings.VideoAspect;
        optics.rotationDeg = simOptics ? (*simOptics)[2] : 0.0;
        optics.crossHairPx = simOptics ? QPointF((*simOptics)[3], (*simOptics)[4])
                                       : QPointF(settings.CrossHairX, settings.CrossHairY);
        optics.noiseGreyLevels = simOptics ? (*simOptics)[5] : 0.0;
        options.optics = optics;
        options.testMark = SimulatedTestMark{TCoord{x, y}, 0.02};
        scene.emplace(options);
        library = UEyeLibrary::simulated();
    } else {
        QString why;
        library = openCameraLibrary(false, &why);
        if (!library) {
            err(QStringLiteral("lapidograph-cli: no camera: ") + why);
            return 1;
        }
    }
    TuEye camera(std::move(library));
    if (!camera.IsPresent()) {
        err(QStringLiteral("lapidograph-cli: the camera could not be opened"));
        return 1;
    }

    const CalibrationOutcome outcome = CalibrateCamera(laser, camera, settings, systemClock());
    if (!outcome.calibration) {
        err(QStringLiteral("lapidograph-cli: ") + outcome.error);
        return 1;
    }
    for (const QString& line : calibrationReport(*outcome.calibration))
        out(line);
    if (store) {
        if (const auto why = calibrationStoreError(*outcome.calibration)) {
            err(QStringLiteral("lapidograph-cli: ") + *why);
            return 1;
        }
        StoreCameraCalibration(*outcome.calibration, settings, AppRegistry());
        out(QStringLiteral("stored in the settings"));
    } else {
        out(QStringLiteral("not stored (--store writes the results into the settings)"));
    }
    return 0;
}

} // namespace lapido::cli
