#include "console/LiveConsole.h"
#include "support/TempFiles.h"

#include "console/TCheckListBox.h"
#include "console/TJobListView.h"
#include "console/TJobTableModel.h"
#include "console/TNotice.h"
#include "console/TfDevices.h"
#include "console/TfPriority.h"
#include "jobs/SpoolFile.h"
#include "jobs/TDoc.h"
#include "jobs/TSavedDoc.h"
#include "platform/TFileStream.h"
#include "support/ModuleInside.h"

#include <QAction>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QtTest>

namespace raduvuz::test {

namespace {

// A console over a real module with a job folder, terminators and flow entries; passed jobs
// come from spool files the test writes and the module reloads.
struct TConsole : TLiveConsole {
    TAnsweringDialogs Dialogs;

    TConsole() {
        Window.SetDialogs(&Dialogs);
        Module.Init(5, "Queue", Server);
        Inside(Module).ConfigKey = "Q";
        Inside(Module).JobDir = Folder.StdPath(QStringLiteral("store/Q"));
        ForceDirectories(Module.GetJobDir());
        Inside(Module).TermNames = {{"Proofer", 3}, {"Plate", 4}};
        Inside(Module).TermKeys = {{"KP", 3}, {"KL", 4}};
        Inside(Module).FlowEntries = {{"Color=Cyan;Device=3", 21}};
        Inside(Module).LastInTop = false;
    }

    void WriteJob(const std::string& name, const std::string& dds) {
        TFileStream file;
        QVERIFY(file.Open(Module.GetJobDir() + "/" + name, TFileStream::TMode::CreateExclusive));
        QVERIFY(WriteSpoolHeader(file, dds, Module.GetTermKeys(), 45292.5));
        const std::vector<uint8_t> block(256, 9);
        QVERIFY(WriteSpoolBlock(file, block, 1));
    }
    // Passed jobs in file name order, each file named <job>_<job>0.
    void PassedJobs(const std::vector<std::pair<int, std::string>>& jobs) {
        for (const auto& [job, dds] : jobs)
            WriteJob(std::to_string(job) + "_" + std::to_string(job * 10), dds);
        Module.ReloadSavedJobs();
        Window.CompletedJobs().Sort([](const TListRow& a, const TListRow& b) {
            return a.Caption.size() < b.Caption.size() ||
                   (a.Caption.size() == b.Caption.size() && a.Caption < b.Caption);
        });
    }
    TDoc* WaitingJob(int32_t job, int32_t priority) {
        TDoc* w = Inside(Module).Jobs.Add(
            TDoc::Create(Module, true, job * 10, job, "Name=W", TJobState::Waiting));
        w->Name = "W" + std::to_string(job);
        w->SetPriority(priority);
        w->AddToList(-1);
        return w;
    }
    // Selects rows of the passed list, else of the process list, by position.
    void SelectPassed(std::initializer_list<int> rows, bool passed = true) {
        TJobListView* list = passed ? Window.lvCompletedJobs : Window.lvProcessJobs;
        list->clearSelection();
        for (int row : rows)
            list->SelectRow(row);
    }
    // The ids of rows of the passed list (else of the process list), by position.
    QString Ids(std::initializer_list<int> rows, bool passed = true) {
        QStringList ids;
        TJobListModel& list = passed ? Window.CompletedJobs() : Window.ProcessJobs();
        for (int row : rows)
            ids << QString::number(list.At(row)->Id);
        return ids.join(QLatin1Char(' '));
    }
    std::string Passed() {
        std::string text;
        for (int i = 0; i < Window.CompletedJobs().Count(); ++i)
            text += (i ? " " : "") + Window.CompletedJobs().At(i)->Caption;
        return text;
    }
    QStringList LogLines() {
        return Window.LogPane()->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
};

} // namespace

class JobActionsTest : public QObject, protected TCaughtNotices {
    Q_OBJECT

private slots:
    void init() {
        Messages.clear();
        Beeps = 0;
    }

