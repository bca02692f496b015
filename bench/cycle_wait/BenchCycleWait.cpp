// Runs one tick for a few seconds while the module's only job waits for its next block, with
// the store and server in process, and prints the share of one core the tick used.
// Usage: bench_cycle_wait [seconds]

#include "control/TModuleControl.h"
#include "jobs/TDoc.h"
#include "tests/support/FakeWindow.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/resource.h>

namespace {

using namespace raduvuz;
using TClock = std::chrono::steady_clock;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;

    auto store = std::make_shared<TInProcessObject>();
    long switches = 0;
    store->Define("RWSwitchBlock", [&switches](const std::vector<TVariant>&) {
        ++switches;
        return TCallResult{std::string(), {int32_t(0), int32_t(0), int32_t(0)}};
    });
    store->Define("RNextFindDoc", [](const std::vector<TVariant>&) {
        return TCallResult{int32_t(-1), {}};
    });
    auto server = std::make_shared<TInProcessObject>();
    for (const char* method : {"ChangeStatus", "WriteLog", "ShowLabel", "SetValue"})
        server->Define(method, [](const std::vector<TVariant>&) { return TCallResult{}; });
    TModuleProcess process;
    process.StoreObject = TStoreClient(store);
    process.ServerObject = TServerClient(server);
    process.FreeSpaceKb = [](const std::string&) { return int64_t{100000000}; };

    // The fake window's idle wait is the real one; its pump ends the run.
    test::TFakeWindow window;
    TModuleControl module(process, window);
    TClock::time_point end;
    window.OnPump = [&module, &end] {
        if (TClock::now() >= end)
            module.Paused = true;
    };
    module.Current = true;
    module.Event = false;
    module.Paused = false;
    module.StoreDir = std::filesystem::temp_directory_path().string();

    TDoc* job = module.Jobs.Add(TDoc::Create(module, false, 1, 1, "Name=Waiting"));
    job->State = 0;

    const double cpuBefore = CpuSeconds();
    const auto start = TClock::now();
    end = start +
          std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(seconds));
    module.Tick();
    const double wall = std::chrono::duration<double>(TClock::now() - start).count();
    const double cpu = CpuSeconds() - cpuBefore;
    std::printf("waiting tick: %.2f s wall, %.4f s CPU, %.2f%% of a core, %ld steps tried\n", wall,
                cpu, 100.0 * cpu / wall, switches);
    return 0;
}
