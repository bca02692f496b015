// The processing cycle's pick with 10,000 jobs in process, an idle pass over them, and a pick
// past the jobs of a paused destination: the real module object and its jobs, in process. The
// reference, measured in the same run, is the pick that sorts every job's key as text each time
// (the pick before the index). Usage: bench_pick [JOBS [RUNS]]   (defaults: 10000 jobs, 5 runs)

#include "control/TModuleControl.h"
#include "cycle/SortingPick.h"
#include "jobs/TDoc.h"
#include "support/FakeWindow.h"
#include "support/ModuleInside.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <vector>

namespace {

using namespace raduvuz;
using TClock = std::chrono::steady_clock;

double Ms(TClock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct TStats {
    double Min = 0, Median = 0, Max = 0;
};

TStats StatsOf(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return {v.front(), n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2, v.back()};
}

void Print(const char* what, const TStats& s, const char* unit, int decimals) {
    std::printf("  %-44s min %.*f / median %.*f / max %.*f %s\n", what, decimals, s.Min, decimals,
                s.Median, decimals, s.Max, unit);
}

// A module whose store and server answer from memory that nothing is ready: no block to read,
// no room to write, destinations that are not running.
struct TWorld {
    TModuleProcess Process;
    test::TFakeWindow Window;
    std::unique_ptr<TModuleControl> Module;

    TWorld() {
        auto store = std::make_shared<TInProcessObject>();
        const auto notReady = [](const std::vector<TVariant>&) {
            return TCallResult{std::string(), {int32_t(0), int32_t(0), int32_t(0)}};
        };
        store->Define("RWSwitchBlock", notReady);
        store->Define("RGetBlock", notReady);
        store->Define("RNextFindDoc", [](const std::vector<TVariant>&) {
            return TCallResult{int32_t(-1), {}};
        });
        for (const char* method : {"RCloseDoc", "WAbortDoc"})
            store->Define(method, [](const std::vector<TVariant>&) { return TCallResult{}; });
        auto server = std::make_shared<TInProcessObject>();
        for (const char* method : {"ChangeStatus", "WriteLog", "ShowLabel"})
            server->Define(method, [](const std::vector<TVariant>&) { return TCallResult{}; });
        server->Define("GetValue", [](const std::vector<TVariant>&) {
            return TCallResult{int32_t(0), {}};
        });
        Process.StoreObject = TStoreClient(store);
        Process.ServerObject = TServerClient(server);
        Process.FreeSpaceKb = [](const std::string&) { return int64_t{100000000}; };
        Module = std::make_unique<TModuleControl>(Process, Window, &Window);
        Inside(*Module).Current = true;
        Inside(*Module).Event = false;
        Inside(*Module).Paused = false;
        Inside(*Module).StoreDir = std::filesystem::temp_directory_path().string();
    }
};

// Jobs with priorities from -5 to 120 and creation times a second apart. Shares of reading (0),
// waiting (1) and sending (2) jobs are given in percent; a tenth of the rest are held.
std::vector<test::TShadow> AddJobs(TModuleControl& module, int count, int reading, int waiting,
                                   std::mt19937& random) {
    std::vector<test::TShadow> shadows;
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> priority(-5, 120);
    const std::vector<std::string> dests{"12", "15", "21", "12,15"};
    for (int i = 0; i < count; ++i) {
        const int roll = percent(random);
        const TJobState state = roll < reading             ? TJobState::Reading
                                : roll < reading + waiting ? TJobState::Waiting
                                                           : TJobState::Sending;
        TDoc* job = Inside(module).Jobs.Add(
            TDoc::Create(module, state != TJobState::Reading, i + 1, i + 1, "Name=j", state));
        job->SetPriority(priority(random));
        job->SetCreated(45000.0 + i / 86400.0);
        job->SetLastTime(job->Created());
        job->SetDests(dests[static_cast<size_t>(i) % dests.size()]);
        job->Devices = "1";
        job->SetHeld(state == TJobState::Waiting && percent(random) < 10);
        shadows.push_back({job, job->State(), job->Priority(), job->Created(), job->LastTime(),
                           job->Held(), false, false, job->Dests()});
    }
    return shadows;
}

} // namespace

int main(int argc, char** argv) {
    const int jobs = argc > 1 ? std::max(10, std::atoi(argv[1])) : 10000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    std::printf("In process, %d jobs: the module's pick and its jobs' steps. Left out: the bus, "
                "the store and server processes (they answer from memory), the window\n",
                jobs);

    // Picks among reading, waiting and sending jobs; the picked job's step is played: it finds
    // nothing to do most of the time, and its last-step time moves on.
    std::vector<double> pickUs;
    std::vector<double> sortingUs;
    for (int run = 0; run < runs; ++run) {
        TWorld world;
        std::mt19937 random(static_cast<unsigned>(run + 1));
        std::vector<test::TShadow> shadows = AddJobs(*world.Module, jobs, 30, 40, random);
        std::bernoulli_distribution nothingToDo(0.7);
        constexpr int kPicks = 2000;
        double now = 46000;
        const auto start = TClock::now();
        for (int i = 0; i < kPicks; ++i) {
            Inside(*world.Module).IntakeExhausted = true;
            if (TDoc* job = world.Module->SelectJob()) {
                job->SetWaiting(nothingToDo(random));
                job->SetLastTime(now += 1e-6);
            }
        }
        pickUs.push_back(Ms(TClock::now() - start) * 1000 / kPicks);
        // The sorting pick on the same jobs, fewer times: it is that much slower.
        constexpr int kSortingPicks = 20;
        bool exhausted = true;
        const auto sortStart = TClock::now();
        for (int i = 0; i < kSortingPicks; ++i) {
            exhausted = true;
            test::SortingPick(shadows, exhausted);
        }
        sortingUs.push_back(Ms(TClock::now() - sortStart) * 1000 / kSortingPicks);
    }
    const TStats pick = StatsOf(pickUs);
    const TStats sorting = StatsOf(sortingUs);
    std::printf("One pick (mean of 2,000 picks per run, %d runs)\n", runs);
    Print("pick by the index", pick, "us", 2);
    Print("sorting every key as text (the reference)", sorting, "us", 0);
    std::printf("  the index picks %.0f times faster (medians)\n", sorting.Median / pick.Median);

    // An idle pass: every job has its turn and none can move (no block ready, destinations not
    // running, a tenth of the waiting ones held).
    std::vector<double> passMs;
    std::vector<double> tickMs;
    for (int run = 0; run < runs; ++run) {
        TWorld world;
        std::mt19937 random(static_cast<unsigned>(100 + run));
        AddJobs(*world.Module, jobs, 50, 50, random);
        TModuleControl& module = *world.Module;
        const auto start = TClock::now();
        for (int i = 0; i <= jobs; ++i) {
            Inside(module).IntakeExhausted = true;
            if (TDoc* job = module.SelectJob()) {
                bool done = false;
                job->Execute(done);
            }
        }
        passMs.push_back(Ms(TClock::now() - start));
        // The tick itself ends once it would only repeat what found nothing to do.
        const auto tickStart = TClock::now();
        module.Tick();
        tickMs.push_back(Ms(TClock::now() - tickStart));
    }
    std::printf("An idle pass: %d jobs that cannot move (%d runs)\n", jobs, runs);
    Print("jobs + 1 picks, each with its job's step", StatsOf(passMs), "ms", 1);
    std::printf("  the sorting pick alone would take about %.0f ms for as many picks\n",
                sorting.Median * (jobs + 1) / 1000);
    Print("a tick, until it ends by itself", StatsOf(tickMs), "ms", 2);

    // Jobs waiting to be sent, all but one for a paused destination and before it in key order:
    // after the first of them found its destination not ready, the pick must find the one job
    // for a ready destination without walking past the others.
    std::vector<double> pastUs;
    for (int run = 0; run < runs; ++run) {
        TWorld world;
        TModuleControl& module = *world.Module;
        for (int i = 0; i < jobs; ++i) {
            TDoc* job = Inside(module).Jobs.Add(
                TDoc::Create(module, true, i + 1, i + 1, "Name=j", TJobState::Waiting));
            job->SetPriority(i + 1 < jobs ? 1 : 50);
            job->SetCreated(45000.0 + i / 86400.0);
            job->SetDests(i + 1 < jobs ? "17" : "12");
        }
        TDoc* paused = module.JobsInProcess()[0];
        TDoc* ready = module.JobsInProcess()[static_cast<size_t>(jobs - 1)];
        constexpr int kPicks = 2000;
        const auto start = TClock::now();
        for (int i = 0; i < kPicks; ++i) {
            // As the paused destination's first job's check leaves it.
            paused->SetWaiting(true);
            if (module.SelectJob() != ready) {
                std::fprintf(stderr, "the pick did not find the job for the ready destination\n");
                return 1;
            }
        }
        pastUs.push_back(Ms(TClock::now() - start) * 1000 / kPicks);
    }
    std::printf("%d jobs waiting to be sent, all but the last for a paused destination (%d runs)\n",
                jobs, runs);
    Print("one pick past the paused destination's jobs", StatsOf(pastUs), "us", 2);
    return 0;
}
