#pragma once

#include "console/TNotice.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

#include <string>

namespace raduvuz::test {

// The test data folder (tests/data).
inline QString TestData(const QString& name) {
    return QString::fromLocal8Bit(qgetenv("RADUVUZ_TEST_DATA")) + QStringLiteral("/") + name;
}

inline QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Sets an environment variable for one test and puts the old value back.
class TScopedVariable {
public:
    TScopedVariable(const char* name, const QByteArray& value)
        : Name(name), Old(qgetenv(name)), HadOld(qEnvironmentVariableIsSet(name)) {
        qputenv(name, value);
    }
    ~TScopedVariable() {
        if (HadOld)
            qputenv(Name, Old);
        else
            qunsetenv(Name);
    }
    TScopedVariable(const TScopedVariable&) = delete;
    TScopedVariable& operator=(const TScopedVariable&) = delete;

private:
    const char* Name;
    QByteArray Old;
    bool HadOld;
};

// A clean folder for one test, with a registry file of its own in it (empty at first), so that
// the machine's registry never takes part.
class TTestFolder {
public:
    TTestFolder()
        : Registry("RADUVUZ_REGISTRY",
                   Folder.filePath(QStringLiteral("registry.ini")).toLocal8Bit()) {
        QVERIFY(Folder.isValid());
    }
    QString Path(const QString& name) const { return Folder.filePath(name); }
    std::string StdPath(const QString& name) const { return Path(name).toStdString(); }
    void WriteFile(const QString& name, const QByteArray& bytes) const {
        QFile file(Path(name));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

private:
    QTemporaryDir Folder;
    TScopedVariable Registry;
};

// Catches the console's message boxes and beeps while it lives, so that a test reads them instead
// of an operator; afterwards they show nothing.
class TCaughtNotices {
public:
    TCaughtNotices(QStringList& messages, int& beeps) {
        messages.clear();
        beeps = 0;
        TNotice::MessageBox() = [&messages](QWidget*, const QString& text) { messages << text; };
        TNotice::BeepSound() = [&beeps] { ++beeps; };
    }
    ~TCaughtNotices() {
        TNotice::MessageBox() = [](QWidget*, const QString&) {};
        TNotice::BeepSound() = [] {};
    }
    TCaughtNotices(const TCaughtNotices&) = delete;
    TCaughtNotices& operator=(const TCaughtNotices&) = delete;
};

} // namespace raduvuz::test
