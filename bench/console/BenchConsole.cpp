// The console's main window over a module with many held jobs, in one process (no bus, no
// store, no drawing: the offscreen platform): the time the window takes to bring its State and
// Priority columns up to date after one job's priority changed, against the anchor of the
// module's whole listing of its jobs (what the window read after every change before).
// Usage: bench_console [JOBS [CHANGES]]   (defaults: 10000 jobs, 50 changes)

#include "app/TModuleLoop.h"
#include "bench/support/BenchPeers.h"
#include "console/TfMain.h"
#include "control/TJobActions.h"
#include "control/TModuleControl.h"
#include "jobs/TDoc.h"
#include "services/Dispatch.h"
#include "tests/support/ModuleInside.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

using namespace raduvuz;
using namespace raduvuz::bench;

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int jobs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
    const int changes = argc > 2 ? std::max(1, std::atoi(argv[2])) : 50;
    QTemporaryDir folder;
    qputenv("XDG_DATA_HOME", folder.filePath(QStringLiteral("xdg")).toLocal8Bit());
    TModuleProcess process;
    process.ProgramFolder = folder.filePath(QStringLiteral("prog")).toStdString() + "/";
    TModuleLoop loop;
    TModuleControl module(process, loop);
    TfMain window(module.Rows());
    auto server = std::make_shared<TInProcessObject>();
    for (const char* method : {"ChangeStatus", "WriteLog", "ShowLabel", "GetValue"})
        server->Define(method, [](const std::vector<TVariant>&) { return TCallResult{}; });
    loop.SetModule(&module);
    module.SetView(&window);
    window.SetModule(&module);
    module.Init(3, "Bench", server);
    for (int i = 0; i < jobs; ++i) {
        TDoc* job = Inside(module).Jobs.Add(TDoc::Create(
            module, true, 10 + i, 1, "Name=job" + std::to_string(i), TJobState::Waiting));
        job->SetHeld(true);
        job->AddToList(0);
    }
    window.RefreshJobFacts();
    std::printf("The console's State and Priority columns, %d held jobs, %d changes of one "
                "job's priority; in process, offscreen\n",
                jobs, changes);
    const uint32_t id = module.Rows().Process().At(0)->Id;
    std::vector<double> anchorMs;
    std::vector<double> refreshMs;
    for (int change = 0; change < changes; ++change) {
        TJobActions(module).SetPriority({id}, 1 + change % 9);
        QElapsedTimer clock;
        clock.start();
        window.RefreshJobFacts();
        refreshMs.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        clock.restart();
        const size_t rows = TJobActions(module).List().size();
        anchorMs.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        if (rows != static_cast<size_t>(jobs))
            return 1;
    }
    std::printf("  anchor: the module's whole listing   %s\n",
                Figures(StatsOf(anchorMs), "ms", 3).c_str());
    std::printf("  the window's refresh after a change  %s (median %.4f of the anchor)\n",
                Figures(StatsOf(refreshMs), "ms", 3).c_str(),
                StatsOf(refreshMs).Median / StatsOf(anchorMs).Median);
    module.Close();
    window.SetModule(nullptr);
    return 0;
}
