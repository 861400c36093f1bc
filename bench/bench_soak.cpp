// A day at the station in one process: labels of every kind (stroke text, TrueType text, a
// symbol list, a logo, a photograph) loaded and engraved one after another on the simulated
// machine in virtual time. Resident memory and open file handles are sampled as it goes; after
// the warm-up both must stay flat (goal: less than 1 % growth). It prints the samples and the
// growth; it asserts nothing.
//
// Usage: bench_soak [LABELS] [--examples DIR]
//   LABELS: how many labels to mark (default 1000; 100 for a quick look). The warm-up is the
//   first tenth of them, at most 100 labels; a sample is taken every twentieth of the run
//   (every 50 labels of 1000).
#include "glyphs/glyph.h"
#include "machine/applysettings.h"
#include "machine/laser.h"
#include "platform/clock.h"
#include "platform/operatordialogs.h"
#include "platform/settingsstore.h"
#include "platform/stationglobals.h"
#include "records/stlogfile.h"
#include "settings/settingskeys.h"
#include "settings/settingsrecord.h"
#include "sim/dmcsimulator.h"
#include "sim/simfromsettings.h"
#include "workflow/station.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace lapido;

namespace {

struct Sample {
    int labels = 0;
    long long residentKiB = 0;
    int handles = 0;
};

long long residentKiB()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

int openHandles()
{
    // The listing itself holds one handle while it reads; it is not counted.
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size()) - 1;
}

// One kind of label: how the operator puts it on the station.
struct LabelKind {
    const char* name;
    std::function<bool(TStation&)> compose;
};

bool loadExample(TStation& station, const QString& examples, const char* file)
{
    QFile f(examples + QLatin1Char('/') + QLatin1String(file));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    QString error;
    if (!station.XML2TreeFromBytes(f.readAll(), &error)) {
        std::fprintf(stderr, "%s: %s\n", file, qPrintable(error));
        return false;
    }
    return true;
}

