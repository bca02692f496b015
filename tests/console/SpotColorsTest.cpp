#include "console/LiveConsole.h"

#include "console/ConsoleForms.h"
#include "console/TJobListView.h"
#include "console/TNotice.h"
#include "console/TfSClrEdit.h"
#include "console/TfSpotClr.h"
#include "support/ModuleInside.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QtTest>

#include <functional>
#include <optional>

namespace raduvuz::test {

namespace {

constexpr const char* kMap = "%Prefix: Pan\r\n"
                             "%Suffix: C\r\n"
                             "%Space:CMYK\r\n"
                             "%Noneditable\r\n"
                             "0.0\t100.0\t79.0\t11.0\tRed 185\r\n"
                             "10.5\t20\t30\t40\tMy Ink\r\n"
                             "%PREFIX:\r\n"
                             "%SUFFIX:\r\n"
                             "55\t0\tReflex Blue\r\n";

// A main window with its forms over a folder of the test's own that holds the map, whose module
// is current with an existing job folder: what the spot colour rules ask for. The forms save
// the map as they close.
struct TConsole : TLiveConsole {
    explicit TConsole(const QByteArray& map) {
        Folder.WriteFile(QStringLiteral("ColorsCMYK.map"), map);
        Inside(Module).Current = true;
        Inside(Module).JobDir = Folder.StdPath(QString());
        Forms.emplace(&Window, Folder.StdPath(QString()));
    }

    // Selects the rows given in the passed list, which has the focus, and opens the popup.
    QString Popup(std::initializer_list<int> rows) {
        Window.lvCompletedJobs->clearSelection();
        for (int row : rows)
            Window.lvCompletedJobs->SelectRow(row);
        Window.lvCompletedJobs->setFocus();
        Window.pmJobsPopup();
        return Window.AAddSpotColor->text();
    }

    // Runs the spot colour action on the rows; answer fills the editor in and closes it.
    void Edit(std::initializer_list<int> rows, const std::function<void(TfSClrEdit&)>& answer) {
        Popup(rows);
        TfSClrEdit& editor = *Forms->fSClrEdit;
        QTimer::singleShot(0, &editor, [&editor, answer] { answer(editor); });
        Window.AAddSpotColor->trigger();
    }

    std::optional<TConsoleForms> Forms;
};

} // namespace

class SpotColorsTest : public QObject, protected TCaughtNotices {
    Q_OBJECT

private slots:
    void init() {
        Messages.clear();
        Beeps = 0;
    }

    void popupCaptionsFollowTheSelectedColour() {
        TConsole console(kMap);
        for (const auto& [job, colour] :
             {std::pair{"1", "Composite"}, {"2", "reflex blue"}, {"3", "New Ink"}})
            console.Window.CompletedJobs().Add(JobRow(job, "1", "RST", colour));

        QCOMPARE(console.Popup({0}), QStringLiteral("Edit &spot color \"COMPOSITE\""));
        QVERIFY(!console.Window.AAddSpotColor->isEnabled());
        QCOMPARE(console.Popup({1}), QStringLiteral("Edit &spot color \"REFLEX BLUE\""));
        QVERIFY(console.Window.AAddSpotColor->isEnabled());
        QCOMPARE(console.Popup({2}), QStringLiteral("Add &spot color \"NEW INK\""));
        QVERIFY(console.Window.AAddSpotColor->isEnabled());

        // Two rows, or no job folder: the item keeps its caption and is off.
        console.Popup({1, 2});
        QVERIFY(!console.Window.AAddSpotColor->isEnabled());
        Inside(console.Module).JobDir = console.Folder.StdPath(QStringLiteral("gone"));
        QCOMPARE(console.Popup({2}), QStringLiteral("Add &spot color \"NEW INK\""));
        QVERIFY(!console.Window.AAddSpotColor->isEnabled());
        // The action refuses the same way, with a beep.
        console.Window.AAddSpotColor->setEnabled(true);
        console.Window.AAddSpotColor->trigger();
        QCOMPARE(Beeps, 1);

        // The popup itself runs the handler as it opens.
        Inside(console.Module).JobDir = console.Folder.StdPath(QString());
        console.Window.lvCompletedJobs->clearSelection();
        console.Window.lvCompletedJobs->SelectRow(0);
        console.Window.pmJobs->popup(QPoint(10, 10));
        QCOMPARE(console.Window.AAddSpotColor->text(),
                 QStringLiteral("Edit &spot color \"COMPOSITE\""));
        console.Window.pmJobs->close();
    }

