// The marking preview's two goals. (1) Its estimate against the measured duration of the same
// run: every example label marked by lapidograph-cli on lapidograph-dmcsim over TCP in real
// time, where the run measures its link's round trip once and records "Time: estimated E s,
// measured M s" in its trace; the goal is E within 3 % of M. (2) The time to compute a preview
// of a 20-character label (goal under 100 ms), and of ten times that label with the growth
// factor (goal: at most 12x).
//
// Usage: bench_preview [--cli PATH] [--dmcsim PATH] [--runs N] [--only estimate|compute]
//                      [--label NAME.xml]
//   PATH: the programs (default: beside this program). The computing times are the best of N
//   runs (default 5). The estimates take the labels' own marking time in real time (minutes).
#include "glyphs/glyph.h"
#include "glyphs/richstring.h"
#include "platform/operatordialogs.h"
#include "platform/settingsstore.h"
#include "platform/stationglobals.h"
#include "settings/settingsrecord.h"
#include "workflow/markingpreview.h"
#include "workflow/station.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

namespace {

using namespace lapido;

constexpr double kEstimateGoalPercent = 3.0;
constexpr double kComputeGoalMs = 100.0;
constexpr double kGrowthGoal = 12.0;

struct Options {
    QString cli, dmcsim, only, label;
    int runs = 5;
};

struct Example {
    const char* file;
    QStringList extra;
};

const Example kExamples[] = {
    {"text-stroke.xml", {}},
    {"text-truetype.xml", {}},
    {"logo.xml", {}},
    {"photo.xml", {}},
    {"curved-girdle.xml", {"--teach-left", "14,12.48", "--teach-right", "16,12.49"}},
};

bool g_allWithinGoal = true;

QString readText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// The controller simulator as its own process on a free port, on real time.
class ControllerServer {
public:
    explicit ControllerServer(const QString& program)
    {
        m_process.start(program, {"--port", "0"});
        if (!m_process.waitForStarted(10000))
            return;
        QString banner;
        for (int i = 0; i < 100 && !banner.contains(QLatin1Char('\n')); ++i) {
            m_process.waitForReadyRead(100);
            banner += QString::fromUtf8(m_process.readAllStandardOutput());
        }
        m_port = banner.section(QStringLiteral("port "), 1).trimmed();
    }
    ~ControllerServer()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    const QString& port() const { return m_port; }

private:
    QProcess m_process;
    QString m_port;
};

void benchEstimates(const Options& o, const QString& folder)
{
    ControllerServer server(o.dmcsim);
    if (server.port().isEmpty()) {
        std::fprintf(stderr, "bench_preview: %s did not start\n", qPrintable(o.dmcsim));
        g_allWithinGoal = false;
        return;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LAPIDOGRAPH_SETTINGS"), QDir(folder).filePath(QStringLiteral("settings.db")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), folder);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const QDir examples(QStringLiteral(LAPIDO_EXAMPLES_DIR));
    static const QRegularExpression timeLine(QStringLiteral("\r\nTime: estimated ([0-9.]+) s, measured ([0-9.]+) s\r\n"));

    std::printf("%-20s %12s %12s %9s\n", "label (TCP, real time)", "estimated", "measured", "error");
    for (const Example& e : kExamples) {
        const QString name = QString::fromLatin1(e.file);
        if (!o.label.isEmpty() && o.label != name)
            continue;
        const QString out = QDir(folder).filePath(name.section(QLatin1Char('.'), 0, 0));
        QDir(out).removeRecursively();
        QProcess p;
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(folder);
        p.start(o.cli, QStringList{"mark", examples.filePath(name), "--address", "127.0.0.1:" + server.port(), "--out", out}
                           + e.extra);
        const bool finished = p.waitForFinished(30 * 60 * 1000);
        const auto m = timeLine.match(readText(QDir(out).filePath(QStringLiteral("LATrace"))));
        if (!finished || p.exitCode() != 0 || !m.hasMatch()) {
            std::printf("%-20s FAILED (exit %d): %s\n", e.file, p.exitCode(),
                        qPrintable(QString::fromUtf8(p.readAllStandardError()).trimmed()));
            g_allWithinGoal = false;
            continue;
        }
        const double estimated = m.captured(1).toDouble(), measured = m.captured(2).toDouble();
        const double error = 100.0 * (estimated - measured) / std::max(measured, 1e-9);
        const bool ok = std::fabs(error) <= kEstimateGoalPercent;
        g_allWithinGoal = g_allWithinGoal && ok;
        std::printf("%-20s %10.3f s %10.3f s %+8.2f %% %s\n", e.file, estimated, measured, error,
                    ok ? "within 3 %" : "OUTSIDE THE GOAL OF 3 %");
        std::fflush(stdout);
    }
}

// The best of runs previews of a label of `characters` characters, in milliseconds.
std::optional<double> previewMs(int characters, const QString& font, int runs)
{
    TStation station;
    TLabelTree& tree = station.TreeViewGlyphs();
    TTreeNode* node = tree.Add(QStringLiteral("Label"));
    auto& label = TGlyph::CreateFor<TGlyphRichString>(&tree, node, nullptr, 0.8, 0.0, 0.1);
    const QString text = QStringLiteral("GIA 2141438167 AB-CD");
    QString content;
    while (content.size() < characters)
        content += text;
    label.RichString->Add(content.left(characters), font, TFontStyles());
    label.UpDate(nullptr, 0.8, 0.0, 0.1);
    const TSettings& s = Settings();
    station.MarkingReference_X = station.AxisPosition_X = s.StartUp_X;
    station.MarkingReference_Y = station.AxisPosition_Y = s.StartUp_Y;
    station.MarkingReference_Z = station.AxisPosition_Z = s.StartUp_Z;
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        const TMarkingPreview p = station.PreviewMarking();
        const double ms = double(t.nsecsElapsed()) / 1e6;
        if (!p.markable || p.marks.empty()) {
            std::printf("preview of %d characters refused: %s\n", characters, qPrintable(p.problem));
            return std::nullopt;
        }
        best = std::min(best, ms);
    }
    return best;
}

void benchCompute(const Options& o, const QString& folder)
{
    setAppRegistry(SettingsStore::open(QDir(folder).filePath(QStringLiteral("compute.db"))));
    LoadSettingsFromRegistery();
    ScriptedDialogs dialogs;
    OperatorDialogs* previous = setOperatorDialogs(&dialogs);
    // Small characters, so that ten times the label still lies inside the work area.
    setGirdleHeight(0.1);
    for (const QString& font : {QStringLiteral("ROMANS"), QStringLiteral("Arial")}) {
        const auto t1 = previewMs(20, font, o.runs);
        const auto t10 = previewMs(200, font, std::max(1, o.runs / 2));
        if (!t1 || !t10) {
            g_allWithinGoal = false;
            continue;
        }
        const double growth = *t10 / std::max(*t1, 1e-6);
        const bool ok = *t1 < kComputeGoalMs && growth <= kGrowthGoal;
        g_allWithinGoal = g_allWithinGoal && ok;
        std::printf("preview, %-7s %4d chars %8.1f ms   %4d chars %8.1f ms   growth %5.1fx   %s\n", qPrintable(font), 20,
                    *t1, 200, *t10, growth, ok ? "within 100 ms and 12x" : "ABOVE THE GOAL (100 ms, 12x)");
        std::fflush(stdout);
    }
    setOperatorDialogs(previous);
    resetStationGlobals();
    setAppRegistry(nullptr);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv); // fonts for the TrueType label
    Options o;
    const QDir here(QCoreApplication::applicationDirPath());
    o.cli = here.filePath(QStringLiteral("lapidograph-cli"));
    o.dmcsim = here.filePath(QStringLiteral("lapidograph-dmcsim"));
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == QLatin1String("--cli") && hasValue)
            o.cli = args[++i];
        else if (args[i] == QLatin1String("--dmcsim") && hasValue)
            o.dmcsim = args[++i];
        else if (args[i] == QLatin1String("--runs") && hasValue)
            o.runs = std::max(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--only") && hasValue)
            o.only = args[++i];
        else if (args[i] == QLatin1String("--label") && hasValue)
            o.label = args[++i];
        else {
            std::fprintf(stderr, "usage: bench_preview [--cli PATH] [--dmcsim PATH] [--runs N] [--only estimate|compute]"
                                 " [--label NAME.xml]\n");
            return 2;
        }
    }
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        std::fprintf(stderr, "bench_preview: no folder to work in\n");
        return 1;
    }
    if (o.only.isEmpty() || o.only == QLatin1String("compute"))
        benchCompute(o, scratch.path());
    if (o.only.isEmpty() || o.only == QLatin1String("estimate"))
        benchEstimates(o, scratch.path());
    return g_allWithinGoal ? 0 : 1;
}
