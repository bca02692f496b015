#pragma once

// A whole workflow in a clean folder: the module program installed in a program folder of its
// own, a data folder and a registry; twf starts a private bus, the store and the module program.
// twf runs as a process of the test's, which may work with the run while it is on.

#include "common/Utils.h"
#include "platform/GoEvent.h"
#include "support/ConfigFiles.h"
#include "support/Harness.h"
#include "support/SmallDisk.h"
#include "support/TempFiles.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace raduvuz::test {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using TRows = QList<QVariantMap>;

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

// The size of a file, -1 while there is none.
inline int64_t SizeOf(const fs::path& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    return ec ? -1 : static_cast<int64_t>(size);
}

inline size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// What comes after "PREFIX" on the first log line that holds it, up to the end of that line.
inline std::string AfterInLog(const std::string& log, const std::string& prefix) {
    const size_t at = log.find(prefix);
    if (at == std::string::npos)
        return "<no line with " + prefix + ">";
    const size_t begin = at + prefix.size();
    return log.substr(begin, log.find('\n', begin) - begin);
}
// The number after "prefix" on the first log line that has it; -1 when there is none.
inline long NumberAfter(const std::string& log, const std::string& prefix) {
    const std::string after = AfterInLog(log, prefix);
    return after.empty() || !std::isdigit(static_cast<unsigned char>(after[0])) ? -1
                                                                                : std::stol(after);
}
// The stamp of the first log line that holds text ("YYYY-MM-DD HH:MM:SS.mmm ..."), in ms since
// the epoch; -1 without one.
inline int64_t StampOf(const std::string& log, const std::string& text) {
    for (const std::string& line : Lines(log)) {
        if (line.find(text) != std::string::npos) {
            const QDateTime stamp = QDateTime::fromString(
                QString::fromStdString(line.substr(0, 23)), "yyyy-MM-dd HH:mm:ss.zzz");
            return stamp.isValid() ? stamp.toMSecsSinceEpoch() : -1;
        }
    }
    return -1;
}

// Flow entries by colour with the device of each destination as a terminator number, and the
// terminators whose keys a hold list names.
inline const char* const ColourFlows = "flow = 12: Color=Cyan,Magenta;Device=1\n"
                                       "flow = 15: Color=Yellow,Black;Device=2\n";
inline const char* const Terminators = "[terminator 1]\nname = Printer A\nkey = PRN_A\n"
                                       "[terminator 2]\nname = Printer B\nkey = PRN_B\n";
// A third terminator, whose printer is paused for the whole run.
inline const char* const PausedPrinterC =
    "[terminator 3]\nname = Printer C\nkey = PRN_C\n"
    "[sink 17]\nname = Printer C\nfolder = out/c\npaused = yes\n";

struct TRun {
    // Lines of [module 3] besides name and key: flow entries, values, before-close calls.
    std::string Module = "flow = 12: Color=Cyan,Magenta;Device=PrinterA\n"
                         "flow = 15: Color=Yellow,Black;Device=PrinterB\n";
    // Lines of [workflow], e.g. expect and before-close.
    std::string Workflow = "";
    // Sections after the sinks.
    std::string Extra = "";
    std::string Sink12 = "";
    bool Inputs = true;
    int BlockSize = 16384;
    std::string LogName = "flow.log";
    // More options of twf.
    QStringList Options = {};

    // The same workflow started again with nothing to feed and every sink taking documents.
    TRun Again(const std::string& workflow) const {
        TRun run = *this;
        run.Inputs = false;
        run.Sink12.clear();
        run.Workflow = workflow;
        return run;
    }
};

