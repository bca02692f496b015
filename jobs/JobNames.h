#pragma once

#include <cstdint>
#include <string>

namespace raduvuz {

// How the module names a job, in its log lines, its spool files and its hold file: "J_D" by its
// Job ID and DocID, and with its name "J_D (name)", the name as the operator typed it (without
// the quotes its parameter text needs). Every line about a job names it through these, once.
std::string JobKey(int32_t jobID, int32_t docID);
std::string JobLabel(int32_t jobID, int32_t docID, const std::string& name);

} // namespace raduvuz
