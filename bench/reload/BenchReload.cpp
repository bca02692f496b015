// The start-up reload of 10,000 held jobs in the real module program: spool files (a header and
// one small block) and the hold file made beforehand, then the CompletedSendTerminators call that
// reloads them, timed by the benchmark as the workflow server on a private bus with the store; also
// until the server has the module's last label (the count of jobs in process). The reference, in
// the same run, is the benchmark reading every spool file's header itself. Usage: bench_reload
// [JOBS [RUNS]]   (defaults: 10000 jobs, 3 runs)

#include "bench/support/BenchPeers.h"
#include "common/DateTime.h"
#include "jobs/SpoolFile.h"
#include "platform/TFileStream.h"

#include <QCoreApplication>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <cstdlib>

namespace {

using namespace raduvuz;
using namespace raduvuz::bench;

const TTaggedList kTermKeys{{"TERM1", 1}};

std::string SpoolName(int i) {
    return std::to_string(5000 + i) + "_" + std::to_string(i + 1);
}

// The job folder of module key "Reload" and its hold file naming every job.
bool MakeHeldJobs(const TBenchWorld& world, int jobs) {
    const QString folder = QDir(world.ProgramFolder()).filePath(QStringLiteral("Storage/Reload"));
    QDir().mkpath(folder);
    const TDateTime created = Now();
    std::string hold;
    for (int i = 0; i < jobs; ++i) {
        TFileStream file;
        const std::string name = SpoolName(i);
        const std::string dds = "Name=job" + std::to_string(i) + ";FileName=job" +
                                std::to_string(i) + ".rst;File=RST;Device=1;Priority=5";
        // A whole spool file: the reload sets aside one without its last block.
        const uint8_t block[] = {1, 2, 3};
        if (!file.Open(folder.toStdString() + "/" + name, TFileStream::TMode::CreateExclusive) ||
            !WriteSpoolHeader(file, dds, kTermKeys, created) || !WriteSpoolBlock(file, block, 1))
            return false;
        hold += name + "\n";
    }
    QFile holdFile(QDir(world.DataFolder()).filePath(QStringLiteral("Config/Reload.hld")));
    return holdFile.open(QIODevice::WriteOnly) &&
           holdFile.write(hold.data(), static_cast<qint64>(hold.size())) ==
               static_cast<qint64>(hold.size());
}

double ReadHeaders(const TBenchWorld& world, int jobs) {
    const std::string folder = world.ProgramFolder().toStdString() + "/Storage/Reload/";
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < jobs; ++i) {
        TFileStream file;
        std::string dds;
        TDateTime created = 0;
        if (file.Open(folder + SpoolName(i), TFileStream::TMode::ReadDenyWrite))
            ReadSpoolHeader(file, kTermKeys, dds, created);
    }
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

} // namespace

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
        if (module.isEmpty() || !MakeHeldJobs(world, jobs)) {
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
        headersMs.push_back(ReadHeaders(world, jobs));
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
