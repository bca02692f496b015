// memoryman: the reference document store. Owns RozEza.MemoryMan at /MemoryMan on the session
// bus (or the bus named by DBUS_STARTER_ADDRESS / DBUS_SESSION_BUS_ADDRESS).
#include "tools/memoryman/TMemoryManObject.h"
#include "tools/memoryman/TMemoryStore.h"
#include "version/ProgramVersion.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusVariant>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int SignalPipe[2] = {-1, -1};

void OnSignal(int) {
    char c = 1;
    [[maybe_unused]] ssize_t n = ::write(SignalPipe[1], &c, 1);
}

// "512M", "2G", "65536": bytes with an optional K, M or G (powers of 1024).
bool ParseBytes(const char* text, int64_t& bytes) {
    char* end = nullptr;
    long long value = std::strtoll(text, &end, 10);
    if (end == text || value < 0)
        return false;
    int shift = 0;
    switch (*end) {
    case '\0':
        break;
    case 'k':
    case 'K':
        shift = 10;
        break;
    case 'm':
    case 'M':
        shift = 20;
        break;
    case 'g':
    case 'G':
        shift = 30;
        break;
    default:
        return false;
    }
    if (*end != '\0' && end[1] != '\0')
        return false;
    if (value > (INT64_MAX >> shift))
        return false;
    bytes = static_cast<int64_t>(value) << shift;
    return true;
}

void Usage() {
    std::cerr << "usage: memoryman [--memory-limit BYTES[K|M|G]] [--main COMPUTER] [--state FILE]\n"
                 "                 [--no-signals] [--verbose]\n"
                 "  --memory-limit  bytes of blocks the store holds at most (default 512M)\n"
                 "  --main          answer IsMainComputer true only for this computer name\n"
                 "  --state         the file that keeps document and job numbers from repeating\n"
                 "                  (default $XDG_STATE_HOME/memoryman/state,\n"
                 "                  else ~/.local/state/memoryman/state)\n"
                 "  --no-signals    send no signals, as a store without them (for tests)\n"
                 "  --verbose       log every document and block event to stderr\n"
                 "  --version       print the version and end\n";
}

} // namespace

int main(int argc, char** argv) {
    if (raduvuz::PrintVersionIfAsked(argc, argv, "memoryman"))
        return 0;
    using namespace raduvuz;
    TMemoryStore::TOptions options;
    options.Prefix = "rmm." + std::to_string(::getpid());
    bool verbose = false;
    bool sendSignals = true;
    std::string statePath = TNumberFile::DefaultPath();
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--memory-limit" && i + 1 < argc) {
            if (!ParseBytes(argv[++i], options.MemoryLimit)) {
                std::cerr << "memoryman: bad memory limit " << argv[i] << "\n";
                return 2;
            }
        } else if (arg == "--main" && i + 1 < argc) {
            options.MainComputer = argv[++i];
        } else if (arg == "--state" && i + 1 < argc) {
            statePath = argv[++i];
        } else if (arg == "--no-signals") {
            sendSignals = false;
        } else if (arg == "--verbose" || arg == "-v") {
            verbose = true;
        } else if (arg == "--help" || arg == "-h") {
            Usage();
            return 0;
        } else {
            std::cerr << "memoryman: unknown argument " << arg << "\n";
            Usage();
            return 2;
        }
    }

    QCoreApplication app(argc, argv);
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, SignalPipe) != 0) {
        std::perror("memoryman: socketpair");
        return 1;
    }
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnSignal;
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);
    QSocketNotifier signalNotifier(SignalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [&] {
        if (verbose)
            std::cerr << "memoryman: signal, ending\n";
        app.quit();
    });

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::cerr << "memoryman: cannot connect to the bus: "
                  << bus.lastError().message().toStdString() << "\n";
        return 1;
    }

    for (const auto& [pid, count] : TShmBlock::RemoveOrphans("rmm"))
        std::cerr << "memoryman: removed " << count
                  << " shared-memory blocks left behind by the store process " << pid
                  << ", which no longer runs\n";

    TNumberFile numbers(statePath);
    options.Numbers = &numbers;
    std::unique_ptr<TMemoryStore> store;
    try {
        store = std::make_unique<TMemoryStore>(options);
    } catch (const TStoreError& e) {
        std::cerr << "memoryman: " << e.what()
                  << "; without it numbers could repeat, so the store does not start\n";
        return 1;
    }
    store->Notice = [](const std::string& line) { std::cerr << "memoryman: " << line << "\n"; };
    if (verbose)
        store->Log = [](const std::string& line) { std::cerr << "memoryman: " << line << "\n"; };

    // The variant parameter must be known before the object's interface is described.
    qRegisterMetaType<QDBusVariant>();
    TMemoryManObject object(*store, bus, sendSignals);
    if (!bus.registerObject(QStringLiteral("/MemoryMan"), &object,
                            sendSignals ? QDBusConnection::ExportAllSlots |
                                              QDBusConnection::ExportAllSignals
                                        : QDBusConnection::ExportAllSlots)) {
        std::cerr << "memoryman: cannot export /MemoryMan\n";
        return 1;
    }
    // Once the name is ours the object answers, so a waiting client can call at once.
    auto reply = bus.interface()->registerService(QStringLiteral("RozEza.MemoryMan"),
                                                  QDBusConnectionInterface::DontQueueService,
                                                  QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        std::cerr << "memoryman: the name RozEza.MemoryMan is taken on this bus\n";
        return 1;
    }
    // A bus that goes away takes the store with it, so no block outlives its users.
    bus.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
                QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"), &app,
                SLOT(quit()));
    if (verbose)
        std::cerr << "memoryman: serving, memory limit " << options.MemoryLimit
                  << " bytes, block prefix " << options.Prefix << "\n";
    int rc = app.exec();
    bus.unregisterObject(QStringLiteral("/MemoryMan"));
    if (verbose)
        std::cerr << "memoryman: ended, " << store->DocumentCount() << " documents released\n";
    return rc;
}
