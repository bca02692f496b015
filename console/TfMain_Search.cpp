// Job search: Ctrl+F asks the criteria and searches from the first row shown, F3 goes on after
// the last row found; the row found is selected (alone), gets the focus and is scrolled to, so
// the next action works on it.

#include "console/TfMain.h"

#include "common/Language.h"
#include "common/WindowTexts.h"
#include "console/ConsoleForms.h"
#include "console/TJobListView.h"
#include "console/TJobTableModel.h"
#include "console/TNotice.h"
#include "console/TfSearch.h"
#include "control/JobSearch.h"

namespace raduvuz {

namespace {

TfSearch* SearchForm(TConsoleForms* forms) {
    return forms ? forms->fSearch.get() : nullptr;
}

} // namespace

void TfMain::ASearchExecute() {
    TfSearch* dialog = SearchForm(Forms);
    if (!dialog)
        return;
    dialog->OnNewSearch = [this] { SearchPosition = -1; };
    if (dialog->exec() == QDialog::Rejected)
        return;
    // The row found takes the input focus, which needs the window active again after the
    // dialog, whether or not the window manager sees to it.
    if (isVisible())
        activateWindow();
    SearchPosition = -1;
    JobSearch();
}

void TfMain::ASearchAgainExecute() {
    if (SearchPosition == -1)
        ASearchExecute();
    else
        JobSearch();
}

void TfMain::JobSearch() {
    TfSearch* dialog = SearchForm(Forms);
    if (!dialog)
        return;
    TJobSearchCriteria criteria;
    std::string error;
    if (!dialog->ReadCriteria(criteria, error)) {
        TNotice::Message(this, error);
        return;
    }
    TJobListView* list = criteria.PassedJobs ? lvCompletedJobs : lvProcessJobs;
    const TSearchResult result = SearchNext(list->ShownRows(), SearchPosition, criteria);
    switch (result.Outcome) {
    case TSearchOutcome::Found:
        SearchPosition = result.Position;
        list->setFocus();
        list->SelectOnly(result.Position);
        break;
    case TSearchOutcome::BadDate:
        // The search ends at the row whose date cannot be read; F3 goes on after it.
        SearchPosition = result.Position;
        TNotice::Message(this, FormatText(WindowText(wtNotADate), {result.BadText}));
        break;
    case TSearchOutcome::NotFound:
        SearchPosition = -1;
        TNotice::Message(this, LanguageText(1734, "Job not found"));
        break;
    }
}

} // namespace raduvuz
