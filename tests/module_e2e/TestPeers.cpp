#include "module_e2e/TestPeers.h"

namespace raduvuz::test {

namespace {
QString B(bool value) {
    return value ? QStringLiteral("true") : QStringLiteral("false");
}
} // namespace

void TTestServer::Record(const QString& call) {
    Calls << call;
}

void TTestServer::ChangeStatus(int module, bool paused, int status) {
    Record(QStringLiteral("ChangeStatus(%1,%2,%3)").arg(module).arg(B(paused)).arg(status));
}

void TTestServer::WriteLog(int module, const QString& line) {
    Record(QStringLiteral("WriteLog(%1,%2)").arg(module).arg(line));
}

QDBusVariant TTestServer::GetValue(int module, int num) {
    Record(QStringLiteral("GetValue(%1,%2)").arg(module).arg(num));
    if (module == 0 && Values.contains(num))
        return QDBusVariant(Values.value(num));
    return QDBusVariant(QVariant(QVariantList()));
}

void TTestServer::SetValue(int module, int num, bool value) {
    Record(QStringLiteral("SetValue(%1,%2,%3)").arg(module).arg(num).arg(B(value)));
    if (!SetValueError.isEmpty())
        sendErrorReply(SetValueError, QStringLiteral("the server refused"));
}

bool TTestServer::IsJobUse(int module, int docId) {
    Record(QStringLiteral("IsJobUse(%1,%2)").arg(module).arg(docId));
    return false;
}

void TTestServer::ShowLabel(int module, const QString& text) {
    Record(QStringLiteral("ShowLabel(%1,%2)").arg(module).arg(text));
}

QString TTestServer::GetConfigKey(int module) {
    Record(QStringLiteral("GetConfigKey(%1)").arg(module));
    return QStringLiteral("key%1").arg(module);
}

QString TTestServer::PtrToKey(int term) {
    Record(QStringLiteral("PtrToKey(%1)").arg(term));
    return QStringLiteral("term%1").arg(term);
}

void TTestServer::CloseMe(int module) {
    Record(QStringLiteral("CloseMe(%1)").arg(module));
}

void TTestServer::ChangeSetup(int module, const QString& inParams, const QString& outParams) {
    Record(QStringLiteral("ChangeSetup(%1,%2,%3)").arg(module).arg(inParams, outParams));
}

} // namespace raduvuz::test
