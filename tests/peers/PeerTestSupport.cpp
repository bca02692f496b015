#include "peers/PeerTestSupport.h"
#include "platform/SharedBlock.h"
#include "spool/RasterSamples.h"

#include <QDeadlineTimer>
#include <QMap>

#include <filesystem>
#include <sys/mman.h>

namespace raduvuz::test {

TStoreProcess::TStoreProcess(TPrivateBus& bus, const QStringList& args) : Bus(bus) {
    EndWithParent(Process);
    Process.setProcessEnvironment(bus.Environment());
    QStringList all = args;
    if (!all.contains(QStringLiteral("--state")))
        all << QStringLiteral("--state") << QString::fromStdString(State / "state");
    Process.start(QStringLiteral(MEMORYMAN_PATH), all);
    Started = Process.waitForStarted(10000) &&
              WaitForName(bus.Connection(), QStringLiteral("RozEza.MemoryMan"), 10000);
    Pid_ = Process.processId();
}

std::string TStoreProcess::Errors() {
    ErrorText += Process.readAllStandardError().toStdString();
    return ErrorText;
}

bool TStoreProcess::WaitForError(const std::string& text, int guardMs) {
    return WaitUntil([&] { return Errors().find(text) != std::string::npos; }, guardMs);
}

TStoreProcess::~TStoreProcess() {
    StopProcess(Process, 5000);
}

QDBusMessage TStoreProcess::Call(const char* method, const QVariantList& args) {
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("RozEza.MemoryMan"),
                                                       QStringLiteral("/MemoryMan"), QString(),
                                                       QString::fromLatin1(method));
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
    for (const char* name : {"DocumentAvailable", "DocumentTaken", "DocumentClosed", "MemoryFreed"})
        bus.connect(service, QStringLiteral("/MemoryMan"), service, QString::fromLatin1(name), this,
                    SLOT(Heard(QDBusMessage)));
}

bool TStoreSignals::WaitFor(const QString& line, int guardMs) {
    return WaitUntil([&] { return Seen.contains(line); }, guardMs);
}

void TStoreSignals::Heard(const QDBusMessage& signal) {
    static const QMap<QString, QString> types = {{"DocumentAvailable", "ii"},
                                                 {"DocumentTaken", "ii"},
                                                 {"DocumentClosed", "ib"},
                                                 {"MemoryFreed", ""}};
    QStringList line = {signal.member()};
    for (const QVariant& argument : signal.arguments())
        line << argument.toString();
    if (signal.signature() != types.value(signal.member()))
        line << "(types " + signal.signature() + ")";
    Seen << line.join(QLatin1Char(' '));
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

std::string ReadBlock(const std::string& name, int64_t size) {
    std::string data(static_cast<size_t>(size), '\0');
    TSharedBlock block;
    const bool read = block.Open(name, size) && block.CopyOut(0, data.data(), size);
    return read ? data : "<cannot map " + name + ">";
}

bool WriteBlock(const std::string& name, const std::string& data) {
    TSharedBlock block;
    const auto size = static_cast<int64_t>(data.size());
    return block.Open(name, size) && block.CopyIn(0, data.data(), size);
}

std::string PatternBytes(size_t size, unsigned seed) {
    const std::vector<uint8_t> bytes = testing::RandomBytes(static_cast<int64_t>(size), seed);
    return {bytes.begin(), bytes.end()};
}

} // namespace raduvuz::test
