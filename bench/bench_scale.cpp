// What a user waits for, at one size and at ten times that size: whole commands (DXF import to a
// drawing file, the outline of a drawing, marking a label on the simulated machine) as
// processes, and a logo loading its drawing and a template import in the station's own code.
// Each line prints both times and their growth factor; the goal is 10x the input in at most 12x
// the time, so that nothing grows quadratically with the size of a drawing or a label. The
// growth is taken from processor time (user and system, of the command's process or of this
// one), which a busy machine disturbs far less than the wall-clock time also shown.
//
// Usage: bench_scale [--cli PATH] [--runs N] [--only NAME] [--keep DIR]
//   PATH: lapidograph-cli (default: beside this program); bench_geometry must be beside this
//   program too (it writes the test DXF). Each time is the best of N runs (default 3). With
//   --keep the inputs and outputs stay in DIR (for a profiler), else in a scratch folder.
#include "geometry/cadonpaintbox.h"
#include "glyphs/glyphoutline.h"
#include "platform/clock.h"
#include "platform/operatordialogs.h"
#include "platform/settingsstore.h"
#include "platform/stationglobals.h"
#include "records/stlogfile.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "workflow/station.h"
#include "workflow/templatelist.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <cstdio>
#include <functional>
#include <limits>
#include <numbers>
#include <optional>

using namespace lapido;

namespace {

constexpr double kGoal = 12.0;

struct Options {
    QString cli;
    QString geometryBench;
    int runs = 3;
    QString only;
    QString keep;
};

struct Timing {
    double wall = 0; // seconds
    double cpu = 0;  // seconds of processor time
};

double seconds(const timeval& t)
{
    return double(t.tv_sec) + double(t.tv_usec) * 1e-6;
}

// Processor time of this process (to the nanosecond) and of its children that have ended.
double cpuSeconds()
{
    timespec self{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &self);
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    return double(self.tv_sec) + double(self.tv_nsec) * 1e-9 + seconds(children.ru_utime) + seconds(children.ru_stime);
}

// Best times of several runs; nullopt when a run failed.
std::optional<Timing> bestOf(int runs, const std::function<bool()>& run)
{
    Timing best{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()};
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        const double cpu0 = cpuSeconds();
        timer.start();
        if (!run())
            return std::nullopt;
        best.wall = std::min(best.wall, double(timer.nsecsElapsed()) * 1e-9);
        best.cpu = std::min(best.cpu, cpuSeconds() - cpu0);
    }
    return best;
}

bool g_allWithinGoal = true;

void report(const char* what, const char* unit, long small, std::optional<Timing> t1, std::optional<Timing> t10)
{
    if (!t1 || !t10) {
        std::printf("%-34s FAILED (see above)\n", what);
        g_allWithinGoal = false;
        return;
    }
    const double growth = t10->cpu / std::max(t1->cpu, 1e-6);
    const double wallGrowth = t10->wall / std::max(t1->wall, 1e-6);
    const bool ok = growth <= kGoal;
    g_allWithinGoal = g_allWithinGoal && ok;
    std::printf("%-34s %7ld %-8s %8.3f s (%7.3f s)  %8ld %-8s %8.3f s (%7.3f s)  growth %5.1fx (wall %5.1fx) %s\n",
                what, small, unit, t1->cpu, t1->wall, small * 10, unit, t10->cpu, t10->wall, growth, wallGrowth,
                ok ? "within 12x" : "ABOVE THE GOAL OF 12x");
    std::fflush(stdout);
}

// Runs one command line of the program in the scratch folder with a scratch settings store.
class CliRunner {
public:
    CliRunner(QString program, const QString& folder) : m_program(std::move(program)), m_folder(folder)
    {
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(QStringLiteral("LAPIDOGRAPH_SETTINGS"), QDir(folder).filePath(QStringLiteral("settings.db")));
        m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), folder);
        m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }

    bool run(const QStringList& args) const
    {
        QProcess p;
        p.setProcessEnvironment(m_env);
        p.setWorkingDirectory(m_folder);
        p.setProgram(m_program);
        p.setArguments(args);
        p.start();
        if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            std::fprintf(stderr, "bench_scale: %s %s failed (exit %d): %s%s\n", qPrintable(m_program),
                         qPrintable(args.join(QLatin1Char(' '))), p.exitCode(),
                         p.readAllStandardError().constData(), qPrintable(p.errorString()));
            return false;
        }
        return true;
    }

