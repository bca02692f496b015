// The tray icon on a desktop whose tray is a StatusNotifierItem host: a watcher of the test's own
// on a private session bus takes the module's item, and the test clicks it with the item's
// Activate over the bus, as a host does; Qt's xcb platform uses the item whenever such a watcher
// is on the bus, hence the X display. "--no-tray" tests a desktop without a tray; "--watcher"
// runs the watcher on the bus DBUS_SESSION_BUS_ADDRESS names.

#include "console/ConsoleTestSupport.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QtTest>

#include <cstdio>
#include <cstring>

namespace raduvuz::test {

namespace {

const QString kWatcherName = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");

} // namespace

// The watcher side of the protocol as a desktop's tray runs it: items register with their bus
// name (or an object path of the caller's), a host is registered, the items are listed; no more
// than Qt's item uses.
class TFakeWatcher : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ RegisteredStatusNotifierItems)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ IsStatusNotifierHostRegistered)

public:
    QStringList RegisteredStatusNotifierItems() const { return Items; }
    bool IsStatusNotifierHostRegistered() const { return true; }

public slots:
    void RegisterStatusNotifierItem(const QString& service) {
        // A path names an object of the caller; a name, the item at the usual path.
        const QString item = service.startsWith(QLatin1Char('/'))
                                 ? message().service() + service
                                 : service + QStringLiteral("/StatusNotifierItem");
        if (!Items.contains(item))
            Items << item;
    }

private:
    QStringList Items;
};

class TrayTest : public QObject {
    Q_OBJECT

    QDBusConnection Bus = QDBusConnection::connectToBus(
        QString::fromLocal8Bit(qgetenv("DBUS_SESSION_BUS_ADDRESS")), QStringLiteral("tray-test"));

    // A call the way a host makes it; the test's own event loop runs meanwhile, since the item
    // answers from this very process.
    QDBusMessage Call(const QString& service, const QString& path, const QString& interface,
                      const QString& method, const QVariantList& arguments = {}) {
        QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
        call.setArguments(arguments);
        return Bus.call(call, QDBus::BlockWithGui, 10000);
    }
    QVariant Property(const QString& item, const QString& interface, const QString& name) {
        const QString service = item.section(QLatin1Char('/'), 0, 0);
        const QString path = QLatin1Char('/') + item.section(QLatin1Char('/'), 1);
        const QDBusMessage reply =
            Call(service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                 QStringLiteral("Get"), {interface, name});
        return reply.arguments().isEmpty()
                   ? QVariant()
                   : qvariant_cast<QDBusVariant>(reply.arguments().first()).variant();
    }
    QStringList Items() {
        return Property(kWatcherName + kWatcherPath, kWatcherName,
                        QStringLiteral("RegisteredStatusNotifierItems"))
            .toStringList();
    }
    // The item registered last, once it answers with this title.
    QString ItemTitled(const QString& title) {
        QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired()) {
            const QStringList items = Items();
            if (!items.isEmpty() &&
                Property(items.last(), kItemInterface, QStringLiteral("Title")).toString() == title)
                return items.last();
            QTest::qWait(50);
        }
        return QString();
    }

