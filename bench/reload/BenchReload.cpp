// The start-up reload of 10,000 held jobs in the real module program: spool files (a header and
// one small block) and the hold file made beforehand, then the CompletedSendTerminators call that
// reloads them, timed by the benchmark as the workflow server on a private bus with the store; also
// until the server has the module's last label (the count of jobs in process). The reference, in
// the same run, is the benchmark reading every spool file's header itself. Usage: bench_reload
// [JOBS [RUNS]]   (defaults: 10000 jobs, 3 runs)

#include "bench/support/BenchPeers.h"
#include "bench/support/HeldJobs.h"

#include <QCoreApplication>
#include <QDBusVariant>
#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>

using namespace raduvuz::bench;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int jobs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    std::printf("Reload of %d held jobs at start, %d runs; the real programs on a private bus\n",
                jobs, runs);
    std::vector<double> callMs;
    std::vector<double> labelMs;
    std::vector<double> headersMs;
    for (int run = 0; run < runs; ++run) {
        TBenchWorld world(QStringLiteral(RADUVUZ_PROGRAM), QStringLiteral(MEMORYMAN_PATH));
        const QString module = world.Start() ? world.StartModule() : QString();
        if (module.isEmpty() || !MakeHeldJobs(world, QStringLiteral("Reload"), jobs)) {
            std::fprintf(stderr, "bench_reload: %s\n", qPrintable(world.Error));
            return 1;
        }
        const QString reference = world.Bus().baseService() + QStringLiteral("/Workflow");
        const std::vector<std::pair<QString, QVariantList>> setup = {
            {QStringLiteral("Init"), {3, QStringLiteral("Reload"), reference}},
            {QStringLiteral("LoadConfig"), {QStringLiteral("Reload")}},
            {QStringLiteral("ClearFlowEntrySet"), {}},
            {QStringLiteral("AddFlowEntry"), {12, QStringLiteral("Device=1")}},
            {QStringLiteral("ClearTerminatorsSet"), {}},
            {QStringLiteral("AddTerminator"),
             {1, QStringLiteral("Press"), QVariant::fromValue(QDBusVariant(0))}}};
        for (const auto& [method, args] : setup) {
            if (world.CallModule(module, method, args).type() != QDBusMessage::ReplyMessage) {
                std::fprintf(stderr, "bench_reload: %s\n", qPrintable(world.Error));
                return 1;
            }
        }
        const QString count = QString::number(jobs);
        QElapsedTimer clock;
        clock.start();
        world.CallModule(module, QStringLiteral("CompletedSendTerminators"));
        callMs.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        if (!ServeUntil([&] { return world.Server().Labels[3] == count; }, 120000)) {
            std::fprintf(stderr, "bench_reload: the module's label is %s, not %s\n",
                         qPrintable(world.Server().Labels[3]), qPrintable(count));
            return 1;
        }
        labelMs.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        headersMs.push_back(ReadHeldJobHeaders(world, QStringLiteral("Reload"), jobs));
    }
    std::printf("  reading every header, the reference  %s\n",
                Figures(StatsOf(headersMs), "ms", 0).c_str());
    std::printf("  the reload call                      %s\n",
                Figures(StatsOf(callMs), "ms", 0).c_str());
    std::printf("  until the server has the last label  %s (median %.1f times the reference)\n",
                Figures(StatsOf(labelMs), "ms", 0).c_str(),
                StatsOf(labelMs).Median / StatsOf(headersMs).Median);
    return 0;
}
