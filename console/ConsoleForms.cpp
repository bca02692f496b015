#include "console/ConsoleForms.h"

#include "console/TfAbout.h"
#include "console/TfDevices.h"
#include "console/TfPriority.h"

namespace raduvuz {

namespace {
TConsoleForms* Current = nullptr;
}

TConsoleForms::TConsoleForms(QWidget* mainWindow)
    : fAbout(std::make_unique<TfAbout>(mainWindow)),
      fPriority(std::make_unique<TfPriority>(mainWindow)),
      fDevices(std::make_unique<TfDevices>(mainWindow)) {
    Current = this;
}

TConsoleForms::~TConsoleForms() {
    if (Current == this)
        Current = nullptr;
}

TConsoleForms* ConsoleForms() {
    return Current;
}

} // namespace raduvuz
