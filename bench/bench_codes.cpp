// The 2D code's goals. (1) Encoding a 10-digit report number as a Data Matrix and planning its
// pulses takes under 5 ms; (2) reading it back from the simulated camera's picture and grading it
// under 200 ms. Both at ten times the content (100 digits) as well, with the growth printed.
//
// Usage: bench_codes [--runs N]   (best of N, default 20)
#include "camera/inspectionpicture.h"
#include "glyphs/glyphcode.h"
#include "inspection/codegrade.h"
#include "inspection/inspection.h"
#include "platform/operatordialogs.h"
#include "platform/settingsstore.h"
#include "platform/stationglobals.h"
#include "settings/settingsrecord.h"
#include "workflow/markingpreview.h"
#include "workflow/station.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

using namespace lapido;

constexpr double kEncodeGoalMs = 5;
constexpr double kGradeGoalMs = 200;

bool g_allWithinGoal = true;

QString digits(int n)
{
    QString s;
    while (s.size() < n)
        s += QStringLiteral("2141234567");
    return s.left(n);
}

template <typename F>
double bestMs(int runs, F&& work)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        best = std::min(best, double(t.nsecsElapsed()) / 1e6);
    }
    return best;
}

void report(const char* what, double ms1, double ms10, double goalMs)
{
    const bool ok = ms1 < goalMs;
    g_allWithinGoal = g_allWithinGoal && ok;
    std::printf("%-34s 10 digits %8.3f ms (goal < %.0f ms: %s)   100 digits %8.3f ms   growth x%.1f\n", what, ms1,
                goalMs, ok ? "met" : "MISSED", ms10, ms10 / ms1);
}

void benchEncoding(int runs)
{
    CodeLayout layout;
    layout.moduleUm = 20;
    layout.quietModules = 2;
    double ms[2];
    std::size_t pulses[2];
    for (int k = 0; k < 2; ++k) {
        const QString content = digits(k == 0 ? 10 : 100);
        ms[k] = bestMs(runs, [&] {
            const CodeEncoding e = encodeCode(TCodeSymbology::DataMatrix, content);
            pulses[k] = 0;
            for (const CodeDotRow& row : planCodeDots(*e.matrix, layout))
                pulses[k] += row.xUm.size();
        });
    }
    report("encoding and planning (Data Matrix)", ms[0], ms[1], kEncodeGoalMs);
    std::printf("%-34s 10 digits %zu pulses, 100 digits %zu pulses\n", "", pulses[0], pulses[1]);
}

void benchGrading(int runs)
{
    double ms[2];
    for (int k = 0; k < 2; ++k) {
        TStation station;
        const TCoord ref{Settings().StartUp_X, Settings().StartUp_Y};
        station.MarkingReference_X = station.AxisPosition_X = ref.X;
        station.MarkingReference_Y = station.AxisPosition_Y = ref.Y;
        station.MarkingReference_Z = station.AxisPosition_Z = Settings().StartUp_Z;
        station.CodeContent = digits(k == 0 ? 10 : 100);
        station.CodeModuleUm = 20;
        setGirdleHeight(k == 0 ? 0.45 : 0.75);
        station.BitBtnAddCodeClick();
        const TMarkingPreview preview = station.PreviewMarking();
        if (!preview.markable) {
            std::printf("grading: label refused: %s\n", qPrintable(preview.problem));
            g_allWithinGoal = false;
            return;
        }
        const InspectionPlan plan = station.InspectionPlanOf(preview);
        const QImage picture = simulatedInspectionPicture(Settings(), ref, ref.Y, preview.marks);
        const InspectionView view = InspectionView::fromSettings(Settings(), picture.size(), ref);
        CodeGrade grade;
        ms[k] = bestMs(runs, [&] { grade = gradeCode(*plan.glyphs.front().code, picture, view, TCoord{0, 0}, 8); });
        std::printf("%-34s %3d digits: %s\n", "", k == 0 ? 10 : 100, qPrintable(grade.line()));
        // The whole inspection of the run around it (registration of every mark, stray marks).
        Inspector inspector;
        const InspectionLimits limits = InspectionLimits::fromStore(Settings());
        const double whole = bestMs(std::max(1, runs / 4), [&] { inspector.inspect(plan, picture, view, limits); });
        std::printf("%-34s %3d digits: whole inspection of the run %.1f ms\n", "", k == 0 ? 10 : 100, whole);
        if (!grade.matches)
            g_allWithinGoal = false;
    }
    report("reading and grading", ms[0], ms[1], kGradeGoalMs);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    int runs = 20;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--runs") && i + 1 < args.size()) {
            runs = std::max(1, args[++i].toInt());
        } else {
            std::fprintf(stderr, "usage: bench_codes [--runs N]\n");
            return 2;
        }
    }
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return 1;
    setAppRegistry(SettingsStore::open(QDir(scratch.path()).filePath(QStringLiteral("codes.db"))));
    LoadSettingsFromRegistery();
    ScriptedDialogs dialogs;
    OperatorDialogs* previous = setOperatorDialogs(&dialogs);
    benchEncoding(runs);
    benchGrading(runs);
    setOperatorDialogs(previous);
    resetStationGlobals();
    setAppRegistry(nullptr);
    return g_allWithinGoal ? 0 : 1;
}
