#include "module_e2e/BusFixture.h"

#include "dbus/DBusBus.h"
#include "dbus/TDBusObject.h"

#include <QDBusMessage>
#include <QProcess>

namespace raduvuz::test {
namespace {

using ModuleBusTest = OneModuleTest;

// A throwing method answers Unexpected, a failure with its own name keeps it, and the module
// keeps serving after each.
TEST_F(ModuleBusTest, FailuresTravelWithTheirNamesAndTheModuleKeepsServing) {
    Init(5);
    EXPECT_EQ(ErrorOf([&] {
                  Module->Call("SetValue", {int32_t{0}, std::string("abc")}, "iv");
              }),
              "RAduvuz.Error.Unexpected: Could not convert variant of type (String) into type "
              "(Integer)");
    EXPECT_EQ(ErrorOf([&] {
                  Module->Call("Init", {int32_t{5}, std::string("x"), std::string("no reference")},
                               "iss");
              }),
              "RAduvuz.Error.InvalidArgs: IDisp: \"no reference\" is not a reference to a "
              "dispatch object");
    const std::pair<const char*, const char*> refusals[] = {
        {"RAduvuz.Error.Refused", "RAduvuz.Error.Refused"},
        {"org.example.Error.Refused", "RAduvuz.Error.Unexpected"},
        {"RAduvuz.Error.H80004005", "RAduvuz.Error.H80004005"},
    };
    bool value = true;
    for (const auto& [name, travels] : refusals) {
        Server.SetValueError = QLatin1String(name);
        EXPECT_EQ(ErrorOf([&] {
                      Module->Call("SetValue", {int32_t{58}, value}, "iv");
                  }),
                  std::string(travels) + ": the server refused");
        value = !value;
    }
    EXPECT_EQ(Server.Calls.filter(QStringLiteral("SetValue")),
              (QStringList{QStringLiteral("SetValue(5,1010,true)"),
                           QStringLiteral("SetValue(5,1010,false)"),
                           QStringLiteral("SetValue(5,1010,true)")}));
    EXPECT_EQ(VariantToInt(Value(0)), 1);
    EXPECT_EQ(VariantToText(Module->Call("GetErrorMessage", {}).Result), "no error");
}

TEST_F(ModuleBusTest, TheProcessEndsWhenItsLastCallerLeavesAfterClose) {
    const QString address = QString::fromStdString(BusWorld().Address);
    {
        QDBusConnection caller = QDBusConnection::connectToBus(address, QStringLiteral("caller"));
        ASSERT_TRUE(caller.isConnected());
        for (const char* method : {"SelfReg", "Close"}) {
            QDBusMessage call = QDBusMessage::createMethodCall(
                Name, QStringLiteral("/ModuleControl"), QString(), QLatin1String(method));
            if (QLatin1String(method) == QLatin1String("SelfReg"))
                call << QVariant::fromValue(
                    QDBusVariant(QString::fromStdString(Module->Reference())));
            const QDBusMessage reply = caller.call(call, QDBus::BlockWithGui, 20000);
            ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << method;
        }
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("caller"));
    // This test's own connection has not called the module, so nobody holds it any more.
    ASSERT_NE(LastProcess(), nullptr);
    EXPECT_TRUE(LastProcess()->waitForFinished(20000));
    EXPECT_EQ(LastProcess()->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(LastProcess()->exitCode(), 0);
}

} // namespace
} // namespace raduvuz::test
