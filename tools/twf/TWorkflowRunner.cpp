#include "tools/twf/TWorkflowRunner.h"

#include "tools/twf/TBusCall.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sys/prctl.h>
#include <unistd.h>

namespace raduvuz {

namespace {

const QString StoreName = QStringLiteral("RozEza.MemoryMan");
const QString StorePath = QStringLiteral("/MemoryMan");
const QString StoreInterface = QStringLiteral("RozEza.MemoryMan");
const QString ModuleInterface = QStringLiteral("RAduvuz.IModuleControl");

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// A value of the workflow file as the module's SetValue takes it: a whole number travels as an
// integer, true and false as booleans, anything else as text.
QDBusVariant ValueVariant(const std::string& text) {
    bool isNumber = false;
    const int number = Q(text).toInt(&isNumber);
    if (isNumber)
        return QDBusVariant(QVariant(number));
    if (text == "true" || text == "false")
        return QDBusVariant(QVariant(text == "true"));
    return QDBusVariant(QVariant(Q(text)));
}

std::string S(const QString& text) {
    return text.toStdString();
}

} // namespace

TWorkflowRunner::TWorkflowRunner(TWorkflow workflow, TTwfLog& log, QString programFolder)
    : Workflow(std::move(workflow)), Log(log), ProgramFolder(std::move(programFolder)) {
    FeedRetry.setSingleShot(true);
    FeedRetry.setInterval(Workflow.BackstopSeconds * 1000);
    SinkTimer.setInterval(Workflow.BackstopSeconds * 1000);
    Deadline.setSingleShot(true);
    connect(&FeedRetry, &QTimer::timeout, this, [this] {
        FeedWaiting = false;
        FeedNext();
    });
    connect(&SinkTimer, &QTimer::timeout, this, &TWorkflowRunner::TakeAllSinks);
    connect(&Deadline, &QTimer::timeout, this, [this] {
        Finish(false, "timed out after " + std::to_string(Workflow.TimeoutSeconds) + " s");
    });
}

TWorkflowRunner::~TWorkflowRunner() {
    for (auto& m : Modules)
        StopProcess(m.Process, "module", 0);
    StopProcess(Store, "store", 0);
    StopProcess(BusDaemon, "bus", 0);
}

QString TWorkflowRunner::FindProgram(const std::string& configured,
                                     const QStringList& candidates) const {
    if (!configured.empty())
        return Q(configured);
    for (const QString& c : candidates) {
        QString path = QDir(ProgramFolder).filePath(c);
        if (QFileInfo(path).isExecutable())
            return QDir::cleanPath(path);
    }
    return QStandardPaths::findExecutable(QFileInfo(candidates.first()).fileName());
}

QProcess* TWorkflowRunner::NewChild() {
    auto* process = new QProcess(this);
    // What twf started ends with twf, even when twf itself is killed.
    process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    return process;
}

void TWorkflowRunner::Interrupt() {
    Interrupted = true;
    Finish(false, "interrupted");
    emit modulesChanged();
}

bool TWorkflowRunner::StartBus() {
    if (Workflow.PrivateBus) {
        BusDaemon = NewChild();
        BusDaemon->start(QStringLiteral("dbus-daemon"),
                         {QStringLiteral("--session"), QStringLiteral("--nofork"),
                          QStringLiteral("--print-address=1")});
        if (!BusDaemon->waitForStarted(10000) || !BusDaemon->waitForReadyRead(10000)) {
            Log.Line("cannot start a private dbus-daemon");
            return false;
        }
        QString address = QString::fromUtf8(BusDaemon->readLine()).trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
        qunsetenv("DBUS_STARTER_ADDRESS");
        qunsetenv("DBUS_STARTER_BUS_TYPE");
        Log.Line("private bus at " + S(address));
        Bus = QDBusConnection::connectToBus(address, QStringLiteral("twf"));
    } else {
        Bus = QDBusConnection::sessionBus();
    }
    if (!Bus.isConnected()) {
        Log.Line("cannot connect to the bus: " + S(Bus.lastError().message()));
        return false;
    }
    Server = std::make_unique<TWorkflowServer>(Workflow, Log);
    connect(Server.get(), &TWorkflowServer::closeRequested, this, [this](int number) {
        for (auto& m : Modules)
            if (m.Def->Number == number && !m.Closed) {
                // Answer the module first; its Close comes from the event loop.
                QTimer::singleShot(0, this, [this, &m] { CloseModule(m); });
            }
    });
    if (!Bus.registerObject(QStringLiteral("/Workflow"), Server.get(),
                            QDBusConnection::ExportAllSlots)) {
        Log.Line("cannot export /Workflow");
        return false;
    }
    return true;
}

bool TWorkflowRunner::StartStore() {
    bool present = Bus.interface()->isServiceRegistered(StoreName);
    if (!Workflow.StartStore || present) {
        if (!present) {
            Log.Line("no document store on the bus (RozEza.MemoryMan)");
            return false;
        }
        Log.Line("using the document store already on the bus");
        return true;
    }
    QString program =
        FindProgram(Workflow.StoreProgram,
                    {QStringLiteral("memoryman"), QStringLiteral("../memoryman/memoryman")});
    if (program.isEmpty()) {
        Log.Line("cannot find the memoryman program");
        return false;
    }
    Store = NewChild();
    // The store's lines (a vanished module's documents taken back, say) belong in the log.
    Store->setProcessChannelMode(QProcess::ForwardedOutputChannel);
    auto storeLines = [this, partial = std::make_shared<QByteArray>()] {
        *partial += Store->readAllStandardError();
        const bool ended = Store->state() == QProcess::NotRunning;
        for (qsizetype end = partial->indexOf('\n'); end >= 0 || (ended && !partial->isEmpty());
             end = partial->indexOf('\n')) {
            const qsizetype cut = end >= 0 ? end : partial->size();
            Log.Line(S(QString::fromUtf8(partial->left(cut))));
            partial->remove(0, std::min(cut + 1, partial->size()));
        }
    };
    connect(Store, &QProcess::readyReadStandardError, this, storeLines);
    connect(Store, &QProcess::finished, this, storeLines);
    QStringList args;
    for (const auto& o : Workflow.StoreOptions)
        args << Q(o);
    Store->start(program, args);
    if (!Store->waitForStarted(10000)) {
        Log.Line("cannot start " + S(program));
        return false;
    }
    if (!WaitForName(Bus, StoreName, 10000, Store)) {
        Log.Line("the document store did not appear on the bus");
        return false;
    }
    Log.Line("document store started (" + S(program) + ", pid " +
             std::to_string(Store->processId()) + ")");
    return true;
}

bool TWorkflowRunner::CreateModule(TDriven& module) {
    const TModuleDef& def = *module.Def;
    if (def.Create == "provider") {
        QDBusMessage reply = CallAndWait(Bus,
                                         MakeCall(QStringLiteral("RAduvuz.ServerProvider"),
                                                  QStringLiteral("/ServerProvider"),
                                                  QStringLiteral("RAduvuz.IServerProvider"),
                                                  QStringLiteral("GetObject"), {QString()}),
                                         60000);
        QString error = ErrorText(reply);
        if (!error.isEmpty() || reply.arguments().isEmpty()) {
            Log.Line("module " + std::to_string(def.Number) +
                     ": the server provider failed: " + S(error));
            return false;
        }
        QString reference =
            qvariant_cast<QDBusVariant>(reply.arguments().first()).variant().toString();
        int slash = reference.indexOf(QLatin1Char('/'));
        if (slash <= 0) {
            Log.Line("module " + std::to_string(def.Number) + ": bad reference \"" + S(reference) +
                     "\"");
            return false;
        }
        module.Service = reference.left(slash);
        module.Path = reference.mid(slash);
    } else {
        QString program =
            FindProgram(def.Program.empty() ? Workflow.ModuleProgram : def.Program,
                        {QStringLiteral("raduvuz"), QStringLiteral("../../app/raduvuz")});
        if (program.isEmpty()) {
            Log.Line("module " + std::to_string(def.Number) +
                     ": cannot find the module program raduvuz");
            return false;
        }
        module.Process = NewChild();
        module.Process->setProcessChannelMode(QProcess::ForwardedChannels);
        module.Process->start(program, {QStringLiteral("-AUTOMATION")});
        if (!module.Process->waitForStarted(10000)) {
            Log.Line("module " + std::to_string(def.Number) + ": cannot start " + S(program));
            return false;
        }
        Log.Line("module " + std::to_string(def.Number) + ": started " + S(program) + ", pid " +
                 std::to_string(module.Process->processId()));
        int number = def.Number;
        connect(module.Process, &QProcess::finished, this,
                [this, number](int code, QProcess::ExitStatus status) {
                    Log.Line("module " + Server->ModuleText(number) + ": process ended (" +
                             (status == QProcess::CrashExit ? std::string("by a signal")
                                                            : "exit code " + std::to_string(code)) +
                             ")");
                    Server->State(number).Running = false;
                    emit modulesChanged();
                });
        module.Service =
            QStringLiteral("RAduvuz.ModuleControl.p%1").arg(module.Process->processId());
        module.Path = QStringLiteral("/ModuleControl");
        if (!WaitForName(Bus, module.Service, 30000, module.Process)) {
            Log.Line("module " + std::to_string(def.Number) + ": " + S(module.Service) +
                     " did not appear on the bus");
            return false;
        }
    }
    Server->State(def.Number).Created = true;
    Log.Line("module " + Server->ModuleText(def.Number) + ": created as " + S(module.Service) +
             S(module.Path));
    return true;
}

bool TWorkflowRunner::CallModule(TDriven& module, const QString& method, const QVariantList& args,
                                 int timeoutMs, QDBusMessage* replyOut) {
    QStringList shown;
    for (const QVariant& a : args)
        shown << (a.canConvert<QDBusVariant>() ? qvariant_cast<QDBusVariant>(a).variant().toString()
                                               : a.toString());
    Log.Line("-> module " + Server->ModuleText(module.Def->Number) + ": " + S(method) + "(" +
             S(shown.join(QStringLiteral(", "))) + ")");
    QDBusMessage reply = CallAndWait(
        Bus, MakeCall(module.Service, module.Path, ModuleInterface, method, args), timeoutMs);
    if (replyOut)
        *replyOut = reply;
    QString error = ErrorText(reply);
    if (!error.isEmpty()) {
        Log.Line("module " + Server->ModuleText(module.Def->Number) + ": " + S(method) +
                 " failed: " + S(error));
        return false;
    }
    return true;
}

void TWorkflowRunner::FinalCalls(TDriven& module) {
    for (const TFinalCallDef& c : module.Def->FinalCalls) {
        QVariantList args;
        std::string shown;
        if (c.Method == "SaveConfig") {
            const std::string key = c.Arg.empty() ? module.Def->ConfigKey : c.Arg;
            args << Q(key);
            shown = key;
        } else if (c.Method == "GetValue" || c.Method == "IsJobUse") {
            args << c.Num;
            shown = std::to_string(c.Num);
        }
        QDBusMessage reply;
        if (!CallModule(module, Q(c.Method), args, 60000, &reply))
            continue;
        QVariant answer = reply.arguments().value(0);
        if (answer.canConvert<QDBusVariant>())
            answer = qvariant_cast<QDBusVariant>(answer).variant();
        // Null travels as an empty array of variants.
        const std::string text = answer.userType() == qMetaTypeId<QDBusArgument>()
                                     ? std::string("<null>")
                                     : S(answer.toString());
        Log.Line("module " + Server->ModuleText(module.Def->Number) + ": " + c.Method + "(" +
                 shown + ") = " + text);
        // A killed module is gone from the workflow: it is not closed afterwards.
        if (c.Method == "Kill") {
            module.Closed = true;
            Server->State(module.Def->Number).Running = false;
            return;
        }
    }
}

bool TWorkflowRunner::ConfigureModule(TDriven& module) {
    const TModuleDef& def = *module.Def;
    const QString reference = Bus.baseService() + QStringLiteral("/Workflow");
    std::string description = def.Description.empty() ? def.Name : def.Description;
    if (!CallModule(module, QStringLiteral("Init"), {def.Number, Q(description), reference}))
        return false;
    bool ok = CallModule(module, QStringLiteral("LoadConfig"), {Q(def.ConfigKey)});
    ok = CallModule(module, QStringLiteral("ClearFlowEntrySet"), {}) && ok;
    for (const auto& f : def.Flows)
        ok = CallModule(module, QStringLiteral("AddFlowEntry"), {f.Dest, Q(f.Rule)}) && ok;
    ok = CallModule(module, QStringLiteral("ClearTerminatorsSet"), {}) && ok;
    for (const auto& t : Workflow.Terminators)
        ok = CallModule(module, QStringLiteral("AddTerminator"),
                        {t.Number, Q(t.Name), QVariant::fromValue(QDBusVariant(0))}) &&
             ok;
    ok = CallModule(module, QStringLiteral("CompletedSendTerminators"), {}) && ok;
    if (def.StartLog)
        ok = CallModule(module, QStringLiteral("StartLog"), {}) && ok;
    for (const auto& v : def.Values)
        ok = CallModule(module, QStringLiteral("SetValue"),
                        {v.Num, QVariant::fromValue(ValueVariant(v.Value))}) &&
             ok;
    return ok;
}

void TWorkflowRunner::CloseModule(TDriven& module) {
    if (module.Closed)
        return;
    module.Closed = true;
    CallModule(module, QStringLiteral("Close"), {}, 30000);
    Server->State(module.Def->Number).Running = false;
    emit modulesChanged();
}

bool TWorkflowRunner::AnyModuleOpen() const {
    return std::any_of(Modules.begin(), Modules.end(), [](const TDriven& m) {
        return !m.Closed && !m.Service.isEmpty() &&
               (!m.Process || m.Process->state() == QProcess::Running);
    });
}

void TWorkflowRunner::WaitForOperator() {
    if (!AnyModuleOpen())
        return;
    const std::string prompt =
        ShowConsoles
            ? "the module consoles stay open: press Enter here, or choose Exit in every console"
            : "the modules stay up: press Enter here (or Ctrl+C) to close them";
    Log.Line(prompt);
    // With --quiet the log goes to the file only, but the operator must see this line.
    if (Log.Quiet)
        std::cerr << "twf: " << prompt << std::endl;
    QEventLoop wait;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    connect(&input, &QSocketNotifier::activated, &wait, [&] {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        // The end of the input counts as Enter, so a run without a terminal does not hang.
        if (n <= 0 || std::memchr(buffer, '\n', static_cast<size_t>(n))) {
            input.setEnabled(false);
            wait.quit();
        }
    });
    connect(this, &TWorkflowRunner::modulesChanged, &wait, [&] {
        if (Interrupted || !AnyModuleOpen())
            wait.quit();
    });
    // What the operator sends on from a console (a released or reprocessed job) still reaches
    // its sink meanwhile.
    OperatorWaiting = true;
    TakeAllSinks();
    if (!Interrupted)
        wait.exec();
    OperatorWaiting = false;
}

QDBusMessage TWorkflowRunner::StoreCall(const QString& method, const QVariantList& args) {
    return MakeCall(StoreName, StorePath, StoreInterface, method, args);
}

void TWorkflowRunner::ListenToStore() {
    const std::pair<const char*, const char*> signalSlots[] = {
        {"DocumentAvailable", SLOT(OnDocumentAvailable(int, int))},
        {"DocumentClosed", SLOT(OnDocumentClosed(int, bool))},
        {"MemoryFreed", SLOT(OnMemoryFreed())},
    };
    for (const auto& [name, slot] : signalSlots)
        Bus.connect(StoreName, StorePath, StoreInterface, QString::fromLatin1(name), this, slot);
}

void TWorkflowRunner::OnDocumentAvailable(int module, int doc) {
    if (TakingSinks() && Workflow.FindSink(module))
        SinkDocs[doc].insert(module);
}

void TWorkflowRunner::OnDocumentClosed(int doc, bool aborted) {
    auto it = SinkDocs.find(doc);
    if (it == SinkDocs.end())
        return;
    const std::set<int32_t> sinks = std::move(it->second);
    SinkDocs.erase(it);
    if (aborted || !TakingSinks())
        return;
    for (int32_t sink : sinks)
        TakeSink(sink);
}

void TWorkflowRunner::OnMemoryFreed() {
    if (!FeedWaiting)
        return;
    FeedWaiting = false;
    FeedRetry.stop();
    FeedNext();
}

void TWorkflowRunner::FeedNext() {
    if (FeedBusy || FeedWaiting || Finished)
        return;
    if (FeedIndex >= Feeds.size()) {
        CheckDone();
        return;
    }
    const TFeed& f = Feeds[FeedIndex];
    FeedBusy = true;
    auto* watcher = new QDBusPendingCallWatcher(
        Bus.asyncCall(
            StoreCall(QStringLiteral("PutFile"), {Q(f.Path), Q(f.Dds), f.BlockSize, f.To}), 30000),
        this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        FeedBusy = false;
        if (Finished)
            return;
        QDBusMessage reply = watcher->reply();
        const TFeed& f = Feeds[FeedIndex];
        if (reply.type() == QDBusMessage::ErrorMessage) {
            // A full store is no failure: the file goes in once documents have moved on.
            if (reply.errorName() == QStringLiteral("RozEza.MemoryMan.Error.NoMemory")) {
                FeedWaiting = true;
                if (Workflow.BackstopSeconds > 0)
                    FeedRetry.start();
                return;
            }
            Log.Line("feeding " + f.Path + " failed: " + S(ErrorText(reply)));
            FeedsFailed++;
        } else {
            Log.Line("fed " + f.Path + " as document " +
                     std::to_string(reply.arguments().value(0).toInt()) + " for module " +
                     Server->ModuleText(f.To));
            FeedsOk++;
            // A file fed straight to a sink is finished at once.
            if (Workflow.FindSink(f.To))
                TakeSink(f.To);
        }
        FeedIndex++;
        FeedNext();
    });
}

