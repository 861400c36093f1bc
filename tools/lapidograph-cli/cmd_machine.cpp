// lapidograph-cli machine: the machine object from a terminal, for the service engineer.
#include "cliio.h"
#include "commands.h"
#include "controllerlink.h"

#include "machine/applysettings.h"
#include "machine/laser.h"
#include "machine/lasersource.h"
#include "platform/clock.h"
#include "platform/numfmt.h"
#include "platform/operatordialogs.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "sim/dmcsimulator.h"

#include <cstdio>
#include <optional>

namespace lapido::cli {

namespace {

const QString kUsage = QStringLiteral(
    "usage: machine [--address A] [--echo] OPERATION...\n"
    "  operations, run in the order given:\n"
    "    init | move X Y [Z] | inc AXIS MM | jog AXIS SPEED [SECONDS] | stop | position\n"
    "    | pulse-train COUNT RATE | timed-pulse MS | cam-start XSTART XINTERVAL --heights H0,...,H50 | cam-stop");

// Largest whole number the controller takes as a count, a rate or milliseconds.
constexpr double kMaxWhole = 2147483647;
// A timed jog is a short check of an axis; a day is beyond any of them.
constexpr int kMaxJogSeconds = 86400;

std::optional<double> number(const QString& text)
{
    return StrToFloatPoint(text.toStdString());
}

QString mmText(double v)
{
    return QString::number(v, 'f', 4);
}

void printPosition(TLaser& laser)
{
    double x = 0, y = 0, z = 0, w = 0;
    laser.GetPosition(x, y, z, w);
    out(QStringLiteral("position X=%1 Y=%2 Z=%3 W=%4").arg(mmText(x), mmText(y), mmText(z)).arg(qint64(w)));
}

// Runs one operation starting at args[i]; advances i past it. Returns an exit code, or
// nullopt to go on with the next operation.
std::optional<int> runOperation(TLaser& laser, const QStringList& args, int& i)
{
    const QString op = args.at(i++);
    auto numberArg = [&](const char* what) -> std::optional<double> {
        if (i >= args.size()) {
            err(QStringLiteral("lapidograph-cli: %1 needs %2").arg(op, QLatin1String(what)));
            return std::nullopt;
        }
        const auto v = number(args.at(i));
        if (!v)
            err(QStringLiteral("lapidograph-cli: %1: \"%2\" is not a number (%3)").arg(op, args.at(i), QLatin1String(what)));
        else
            ++i;
        return v;
    };
    auto axisArg = [&]() -> std::optional<QChar> {
        if (i < args.size()) {
            const QString a = args.at(i).toUpper();
            if (a == QLatin1String("X") || a == QLatin1String("Y") || a == QLatin1String("Z")) {
                ++i;
                return a.at(0);
            }
        }
        err(QStringLiteral("lapidograph-cli: %1 needs an axis X, Y or Z").arg(op));
        return std::nullopt;
    };
    auto finishMove = [&]() -> std::optional<int> {
        if (!laser.WaitOnMotionComplete()) {
            err(QStringLiteral("lapidograph-cli: ") + laser.lastError());
            return 1;
        }
        printPosition(laser);
        return std::nullopt;
    };

    if (op == QLatin1String("init")) {
        laser.Initialize();
        if (!laser.Initialized) {
            err(QStringLiteral("lapidograph-cli: the machine was not initialised. ") + laser.lastError());
            return 1;
        }
        printPosition(laser);
        return std::nullopt;
    }
    if (op == QLatin1String("move")) {
        const auto x = numberArg("X");
        const auto y = x ? numberArg("Y") : std::nullopt;
        if (!y)
            return 2;
        if (i < args.size() && number(args.at(i))) {
            laser.MoveTo(*x, *y, *number(args.at(i++)));
        } else {
            laser.MoveTo(*x, *y);
        }
        return finishMove();
    }
    if (op == QLatin1String("inc")) {
        const auto axis = axisArg();
        const auto mm = axis ? numberArg("MM") : std::nullopt;
        if (!mm)
            return 2;
        if (*axis == QLatin1Char('X'))
            laser.IncrementX(*mm);
        else if (*axis == QLatin1Char('Y'))
            laser.IncrementY(*mm);
        else
            laser.IncrementZ(*mm);
        return finishMove();
    }
    if (op == QLatin1String("jog")) {
        const auto axis = axisArg();
        const auto speed = axis ? numberArg("SPEED") : std::nullopt;
        if (!speed)
            return 2;
        std::optional<double> seconds;
        if (i < args.size() && number(args.at(i))) {
            seconds = number(args.at(i++));
            if (*seconds < 0 || *seconds > kMaxJogSeconds) {
                err(QStringLiteral("lapidograph-cli: jog lasts from 0 to %1 seconds, not %2").arg(kMaxJogSeconds).arg(args.at(i - 1)));
                return 2;
            }
        }
        if (*axis == QLatin1Char('X'))
            laser.JogX(*speed);
        else if (*axis == QLatin1Char('Y'))
            laser.JogY(*speed);
        else
            laser.JogZ(*speed);
        if (seconds) {
            systemClock().sleepMs(RoundHalfEven(*seconds * 1000));
        } else {
            err(QStringLiteral("jogging; press Enter to stop"));
            std::getchar();
        }
        laser.Stop();
        return finishMove();
    }
    if (op == QLatin1String("stop")) {
        laser.Stop();
        return finishMove();
    }
    if (op == QLatin1String("position")) {
        printPosition(laser);
        double x = 0, y = 0, z = 0, w = 0;
        laser.GetEncoder(x, y, z, w);
        out(QStringLiteral("encoder X=%1 Y=%2 Z=%3 W=%4").arg(mmText(x), mmText(y), mmText(z)).arg(qint64(w)));
        return std::nullopt;
    }
    if (op == QLatin1String("pulse-train")) {
        const auto shots = numberArg("COUNT");
        const auto rate = shots ? numberArg("RATE") : std::nullopt;
        if (!rate)
            return 2;
        // Both go to the controller as whole numbers of its four-byte range.
        if (*shots < 1 || *rate < 1 || *shots > kMaxWhole || *rate > kMaxWhole) {
            err(QStringLiteral("lapidograph-cli: pulse-train needs a count and a rate of at least 1 and at most %1")
                    .arg(qint64(kMaxWhole)));
            return 2;
        }
        laser.EmitPulseTrain(int(RoundHalfEven(*shots)), int(RoundHalfEven(*rate)));
        if (laser.sequenceFaulted()) {
            err(QStringLiteral("lapidograph-cli: ") + laser.lastError());
            return 1;
        }
        return std::nullopt;
    }
    if (op == QLatin1String("timed-pulse")) {
        const auto ms = numberArg("MS");
        if (!ms)
            return 2;
        if (*ms < 1 || *ms > kMaxWhole) {
            err(QStringLiteral("lapidograph-cli: timed-pulse needs at least 1 ms and at most %1 ms").arg(qint64(kMaxWhole)));
            return 2;
        }
        laser.EmitPulse(int(RoundHalfEven(*ms)));
        return std::nullopt;
    }
    if (op == QLatin1String("cam-start")) {
        const auto start = numberArg("XSTART");
        const auto interval = start ? numberArg("XINTERVAL") : std::nullopt;
        if (!interval)
            return 2;
        if (i + 1 >= args.size() || args.at(i) != QLatin1String("--heights")) {
            err(QStringLiteral("lapidograph-cli: cam-start needs --heights H0,...,H50"));
            return 2;
        }
        const QStringList heights = args.at(i + 1).split(QLatin1Char(','));
        i += 2;
        if (heights.size() != int(laser.Z_ECAMTable.size())) {
            err(QStringLiteral("lapidograph-cli: cam-start needs 51 heights, got %1").arg(heights.size()));
            return 2;
        }
        for (int k = 0; k < heights.size(); ++k) {
            const auto h = number(heights.at(k).trimmed());
            if (!h) {
                err(QStringLiteral("lapidograph-cli: height %1 \"%2\" is not a number").arg(k).arg(heights.at(k)));
                return 2;
            }
            laser.Z_ECAMTable[k] = *h;
        }
        laser.XZ_ECAM_Start(*start, *interval);
        printPosition(laser);
        return std::nullopt;
    }
    if (op == QLatin1String("cam-stop")) {
        laser.XZ_ECAM_Stop();
        return std::nullopt;
    }
    err(QStringLiteral("lapidograph-cli: unknown machine operation \"%1\"").arg(op));
    err(kUsage);
    return 2;
}

} // namespace

int cmdMachine(const QStringList& args)
{
    QString address;
    bool echo = false;
    int i = 0;
    for (; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--address") && i + 1 < args.size())
            address = args.at(++i);
        else if (args.at(i) == QLatin1String("--echo"))
            echo = true;
        else
            break;
    }
    if (i >= args.size())
        return usageError(kUsage);

    // Boxes and waits of the machine appear on the terminal; questions take their default.
    const TerminalDialogs dialogs;

    LoadSettingsFromRegistery();
    TSettings& settings = Settings();
    const QString effectiveAddress = controllerAddress(address);
    // The in-process simulator needs no real time: its moves and waits run at once.
    VirtualClock virtualClock;
    std::optional<ScopedClock> simulatedTime;
    if (isSimulatorAddress(effectiveAddress))
        simulatedTime.emplace(virtualClock);

    const StoredLaserSource source(settings);

    auto laser = std::make_unique<TLaser>(openController(effectiveAddress));
    if (!laser->HardwareFound)
        return 1;
    // Each call of the tool is one step of a service session: the machine stays as it is
    // (motors on, position held) for the next call instead of being shut down; only the laser
    // is switched off, whatever its switch-off delay, on every way out.
    struct LaserOffAtExit {
        TLaser& laser;
        ~LaserOffAtExit()
        {
            laser.laserOff();
            laser.HardwareFound = false;
        }
    } laserOffAtExit{*laser};
    if (echo) {
        laser->ShowDMCCmd = true;
        laser->setEchoHook([](EchoLine kind, const std::string& text) {
            out((kind == EchoLine::Command ? QStringLiteral("> ") : QStringLiteral("< ")) + QString::fromLatin1(text));
        });
    }
    if (const auto error = ApplyMotionSettings(settings, *laser)) {
        err(QStringLiteral("lapidograph-cli: ") + *error);
        laser->HardwareFound = false; // nothing more is sent, not even the shut-down
        return 1;
    }

    int code = 0;
    while (i < args.size()) {
        if (const auto result = runOperation(*laser, args, i)) {
            code = *result;
            break;
        }
    }
    if (simulatedTime)
        out(QStringLiteral("simulator marks: %1").arg(currentDmcSimulator()->markCount()));
    return code;
}

} // namespace lapido::cli
