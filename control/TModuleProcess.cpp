#include "control/TModuleProcess.h"

#include "common/TTwfPaths.h"

namespace raduvuz {

TDispatchPtr TModuleProcess::CreateObjectByProgId(const std::string& progId) const {
    TDispatchPtr object = ObjectFactory ? ObjectFactory(progId) : nullptr;
    if (!object)
        throw TDispatchError(kUnexpectedError, "Cannot create the object " + progId);
    return object;
}

std::string TModuleProcess::DefaultsFolder() const {
    return ProgramDataFolder(ProgramFolder);
}

std::string TModuleProcess::SetupLibraryFile() const {
    const size_t dot = ProgramName.rfind('.');
    return ProgramFolder + (dot == std::string::npos ? ProgramName : ProgramName.substr(0, dot)) +
           ".mod";
}

std::string TModuleProcess::ProgramFileName() {
    const std::string file = ProgramFile();
    return file.substr(file.rfind('/') + 1);
}

} // namespace raduvuz