void TWorkflowRunner::TakeAllSinks() {
    for (const auto& sink : Workflow.Sinks)
        TakeSink(sink.Number);
}

void TWorkflowRunner::TakeSink(int32_t number) {
    const TSinkDef* sink = Workflow.FindSink(number);
    if (!TakingSinks() || !sink || StoreAway)
        return;
    TSinkTake& take = SinkTakes[number];
    if (take.Busy) {
        take.Again = true;
        return;
    }
    take.Busy = true;
    auto* watcher = new QDBusPendingCallWatcher(
        Bus.asyncCall(StoreCall(QStringLiteral("TakeFinished"), {number, Q(sink->Folder)}), 30000),
        this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, number] {
        watcher->deleteLater();
        QDBusMessage reply = watcher->reply();
        if (reply.type() == QDBusMessage::ErrorMessage) {
            if (!Finished)
                Log.Line("sink " + Server->ModuleText(number) +
                         ": taking documents failed: " + S(ErrorText(reply)));
        } else {
            for (const QString& file : reply.arguments().value(0).toStringList()) {
                std::error_code ec;
                auto size = std::filesystem::file_size(S(file), ec);
                DeliveredBytes += ec ? 0 : static_cast<int64_t>(size);
                Delivered++;
                Log.Line("sink " + Server->ModuleText(number) + ": received " + S(file));
            }
        }
        TSinkTake& take = SinkTakes[number];
        take.Busy = false;
        if (take.Again) {
            take.Again = false;
            TakeSink(number);
        }
        CheckDone();
    });
}

