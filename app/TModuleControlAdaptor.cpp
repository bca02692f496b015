#include "app/TModuleControlAdaptor.h"

#include "app/AutomationError.h"
#include "app/GuardedCall.h"
#include "app/TProcessLifetime.h"
#include "control/TModuleControl.h"
#include "dbus/DBusBus.h"
#include "dbus/TDBusObject.h"

#include <QDBusMessage>

namespace raduvuz {

namespace {

std::string S(const QString& text, const char* argument) {
    return TextArgument(text, argument);
}

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

TVariant V(const QDBusVariant& value, const char* argument) {
    TVariant converted = FromWire(value.variant());
    CheckValueSize(argument, converted);
    return converted;
}

} // namespace

TModuleControlAdaptor::TModuleControlAdaptor(TModuleControl& module, TProcessLifetime& lifetime,
                                             QObject* parent)
    : QObject(parent), Module(module), Lifetime(lifetime) {}

template <typename TResult, typename TBody> TResult TModuleControlAdaptor::Guarded(TBody body) {
    const bool fromBus = calledFromDBus();
    return GuardedCall<TResult>(Module, Lifetime, fromBus ? message().service() : QString(), body,
                                [&](const TAutomationError& error) {
                                    if (fromBus)
                                        sendErrorReply(error.Name, error.Message);
                                });
}

void TModuleControlAdaptor::Init(int pSrv, const QString& sDesc, const QString& IDisp) {
    Guarded<void>([&] {
        TDispatchPtr server =
            IDisp.isEmpty() ? nullptr : TDBusObject::FromOwnedReference(S(IDisp, "IDisp"), "IDisp");
        Module.Init(pSrv, S(sDesc, "sDesc"), server);
    });
}

void TModuleControlAdaptor::Pause() {
    Guarded<void>([&] { Module.Pause(); });
}

void TModuleControlAdaptor::Resume() {
    Guarded<void>([&] { Module.Resume(); });
}

void TModuleControlAdaptor::StartLog() {
    Guarded<void>([&] { Module.StartLog(); });
}

void TModuleControlAdaptor::StopLog() {
    Guarded<void>([&] { Module.StopLog(); });
}

void TModuleControlAdaptor::Close() {
    Guarded<void>([&] { Module.Close(); });
}

void TModuleControlAdaptor::LoadConfig(const QString& Key) {
    Guarded<void>([&] { Module.LoadConfig(S(Key, "Key")); });
}

void TModuleControlAdaptor::SaveConfig(const QString& Key) {
    Guarded<void>([&] { Module.SaveConfig(S(Key, "Key")); });
}

QString TModuleControlAdaptor::GetErrorMessage() {
    return Guarded<QString>([&] { return Q(Module.GetErrorMessage()); });
}

void TModuleControlAdaptor::SetID(const QString& sID) {
    Guarded<void>([&] { Module.SetID(S(sID, "sID")); });
}

QString TModuleControlAdaptor::GetComputerName() {
    return Guarded<QString>([&] { return Q(Module.GetComputerName()); });
}

void TModuleControlAdaptor::AddSource(const QString& ServerName, const QDBusVariant& ID) {
    Guarded<void>([&] { Module.AddSource(S(ServerName, "ServerName"), V(ID, "ID")); });
}

void TModuleControlAdaptor::ClearSources() {
    Guarded<void>([&] { Module.ClearSources(); });
}

QDBusVariant TModuleControlAdaptor::GetValue(int Num) {
    return Guarded<QDBusVariant>(
        [&] { return qvariant_cast<QDBusVariant>(ToWireVariant(Module.GetValue(Num))); });
}

void TModuleControlAdaptor::SetValue(int Num, const QDBusVariant& Value) {
    Guarded<void>([&] { Module.SetValue(Num, V(Value, "Value")); });
}

QString TModuleControlAdaptor::GetInParams() {
    return Guarded<QString>([&] { return Q(Module.GetInParams()); });
}

QString TModuleControlAdaptor::GetOutParams() {
    return Guarded<QString>([&] { return Q(Module.GetOutParams()); });
}

void TModuleControlAdaptor::ClearFlowEntrySet() {
    Guarded<void>([&] { Module.ClearFlowEntrySet(); });
}

void TModuleControlAdaptor::AddFlowEntry(int Dest, const QString& FlowEntry) {
    Guarded<void>([&] { Module.AddFlowEntry(Dest, S(FlowEntry, "FlowEntry")); });
}

void TModuleControlAdaptor::AfterLoad() {
    Guarded<void>([&] { Module.AfterLoad(); });
}

void TModuleControlAdaptor::Kill() {
    Guarded<void>([&] { Module.Kill(); });
}

void TModuleControlAdaptor::AddTerminator(int Term, const QString& Name,
                                          const QDBusVariant& FileType) {
    Guarded<void>([&] { Module.AddTerminator(Term, S(Name, "Name"), V(FileType, "FileType")); });
}

void TModuleControlAdaptor::ClearTerminatorsSet() {
    Guarded<void>([&] { Module.ClearTerminatorsSet(); });
}

void TModuleControlAdaptor::CompletedSendTerminators() {
    Guarded<void>([&] { Module.CompletedSendTerminators(); });
}

void TModuleControlAdaptor::SelfReg(const QDBusVariant& SelfObj) {
    Guarded<void>([&] { Module.SelfReg(V(SelfObj, "SelfObj")); });
}

bool TModuleControlAdaptor::IsJobUse(int JobID) {
    return Guarded<bool>([&] { return Module.IsJobUse(JobID); });
}

void TModuleControlAdaptor::ShowModule() {
    Guarded<void>([&] { Module.ShowModule(); });
}

int TModuleControlAdaptor::LoadDoc(int DocID, int Dest) {
    return Guarded<int>([&] { return static_cast<int>(Module.LoadDoc(DocID, Dest)); });
}

bool TModuleControlAdaptor::SaveDoc(int DocID) {
    return Guarded<bool>([&] { return Module.SaveDoc(DocID); });
}

void TModuleControlAdaptor::DeleteSavedDoc(int DocID) {
    Guarded<void>([&] { Module.DeleteSavedDoc(DocID); });
}

bool TModuleControlAdaptor::ForceDir(const QString& sDir, bool NeedCreate) {
    return Guarded<bool>([&] { return Module.ForceDir(S(sDir, "sDir"), NeedCreate); });
}

int TModuleControlAdaptor::ImportConfig(const QString& Key, const QString& ConfigStr, int ParInt) {
    return Guarded<int>([&] {
        return static_cast<int>(
            Module.ImportConfig(S(Key, "Key"), S(ConfigStr, "ConfigStr"), ParInt));
    });
}

QString TModuleControlAdaptor::ExportConfig() {
    return Guarded<QString>([&] { return Q(Module.ExportConfig()); });
}

} // namespace raduvuz
