#include "module/ModuleTestSupport.h"

namespace raduvuz::test {

std::string Describe(const TVariant& value) {
    if (IsNull(value))
        return "Null";
    if (const auto* b = std::get_if<bool>(&value))
        return *b ? "true" : "false";
    return VariantToText(value);
}

TScriptedPeer::TScriptedPeer(std::vector<std::string> methods) {
    for (const std::string& method : methods) {
        Define(method, [this, method](const std::vector<TVariant>& args) {
            std::string text = method + "(";
            for (size_t i = 0; i < args.size(); ++i)
                text += (i ? "," : "") + Describe(args[i]);
            text += ")";
            Calls.push_back(text);
            Args.push_back(args);
            if (OnCall)
                OnCall(method);
            for (const std::string& failing : Failing) {
                if (failing == method)
                    throw TDispatchError("RAduvuz.Error.Unexpected", method + " failed");
            }
            if (method == "GetValue" && args.size() == 2) {
                auto it = Values.find({VariantToInt(args[0]), VariantToInt(args[1])});
                return TCallResult{it == Values.end() ? TVariant{TNull{}} : it->second, {}};
            }
            auto answer = Answers.find(method);
            return answer == Answers.end() ? TCallResult{} : answer->second;
        });
    }
}

int TScriptedPeer::Count(const std::string& prefix) const {
    int n = 0;
    for (const std::string& call : Calls)
        n += call.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
}

std::shared_ptr<TScriptedPeer> MakeServer(const std::string& mainComputer,
                                          const std::string& previewDir) {
    auto server = std::make_shared<TScriptedPeer>(std::vector<std::string>{
        "ChangeStatus", "WriteLog", "GetValue", "SetValue", "IsJobUse", "ShowLabel", "GetConfigKey",
        "PtrToKey", "CloseMe", "ChangeSetup"});
    server->Values[{0, 1004}] = int32_t{77};
    server->Values[{0, 2}] = mainComputer;
    server->Values[{0, 1}] = previewDir;
    return server;
}

} // namespace raduvuz::test
