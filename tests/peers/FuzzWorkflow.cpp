// Any text as a workflow file: parsed or refused with TWorkflowError, nothing else.
#include "tools/twf/TWorkflow.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        raduvuz::TWorkflow::Parse(std::string(reinterpret_cast<const char*>(data), size), "/base");
    } catch (const raduvuz::TWorkflowError&) {
    }
    return 0;
}
