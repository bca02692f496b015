// Throughput of the processing cycle on 16 MiB blocks of halftone data. The document store is
// memoryman's own store logic with its shared-memory blocks, bound in process through the same
// late-bound interface the module calls over D-Bus, so the figures are the module's work (plus
// the store's bookkeeping), not the bus's. Each figure is the best of a few rounds.
// Usage: bench_cycle_throughput [SPOOL-FOLDER [spool|pass]]
// The spool folder defaults to /dev/shm, so that the disk's speed is not measured; the second
// argument runs only that part (for a profiler).

#include "common/Types.h"
#include "control/IEventLoop.h"
#include "control/TModuleControl.h"
#include "jobs/BlockPacker.h"
#include "jobs/PackBits.h"
#include "jobs/TDoc.h"
#include "jobs/TJobListModel.h"
#include "platform/System.h"
#include "spool/RasterSamples.h"
#include "tools/memoryman/TMemoryStore.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace raduvuz;
using TClock = std::chrono::steady_clock;

constexpr int32_t kBlockSize = 16 << 20;
constexpr int kBlocksPerDoc = 4;
constexpr int kDocs = 6;
constexpr int kRounds = 5;
constexpr int32_t kModule = 3;
constexpr int32_t kDest = 12;

double Seconds(const std::function<void()>& work) {
    const auto start = TClock::now();
    work();
    return std::chrono::duration<double>(TClock::now() - start).count();
}

// The event loop without a user interface; each pump lets the destination take its documents.
class TBenchLoop : public IEventLoop {
public:
    std::function<void()> Pump;

    void StopTimer() override {}
    void ProcessPendingMessages() override {
        if (Pump)
            Pump();
    }
    void ScheduleTick() override {}
};

int32_t Int(const std::vector<TVariant>& args, size_t i) {
    return VariantToInt(args.at(i));
}

TCallResult Block(const TBlockAnswer& a) {
    return TCallResult{a.Name, {a.Size, a.Handle, a.Last}};
}

// The store's calls as the module makes them, answered by the store logic itself.
std::shared_ptr<TInProcessObject> BindStore(TMemoryStore& store) {
    auto object = std::make_shared<TInProcessObject>();
    using TArgs = std::vector<TVariant>;
    const auto define = [&object](const char* name, std::function<TCallResult(const TArgs&)> f) {
        object->Define(name, [f, name](const TArgs& args) {
            try {
                return f(args);
            } catch (const std::exception& e) {
                throw TDispatchError(kUnexpectedError, std::string(name) + ": " + e.what());
            }
        });
    };
    define("RNextFindDoc", [&store](const TArgs& a) {
        return TCallResult{store.RNextFindDoc(Int(a, 0), Int(a, 1)), {}};
    });
    define("RGetDocDDS", [&store](const TArgs& a) {
        return TCallResult{store.RGetDocDDS(Int(a, 0)), {}};
    });
    define("ROpenDoc", [&store](const TArgs& a) {
        int32_t job = 0;
        std::string dds = store.ROpenDoc(Int(a, 0), Int(a, 1), job);
        return TCallResult{dds, {job}};
    });
    define("RAbortDoc", [&store](const TArgs& a) {
        store.RAbortDoc(Int(a, 0), Int(a, 1));
        return TCallResult{};
    });
    define("RCloseDoc", [&store](const TArgs& a) {
        store.RCloseDoc(Int(a, 0), Int(a, 1));
        return TCallResult{};
    });
    define("RGetBlock",
           [&store](const TArgs& a) { return Block(store.RGetBlock(Int(a, 0), Int(a, 1))); });
    define("RCloseBlock", [&store](const TArgs& a) {
        store.RCloseBlock(Int(a, 0), Int(a, 1), Int(a, 2));
        return TCallResult{};
    });
    define("RWSwitchBlock", [&store](const TArgs& a) {
        return Block(store.RWSwitchBlock(Int(a, 0), Int(a, 1), Int(a, 2)));
    });
    define("WCreateDoc", [&store](const TArgs& a) {
        return TCallResult{
            store.WCreateDoc(Int(a, 0), Int(a, 1), VariantToText(a.at(2)), VariantToText(a.at(3))),
            {}};
    });
    define("WGetBlock", [&store](const TArgs& a) {
        const TBlockAnswer answer = store.WGetBlock(Int(a, 0), Int(a, 1));
        return TCallResult{answer.Name, {answer.Handle}};
    });
    define("WCloseBlock", [&store](const TArgs& a) {
        store.WCloseBlock(Int(a, 0), Int(a, 1), Int(a, 2));
        return TCallResult{};
    });
    define("WCloseDoc", [&store](const TArgs& a) {
        store.WCloseDoc(Int(a, 0));
        return TCallResult{};
    });
    define("WAbortDoc", [&store](const TArgs& a) {
        store.WAbortDoc(Int(a, 0));
        return TCallResult{};
    });
    define("IsDocForExists", [&store](const TArgs& a) {
        return TCallResult{store.IsDocForExists(Int(a, 0)), {}};
    });
    return object;
}

