// What the job actions of the toolbar, the "&Jobs" menu and the list popup do: each checks its
// preconditions (a beep when one fails), asks the operator what a dialog would, hands the
// selected rows to the module's job commands and then disables the actions the rules name. The
// work on the jobs, its rules and its log lines are the module's.

#include "console/TfMain.h"

#include "common/Language.h"
#include "common/Utils.h"
#include "console/ConsoleForms.h"
#include "console/TCheckListBox.h"
#include "console/TJobListView.h"
#include "console/TNotice.h"
#include "console/TfDevices.h"
#include "console/TfPriority.h"
#include "control/TModuleControl.h"
#include "platform/System.h"

#include <QAction>
#include <QLineEdit>

#include <exception>

namespace raduvuz {

namespace {

QString LanguageQText(int number, const char* text) {
    return QString::fromStdString(LanguageText(number, text));
}

// Rows a command takes away change the selection; that must not enable again what the command
// disables afterwards.
class TQuietSelection {
public:
    explicit TQuietSelection(bool& suppressed) : Suppressed(suppressed), Was(suppressed) {
        Suppressed = true;
    }
    ~TQuietSelection() { Suppressed = Was; }
    TQuietSelection(const TQuietSelection&) = delete;
    TQuietSelection& operator=(const TQuietSelection&) = delete;

private:
    bool& Suppressed;
    bool Was;
};

} // namespace

void TfMain::ConnectJobActions() {
    connect(ADelete, &QAction::triggered, this, &TfMain::ADeleteExecute);
    connect(AAbort, &QAction::triggered, this, &TfMain::AAbortExecute);
    connect(AHold, &QAction::triggered, this, [this] { AHoldExecute(true); });
    connect(AUnHold, &QAction::triggered, this, [this] { AHoldExecute(false); });
    connect(APriority, &QAction::triggered, this, &TfMain::APriorityExecute);
    connect(AReprocess, &QAction::triggered, this, &TfMain::AReprocessExecute);
    connect(ASendToDevice, &QAction::triggered, this, &TfMain::ASendToDeviceExecute);
    connect(AChangeName, &QAction::triggered, this, &TfMain::AChangeNameExecute);
    connect(ASaveAs, &QAction::triggered, this, &TfMain::ASaveAsExecute);
    connect(ASelectAll, &QAction::triggered, this, &TfMain::ASelectAllExecute);
    connect(AOptions, &QAction::triggered, this, &TfMain::AOptionsExecute);
    // Passed rows dragged onto the jobs in process are reprocessed.
    lvCompletedJobs->SetDragSource(true);
    lvProcessJobs->AcceptListDrops([this] { AReprocessExecute(); });
}

TfPriority& TfMain::PriorityForm() {
    if (TConsoleForms* forms = Forms)
        return *forms->fPriority;
    if (!OwnPriority)
        OwnPriority = std::make_unique<TfPriority>(this);
    return *OwnPriority;
}

TfDevices& TfMain::DevicesForm() {
    if (TConsoleForms* forms = Forms)
        return *forms->fDevices;
    if (!OwnDevices)
        OwnDevices = std::make_unique<TfDevices>(this);
    return *OwnDevices;
}

TJobIds TfMain::SelectedIds(const TJobListView* list) {
    TJobIds ids;
    for (const TListRow* row : list->SelectedRows())
        ids.push_back(row->Id);
    return ids;
}

TModuleControl* TfMain::PassedJobsModule() {
    TModuleControl* module = ActiveModule();
    if (!module || !lvCompletedJobs->Selected() || !DirectoryExists(module->JobDir)) {
        Beep();
        return nullptr;
    }
    return module;
}

TModuleControl* TfMain::ProcessJobsModule() {
    TModuleControl* module = ActiveModule();
    if (!module || !lvProcessJobs->Selected()) {
        Beep();
        return nullptr;
    }
    return module;
}

void TfMain::ADeleteExecute() {
    TModuleControl* module = PassedJobsModule();
    if (!module ||
        !Dialogs->Confirm(this,
                          LanguageQText(1720, "Do you really want to delete the selected jobs?")))
        return;
    TQuietSelection quiet(SelectionEventsSuppressed);
    ApplyRule(PassedJobsChangedRule());
    TJobActions(*module, TJobOrigin::Console()).Delete(SelectedIds(lvCompletedJobs));
    ApplyRule(PassedJobsChangedRule());
    ClearPreview();
}

void TfMain::AAbortExecute() {
    TModuleControl* module = ProcessJobsModule();
    if (!module ||
        !Dialogs->Confirm(this,
                          LanguageQText(1720, "Do you really want to delete the selected jobs?")))
        return;
    TJobActions(*module, TJobOrigin::Console()).Abort(SelectedIds(lvProcessJobs));
    ApplyRule(ProcessJobsChangedRule());
}

void TfMain::AHoldExecute(bool hold) {
    TModuleControl* module = ProcessJobsModule();
    if (!module)
        return;
    TJobActions actions(*module, TJobOrigin::Console());
    if (hold)
        actions.Hold(SelectedIds(lvProcessJobs));
    else
        actions.Release(SelectedIds(lvProcessJobs));
    ApplyRule(ProcessJobsChangedRule());
}

void TfMain::APriorityExecute() {
    TModuleControl* module = ProcessJobsModule();
    if (!module)
        return;
    TJobActions actions(*module, TJobOrigin::Console());
    TfPriority& form = PriorityForm();
    form.mePriority->setText(QString::number(actions.PriorityOf(lvProcessJobs->Selected()->Id)));
    if (!Dialogs->Exec(form))
        return;
    // The field takes any text; what is not a number is priority 0.
    const int32_t priority = StrToIntDef(form.mePriority->text().trimmed().toStdString(), 0);
    actions.SetPriority(SelectedIds(lvProcessJobs), priority);
}

void TfMain::AReprocessExecute() {
    TModuleControl* module = PassedJobsModule();
    if (!module)
        return;
    TQuietSelection quiet(SelectionEventsSuppressed);
    TJobActions(*module, TJobOrigin::Console()).Reprocess(SelectedIds(lvCompletedJobs));
    ApplyRule(PassedJobsChangedRule());
}

void TfMain::ASendToDeviceExecute() {
    TModuleControl* module = PassedJobsModule();
    if (!module)
        return;
    TJobActions actions(*module, TJobOrigin::Console());
    const TJobIds ids = SelectedIds(lvCompletedJobs);
    TfDevices& form = DevicesForm();
    form.cblDevices->Clear();
    for (const TDeviceChoice& choice : actions.RedirectChoices(ids)) {
        const int item =
            form.cblDevices->AddItem(QString::fromStdString(choice.Name), choice.Terminator);
        form.cblDevices->SetItemEnabled(item, choice.Enabled);
    }
    if (!Dialogs->Exec(form))
        return;
    std::vector<int32_t> devices;
    for (int i = 0; i < form.cblDevices->Count(); ++i) {
        if (form.cblDevices->Checked(i))
            devices.push_back(form.cblDevices->ItemObject(i));
    }
    TQuietSelection quiet(SelectionEventsSuppressed);
    // Nothing checked sends the jobs again to their own devices.
    if (devices.empty())
        actions.Reprocess(ids);
    else
        actions.Redirect(ids, devices);
    ApplyRule(PassedJobsChangedRule());
}

void TfMain::AChangeNameExecute() {
    TModuleControl* module = ActiveModule();
    if (!module || !DirectoryExists(module->JobDir)) {
        Beep();
        return;
    }
    const TJobListView* list = ProcessListActive     ? lvProcessJobs
                               : CompletedListActive ? lvCompletedJobs
                                                     : nullptr;
    if (!list)
        return;
    const std::optional<QString> name = Dialogs->AskText(
        this, LanguageQText(1722, "Enter new job name"), LanguageQText(1227, "Name:"));
    if (!name || name->isEmpty())
        return;
    TJobActions(*module, TJobOrigin::Console()).Rename(SelectedIds(list), name->toStdString());
}

void TfMain::ASaveAsExecute() {
    TModuleControl* module = PassedJobsModule();
    if (!module)
        return;
    const std::optional<QString> folder =
        Dialogs->AskFolder(this, LanguageQText(1721, "Select directory for save"));
    if (!folder)
        return;
    try {
        const TCopyResult copied = TJobActions(*module, TJobOrigin::Console())
                                       .Copy(SelectedIds(lvCompletedJobs), folder->toStdString());
        for (const std::string& error : copied.Errors)
            TNotice::Message(this, error);
    } catch (const std::exception& e) {
        TNotice::Message(this, e.what());
    }
}

void TfMain::ASelectAllExecute() {
    SelectionEventsSuppressed = true;
    bool allRaster = true;
    int processRows = 0;
    int completedRows = 0;
    if (ProcessListActive) {
        lvProcessJobs->SelectAllRows();
        processRows = Rows.Process().Count();
        for (int i = 0; i < processRows; ++i)
            allRaster = allRaster && IsRasterRow(Rows.Process().At(i));
    }
    if (CompletedListActive) {
        lvCompletedJobs->SelectAllRows();
        completedRows = Rows.Passed().Count();
        for (int i = 0; i < completedRows; ++i)
            allRaster = allRaster && IsRasterRow(Rows.Passed().At(i));
    }
    ApplyRule(SelectAllRule(ProcessListActive, processRows, CompletedListActive, completedRows,
                            allRaster));
    SelectionEventsSuppressed = false;
}

void TfMain::AOptionsExecute() {
    if (TModuleControl* module = ActiveModule())
        TJobActions(*module, TJobOrigin::Console()).Setup();
}

} // namespace raduvuz
