// Throughput of the processing cycle on 16 MiB blocks of halftone data. The document store is
// memoryman's own store logic with its shared-memory blocks, bound in process through the same
// late-bound interface the module calls over D-Bus, so the figures are the module's work (plus
// the store's bookkeeping), not the bus's. The spool path is measured against an anchor in the
// same rounds: the simplest correct packer on two threads, with the fast PackBits encoder of
// bench_packbits. Figures are min / median / max of the rounds.
// Usage: bench_cycle_throughput [SPOOL-FOLDER [spool|pass]] [--burn]
// The spool folder defaults to /dev/shm, so that the disk's speed is not measured; the second
// argument runs only that part (for a profiler); --burn keeps one core busy with a second process.

#include "common/Types.h"
#include "control/IEventLoop.h"
#include "control/TModuleControl.h"
#include "jobs/BlockPacker.h"
#include "jobs/PackBits.h"
#include "jobs/TDoc.h"
#include "jobs/TJobListModel.h"
#include "packbits/FastPackBits.h"
#include "platform/System.h"
#include "spool/RasterSamples.h"
#include "support/ModuleInside.h"
#include "tools/memoryman/TMemoryStore.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace raduvuz;
using TClock = std::chrono::steady_clock;

constexpr int32_t kBlockSize = 16 << 20;
constexpr int kBlocksPerDoc = 4;
constexpr int kDocs = 6;
constexpr int kRounds = 7;
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
            Inside(module).Current = true;
            Inside(module).ModuleNumber = kModule;
            Inside(module).Event = false;
            Inside(module).Paused = false;
            Inside(module).StoreDir = folder;
            Inside(module).ConfigKey = "Bench";
            Inside(module).JobDir = folder + "/Bench";
            std::filesystem::remove_all(module.GetJobDir());
            std::filesystem::create_directories(module.GetJobDir());
            Inside(module).WorkMode = spool ? 1 : 0;
            Inside(module).DeletePolicy = deletePolicy;
            Inside(module).FlowEntries = {{"Device=1", kDest}};
            // Spooled jobs wait held, so the tick ends once every document is in its file.
            if (spool)
                Inside(module).HoldList = {{"Bench", 1}};

            const double took = Seconds([&module] { module.Tick(); });
            result.Seconds = std::min(result.Seconds, took);
            result.Bytes = fed;
            if (spool) {
                int held = 0;
                for (const TDoc* job : module.JobsInProcess())
                    held += job->Held() ? 1 : 0;
                result.Ok = result.Ok && held == kDocs && store.DocumentCount() == 0;
            } else {
                result.Ok = result.Ok && drain.Documents == kDocs && drain.Bytes == fed;
            }
            std::filesystem::remove_all(module.GetJobDir());
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

bool WriteAll(int fd, const uint8_t* data, int64_t count) {
    while (count > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(count));
        if (n <= 0)
            return false;
        data += n;
        count -= n;
    }
    return true;
}

int64_t PackHalf(const uint8_t* data, int64_t size, uint8_t* target) {
    int64_t packed = 0;
    for (int64_t at = 0; at < size; at += PackBitsPieceSize)
        packed +=
            bench::FastPackBits(data + at, std::min(PackBitsPieceSize, size - at), target + packed);
    return packed;
}

// The anchor: the simplest correct packer on two threads. Each block is split in halves, each
// half packed piece by piece with the fast encoder on a thread of its own, and the halves are
// written to a file in order; the file is flushed after each document, as a spool file is.
TResult AnchorTwoThreads(const std::vector<std::vector<uint8_t>>& blocks,
                         const std::string& folder) {
    const std::string path = folder + "/anchor";
    const int64_t half = kBlockSize / 2;
    std::vector<uint8_t> first(static_cast<size_t>(PackBitsBlockBound(half)));
    std::vector<uint8_t> second(first.size());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    bool ok = fd >= 0;
    TResult result;
    result.Seconds = Seconds([&] {
        for (size_t b = 0; ok && b < blocks.size(); ++b) {
            const uint8_t* block = blocks[b].data();
            int64_t firstSize = 0;
            std::thread helper([&] { firstSize = PackHalf(block, half, first.data()); });
            const int64_t secondSize = PackHalf(block + half, kBlockSize - half, second.data());
            helper.join();
            ok = WriteAll(fd, first.data(), firstSize) && WriteAll(fd, second.data(), secondSize);
            if ((b + 1) % kBlocksPerDoc == 0)
                ok = ok && ::fdatasync(fd) == 0;
        }
    });
    if (fd >= 0)
        ::close(fd);
    std::filesystem::remove(path);
    result.Bytes = static_cast<int64_t>(blocks.size()) * kBlockSize;
    result.Ok = ok;
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

// min / median / max of one figure over the rounds.
struct TSpread {
    std::vector<double> Values;
    bool Ok = true;
    void Add(double value, bool ok = true) {
        Values.push_back(value);
        Ok = Ok && ok;
    }
    double At(double fraction) const {
        std::vector<double> sorted = Values;
        std::sort(sorted.begin(), sorted.end());
        return sorted[static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5)];
    }
};

