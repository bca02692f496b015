#include "platform/SetupLibrary.h"

#include <dlfcn.h>

namespace raduvuz {

namespace {
using TDoAction = int32_t (*)(int32_t, const char*);
}

std::optional<int32_t> TSetupLibrary::DoAction(const std::string& path,
                                               const std::string& selfReference) {
    if (!Handle) {
        Handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!Handle) {
            const char* why = ::dlerror();
            Error = why ? why : "cannot load " + path;
            return std::nullopt;
        }
    }
    auto doAction = reinterpret_cast<TDoAction>(::dlsym(Handle, "DoAction"));
    if (!doAction) {
        Error = path + " has no DoAction";
        return std::nullopt;
    }
    Error.clear();
    return doAction(0, selfReference.c_str());
}

} // namespace raduvuz
