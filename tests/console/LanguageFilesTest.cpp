#include "console/ConsoleTestSupport.h"

#include "common/Language.h"
#include "common/WindowTexts.h"
#include "console/TJobListView.h"
#include "console/TJobTableModel.h"
#include "console/TRadioGroup.h"
#include "console/TfAbout.h"
#include "console/TfMain.h"
#include "console/TfSearch.h"
#include "platform/System.h"

#include <QAction>
#include <QComboBox>
#include <QDirIterator>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QToolBar>
#include <QtTest>

#include <map>

namespace raduvuz::test {

namespace {

// The numbered texts the program's code asks for with a literal number, and their English text
// (the first text after the number and the arguments in braces).
std::map<int, QString> NumberedTextsInTheCode() {
    std::map<int, QString> texts;
    const QRegularExpression call(
        QStringLiteral("Language(?:Text|Format)\\(\\s*(\\d+)\\s*,\\s*(?:\\{[^}]*\\}\\s*,\\s*)?"
                       "\"((?:[^\"\\\\]|\\\\.)*)\""));
    for (const char* layer :
         {"platform", "common", "services", "jobs", "control", "dbus", "console", "app"}) {
        QDirIterator files(QStringLiteral(RADUVUZ_SOURCE_DIR "/") + QLatin1String(layer),
                           {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                           QDirIterator::Subdirectories);
        while (files.hasNext()) {
            QFile file(files.next());
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QString code = QString::fromUtf8(file.readAll());
            for (const QRegularExpressionMatch& match : call.globalMatch(code))
                texts[match.captured(1).toInt()] = match.captured(2);
        }
    }
    return texts;
}

// The conversions of a format, in order: what a translation must keep.
QStringList Conversions(const QString& format) {
    QStringList found;
    static const QRegularExpression conversion(
        QStringLiteral("%[-+ #0]*(?:\\d+|\\*)?(?:\\.(?:\\d+|\\*))?([sdiuxXfeg%])"));
    for (const QRegularExpressionMatch& match : conversion.globalMatch(format))
        found << match.captured(1);
    return found;
}

// The table of the program folder, as a registry that names it makes the program load it.
struct TGerman {
    TGerman() {
        Folder.WriteFile(QStringLiteral("registry.ini"),
                         "[SOFTWARE\\Tarnwick\\Korvo PDF Server\\5.0]\nLanguage=deu\n");
    }
    TTestFolder Folder;
    TLanguageTable Table{ProgramFolder()};
};

} // namespace

class LanguageFilesTest : public QObject {
    Q_OBJECT

private slots:
    void germanCoversEveryNumberTheProgramUses() {
        TGerman german;
        german.Table.Text(0, "");
        QCOMPARE(german.Table.State(), TLanguageState::Loaded);

        std::map<int, QString> numbers = NumberedTextsInTheCode();
        // The scan sees the program's messages; a scan that finds none proves nothing.
        QVERIFY(numbers.count(1744) == 1 && numbers.count(1723) == 1 && numbers.size() >= 25);
        for (const auto& [number, text] : numbers)
            QVERIFY2(number < 2100 || number > 2399,
                     qPrintable(QStringLiteral("%1 is in the window text block").arg(number)));
        for (const TWindowTextEntry& entry : WindowTexts()) {
            QVERIFY(entry.Number >= 2100 && entry.Number <= 2399);
            numbers[entry.Number] = QString::fromUtf8(entry.Text);
        }

        const std::string missing = "\x01";
        for (const auto& [number, english] : numbers) {
            const std::string text = german.Table.Text(number, missing);
            QVERIFY2(text != missing, qPrintable(QStringLiteral("no German text %1").arg(number)));
            QVERIFY2(Conversions(QString::fromStdString(text)) == Conversions(english),
                     qPrintable(QStringLiteral("%1: %2").arg(number).arg(english)));
        }
    }

