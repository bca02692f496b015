#include "services/TServerClient.h"

namespace raduvuz {

namespace {

IDispatchObject& ServerObject(const TDispatchPtr& object, const std::string& method) {
    if (!object)
        throw TDispatchError(kUnexpectedError, "No workflow server object for the call " + method);
    return *object;
}

TCallResult Invoke(const TDispatchPtr& object, const std::string& method,
                   const std::vector<TVariant>& args, const std::string& signature) {
    return ServerObject(object, method).Call(method, args, signature);
}

void Send(const TDispatchPtr& object, const std::string& method, const std::vector<TVariant>& args,
          const std::string& signature) {
    ServerObject(object, method).Send(method, args, signature);
}

} // namespace

void TServerClient::ChangeStatus(int32_t module, bool paused, int32_t status) {
    Send(Object, "ChangeStatus", {module, paused, status}, "ibi");
}

void TServerClient::WriteLog(int32_t module, const std::string& line) {
    Send(Object, "WriteLog", {module, line}, "is");
}

TVariant TServerClient::GetValue(int32_t module, int32_t num) {
    return Invoke(Object, "GetValue", {module, num}, "ii").Result;
}

TPendingCallPtr TServerClient::GetValuePosted(int32_t module, int32_t num) {
    return ServerObject(Object, "GetValue").Post("GetValue", {module, num}, "ii");
}

void TServerClient::SetValue(int32_t module, int32_t num, bool value) {
    Invoke(Object, "SetValue", {module, num, value}, "iib");
}

bool TServerClient::IsJobUse(int32_t module, int32_t docId) {
    return VariantToBool(Invoke(Object, "IsJobUse", {module, docId}, "ii").Result);
}

void TServerClient::ShowLabel(int32_t module, const std::string& text) {
    if (LabelHolds > 0) {
        LabelHeld = true;
        HeldModule = module;
        HeldLabel = text;
        return;
    }
    if (LabelShown && LabelModule == module && Label == text)
        return;
    Send(Object, "ShowLabel", {module, text}, "is");
    LabelShown = true;
    LabelModule = module;
    Label = text;
}

TServerClient::TLabelHold::TLabelHold(TServerClient& client) : Client(client) {
    ++Client.LabelHolds;
}

TServerClient::TLabelHold::~TLabelHold() {
    if (Client.LabelHolds == 0 || --Client.LabelHolds > 0 || !Client.LabelHeld)
        return;
    Client.LabelHeld = false;
    try {
        Client.ShowLabel(Client.HeldModule, Client.HeldLabel);
    } catch (const std::exception&) {
    }
}

std::string TServerClient::GetConfigKey(int32_t module) {
    return VariantToText(Invoke(Object, "GetConfigKey", {module}, "i").Result);
}

std::string TServerClient::PtrToKey(int32_t term) {
    return VariantToText(Invoke(Object, "PtrToKey", {term}, "i").Result);
}

void TServerClient::CloseMe(int32_t module) {
    Invoke(Object, "CloseMe", {module}, "i");
}

void TServerClient::ChangeSetup(int32_t module, const std::string& inParams,
                                const std::string& outParams) {
    Invoke(Object, "ChangeSetup", {module, inParams, outParams}, "iss");
}

} // namespace raduvuz
