#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace raduvuz {

// A workflow file that cannot be used; the message names the line.
class TWorkflowError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TFlowDef {
    int32_t Dest = 0;
    std::string Rule;
};

// A module value the server sets once the module is configured: SetValue(Num, Value).
struct TValueDef {
    int32_t Num = 0;
    std::string Value;
};

// A call whose answer the server logs once the run has ended, before it closes the module:
// SaveConfig (Arg: the key, else the module's config-key), ExportConfig, GetValue or IsJobUse
// (Num).
struct TFinalCallDef {
    std::string Method;
    std::string Arg;
    int32_t Num = 0;
};

// A queuer module the server creates and drives.
struct TModuleDef {
    int32_t Number = 0;
    std::string Name;
    std::string Description;
    // "program": start the module program with -AUTOMATION; "provider": ask
    // RAduvuz.ServerProvider for a new module.
    std::string Create = "program";
    std::string Program;
    std::string ConfigKey;
    std::string Computer;
    bool StartLog = true;
    std::vector<TFlowDef> Flows;
    std::vector<TValueDef> Values;
    std::vector<TFinalCallDef> FinalCalls;
};

// A destination whose documents the server takes out of the store into a folder.
struct TSinkDef {
    int32_t Number = 0;
    std::string Name;
    std::string Folder;
    std::string Computer;
    bool Paused = false;
    // Paused for this many seconds after the modules were resumed, then running.
    int PausedForSeconds = 0;
};

struct TTerminatorDef {
    int32_t Number = 0;
    std::string Name;
    std::string Key;
};

struct TInputDef {
    int32_t To = 0;
    int32_t BlockSize = 65536;
    std::vector<std::string> Files;
    std::vector<std::string> Folders;
};

// One file the producer puts into the store.
struct TFeed {
    std::string Path;
    std::string Dds;
    int32_t To = 0;
    int32_t BlockSize = 0;
};

// The workflow file: INI sections [workflow], [module N], [sink N], [terminator N] and
// [input ...]; "key = value" lines, keys such as "flow" and "file" may repeat, lines starting
// with "#" or ";" are comments. Relative paths are taken from the file's folder.
class TWorkflow {
public:
    static TWorkflow Load(const std::string& path);
    static TWorkflow Parse(const std::string& text, const std::string& baseDir);

    // The files to feed, in order; a file's parameter text is FILE.dds beside it, or made from
    // its name.
    std::vector<TFeed> Feeds() const;
    const TModuleDef* FindModule(int32_t number) const;
    const TSinkDef* FindSink(int32_t number) const;
    const TTerminatorDef* FindTerminator(int32_t number) const;

    std::string Name = "workflow";
    int TimeoutSeconds = 300;
    std::string LogFile;
    std::string Preview;
    std::string MainComputer;
    int32_t Value1004 = 36;
    bool PrivateBus = false;
    bool StartStore = true;
    std::string StoreProgram;
    std::vector<std::string> StoreOptions;
    std::string ModuleProgram;
    bool JobUse = false;
    // Documents the sinks must receive before the run is done; -1: one per fed file.
    int Expect = -1;
    // Seconds between the sinks' and a waiting feed's own tries when no store signal came;
    // 0: only the store's signals move them.
    int BackstopSeconds = 3;
    // When the store leaves the bus: false ends the run; true waits for a store to own its
    // name again (one the operator or a test starts) and goes on with it.
    bool WaitForStore = false;
    // A shell command run once the run has ended, before the modules are closed.
    std::string BeforeClose;

    std::vector<TModuleDef> Modules;
    std::vector<TSinkDef> Sinks;
    std::vector<TTerminatorDef> Terminators;
    std::vector<TInputDef> Inputs;
    std::string BaseDir;
};

} // namespace raduvuz
