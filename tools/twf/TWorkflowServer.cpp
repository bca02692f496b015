#include "tools/twf/TWorkflowServer.h"

#include <QVariantList>
#include <unistd.h>

namespace raduvuz {

namespace {

QDBusVariant Null() {
    // Null travels as a variant holding an empty array of variants.
    return QDBusVariant(QVariant::fromValue(QVariantList()));
}

QDBusVariant Text(const std::string& text) {
    return QDBusVariant(QVariant(QString::fromStdString(text)));
}

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return std::string(name).substr(0, 15);
}

} // namespace

TWorkflowServer::TWorkflowServer(const TWorkflow& workflow, TTwfLog& log, QObject* parent)
    : QObject(parent), Workflow(workflow), Log(log), Computer(HostName()) {}

std::string TWorkflowServer::ModuleText(int32_t module) const {
    std::string name;
    if (const TModuleDef* m = Workflow.FindModule(module))
        name = m->Name;
    else if (const TSinkDef* s = Workflow.FindSink(module))
        name = s->Name;
    return std::to_string(module) + (name.empty() ? "" : " (" + name + ")");
}

void TWorkflowServer::ChangeStatus(int module, bool paused, int status) {
    TModuleState& s = States[module];
    s.Paused = paused;
    s.Status = status;
    Log.Line("module " + ModuleText(module) + ": status " + std::to_string(status) +
             (paused ? ", paused" : ", running"));
}

void TWorkflowServer::WriteLog(int module, const QString& line) {
    Log.Line("module " + ModuleText(module) + ": " + line.toStdString());
}

QDBusVariant TWorkflowServer::GetValue(int module, int num) {
    if (module == 0) {
        switch (num) {
        case 1:
            return Text(Workflow.Preview.empty() ? Workflow.BaseDir + "/preview"
                                                 : Workflow.Preview);
        case 2:
            return Text(Workflow.MainComputer.empty() ? Computer : Workflow.MainComputer);
        case 1004:
            return QDBusVariant(QVariant(Workflow.Value1004));
        default:
            return Null();
        }
    }
    const TModuleDef* m = Workflow.FindModule(module);
    const TSinkDef* sink = Workflow.FindSink(module);
    if (!m && !sink)
        return num == 0   ? QDBusVariant(QVariant(0))
               : num == 6 ? QDBusVariant(QVariant(false))
                          : Null();
    const TModuleState& state = States[module];
    switch (num) {
    case 0:
        // Sinks are always there; a driven module runs once it has been started.
        return QDBusVariant(QVariant(sink || state.Running ? 1 : 0));
    case 2: {
        const std::string& name = m ? m->Name : sink->Name;
        return name.empty() ? Null() : Text(name);
    }
    case 6:
        if (sink && sink->PausedForSeconds > 0 &&
            (!RunClock.isValid() || RunClock.elapsed() < sink->PausedForSeconds * 1000LL))
            return QDBusVariant(QVariant(true));
        return QDBusVariant(QVariant(sink ? sink->Paused : state.Paused));
    case 7: {
        const std::string& computer = m ? m->Computer : sink->Computer;
        return Text(computer.empty() ? Computer : computer);
    }
    default:
        return Null();
    }
}

void TWorkflowServer::SetValue(int module, int num, bool value) {
    Log.Line("module " + ModuleText(module) + ": value " + std::to_string(num) + " set to " +
             (value ? "true" : "false"));
}

bool TWorkflowServer::IsJobUse(int module, int docId) {
    Log.Line("module " + ModuleText(module) + ": asks whether job " + std::to_string(docId) +
             " is in use: " + (Workflow.JobUse ? "yes" : "no"));
    return Workflow.JobUse;
}

void TWorkflowServer::ShowLabel(int module, const QString& text) {
    TModuleState& s = States[module];
    if (s.Label != text.toStdString()) {
        s.Label = text.toStdString();
        Log.Line("module " + ModuleText(module) + ": label " + s.Label);
    }
}

QString TWorkflowServer::GetConfigKey(int module) {
    const TModuleDef* m = Workflow.FindModule(module);
    return QString::fromStdString(m ? m->ConfigKey : "Module" + std::to_string(module));
}

QString TWorkflowServer::PtrToKey(int term) {
    const TTerminatorDef* t = Workflow.FindTerminator(term);
    return t ? QString::fromStdString(t->Key) : QString();
}

void TWorkflowServer::CloseMe(int module) {
    Log.Line("module " + ModuleText(module) + ": asks to be closed");
    emit closeRequested(module);
}

void TWorkflowServer::ChangeSetup(int module, const QString& inParams, const QString& outParams) {
    Log.Line("module " + ModuleText(module) + ": setup changed, in \"" + inParams.toStdString() +
             "\", out \"" + outParams.toStdString() + "\"");
}

} // namespace raduvuz
