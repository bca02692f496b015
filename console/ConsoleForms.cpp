#include "console/ConsoleForms.h"

#include "console/TfAbout.h"
#include "console/TfDevices.h"
#include "console/TfMain.h"
#include "console/TfPriority.h"
#include "console/TfSClrEdit.h"
#include "console/TfSearch.h"
#include "console/TfSpotClr.h"

namespace raduvuz {

TConsoleForms::TConsoleForms(TfMain* mainWindow, const std::string& programFolder)
    : fAbout(std::make_unique<TfAbout>(mainWindow)),
      fPriority(std::make_unique<TfPriority>(mainWindow)),
      fSearch(std::make_unique<TfSearch>(mainWindow)),
      fDevices(std::make_unique<TfDevices>(mainWindow)),
      fSpotClr(std::make_unique<TfSpotClr>(mainWindow, programFolder)),
      fSClrEdit(std::make_unique<TfSClrEdit>(mainWindow)), MainWindow(mainWindow) {
    if (MainWindow) {
        MainWindow->SetForms(this);
        MainWindow->LoadColorsCMYKmap();
    }
}

TConsoleForms::~TConsoleForms() {
    if (MainWindow)
        MainWindow->SaveColorsCMYKmap();
    fSpotClr->FreeSpotMap();
    if (MainWindow)
        MainWindow->SetForms(nullptr);
}

} // namespace raduvuz
