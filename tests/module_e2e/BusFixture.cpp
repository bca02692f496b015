#include "module_e2e/BusFixture.h"

#include "dbus/DBusBus.h"
#include "dbus/TDBusObject.h"
#include "platform/GoEvent.h"
#include "platform/System.h"

#include <QApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QProcessEnvironment>
#include <QXmlStreamReader>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <unistd.h>

namespace raduvuz::test {

namespace {

// Started by the first test; ended when the test program ends.
class TBusEnvironment : public ::testing::Environment {
public:
    TBusWorld World;
    std::optional<TTempFolder> Folder;
    TPrivateBus* Bus = nullptr;
    QApplication* App = nullptr;

    void Start() {
        if (Bus)
            return;
        Folder.emplace();
        World.Root = Folder->Path();
        World.Xdg = World.Root + "/xdg";
        std::filesystem::create_directories(World.Xdg + "/dbus-1/services");
        const std::string config = World.Root + "/bus.conf";
        WriteTextFile(config,
                      "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                      "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                      "<busconfig>\n  <type>session</type>\n"
                      "  <listen>unix:tmpdir=/tmp</listen>\n"
                      "  <servicedir>" +
                          World.Xdg +
                          "/dbus-1/services</servicedir>\n"
                          "  <policy context=\"default\">\n"
                          "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                          "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n"
                          "  </policy>\n</busconfig>\n");
        // The daemon hands this environment to the processes it starts.
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("XDG_DATA_HOME", World.Xdg.c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", World.Root.c_str(), 1);
        ::setenv("RADUVUZ_REGISTRY", (World.Root + "/registry.ini").c_str(), 1);
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        ::unsetenv("DBUS_STARTER_ADDRESS");
        ::unsetenv("DBUS_STARTER_BUS_TYPE");
        std::filesystem::permissions(World.Root, std::filesystem::perms::owner_all);

        static int argc = 1;
        static char name[] = "test_module_e2e";
        static char* argv[] = {name, nullptr};
        App = new QApplication(argc, argv);

        Bus = new TPrivateBus(config);
        World.Address = Bus->Address().toStdString();
        ::setenv("DBUS_SESSION_BUS_ADDRESS", World.Address.c_str(), 1);
    }

    void TearDown() override {
        if (!Bus)
            return;
        QDBusConnection::disconnectFromBus(QDBusConnection::sessionBus().name());
        delete Bus;
        Bus = nullptr;
        delete App;
        App = nullptr;
        Folder.reset();
    }
};

TBusEnvironment* Environment =
    static_cast<TBusEnvironment*>(::testing::AddGlobalTestEnvironment(new TBusEnvironment));

} // namespace

std::map<std::string, std::string> MethodsOf(const QString& xml, const QString& interface) {
    std::map<std::string, std::string> methods;
    QXmlStreamReader reader(xml);
    bool inside = false;
    std::string method, in, out;
    while (!reader.atEnd()) {
        reader.readNext();
        const auto name = reader.name();
        if (reader.isStartElement() && name == QLatin1String("interface"))
            inside = reader.attributes().value(QLatin1String("name")) == interface;
        else if (inside && reader.isStartElement() &&
                 (name == QLatin1String("method") || name == QLatin1String("signal"))) {
            method = (name == QLatin1String("signal") ? "signal " : "") +
                     reader.attributes().value(QLatin1String("name")).toString().toStdString();
            in.clear();
            out.clear();
        } else if (inside && reader.isStartElement() && name == QLatin1String("arg")) {
            const std::string type =
                reader.attributes().value(QLatin1String("type")).toString().toStdString();
            if (reader.attributes().value(QLatin1String("direction")) == QLatin1String("out"))
                out += type;
            else
                in += type;
        } else if (inside && reader.isEndElement() &&
                   (name == QLatin1String("method") || name == QLatin1String("signal")))
            methods[method] = in + " -> " + out;
        else if (reader.isEndElement() && name == QLatin1String("interface"))
            inside = false;
    }
    return methods;
}

bool TTestServer::handleMessage(const QDBusMessage& message, const QDBusConnection& bus) {
    static const QMap<QString, QString> signatures = {
        {"ChangeStatus", "ibi"}, {"WriteLog", "is"},    {"GetValue", "ii"},    {"SetValue", "iib"},
        {"IsJobUse", "ii"},      {"ShowLabel", "is"},   {"GetConfigKey", "i"}, {"PtrToKey", "i"},
        {"CloseMe", "i"},        {"ChangeSetup", "iss"}};
    const QString method = message.member();
    if (signatures.value(method) != message.signature())
        return bus.send(message.createErrorReply(QDBusError::UnknownMethod, method));
    QStringList args;
    for (const QVariant& arg : message.arguments())
        args << arg.toString();
    Calls << method + "(" + args.join(',') + ")";
    QVariantList answer;
    if (method == "GetValue") {
        const int num = args[1].toInt();
        const bool known = args[0] == "0" && Values.contains(num);
        answer << QVariant::fromValue(QDBusVariant(known ? Values[num] : QVariant(QVariantList())));
    } else if (method == "SetValue" && !SetValueError.isEmpty()) {
        return bus.send(message.createErrorReply(SetValueError, "the server refused"));
    } else if (method == "IsJobUse") {
        answer << false;
    } else if (method == "GetConfigKey" || method == "PtrToKey") {
        answer << (method == "GetConfigKey" ? "key" : "term") + args[0];
    }
    return !message.isReplyRequired() || bus.send(message.createReply(answer));
}

const TBusWorld& BusWorld() {
    Environment->Start();
    return Environment->World;
}

void BusTest::SetUp() {
    // The modules' ticks wait for the RIP's event while it exists and is not signalled.
    if (GoEventExists(kGoEventName))
        GTEST_SKIP() << "a RIP's go event " << kGoEventName << " exists on this machine";
    ASSERT_FALSE(BusWorld().Address.empty()) << "no private dbus-daemon";
    ASSERT_TRUE(RaduvuzBus().isConnected());
    ASSERT_FALSE(Work.empty());
    std::filesystem::create_directories(DataFolder() + "/Config");
    std::filesystem::create_directories(Work + "/bin");
    std::filesystem::copy_file(RADUVUZ_PROGRAM, ProgramCopy());
    Server.Values[1004] = 77;
    Server.Values[2] = QString::fromStdString(ComputerName());
    Server.Values[1] = QString::fromStdString(Work + "/preview");
    ASSERT_TRUE(RaduvuzBus().registerVirtualObject(QStringLiteral("/Workflow"), &Server));
}

void BusTest::TearDown() {
    RaduvuzBus().unregisterObject(QStringLiteral("/Workflow"));
    for (auto& process : Processes)
        StopProcess(*process, 0);
    for (qint64 pid : Adopted)
        if (pid > 0)
            ::kill(static_cast<pid_t>(pid), SIGKILL);
}

QString BusTest::ServerReference() const {
    return RaduvuzBus().baseService() + QStringLiteral("/Workflow");
}

TDispatchPtr BusTest::StartModule() {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString(Work + "/xdg"));
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    // Relative paths the module were given would land inside the test's folder.
    std::filesystem::create_directories(WorkingFolder());
    process->setWorkingDirectory(QString::fromStdString(WorkingFolder()));
    // Switches are matched without regard to case, after "-" or "/".
    process->start(QString::fromStdString(ProgramCopy()), {QStringLiteral("/Embedding")});
    if (!process->waitForStarted(10000))
        return nullptr;
    const qint64 id = process->processId();
    Processes.push_back(std::move(process));
    const QString name = QStringLiteral("RAduvuz.ModuleControl.p%1").arg(id);
    if (!WaitForName(RaduvuzBus(), name, 30000))
        return nullptr;
    return std::make_shared<TDBusObject>(name.toStdString(), "/ModuleControl");
}

void OneModuleTest::SetUp() {
    BusTest::SetUp();
    if (IsSkipped() || HasFatalFailure())
        return;
    Module = StartModule();
    ASSERT_NE(Module, nullptr);
    Name = QString::fromStdString(Module->Reference()).section(QLatin1Char('/'), 0, 0);
}

std::string BusTest::ErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const TDispatchError& e) {
        return e.Name + ": " + e.what();
    }
    return {};
}

} // namespace raduvuz::test
