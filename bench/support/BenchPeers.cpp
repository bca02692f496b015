#include "bench/support/BenchPeers.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcessEnvironment>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/prctl.h>
#include <unistd.h>

namespace raduvuz::bench {

TStats StatsOf(std::vector<double> values) {
    TStats stats;
    if (values.empty())
        return stats;
    std::sort(values.begin(), values.end());
    stats.Min = values.front();
    stats.Max = values.back();
    const size_t n = values.size();
    stats.Median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return stats;
}

std::string Figures(const TStats& stats, const char* unit, int decimals) {
    char text[160];
    std::snprintf(text, sizeof text, "min %.*f / median %.*f / max %.*f %s", decimals, stats.Min,
                  decimals, stats.Median, decimals, stats.Max, unit);
    return text;
}

double ProcessCpuSeconds(qint64 pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line))
        return -1;
    // The command name may hold blanks: the fields after it follow its closing parenthesis.
    const size_t close = line.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    // Fields 3..13 come before utime (14) and stime (15).
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15)
            stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

std::vector<qint64> ChildrenOf(qint64 pid) {
    std::vector<qint64> children;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return children;
    while (const dirent* entry = ::readdir(proc)) {
        const qint64 candidate = std::atoll(entry->d_name);
        if (candidate <= 0)
            continue;
        std::ifstream in("/proc/" + std::to_string(candidate) + "/stat");
        std::string line;
        if (!std::getline(in, line))
            continue;
        const size_t close = line.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream fields(line.substr(close + 2));
        std::string state;
        qint64 parent = 0;
        if (fields >> state >> parent && parent == pid)
            children.push_back(candidate);
    }
    ::closedir(proc);
    return children;
}

