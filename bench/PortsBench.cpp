// What watching and listing the machine's serial devices costs: one look of the port watcher,
// which the window takes once a second, and one inventory, which a listing takes on demand.
#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include "PortInventory.h"
#include "PortTable.h"
#include "PortWatcher.h"

namespace {

void BM_WatcherLook(benchmark::State& state) {
    const PortMap map;
    PortWatcher watcher(map);
    for (auto _ : state)
        watcher.Check();
}
BENCHMARK(BM_WatcherLook)->Unit(benchmark::kMicrosecond);

void BM_Inventory(benchmark::State& state) {
    const PortMap map;
    for (auto _ : state)
        benchmark::DoNotOptimize(ListSerialDevices(map));
}
BENCHMARK(BM_Inventory)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);  // the watcher's timer needs one
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
