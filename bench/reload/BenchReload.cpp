// The real module program with many held jobs: spool files (a header and one small block) and the
// hold file made beforehand, then, as the workflow server on a private bus with the store:
//  - the CompletedSendTerminators call that reloads them, until the server has the module's last
//    label (the count of jobs in process), against the anchor of the benchmark reading every
//    spool file's header itself in the same run;
//  - a whole ListJobs and the module's resident memory before it and a second after it;
//  - ListJobsSince after a change of one row (its priority), which must move that row alone;
//  - Close, which lets go of every job and writes the hold file.
// Usage: bench_reload [JOBS [RUNS]]   (defaults: 100000 jobs, 3 runs)

#include "bench/support/BenchPeers.h"
#include "bench/support/HeldJobs.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusVariant>
#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>
#include <fstream>

using namespace raduvuz::bench;

namespace {

// Changes of one row, each followed by the ListJobsSince that fetches it.
constexpr int kOneRowChanges = 20;

double ElapsedMs(const QElapsedTimer& clock) {
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

// Resident memory of a process in MB, from /proc/<pid>/status; -1 when it is gone.
double ResidentMb(qint64 pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    }
    return -1;
}

QList<QVariantMap> RowsOf(const QVariant& value) {
    return qdbus_cast<QList<QVariantMap>>(value.value<QDBusArgument>());
}

void PrintLine(const char* what, const std::vector<double>& values, const char* unit,
               int decimals = 0) {
    std::printf("  %-44s %s\n", what, Figures(StatsOf(values), unit, decimals).c_str());
}

bool Failed(const TBenchWorld& world, const char* what) {
    std::fprintf(stderr, "bench_reload: %s%s%s\n", what, world.Error.isEmpty() ? "" : ": ",
                 qPrintable(world.Error));
    return false;
}

struct TRun {
    double HeadersMs = 0;
    double ReloadMs = 0;
    double ReloadCpuMs = 0;
    double ListMs = 0;
    double BeforeListMb = 0;
    double AfterListMb = 0;
    std::vector<double> SinceMs;
    double CloseMs = 0;
    double CloseCpuMs = 0;
};

bool RunOnce(int jobs, TRun& run) {
    TBenchWorld world(QStringLiteral(RADUVUZ_PROGRAM), QStringLiteral(MEMORYMAN_PATH));
    qint64 pid = 0;
    // The files first: on a loaded machine making them outlasts the module's wait for Init.
    const bool made = world.Start() && MakeHeldJobs(world, QStringLiteral("Reload"), jobs);
    const QString module = made ? world.StartModule(&pid) : QString();
    if (module.isEmpty())
        return Failed(world, "cannot start");
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
        if (world.CallModule(module, method, args).type() != QDBusMessage::ReplyMessage)
            return Failed(world, "cannot set the module up");
    }

    const QString count = QString::number(jobs);
    QElapsedTimer clock;
    double cpu = ProcessCpuSeconds(pid);
    clock.start();
    world.CallModule(module, QStringLiteral("CompletedSendTerminators"));
    if (!ServeUntil([&] { return world.Server().Labels[3] == count; }, 600000))
        return Failed(world, "the module's label never counted every job");
    run.ReloadMs = ElapsedMs(clock);
    run.ReloadCpuMs = 1000 * (ProcessCpuSeconds(pid) - cpu);
    run.HeadersMs = ReadHeldJobHeaders(world, QStringLiteral("Reload"), jobs);

    ServeUntil([] { return false; }, 500);
    run.BeforeListMb = ResidentMb(pid);
    clock.restart();
    QDBusMessage reply = world.CallModule(module, QStringLiteral("ListJobs"));
    run.ListMs = ElapsedMs(clock);
    if (reply.type() != QDBusMessage::ReplyMessage ||
        RowsOf(reply.arguments().value(0)).size() != static_cast<qsizetype>(jobs))
        return Failed(world, "ListJobs did not answer every row");
    reply = QDBusMessage();
    ServeUntil([] { return false; }, 1000);
    run.AfterListMb = ResidentMb(pid);

    reply = world.CallModule(module, QStringLiteral("ListJobsSince"),
                             {QVariant::fromValue(qulonglong(0))});
    if (reply.type() != QDBusMessage::ReplyMessage)
        return Failed(world, "ListJobsSince failed");
    qulonglong serial = reply.arguments().value(0).toULongLong();
    const uint id =
        RowsOf(reply.arguments().value(1)).value(0).value(QStringLiteral("id")).toUInt();
    reply = QDBusMessage();
    for (int change = 0; change < kOneRowChanges; ++change) {
        if (world
                .CallModule(module, QStringLiteral("SetPriority"),
                            {QVariant::fromValue(QList<uint>{id}), 1 + change % 9})
                .type() != QDBusMessage::ReplyMessage)
            return Failed(world, "SetPriority failed");
        clock.restart();
        reply = world.CallModule(module, QStringLiteral("ListJobsSince"),
                                 {QVariant::fromValue(serial)});
        run.SinceMs.push_back(ElapsedMs(clock));
        const QList<QVariantMap> rows = RowsOf(reply.arguments().value(1));
        if (rows.size() != 1 || rows.front().value(QStringLiteral("id")).toUInt() != id)
            return Failed(world, "ListJobsSince did not move the changed row alone");
        serial = reply.arguments().value(0).toULongLong();
    }

    cpu = ProcessCpuSeconds(pid);
    clock.restart();
    if (world.CallModule(module, QStringLiteral("Close")).type() != QDBusMessage::ReplyMessage)
        return Failed(world, "Close failed");
    run.CloseMs = ElapsedMs(clock);
    run.CloseCpuMs = 1000 * (ProcessCpuSeconds(pid) - cpu);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int jobs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    std::printf("%d held jobs in the real module, %d runs; the real programs on a private bus\n",
                jobs, runs);
    std::vector<TRun> done;
    for (int i = 0; i < runs; ++i) {
        TRun run;
        if (!RunOnce(jobs, run))
            return 1;
        done.push_back(run);
    }
    const auto column = [&done](double TRun::*field) {
        std::vector<double> values;
        for (const TRun& run : done)
            values.push_back(run.*field);
        return values;
    };
    std::vector<double> ratios;
    std::vector<double> kept;
    std::vector<double> since;
    for (const TRun& run : done) {
        ratios.push_back(run.ReloadMs / run.HeadersMs);
        kept.push_back(100.0 * (run.AfterListMb - run.BeforeListMb) / run.BeforeListMb);
        since.insert(since.end(), run.SinceMs.begin(), run.SinceMs.end());
    }
    PrintLine("anchor: reading every header", column(&TRun::HeadersMs), "ms");
    PrintLine("reload, until the server has the last label", column(&TRun::ReloadMs), "ms");
    PrintLine("  the module's CPU meanwhile", column(&TRun::ReloadCpuMs), "ms");
    PrintLine("ratio reload / anchor, per run", ratios, "x", 2);
    PrintLine("ListJobs of every row", column(&TRun::ListMs), "ms");
    PrintLine("resident before ListJobs", column(&TRun::BeforeListMb), "MB");
    PrintLine("resident a second after it", column(&TRun::AfterListMb), "MB");
    PrintLine("kept after it", kept, "%", 1);
    PrintLine("ListJobsSince after one row changed", since, "ms", 2);
    PrintLine("Close", column(&TRun::CloseMs), "ms");
    PrintLine("  the module's CPU meanwhile", column(&TRun::CloseCpuMs), "ms");
    return 0;
}
