#pragma once

#include "services/Dispatch.h"
#include "support/FakeWindow.h"
#include "support/TempFiles.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace raduvuz::test {

// A scripted peer: records every call as "Method(arg,arg)" and answers from a table; a method
// named in Failing throws.
class TScriptedPeer : public TInProcessObject {
public:
    explicit TScriptedPeer(std::vector<std::string> methods);
    std::vector<std::string> Calls;
    std::vector<std::vector<TVariant>> Args;
    std::map<std::string, TCallResult> Answers;
    std::map<std::pair<int32_t, int32_t>, TVariant> Values; // GetValue (module, num)
    std::vector<std::string> Failing;
    std::function<void(const std::string&)> OnCall;

    // The calls recorded so far that begin with prefix.
    int Count(const std::string& prefix) const;
};

std::string Describe(const TVariant& value);

// A workflow server with the answers Init needs.
std::shared_ptr<TScriptedPeer> MakeServer(const std::string& mainComputer,
                                          const std::string& previewDir);

} // namespace raduvuz::test