    // Without a Language value of the registry the texts follow the session's language: the
    // windows' and the log lines' alike, as both come from one table.
    void germanFollowsTheSessionsLanguageWithoutARegistryValue() {
        TTestFolder folder;
        TScopedEnv all("LC_ALL", std::nullopt);
        TScopedEnv messages("LC_MESSAGES", std::nullopt);
        TScopedEnv lang("LANG", "de_DE.UTF-8");
        QCOMPARE(LanguageOfLocale(), std::string("deu"));
        TLanguageTable table{ProgramFolder()};
        QCOMPARE(table.Text(wtMainCaption, "Queuer module"), std::string("Warteschlangenmodul"));
        QCOMPARE(table.Format(1731, {"6", "60"}, "Job %s (%s) can not be delete"),
                 std::string("Auftrag 6 (60) kann nicht gelöscht werden"));
        {
            // LC_ALL and LC_MESSAGES come before LANG; "C" names no language.
            TScopedEnv c("LC_MESSAGES", "C");
            QCOMPARE(LanguageOfLocale(), std::string());
            TScopedEnv austrian("LC_ALL", "de_AT.UTF-8");
            QCOMPARE(LanguageOfLocale(), std::string("deu"));
        }
        // A value of the registry chooses whatever the session says; one without a table gives
        // English.
        folder.WriteFile(QStringLiteral("registry.ini"),
                         "[SOFTWARE\\Tarnwick\\Korvo PDF Server\\5.0]\nLanguage=enu\n");
        TLanguageTable chosen{ProgramFolder()};
        QCOMPARE(chosen.Text(wtMainCaption, "Queuer module"), std::string("Queuer module"));
        QCOMPARE(chosen.State(), TLanguageState::None);
    }

    void germanWindows() {
        TGerman german;
        TBareWindow window;
        window.TranslateForm(german.Table);
        QCOMPARE(window.windowTitle(), QStringLiteral("Warteschlangenmodul"));
        QMenu* jobs = window.findChild<QMenu*>(QStringLiteral("miJobs"));
        QVERIFY(jobs);
        QCOMPARE(jobs->title(), QStringLiteral("A&ufträge"));
        QCOMPARE(window.ASearch->text(), QStringLiteral("&Suchen"));
        QCOMPARE(window.AHold->toolTip(), QStringLiteral("Ausgewählte Aufträge zurückhalten"));
        QCOMPARE(window.TB_Main->windowTitle(), QStringLiteral("Symbolleiste der Warteschlange"));
        QCOMPARE(window.Log->toolTip(), QStringLiteral("Protokollfenster des aktuellen Servers"));
        QCOMPARE(window.lvCompletedJobs->model()->headerData(2, Qt::Horizontal).toString(),
                 QStringLiteral("Erledigter Auftrag "));
        QCOMPARE(window.lvProcessJobs->model()->headerData(8, Qt::Horizontal).toString(),
                 QStringLiteral("Größe"));

        TfSearch search;
        search.TranslateForm(german.Table);
        QCOMPARE(search.windowTitle(), QStringLiteral("Suchen"));
        QCOMPARE(search.lJobID->text(), QStringLiteral("Auftrags-ID:"));
        QCOMPARE(search.bCancel->text(), QStringLiteral("Abbrechen"));
        // The lists take their translated items and keep the item chosen.
        QCOMPARE(search.rgJobStatus->title(), QStringLiteral(" Auftragsstatus  "));
        QCOMPARE(search.rgJobStatus->Items(),
                 QStringList({QStringLiteral("Aufträge in Bearbeitung"),
                              QStringLiteral("Erledigte Aufträge")}));
        QCOMPARE(search.rgJobStatus->ItemIndex(), 1);
        QCOMPARE(search.cbName->currentText(), QStringLiteral("enthält"));
        QCOMPARE(search.cbDest->currentIndex(), 1);

        TfAbout about;
        about.TranslateForm(german.Table);
        QCOMPARE(about.Label2->text(), QStringLiteral("Modulbeschreibung:"));
    }
};

const TConsoleTests<LanguageFilesTest> kLanguageFilesTests;

} // namespace raduvuz::test

#include "LanguageFilesTest.moc"