    void deleteKeepsTheMiddleJobThatIsInUse() {
        TConsole console;
        console.PassedJobs({{5, "Name=A"}, {6, "Name=B"}, {7, "Name=C"}});
        auto record = std::make_shared<TSavedDoc>();
        record->DocID = 60;
        record->SaveCount = 1;
        Inside(console.Module).SavedDocs.push_back(record);
        // Without a selection, or without the job folder, it asks nothing and only beeps.
        console.Window.ADelete->setEnabled(true);
        console.Window.ADelete->trigger();
        QCOMPARE(Beeps, 1);
        console.SelectPassed({0, 1, 2});
        QVERIFY(console.Window.ADelete->isEnabled());
        const std::string jobDir = console.Module.GetJobDir();
        Inside(console.Module).JobDir = console.Folder.StdPath(QStringLiteral("nowhere"));
        console.Window.ADelete->trigger();
        QCOMPARE(Beeps, 2);
        QVERIFY(console.Dialogs.Asked.isEmpty());
        QCOMPARE(console.Passed(), std::string("5 6 7"));
        Inside(console.Module).JobDir = jobDir;

        // The question names the jobs by name and id; No keeps everything.
        console.Dialogs.ConfirmAnswer = false;
        console.Window.ADelete->trigger();
        QCOMPARE(console.Passed(), std::string("5 6 7"));
        QCOMPARE(console.Dialogs.Asked,
                 QStringList{QStringLiteral("Delete 3 jobs: A %1; B %2; C %3?")
                                 .arg(console.Ids({0}), console.Ids({1}), console.Ids({2}))});

        console.Dialogs.ConfirmAnswer = true;
        const int linesBefore = console.LogLines().size();
        console.Window.ADelete->trigger();
        QCOMPARE(console.Passed(), std::string("6"));
        const QStringList lines = console.LogLines().mid(linesBefore);
        // The refusal, and one line for what was done naming the console's user.
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[1].startsWith(QStringLiteral("Queue: Jobs deleted by %1 (console): ")
                                         .arg(QString::fromStdString(ProcessUserName()))),
                 qPrintable(lines[1]));
        // The row kept is still selected, and the actions follow it.
        QCOMPARE(console.Window.lvCompletedJobs->SelectedRows().size(), size_t{1});
        for (QAction* action :
             {console.Window.ADelete, console.Window.AReprocess, console.Window.ASendToDevice,
              console.Window.AChangeName, console.Window.ASaveAs})
            QVERIFY2(action->isEnabled(), qPrintable(action->objectName()));
    }

    void priorityDialogShowsTheJobsPriorityAndCancelChangesNothing() {
        TConsole console;
        TDoc* first = console.WaitingJob(1, 4);
        TDoc* second = console.WaitingJob(2, 6);
        console.SelectPassed({0, 1}, false);
        QVERIFY(console.Window.APriority->isEnabled());
        QString shown;
        console.Dialogs.OnExec = [&](QDialog& dialog) {
            auto& form = dynamic_cast<TfPriority&>(dialog);
            shown = form.mePriority->text();
            form.mePriority->setText(QStringLiteral("9"));
            return false;
        };
        console.Window.APriority->trigger();
        QCOMPARE(console.Dialogs.Asked, QStringList{QStringLiteral("Change priority")});
        QCOMPARE(shown, QStringLiteral("4"));
        QCOMPARE(first->Priority(), 4);
        QCOMPARE(second->Priority(), 6);

        console.Dialogs.OnExec = [](QDialog& dialog) {
            dynamic_cast<TfPriority&>(dialog).mePriority->setText(QStringLiteral(" 9 "));
            return true;
        };
        console.Window.APriority->trigger();
        QCOMPARE(first->Priority(), 9);
        QCOMPARE(second->Priority(), 9);

        // The range is 0 to 10: the field takes no more, and OK keeps the dialog open on 15.
        TfPriority& form = console.Window.PriorityForm();
        form.mePriority->clear();
        QTest::keyClicks(form.mePriority, QStringLiteral("15"));
        QVERIFY(form.mePriority->text() != QStringLiteral("15"));
        form.mePriority->setText(QStringLiteral("15"));
        form.open();
        form.accept();
        QVERIFY(form.isVisible());
        QCOMPARE(form.result(), 0);
        QCOMPARE(Beeps, 1);
        QVERIFY(!form.Priority());
        form.mePriority->setText(QStringLiteral("10"));
        form.accept();
        QVERIFY(!form.isVisible());
        QCOMPARE(*form.Priority(), 10);
        // A field that comes back out of range changes no job.
        console.Dialogs.OnExec = [](QDialog& dialog) {
            dynamic_cast<TfPriority&>(dialog).mePriority->setText(QStringLiteral("15"));
            return true;
        };
        console.Window.APriority->trigger();
        QCOMPARE(first->Priority(), 9);
    }

