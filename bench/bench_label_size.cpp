// What a label's size costs, at one size and at ten times it: `check`, `mark --preview` and
// `render` of a label of N characters and of a logo of N drawing objects, as processes under
// GNU time (processor time and peak memory, with the growth of each), and the window's cost at rest: one video tick of the
// overlay over the loaded label, drawn anew and as the window draws it at rest (its outlines
// copied), in milliseconds of processor time per tick and as a share of one core at the
// station's refresh (Video/VideoRefresh, 40 ms). Last, the real station's share of a core at
// rest with each of the four labels loaded and its preview on, measured on a virtual display by
// bench/station_at_rest.sh (utime + stime of the process over a few seconds); --no-station
// leaves it out.
//
// Usage: bench_label_size [--cli PATH] [--chars N] [--objects N] [--keep DIR] [--no-station]
//   PATH: lapidograph-cli (default: beside this program). N: the smaller size (default 300
//   characters, so that ten times as many still fit the work area at a size the laser resolves;
//   2000 objects). A command that fails prints FAILED with its exit code.
#include "camera/videooverlay.h"
#include "geometry/cadonpaintbox.h"
#include "glyphs/glyph.h"
#include "platform/operatordialogs.h"
#include "platform/settingsstore.h"
#include "platform/stationglobals.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "workflow/station.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

using namespace lapido;

