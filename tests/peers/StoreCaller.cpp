// A module process as the store sees it, for the tests that kill one: reads one store call a
// line from stdin ("ROpenDoc 3 7"), makes it over the session bus by member name and prints the
// answer on one line, its out arguments separated by tabs, or "error NAME". The arguments'
// types come from the call's signature, so "WCreateDoc 3 1 12 Name=x" sends the 12 as text.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QSocketNotifier>
#include <QStringList>

#include <cstdio>
#include <iostream>
#include <map>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::map<QString, QString> signatures = {
        {QStringLiteral("ROpenDoc"), QStringLiteral("ii")},
        {QStringLiteral("RGetBlock"), QStringLiteral("ii")},
        {QStringLiteral("RCloseBlock"), QStringLiteral("iii")},
        {QStringLiteral("RWSwitchBlock"), QStringLiteral("iii")},
        {QStringLiteral("WCreateDoc"), QStringLiteral("iiss")},
        {QStringLiteral("WGetBlock"), QStringLiteral("ii")},
        {QStringLiteral("WCloseBlock"), QStringLiteral("iii")},
    };
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::cout << "error no bus" << std::endl;
        return 1;
    }
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        std::string line;
        if (!std::getline(std::cin, line)) {
            app.quit();
            return;
        }
        const QStringList words =
            QString::fromStdString(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const auto signature = signatures.find(words.value(0));
        if (signature == signatures.end() || words.size() != signature->second.size() + 1) {
            std::cout << "error bad line" << std::endl;
            return;
        }
        QVariantList args;
        for (qsizetype i = 0; i < signature->second.size(); ++i) {
            if (signature->second[i] == QLatin1Char('i'))
                args << words[i + 1].toInt();
            else
                args << words[i + 1];
        }
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("RozEza.MemoryMan"), QStringLiteral("/MemoryMan"), QString(), words[0]);
        call.setArguments(args);
        const QDBusMessage reply = bus.call(call, QDBus::Block, 20000);
        if (reply.type() == QDBusMessage::ErrorMessage) {
            std::cout << "error " << reply.errorName().toStdString() << std::endl;
            return;
        }
        QStringList out;
        for (const QVariant& v : reply.arguments())
            out << v.toString();
        std::cout << out.join(QLatin1Char('\t')).toStdString() << std::endl;
    });
    return app.exec();
}