void TWorkflowRunner::CheckDone() {
    if (Finished || FeedIndex < Feeds.size())
        return;
    if (Delivered >= Expected)
        Finish(true, "every document delivered");
}

void TWorkflowRunner::Finish(bool ok, const std::string& reason) {
    if (Finished)
        return;
    Finished = true;
    Ok = ok;
    Reason = reason;
    RunLoop.quit();
}

void TWorkflowRunner::RunBeforeClose() {
    if (Workflow.BeforeClose.empty())
        return;
    Log.Line("before-close: " + Workflow.BeforeClose);
    QProcess* shell = NewChild();
    shell->setProcessChannelMode(QProcess::MergedChannels);
    shell->setWorkingDirectory(Q(Workflow.BaseDir));
    QEventLoop wait;
    connect(shell, &QProcess::finished, &wait, &QEventLoop::quit);
    connect(shell, &QProcess::errorOccurred, &wait, [&wait](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            wait.quit();
    });
    // A command that hangs must not keep the modules open for ever.
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, &wait, &QEventLoop::quit);
    guard.start(Workflow.TimeoutSeconds * 1000);
    shell->start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), Q(Workflow.BeforeClose)});
    wait.exec();
    if (shell->state() != QProcess::NotRunning) {
        Log.Line("before-close: still running after " + std::to_string(Workflow.TimeoutSeconds) +
                 " s; ending it");
        StopProcess(shell, "before-close", 0);
    }
    for (const QString& line :
         QString::fromUtf8(shell->readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        Log.Line("before-close| " + S(line));
    Log.Line(shell->exitStatus() == QProcess::NormalExit &&
                     shell->error() != QProcess::FailedToStart
                 ? "before-close: exit code " + std::to_string(shell->exitCode())
                 : std::string("before-close: the command did not end normally"));
    shell->deleteLater();
}

void TWorkflowRunner::StopProcess(QProcess* process, const char* what, int graceMs) {
    if (!process || process->state() == QProcess::NotRunning)
        return;
    if (graceMs > 0) {
        if (WaitForEnd(*process, graceMs))
            return;
        Log.Line(std::string("the ") + what + " process " + std::to_string(process->processId()) +
                 " is still running " + std::to_string(graceMs / 1000) +
                 " s after Close; ending it");
    }
    process->terminate();
    if (!WaitForEnd(*process, 5000)) {
        Log.Line(std::string("killing the ") + what + " process " +
                 std::to_string(process->processId()));
        process->kill();
        WaitForEnd(*process, 5000);
    }
}

int TWorkflowRunner::Run() {
    Clock.start();
    Log.Line("workflow " + Workflow.Name + " starting");
    try {
        Feeds = Workflow.Feeds();
    } catch (const TWorkflowError& e) {
        Log.Line(e.what());
        return 1;
    }
    Expected = Workflow.Expect >= 0 ? Workflow.Expect : static_cast<int>(Feeds.size());
    bool ready = StartBus() && StartStore();
    if (ready) {
        QDBusServiceWatcher* watcher =
            new QDBusServiceWatcher(StoreName, Bus, QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this](const QString&, const QString& oldOwner, const QString& newOwner) {
                    if (!oldOwner.isEmpty() && !Workflow.WaitForStore)
                        Finish(false, "the document store has gone");
                    else if (!oldOwner.isEmpty())
                        Log.Line("the document store has gone; waiting for a store to own " +
                                 S(StoreName) + " again");
                    StoreAway = newOwner.isEmpty();
                    // What the new store finished already is taken at once.
                    if (!newOwner.isEmpty() && !Finished) {
                        Log.Line("a document store owns " + S(StoreName) + " again (" +
                                 S(newOwner) + ")");
                        TakeAllSinks();
                    }
                });
        ListenToStore();
        Modules.reserve(Workflow.Modules.size());
        for (const auto& def : Workflow.Modules) {
            Modules.emplace_back();
            TDriven& m = Modules.back();
            m.Def = &def;
            if (Interrupted || !CreateModule(m) || !ConfigureModule(m)) {
                ready = false;
                break;
            }
        }
    }
    if (ready && !Interrupted) {
        for (auto& m : Modules) {
            Server->State(m.Def->Number).Running = true;
            CallModule(m, QStringLiteral("Resume"), {});
        }
        Server->StartRunning();
        if (ShowConsoles)
            for (auto& m : Modules)
                CallModule(m, QStringLiteral("ShowModule"), {});
        Log.Line("workflow running: " + std::to_string(Feeds.size()) + " files to feed, " +
                 std::to_string(Expected) + " documents expected at the sinks");
        // Each sink's folder is there from the start, also for a sink that gets nothing.
        for (const auto& sink : Workflow.Sinks) {
            std::error_code ec;
            std::filesystem::create_directories(sink.Folder, ec);
            if (ec)
                Log.Line("sink " + Server->ModuleText(sink.Number) + ": cannot create " +
                         sink.Folder + ": " + ec.message());
        }
        Deadline.start(Workflow.TimeoutSeconds * 1000);
        if (Workflow.BackstopSeconds > 0)
            SinkTimer.start();
        FeedNext();
        CheckDone();
        if (!Finished)
            RunLoop.exec();
    } else {
        Finish(false, Interrupted ? "interrupted" : "the workflow could not be set up");
    }
    FeedRetry.stop();
    SinkTimer.stop();
    Deadline.stop();
    if (ready && !Interrupted)
        RunBeforeClose();

    // What is left in the store tells where a failed run stopped.
    if (Bus.isConnected() && Bus.interface()->isServiceRegistered(StoreName)) {
        QDBusMessage list = CallAndWait(Bus, StoreCall(QStringLiteral("ListDocs"), {}), 10000);
        if (list.type() == QDBusMessage::ReplyMessage)
            for (const QString& line :
                 list.arguments().value(0).toString().split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                Log.Line("store: " + S(line));
    }
    if ((ShowConsoles || KeepModules) && !Interrupted)
        WaitForOperator();
    for (auto& m : Modules)
        if (!m.Service.isEmpty() && !m.Closed &&
            (!m.Process || m.Process->state() == QProcess::Running))
            FinalCalls(m);
    for (auto& m : Modules)
        if (!m.Service.isEmpty() && (!m.Process || m.Process->state() == QProcess::Running))
            CloseModule(m);
    for (auto& m : Modules)
        StopProcess(m.Process, "module", 5000);
    StopProcess(Store, "store", 0);

    const double seconds = Clock.elapsed() / 1000.0;
    char rate[64];
    std::snprintf(rate, sizeof rate, "%.1f s, %.1f MB/s", seconds,
                  seconds > 0 ? DeliveredBytes / seconds / 1e6 : 0.0);
    Log.Line("summary: " + std::string(Ok ? "done" : "FAILED") + " (" + Reason + "); fed " +
             std::to_string(FeedsOk) + " of " + std::to_string(Feeds.size()) + " files" +
             (FeedsFailed ? " (" + std::to_string(FeedsFailed) + " refused)" : "") +
             ", delivered " + std::to_string(Delivered) + " of " + std::to_string(Expected) +
             " documents, " + std::to_string(DeliveredBytes) + " bytes in " + rate);
    if (Bus.isConnected()) {
        Bus.unregisterObject(QStringLiteral("/Workflow"));
        if (BusDaemon)
            QDBusConnection::disconnectFromBus(QStringLiteral("twf"));
    }
    StopProcess(BusDaemon, "bus", 0);
    return Ok ? 0 : 1;
}

} // namespace raduvuz
