#include "control/ModuleGlobals.h"

namespace raduvuz {

TModuleControl* CurrentModule = nullptr;
TServerClient ServerObject;
TStoreClient StoreObject;
int32_t ServerValue1004 = 36;

namespace {
TObjectFactory ObjectFactory;
}

void SetObjectFactory(TObjectFactory factory) {
    ObjectFactory = std::move(factory);
}

TDispatchPtr CreateObjectByProgId(const std::string& progId) {
    if (!ObjectFactory)
        throw TDispatchError(kUnexpectedError, "Cannot create the object " + progId);
    TDispatchPtr object = ObjectFactory(progId);
    if (!object)
        throw TDispatchError(kUnexpectedError, "Cannot create the object " + progId);
    return object;
}

void ResetModuleProcessForTesting() {
    CurrentModule = nullptr;
    ServerObject = TServerClient();
    StoreObject = TStoreClient();
    ServerValue1004 = 36;
    ObjectFactory = nullptr;
}

} // namespace raduvuz