    void addingAndEditingSaveTheMapWithItsBackup() {
        TConsole console(kMap);
        console.Window.CompletedJobs().Add(JobRow("1", "1", "RST", "New Ink"));
        console.Window.CompletedJobs().Add(JobRow("2", "1", "RST", "Pan My Ink C"));
        console.Edit({0}, [](TfSClrEdit& editor) {
            QCOMPARE(editor.eName->text(), QStringLiteral("New Ink"));
            QVERIFY(!editor.eName->isEnabled());
            QCOMPARE(editor.eCyan->text(), QStringLiteral("0"));
            editor.eCyan->setText(QStringLiteral("5"));
            editor.eBlack->setText(QStringLiteral("95"));
            QTest::mouseClick(editor.bOk, Qt::LeftButton);
        });
        QVERIFY(console.Window.SpotMapModified);

        // Editing keeps the recipe's name, now as its key; prefix and suffix go.
        console.Edit({1}, [](TfSClrEdit& editor) {
            QCOMPARE(editor.eCyan->text(), QStringLiteral("10"));
            QCOMPARE(editor.eBlack->text(), QStringLiteral("40"));
            editor.eMagenta->setText(QStringLiteral("25"));
            QTest::mouseClick(editor.bOk, Qt::LeftButton);
        });

        // Cancel changes nothing.
        console.Edit({1}, [](TfSClrEdit& editor) {
            editor.eCyan->setText(QStringLiteral("77"));
            QTest::mouseClick(editor.bCancel, Qt::LeftButton);
        });
        QVERIFY(Messages.isEmpty());
        console.Forms.reset();
        QCOMPARE(ReadTextFile(console.Folder.StdPath(QStringLiteral("ColorsCMYK.bak"))), kMap);
        QCOMPARE(ReadTextFile(console.Folder.StdPath(QStringLiteral("ColorsCMYK.map"))),
                 std::string("%PREFIX:PAN\r\n%SUFFIX:C\r\n%Space:CMYK\r\n%Noneditable\r\n"
                             "0.0\t100.0\t79.0\t11.0\tRED 185\r\n"
                             "%PREFIX:\r\n%SUFFIX:\r\n%Space:CMYK\r\n%Noneditable\r\n"
                             "10.0\t25.0\t30.0\t40.0\tPAN MY INK C\r\n"
                             "55.0\t0.0\t0.0\t0.0\tREFLEX BLUE\r\n"
                             "5.0\t0.0\t0.0\t95.0\tNew Ink\r\n"));
    }

    void aColourTakenTwiceIsRefused() {
        TConsole console("1\tTwin\r\n2\tTwin\r\n");
        console.Window.CompletedJobs().Add(JobRow("1", "1", "RST", "Twin"));
        console.Edit({0},
                     [](TfSClrEdit& editor) { QTest::mouseClick(editor.bOk, Qt::LeftButton); });
        QCOMPARE(Messages, QStringList({QStringLiteral("Spot color Twin already exists")}));
        QCOMPARE(console.Forms->fSpotClr->SpotMap.Entries[0].Color.Key, std::string("TWIN"));
        QVERIFY(!console.Window.SpotMapModified);
        console.Forms.reset();
        // Nothing changed: the file stays and no backup is made.
        QVERIFY(!QFile::exists(console.Folder.Path(QStringLiteral("ColorsCMYK.bak"))));
    }

    void editorChecksPercentagesAndNames() {
        TfSClrEdit editor;
        editor.eName->setText(QStringLiteral("My Ink"));
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        QVERIFY(editor.bOk->isEnabled());
        editor.eName->setText(QStringLiteral(" black "));
        QVERIFY(!editor.bOk->isEnabled());

        QTest::keyClicks(editor.eCyan, QStringLiteral("100"));
        QCOMPARE(Beeps, 0);
        editor.eCyan->clear();
        QTest::keyClicks(editor.eCyan, QStringLiteral("101"));
        QCOMPARE(Beeps, 1);
        QCOMPARE(editor.eCyan->text(), QString());
        QTest::keyClicks(editor.eMagenta, QStringLiteral("-"));
        QCOMPARE(Beeps, 2);
        QCOMPARE(editor.eMagenta->text(), QString());
        editor.eMagenta->setText(QStringLiteral("50"));
        editor.eBlack->setText(QStringLiteral("40"));
        QCOMPARE(editor.SwatchColour(), QColor(153, 25, 153));
    }
};

const TConsoleTests<SpotColorsTest> kSpotColorsTests;

} // namespace raduvuz::test

#include "SpotColorsTest.moc"
