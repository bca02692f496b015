#include "module_e2e/BusFixture.h"

#include "dbus/DBusBus.h"
#include "dbus/TDBusObject.h"
#include "platform/System.h"

#include <QProcessEnvironment>

#include <filesystem>

namespace raduvuz::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

class RegistrationTest : public BusTest {
protected:
    // Runs the program with one switch and the bus's data folder; its exit code.
    int Run(const QString& switchText) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString(BusWorld().Xdg));
        return RunToEnd(Q(ProgramCopy()), {switchText}, env, {}, {}, 30000).Code;
    }
    std::string Services() const { return BusWorld().Xdg + "/dbus-1/services"; }
    std::string Interfaces() const { return BusWorld().Xdg + "/dbus-1/interfaces"; }
};

TEST_F(RegistrationTest, RegServerThenActivationByNameStartsAModuleAndUnregServerRemovesIt) {
    ASSERT_EQ(Run(QStringLiteral("-REGSERVER")), 0);
    const std::string service = ReadTextFile(Services() + "/RAduvuz.ServerProvider.service");
    EXPECT_THAT(service, HasSubstr("Name=RAduvuz.ServerProvider\n"));
    EXPECT_THAT(service, HasSubstr("Exec=" + ProgramCopy() + " -AUTOMATION\n"));
    EXPECT_EQ(ReadTextFile(Interfaces() + "/RAduvuz.IModuleControl.xml"),
              ReadTextFile(RADUVUZ_INTERFACE_XML));
    EXPECT_EQ(ReadTextFile(Interfaces() + "/RAduvuz.IJobControl.xml"),
              ReadTextFile(RADUVUZ_JOB_CONTROL_XML));
    EXPECT_THAT(ReadTextFile(Interfaces() + "/RAduvuz.IServerProvider.xml"),
                HasSubstr("<method name=\"GetObject\">"));

    // The bus starts the provider, which starts a module process of its own.
    TDBusObject provider("RAduvuz.ServerProvider", "/ServerProvider");
    const std::string reference =
        VariantToText(provider.Call("GetObject", {std::string()}, "s").Result);
    AdoptPid(PidOf(RaduvuzBus(), QStringLiteral("RAduvuz.ServerProvider")));
    ASSERT_THAT(reference, StartsWith("RAduvuz.ModuleControl.p"));
    const std::string name = reference.substr(0, reference.find('/'));
    AdoptPid(PidOf(RaduvuzBus(), QString::fromStdString(name)));
    EXPECT_EQ(reference, name + "/ModuleControl");
    EXPECT_NE(PidOf(RaduvuzBus(), QString::fromStdString(name)),
              PidOf(RaduvuzBus(), QStringLiteral("RAduvuz.ServerProvider")));

    TDispatchPtr module = TDBusObject::FromReference(reference);
    module->Call("Init", {int32_t{3}, std::string("Provided"), ServerReference().toStdString()},
                 "iss");
    EXPECT_EQ(Server.Calls.value(0), QStringLiteral("ChangeStatus(3,true,1)"));
    EXPECT_EQ(VariantToText(module->Call("GetComputerName", {}).Result), ComputerName());
    EXPECT_EQ(VariantToText(module->Call("GetErrorMessage", {}).Result), "no error");

    // Switches are matched without regard to case, after "-" or "/".
    ASSERT_EQ(Run(QStringLiteral("/unregserver")), 0);
    EXPECT_FALSE(std::filesystem::exists(Services() + "/RAduvuz.ServerProvider.service"));
    EXPECT_FALSE(std::filesystem::exists(Interfaces() + "/RAduvuz.IModuleControl.xml"));
    EXPECT_FALSE(std::filesystem::exists(Interfaces() + "/RAduvuz.IServerProvider.xml"));
    EXPECT_FALSE(std::filesystem::exists(Interfaces() + "/RAduvuz.IJobControl.xml"));
    // Unregistering twice is no failure.
    EXPECT_EQ(Run(QStringLiteral("-UnRegServer")), 0);
}

} // namespace
} // namespace raduvuz::test
