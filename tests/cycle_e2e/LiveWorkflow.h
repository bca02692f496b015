#pragma once

// A workflow of WorkflowFixture.h that runs while the test works with it: twf as a process of
// the test's, its log watched as it grows.

#include "cycle_e2e/WorkflowFixture.h"
#include "support/Harness.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

#include <functional>
#include <memory>

namespace raduvuz::test {

using TRows = QList<QVariantMap>;

class LiveWorkflowTest : public WorkflowTest {
protected:
    void SetUp() override {
        WorkflowTest::SetUp();
        EnsureApplication();
        qDBusRegisterMetaType<TRows>();
    }
    void TearDown() override {
        for (const std::unique_ptr<QProcess>* process : {&Twf, &Store})
            if (*process)
                StopProcess(**process, StopGraceMs);
        Disconnect();
    }

    // The programs' folders and registry are the test's; windows go nowhere.
    virtual QProcessEnvironment Environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", Q((Root / "xdg").string()));
        env.insert("XDG_STATE_HOME", Q((Root / "state").string()));
        env.insert("RADUVUZ_REGISTRY", Q((Root / "reg.ini").string()));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        return env;
    }

    // Starts twf on run; its standard error goes to the file err of the test's folder.
    void StartTwf(const TRun& run, const std::string& err = "twf.err") {
        WriteFlow(run);
        Twf = std::make_unique<QProcess>();
        Twf->setProcessEnvironment(Environment());
        Twf->setStandardOutputFile(QProcess::nullDevice());
        Twf->setStandardErrorFile(Q((Root / err).string()));
        Twf->start(QStringLiteral(TWF_PATH),
                   {"--quiet", "--log", Q(LogFile.string()), Q((Root / "flow.ini").string())});
        ASSERT_TRUE(Twf->waitForStarted(10000));
    }

    // Starts twf on run and connects to its bus once the log holds ready.
    void StartAndConnect(const TRun& run, const std::string& ready) {
        StartTwf(run);
        ASSERT_TRUE(WaitForLog(ready)) << Log();
        ConnectToTwfBus();
    }

    // Waits, looking every PollMs, until condition holds, the run has ended or WaitMs are up.
    bool WaitFor(const std::function<bool()>& condition) {
        WaitUntil([&] { return condition() || Twf->state() == QProcess::NotRunning; }, WaitMs,
                  PollMs);
        return condition();
    }
    bool WaitForLog(const std::string& text) {
        return WaitFor([&] { return Log().find(text) != std::string::npos; });
    }

    // Cyan goes to a held printer (1) and to one that takes it (2); yellow only to that one; black
    // to a paused printer (3), where it waits. The run's workflow lines are the caller's.
    TRun HeldPassedAndWaitingJobs() {
        MakePages("both", 10, "C", "*", 512);
        MakePages("solo", 10, "Y");
        MakePages("late", 30, "K");
        WriteConfig("WorkMode=1;HoldList=PRN_A");
        TRun run;
        run.Module = "flow = 12: Color=Cyan;Device=1\nflow = 15: Color=Cyan,Yellow;Device=2\n"
                     "flow = 17: Color=Black;Device=3\n";
        run.Extra = std::string(Terminators) + PausedPrinterC;
        return run;
    }

    // Connects the test to the bus at Address; a connection made before goes.
    void Connect() {
        Disconnect();
        Connection = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(Address, "workflow-test"));
        ASSERT_TRUE(Connection->isConnected()) << Address.toStdString() << "\n" << Log();
    }
    // twf's private bus, as its log names it.
    void ConnectToTwfBus() {
        Address = Q(AfterInLog(Log(), "private bus at "));
        Connect();
    }
    void Disconnect() {
        if (!Connection)
            return;
        Connection.reset();
        QDBusConnection::disconnectFromBus("workflow-test");
    }

    QDBusMessage Call(const QString& service, const QString& path, const QString& interface,
                      const QString& method, const QVariantList& args = {}) {
        QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
        call.setArguments(args);
        return Connection->call(call, QDBus::Block, 30000);
    }
    // The module of the run, by the name its log gives it on the bus.
    QString ModuleName() const {
        const std::string reference = AfterInLog(Log(), "module 3 (Queuer): created as ");
        return Q(reference.substr(0, reference.find('/')));
    }
    QDBusMessage ModuleCall(const QString& interface, const QString& method,
                            const QVariantList& args = {}) {
        return Call(ModuleName(), "/ModuleControl", interface, method, args);
    }
    // A method of the module's automation interface, as the workflow server calls it.
    void CallModule(const QString& method) {
        const QDBusMessage reply = ModuleCall("RAduvuz.IModuleControl", method);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage)
            << method.toStdString() << ": " << reply.errorMessage().toStdString();
    }
    // The rows of the module's lists, asked over the bus while the run is on.
    TRows ListJobs() {
        const QDBusMessage reply = ModuleCall("RAduvuz.IJobControl", "ListJobs");
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        return qdbus_cast<TRows>(reply.arguments().value(0));
    }

    // A document store of the test's own on the bus at Address, once it owns its name there;
    // its standard error goes to the file err of the test's folder.
    void StartStore(const QStringList& args, const std::string& err) {
        Store = std::make_unique<QProcess>();
        Store->setProcessEnvironment(OnBus(Environment(), Address));
        EndWithParent(*Store, SIGKILL);
        Store->setStandardOutputFile(QProcess::nullDevice());
        Store->setStandardErrorFile(Q((Root / err).string()), QIODevice::Append);
        Store->start(QStringLiteral(MEMORYMAN_PATH), args);
        ASSERT_TRUE(Store->waitForStarted(10000));
        ASSERT_TRUE(WaitForName(*Connection, "RozEza.MemoryMan", 10000))
            << "the store did not come on the bus";
    }

    // A tool such as raduvuz-ctl on the test's bus, from the test's folder, run to its end.
    TRunResult RunOnBus(const QString& program, const QStringList& args) {
        return RunToEnd(program, args, OnBus(QProcessEnvironment::systemEnvironment(), Address), {},
                        Q(Root.string()));
    }

    // Waits until twf has ended; its exit code, and the log in RunLog.
    int Finish() {
        Twf->waitForFinished(120000);
        RunLog = Log();
        return Twf->exitStatus() == QProcess::NormalExit ? Twf->exitCode() : -1;
    }

    std::unique_ptr<QProcess> Twf;
    // How long twf and the store get to end by themselves when the test is over.
    int StopGraceMs = 0;
    int WaitMs = 30000;
    int PollMs = 20;
    // A document store the test started itself.
    std::unique_ptr<QProcess> Store;
    QString Address;
    std::unique_ptr<QDBusConnection> Connection;
};

} // namespace raduvuz::test
