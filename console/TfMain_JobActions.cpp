// What the job actions of the toolbar, the "&Jobs" menu and the list popup do: each checks its
// preconditions (a beep when one fails), asks the operator what a dialog would (naming the jobs
// it acts on), hands the selected rows to the module's job commands, and then lets the actions
// follow the rows still selected. The work on the jobs, its rules and its log lines are the
// module's. Each runs outside a tick, so that no question of its holds the module.

#include "console/TfMain.h"

#include "common/Language.h"
#include "common/Utils.h"
#include "common/WindowTexts.h"
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

#include <algorithm>
#include <exception>
#include <set>

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
    OnTriggered(ADelete, [this] { ADeleteExecute(); });
    OnTriggered(AAbort, [this] { AAbortExecute(); });
    OnTriggered(AHold, [this] { AHoldExecute(true); });
    OnTriggered(AUnHold, [this] { AHoldExecute(false); });
    OnTriggered(APriority, [this] { APriorityExecute(); });
    OnTriggered(AReprocess, [this] { AReprocessExecute(); });
    OnTriggered(ASendToDevice, [this] { ASendToDeviceExecute(); });
    OnTriggered(AChangeName, [this] { AChangeNameExecute(); });
    OnTriggered(ASaveAs, [this] { ASaveAsExecute(); });
    connect(ASelectAll, &QAction::triggered, this, &TfMain::ASelectAllExecute);
    OnTriggered(AOptions, [this] { AOptionsExecute(); });
    // Passed rows dragged onto the jobs in process are reprocessed, once the operator agrees.
    lvCompletedJobs->SetDragSource(true);
    lvProcessJobs->AcceptListDrops([this] { OutsideTick([this] { ReprocessDropped(); }); });
}

void TfMain::RulesAfterCommand(TJobListView* list) {
    if (list == lvProcessJobs)
        lvProcessJobsEnter();
    else
        lvCompletedJobsEnter();
}

std::set<uint32_t> TfMain::ProcessIds() const {
    std::set<uint32_t> ids;
    for (int i = 0; i < Rows.Process().Count(); ++i)
        ids.insert(Rows.Process().At(i)->Id);
    return ids;
}