std::string ProcessName(qint64 pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

bool ServeUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    QTimer wake;
    wake.start(std::min(ms, 50));
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

void TBenchServer::ChangeStatus(int, bool, int) {
    ++Callbacks;
}

void TBenchServer::WriteLog(int, const QString&) {
    ++Callbacks;
}

QDBusVariant TBenchServer::GetValue(int module, int num) {
    ++Callbacks;
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const QString computer = QString::fromLocal8Bit(host).left(15);
    if (module == 0) {
        if (num == 2)
            return QDBusVariant(computer);
        if (num == 1004)
            return QDBusVariant(36);
        return QDBusVariant(QVariant::fromValue(QVariantList()));
    }
    switch (num) {
    case 0:
        return QDBusVariant(1);
    case 6:
        return QDBusVariant(false);
    case 7:
        return QDBusVariant(computer);
    default:
        return QDBusVariant(QVariant::fromValue(QVariantList()));
    }
}

void TBenchServer::SetValue(int, int, bool) {
    ++Callbacks;
}

bool TBenchServer::IsJobUse(int, int) {
    ++Callbacks;
    return false;
}

void TBenchServer::ShowLabel(int module, const QString& text) {
    ++Callbacks;
    Labels[module] = text;
}

QString TBenchServer::GetConfigKey(int) {
    ++Callbacks;
    return QString::fromStdString(ConfigKey);
}

QString TBenchServer::PtrToKey(int term) {
    ++Callbacks;
    return QStringLiteral("TERM%1").arg(term);
}

void TBenchServer::CloseMe(int) {
    ++Callbacks;
}

void TBenchServer::ChangeSetup(int, const QString&, const QString&) {
    ++Callbacks;
}

TBenchWorld::TBenchWorld(QString moduleProgram, QString storeProgram)
    : ModuleProgram(std::move(moduleProgram)), StoreProgram(std::move(storeProgram)) {
    QDir root(Root.path());
    root.mkpath(QStringLiteral("prog"));
    root.mkpath(QStringLiteral("xdg/TWF_Data/Config"));
    root.mkpath(QStringLiteral("state"));
    root.mkpath(QStringLiteral("runtime"));
    QFile::setPermissions(root.filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile registry(root.filePath(QStringLiteral("registry.ini")));
    registry.open(QIODevice::WriteOnly);
    // A link where the file system allows one, else a copy: the program's folder is the world's.
    const QString program = root.filePath(QStringLiteral("prog/raduvuz"));
    if (::link(QFile::encodeName(ModuleProgram).constData(),
               QFile::encodeName(program).constData()) != 0)
        QFile::copy(ModuleProgram, program);
}

TBenchWorld::~TBenchWorld() {
    if (ServerExported)
        Connection.unregisterObject(QStringLiteral("/Workflow"));
    QDBusConnection::disconnectFromBus(QStringLiteral("bench"));
    // Modules first, the bus last.
    for (auto it = Children.rbegin(); it != Children.rend(); ++it) {
        QProcess& child = **it;
        if (child.state() == QProcess::NotRunning)
            continue;
        child.terminate();
        if (!child.waitForFinished(5000)) {
            child.kill();
            child.waitForFinished(5000);
        }
    }
}

QString TBenchWorld::ProgramFolder() const {
    return QDir(Root.path()).filePath(QStringLiteral("prog"));
}

QString TBenchWorld::DataFolder() const {
    return QDir(Root.path()).filePath(QStringLiteral("xdg/TWF_Data"));
}

qint64 TBenchWorld::BusPid() const {
    return BusDaemon ? BusDaemon->processId() : 0;
}

qint64 TBenchWorld::StorePid() const {
    return Store ? Store->processId() : 0;
}

QProcess* TBenchWorld::Child(const QString& program, const QStringList& args, bool quiet) {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QDir root(Root.path());
    env.insert(QStringLiteral("XDG_DATA_HOME"), root.filePath(QStringLiteral("xdg")));
    env.insert(QStringLiteral("XDG_STATE_HOME"), root.filePath(QStringLiteral("state")));
    env.insert(QStringLiteral("RADUVUZ_REGISTRY"), root.filePath(QStringLiteral("registry.ini")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), root.filePath(QStringLiteral("runtime")));
    env.remove(QStringLiteral("DBUS_STARTER_ADDRESS"));
    env.remove(QStringLiteral("DBUS_STARTER_BUS_TYPE"));
    process->setProcessEnvironment(env);
    // The bus daemon's complaints about its file limit say nothing about the figures.
    if (quiet)
        process->setStandardErrorFile(QProcess::nullDevice());
    else
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // What the benchmark started ends with it, even when it is killed.
    process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process->start(program, args);
    if (!process->waitForStarted(10000)) {
        Error = QStringLiteral("cannot start %1").arg(program);
        return nullptr;
    }
    Children.push_back(std::move(process));
    return Children.back().get();
}

bool TBenchWorld::WaitForName(const QString& name, const QProcess* owner) {
    const bool found = ServeUntil(
        [&] {
            return Connection.interface()->isServiceRegistered(name).value() ||
                   owner->state() == QProcess::NotRunning;
        },
        30000);
    if (!found || owner->state() == QProcess::NotRunning) {
        Error = QStringLiteral("%1 did not appear on the bus").arg(name);
        return false;
    }
    return true;
}

bool TBenchWorld::Start(const QStringList& storeOptions) {
    BusDaemon = Child(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--session"), QStringLiteral("--nofork"),
                       QStringLiteral("--print-address=1")},
                      true);
    if (!BusDaemon)
        return false;
    if (!BusDaemon->waitForReadyRead(10000)) {
        Error = QStringLiteral("the bus daemon gave no address");
        return false;
    }
    const QString address = QString::fromUtf8(BusDaemon->readLine()).trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
    Connection = QDBusConnection::connectToBus(address, QStringLiteral("bench"));
    if (!Connection.isConnected()) {
        Error = QStringLiteral("cannot connect to the private bus");
        return false;
    }
    QStringList args = storeOptions;
    args << QStringLiteral("--state")
         << QDir(Root.path()).filePath(QStringLiteral("state/memoryman"));
    Store = Child(StoreProgram, args);
    return Store && WaitForName(QStringLiteral("RozEza.MemoryMan"), Store);
}

QString TBenchWorld::StartModule(qint64* pid) {
    if (!ServerExported) {
        ServerExported = Connection.registerObject(QStringLiteral("/Workflow"), &WorkflowServer,
                                                   QDBusConnection::ExportAllSlots);
        if (!ServerExported) {
            Error = QStringLiteral("cannot export the server object");
            return {};
        }
    }
    QProcess* module = Child(QDir(ProgramFolder()).filePath(QStringLiteral("raduvuz")),
                             {QStringLiteral("-AUTOMATION")});
    if (!module)
        return {};
    const QString name = QStringLiteral("RAduvuz.ModuleControl.p%1").arg(module->processId());
    if (!WaitForName(name, module))
        return {};
    if (pid)
        *pid = module->processId();
    return name;
}

QDBusMessage TBenchWorld::Call(const QString& service, const QString& path, const QString& method,
                               const QVariantList& args, int timeoutMs) {
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, QString(), method);
    call.setArguments(args);
    // The module calls the server back from inside the call: serve while waiting.
    QDBusPendingCall pending = Connection.asyncCall(call, timeoutMs);
    QDBusPendingCallWatcher watcher(pending);
    QEventLoop loop;
    QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    if (!pending.isFinished())
        loop.exec();
    const QDBusMessage reply = pending.reply();
    if (reply.type() == QDBusMessage::ErrorMessage)
        Error = QStringLiteral("%1 failed: %2").arg(method, reply.errorMessage());
    return reply;
}

