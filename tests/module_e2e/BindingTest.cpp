#include "module_e2e/BusFixture.h"

#include "dbus/DBusBus.h"
#include "dbus/TDBusObject.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QSet>
#include <QTimer>

#include <functional>

namespace raduvuz::test {
namespace {

// A peer on a connection of its own: records each Note or Echo of a text it takes and whether
// the caller asked for a reply, answers Echo with the text and Later with it after 300 ms, takes
// Mute without ever answering, and refuses every other call.
class TRecordingPeer : public QDBusVirtualObject {
public:
    QStringList Taken;
    QSet<QString> Senders;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
        const QString method = message.member();
        Senders << message.service();
        if (method == "Mute")
            return true;
        if ((method != "Note" && method != "Echo" && method != "Later") ||
            message.signature() != "s")
            return bus.send(message.createErrorReply(QDBusError::UnknownMethod, method));
        const QString text = message.arguments().value(0).toString();
        Taken << text + (message.isReplyRequired() ? "?" : "!");
        const QVariantList answer = method == "Note" ? QVariantList{} : QVariantList{text};
        if (method == "Later") {
            QTimer::singleShot(
                300, [bus, reply = message.createReply(answer)]() mutable { bus.send(reply); });
            return true;
        }
        return !message.isReplyRequired() || bus.send(message.createReply(answer));
    }
    QString introspect(const QString&) const override { return {}; }
};

class BindingTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(BusWorld().Address.empty());
        Peer = QDBusConnection::connectToBus(QString::fromStdString(BusWorld().Address),
                                             QStringLiteral("binding-peer"));
        ASSERT_TRUE(Peer.isConnected());
    }
    void TearDown() override { QDBusConnection::disconnectFromBus(QStringLiteral("binding-peer")); }
    std::string PeerName() const { return Peer.baseService().toStdString(); }

    QDBusConnection Peer{QString()};
};

// Both ways a call can take: QtDBus's, and the connection the calling thread reads itself.
TEST_F(BindingTest, SendsAskForNoReplyAndArriveInOrderWithTheCalls) {
    for (const bool direct : {false, true}) {
        SCOPED_TRACE(direct ? "direct" : "QtDBus");
        TRecordingPeer recorder;
        ASSERT_TRUE(Peer.registerVirtualObject(QStringLiteral("/Rec"), &recorder));
        TDBusObject object(PeerName(), "/Rec", direct);
        object.Send("Note", {std::string("a")}, "s");
        object.Send("Note", {std::string("b")}, "s");
        EXPECT_EQ(VariantToText(object.Call("Echo", {std::string("c")}, "s").Result), "c");
        object.Send("Note", {std::string("d")}, "s");
        ASSERT_TRUE(WaitUntil([&] { return recorder.Taken.size() == 4; }, 20000))
            << recorder.Taken.size();
        EXPECT_EQ(recorder.Taken, (QStringList{QStringLiteral("a!"), QStringLiteral("b!"),
                                               QStringLiteral("c?"), QStringLiteral("d!")}));
        EXPECT_EQ(TDBusObject::PendingCalls(), 0);
        EXPECT_THROW(object.Send("Note", {std::string("x")}, "ii"), TDispatchError);

        // A posted call asks for its reply, keeps its place among the calls, and gives its answer
        // or its failure only when asked for it.
        TPendingCallPtr posted = object.Post("Echo", {std::string("e")}, "s");
        TPendingCallPtr failed = object.Post("NoSuchMethod", {}, "");
        EXPECT_EQ(VariantToText(object.Call("Echo", {std::string("f")}, "s").Result), "f");
        EXPECT_EQ(recorder.Taken.mid(4), (QStringList{QStringLiteral("e?"), QStringLiteral("f?")}));
        EXPECT_EQ(VariantToText(posted->Result().Result), "e");
        try {
            failed->Result();
            ADD_FAILURE() << "a call of no method gave an answer";
        } catch (const TDispatchError& e) {
            EXPECT_EQ(e.Name, "org.freedesktop.DBus.Error.UnknownMethod");
        }
        // Direct calls come from a connection of their own, the others from the process's.
        EXPECT_EQ(recorder.Senders.size(), 1);
        EXPECT_EQ(recorder.Senders.contains(RaduvuzBus().baseService()), !direct);
        Peer.unregisterObject(QStringLiteral("/Rec"));
    }
}