// A workflow server whose destination always runs on this computer and is never paused.
std::shared_ptr<TInProcessObject> BindServer() {
    auto server = std::make_shared<TInProcessObject>();
    for (const char* method : {"ChangeStatus", "WriteLog", "ShowLabel", "SetValue"})
        server->Define(method, [](const std::vector<TVariant>&) { return TCallResult{}; });
    server->Define("GetValue", [](const std::vector<TVariant>& a) {
        switch (Int(a, 1)) {
        case 0:
            return TCallResult{int32_t(1), {}};
        case 6:
            return TCallResult{false, {}};
        case 7:
            return TCallResult{ComputerName(), {}};
        default:
            return TCallResult{TNull{}, {}};
        }
    });
    server->Define("IsJobUse", [](const std::vector<TVariant>&) { return TCallResult{false, {}}; });
    return server;
}

// The next module: opens each document for it and lets go of every block it can read.
class TDrain {
public:
    explicit TDrain(TMemoryStore& store) : Store(store) {}
    void operator()() {
        for (int32_t doc = Store.RNextFindDoc(kDest, 0); doc > 0;
             doc = Store.RNextFindDoc(kDest, doc)) {
            int32_t job = 0;
            Store.ROpenDoc(kDest, doc, job);
            Open.push_back(doc);
        }
        std::erase_if(Open, [this](int32_t doc) {
            for (;;) {
                const TBlockAnswer a = Store.RGetBlock(kDest, doc);
                if (a.Name.empty()) {
                    if (a.Handle == 0)
                        return false;
                    Store.RCloseDoc(kDest, doc);
                    return true;
                }
                Bytes += a.Size;
                Store.RCloseBlock(kDest, doc, a.Handle);
                if (a.Last) {
                    Store.RCloseDoc(kDest, doc);
                    ++Documents;
                    return true;
                }
            }
        });
    }
    int64_t Bytes = 0;
    int Documents = 0;

private:
    TMemoryStore& Store;
    std::vector<int32_t> Open;
};

struct TResult {
    double Seconds = 1e30;
    int64_t Bytes = 0;
    bool Ok = true;
};