// One workflow run in a clean folder: the module program installed in a program folder of its
// own, a data folder and a registry; twf starts a private bus, the store and the module program.
class WorkflowTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A test must not wait for somebody's RIP.
        if (GoEventExists(kGoEventName))
            GTEST_SKIP() << "a RIP's go event " << kGoEventName << " exists on this machine";
        ASSERT_FALSE(Folder.Path().empty());
        fs::create_directories(Root / "prog");
        // A link where the file system allows one, else a copy: either way the program's folder
        // (its default storage) is the test's.
        std::error_code linked;
        fs::create_hard_link(RADUVUZ_PROGRAM, Program(), linked);
        if (linked)
            fs::copy_file(RADUVUZ_PROGRAM, Program());
        EnsureApplication();
        qDBusRegisterMetaType<TRows>();
    }
    void TearDown() override {
        for (const std::unique_ptr<QProcess>* process : {&Twf, &Store})
            if (*process)
                StopProcess(**process, StopGraceMs);
        Disconnect();
    }

    // The programs' folders and registry are the test's (the store numbers documents in a file
    // of the test's own, not in the home folder); windows go nowhere.
    virtual QProcessEnvironment Environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", Q((Root / "xdg").string()));
        env.insert("XDG_STATE_HOME", Q((Root / "state").string()));
        env.insert("RADUVUZ_REGISTRY", Q((Root / "reg.ini").string()));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        return env;
    }

    // Plates of size x size pixels in folder; the path of the first plate's page.
    fs::path MakePages(const std::string& name, int priority, const std::string& plates = "CMYK",
                       const std::string& device = "*", int size = 256,
                       const std::string& folder = "pages") {
        const std::string command = std::string(RASTERGEN_PATH) + " --width " +
                                    std::to_string(size) + " --height " + std::to_string(size) +
                                    " --device '" + device + "' --name " + name + " --priority " +
                                    std::to_string(priority) + " --plates " + plates + " '" +
                                    (Root / folder).string() + "' >/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0);
        return Root / folder / (name + "-1-" + plates.substr(0, 1) + ".rst");
    }

    // The module's stored configuration before the server loads it.
    void WriteConfig(const std::string& text) {
        WriteSetFile((ConfigFolder() / "Q.set").string(), "Q", text);
    }

    // Writes the workflow file of run; twf's log goes to LogFile.
    void WriteFlow(const TRun& run) {
        std::ofstream ini(Root / "flow.ini");
        ini << "[workflow]\nname = Flow\nbus = private\ntimeout = 60\n"
            << "module-program = " << Program().string() << "\n"
            << "store-program = " << MEMORYMAN_PATH << "\n"
            << run.Workflow << "\n"
            << "[module 3]\nname = Queuer\nconfig-key = Q\n"
            << run.Module << "[sink 12]\nname = Printer A\nfolder = out/a\n"
            << run.Sink12 << "\n[sink 15]\nname = Printer B\nfolder = out/b\n"
            << run.Extra << "\n";
        if (run.Inputs)
            ini << "[input]\nto = 3\nblock-size = " << run.BlockSize << "\nfolder = pages\n";
        ini.close();
        LogFile = Root / run.LogName;
    }
    // Starts twf on run; its standard error goes to the file err of the test's folder.
    void StartTwf(const TRun& run, const std::string& err = "twf.err") {
        WriteFlow(run);
        Twf = std::make_unique<QProcess>();
        Twf->setProcessEnvironment(Environment());
        Twf->setStandardInputFile(QProcess::nullDevice());
        Twf->setStandardOutputFile(QProcess::nullDevice());
        Twf->setStandardErrorFile(Q((Root / err).string()));
        Twf->start(QStringLiteral(TWF_PATH),
                   QStringList{"--quiet"} + run.Options +
                       QStringList{"--log", Q(LogFile.string()), Q((Root / "flow.ini").string())});
        ASSERT_TRUE(Twf->waitForStarted(10000));
    }
    // Waits until twf has ended; its exit code, and the log in RunLog.
    int Finish() {
        Twf->waitForFinished(120000);
        RunLog = Log();
        return Twf->exitStatus() == QProcess::NormalExit ? Twf->exitCode() : -1;
    }
    int Run(const TRun& run) {
        StartTwf(run);
        return Finish();
    }
    std::string Log() const { return ReadTextFile(LogFile); }
    // Runs the workflow and keeps its log in RunLog; a failed run shows the log.
    ::testing::AssertionResult Passes(const TRun& run) {
        const int status = Run(run);
        if (status == 0)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "twf ended with " << status << "\n" << RunLog;
    }

    // A shell loop that waits (up to 20 s) until the log holds text. The first letter goes in
    // brackets, so neither the pattern nor the test finds the log's own copy of the command.
    static std::string ShellWaitForLog(const std::string& text) {
        return "for i in $(seq 200); do grep -q '[" + text.substr(0, 1) + "]" + text.substr(1) +
               "' flow.log && break; sleep 0.1; done; ";
    }
    // Workflow lines for a run that expects no output and closes once the log holds the text
    // and then seconds more.
    static std::string CloseAfterLog(const std::string& text, const std::string& seconds) {
        return "expect = 0\nbefore-close = " + ShellWaitForLog(text) + "sleep " + seconds + "\n";
    }
    // Workflow lines that wait until the log holds text, then send the module SIGTERM and wait
    // until its process has ended.
    // With volley, SIGINT, SIGTERM and SIGHUP at once and SIGTERM again and again until the
    // process has ended, as a parent that ends sends them from several threads.
    static std::string TerminateAfterLog(const std::string& text, bool volley = false) {
        return "expect = 0\nbefore-close = " + ShellWaitForLog(text) +
               "pid=$(sed -n 's/.*created as RAduvuz.ModuleControl.p\\([0-9]*\\).*/\\1/p' "
               "flow.log); " +
               (volley ? "kill -INT $pid; kill -TERM $pid; kill -HUP $pid; for i in $(seq 2000); "
                         "do kill -TERM $pid 2>/dev/null || break; done; "
                       : "kill -TERM $pid; ") +
               "for i in $(seq 100); do kill -0 $pid 2>/dev/null || "
               "break; sleep 0.1; done; kill -0 $pid 2>/dev/null && echo module running || echo "
               "module gone\n";
    }

    // Output documents of a sink folder, without their parameter files, in output number order.
    std::vector<fs::path> Outputs(const std::string& sink) const {
        std::vector<fs::path> files;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(Root / "out" / sink, ec)) {
            if (entry.path().extension() != ".dds")
                files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) {
            return std::stol(a.filename().string()) < std::stol(b.filename().string());
        });
        return files;
    }

    // The input page an output carries after "<doc>_".
    static std::string InputName(const fs::path& output) {
        const std::string name = output.filename().string();
        return name.substr(name.find('_') + 1);
    }

    // Every output equals the input page whose file name it carries after "<doc>_", from pages/
    // or from own/, where a test keeps the pages it feeds itself.
    void ExpectOutputsEqualInputs(const std::string& sink) const {
        for (const fs::path& output : Outputs(sink)) {
            fs::path input = Root / "pages" / InputName(output);
            if (!fs::exists(input))
                input = Root / "own" / InputName(output);
            ASSERT_TRUE(fs::exists(input)) << output;
            EXPECT_EQ(ReadTextFile(output), ReadTextFile(input)) << output;
        }
    }
    void ExpectSent(const std::string& sink, size_t count) const {
        EXPECT_EQ(Outputs(sink).size(), count) << sink << "\n" << RunLog;
        ExpectOutputsEqualInputs(sink);
    }
    // The inputs the sink's outputs were made from, as often as each was sent.
    std::multiset<std::string> SentNames(const std::string& sink) const {
        std::multiset<std::string> names;
        for (const fs::path& output : Outputs(sink))
            names.insert(InputName(output));
        return names;
    }
    // The sink's outputs are the inputs named, each equal to its input.
    void ExpectDelivered(const std::string& sink, const std::multiset<std::string>& names) const {
        ExpectOutputsEqualInputs(sink);
        EXPECT_EQ(SentNames(sink), names) << RunLog;
    }

    fs::path Program() const { return Root / "prog" / "raduvuz"; }
    fs::path ConfigFolder() const { return Root / "xdg" / "TWF_Data" / "Config"; }
    fs::path JobFolder() const { return Root / "prog" / "Storage" / "Q"; }

    // The spool files of a job folder: the files named <JobID>_<DocID> (the journal of waiting
    // jobs and the damaged folder are no spool files).
    std::set<std::string> SpoolFiles() const { return SpoolFiles(JobFolder()); }
    static std::set<std::string> SpoolFiles(const fs::path& folder) {
        static const std::regex spoolName("[0-9]+_[0-9]+");
        std::set<std::string> names;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(folder, ec)) {
            if (std::regex_match(entry.path().filename().string(), spoolName))
                names.insert(entry.path().filename().string());
        }
        return names;
    }

    // The lines of the store's listing at the end of the run.
    std::vector<std::string> StoreLines() const {
        std::vector<std::string> lines;
        for (const std::string& line : Lines(RunLog)) {
            const size_t at = line.find(" store: ");
            if (at != std::string::npos)
                lines.push_back(line.substr(at + 8));
        }
        return lines;
    }

    // The store's first listing line: how many documents it still holds.
    std::string StoreSummary() const {
        const std::vector<std::string> store = StoreLines();
        return store.empty() ? "<no store listing>" : store.front();
    }
    // What the store still holds at the end of the last run: nothing, so no destination waits
    // for a document that stays half written.
    void ExpectStoreEmpty() const {
        EXPECT_THAT(StoreSummary(), HasSubstr(" 0 documents")) << RunLog;
        for (const std::string& line : StoreLines())
            EXPECT_THAT(line, Not(HasSubstr("writing")));
    }

    // Starts twf on run and connects to its bus once the log holds ready.
    void StartAndConnect(const TRun& run, const std::string& ready) {
        StartTwf(run);
        ASSERT_TRUE(WaitForLog(ready)) << Log();
        // twf's private bus, as its log names it.
        Address = Q(AfterInLog(Log(), "private bus at "));
        Connect();
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

    // Connects the test to the bus at Address; a connection made before goes.
    void Connect() {
        Disconnect();
        Connection = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(Address, "workflow-test"));
        ASSERT_TRUE(Connection->isConnected()) << Address.toStdString() << "\n" << Log();
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
    QString ModuleName() const { return "RAduvuz.ModuleControl.p" + QString::number(ModulePid()); }
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

    // The passed rows of a listing as "<job>_<doc> <name>", in list order.
    static std::vector<std::string> PassedJobs(const TRows& rows) {
        std::vector<std::string> passed;
        for (const QVariantMap& row : rows)
            if (row.value("list").toString() == "passed")
                passed.push_back(std::to_string(row.value("job").toInt()) + "_" +
                                 std::to_string(row.value("doc").toInt()) + " " +
                                 row.value("name").toString().toStdString());
        return passed;
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

    // The process of module 3, by the bus name its log gives it; -1 before it has one.
    long ModulePid() const {
        return NumberAfter(Log(), "module 3 (Queuer): created as RAduvuz.ModuleControl.p");
    }

    using TMatch = std::function<bool(const QJsonObject&)>;
    static TMatch Where(const char* key, const QString& value) {
        return [key, value](const QJsonObject& row) {
            return row.value(QLatin1String(key)).toString() == value;
        };
    }
    // The ids of the rows that match once there are count of them (or the run has ended).
    std::vector<uint> WaitForRows(const std::function<QJsonArray()>& rows, const TMatch& match,
                                  size_t count) {
        std::vector<uint> ids;
        WaitUntil(
            [&] {
                ids.clear();
                for (const QJsonValue& row : rows())
                    if (match(row.toObject()))
                        ids.push_back(static_cast<uint>(row.toObject().value("id").toInteger()));
                return ids.size() >= count || Twf->state() == QProcess::NotRunning;
            },
            30000, 50);
        return ids;
    }

    TTempFolder Folder;
    fs::path Root = Folder.Path();
    fs::path LogFile;
    std::string RunLog;
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