// The connection that answered is remembered: once another one owns the name, the peer has
// gone, as when a store is started again while the module still holds its documents.
TEST_F(BindingTest, APeerIsGoneOnceAnotherConnectionOwnsItsName) {
    const QString name = QStringLiteral("raduvuz.test.Named");
    for (const bool direct : {false, true}) {
        SCOPED_TRACE(direct ? "direct" : "QtDBus");
        TRecordingPeer recorder;
        ASSERT_TRUE(Peer.registerVirtualObject(QStringLiteral("/Rec"), &recorder));
        ASSERT_TRUE(Peer.registerService(name));
        TDBusObject object(name.toStdString(), "/Rec", direct);
        EXPECT_EQ(VariantToText(object.Call("Echo", {std::string("a")}, "s").Result), "a");
        EXPECT_FALSE(object.PeerGone());
        Peer.unregisterService(name);
        QDBusConnection other = QDBusConnection::connectToBus(
            QString::fromStdString(BusWorld().Address), QStringLiteral("binding-other"));
        ASSERT_TRUE(other.registerService(name));
        EXPECT_TRUE(object.PeerGone());
        QDBusConnection::disconnectFromBus(QStringLiteral("binding-other"));
        Peer.unregisterObject(QStringLiteral("/Rec"));
    }
}

// A direct call whose reply is slow serves events meanwhile; a call made from one of them is
// answered on the same connection, and the first call still gets its own answer. A peer that
// never answers fails the call after the object's deadline, as the bus says when it gives up.
TEST_F(BindingTest, ADirectCallServesEventsWhileItWaitsAndGivesUpAtItsDeadline) {
    TRecordingPeer recorder;
    ASSERT_TRUE(Peer.registerVirtualObject(QStringLiteral("/Rec"), &recorder));
    TDBusObject object(PeerName(), "/Rec", true);
    std::string nested;
    QElapsedTimer clock;
    qint64 nestedAt = -1;
    QTimer::singleShot(50, [&] {
        nested = VariantToText(object.Call("Echo", {std::string("inner")}, "s").Result);
        nestedAt = clock.elapsed();
    });
    clock.start();
    EXPECT_EQ(VariantToText(object.Call("Later", {std::string("outer")}, "s").Result), "outer");
    const qint64 outerAt = clock.elapsed();
    EXPECT_EQ(nested, "inner");
    EXPECT_LT(nestedAt, 250);
    EXPECT_GE(outerAt, 250);
    EXPECT_EQ(TDBusObject::PendingCalls(), 0);

    object.SetReplyDeadlineMs(300);
    bool served = false;
    QTimer::singleShot(100, [&] { served = true; });
    clock.restart();
    try {
        object.Call("Mute", {std::string("x")}, "s");
        ADD_FAILURE() << "a call nobody answers gave an answer";
    } catch (const TDispatchError& e) {
        EXPECT_EQ(e.Name, "org.freedesktop.DBus.Error.NoReply") << e.what();
    }
    EXPECT_GE(clock.elapsed(), 250);
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_TRUE(served);
    EXPECT_EQ(TDBusObject::PendingCalls(), 0);
}

TEST_F(BindingTest, SignalsOfTheObjectReachTheListenerAsAutomationValuesWhileItListens) {
    TDBusObject store(PeerName(), "/MemoryMan");
    std::vector<std::string> heard;
    TListeningPtr listening =
        store.Listen("RozEza.MemoryMan", {"DocumentAvailable", "MemoryFreed"},
                     [&heard](const std::string& member, const std::vector<TVariant>& args) {
                         std::string text = member;
                         for (const TVariant& arg : args)
                             text += " " + VariantToText(arg);
                         heard.push_back(text);
                     });
    ASSERT_NE(listening, nullptr);
    const auto sendSignal = [&](const QString& path, const QString& interface,
                                const QString& member, const QVariantList& args) {
        QDBusMessage signal = QDBusMessage::createSignal(path, interface, member);
        signal.setArguments(args);
        ASSERT_TRUE(Peer.send(signal));
    };
    const QString path = QStringLiteral("/MemoryMan");
    const QString interface = QStringLiteral("RozEza.MemoryMan");
    // Neither a member it did not ask for, nor another object's, nor another interface's.
    sendSignal(path, interface, QStringLiteral("DocumentTaken"), {12, 40});
    sendSignal(QStringLiteral("/Other"), interface, QStringLiteral("MemoryFreed"), {});
    sendSignal(path, QStringLiteral("Other.Interface"), QStringLiteral("MemoryFreed"), {});
    sendSignal(path, interface, QStringLiteral("DocumentAvailable"), {3, 40});
    sendSignal(path, interface, QStringLiteral("MemoryFreed"), {});
    ASSERT_TRUE(WaitUntil([&] { return heard.size() >= 2; }, 20000));
    EXPECT_EQ(heard, (std::vector<std::string>{"DocumentAvailable 3 40", "MemoryFreed"}));

    // Once the listening ends, the bus forgets it: a later signal reaches nobody, while one that
    // a second listener asks for still arrives.
    listening.reset();
    bool second = false;
    TListeningPtr other = store.Listen(
        "RozEza.MemoryMan", {"DocumentTaken"},
        [&second](const std::string&, const std::vector<TVariant>&) { second = true; });
    sendSignal(path, interface, QStringLiteral("MemoryFreed"), {});
    sendSignal(path, interface, QStringLiteral("DocumentTaken"), {12, 41});
    ASSERT_TRUE(WaitUntil([&] { return second; }, 20000));
    EXPECT_EQ(heard.size(), 2u);
}

} // namespace
} // namespace raduvuz::test