// One kind of run: every document goes through one tick of a fresh module; best of the rounds.
TResult Measure(const std::vector<uint8_t>& halftone, const std::string& folder, bool spool,
                int32_t deletePolicy, int rounds) {
    TResult result;
    for (int round = 0; round < rounds; ++round) {
        TMemoryStore::TOptions options;
        options.MemoryLimit = int64_t(2) << 30;
        options.Prefix = "rbench." + std::to_string(::getpid());
        TMemoryStore store(options);
        TDrain drain(store);
        TModuleProcess process;
        process.StoreObject = TStoreClient(BindStore(store));
        process.ServerObject = TServerClient(BindServer());
        // Intake refuses to start below 100 MB free; tmpfs may say less than that.
        process.FreeSpaceKb = [](const std::string&) { return int64_t{100000000}; };

        int64_t fed = 0;
        for (int d = 0; d < kDocs; ++d) {
            // Each document takes other slices of the sample, so no block repeats the last.
            std::string data;
            for (int b = 0; b < kBlocksPerDoc; ++b) {
                const size_t offset = static_cast<size_t>((d * kBlocksPerDoc + b) % 4) *
                                      static_cast<size_t>(kBlockSize);
                data.append(reinterpret_cast<const char*>(halftone.data()) + offset, kBlockSize);
            }
            fed += static_cast<int64_t>(data.size());
            store.PutData(data, "Name=bench" + std::to_string(d) + ";Device=*", kBlockSize,
                          kModule);
        }

        TBenchLoop window;
        window.Pump = [&drain] { drain(); };
        {
            TModuleControl module(process, window);
            module.Current = true;
            module.ModuleNumber = kModule;
            module.Event = false;
            module.Paused = false;
            module.StoreDir = folder;
            module.ConfigKey = "Bench";
            module.JobDir = folder + "/Bench";
            std::filesystem::remove_all(module.JobDir);
            std::filesystem::create_directories(module.JobDir);
            module.WorkMode = spool ? 1 : 0;
            module.DeletePolicy = deletePolicy;
            module.FlowEntries = {{"Device=1", kDest}};
            // Spooled jobs wait held, so the tick ends once every document is in its file.
            if (spool)
                module.HoldList = {{"Bench", 1}};

            const double took = Seconds([&module] { module.Tick(); });
            result.Seconds = std::min(result.Seconds, took);
            result.Bytes = fed;
            if (spool) {
                int held = 0;
                for (const TDoc* job : module.Jobs)
                    held += job->Held() ? 1 : 0;
                result.Ok = result.Ok && held == kDocs && store.DocumentCount() == 0;
            } else {
                result.Ok = result.Ok && drain.Documents == kDocs && drain.Bytes == fed;
            }
            std::filesystem::remove_all(module.JobDir);
        }
    }
    return result;
}

// PackBits alone on the same blocks, in memory: the ceiling of the spool path. With fresh
// copies each block lies in memory of its own, as in the store, so neither side is helped by
// a cache that holds the 64 MiB sample; without, the blocks are packed from the sample itself.
TResult PackOnly(const std::vector<uint8_t>& halftone, bool freshCopies, int rounds) {
    TResult result;
    const int blocks = kDocs * kBlocksPerDoc;
    std::vector<std::vector<uint8_t>> copies;
    for (int b = 0; freshCopies && b < blocks; ++b) {
        const auto* from = halftone.data() + static_cast<size_t>(b % 4) * kBlockSize;
        copies.emplace_back(from, from + kBlockSize);
    }
    std::vector<uint8_t> packed(static_cast<size_t>(PackBitsBlockBound(kBlockSize)));
    int64_t sink = 0;
    for (int round = 0; round < rounds; ++round) {
        const double took = Seconds([&] {
            for (int b = 0; b < blocks; ++b) {
                const uint8_t* block =
                    freshCopies ? copies[static_cast<size_t>(b)].data()
                                : halftone.data() + static_cast<size_t>(b % 4) * kBlockSize;
                sink += PackBitsBlock(block, kBlockSize, packed.data());
            }
        });
        result.Seconds = std::min(result.Seconds, took);
    }
    result.Bytes = int64_t(blocks) * kBlockSize;
    result.Ok = sink > 0;
    return result;
}

TResult Best(const TResult& a, const TResult& b) {
    TResult best = a.Seconds <= b.Seconds ? a : b;
    best.Ok = a.Ok && b.Ok;
    return best;
}

