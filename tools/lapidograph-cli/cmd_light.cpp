// lapidograph-cli light and light-sim: terminal access to the ring light and its simulator.
#include "cliio.h"
#include "commands.h"

#include "peripherals/ledsrgb.h"
#include "platform/operatordialogs.h"
#include "sim/lightsimulator.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

namespace lapido::cli {

namespace {

const char kLightUsage[] =
    "usage: light [--port P] identify | colors | set PATTERN | rotate + | rotate - [--direct] | "
    "load-template NAME | save-template NAME";

// The light's error boxes become lines on standard error.
class StderrDialogs {
public:
    StderrDialogs() : m_previous(setOperatorDialogs(&m_dialogs))
    {
        m_dialogs.onEntry = [](const ScriptedDialogs::Entry& e) {
            QString text = e.text;
            err(text.replace(QStringLiteral("\r\n"), QStringLiteral(" ")));
        };
    }
    ~StderrDialogs() { setOperatorDialogs(m_previous); }

private:
    ScriptedDialogs m_dialogs;
    OperatorDialogs* m_previous;
};

bool readColours(TLedsRGB& light)
{
    if (light.LoadLedsColor())
        return true;
    err(QStringLiteral("lapidograph-cli: the light did not report its colours"));
    return false;
}

void printColours(const TLedsRGB& light)
{
    for (const QString& entry : light.GetLedsColor())
        out(entry);
}

// A pattern typed by hand: exactly one well-formed entry per LED.
std::optional<QStringList> checkedPattern(const QString& text)
{
    const QStringList entries = splitLedPattern(text);
    if (entries.size() != LightSimulator::kLeds) {
        err(QStringLiteral("lapidograph-cli: the pattern needs %1 entries \"i#r#g#b#\" each followed by \"@\", it has %2")
                .arg(LightSimulator::kLeds)
                .arg(entries.size()));
        return std::nullopt;
    }
    for (const QString& e : entries)
        if (!parseLedEntry(e)) {
            err(QStringLiteral("lapidograph-cli: \"%1\" is not an entry \"index#red#green#blue#\" with colours 0 to 255").arg(e));
            return std::nullopt;
        }
    return entries;
}

std::atomic<bool> g_stopSimulator{false};

extern "C" void stopSimulator(int)
{
    g_stopSimulator = true;
}

} // namespace

int cmdLight(const QStringList& argsIn)
{
    QStringList args = argsIn;
    QString port;
    bool direct = false;
    for (int i = 0; i < args.size();) {
        if (args.at(i) == QLatin1String("--port")) {
            if (i + 1 >= args.size())
                return usageError(QStringLiteral("--port needs a port name (COM8 or a device path)"));
            port = args.at(i + 1);
            args.remove(i, 2);
        } else if (args.at(i) == QLatin1String("--direct")) {
            direct = true;
            args.remove(i);
        } else {
            ++i;
        }
    }
    if (args.isEmpty())
        return usageError(QString::fromLatin1(kLightUsage));
    const QString sub = args.at(0);
    const bool takesWord = sub == QLatin1String("set") || sub == QLatin1String("rotate")
        || sub == QLatin1String("load-template") || sub == QLatin1String("save-template");
    const bool known = takesWord || sub == QLatin1String("identify") || sub == QLatin1String("colors");
    if (!known || args.size() != (takesWord ? 2 : 1))
        return usageError(QString::fromLatin1(kLightUsage));
    if (sub == QLatin1String("rotate") && args.at(1) != QLatin1String("+") && args.at(1) != QLatin1String("-"))
        return usageError(QStringLiteral("rotate takes + or -"));
    std::optional<QStringList> pattern;
    if (sub == QLatin1String("set") && !(pattern = checkedPattern(args.at(1))))
        return 2;

    StderrDialogs dialogs;
    TLedsRGB light;
    light.setPortOverride(port);
    light.connect();
    if (!light.IsConnected())
        return 1;

    if (sub == QLatin1String("identify")) {
        out(light.identity());
        return 0;
    }
    if (sub == QLatin1String("colors")) {
        if (!readColours(light))
            return 1;
        printColours(light);
        return 0;
    }
    if (sub == QLatin1String("set")) {
        light.setLedsColors(*pattern);
        light.ApplyLedsColor();
        printColours(light);
        return 0;
    }
    if (sub == QLatin1String("rotate")) {
        const bool plus = args.at(1) == QLatin1String("+");
        if (direct) {
            plus ? light.DirectRotatePlus() : light.DirectRotateMoins();
            return 0;
        }
        if (!readColours(light))
            return 1;
        plus ? light.RotatePlus() : light.RotateMoins();
        printColours(light);
        return 0;
    }
    if (sub == QLatin1String("load-template")) {
        light.LoadLedsTemplate(args.at(1));
        printColours(light);
        return 0;
    }
    // save-template: what the light shows now becomes the template.
    if (!readColours(light))
        return 1;
    if (light.GetLedsColor().isEmpty()) {
        err(QStringLiteral("lapidograph-cli: the light reported no colours; nothing saved"));
        return 1;
    }
    light.SaveLedsTemplate(args.at(1));
    printColours(light);
    return 0;
}

int cmdLightSim(const QStringList& args)
{
    LightSimulator sim;
    if (args.size() == 2 && args.at(0) == QLatin1String("--fault")) {
        const auto fault = LightSimulator::faultFromName(args.at(1));
        if (!fault)
            return usageError(QStringLiteral("--fault takes none, silent, garbage, other or endless"));
        sim.setFault(*fault);
    } else if (!args.isEmpty()) {
        return usageError(QStringLiteral("usage: light-sim [--fault none|silent|garbage|other|endless]"));
    }
    QString why;
    if (!sim.start(&why)) {
        err(QStringLiteral("lapidograph-cli: cannot open a pseudo-terminal: ") + why);
        return 1;
    }
    // The first line is the port to configure (Hardware/ArdlightCOMnb or --port); then every
    // command the simulated controller hears, until the program is interrupted.
    out(sim.portName());
    std::fflush(stdout);
    sim.setCommandObserver([](const QString& command) {
        out(QStringLiteral("> ") + command);
        std::fflush(stdout);
    });
    std::signal(SIGINT, stopSimulator);
    std::signal(SIGTERM, stopSimulator);
    while (!g_stopSimulator)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    sim.stop();
    return 0;
}

} // namespace lapido::cli