    void holdReleaseAndAbortWorkOnTheSelectedJobsInProcess() {
        TConsole console;
        TDoc* first = console.WaitingJob(1, 0);
        TDoc* second = console.WaitingJob(2, 0);
        console.SelectPassed({1}, false);
        QVERIFY(console.Window.AHold->isEnabled());
        console.Window.AHold->trigger();
        QVERIFY(!first->Held());
        QVERIFY(second->Held());
        // Shutting down asks while jobs are in process, and No keeps the module.
        console.Dialogs.ConfirmAnswer = false;
        console.Window.AExit->trigger();
        QVERIFY(console.Module.IsCurrent());
        QCOMPARE(console.Dialogs.Asked,
                 QStringList{QStringLiteral(
                     "Shut down module \"Queue\"? 2 jobs are in process, 1 of them held: held "
                     "jobs stay held, the others are sent after the next start.")});
        // The buttons follow the row still selected: now held, it can be released.
        QVERIFY(!console.Window.AHold->isEnabled());
        QVERIFY(console.Window.AUnHold->isEnabled());
        console.Window.AUnHold->trigger();
        QVERIFY(!second->Held());
        QVERIFY(console.Window.AHold->isEnabled());

        console.SelectPassed({0, 1}, false);
        console.Window.AAbort->trigger();
        QVERIFY(!first->AbortRequested());
        QCOMPARE(console.Dialogs.Asked.last(),
                 QStringLiteral("Abort 2 jobs: W1 %1; W2 %2?")
                     .arg(console.Ids({0}, false), console.Ids({1}, false)));
        console.Dialogs.ConfirmAnswer = true;
        console.Window.AAbort->trigger();
        QVERIFY(first->AbortRequested());
        QVERIFY(second->AbortRequested());
    }

    // The dialog offers the devices of matching flow entries and marks a held one; a job sent
    // to a held device, by a redirect or a reprocess, waits held and the operator is told.
    void redirectOffersOnlyTheDevicesOfMatchingFlowEntries() {
        TConsole console;
        Inside(console.Module).HoldList = {{"KP", 3}};
        console.PassedJobs(
            {{5, "Name=Red;Color=Red"}, {6, "Name=Cyan;Color=Cyan"}, {7, "Name=Blue;Color=Cyan"}});
        QStringList items;
        const auto readItems = [&](QDialog& dialog) {
            auto& form = dynamic_cast<TfDevices&>(dialog);
            items.clear();
            for (int i = 0; i < form.cblDevices->Count(); ++i)
                items << form.cblDevices->ItemText(i) + (form.cblDevices->ItemEnabled(i)
                                                             ? QStringLiteral("+")
                                                             : QStringLiteral("-"));
        };

        // OK with nothing checked sends the job to its own devices, which it has none of, so it
        // stays passed.
        console.SelectPassed({0});
        console.Dialogs.OnExec = [](QDialog&) { return true; };
        console.Window.ASendToDevice->trigger();
        QCOMPARE(console.Dialogs.Asked, QStringList{QStringLiteral("Select destination devices")});
        QCOMPARE(console.Passed(), std::string("5 6 7"));
        QVERIFY(console.Module.JobsInProcess().empty());

        // The cyan job may go to the proofer; cancelling changes nothing, OK sends it there.
        console.SelectPassed({1});
        console.Dialogs.OnExec = [&](QDialog& dialog) {
            readItems(dialog);
            return false;
        };
        console.Window.ASendToDevice->trigger();
        QCOMPARE(items, (QStringList{QStringLiteral("Proofer (held)+"), QStringLiteral("Plate-")}));
        QCOMPARE(console.Passed(), std::string("5 6 7"));
        console.Dialogs.OnExec = [&](QDialog& dialog) {
            dynamic_cast<TfDevices&>(dialog).cblDevices->SetChecked(0, true);
            return true;
        };
        console.Window.ASendToDevice->trigger();
        QCOMPARE(console.Passed(), std::string("5 7"));
        QCOMPARE(console.Module.JobsInProcess().size(), size_t{1});
        QCOMPARE(console.Module.JobsInProcess()[0]->Devices, std::string("3"));
        QVERIFY(console.Module.JobsInProcess()[0]->Held());
        console.SelectPassed({1});
        console.Window.AReprocess->trigger();
        QCOMPARE(console.Module.JobsInProcess().size(), size_t{2});
        QVERIFY(console.Module.JobsInProcess()[1]->Held());
        const QString told = QStringLiteral("Their device is held in this module (Proofer), so "
                                            "these wait held: job %1 %2. Release them to send "
                                            "them.");
        QCOMPARE(Messages,
                 (QStringList{told.arg(QStringLiteral("Cyan"), console.Ids({0}, false)),
                              told.arg(QStringLiteral("Blue"), console.Ids({1}, false))}));
    }

    // The field starts with the name the list shows; the new one reaches the job.
    void renameAsksWithTheNameShown() {
        TConsole console;
        console.PassedJobs({{5, "Name=Old;Color=Cyan"}});
        console.SelectPassed({0});
        console.Dialogs.TextAnswer = QStringLiteral("A;B");
        console.Window.AChangeName->trigger();
        QCOMPARE(console.Dialogs.Asked,
                 QStringList{QStringLiteral("Enter new job name Name: [Old]")});
        QCOMPARE(console.Window.CompletedJobs().At(0)->SubItems[siName], std::string("A B"));
    }

