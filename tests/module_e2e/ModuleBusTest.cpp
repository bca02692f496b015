#include "module_e2e/BusFixture.h"

#include "dbus/DBusBus.h"
#include "dbus/TDBusObject.h"

#include <QDBusMessage>
#include <QElapsedTimer>
#include <QProcess>

#include <csignal>
#include <filesystem>
#include <map>

namespace raduvuz::test {
namespace {

using ::testing::StartsWith;

class ModuleBusTest : public OneModuleTest {
protected:
    void Init(int32_t number = 5, const std::string& description = "Queue") {
        Module->Call("Init", {number, description, ServerReference().toStdString()}, "iss");
    }
    std::string Text(const std::string& method) {
        return VariantToText(Module->Call(method, {}).Result);
    }
};

// A throwing method answers Unexpected, a failure with its own name keeps it, and the module
// keeps serving after each.
TEST_F(ModuleBusTest, FailuresTravelWithTheirNamesAndTheModuleKeepsServing) {
    Init(5);
    EXPECT_EQ(ErrorOf([&] {
                  Module->Call("SetValue", {int32_t{0}, std::string("abc")}, "iv");
              }),
              "RAduvuz.Error.Unexpected: Could not convert variant of type (String) into type "
              "(Integer)");
    EXPECT_EQ(ErrorOf([&] {
                  Module->Call("Init", {int32_t{5}, std::string("x"), std::string("no reference")},
                               "iss");
              }),
              "RAduvuz.Error.InvalidArgs: IDisp: \"no reference\" is not a reference to a "
              "dispatch object");
    const std::pair<const char*, const char*> refusals[] = {
        {"RAduvuz.Error.Refused", "RAduvuz.Error.Refused"},
        {"org.example.Error.Refused", "RAduvuz.Error.Unexpected"},
        {"RAduvuz.Error.H80004005", "RAduvuz.Error.H80004005"},
    };
    bool value = true;
    for (const auto& [name, travels] : refusals) {
        Server.SetValueError = QLatin1String(name);
        EXPECT_EQ(ErrorOf([&] {
                      Module->Call("SetValue", {int32_t{58}, value}, "iv");
                  }),
                  std::string(travels) + ": the server refused");
        value = !value;
    }
    EXPECT_EQ(Server.Calls.filter(QStringLiteral("SetValue")),
              (QStringList{QStringLiteral("SetValue(5,1010,true)"),
                           QStringLiteral("SetValue(5,1010,false)"),
                           QStringLiteral("SetValue(5,1010,true)")}));
    EXPECT_EQ(VariantToInt(Value(0)), 1);
    EXPECT_EQ(Text("GetErrorMessage"), "no error");
}

TEST_F(ModuleBusTest, CallsNestWhileTheModuleWaitsForTheServer) {
    PublishStore();
    std::vector<std::string> nested;
    int received = 0;
    bool startedLog = false;
    Server.OnCall = [&](const QString& method) {
        // The module is inside Init and still answers: it sent these two without waiting, and
        // the server may take the second, and Init's next call, while the first waits for its
        // nested answer.
        if (method == QLatin1String("ChangeStatus")) {
            ++received;
            nested.push_back(Text("GetComputerName"));
        }
        if (method == QLatin1String("WriteLog")) {
            ++received;
            nested.push_back(VariantToText(Value(2)));
        }
        // The module waits for this one's answer.
        if (method == QLatin1String("GetValue") && received == 2 && !startedLog) {
            Module->Call("StartLog", {});
            startedLog = true;
        }
    };
    Init(5, "Nested");
    Server.OnCall = nullptr;
    EXPECT_TRUE(startedLog);
    // The order and contents of Init's callbacks are checked in-process; here only that they
    // reach the real server and store objects over the bus and that the process makes its folder.
    EXPECT_EQ(Server.Calls.value(0), QStringLiteral("ChangeStatus(5,true,1)"));
    EXPECT_EQ(
        Store.Calls,
        QStringList{
            QStringLiteral("IsMainComputer(%1)").arg(QString::fromStdString(ComputerNameText()))});
    EXPECT_EQ(VariantToInt(Value(1004)), 77);
    EXPECT_TRUE(std::filesystem::is_directory(Work + "/preview"));
    EXPECT_THAT(nested, ::testing::UnorderedElementsAre(ComputerNameText(), "Nested"));
    Module->Call("Resume", {});
    // Those two need no answer, so Resume's answer may come before them.
    WaitUntil(
        [&] { return Server.Calls.last().startsWith(QStringLiteral("ChangeStatus(5,false,1)")); },
        10000);
    ASSERT_GE(Server.Calls.size(), 2);
    EXPECT_THAT(Server.Calls.last().toStdString(), StartsWith("ChangeStatus(5,false,1)"));
    EXPECT_THAT(Server.Calls.at(Server.Calls.size() - 2).toStdString(),
                StartsWith("WriteLog(5,Started at "));
}

TEST_F(ModuleBusTest, TheProcessEndsWhenItsLastCallerLeavesAfterClose) {
    const QString address = QString::fromStdString(BusWorld().Address);
    const QString name =
        QString::fromStdString(Module->Reference()).section(QLatin1Char('/'), 0, 0);
    {
        QDBusConnection caller = QDBusConnection::connectToBus(address, QStringLiteral("caller"));
        ASSERT_TRUE(caller.isConnected());
        for (const char* method : {"SelfReg", "Close"}) {
            QDBusMessage call = QDBusMessage::createMethodCall(
                name, QStringLiteral("/ModuleControl"), QString(), QLatin1String(method));
            if (QLatin1String(method) == QLatin1String("SelfReg"))
                call << QVariant::fromValue(
                    QDBusVariant(QString::fromStdString(Module->Reference())));
            const QDBusMessage reply = caller.call(call, QDBus::BlockWithGui, 20000);
            ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << method;
        }
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("caller"));
    // This test's own connection has not called the module, so nobody holds it any more.
    ASSERT_NE(LastProcess(), nullptr);
    EXPECT_TRUE(LastProcess()->waitForFinished(20000));
    EXPECT_EQ(LastProcess()->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(LastProcess()->exitCode(), 0);
}

TEST_F(ModuleBusTest, AClosedModuleEndsItsProcessWhileItsServerStaysOnTheBus) {
    Init(5);
    QElapsedTimer clock;
    clock.start();
    Module->Call("Close", {});
    ASSERT_NE(LastProcess(), nullptr);
    // The server keeps its connection for other modules; the closed one still goes.
    EXPECT_TRUE(LastProcess()->waitForFinished(10000));
    // A moment is left for a last call after Close.
    EXPECT_GE(clock.elapsed(), 150);
    EXPECT_EQ(LastProcess()->exitStatus(), QProcess::NormalExit);

    // A module that nobody initialised is not ended by that rule.
    ASSERT_NE(StartModule(), nullptr);
    EXPECT_FALSE(LastProcess()->waitForFinished(2500));
}

// SIGHUP, SIGINT and SIGTERM close as Close does: the hold file is written, then the process ends
// by itself. Three at once, as a parent that ends sends them from its threads: the first one
// closes the module, the others are ignored.
TEST_F(ModuleBusTest, ASignalClosesTheModuleAndLaterOnesDoNotCutItsCloseShort) {
    Init(5);
    Module->Call("LoadConfig", {std::string("Q")}, "s");
    QProcess* process = LastProcess();
    ASSERT_NE(process, nullptr);
    const auto pid = static_cast<pid_t>(process->processId());
    ::kill(pid, SIGSTOP);
    ::kill(pid, SIGINT);
    ::kill(pid, SIGTERM);
    ::kill(pid, SIGHUP);
    ::kill(pid, SIGCONT);
    ASSERT_TRUE(process->waitForFinished(10000));
    EXPECT_EQ(process->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process->exitCode(), 0);
    EXPECT_TRUE(std::filesystem::exists(DataFolder() + "/Config/Q.hld"));
}

} // namespace
} // namespace raduvuz::test