QDBusMessage TBenchWorld::CallModule(const QString& service, const QString& method,
                                     const QVariantList& args) {
    return Call(service, QStringLiteral("/ModuleControl"), method, args);
}

QDBusMessage TBenchWorld::CallStore(const QString& method, const QVariantList& args) {
    return Call(QStringLiteral("RozEza.MemoryMan"), QStringLiteral("/MemoryMan"), method, args);
}

bool TBenchWorld::Configure(const QString& service, int number, const QString& configKey,
                            const std::vector<std::pair<int, QString>>& flows) {
    const QString reference = Connection.baseService() + QStringLiteral("/Workflow");
    std::vector<std::pair<QString, QVariantList>> calls = {
        {QStringLiteral("Init"), {number, QStringLiteral("Bench %1").arg(number), reference}},
        {QStringLiteral("LoadConfig"), {configKey}},
        {QStringLiteral("ClearFlowEntrySet"), {}}};
    for (const auto& [dest, rule] : flows)
        calls.push_back({QStringLiteral("AddFlowEntry"), {dest, rule}});
    calls.push_back({QStringLiteral("ClearTerminatorsSet"), {}});
    calls.push_back({QStringLiteral("AddTerminator"),
                     {1, QStringLiteral("Press"), QVariant::fromValue(QDBusVariant(0))}});
    calls.push_back({QStringLiteral("CompletedSendTerminators"), {}});
    calls.push_back({QStringLiteral("StartLog"), {}});
    calls.push_back({QStringLiteral("Resume"), {}});
    for (const auto& [method, args] : calls) {
        if (CallModule(service, method, args).type() != QDBusMessage::ReplyMessage)
            return false;
    }
    return true;
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QString MakeTwfFolder(const QDir& dir, const QString& moduleProgram) {
    for (const char* sub : {"prog", "pages", "xdg", "state", "runtime", "out"})
        dir.mkpath(QString::fromLatin1(sub));
    QFile::setPermissions(dir.filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString program = dir.filePath(QStringLiteral("prog/raduvuz"));
    if (::link(QFile::encodeName(moduleProgram).constData(),
               QFile::encodeName(program).constData()) != 0 &&
        !QFile::copy(moduleProgram, program))
        return QString();
    return program;
}

bool WritePages(const QDir& dir, int count, const QByteArray& page) {
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("job%1.rst").arg(i, 5, 10, QLatin1Char('0'));
        const QString dds =
            QStringLiteral("Name=job%1;FileName=%2;File=RST;Device=1;Priority=5").arg(i).arg(name);
        if (!WriteFile(dir.filePath(QStringLiteral("pages/") + name), page) ||
            !WriteFile(dir.filePath(QStringLiteral("pages/") + name + QStringLiteral(".dds")),
                       dds.toUtf8()))
            return false;
    }
    return true;
}

bool StartTwf(QProcess& twf, const QString& twfPath, const QDir& dir, const QString& log,
              const QString& workflow) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("xdg")));
    env.insert(QStringLiteral("XDG_STATE_HOME"), dir.filePath(QStringLiteral("state")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("runtime")));
    env.insert(QStringLiteral("RADUVUZ_REGISTRY"), dir.filePath(QStringLiteral("registry.ini")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    twf.setProcessEnvironment(env);
    twf.setStandardOutputFile(QProcess::nullDevice());
    twf.setStandardErrorFile(QProcess::nullDevice());
    twf.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    twf.start(twfPath, {QStringLiteral("--quiet"), QStringLiteral("--log"), log, workflow});
    return twf.waitForStarted(10000);
}

} // namespace raduvuz::bench
