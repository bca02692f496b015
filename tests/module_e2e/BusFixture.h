#pragma once

#include "services/Dispatch.h"
#include "support/Harness.h"
#include "support/TempFiles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace raduvuz::test {

// A scripted workflow server: records every call of the module as "Method(arg,arg)", refuses one
// whose arguments are not the server's, and answers GetValue for module 0 from Values.
class TTestServer : public QDBusVirtualObject {
public:
    QStringList Calls;
    QMap<int, QVariant> Values;
    // SetValue answers this error name when it is set.
    QString SetValueError;

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override;
    QString introspect(const QString&) const override { return {}; }
};

// The private bus of this test process: a dbus-daemon whose services folder is
// <root>/xdg/dbus-1/services, started once with the process's environment pointing at it.
struct TBusWorld {
    std::string Root;
    std::string Xdg;
    std::string Address;
};
const TBusWorld& BusWorld();

// Member name -> "in signature -> out signature" of one interface in introspection XML; a
// signal is named "signal NAME".
std::map<std::string, std::string> MethodsOf(const QString& xml, const QString& interface);

// One test on the private bus: a scripted server at /Workflow and module processes started from
// a copy of the program in the test's own folder.
class BusTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The test's folder; the module processes' data folder is <Work>/xdg/TWF_Data.
    TTempFolder WorkFolder;
    std::string Work = WorkFolder.Path();
    std::string ProgramCopy() const { return Work + "/bin/raduvuz"; }
    std::string DataFolder() const { return Work + "/xdg/TWF_Data"; }
    // The module processes' working folder, two levels below Work.
    std::string WorkingFolder() const { return Work + "/run/here"; }
    QString ServerReference() const;

    TTestServer Server;

    // Starts "raduvuz /Embedding" and waits until it owns its bus name.
    TDispatchPtr StartModule();
    QProcess* LastProcess() { return Processes.empty() ? nullptr : Processes.back().get(); }
    // The error name of a call that fails; empty when it succeeds.
    static std::string ErrorOf(const std::function<void()>& call);
    // Remembers a process to end at teardown (one the bus started).
    void AdoptPid(qint64 pid) { Adopted.push_back(pid); }

private:
    std::vector<std::unique_ptr<QProcess>> Processes;
    std::vector<qint64> Adopted;
};

// A test with one module process, started before the test begins.
class OneModuleTest : public BusTest {
protected:
    void SetUp() override;
    TVariant Value(int32_t num) { return Module->Call("GetValue", {num}, "i").Result; }
    // Init with the test's server.
    void Init(int32_t number = 5, const std::string& description = "Queue") {
        Module->Call("Init", {number, description, ServerReference().toStdString()}, "iss");
    }

    TDispatchPtr Module;
    // The module's name on the bus.
    QString Name;
};

} // namespace raduvuz::test
