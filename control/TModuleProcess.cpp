#include "control/TModuleProcess.h"

namespace raduvuz {

TDispatchPtr TModuleProcess::CreateObjectByProgId(const std::string& progId) const {
    TDispatchPtr object = ObjectFactory ? ObjectFactory(progId) : nullptr;
    if (!object)
        throw TDispatchError(kUnexpectedError, "Cannot create the object " + progId);
    return object;
}

} // namespace raduvuz
