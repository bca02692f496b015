// The program: process start, the command line and the automation objects on the bus. It wires
// the console, the D-Bus binding and the module together; nothing includes app/.

#include "app/Registration.h"
#include "app/TBusLossWatch.h"
#include "app/TJobControlAdaptor.h"
#include "app/TModuleControlAdaptor.h"
#include "app/TModuleLoop.h"
#include "app/TModuleStarter.h"
#include "app/TProcessLifetime.h"
#include "app/TServerProviderAdaptor.h"
#include "app/TSignalCloser.h"
#include "console/ConsoleForms.h"
#include "console/TfMain.h"
#include "control/TModuleControl.h"
#include "dbus/DBusBus.h"
#include "dbus/TDBusObject.h"
#include "platform/System.h"
#include "platform/SystemLog.h"
#include "version/ProgramVersion.h"

#include <QApplication>
#include <QDBusConnectionInterface>
#include <QDBusVariant>

#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <unistd.h>

using namespace raduvuz;

namespace {

// Exports the module and the server provider and takes the module's bus name; the provider's
// name is taken only while nobody else holds it.
bool Publish(TModuleControlAdaptor& module, TServerProviderAdaptor& provider) {
    QDBusConnection bus = RaduvuzBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "raduvuz: no D-Bus session bus: %s\n",
                     qPrintable(bus.lastError().message()));
        return false;
    }
    // The job-control adaptor, a child of the module's object, shares its path.
    if (!bus.registerObject(QStringLiteral("/ModuleControl"), &module,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAdaptors) ||
        !bus.registerObject(QStringLiteral("/ServerProvider"), &provider,
                            QDBusConnection::ExportAllSlots)) {
        std::fprintf(stderr, "raduvuz: cannot export the automation objects\n");
        return false;
    }
    const QString name = QStringLiteral("RAduvuz.ModuleControl.p%1").arg(::getpid());
    if (!bus.registerService(name)) {
        std::fprintf(stderr, "raduvuz: cannot own the bus name %s: %s\n", qPrintable(name),
                     qPrintable(bus.lastError().message()));
        return false;
    }
    bus.interface()->registerService(QStringLiteral("RAduvuz.ServerProvider"),
                                     QDBusConnectionInterface::DontQueueService,
                                     QDBusConnectionInterface::DontAllowReplacement);
    return true;
}

// A console can be shown: a display to open, or a platform named for Qt (offscreen among them).
bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return true;
    }
    return false;
}

// "--init-timeout=SECONDS": how long a module process started for automation waits for Init
// (30 s without it); 0 when the option is missing, -1 when its value is no whole number of
// seconds from 1 to 3600.
int InitTimeoutSeconds(int argc, char* argv[]) {
    constexpr std::string_view option = "--init-timeout=";
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.substr(0, option.size()) != option)
            continue;
        const std::string_view value = arg.substr(option.size());
        int seconds = 0;
        const auto [end, error] =
            std::from_chars(value.data(), value.data() + value.size(), seconds);
        return error == std::errc() && end == value.data() + value.size() && seconds >= 1 &&
                       seconds <= 3600
                   ? seconds
                   : -1;
    }
    return 0;
}

bool HelpAsked(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return true;
    return false;
}

} // namespace