void TfMain::ReportHeldArrivals(const std::set<uint32_t>& before) {
    TModuleControl* module = ActiveModule();
    if (!module)
        return;
    std::set<uint32_t> held;
    for (const TJobRowView& view : TJobActions(*module).List()) {
        if (view.List == "process" && view.State == "held" && before.count(view.Id) == 0)
            held.insert(view.Id);
    }
    if (held.empty())
        return;
    std::vector<TListRow*> rows;
    std::set<std::string> devices;
    for (uint32_t id : held) {
        if (TListRow* row = ProcessJobs().FindId(id)) {
            rows.push_back(row);
            devices.insert(row->SubItems[siDestination]);
        }
    }
    std::string deviceText;
    for (const std::string& device : devices)
        deviceText += (deviceText.empty() ? "" : ", ") + device;
    TNotice::Message(
        this, FormatText(WindowText(wtWaitHeld), {deviceText, JobsNamed(rows).toStdString()}));
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
    if (!module || !lvCompletedJobs->Selected() || !DirectoryExists(module->GetJobDir())) {
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
    if (!module)
        return;
    const QString what = JobsNamed(lvCompletedJobs->SelectedRows());
    if (!Dialogs->Confirm(this, QString::fromStdString(
                                    FormatText(WindowText(wtConfirmDelete), {what.toStdString()}))))
        return;
    {
        TQuietSelection quiet(SelectionEventsSuppressed);
        ApplyRule(PassedJobsChangedRule());
        TJobActions(*module, TJobOrigin::Console()).Delete(SelectedIds(lvCompletedJobs));
    }
    RulesAfterCommand(lvCompletedJobs);
    ShowPreview(lvCompletedJobs->Selected());
}

void TfMain::AAbortExecute() {
    TModuleControl* module = ProcessJobsModule();
    if (!module)
        return;
    const QString what = JobsNamed(lvProcessJobs->SelectedRows());
    if (!Dialogs->Confirm(this, QString::fromStdString(
                                    FormatText(WindowText(wtConfirmAbort), {what.toStdString()}))))
        return;
    TJobActions(*module, TJobOrigin::Console()).Abort(SelectedIds(lvProcessJobs));
    RulesAfterCommand(lvProcessJobs);
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
    RulesAfterCommand(lvProcessJobs);
}

void TfMain::APriorityExecute() {
    TModuleControl* module = ProcessJobsModule();
    if (!module)
        return;
    TJobActions actions(*module, TJobOrigin::Console());
    TfPriority& form = PriorityForm();
    form.mePriority->setText(QString::number(actions.PriorityOf(lvProcessJobs->Selected()->Id)));
    // The dialog closes with OK only on a priority of its range.
    if (!Dialogs->Exec(form))
        return;
    const std::optional<int32_t> priority = form.Priority();
    if (!priority)
        return;
    actions.SetPriority(SelectedIds(lvProcessJobs), *priority);
    RulesAfterCommand(lvProcessJobs);
}

void TfMain::AReprocessExecute(bool ask) {
    TModuleControl* module = PassedJobsModule();
    if (!module)
        return;
    if (ask) {
        const QString what = JobsNamed(lvCompletedJobs->SelectedRows());
        if (!Dialogs->Confirm(this, QString::fromStdString(FormatText(
                                        WindowText(wtConfirmReprocess), {what.toStdString()}))))
            return;
    }
    const std::set<uint32_t> before = ProcessIds();
    {
        TQuietSelection quiet(SelectionEventsSuppressed);
        TJobActions(*module, TJobOrigin::Console()).Reprocess(SelectedIds(lvCompletedJobs));
    }
    RulesAfterCommand(lvCompletedJobs);
    ReportHeldArrivals(before);
}

void TfMain::ReprocessDropped() {
    AReprocessExecute(true);
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
        // A job sent to a held device waits held: the dialog says which devices are.
        const bool held = std::any_of(
            module->GetHoldList().begin(), module->GetHoldList().end(),
            [&choice](const TTaggedString& entry) { return entry.Tag == choice.Terminator; });
        const std::string name =
            held ? FormatText(WindowText(wtHeldDevice), {choice.Name}) : choice.Name;
        const int item = form.cblDevices->AddItem(QString::fromStdString(name), choice.Terminator);
        form.cblDevices->SetItemEnabled(item, choice.Enabled);
    }
    if (!Dialogs->Exec(form))
        return;
    std::vector<int32_t> devices;
    for (int i = 0; i < form.cblDevices->Count(); ++i) {
        if (form.cblDevices->Checked(i))
            devices.push_back(form.cblDevices->ItemObject(i));
    }
    const std::set<uint32_t> before = ProcessIds();
    {
        TQuietSelection quiet(SelectionEventsSuppressed);
        // Nothing checked sends the jobs again to their own devices.
        if (devices.empty())
            actions.Reprocess(ids);
        else
            actions.Redirect(ids, devices);
    }
    RulesAfterCommand(lvCompletedJobs);
    ReportHeldArrivals(before);
}

void TfMain::AChangeNameExecute() {
    TModuleControl* module = ActiveModule();
    if (!module || !DirectoryExists(module->GetJobDir())) {
        Beep();
        return;
    }
    TJobListView* list = ProcessListActive     ? lvProcessJobs
                         : CompletedListActive ? lvCompletedJobs
                                               : nullptr;
    if (!list || !list->Selected())
        return;
    // The field starts with the name the list shows, ready to be changed.
    const TListRow* first = list->Selected();
    const QString current = QString::fromStdString(
        first->SubItems.size() > static_cast<size_t>(siName) ? first->SubItems[siName] : "");
    const std::optional<QString> name = Dialogs->AskText(
        this, LanguageQText(1722, "Enter new job name"), LanguageQText(1227, "Name:"), current);
    if (!name || name->isEmpty())
        return;
    TJobActions(*module, TJobOrigin::Console()).Rename(SelectedIds(list), name->toStdString());
    RulesAfterCommand(list);
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
    TModuleControl* module = ActiveModule();
    if (!module)
        return;
    if (TJobActions(*module, TJobOrigin::Console()).Setup() == TSetupResult::NoLibrary)
        TNotice::Message(this, FormatText(WindowText(wtNoSetupLibrary),
                                          {module->ProcessState().SetupLibraryFile()}));
}

} // namespace raduvuz
