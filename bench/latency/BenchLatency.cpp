// How long a 1 MB job takes from "available in the store" to "output document complete", through
// one pass-through module and through a chain of three, with the real programs on a private
// bus: dbus-daemon, memoryman and raduvuz modules; the benchmark is the workflow server and the
// sink. Both moments are the store's own signals as the benchmark receives them
// (DocumentAvailable of the input for the first module, DocumentClosed of the output for the
// sink), so the bus delays them alike. The reference is one call to the store and its reply.
// Usage: bench_latency [RUNS [BLOCK-KIB]]   (defaults: 20 runs; 64 KiB blocks, then 1 MiB ones)

#include "bench/support/BenchPeers.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <map>

namespace {

using namespace raduvuz;
using namespace raduvuz::bench;

constexpr int kSink = 12;
constexpr int kWarmUpRuns = 2;
constexpr int kJobBytes = 1 << 20;

// When the benchmark heard of each document: made for a module, and finished.
class TStoreWatch : public QObject {
    Q_OBJECT

public:
    QElapsedTimer Clock;
    std::map<int, double> AvailableAt;
    std::map<int, int> ModuleOf;
    std::map<int, double> ClosedAt;
    int SinkDoc = 0;

    TStoreWatch() { Clock.start(); }

public slots:
    void DocumentAvailable(int module, int doc) {
        // Only the first notice of a document: later ones tell of more blocks.
        if (ModuleOf.count(doc) == 0) {
            AvailableAt[doc] = Now();
            ModuleOf[doc] = module;
        }
        if (module == kSink)
            SinkDoc = doc;
    }
    void DocumentClosed(int doc, bool aborted) {
        if (!aborted)
            ClosedAt[doc] = Now();
    }

private:
    double Now() const { return static_cast<double>(Clock.nsecsElapsed()) / 1e6; }
};

// A raster-like page: runs of ink and paper, as a halftone has.
QByteArray Page() {
    QByteArray page(kJobBytes, '\0');
    for (int i = 0; i < kJobBytes; ++i)
        page[i] = static_cast<char>(((i / 5) % 4 == 0) ? 0xFF : ((i % 512) < 256 ? 0 : 0x7F));
    return page;
}

// Runs the job through modules 3, 5, ... in turn and on to the sink; the latency of each run in
// milliseconds, or none when the chain could not be set up.
std::vector<double> Chain(int modules, int runs, int blockSize, const QString& pagePath,
                          std::vector<double>* roundTrips) {
    TBenchWorld world(QStringLiteral(RADUVUZ_PROGRAM), QStringLiteral(MEMORYMAN_PATH));
    if (!world.Start()) {
        std::fprintf(stderr, "bench_latency: %s\n", qPrintable(world.Error));
        return {};
    }
    TStoreWatch watch;
    const QString store = QStringLiteral("RozEza.MemoryMan");
    const QString path = QStringLiteral("/MemoryMan");
    world.Bus().connect(store, path, store, QStringLiteral("DocumentAvailable"), &watch,
                        SLOT(DocumentAvailable(int, int)));
    world.Bus().connect(store, path, store, QStringLiteral("DocumentClosed"), &watch,
                        SLOT(DocumentClosed(int, bool)));
    for (int m = 0; m < modules; ++m) {
        const int number = 3 + 2 * m;
        const int next = m + 1 < modules ? number + 2 : kSink;
        const QString service = world.StartModule();
        if (service.isEmpty() ||
            !world.Configure(service, number, QStringLiteral("Chain%1").arg(number),
                             {{next, QStringLiteral("Device=1")}})) {
            std::fprintf(stderr, "bench_latency: %s\n", qPrintable(world.Error));
            return {};
        }
    }
    const QString sinkFolder = QDir(world.Folder()).filePath(QStringLiteral("sink"));
    QDir().mkpath(sinkFolder);
    const QString dds =
        QStringLiteral("Name=bench;FileName=bench.rst;File=RST;Device=1;Size=%1").arg(kJobBytes);

    std::vector<double> latencies;
    for (int run = 0; run < kWarmUpRuns + runs; ++run) {
        watch.SinkDoc = 0;
        const QDBusMessage fed =
            world.CallStore(QStringLiteral("PutFile"), {pagePath, dds, blockSize, 3});
        if (fed.type() != QDBusMessage::ReplyMessage) {
            std::fprintf(stderr, "bench_latency: %s\n", qPrintable(world.Error));
            return {};
        }
        const int input = fed.arguments().value(0).toInt();
        const bool done = ServeUntil(
            [&] { return watch.SinkDoc != 0 && watch.ClosedAt.count(watch.SinkDoc) > 0; }, 60000);
        if (!done || watch.AvailableAt.count(input) == 0) {
            std::fprintf(stderr, "bench_latency: run %d: the output never came\n", run);
            return {};
        }
        if (run >= kWarmUpRuns)
            latencies.push_back(watch.ClosedAt[watch.SinkDoc] - watch.AvailableAt[input]);
        // The sink takes the document, so the modules find their destination free again.
        world.CallStore(QStringLiteral("TakeFinished"), {kSink, sinkFolder});
        QDir(sinkFolder).removeRecursively();
        QDir().mkpath(sinkFolder);
        ServeUntil([] { return false; }, 100);
    }
    if (roundTrips) {
        for (int i = 0; i < runs; ++i) {
            QElapsedTimer clock;
            clock.start();
            world.CallStore(QStringLiteral("IsDocForExists"), {kSink});
            roundTrips->push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        }
    }
    return latencies;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    std::vector<int> blockSizesKib{64, 1024};
    if (argc > 2)
        blockSizesKib = {std::max(1, std::atoi(argv[2]))};
    QTemporaryDir pages;
    const QString pagePath = QDir(pages.path()).filePath(QStringLiteral("bench.rst"));
    QFile page(pagePath);
    if (!page.open(QIODevice::WriteOnly) || page.write(Page()) != kJobBytes) {
        std::fprintf(stderr, "bench_latency: cannot write %s\n", qPrintable(pagePath));
        return 1;
    }
    page.close();

    std::printf("A 1 MiB job from \"available in the store\" to \"output document complete\", %d "
                "runs each; the real programs on a private bus\n",
                runs);
    for (const int blockKib : blockSizesKib) {
        std::vector<double> roundTrips;
        const std::vector<double> one = Chain(1, runs, blockKib * 1024, pagePath, &roundTrips);
        const std::vector<double> three = Chain(3, runs, blockKib * 1024, pagePath, nullptr);
        if (one.empty() || three.empty())
            return 1;
        const TStats trip = StatsOf(roundTrips);
        const TStats oneStats = StatsOf(one);
        const TStats threeStats = StatsOf(three);
        std::printf("%d KiB blocks\n", blockKib);
        std::printf("  one store call, the reference    %s\n", Figures(trip, "ms", 3).c_str());
        std::printf("  one pass-through module          %s (median %.0f store calls)\n",
                    Figures(oneStats, "ms").c_str(), oneStats.Median / trip.Median);
        std::printf("  a chain of three                 %s (median %.0f store calls)\n",
                    Figures(threeStats, "ms").c_str(), threeStats.Median / trip.Median);
        std::fflush(stdout);
    }
    return 0;
}

#include "BenchLatency.moc"