int main(int argc, char* argv[]) {
    if (PrintVersionIfAsked(argc, argv, "raduvuz"))
        return 0;
    if (HelpAsked(argc, argv)) {
        std::printf(
            "usage: raduvuz [-AUTOMATION | -EMBEDDING] [--init-timeout=SECONDS]\n"
            "       raduvuz -REGSERVER | -UNREGSERVER\n"
            "       raduvuz --version | --help\n"
            "  -AUTOMATION, -EMBEDDING  serve the module on the bus for a workflow server\n"
            "  --init-timeout=SECONDS   end when no Init came that long after the last call\n"
            "                 (30; modules started by GetObject get the same)\n"
            "  -REGSERVER     write the bus activation file and the interface XML\n"
            "                 below $XDG_DATA_HOME/dbus-1, then end\n"
            "  -UNREGSERVER   remove them, then end\n"
            "Switches also start with \"/\" and are matched in any case. See raduvuz(1).\n");
        return 0;
    }
    // A file-size limit (ulimit -f) fails the write that crosses it, as a full disk does, and the
    // job that wrote it waits; it does not end the module.
    ::signal(SIGXFSZ, SIG_IGN);
    const TStartMode mode = StartModeOf(argc, argv);
    const int initTimeout = InitTimeoutSeconds(argc, argv);
    if (initTimeout < 0) {
        std::fprintf(stderr, "raduvuz: --init-timeout takes whole seconds from 1 to 3600\n");
        return 2;
    }
    if (mode == TStartMode::RegServer || mode == TStartMode::UnregServer) {
        std::string error;
        const bool ok = mode == TStartMode::RegServer ? RegisterServer(ProgramFile(), error)
                                                      : UnregisterServer(error);
        if (!ok)
            std::fprintf(stderr, "raduvuz: %s\n", error.c_str());
        return ok ? 0 : 1;
    }

    // Without a display the module runs headless: the event loop alone, no widget; bus activation
    // on a session without one must not abort.
    const bool display = HasDisplay();
    std::unique_ptr<QCoreApplication> app;
    if (display) {
        app = std::make_unique<QApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    // Slots taking variants are exported only once the type is known by name.
    qRegisterMetaType<QDBusVariant>();
    RegisterJobControlTypes();

    TModuleProcess process;
    process.ObjectFactory = [](const std::string& progId) { return TDBusObject::Create(progId); };
    const std::string programFile = ProgramFile();
    process.LogSink = std::make_shared<TSystemLog>(programFile.substr(programFile.rfind('/') + 1));
    TModuleLoop loop;
    TModuleControl module(process, loop);
    loop.SetModule(&module);

    // The console views the module's rows and shows it; it goes before the module does.
    std::unique_ptr<TfMain> mainWindow;
    std::unique_ptr<TConsoleForms> forms;
    struct TViewRelease {
        TModuleControl& Module;
        ~TViewRelease() { Module.SetView(nullptr); }
    } viewRelease{module};
    if (display) {
        mainWindow = std::make_unique<TfMain>(module.Rows());
        // The other forms follow the main window, hidden like it.
        forms = std::make_unique<TConsoleForms>(mainWindow.get());
        // The main window stays hidden; the queued start call adds the tray icon.
        QMetaObject::invokeMethod(mainWindow.get(), &TfMain::StartMessage, Qt::QueuedConnection);
        mainWindow->SetModule(&module);
        module.SetView(mainWindow.get());
    }

    // Closes the module as its server would (hold file, layout; waiting jobs stay in the
    // journal), then the process ends.
    const auto closeAndEnd = [&](const std::string& line, bool failure) {
        // A Close already under way (the server's) ends the process by itself once it is done.
        if (module.Closing())
            return;
        if (module.IsCurrent()) {
            failure ? module.LogFailure(line) : module.Log(line);
            try {
                module.Close();
            } catch (const std::exception& e) {
                module.LogFailure(std::string("Exception in Close (") + e.what() + ")");
            }
        }
        QCoreApplication::exit(0);
    };
    TSignalCloser signalCloser([&](int signal) {
        closeAndEnd(std::string("Closing on ") + TSignalCloser::SignalName(signal), false);
    });

    const bool automation = mode == TStartMode::Automation;
    TProcessLifetime lifetime(module, automation, initTimeout > 0 ? initTimeout * 1000 : 30000);
    QStringList starterOptions;
    if (initTimeout > 0)
        starterOptions << QStringLiteral("--init-timeout=%1").arg(initTimeout);
    TModuleStarter starter(QString::fromStdString(ProgramFile()), starterOptions);
    TModuleControlAdaptor moduleAdaptor(module, lifetime);
    new TJobControlAdaptor(module, lifetime, &moduleAdaptor);
    TServerProviderAdaptor providerAdaptor(starter, lifetime);
    if (automation && !Publish(moduleAdaptor, providerAdaptor))
        return 1;
    // Without its bus nobody can reach the module or take its output: it ends, and the workflow's
    // next start takes its jobs over from the journal. Reconnecting would not help: the server,
    // the store and their names on a new bus are others, and the server makes its modules anew.
    std::unique_ptr<TBusLossWatch> busLoss;
    if (automation)
        busLoss = std::make_unique<TBusLossWatch>([&] {
            closeAndEnd("The connection to the bus is lost; the module closes and ends (its "
                        "waiting jobs stay in the journal for the next start)",
                        true);
        });

    const int result = QCoreApplication::exec();
    process.ServerObject = TServerClient();
    process.StoreObject = TStoreClient();
    return result;
}
