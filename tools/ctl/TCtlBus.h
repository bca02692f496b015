#pragma once

#include "tools/ctl/CtlTables.h"
#include "tools/modulebus/ModuleBus.h"

#include <QDBusConnection>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace raduvuz::ctl {

// A failure that ends the program with its exit code and message.
class TCtlFailure : public std::runtime_error {
public:
    TCtlFailure(int exitCode, const std::string& message)
        : std::runtime_error(message), ExitCode(exitCode) {}
    int ExitCode;
};

using modulebus::TJobsWatcher;
using modulebus::TModuleName;

// The modules on the session bus and the calls raduvuz-ctl makes to them: IModuleControl's
// GetValue for a module's description and state, IJobControl for its jobs. A call the module
// answers with an error throws TCtlFailure: RAduvuz.Error.InvalidArgs as wrong usage, a module
// that is gone as no such module, anything else as a failure of the call.
class TCtlBus {
public:
    // Throws TCtlFailure (no bus) when the bus cannot be reached.
    TCtlBus();

    QDBusConnection& Connection() { return Bus; }
    // Every module, by number.
    std::vector<TModuleName> Modules();
    // The module that text names: its number, bus name or description (in any case). Without a
    // text the only module on the bus. Throws TCtlFailure when there is none, or several.
    TModuleName Choose(const std::string& text);
    // Asks every module at once; one that does not answer within a few seconds is marked so.
    std::vector<TCtlModule> Describe(const std::vector<TModuleName>& modules);

    std::vector<TCtlJob> ListJobs(const TModuleName& module);
    std::vector<TCtlDamaged> ListDamaged(const TModuleName& module);
    // A job command: the ids it was done for.
    std::vector<uint32_t> Act(const TModuleName& module, const QString& method,
                              const QVariantList& arguments);
    std::vector<uint32_t> Find(const TModuleName& module,
                               const std::map<std::string, std::string>& criteria);

private:
    QDBusConnection Bus;
};

} // namespace raduvuz::ctl
