// Automation methods whose behaviour comes with later parts of the module: each exists on the
// interface and fails with a plain message until its part lands here.

#include "control/TModuleControl.h"

#include <stdexcept>

namespace raduvuz {

namespace {

[[noreturn]] void NotImplemented(const char* method) {
    throw std::logic_error(std::string(method) + " is not implemented yet");
}

} // namespace

void TModuleControl::ClearFlowEntrySet() {
    NotImplemented("ClearFlowEntrySet");
}

void TModuleControl::AddFlowEntry(int32_t, const std::string&) {
    NotImplemented("AddFlowEntry");
}

void TModuleControl::AddTerminator(int32_t, const std::string&, const TVariant&) {
    NotImplemented("AddTerminator");
}

void TModuleControl::ClearTerminatorsSet() {
    NotImplemented("ClearTerminatorsSet");
}

void TModuleControl::CompletedSendTerminators() {
    NotImplemented("CompletedSendTerminators");
}

int32_t TModuleControl::LoadDoc(int32_t, int32_t) {
    NotImplemented("LoadDoc");
}

bool TModuleControl::SaveDoc(int32_t) {
    NotImplemented("SaveDoc");
}

void TModuleControl::DeleteSavedDoc(int32_t) {
    NotImplemented("DeleteSavedDoc");
}

bool TModuleControl::ForceDir(const std::string&, bool) {
    NotImplemented("ForceDir");
}

// Nothing can keep a job yet: no job is taken in and no saved-job record is made before the
// intake, the saved-job store and the retention policy land, so the pass has nothing to delete.
void TModuleControl::RetentionPass() {}

// Retention triggers and the processing tick come with the intake; until then a timer tick has
// no job to serve.
void TModuleControl::TimerTimer() {}

} // namespace raduvuz