namespace {

struct Cost {
    int exitCode = 0;
    double cpuSeconds = 0;
    double wallSeconds = 0;
    long peakKb = 0;
};

double now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// One run of the command line under GNU time, which reports the command's own processor time and
// peak memory (a child spawned from this larger process would inherit its high-water mark).
std::optional<Cost> run(const QStringList& args, const QString& folder)
{
    const QString report = QDir(folder).filePath(QStringLiteral("time.txt"));
    QStringList line{QStringLiteral("/usr/bin/time"), QStringLiteral("-f"), QStringLiteral("%x %U %S %M"),
                     QStringLiteral("-o"), report};
    line += args;
    std::vector<std::string> storage;
    for (const QString& a : line)
        storage.push_back(a.toStdString());
    std::vector<char*> argv;
    for (std::string& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const double start = now();
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return std::nullopt;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return std::nullopt;
    QFile f(report);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QList<QByteArray> fields = f.readAll().trimmed().split('\n').last().split(' ');
    if (fields.size() != 4)
        return std::nullopt;
    Cost c;
    c.wallSeconds = now() - start;
    c.exitCode = fields[0].toInt();
    c.cpuSeconds = fields[1].toDouble() + fields[2].toDouble();
    c.peakKb = fields[3].toLong();
    return c;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// One text of n stroke-font characters on a girdle of 0.013 mm: characters just above what a
// 10 um spot resolves, so that a few thousand fit the work area.
QByteArray textLabel(int n)
{
    static const char kText[] = "LG 1407 AB 2025 X9QZ";
    QByteArray text;
    while (text.size() < n)
        text += kText;
    text.truncate(n);
    return "<tree2xml app=\"lapidograph\"><item text=\"Label\" imageIndex=\"-1\" stateIndex=\"-1\" "
           "Girdleheight=\"0.013\" SlantAngle=\"0.0\" type=\"TGlyphWideString\" textLabel=\""
           + text + "\" fontName=\"ROMANS\" textHeight=\"0.8\" textOffset=\"0\" textSpacing=\"0.1\"/></tree2xml>\n";
}

QByteArray logoLabel(const QString& file)
{
    return "<tree2xml app=\"lapidograph\"><item text=\"Logo\" imageIndex=\"-1\" stateIndex=\"-1\" Girdleheight=\"0.5\" "
           "SlantAngle=\"0.0\" type=\"TGlyphLogo\" logoFileName=\""
           + file.toUtf8() + "\" logoHeight=\"0.8\" logoOffset=\"0\"/></tree2xml>\n";
}

// A drawing of n objects: closed outlines of lines and arcs in a square grid.
bool writeDrawing(const QString& path, int objects)
{
    TCADOnPaintBox drawing;
    const int columns = int(std::ceil(std::sqrt(objects / 4.0)));
    for (int shape = 0; shape * 4 < objects; ++shape) {
        const double x0 = (shape % columns) * 3.0, y0 = (shape / columns) * 3.0;
        const TCoord c[4] = {{x0, y0}, {x0 + 2, y0}, {x0 + 2, y0 + 2}, {x0, y0 + 2}};
        for (int k = 0; k < 4 && shape * 4 + k < objects; ++k) {
            if (k == 1)
                TCADArc::Create(drawing, c[k], c[(k + 1) % 4], std::numbers::pi / 3);
            else
                TCADLine::Create(drawing, c[k], c[(k + 1) % 4]);
        }
    }
    return drawing.SaveToFile(path);
}

void report(const char* what, const char* unit, long n, const std::optional<Cost>& a, const std::optional<Cost>& b)
{
    // check exits 1 with legibility findings; anything else is a failed run.
    const auto failed = [](const std::optional<Cost>& c) { return !c || c->exitCode > 1; };
    if (failed(a) || failed(b)) {
        std::printf("%-30s FAILED (exit codes %d and %d)\n", what, a ? a->exitCode : -1, b ? b->exitCode : -1);
        return;
    }
    std::printf("%-30s %7ld %-7s %7.3f s %7ld KB   %8ld %-7s %7.3f s %7ld KB   growth time %5.1fx, memory above"
                " the first %5.1f KB per %s\n",
                what, n, unit, a->cpuSeconds, a->peakKb, n * 10, unit, b->cpuSeconds, b->peakKb,
                b->cpuSeconds / std::max(a->cpuSeconds, 1e-3), double(b->peakKb - a->peakKb) / double(9 * n),
                unit);
    std::fflush(stdout);
}

double processSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Processor milliseconds per video tick over the label, drawn anew each time (no layer) and as
// the window draws it at rest.
std::pair<double, double> tickCost(const QString& folder, const QByteArray& label, int ticks = 40)
{
    setAppRegistry(SettingsStore::open(QDir(folder).filePath(QStringLiteral("station.db"))));
    ScriptedDialogs dialogs;
    OperatorDialogs* previous = setOperatorDialogs(&dialogs);
    setWorkingDir(folder + QLatin1Char('/'));
    LoadSettingsFromRegistery();
    std::pair<double, double> result{-1, -1};
    {
        TStation station;
        QString error;
        if (station.XML2TreeFromBytes(label, &error)) {
            const TSettings& s = Settings();
            station.AxisPosition_X = station.MarkingReference_X = s.StartUp_X;
            station.AxisPosition_Y = station.MarkingReference_Y = s.StartUp_Y;
            station.SetAIMSState(TAIMState::aimsAligning);
            station.ShowOverlay = true;
            TVideoTransform camera;
            camera.UpdateVideoTransform(Settings(), false);
            QImage buffer(kVideoBufferWidth, kVideoBufferHeight, QImage::Format_RGB32);
            TLabelLayer layer;
            VideoTimerTick(buffer, nullptr, station, camera, Settings(), buffer.size(), &layer);
            for (int k = 0; k < 2; ++k) {
                const double t0 = processSeconds();
                for (int i = 0; i < ticks; ++i)
                    VideoTimerTick(buffer, nullptr, station, camera, Settings(), buffer.size(), k ? &layer : nullptr);
                (k ? result.second : result.first) = (processSeconds() - t0) * 1000 / ticks;
            }
        } else {
            std::fprintf(stderr, "bench_label_size: %s\n", qPrintable(error));
        }
    }
    setOperatorDialogs(previous);
    resetStationGlobals();
    setAppRegistry(nullptr);
    return result;
}

void reportTicks(const char* what, const char* unit, long n, std::pair<double, double> a, std::pair<double, double> b)
{
    const double refresh = 40; // ms, the station's default video refresh
    std::printf("%-30s %7ld %-7s drawn %7.3f ms, at rest %7.3f ms (%4.1f%% of a core)   %8ld %-7s drawn %7.3f ms, "
                "at rest %7.3f ms (%4.1f%% of a core)   growth at rest %4.1fx\n",
                what, n, unit, a.first, a.second, 100 * a.second / refresh, n * 10, unit, b.first, b.second,
                100 * b.second / refresh, b.second / std::max(a.second, 1e-6));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QString cli = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("lapidograph-cli"));
    long chars = 300, objects = 2000;
    QString keep;
    bool station = true;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--cli") && i + 1 < args.size())
            cli = args[++i];
        else if (args[i] == QLatin1String("--chars") && i + 1 < args.size())
            chars = std::max(1L, args[++i].toLong());
        else if (args[i] == QLatin1String("--objects") && i + 1 < args.size())
            objects = std::max(4L, args[++i].toLong());
        else if (args[i] == QLatin1String("--keep") && i + 1 < args.size())
            keep = args[++i];
        else if (args[i] == QLatin1String("--no-station"))
            station = false;
        else {
            std::fprintf(stderr, "usage: bench_label_size [--cli PATH] [--chars N] [--objects N] [--keep DIR] "
                                 "[--no-station]\n");
            return 2;
        }
    }
    QTemporaryDir scratch;
    const QString folder = keep.isEmpty() ? scratch.path() : QDir(keep).absolutePath();
    QDir().mkpath(folder + QStringLiteral("/Logos"));
    qputenv("LAPIDOGRAPH_SETTINGS", QFile::encodeName(QDir(folder).filePath(QStringLiteral("settings.db"))));

    QString text[2], logo[2];
    QByteArray textXml[2], logoXml[2];
    for (int k = 0; k < 2; ++k) {
        const long n = chars * (k ? 10 : 1), m = objects * (k ? 10 : 1);
        textXml[k] = textLabel(int(n));
        text[k] = QDir(folder).filePath(QStringLiteral("text%1.xml").arg(n));
        const QString drawing = QStringLiteral("logo%1.lal").arg(m);
        if (!writeDrawing(QDir(folder).filePath(QStringLiteral("Logos/") + drawing), int(m)))
            return 1;
        logoXml[k] = logoLabel(drawing);
        logo[k] = QDir(folder).filePath(QStringLiteral("logo%1.xml").arg(m));
        if (!writeFile(text[k], textXml[k]) || !writeFile(logo[k], logoXml[k]))
            return 1;
    }
    std::printf("%-30s %-37s %-37s\n", "command", "one size: processor time, peak memory", "ten times that size");
    const QString out = QDir(folder).filePath(QStringLiteral("out"));
    const struct {
        const char* what;
        QStringList args;
    } commands[] = {
        {"check", {QStringLiteral("check")}},
        {"mark --preview", {QStringLiteral("mark"), QStringLiteral("--preview"), QStringLiteral("--out"), out}},
        {"render", {QStringLiteral("render")}},
    };
    for (const auto& c : commands) {
        for (int kind = 0; kind < 2; ++kind) {
            std::optional<Cost> cost[2];
            for (int k = 0; k < 2; ++k) {
                const QString label = kind ? logo[k] : text[k];
                QStringList line = QStringList{cli} + c.args;
                if (c.args.first() == QLatin1String("render"))
                    line << label << QDir(folder).filePath(QStringLiteral("render.png"));
                else if (c.args.size() > 1)
                    line.insert(3, label);
                else
                    line << label;
                cost[k] = run(line, folder);
            }
            const std::string what = std::string(c.what) + (kind ? " (logo)" : " (text)");
            report(what.c_str(), kind ? "objects" : "chars", kind ? objects : chars, cost[0], cost[1]);
        }
    }
    reportTicks("window tick (text)", "chars", chars, tickCost(folder, textXml[0]), tickCost(folder, textXml[1]));
    reportTicks("window tick (logo)", "objects", objects, tickCost(folder, logoXml[0]), tickCost(folder, logoXml[1]));
#ifdef LAPIDO_STATION_AT_REST
    if (station) {
        std::printf("\nthe station at rest, preview on (bench/station_at_rest.sh):\n");
        std::fflush(stdout);
        QProcess rest;
        rest.setProcessChannelMode(QProcess::ForwardedChannels);
        rest.start(QStringLiteral("bash"),
                   {QStringLiteral(LAPIDO_STATION_AT_REST), QStringLiteral("--station"),
                    QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("lapidograph")),
                    QStringLiteral("--preview"), text[0], text[1], logo[0], logo[1]});
        if (!rest.waitForFinished(-1) || rest.exitCode() != 0)
            std::printf("station at rest: FAILED (exit code %d)\n", rest.exitCode());
    }
#else
    Q_UNUSED(station);
#endif
    return 0;
}
