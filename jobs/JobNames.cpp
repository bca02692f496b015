#include "jobs/JobNames.h"

#include "common/CommaText.h"

namespace raduvuz {

std::string JobKey(int32_t jobID, int32_t docID) {
    return std::to_string(jobID) + "_" + std::to_string(docID);
}

std::string JobLabel(int32_t jobID, int32_t docID, const std::string& name) {
    return JobKey(jobID, docID) + " (" + ItemsAsTyped(name) + ")";
}

} // namespace raduvuz
