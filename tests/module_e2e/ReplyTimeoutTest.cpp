#include "module_e2e/BusFixture.h"

#include "dbus/DBusBus.h"
#include "dbus/TDBusObject.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace raduvuz::test {
namespace {

// A peer on a connection of its own that takes calls and never answers them.
class TSilentPeer : public QObject {
    Q_OBJECT

public:
    int Taken = 0;

public slots:
    void Hang(const QDBusMessage& message) {
        message.setDelayedReply(true);
        ++Taken;
    }
};

TEST(ReplyTimeoutTest, ACallThatGetsNoAnswerFailsAfterItsTimeoutAndEventsAreServedMeanwhile) {
    ASSERT_FALSE(BusWorld().Address.empty());
    QDBusConnection silent = QDBusConnection::connectToBus(
        QString::fromStdString(BusWorld().Address), QStringLiteral("silent-peer"));
    ASSERT_TRUE(silent.isConnected());
    TSilentPeer peer;
    ASSERT_TRUE(
        silent.registerObject(QStringLiteral("/Silent"), &peer, QDBusConnection::ExportAllSlots));
    TDBusObject object(silent.baseService().toStdString(), "/Silent");

    const int old = TDBusObject::ReplyTimeoutMs();
    TDBusObject::SetReplyTimeoutMs(300);
    int served = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++served; });
    tick.start(20);
    QElapsedTimer clock;
    clock.start();
    std::string error;
    try {
        object.Call("Hang", {});
    } catch (const TDispatchError& e) {
        error = e.Name;
    }
    const qint64 elapsed = clock.elapsed();
    TDBusObject::SetReplyTimeoutMs(old);
    QDBusConnection::disconnectFromBus(QStringLiteral("silent-peer"));

    EXPECT_EQ(peer.Taken, 1);
    EXPECT_EQ(error, "org.freedesktop.DBus.Error.NoReply");
    EXPECT_GE(elapsed, 250);
    EXPECT_LT(elapsed, 20000);
    EXPECT_GT(served, 3);
    EXPECT_EQ(TDBusObject::PendingCalls(), 0);
}

} // namespace
} // namespace raduvuz::test

#include "ReplyTimeoutTest.moc"