void PrintSpread(const char* what, const TSpread& r, const char* unit, const char* note) {
    const bool rate = std::strcmp(unit, "MB/s") == 0;
    std::printf(rate ? "%-52s %6.0f %6.0f %6.0f %s  %s%s\n" : "%-52s %6.2f %6.2f %6.2f %s  %s%s\n",
                what, r.At(0), r.At(0.5), r.At(1), unit, r.Ok ? "" : "WRONG RESULT ", note);
}

std::string LoadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one;
    std::string five;
    file >> one >> five;
    return one + " (1 min), " + five + " (5 min)";
}

// A second process that keeps one core busy until it is killed.
pid_t StartBurner() {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        volatile uint64_t spin = 0;
        for (;;)
            spin = spin + 1;
    }
    return pid;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args;
    bool burn = false;
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--burn") == 0)
            burn = true;
        else
            args.emplace_back(argv[k]);
    }
    std::string folder = !args.empty() ? args[0] : "/dev/shm";
    if (!std::filesystem::is_directory(folder))
        folder = std::filesystem::temp_directory_path().string();
    folder += "/raduvuz-bench-" + std::to_string(::getpid());
    std::filesystem::create_directories(folder);
    const pid_t burner = burn ? StartBurner() : -1;

    const std::vector<uint8_t> halftone = testing::HalftoneRaster(int64_t(4) * kBlockSize, 1);
    std::printf("Processing cycle, in-process store; %d documents of %d blocks of 16 MiB of "
                "halftone data per round, %d rounds, min / median / max; MB/s = 10^6 input "
                "bytes/s\n",
                kDocs, kBlocksPerDoc, kRounds);
    std::printf("spool files in %s; %s; load average at the start: %s\n", folder.c_str(),
                burn ? "a second process keeps one core busy" : "nothing else started",
                LoadAverage().c_str());
    const std::string part = args.size() > 1 ? args[1] : "";
    const int helpers = PackHelpers();
    std::printf("spool copies are packed by the calling thread, which also writes them, and %d "
                "helper thread%s; \"alone\" rows pack on the calling thread only\n",
                helpers, helpers == 1 ? "" : "s");
    bool ok = true;
    if (part.empty() || part == "spool") {
        // The anchor packs the same blocks, each in memory of its own as in the store.
        std::vector<std::vector<uint8_t>> blocks;
        for (int b = 0; b < kDocs * kBlocksPerDoc; ++b) {
            const auto* from = halftone.data() + static_cast<size_t>(b % 4) * kBlockSize;
            blocks.emplace_back(from, from + kBlockSize);
        }
        // Rounds alternate the sides, so that a busy machine hurts all alike.
        TSpread anchor;
        TSpread spool;
        TSpread spoolAlone;
        TSpread pack;
        TSpread ratio;
        for (int round = 0; round < kRounds; ++round) {
            const TResult a = AnchorTwoThreads(blocks, folder);
            SetPackHelpers(helpers);
            const TResult s = Measure(halftone, folder, true, 1, 1);
            SetPackHelpers(0);
            const TResult alone = Measure(halftone, folder, true, 1, 1);
            const TResult p = PackOnly(halftone, true, 1);
            anchor.Add(Rate(a), a.Ok);
            spool.Add(Rate(s), s.Ok);
            spoolAlone.Add(Rate(alone), alone.Ok);
            pack.Add(Rate(p), p.Ok);
            ratio.Add(Rate(s) / Rate(a), a.Ok && s.Ok);
        }
        SetPackHelpers(helpers);
        PrintSpread("anchor: 2 threads, fast encoder, halves in order", anchor, "MB/s", "");
        PrintSpread("spool path: store -> spool file (packed)", spool, "MB/s", "");
        PrintSpread("spool path, packing on the calling thread alone", spoolAlone, "MB/s", "");
        PrintSpread("PackBits alone, one thread, blocks in own memory", pack, "MB/s", "");
        PrintSpread("  spool path / anchor", ratio, "x   ", "goal >= 1.3 (>= 2,400 MB/s)");
        ok = ok && anchor.Ok && spool.Ok && spoolAlone.Ok;
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
        Print("pass-through, keeping a packed copy", passCopy, "(policy 1, the default; best)");
        Print("pass-through, packed copy, packing alone", passCopyAlone, "(best)");
        Print("pass-through, no copy", passOnly, "(policy 0; best)");
        std::printf("%-44s goal >= 2000 MB/s\n", "  pass-through");
        ok = ok && passCopy.Ok && passCopyAlone.Ok && passOnly.Ok;
    }
    std::printf("load average at the end: %s\n", LoadAverage().c_str());
    if (burner > 0) {
        ::kill(burner, SIGKILL);
        ::waitpid(burner, nullptr, 0);
    }
    std::filesystem::remove_all(folder);
    return ok ? 0 : 1;
}
