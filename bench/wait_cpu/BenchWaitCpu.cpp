// CPU used by a whole workflow while its jobs wait for a paused destination: twf drives a
// spool-mode module on a private bus, feeds it the jobs, and its sink stays paused. Once every
// job is spooled and waiting, the module, twf, memoryman and the bus daemon are measured
// together from /proc/<pid>/stat for a while. The reference, in the same run, is the same
// workflow with no job at all.
// Usage: bench_wait_cpu [SECONDS [RUNS]]   (defaults: 30 s, 3 runs of each)

#include "bench/support/BenchPeers.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

using namespace raduvuz::bench;

struct TShare {
    double Total = 0;
    std::map<std::string, double> ByProgram;
};

int CountInLog(const QString& log, const QString& text) {
    QFile file(log);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return static_cast<int>(QString::fromUtf8(file.readAll()).count(text));
}

// One run: jobs waiting for the paused sink; the share of one core the four programs used
// during the measured seconds, or a negative total when the run failed.
TShare Run(int jobs, int seconds) {
    TShare share;
    share.Total = -1;
    QTemporaryDir root;
    QDir dir(root.path());
    const QString program = MakeTwfFolder(dir, QStringLiteral(RADUVUZ_PROGRAM));
    if (program.isEmpty())
        return share;
    const QByteArray page(16384, '\x55');
    if (!WritePages(dir, jobs, page))
        return share;
    QString ini = QStringLiteral("[workflow]\nname = Wait\nbus = private\ntimeout = 3600\n"
                                 "expect = 1\nmodule-program = %1\nstore-program = %2\n"
                                 "[module 3]\nname = Queue\nconfig-key = Wait\nflow = 12: "
                                 "Device=1\nvalue = 52: 1\n"
                                 "[sink 12]\nname = Paused printer\nfolder = out\npaused = yes\n"
                                 "[terminator 1]\nname = Printer\nkey = PRN\n")
                      .arg(program, QStringLiteral(MEMORYMAN_PATH));
    if (jobs > 0)
        ini += QStringLiteral("[input]\nto = 3\nfolder = pages\n");
    const QString workflow = dir.filePath(QStringLiteral("wait.ini"));
    const QString log = dir.filePath(QStringLiteral("wait.log"));
    if (!WriteFile(workflow, ini.toUtf8()))
        return share;

    QProcess twf;
    if (!StartTwf(twf, QStringLiteral(TWF_PATH), dir, log, workflow))
        return share;

    // Every job spooled and waiting (or, without jobs, the workflow running), then a few
    // seconds for what follows to settle.
    QElapsedTimer clock;
    clock.start();
    const auto ready = [&] {
        return jobs > 0 ? CountInLog(log, QStringLiteral(" spooled at ")) >= jobs
                        : CountInLog(log, QStringLiteral("workflow running")) > 0;
    };
    while (!ready() && clock.elapsed() < 600000 && twf.state() == QProcess::Running)
        QThread::msleep(200);
    if (!ready()) {
        std::fprintf(stderr, "bench_wait_cpu: the jobs did not all come in (see %s)\n",
                     qPrintable(log));
        root.setAutoRemove(false);
        return share;
    }
    QThread::sleep(4);

    std::vector<qint64> pids{twf.processId()};
    for (qint64 child : ChildrenOf(twf.processId()))
        pids.push_back(child);
    std::map<qint64, double> before;
    for (qint64 pid : pids)
        before[pid] = ProcessCpuSeconds(pid);
    QElapsedTimer wall;
    wall.start();
    QThread::sleep(static_cast<unsigned long>(seconds));
    const double elapsed = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    share.Total = 0;
    for (qint64 pid : pids) {
        const double used = ProcessCpuSeconds(pid) - before[pid];
        const double percent = 100.0 * used / elapsed;
        share.Total += percent;
        share.ByProgram[ProcessName(pid)] += percent;
    }
    ::kill(static_cast<pid_t>(twf.processId()), SIGTERM);
    if (!twf.waitForFinished(30000))
        twf.kill();
    return share;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    std::printf("CPU of the module, twf, memoryman and the bus daemon together while jobs wait for "
                "a paused destination, %d s per run, %d runs; real programs on a private bus\n",
                seconds, runs);
    for (const int jobs : {0, 1, 1000}) {
        std::vector<double> totals;
        std::map<std::string, std::vector<double>> programs;
        for (int run = 0; run < runs; ++run) {
            const TShare share = Run(jobs, seconds);
            if (share.Total < 0)
                return 1;
            totals.push_back(share.Total);
            for (const auto& [name, percent] : share.ByProgram)
                programs[name].push_back(percent);
        }
        std::string parts;
        for (const auto& [name, values] : programs) {
            char part[64];
            std::snprintf(part, sizeof part, "%s%s %.2f", parts.empty() ? "" : ", ", name.c_str(),
                          StatsOf(values).Median);
            parts += part;
        }
        const char* what = jobs == 0   ? "no job (the reference)"
                           : jobs == 1 ? "1 waiting job"
                                       : "1,000 waiting jobs";
        std::printf("  %-24s %s of one core (medians: %s)\n", what,
                    Figures(StatsOf(totals), "%", 2).c_str(), parts.c_str());
        std::fflush(stdout);
    }
    return 0;
}
