#include "module_e2e/BusFixture.h"

#include "app/TModuleLoop.h"
#include "dbus/DBusBus.h"
#include "dbus/TDBusObject.h"
#include "platform/WholeFile.h"
#include "services/TServerClient.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

namespace raduvuz::test {
namespace {

// A workflow server that takes every call and never answers any.
class TMutePeer : public QDBusVirtualObject {
public:
    QStringList Taken;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
        Taken << message.member();
        return true;
    }
    QString introspect(const QString&) const override { return QString(); }
};

using MuteServerTest = BusTest;

TEST_F(MuteServerTest, InitGivesUpOnEachCallbackAfterItsDeadlineAndServesCallsMeanwhile) {
    TDispatchPtr module = StartModule();
    ASSERT_NE(module, nullptr);
    QDBusConnection mute = QDBusConnection::connectToBus(QString::fromStdString(BusWorld().Address),
                                                         QStringLiteral("mute-server"));
    ASSERT_TRUE(mute.isConnected());
    TMutePeer peer;
    ASSERT_TRUE(mute.registerVirtualObject(QStringLiteral("/Workflow"), &peer));
    const std::string reference = mute.baseService().toStdString() + "/Workflow";

    // A call that comes in while the module waits for its server is answered at once, not once
    // the wait is over.
    std::string nested;
    qint64 nestedAt = -1;
    QElapsedTimer clock;
    QTimer::singleShot(1000, [&] {
        nested = VariantToText(module->Call("GetValue", {int32_t{2}}, "i").Result);
        nestedAt = clock.elapsed();
    });
    clock.start();
    const std::string error = ErrorOf([&] {
        module->Call("Init", {int32_t{5}, std::string("Muted"), reference}, "iss");
    });
    const qint64 elapsed = clock.elapsed();
    // The last log line needs no answer, so Init's answer may come before it.
    WaitUntil([&] { return peer.Taken.size() >= 4; }, 10000);
    mute.unregisterObject(QStringLiteral("/Workflow"));
    QDBusConnection::disconnectFromBus(QStringLiteral("mute-server"));

    // ChangeStatus and the log line go without waiting; GetValue gets no answer, so the rest of
    // the first block is skipped; the store cannot be made here, and the line that says so goes
    // out too.
    EXPECT_EQ(error, "");
    EXPECT_EQ(peer.Taken, (QStringList{QStringLiteral("ChangeStatus"), QStringLiteral("WriteLog"),
                                       QStringLiteral("GetValue"), QStringLiteral("WriteLog")}));
    EXPECT_GE(elapsed, kServerReplyDeadlineMs - 500);
    EXPECT_LT(elapsed, kServerReplyDeadlineMs + 8000);
    EXPECT_EQ(nested, "Muted");
    EXPECT_LT(nestedAt, kServerReplyDeadlineMs - 1000);
    EXPECT_EQ(VariantToText(module->Call("GetErrorMessage", {}).Result), "no error");
}

// A wait for the disk runs on a thread of its own while the loop serves events, as a call waits
// for its reply; one that starts from an event served meanwhile runs where it is.
TEST(ReplyTimeoutTest, AWaitForTheDiskServesEventsMeanwhileAndDoesNotNest) {
    ASSERT_FALSE(BusWorld().Address.empty());
    TModuleLoop loop;
    loop.StopTimer();
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<bool> release{false};
    int served = 0;
    int pendingMeanwhile = -1;
    bool innerOnCaller = false;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (++served != 3)
            return;
        pendingMeanwhile = TDBusObject::PendingCalls();
        innerOnCaller = loop.WaitAside([&] { return std::this_thread::get_id() == caller; });
        release = true;
    });
    tick.start(5);
    std::thread::id ranOn;
    const bool result = loop.WaitAside([&] {
        ranOn = std::this_thread::get_id();
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return false;
    });
    EXPECT_FALSE(result);
    EXPECT_NE(ranOn, caller);
    EXPECT_GE(served, 3);
    EXPECT_EQ(pendingMeanwhile, 1);
    EXPECT_TRUE(innerOnCaller);
    EXPECT_EQ(TDBusObject::PendingCalls(), 0);

    // Quick work, done before any event is served, gives its own result each time, also after
    // the slow work above.
    for (const bool expected : {true, false, true}) {
        std::thread::id quickOn = caller;
        EXPECT_EQ(loop.WaitAside([&] {
            quickOn = std::this_thread::get_id();
            return expected;
        }),
                  expected);
        EXPECT_NE(quickOn, caller);
    }

    // The reason of a failed sync reaches the caller's errno from the other thread.
    const TDiskWait wait = [&](const std::function<bool()>& sync) { return loop.WaitAside(sync); };
    errno = 0;
    EXPECT_FALSE(SyncFile(-1, false, wait));
    EXPECT_EQ(errno, EBADF);
}

// A wait for events ends once the event it waits for has been handled, else by its timer.
TEST(ModuleLoopTest, WaitingForEventsHandlesTheEventThatArrives) {
    BusWorld();
    TModuleLoop loop;
    bool handled = false;
    QMetaObject::invokeMethod(
        &loop, [&handled] { handled = true; }, Qt::QueuedConnection);
    loop.WaitForEvents(60000, [&handled] { return handled; });
    EXPECT_TRUE(handled);
    loop.WaitForEvents(1, [] { return false; });
}

} // namespace
} // namespace raduvuz::test
