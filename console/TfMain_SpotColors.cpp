// The spot colour map from the job lists: the popup names the selected job's colour, and the
// operator adds it to the map or edits its recipe.

#include "console/TfMain.h"

#include "common/Language.h"
#include "common/Utils.h"
#include "common/WindowTexts.h"
#include "console/ConsoleForms.h"
#include "console/TJobListView.h"
#include "console/TNotice.h"
#include "console/TfSClrEdit.h"
#include "console/TfSpotClr.h"
#include "control/TModuleControl.h"
#include "platform/System.h"

#include <QAction>
#include <QLineEdit>

#include <cstdio>

namespace raduvuz {

namespace {

TfSpotClr* SpotColorForm(TConsoleForms* forms) {
    return forms ? forms->fSpotClr.get() : nullptr;
}

// While an entry is edited its own key must not count as the name being taken.
constexpr const char* kKeyInEdit = "?????";

} // namespace

void TfMain::LoadColorsCMYKmap() {
    TfSpotClr* spots = SpotColorForm(Forms);
    if (!spots || !FileExists(spots->LoadPath()))
        return;
    SpotMapModified = false;
    std::string error;
    if (!spots->SpotMap.Load(spots->LoadPath(), error))
        std::fprintf(stderr, "raduvuz: the spot colour map is empty: %s\n", error.c_str());
}

void TfMain::SaveColorsCMYKmap() {
    TfSpotClr* spots = SpotColorForm(Forms);
    if (!spots || !SpotMapModified)
        return;
    std::string error;
    // The window is going: the module's log may be closed, so the message goes to the program's
    // error output, which the workflow keeps.
    bool saved = false;
    if (!spots->MakeFolder())
        error = "cannot make the folder of " + spots->MapPath() + " (" + LastErrorText() + ")";
    else
        saved = spots->SpotMap.Save(spots->MapPath(), spots->BackupPath(), error);
    if (!saved)
        std::fprintf(stderr, "raduvuz: the changed spot colour map is not saved: %s\n",
                     error.c_str());
}

TJobListView* TfMain::FocusedList() const {
    // A window keeps its focus widget while one of its popup menus has the keyboard.
    QWidget* focused = focusWidget();
    if (focused == lvCompletedJobs)
        return lvCompletedJobs;
    if (focused == lvProcessJobs)
        return lvProcessJobs;
    return nullptr;
}

void TfMain::pmJobsPopup() {
    AAddSpotColor->setEnabled(false);
    if (!lvProcessJobs->Selected() && !lvCompletedJobs->Selected())
        return;
    TModuleControl* module = ActiveModule();
    if (!module || !DirectoryExists(module->GetJobDir()))
        return;
    TJobListView* list = FocusedList();
    if (!list || list->SelectedRows().size() != 1)
        return;
    const std::string name = UpperCaseText(list->Selected()->SubItems[siColor]);
    const TfSpotClr* spots = SpotColorForm(Forms);
    if (IsProcessColourName(name)) {
        AAddSpotColor->setText(
            QString::fromStdString(FormatText(WindowText(wtEditSpotColorOf), {name})));
        return;
    }
    const bool known = spots && spots->FindColor(name) >= 0;
    AAddSpotColor->setText(QString::fromStdString(
        FormatText(WindowText(known ? wtEditSpotColorOf : wtAddSpotColorOf), {name})));
    AAddSpotColor->setEnabled(true);
}

void TfMain::AAddSpotColorExecute() {
    TConsoleForms* forms = Forms;
    TModuleControl* module = ActiveModule();
    TJobListView* list = FocusedList();
    if ((!lvProcessJobs->Selected() && !lvCompletedJobs->Selected()) || !module ||
        !DirectoryExists(module->GetJobDir()) || !list || list->SelectedRows().size() != 1 ||
        !forms) {
        TNotice::Beep();
        return;
    }
    const std::string name = list->Selected()->SubItems[siColor];
    if (IsProcessColourName(name))
        return;
    TSpotColorMap& map = forms->fSpotClr->SpotMap;
    const int index = map.FindColor(name);

    TfSClrEdit& dialog = *forms->fSClrEdit;
    dialog.eName->setText(QString::fromStdString(name));
    dialog.eName->setEnabled(false);
    const auto show = [](QLineEdit* field, int32_t value) {
        field->setText(QString::number(value));
    };
    const TSpotColorStruc none;
    const TSpotColorStruc& recipe = index < 0 ? none : map.Entries[index].Color;
    show(dialog.eCyan, recipe.Cyan);
    show(dialog.eMagenta, recipe.Magenta);
    show(dialog.eYellow, recipe.Yellow);
    show(dialog.eBlack, recipe.Black);
    if (dialog.exec() != QDialog::Accepted)
        return;

    const std::string typed = dialog.eName->text().toStdString();
    const auto percent = [](const QLineEdit* field) {
        return StrToIntDef(field->text().toStdString(), 0);
    };
    const auto fill = [&](TSpotColorStruc& color) {
        color.Cyan = percent(dialog.eCyan);
        color.Magenta = percent(dialog.eMagenta);
        color.Yellow = percent(dialog.eYellow);
        color.Black = percent(dialog.eBlack);
    };
    const auto taken = [this, &typed] {
        TNotice::Message(this, FormatText(WindowText(wtSpotColorExists), {typed}));
    };
    if (index >= 0) {
        TSpotColorStruc& color = map.Entries[index].Color;
        const std::string key = color.Key;
        color.Key = kKeyInEdit;
        if (map.FindColor(typed) >= 0) {
            color.Key = key;
            taken();
            return;
        }
        color.Key = UpperCaseText(typed);
        color.Prefix.clear();
        color.Suffix.clear();
        color.Name = color.Key;
        fill(color);
    } else {
        if (typed.empty()) {
            TNotice::Message(this, WindowText(wtInvalidColorName));
            return;
        }
        if (map.FindColor(typed) >= 0) {
            taken();
            return;
        }
        TSpotColor entry;
        entry.Color.Key = UpperCaseText(typed);
        entry.Color.Name = typed;
        fill(entry.Color);
        map.Entries.push_back(std::move(entry));
    }
    SpotMapModified = true;
    ShowPreview(list->Selected());
}

} // namespace raduvuz
