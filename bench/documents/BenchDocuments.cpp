// Documents per second through one module, many small documents at once: twf feeds them all to
// the module on a private bus (real dbus-daemon, memoryman, raduvuz and twf) and its sink takes
// each one as it is finished. The pace is the documents over the time from the first one fed to
// the last one received, both from twf's own log. The reference, in the same run, is the same
// documents fed straight to the sink, with no module between: what the store and the sink alone
// can do on this machine.
// Usage: bench_documents [DOCUMENTS [RUNS [KIB [sink|pass|spool]]]]
//        (defaults: 500 documents, 3 runs, 64 KiB, every route; one route alone is for profiling)

#include "bench/support/BenchPeers.h"
#include "platform/TCompoundFile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace raduvuz;
using namespace raduvuz::bench;

enum class TRoute { SinkAlone, PassThrough, Spool };

struct TPace {
    double PerSecond = -1;
    double Seconds = 0;
};

// The module's settings as LoadConfig reads them: a compound file with one counted stream.
bool WriteSettings(const QString& path, const std::string& key, const std::string& text) {
    TCompoundFile file;
    return file.Create(path.toStdString()) && file.WriteCountedText(key, text);
}

// The time stamp at the start of a twf log line, in ms since the epoch; -1 when there is none.
qint64 StampOf(const QByteArray& line) {
    const QDateTime at = QDateTime::fromString(QString::fromLatin1(line.left(23)),
                                               QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    return at.isValid() ? at.toMSecsSinceEpoch() : -1;
}

// From twf's log: the time from the first document fed to the last one received, and how many
// were received.
bool ReadLog(const QString& log, qint64* firstFed, qint64* lastReceived, int* received) {
    QFile file(log);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *firstFed = -1;
    *lastReceived = -1;
    *received = 0;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (*firstFed < 0 && line.contains(" fed "))
            *firstFed = StampOf(line);
        if (line.contains(": received ")) {
            *lastReceived = StampOf(line);
            ++*received;
        }
    }
    return *firstFed >= 0 && *lastReceived >= *firstFed;
}

