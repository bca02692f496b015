#pragma once

#include "common/DateTime.h"
#include "common/Types.h"
#include "platform/GoEvent.h"
#include "platform/SetupLibrary.h"
#include "platform/System.h"
#include "platform/SystemLog.h"
#include "services/Dispatch.h"
#include "services/TServerClient.h"
#include "services/TStoreClient.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace raduvuz {

// Creates an automation object by its ProgID: the program binds it to D-Bus, tests to
// in-process objects. Throws when the object cannot be created.
using TObjectFactory = std::function<TDispatchPtr(const std::string& progId)>;

// What a process keeps once, whatever its module object does: the program makes one at start
// and hands it to its module; a test makes a fresh one for each test.
class TModuleProcess {
public:
    // The first workflow server given to Init stays for the process's life.
    TServerClient ServerObject;
    // The document store, created once per process by Init.
    TStoreClient StoreObject;
    int32_t ServerValue1004 = 36;
    // Set once the first CompletedSendTerminators of the process has reloaded the saved jobs.
    bool SavedJobsReloaded = false;
    // Time of the last retention pass of the age rules; zero at start.
    TDateTime LastRetention = 0;
    // Time of the last look at the ages in the damaged folder; zero at start.
    TDateTime LastDamagedRetention = 0;
    // Last custom preview resolution of the console; stored with the module's configuration.
    int32_t LastPrvDpi = 0;
    TObjectFactory ObjectFactory;
    // The folder of the program, with a trailing "/"; the folders the module makes are
    // registered with its uninstall helper there.
    std::string ProgramFolder = ::raduvuz::ProgramFolder();
    // The program file's name; the setup library is this name with ".mod" for its extension,
    // in the program folder.
    std::string ProgramName = ProgramFileName();
    TSetupLibrary Setup;
    // The go event the module waits for while its Event setting is on.
    std::string GoEventName = kGoEventName;
    // The time the module goes by for retention: the system's, in the program; the test's, in
    // a test.
    std::function<TDateTime()> Clock = [] { return Now(); };
    // Free space in KiB of the file system that holds a folder: what the file system says, in
    // the program; what the test says, in a test.
    std::function<int64_t(const std::string& folder)> FreeSpaceKb = [](const std::string& folder) {
        return DiskFreeKb(folder);
    };

    // Where every log line of the module also goes: the system log, in the program; a test may
    // give a sink of its own, or none.
    std::shared_ptr<ILogSink> LogSink;

    TDispatchPtr CreateObjectByProgId(const std::string& progId) const;
    // Where the default storage ("Storage") and preview folders lie, with a trailing "/": the
    // program folder, or the user's own folder when the program may not write there.
    std::string DefaultsFolder() const;
    std::string SetupLibraryFile() const;

private:
    static std::string ProgramFileName();
};

} // namespace raduvuz
