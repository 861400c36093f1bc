// The settings store: a read, a write and the station's whole
// record loaded, in a store of 200 and of 2000 values; the growth factor of each is printed.
#include "platform/settingsstore.h"
#include "settings/settingsrecord.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>

namespace {

std::unique_ptr<lapido::SettingsStore> filledStore(const QTemporaryDir& dir, int values)
{
    auto store = lapido::SettingsStore::open(dir.filePath(QStringLiteral("settings.db")));
    std::vector<lapido::SettingsEntry> entries;
    for (int i = 0; i < values; ++i)
        entries.push_back({QStringLiteral("Section%1").arg(i % 20), QStringLiteral("Key%1").arg(i),
                           QString::number(i)});
    store->setValues(entries);
    return store;
}

std::map<std::string, std::map<int, double>> g_seconds;

void note(benchmark::State& state, const char* what, std::chrono::steady_clock::time_point start)
{
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    g_seconds[what][static_cast<int>(state.range(0))] = s / static_cast<double>(state.iterations());
}

void BM_ReadOneValue(benchmark::State& state)
{
    QTemporaryDir dir;
    auto store = filledStore(dir, static_cast<int>(state.range(0)));
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        benchmark::DoNotOptimize(store->value(QStringLiteral("Section3"), QStringLiteral("Key3")));
    note(state, "read", start);
}

void BM_WriteOneValue(benchmark::State& state)
{
    QTemporaryDir dir;
    auto store = filledStore(dir, static_cast<int>(state.range(0)));
    int i = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        store->WriteInteger(QStringLiteral("Section3"), QStringLiteral("Key3"), ++i);
    note(state, "write", start);
}

void BM_LoadRecord(benchmark::State& state)
{
    QTemporaryDir dir;
    auto store = filledStore(dir, static_cast<int>(state.range(0)));
    lapido::TSettings record;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        lapido::LoadSettingsFromRegistery(*store, record);
    note(state, "load record", start);
}

BENCHMARK(BM_ReadOneValue)->Arg(200)->Arg(2000);
BENCHMARK(BM_WriteOneValue)->Arg(200)->Arg(2000);
BENCHMARK(BM_LoadRecord)->Arg(200)->Arg(2000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    for (const auto& [what, bySize] : g_seconds)
        if (bySize.count(200) && bySize.count(2000) && bySize.at(200) > 0)
            std::printf("%s: %.3f ms at 200 values, %.3f ms at 2000, growth factor %.2f\n", what.c_str(),
                        bySize.at(200) * 1e3, bySize.at(2000) * 1e3, bySize.at(2000) / bySize.at(200));
    benchmark::Shutdown();
    return 0;
}