    void saveAsMakesTheMissingNestedFolder() {
        TConsole console;
        console.PassedJobs({{5, "Name=S"}, {6, "Name=T"}});
        console.SelectPassed({0, 1});
        QVERIFY(console.Window.ASaveAs->isEnabled());
        console.Window.ASaveAs->trigger();
        QCOMPARE(console.Dialogs.Asked, QStringList{QStringLiteral("Select directory for save")});

        // The job whose spool file is gone is not copied, and the operator is told why.
        ::unlink((console.Module.GetJobDir() + "/6_60").c_str());
        const QString folder = console.Folder.Path(QStringLiteral("out/a/b"));
        console.Dialogs.FolderAnswer = folder;
        console.Window.ASaveAs->trigger();
        QCOMPARE(ReadTextFile(folder.toStdString() + "/5_50"),
                 ReadTextFile(console.Module.GetJobDir() + "/5_50"));
        QCOMPARE(Messages, QStringList{QStringLiteral("No such file or directory")});
    }

    void setupLibraryMissingThenPresent() {
        TConsole console;
        console.Module.SelfReg(std::string("RAduvuz.ModuleControl.p1/ModuleControl"));
        Inside(console.Module).InParams = "In=1";
        Inside(console.Module).OutParams = "Out=2";
        const std::string library = console.Process.ProgramFolder + "raduvuz.mod";
        console.Window.AOptions->trigger();
        QCOMPARE(console.Server->Count("ChangeSetup("), 0);
        QVERIFY(!FileExists(console.Module.ConfigFilePath()));
        // F5 without the library says so.
        QCOMPARE(Messages, QStringList{QStringLiteral("No setup library: %1 does not exist or "
                                                      "cannot be loaded")
                                           .arg(QString::fromStdString(library))});

        // Installed later, it is found at the next use.
        QVERIFY(QFile::copy(QStringLiteral(RADUVUZ_SETUP_MODULE), QString::fromStdString(library)));
        console.Window.AOptions->trigger();
        QCOMPARE(ReadTextFile(library + ".calls"),
                 std::string("0 RAduvuz.ModuleControl.p1/ModuleControl\n"));
        QCOMPARE(console.Server->Count("ChangeSetup("), 1);
        QCOMPARE(console.Server->Count("ChangeSetup(5,In=1,Out=2)"), 1);
        QVERIFY(FileExists(console.Module.ConfigFilePath()));

        // A setup that changed nothing tells nobody.
        WriteTextFile(library + ".answer", "0");
        console.Window.AOptions->trigger();
        QCOMPARE(console.Server->Count("ChangeSetup("), 1);
    }

    void selectAllAndDroppingPassedRowsOnTheProcessList() {
        TConsole console;
        console.PassedJobs({{5, "Name=X;Color=Cyan;File=RST"}, {6, "Name=Y;Color=Cyan;File=RST"}});
        console.Window.lvCompletedJobsEnter();
        console.Window.AReprocess->setEnabled(false);
        console.Window.ASelectAll->trigger();
        QCOMPARE(console.Window.lvCompletedJobs->SelectedRows().size(), size_t{2});
        QVERIFY(console.Window.AReprocess->isEnabled());
        QVERIFY(console.Window.ACompos->isEnabled());

        // The dragged rows carry their ids; the process list takes them and reprocesses.
        QModelIndexList indexes;
        for (int row = 0; row < 2; ++row)
            indexes << console.Window.lvCompletedJobs->Rows()->index(row, 0);
        std::unique_ptr<QMimeData> data(console.Window.lvCompletedJobs->Rows()->mimeData(indexes));
        QVERIFY(data->hasFormat(TJobTableModel::kRowsMimeType));
        QWidget* target = console.Window.lvProcessJobs->viewport();
        const QPoint at(5, 5);
        QDragEnterEvent enter(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QVERIFY(enter.isAccepted());
        // Dropped, they are reprocessed once the operator agrees.
        console.Dialogs.ConfirmAnswer = false;
        QDropEvent refused(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &refused);
        QCOMPARE(console.Passed(), std::string("5 6"));
        QCOMPARE(console.Dialogs.Asked.last(), QStringLiteral("Reprocess 2 jobs: X %1; Y %2?")
                                                   .arg(console.Ids({0}), console.Ids({1})));
        console.Dialogs.ConfirmAnswer = true;
        QDragEnterEvent again(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &again);
        QDropEvent drop(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
        QCOMPARE(console.Passed(), std::string(""));
        QCOMPARE(console.Module.JobsInProcess().size(), size_t{2});

        // Anything else dragged there is refused.
        QMimeData text;
        text.setText(QStringLiteral("5"));
        QDragEnterEvent other(at, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &other);
        QVERIFY(!other.isAccepted());
    }
};

const TConsoleTests<JobActionsTest> kJobActionsTests;

} // namespace raduvuz::test

#include "JobActionsTest.moc"
