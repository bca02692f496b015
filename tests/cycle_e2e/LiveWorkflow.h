#pragma once

// A workflow of WorkflowFixture.h that runs while the test works with it: twf as a process of
// the test's, its log watched as it grows.

#include "cycle_e2e/WorkflowFixture.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QThread>

#include <functional>
#include <memory>

namespace raduvuz::test {

inline QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// QProcess and QtDBus need an application object; the first test makes one for the program.
inline void EnsureApplication() {
    static int argc = 1;
    static char name[] = "raduvuz-tests";
    static char* argv[] = {name, nullptr};
    static const std::unique_ptr<QCoreApplication> app =
        QCoreApplication::instance() ? nullptr : std::make_unique<QCoreApplication>(argc, argv);
}

class LiveWorkflowTest : public WorkflowTest {
protected:
    void SetUp() override {
        WorkflowTest::SetUp();
        EnsureApplication();
    }
    void TearDown() override {
        if (Twf && Twf->state() != QProcess::NotRunning) {
            Twf->kill();
            Twf->waitForFinished(10000);
        }
        WorkflowTest::TearDown();
    }

    // The programs' folders and registry are the test's; windows go nowhere.
    virtual QProcessEnvironment Environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), Q((Root / "xdg").string()));
        env.insert(QStringLiteral("XDG_STATE_HOME"), Q((Root / "state").string()));
        env.insert(QStringLiteral("RADUVUZ_REGISTRY"), Q((Root / "reg.ini").string()));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
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
                   {QStringLiteral("--quiet"), QStringLiteral("--log"), Q(LogFile.string()),
                    Q((Root / "flow.ini").string())});
        ASSERT_TRUE(Twf->waitForStarted(10000));
    }

    // Waits, looking every pollMs, until condition holds or the run has ended.
    bool WaitFor(const std::function<bool()>& condition, int ms = 30000, int pollMs = 20) {
        QDeadlineTimer deadline(ms);
        while (!condition()) {
            if (deadline.hasExpired() || Twf->state() == QProcess::NotRunning)
                return condition();
            QThread::msleep(pollMs);
        }
        return true;
    }
    bool WaitForLog(const std::string& text, int ms = 30000) {
        return WaitFor([&] { return Log().find(text) != std::string::npos; }, ms);
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
        run.Extra = std::string(Terminators) +
                    "[terminator 3]\nname = Printer C\nkey = PRN_C\n"
                    "[sink 17]\nname = Printer C\nfolder = out/c\npaused = yes\n";
        return run;
    }

    // Waits until twf has ended; its exit code, and the log in RunLog.
    int Finish() {
        Twf->waitForFinished(120000);
        RunLog = Log();
        return Twf->exitStatus() == QProcess::NormalExit ? Twf->exitCode() : -1;
    }

    std::unique_ptr<QProcess> Twf;
};

} // namespace raduvuz::test