// Each run works in a folder of its own under `folders`, all removed when the benchmark ends. On
// a file system without a journal, ext4 passes over every inode freed in the last minute when it
// makes a file, so removing one run's thousands of files before the next would slow the next
// one's every file.
TPace Run(const QTemporaryDir& folders, int number, TRoute route, int documents, int kib) {
    TPace pace;
    QDir dir(folders.path());
    if (!dir.mkdir(QString::number(number)) || !dir.cd(QString::number(number)))
        return pace;
    const QString program = MakeTwfFolder(dir, QStringLiteral(RADUVUZ_PROGRAM));
    if (program.isEmpty() || !dir.mkpath(QStringLiteral("xdg/TWF_Data/Config")))
        return pace;
    // Raster-like bytes: runs of ink and paper, so a spooled copy packs as pages do.
    QByteArray page(kib * 1024, '\0');
    for (qsizetype i = 0; i < page.size(); ++i)
        page[i] = static_cast<char>(((i / 5) % 4 == 0) ? 0xFF : ((i % 512) < 256 ? 0 : 0x7F));
    if (!WritePages(dir, documents, page))
        return pace;
    // The default policy keeps passed jobs for a day, so a pass-through module also writes a
    // packed copy of each document; spool mode spools each one before it is sent.
    const std::string settings = std::string("DeletePolicy=1;KeepTime=1440;Copies=0;WorkMode=") +
                                 (route == TRoute::Spool ? "1" : "0");
    if (!WriteSettings(dir.filePath(QStringLiteral("xdg/TWF_Data/Config/Docs.set")), "Docs",
                       settings))
        return pace;
    QString ini = QStringLiteral("[workflow]\nname = Documents\nbus = private\ntimeout = 600\n"
                                 "expect = %1\nmodule-program = %2\nstore-program = %3\n"
                                 "store-options = --memory-limit 1024M\n"
                                 "[sink 12]\nname = Printer\nfolder = out\n"
                                 "[terminator 1]\nname = Printer\nkey = PRN\n")
                      .arg(documents)
                      .arg(program, QStringLiteral(MEMORYMAN_PATH));
    if (route == TRoute::SinkAlone) {
        ini += QStringLiteral("[input]\nto = 12\nfolder = pages\n");
    } else {
        ini += QStringLiteral("[module 3]\nname = Queue\nconfig-key = Docs\nflow = 12: Device=1\n"
                              "[input]\nto = 3\nfolder = pages\n");
    }
    const QString workflow = dir.filePath(QStringLiteral("documents.ini"));
    const QString log = dir.filePath(QStringLiteral("documents.log"));
    if (!WriteFile(workflow, ini.toUtf8()))
        return pace;

    QProcess twf;
    if (!StartTwf(twf, QStringLiteral(TWF_PATH), dir, log, workflow) ||
        !twf.waitForFinished(900000)) {
        std::fprintf(stderr, "bench_documents: twf did not end (see %s)\n", qPrintable(log));
        return pace;
    }
    qint64 firstFed = 0;
    qint64 lastReceived = 0;
    int received = 0;
    if (twf.exitCode() != 0 || !ReadLog(log, &firstFed, &lastReceived, &received) ||
        received != documents) {
        std::fprintf(stderr,
                     "bench_documents: %d of %d documents received, twf exit code %d (see %s)\n",
                     received, documents, twf.exitCode(), qPrintable(log));
        return pace;
    }
    pace.Seconds = static_cast<double>(lastReceived - firstFed) / 1000.0;
    pace.PerSecond = documents / std::max(pace.Seconds, 0.001);
    return pace;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int documents = argc > 1 ? std::max(1, std::atoi(argv[1])) : 500;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const int kib = argc > 3 ? std::max(1, std::atoi(argv[3])) : 64;
    const std::string only = argc > 4 ? argv[4] : "";
    const struct {
        TRoute Route;
        const char* Key;
        const char* Name;
        const char* Goal;
    } routes[] = {{TRoute::SinkAlone, "sink", "the sink alone, the reference", ""},
                  {TRoute::PassThrough, "pass", "one pass-through module", "goal >= 500/s"},
                  {TRoute::Spool, "spool", "one spool-mode module", "goal >= 300/s"}};
    if (!only.empty() && only != "sink" && only != "pass" && only != "spool") {
        std::fprintf(stderr, "bench_documents: the route is sink, pass or spool, not %s\n",
                     only.c_str());
        return 2;
    }
    double load[3] = {};
    ::getloadavg(load, 3);
    std::printf("%d documents of %d KiB fed at once, from the first fed to the last at the sink; "
                "twf, memoryman, raduvuz on a private bus; %d runs, min / median / max; load "
                "average at the start %.2f\n",
                documents, kib, runs, load[0]);
    // Rounds alternate the routes, so a machine that slows down weighs on each alike.
    std::vector<double> rates[3];
    QTemporaryDir folders;
    int number = 0;
    for (int run = 0; run < runs; ++run) {
        for (int r = 0; r < 3; ++r) {
            if (!only.empty() && only != routes[r].Key)
                continue;
            const TPace pace = Run(folders, ++number, routes[r].Route, documents, kib);
            if (pace.PerSecond < 0) {
                // Kept for its logs.
                folders.setAutoRemove(false);
                return 1;
            }
            rates[r].push_back(pace.PerSecond);
        }
    }
    for (int r = 0; r < 3; ++r) {
        if (rates[r].empty())
            continue;
        std::printf("  %-32s %s", routes[r].Name,
                    Figures(StatsOf(rates[r]), "documents/s", 0).c_str());
        if (r > 0 && !rates[0].empty()) {
            std::vector<double> ratios;
            for (size_t run = 0; run < rates[r].size(); ++run)
                ratios.push_back(rates[r][run] / rates[0][run]);
            std::printf("  (%s of the reference)", Figures(StatsOf(ratios), "x", 2).c_str());
        }
        std::printf("  %s\n", routes[r].Goal);
    }
    ::getloadavg(load, 3);
    std::printf("load average at the end %.2f\n", load[0]);
    return 0;
}
