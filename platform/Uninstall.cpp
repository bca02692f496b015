#include "platform/Uninstall.h"

#include <dlfcn.h>

namespace raduvuz {

namespace {

using TRegisterForUnInstall = int32_t (*)(const char*, int32_t);

// The helper library is looked for once per process, in the program folder of the first call,
// and stays loaded until the process ends; a missing library is not looked for again.
TRegisterForUnInstall FindRegisterForUnInstall(const std::string& programFolder) {
    static const TRegisterForUnInstall found = [&programFolder]() -> TRegisterForUnInstall {
        void* library = dlopen((programFolder + "zIzazoDa.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr)
            return nullptr;
        return reinterpret_cast<TRegisterForUnInstall>(dlsym(library, "RegisterForUnInstall"));
    }();
    return found;
}

} // namespace

int32_t RegisterForUninstall(const std::string& programFolder, const std::string& path,
                             int32_t flag) {
    TRegisterForUnInstall registerFolder = FindRegisterForUnInstall(programFolder);
    if (registerFolder == nullptr)
        return 0;
    return registerFolder(path.c_str(), flag);
}

} // namespace raduvuz
