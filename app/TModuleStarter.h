#pragma once

#include <QString>
#include <QStringList>

namespace raduvuz {

// Starts a new module process (the program with "-EMBEDDING"), waits, serving incoming calls,
// until it owns its bus name, gives it its own reference through SelfReg and answers that
// reference ("RAduvuz.ModuleControl.p<pid>/ModuleControl"). Throws when the process cannot be
// started or does not appear on the bus.
class TModuleStarter {
public:
    // options go on the new process's command line after "-EMBEDDING".
    explicit TModuleStarter(QString program, QStringList options = {}, int appearTimeoutMs = 20000);
    QString StartModule();

private:
    QString Program;
    QStringList Options;
    int AppearTimeoutMs;
};

} // namespace raduvuz
