#pragma once

#include "console/TNotice.h"
#include "console/TfMain.h"
#include "control/TJobRows.h"
#include "jobs/TJobListModel.h"
#include "support/TempFiles.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

#include <clocale>
#include <optional>
#include <string>
#include <vector>

namespace raduvuz::test {

// The test objects of test_console: a test file adds its own with a TConsoleTests object, and the
// program's main runs them in that order.
using TRunTests = int (*)(int argc, char** argv);
inline std::vector<TRunTests>& ConsoleTests() {
    static std::vector<TRunTests> tests;
    return tests;
}
template <class TTest> struct TConsoleTests {
    TConsoleTests() {
        ConsoleTests().push_back([](int argc, char** argv) {
            TTest test;
            return QTest::qExec(&test, argc, argv);
        });
    }
};

// A row of a job as the module lists it.
inline TListRow JobRow(const std::string& job, const std::string& doc, const std::string& type,
                       const std::string& colour = "CMYK") {
    TListRow row;
    row.Caption = job;
    row.SubItems = {doc, "Job " + job, "1", colour, "01/01/26", "10:00:00", type, "1 Kb", "", ""};
    return row;
}

// A main window over rows of its own, without a module.
struct TWindowRows {
    TJobRows OwnRows;
};
class TBareWindow : private TWindowRows, public TfMain {
public:
    TBareWindow() : TfMain(OwnRows) {}
};

// A clean folder for one test, with a registry file of its own in it (empty at first), so that
// the machine's registry never takes part.
class TTestFolder {
public:
    TTestFolder() : Registry("RADUVUZ_REGISTRY", StdPath(QStringLiteral("registry.ini"))) {
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
    TScopedEnv Registry;
};

// The C library in a locale for one test ("de_DE.UTF-8"), as the program's process would be
// started in it; the locale is built into a folder of the test's own (LOCPATH) with localedef
// when the machine has not generated it. Ok() is false when neither works.
class TScopedLocale {
public:
    explicit TScopedLocale(const char* name) : Saved(std::setlocale(LC_ALL, nullptr)) {
        if (std::setlocale(LC_ALL, name)) {
            Good = true;
            return;
        }
        QVERIFY(Folder.isValid());
        const QString locale = QString::fromLatin1(name);
        const QString language = locale.section(QLatin1Char('.'), 0, 0);
        QProcess localedef;
        localedef.start(QStringLiteral("localedef"),
                        {QStringLiteral("-i"), language, QStringLiteral("-f"),
                         QStringLiteral("UTF-8"), Folder.filePath(locale)});
        localedef.waitForFinished(60000);
        LocPath.emplace("LOCPATH", Folder.path().toStdString());
        Good = std::setlocale(LC_ALL, name) != nullptr;
    }
    ~TScopedLocale() { std::setlocale(LC_ALL, Saved.c_str()); }
    TScopedLocale(const TScopedLocale&) = delete;
    TScopedLocale& operator=(const TScopedLocale&) = delete;
    bool Ok() const { return Good; }

private:
    std::string Saved;
    QTemporaryDir Folder;
    std::optional<TScopedEnv> LocPath;
    bool Good = false;
};

// Catches the console's message boxes and beeps while it lives, so that a test reads them instead
// of an operator; afterwards they show nothing. A test object derives from it and clears what
// was caught in its init().
class TCaughtNotices {
public:
    TCaughtNotices() {
        TNotice::MessageBox() = [this](QWidget*, const QString& text) { Messages << text; };
        TNotice::BeepSound() = [this] { ++Beeps; };
    }
    ~TCaughtNotices() {
        TNotice::MessageBox() = [](QWidget*, const QString&) {};
        TNotice::BeepSound() = [] {};
    }
    TCaughtNotices(const TCaughtNotices&) = delete;
    TCaughtNotices& operator=(const TCaughtNotices&) = delete;

protected:
    QStringList Messages;
    int Beeps = 0;
};

} // namespace raduvuz::test