double Rate(const TResult& r) {
    return static_cast<double>(r.Bytes) / r.Seconds / 1e6;
}

void Print(const char* what, const TResult& r, const char* note) {
    std::printf("%-44s %8.0f MB/s  %6.3f s  %s%s\n", what, Rate(r), r.Seconds,
                r.Ok ? "" : "WRONG RESULT ", note);
}

} // namespace

int main(int argc, char** argv) {
    std::string folder = argc > 1 ? argv[1] : "/dev/shm";
    if (!std::filesystem::is_directory(folder))
        folder = std::filesystem::temp_directory_path().string();
    folder += "/raduvuz-bench-" + std::to_string(::getpid());
    std::filesystem::create_directories(folder);

    const std::vector<uint8_t> halftone = testing::HalftoneRaster(int64_t(4) * kBlockSize, 1);
    std::printf("Processing cycle, in-process store; %d documents of %d blocks of 16 MiB of "
                "halftone data per round, best of %d; MB/s = 10^6 input bytes/s\n",
                kDocs, kBlocksPerDoc, kRounds);
    std::printf("spool files in %s\n", folder.c_str());
    const std::string part = argc > 2 ? argv[2] : "";
    const int helpers = PackHelpers();
    std::printf("spool copies are packed by %d helper thread%s while the calling thread writes; "
                "\"alone\" rows pack on the calling thread only\n",
                helpers, helpers == 1 ? "" : "s");
    bool ok = true;
    if (part.empty() || part == "spool") {
        // Rounds alternate the sides, so that a busy machine hurts all alike.
        TResult cached;
        TResult pack;
        TResult spool;
        TResult spoolAlone;
        for (int round = 0; round < kRounds; ++round) {
            cached = Best(cached, PackOnly(halftone, false, 1));
            pack = Best(pack, PackOnly(halftone, true, 1));
            SetPackHelpers(helpers);
            spool = Best(spool, Measure(halftone, folder, true, 1, 1));
            SetPackHelpers(0);
            spoolAlone = Best(spoolAlone, Measure(halftone, folder, true, 1, 1));
        }
        SetPackHelpers(helpers);
        Print("PackBits alone, blocks from the 64 MiB sample", cached, "(partly cached)");
        Print("PackBits alone, each block in its own memory", pack, "(ceiling of one thread)");
        Print("spool path: store -> spool file (packed)", spool, "");
        Print("spool path, packing alone", spoolAlone, "");
        std::printf("%-44s %8.0f %%      goal >= 70 %%\n", "  spool path / PackBits alone",
                    100.0 * Rate(spool) / Rate(pack));
        std::printf("%-44s %8.0f %%\n", "  spool path packing alone / PackBits alone",
                    100.0 * Rate(spoolAlone) / Rate(pack));
        ok = ok && spool.Ok && spoolAlone.Ok;
    }
    if (part.empty() || part == "pass") {
        TResult passCopy;
        TResult passCopyAlone;
        TResult passOnly;
        for (int round = 0; round < kRounds; ++round) {
            passCopy = Best(passCopy, Measure(halftone, folder, false, 1, 1));
            SetPackHelpers(0);
            passCopyAlone = Best(passCopyAlone, Measure(halftone, folder, false, 1, 1));
            SetPackHelpers(helpers);
            passOnly = Best(passOnly, Measure(halftone, folder, false, 0, 1));
        }
        Print("pass-through, keeping a packed copy", passCopy, "(policy 1, the default)");
        Print("pass-through, packed copy, packing alone", passCopyAlone, "");
        Print("pass-through, no copy", passOnly, "(policy 0)");
        std::printf("%-44s goal >= 2000 MB/s\n", "  pass-through");
        ok = ok && passCopy.Ok && passCopyAlone.Ok && passOnly.Ok;
    }
    std::filesystem::remove_all(folder);
    return ok ? 0 : 1;
}