double growthPercent(long long from, long long to)
{
    return from > 0 ? 100.0 * double(to - from) / double(from) : 0;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    int count = 1000;
    QString examples = QStringLiteral(LAPIDO_EXAMPLES_DIR);
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--examples") && i + 1 < args.size())
            examples = args[++i];
        else if (bool ok = false; (count = args[i].toInt(&ok)), !ok || count < 20) {
            std::fprintf(stderr, "usage: bench_soak [LABELS (at least 20)] [--examples DIR]\n");
            return 2;
        }
    }
    const int warmUp = std::min(100, count / 10);
    const int every = std::max(1, count / 20);

    QTemporaryDir dir;
    setAppRegistry(SettingsStore::open(dir.filePath(QStringLiteral("settings.db"))));
    VirtualClock clock;
    ScopedClock scopedClock(clock);
    ScriptedDialogs dialogs;
    OperatorDialogs* previousDialogs = setOperatorDialogs(&dialogs);
    int exitCode = 0;
    {
        keys::write(keys::GalilIP, QStringLiteral("sim"));
        keys::write(keys::WorkingDir, dir.path() + QStringLiteral("/"));
        AppRegistry().WriteString(QStringLiteral("Hardware"), QStringLiteral("EnableOnDelay"), QStringLiteral("0"));
        LoadSettingsFromRegistery();
        const std::shared_ptr<DmcSimulator> sim = makeWiredSimulator(&clock, Settings());
        const std::shared_ptr<DmcSimulator> previousSim = currentDmcSimulator();
        setCurrentDmcSimulator(sim);
        // Logos and pictures are found beside the example labels, as the station finds them
        // beside a label it opens.
        setWorkingDir(examples + QLatin1Char('/'));
        QDir::setCurrent(examples);
        {
            TLaser laser;
            ApplyMotionSettings(Settings(), laser);
            laser.Initialize();
            setLaser(&laser);
            FileLogger trace(dir.path());
            TStationServices services;
            services.logger = &trace;
            services.countShots = false;
            TStation station(std::move(services));
            station.DefaultSymbolList = QString::fromUtf8("\u00a9\u00ae\u00a7");
            station.SymbolListFont = QStringLiteral("Liberation Sans");
            const std::vector<LabelKind> kinds = {
                {"stroke text", [&](TStation& s) { return loadExample(s, examples, "text-stroke.xml"); }},
                {"TrueType text", [&](TStation& s) { return loadExample(s, examples, "text-truetype.xml"); }},
                {"symbols",
                 [&](TStation& s) {
                     if (!s.XML2TreeFromBytes(QByteArrayLiteral("<tree2xml app=\"lapidograph\"/>")))
                         return false;
                     s.BitBtnAddSymbolClick();
                     return true;
                 }},
                {"logo", [&](TStation& s) { return loadExample(s, examples, "logo.xml"); }},
                {"photo", [&](TStation& s) { return loadExample(s, examples, "photo.xml"); }},
            };
            station.SetAIMSState(TAIMState::aimsAligning);
            station.TimerLaserTick();
            station.SpeedButtonAIMClick(TSpeedButton::Inspect);

            std::vector<Sample> samples;
            std::vector<std::size_t> marksPerKind(kinds.size(), 0);
            int failures = 0;
            for (int n = 1; n <= count; ++n) {
                const std::size_t k = std::size_t(n - 1) % kinds.size();
                if (!kinds[k].compose(station)) {
                    std::fprintf(stderr, "label %d (%s) could not be composed\n", n, kinds[k].name);
                    exitCode = 1;
                    break;
                }
                station.KeyF9();
                // The simulated machine keeps every mark it made; the stone changes between
                // labels, so its record starts afresh (what is measured is the station).
                const std::size_t marks = sim->markCount();
                marksPerKind[k] += marks;
                sim->clearMarks();
                // A label counts when it was marked without a word to the operator.
                if (marks == 0 || MarkingAborted() || laser.sequenceFaulted() || !dialogs.transcript().empty()) {
                    if (++failures <= 3)
                        std::fprintf(stderr, "label %d (%s): %zu marks, told: %s\n", n, kinds[k].name, marks,
                                     qPrintable(dialogs.texts().join(QStringLiteral(" | "))));
                }
                dialogs.clear();
                if (n % every == 0 || n == warmUp)
                    samples.push_back({n, residentKiB(), openHandles()});
            }

            std::printf("labels marked: %d (%d failed)\n", count - failures, failures);
            for (std::size_t k = 0; k < kinds.size(); ++k)
                std::printf("  %-14s %zu marks\n", kinds[k].name, marksPerKind[k]);
            std::printf("%8s %14s %8s\n", "labels", "resident KiB", "handles");
            for (const Sample& s : samples)
                std::printf("%8d %14lld %8d%s\n", s.labels, s.residentKiB, s.handles, s.labels == warmUp ? "  (end of warm-up)" : "");
            const auto base = std::find_if(samples.begin(), samples.end(), [&](const Sample& s) { return s.labels == warmUp; });
            if (base != samples.end() && !samples.empty()) {
                const Sample& last = samples.back();
                std::printf("growth after warm-up (labels %d to %d): resident %+.2f %% (%+lld KiB), handles %+.2f %% (%+d)\n",
                            base->labels, last.labels, growthPercent(base->residentKiB, last.residentKiB),
                            last.residentKiB - base->residentKiB, growthPercent(base->handles, last.handles),
                            last.handles - base->handles);
                std::printf("goal: under 1 %%\n");
            }
            if (failures > 0)
                exitCode = 1;
            setLaser(nullptr);
        }
        setCurrentDmcSimulator(previousSim);
    }
    setOperatorDialogs(previousDialogs);
    resetStationGlobals();
    setAppRegistry(nullptr);
    return exitCode;
}
