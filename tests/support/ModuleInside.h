#pragma once

#include "control/TModuleControl.h"

#include <type_traits>

namespace raduvuz {

// The tests' and benchmarks' one way into the module's state, so that the module's interface
// needs no setter for each value: they set a module up as a loaded configuration or a server
// would leave it (Inside(module).WorkMode = 1) and look at what it keeps. A const module gives
// const references.
template <typename TModule> struct TModuleControlTestAccess {
    template <typename T> using TRef = std::conditional_t<std::is_const_v<TModule>, const T&, T&>;

    explicit TModuleControlTestAccess(TModule& module)
        : HoldJobs(module.HoldJobs), FlowEntries(module.FlowEntries), TermNames(module.TermNames),
          TermKeys(module.TermKeys), HoldList(module.HoldList), Jobs(module.Jobs),
          SavedDocs(module.SavedDocs), ModuleID(module.ModuleID), ConfigKey(module.ConfigKey),
          StoreDir(module.StoreDir), PreviewDir(module.PreviewDir), Multiplex(module.Multiplex),
          Current(module.Current), Paused(module.Paused), LogToWindow(module.LogToWindow),
          LogToServer(module.LogToServer), LastInTop(module.LastInTop),
          GenPreview(module.GenPreview), Event(module.Event), ModuleNumber(module.ModuleNumber),
          Status(module.Status), DeletePolicy(module.DeletePolicy), KeepTime(module.KeepTime),
          WorkMode(module.WorkMode), JobDir(module.JobDir), InParams(module.InParams),
          OutParams(module.OutParams), Busy(module.Busy), FreeSpace(module.FreeSpace),
          Copies(module.Copies), MaxFiles(module.MaxFiles),
          IntakeExhausted(module.IntakeExhausted) {}

    TRef<std::vector<std::string>> HoldJobs;
    TRef<TTaggedList> FlowEntries;
    TRef<TTaggedList> TermNames;
    TRef<TTaggedList> TermKeys;
    TRef<TTaggedList> HoldList;
    TRef<TJobList> Jobs;
    TRef<std::vector<std::shared_ptr<TSavedDoc>>> SavedDocs;
    TRef<std::string> ModuleID;
    TRef<std::string> ConfigKey;
    TRef<std::string> StoreDir;
    TRef<std::string> PreviewDir;
    TRef<bool> Multiplex;
    TRef<bool> Current;
    TRef<bool> Paused;
    TRef<bool> LogToWindow;
    TRef<bool> LogToServer;
    TRef<bool> LastInTop;
    TRef<bool> GenPreview;
    TRef<bool> Event;
    TRef<int32_t> ModuleNumber;
    TRef<int32_t> Status;
    TRef<int32_t> DeletePolicy;
    TRef<int32_t> KeepTime;
    TRef<int32_t> WorkMode;
    TRef<std::string> JobDir;
    TRef<std::string> InParams;
    TRef<std::string> OutParams;
    TRef<bool> Busy;
    TRef<double> FreeSpace;
    TRef<int32_t> Copies;
    TRef<int32_t> MaxFiles;
    TRef<bool> IntakeExhausted;
};

inline TModuleControlTestAccess<TModuleControl> Inside(TModuleControl& module) {
    return TModuleControlTestAccess<TModuleControl>(module);
}

inline TModuleControlTestAccess<const TModuleControl> Inside(const TModuleControl& module) {
    return TModuleControlTestAccess<const TModuleControl>(module);
}

} // namespace raduvuz