private slots:
    void aClickOnTheNotifierItemShowsTheWindow() {
        QVERIFY2(Bus.isConnected(), "no private bus");
        QVERIFY(QSystemTrayIcon::isSystemTrayAvailable());
        TBareWindow window;
        window.StartMessage();
        QVERIFY(window.TrayIconAdded());
        QVERIFY(window.isHidden());
        // The item's title is the module's description, once the module has one.
        window.SetCaption("Prepress queue");
        const QString item = ItemTitled(QStringLiteral("Prepress queue"));
        QVERIFY2(!item.isEmpty(), qPrintable(Items().join(QLatin1Char(' '))));
        // The menu travels over the bus to the host; its first item shows the window.
        QCOMPARE(
            Property(item, kItemInterface, QStringLiteral("Menu")).value<QDBusObjectPath>().path(),
            QStringLiteral("/MenuBar"));
        QCOMPARE(window.PopupMenu->actions().first(), window.AShow);

        // A click is Activate; the window comes up and to the front.
        const QString service = item.section(QLatin1Char('/'), 0, 0);
        const QDBusMessage reply = Call(service, QStringLiteral("/StatusNotifierItem"),
                                        kItemInterface, QStringLiteral("Activate"), {0, 0});
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        QTRY_VERIFY(window.isVisible());
        QVERIFY(!window.isMinimized());

        // Hidden again, the next click brings it back.
        window.AHide->trigger();
        QVERIFY(window.isHidden());
        Call(service, QStringLiteral("/StatusNotifierItem"), kItemInterface,
             QStringLiteral("Activate"), {10, 10});
        QTRY_VERIFY(window.isVisible());
    }
};

// A desktop with no tray at all: neither a notifier watcher nor an XEmbed tray on the display.
class NoTrayTest : public QObject {
    Q_OBJECT

private slots:
    void theWindowStaysMinimisedAndTheLogSaysWhy() {
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        TBareWindow window;
        window.StartMessage();
        QVERIFY(!window.TrayIconAdded());
        QVERIFY(window.isVisible());
        QVERIFY(window.isMinimized());
        QVERIFY(window.LogPane()->toPlainText().startsWith(
            QStringLiteral("No system tray on this desktop")));
        // Hiding would lose it: Esc, Hide and the desktop's close minimise it, Hide brings it up
        // again, and Hide's button shows which way it goes next.
        window.ShowAndActivate();
        QTRY_VERIFY(!window.isMinimized());
        window.FormKeyDown(Qt::Key_Escape);
        QTRY_VERIFY(window.isMinimized());
        QVERIFY(window.isVisible());
        QCOMPARE(TfMain::ImageIndex(window.AHide), 1);
        window.AHide->trigger();
        QTRY_VERIFY(!window.isMinimized());
        QCOMPARE(TfMain::ImageIndex(window.AHide), 0);
        window.close();
        QTRY_VERIFY(window.isMinimized());
        QVERIFY(window.isVisible());
    }
};

namespace {

// The watcher process: registers its name and serves until it is ended.
int RunWatcher(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    TFakeWatcher watcher;
    if (!bus.registerObject(kWatcherPath, &watcher,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                QDBusConnection::ExportAllProperties) ||
        !bus.registerService(kWatcherName)) {
        std::fprintf(stderr, "watcher: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    return QCoreApplication::exec();
}

} // namespace

} // namespace raduvuz::test

int main(int argc, char** argv) {
    using namespace raduvuz::test;
    if (argc > 1 && std::strcmp(argv[1], "--watcher") == 0)
        return RunWatcher(argc, argv);
    // ctest runs the program on a session bus of its own (dbus-run-session).
    const bool noTray = argc > 1 && std::strcmp(argv[1], "--no-tray") == 0;
    if (noTray) {
        argv[1] = argv[0];
        --argc;
        ++argv;
    }
    QApplication app(argc, argv);
    raduvuz::TTWForm::HelpOpener() = [](const QUrl&) { return false; };
    if (noTray) {
        NoTrayTest test;
        return QTest::qExec(&test, argc, argv) == 0 ? 0 : 1;
    }
    // The watcher is on the bus before the window makes its tray icon: Qt looks for it then.
    QProcess watcher;
    watcher.setProcessChannelMode(QProcess::ForwardedChannels);
    watcher.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--watcher")});
    QDBusConnection session = QDBusConnection::sessionBus();
    QDeadlineTimer deadline(20000);
    while (!session.interface()->isServiceRegistered(kWatcherName) && !deadline.hasExpired())
        QTest::qWait(20);
    TrayTest test;
    const int failed = QTest::qExec(&test, argc, argv);
    watcher.kill();
    watcher.waitForFinished();
    return failed == 0 ? 0 : 1;
}

#include "TrayTest.moc"
