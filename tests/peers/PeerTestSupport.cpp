#include "peers/PeerTestSupport.h"

#include <QDeadlineTimer>

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/mman.h>
#include <unistd.h>

namespace raduvuz::test {

TStoreProcess::TStoreProcess(TPrivateBus& bus, const QStringList& args) : Bus(bus) {
    EndWithParent(Process);
    Process.setProcessEnvironment(bus.Environment());
    QStringList all = args;
    if (!all.contains(QStringLiteral("--state")))
        all << QStringLiteral("--state") << QString::fromStdString(State / "state");
    Process.start(QStringLiteral(MEMORYMAN_PATH), all);
    Started =
        Process.waitForStarted(10000) && bus.WaitForName(QStringLiteral("RozEza.MemoryMan"), 10000);
    Pid_ = Process.processId();
}

std::string TStoreProcess::Errors() {
    ErrorText += Process.readAllStandardError().toStdString();
    return ErrorText;
}

TStoreProcess::~TStoreProcess() {
    StopProcess(Process, 5000);
}

QDBusMessage TStoreProcess::Call(const QString& method, const QVariantList& args) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("RozEza.MemoryMan"), QStringLiteral("/MemoryMan"), QString(), method);
    call.setArguments(args);
    return Bus.Connection().call(call, QDBus::Block, 20000);
}

TStoreCaller::TStoreCaller(TPrivateBus& bus) {
    EndWithParent(Process);
    Process.setProcessEnvironment(bus.Environment());
    Process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    Process.start(QStringLiteral(STORE_CALLER_PATH), QStringList{});
    Started = Process.waitForStarted(10000);
}

TStoreCaller::~TStoreCaller() {
    Kill();
}

QStringList TStoreCaller::Call(const std::string& line) {
    Process.write((line + "\n").c_str());
    QDeadlineTimer deadline(20000);
    while (!Process.canReadLine() && !deadline.hasExpired() && Process.state() == QProcess::Running)
        Process.waitForReadyRead(100);
    return QString::fromUtf8(Process.readLine()).chopped(1).split(QLatin1Char('\t'));
}

void TStoreCaller::Kill() {
    StopProcess(Process, 0);
}

TStoreSignals::TStoreSignals(QDBusConnection& bus) {
    const QString service = QStringLiteral("RozEza.MemoryMan");
    const QString path = QStringLiteral("/MemoryMan");
    bus.connect(service, path, service, QStringLiteral("DocumentAvailable"), this,
                SLOT(DocumentAvailable(int, int)));
    bus.connect(service, path, service, QStringLiteral("DocumentTaken"), this,
                SLOT(DocumentTaken(int, int)));
    bus.connect(service, path, service, QStringLiteral("DocumentClosed"), this,
                SLOT(DocumentClosed(int, bool)));
    bus.connect(service, path, service, QStringLiteral("MemoryFreed"), this, SLOT(MemoryFreed()));
}

bool TStoreSignals::WaitFor(const QString& line, int guardMs) {
    return WaitUntil([&] { return Seen.contains(line); }, guardMs);
}

void TStoreSignals::DocumentAvailable(int module, int doc) {
    Seen << QStringLiteral("DocumentAvailable %1 %2").arg(module).arg(doc);
}

void TStoreSignals::DocumentTaken(int dest, int doc) {
    Seen << QStringLiteral("DocumentTaken %1 %2").arg(dest).arg(doc);
}

void TStoreSignals::DocumentClosed(int doc, bool aborted) {
    Seen << QStringLiteral("DocumentClosed %1 %2").arg(doc).arg(aborted ? "true" : "false");
}

void TStoreSignals::MemoryFreed() {
    Seen << QStringLiteral("MemoryFreed");
}

bool IsError(const QDBusMessage& reply) {
    return reply.type() == QDBusMessage::ErrorMessage;
}

std::vector<std::string> ShmFiles(const std::string& prefix) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm")) {
        std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0)
            names.push_back(name);
    }
    return names;
}

void RemoveShm(const std::string& prefix) {
    for (const auto& name : ShmFiles(prefix))
        ::shm_unlink(("/" + name).c_str());
}

namespace {

// Maps a block as the module does (read-write, its whole size) for use; false if it cannot.
bool WithBlock(const std::string& name, size_t size, const std::function<void(char*)>& use) {
    const int fd = ::shm_open(("/" + name).c_str(), O_RDWR, 0600);
    if (fd < 0)
        return false;
    void* p = size > 0 ? ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : nullptr;
    ::close(fd);
    if (p == MAP_FAILED)
        return false;
    if (size > 0) {
        use(static_cast<char*>(p));
        ::munmap(p, size);
    }
    return true;
}

} // namespace

std::string ReadBlock(const std::string& name, int64_t size) {
    std::string data(static_cast<size_t>(size), '\0');
    const bool mapped =
        WithBlock(name, data.size(), [&](char* p) { std::memcpy(data.data(), p, data.size()); });
    return mapped ? data : "<cannot map " + name + ">";
}

bool WriteBlock(const std::string& name, const std::string& data) {
    return WithBlock(name, data.size(), [&](char* p) { std::memcpy(p, data.data(), data.size()); });
}

std::string PatternBytes(size_t size, unsigned seed) {
    std::string data(size, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (auto& c : data) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return data;
}

} // namespace raduvuz::test
