#include "peers/FakeModule.h"

#include <QDBusArgument>

namespace raduvuz::test {

TFakeModule::TFakeModule(QDBusConnection bus, bool passDocuments)
    : Bus(std::move(bus)), PassDocuments(passDocuments) {
    Work.setInterval(20);
    connect(&Work, &QTimer::timeout, this, &TFakeModule::PassOne);
}

QDBusMessage TFakeModule::Server(const QString& method, const QVariantList& args) {
    // By member name, no interface: the server is any object that answers these names.
    QDBusMessage call =
        QDBusMessage::createMethodCall(ServerService, ServerPath, QString(), method);
    call.setArguments(args);
    return Bus.call(call, QDBus::Block, 20000);
}

QDBusMessage TFakeModule::Store(const QString& method, const QVariantList& args) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("RozEza.MemoryMan"), QStringLiteral("/MemoryMan"), QString(), method);
    call.setArguments(args);
    QDBusMessage reply = Bus.call(call, QDBus::Block, 20000);
    if (reply.type() == QDBusMessage::ErrorMessage)
        StoreErrors << method + QStringLiteral(": ") + reply.errorName();
    return reply;
}

void TFakeModule::Init(int pSrv, const QString& sDesc, const QString& IDisp) {
    Calls << QStringLiteral("Init %1 %2").arg(pSrv).arg(sDesc);
    Number = pSrv;
    int slash = IDisp.indexOf(QLatin1Char('/'));
    ServerService = IDisp.left(slash);
    ServerPath = IDisp.mid(slash);
    Server(QStringLiteral("ChangeStatus"), {Number, true, 1});
    Server(QStringLiteral("WriteLog"), {Number, QStringLiteral(" Connected at now")});
    auto value = [&](int module, int num) {
        QDBusMessage reply = Server(QStringLiteral("GetValue"), {module, num});
        QVariant v = qvariant_cast<QDBusVariant>(reply.arguments().value(0)).variant();
        // Null comes as an empty array of variants; keep it apart from every real answer.
        if (v.userType() == qMetaTypeId<QDBusArgument>()) {
            const QDBusArgument arg = qvariant_cast<QDBusArgument>(v);
            v = QStringLiteral("<null %1>").arg(arg.currentSignature());
        }
        Values[{module, num}] = v;
    };
    const std::pair<int, int> asked[] = {{0, 1004}, {0, 2},  {0, 1},      {12, 0}, {12, 2},
                                         {12, 6},   {12, 7}, {Number, 0}, {99, 2}};
    for (const auto& [module, num] : asked)
        value(module, num);
    ConfigKey = Server(QStringLiteral("GetConfigKey"), {Number}).arguments().value(0).toString();
    IsJobUseAnswer = Server(QStringLiteral("IsJobUse"), {Number, 5}).arguments().value(0).toBool();
    Server(QStringLiteral("ShowLabel"), {Number, QStringLiteral("0")});
}

void TFakeModule::Resume() {
    Calls << QStringLiteral("Resume");
    Server(QStringLiteral("ChangeStatus"), {Number, false, 1});
    // Once resumed, the server reports the module as running (value 0 of its own number).
    Values[{Number, 100}] =
        qvariant_cast<QDBusVariant>(
            Server(QStringLiteral("GetValue"), {Number, 0}).arguments().value(0))
            .variant();
    if (PassDocuments)
        Work.start();
}

void TFakeModule::StartLog() {
    Calls << QStringLiteral("StartLog");
}

void TFakeModule::Close() {
    Calls << QStringLiteral("Close");
    Work.stop();
}

void TFakeModule::LoadConfig(const QString& Key) {
    Calls << QStringLiteral("LoadConfig ") + Key;
}

void TFakeModule::ClearFlowEntrySet() {
    Calls << QStringLiteral("ClearFlowEntrySet");
}

void TFakeModule::AddFlowEntry(int dest, const QString& FlowEntry) {
    Calls << QStringLiteral("AddFlowEntry %1 %2").arg(dest).arg(FlowEntry);
    if (!Dest)
        Dest = dest;
}

void TFakeModule::ClearTerminatorsSet() {
    Calls << QStringLiteral("ClearTerminatorsSet");
}

void TFakeModule::AddTerminator(int Term, const QString& Name, const QDBusVariant&) {
    Calls << QStringLiteral("AddTerminator %1 %2").arg(Term).arg(Name);
    TermKeys[Term] = Server(QStringLiteral("PtrToKey"), {Term}).arguments().value(0).toString();
}

void TFakeModule::CompletedSendTerminators() {
    Calls << QStringLiteral("CompletedSendTerminators");
}

void TFakeModule::ShowModule() {
    Calls << QStringLiteral("ShowModule");
}

void TFakeModule::AskToClose() {
    Server(QStringLiteral("CloseMe"), {Number});
}

void TFakeModule::SetValue(int Num, const QDBusVariant& Value) {
    const QVariant v = Value.variant();
    Calls << QStringLiteral("SetValue %1 %2 %3").arg(Num).arg(v.typeName()).arg(v.toString());
}

void TFakeModule::SaveConfig(const QString& Key) {
    Calls << QStringLiteral("SaveConfig ") + Key;
}

QString TFakeModule::ExportConfig() {
    Calls << QStringLiteral("ExportConfig");
    return QStringLiteral("4142");
}

QDBusVariant TFakeModule::GetValue(int Num) {
    Calls << QStringLiteral("GetValue %1").arg(Num);
    if (Num == 99)
        return QDBusVariant(QVariant::fromValue(QVariantList()));
    return QDBusVariant(QVariant(Num * 10));
}

bool TFakeModule::IsJobUse(int JobID) {
    Calls << QStringLiteral("IsJobUse %1").arg(JobID);
    return JobID == 5;
}

void TFakeModule::PassOne() {
    QDBusMessage found = Store(QStringLiteral("RNextFindDoc"), {Number, 0});
    const int doc = found.arguments().value(0).toInt();
    if (found.type() == QDBusMessage::ErrorMessage || doc <= 0)
        return;
    const QDBusMessage paused = Server(QStringLiteral("GetValue"), {Dest, 6});
    DestPaused << qvariant_cast<QDBusVariant>(paused.arguments().value(0)).variant().toBool();
    if (DestPaused.back())
        return;
    Server(QStringLiteral("ChangeStatus"), {Number, false, 2});
    QDBusMessage open = Store(QStringLiteral("ROpenDoc"), {Number, doc});
    const QString dds = open.arguments().value(0).toString();
    const int job = open.arguments().value(1).toInt();
    const int out = Store(QStringLiteral("WCreateDoc"), {Number, job, QString::number(Dest), dds})
                        .arguments()
                        .value(0)
                        .toInt();
    for (int last = 0; !last;) {
        QDBusMessage b = Store(QStringLiteral("RWSwitchBlock"), {Number, doc, out});
        if (b.type() == QDBusMessage::ErrorMessage || b.arguments().value(0).toString().isEmpty())
            return;
        last = b.arguments().value(3).toInt();
        Store(QStringLiteral("WCloseBlock"), {out, b.arguments().value(2), last});
    }
    Store(QStringLiteral("RCloseDoc"), {Number, doc});
    Store(QStringLiteral("WCloseDoc"), {out});
    Server(QStringLiteral("WriteLog"), {Number, QStringLiteral("File %1 transferred").arg(doc)});
    Server(QStringLiteral("ChangeStatus"), {Number, false, 1});
    Passed++;
}

QDBusVariant TFakeProvider::GetObject(const QString&) {
    Given++;
    return QDBusVariant(Reference);
}

} // namespace raduvuz::test