private:
    QString m_program;
    QString m_folder;
    QProcessEnvironment m_env;
};

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A label of the given number of stroke-font characters in items of 20, small enough (girdle
// 0.02 mm) for a thousand to fit in the work area.
QByteArray labelXml(int glyphs)
{
    QByteArray xml = "<tree2xml app=\"lapidograph\">\n";
    static const char kText[] = "LG 1407 AB 2025 X9QZ";
    for (int done = 0; done < glyphs; done += 20) {
        const QByteArray text = QByteArray(kText).left(std::min(20, glyphs - done));
        xml += "  <item text=\"Text &quot;" + text + "&quot;\" imageIndex=\"-1\" stateIndex=\"-1\" "
               "Girdleheight=\"0.02\" SlantAngle=\"0.0\" type=\"TGlyphWideString\" textLabel=\"" + text
               + "\" fontName=\"ROMANS\" textHeight=\"0.8\" textOffset=\"0\" textSpacing=\"0.1\"/>\n";
    }
    xml += "</tree2xml>\n";
    return xml;
}

// A logo-like drawing of the given number of objects: closed outlines of eight lines and arcs
// in a row, each written in a scrambled order and direction as drawings made by hand are.
bool writeLogoDrawing(const QString& path, int objects)
{
    TCADOnPaintBox drawing;
    const double pi = std::numbers::pi;
    for (int shape = 0; shape * 8 < objects; ++shape) {
        const double x0 = shape * 3.0;
        const TCoord c[8] = {{x0, 0}, {x0 + 1, 0}, {x0 + 2, 0}, {x0 + 2, 1}, {x0 + 2, 2}, {x0 + 1, 2}, {x0, 2}, {x0, 1}};
        for (int k = 0; k < 8 && shape * 8 + k < objects; ++k) {
            const int i = (k * 5) % 8; // scrambled order
            const TCoord a = c[i], b = c[(i + 1) % 8];
            if (i % 4 == 1)
                TCADArc::Create(drawing, k % 2 ? b : a, k % 2 ? a : b, (k % 2 ? -1 : 1) * pi / 3);
            else
                TCADLine::Create(drawing, k % 2 ? b : a, k % 2 ? a : b);
        }
    }
    return drawing.SaveToFile(path);
}

// The station's own code needs a settings store, a working folder and no questions.
class StationScope {
public:
    explicit StationScope(const QString& folder)
    {
        setAppRegistry(SettingsStore::open(QDir(folder).filePath(QStringLiteral("station.db"))));
        m_previousDialogs = setOperatorDialogs(&m_dialogs);
        setWorkingDir(folder + QLatin1Char('/'));
        keys::write(keys::WorkingDir, folder + QLatin1Char('/'));
        LoadSettingsFromRegistery();
    }
    ~StationScope()
    {
        setOperatorDialogs(m_previousDialogs);
        resetStationGlobals();
        setAppRegistry(nullptr);
    }
    StationScope(const StationScope&) = delete;
    StationScope& operator=(const StationScope&) = delete;

private:
    ScriptedDialogs m_dialogs;
    OperatorDialogs* m_previousDialogs = nullptr;
};

void benchDxf2LalAndOutline(const Options& o, const QString& folder)
{
    const CliRunner cli(o.cli, folder);
    const CliRunner geometry(o.geometryBench, folder);
    // About three drawing objects an entity: ten times this many stay within what a drawing may
    // hold (kMaxDrawingObjects).
    constexpr long kEntities = 1500;
    std::optional<Timing> dxf[2], outline[2];
    for (int k = 0; k < 2; ++k) {
        const long n = kEntities * (k ? 10 : 1);
        const QString in = QStringLiteral("in%1.dxf").arg(n), out = QStringLiteral("out%1.lal").arg(n);
        if (!geometry.run({QStringLiteral("--write-dxf"), in, QString::number(n)}))
            return;
        if (o.only.isEmpty() || o.only == QLatin1String("dxf2lal"))
            dxf[k] = bestOf(o.runs, [&] { return cli.run({QStringLiteral("dxf2lal"), in, out}); });
        else
            cli.run({QStringLiteral("dxf2lal"), in, out});
        if (o.only.isEmpty() || o.only == QLatin1String("outline"))
            outline[k] = bestOf(o.runs, [&] { return cli.run({QStringLiteral("outline"), QStringLiteral("--drawing"), out}); });
    }
    if (o.only.isEmpty() || o.only == QLatin1String("dxf2lal"))
        report("dxf2lal IN.dxf OUT.lal", "entities", kEntities, dxf[0], dxf[1]);
    if (o.only.isEmpty() || o.only == QLatin1String("outline"))
        report("outline --drawing OUT.lal", "entities", kEntities, outline[0], outline[1]);
}

void benchLogo(const Options& o, const QString& folder)
{
    StationScope scope(folder);
    constexpr long kObjects = 2000;
    QString paths[2];
    for (int k = 0; k < 2; ++k) {
        const long n = kObjects * (k ? 10 : 1);
        paths[k] = QDir(folder).filePath(QStringLiteral("logo%1.lal").arg(n));
        if (!writeLogoDrawing(paths[k], int(n)))
            return;
    }
    std::optional<Timing> t[2];
    for (int k = 0; k < 2; ++k) {
        t[k] = bestOf(o.runs, [&] {
            TGlyphLogo logo(nullptr, nullptr, paths[k], 0.8, 0);
            return logo.ContourList->Count() > 0;
        });
    }
    report("logo glyph loading its drawing", "objects", kObjects, t[0], t[1]);
}

void benchTemplateImport(const Options& o, const QString& folder)
{
    StationScope scope(folder);
    constexpr long kGlyphs = 1000;
    std::optional<Timing> t[2];
    for (int k = 0; k < 2; ++k) {
        const long n = kGlyphs * (k ? 10 : 1);
        const QString name = QStringLiteral("label%1").arg(n);
        TTemplateList templates;
        if (!writeFile(templates.filesDir() + name + QStringLiteral(".xml"), labelXml(int(n))))
            return;
        FileLogger trace(folder);
        TStationServices services;
        services.logger = &trace;
        TStation station(std::move(services));
        t[k] = bestOf(o.runs, [&] {
            TTemplateList list;
            QString error;
            if (!list.ImportTemplate(name) || !station.XML2Tree(list.GetTemplate(list.Count() - 1), &error)) {
                std::fprintf(stderr, "bench_scale: template %s: %s\n", qPrintable(name), qPrintable(error));
                return false;
            }
            return true;
        });
    }
    report("template import into the label", "glyphs", kGlyphs, t[0], t[1]);
}

void benchMark(const Options& o, const QString& folder)
{
    const CliRunner cli(o.cli, folder);
    constexpr long kGlyphs = 100;
    std::optional<Timing> t[2];
    for (int k = 0; k < 2; ++k) {
        const long n = kGlyphs * (k ? 10 : 1);
        const QString label = QDir(folder).filePath(QStringLiteral("label%1.xml").arg(n));
        if (!writeFile(label, labelXml(int(n))))
            return;
        const QString out = QDir(folder).filePath(QStringLiteral("mark%1").arg(n));
        t[k] = bestOf(o.runs, [&] { return cli.run({QStringLiteral("mark"), label, QStringLiteral("--out"), out}); });
    }
    report("mark LABEL.xml (simulated machine)", "glyphs", kGlyphs, t[0], t[1]);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Options o;
    const QDir here(QCoreApplication::applicationDirPath());
    o.cli = here.filePath(QStringLiteral("lapidograph-cli"));
    o.geometryBench = here.filePath(QStringLiteral("bench_geometry"));
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--cli") && i + 1 < args.size())
            o.cli = args[++i];
        else if (args[i] == QLatin1String("--runs") && i + 1 < args.size())
            o.runs = std::max(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--only") && i + 1 < args.size())
            o.only = args[++i];
        else if (args[i] == QLatin1String("--keep") && i + 1 < args.size())
            o.keep = args[++i];
        else {
            std::fprintf(stderr, "usage: bench_scale [--cli PATH] [--runs N] [--only dxf2lal|outline|logo|template|mark] "
                                 "[--keep DIR]\n");
            return 2;
        }
    }
    QTemporaryDir scratch;
    const QString folder = o.keep.isEmpty() ? scratch.path() : QDir(o.keep).absolutePath();
    if ((o.keep.isEmpty() && !scratch.isValid()) || !QDir().mkpath(folder)) {
        std::fprintf(stderr, "bench_scale: no folder to work in\n");
        return 1;
    }
    std::printf("%-34s %-37s  %-37s\n", "what the user waits for", "one size: processor (wall) time",
                "ten times that size");
    if (o.only.isEmpty() || o.only == QLatin1String("dxf2lal") || o.only == QLatin1String("outline"))
        benchDxf2LalAndOutline(o, folder);
    if (o.only.isEmpty() || o.only == QLatin1String("logo"))
        benchLogo(o, folder);
    if (o.only.isEmpty() || o.only == QLatin1String("template"))
        benchTemplateImport(o, folder);
    if (o.only.isEmpty() || o.only == QLatin1String("mark"))
        benchMark(o, folder);
    return g_allWithinGoal ? 0 : 1;
}
