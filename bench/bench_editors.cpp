// The logo editor's DXF import as the operator waits for it (through the wait window that can
// cancel it) beside the drawing's plain import, at 20 000 and 200 000 lines; the growth factor
// of the editor's import over the tenfold size is printed at the end.
#include "geometry/cadonpaintbox.h"
#include "platform/operatordialogs.h"
#include "workflow/logoeditor.h"

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <map>

namespace {

using namespace lapido;

QTemporaryDir& folder()
{
    static QTemporaryDir dir;
    return dir;
}

// A DXF of n lines on seven layers, written once per size.
QString dxfFile(int lines)
{
    static std::map<int, QString> files;
    auto& path = files[lines];
    if (!path.isEmpty())
        return path;
    path = folder().filePath(QStringLiteral("logo_%1.dxf").arg(lines));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write("0\nSECTION\n2\nENTITIES\n");
    for (int i = 0; i < lines; ++i)
        f.write(QStringLiteral("0\nLINE\n8\nL%1\n10\n%2\n20\n%3\n11\n%4\n21\n%5\n")
                    .arg(i % 7).arg(i * 0.01).arg(i % 100 * 0.1).arg(i * 0.01 + 0.5).arg(i % 97 * 0.1)
                    .toLatin1());
    f.write("0\nENDSEC\n0\nEOF\n");
    return path;
}

void BM_LogoEditorImport(benchmark::State& state)
{
    ScriptedDialogs dialogs;
    OperatorDialogs* previous = setOperatorDialogs(&dialogs);
    const QString path = dxfFile(int(state.range(0)));
    TLogoEditor editor;
    for (auto _ : state) {
        editor.importDxf(path);
        benchmark::DoNotOptimize(editor.CADOnPaintBox.CADObjectList.Count());
        dialogs.clear();
    }
    setOperatorDialogs(previous);
}
BENCHMARK(BM_LogoEditorImport)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);

void BM_PlainImport(benchmark::State& state)
{
    const QString path = dxfFile(int(state.range(0)));
    for (auto _ : state) {
        TCADOnPaintBox drawing;
        benchmark::DoNotOptimize(drawing.LoadDXF(path).objectsAdded);
    }
}
BENCHMARK(BM_PlainImport)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);

double bestImportMs(int lines)
{
    ScriptedDialogs dialogs;
    OperatorDialogs* previous = setOperatorDialogs(&dialogs);
    TLogoEditor editor;
    double best = 1e300;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer t;
        t.start();
        editor.importDxf(dxfFile(lines));
        best = std::min(best, t.nsecsElapsed() / 1e6);
    }
    setOperatorDialogs(previous);
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const double small = bestImportMs(20000);
    const double large = bestImportMs(200000);
    std::printf("logo editor import: %.1f ms at 20000 lines, %.1f ms at 200000 lines, growth %.2f for 10x\n", small,
                large, large / small);
    return 0;
}
