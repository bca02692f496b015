#include "control/TJobOrigin.h"

#include "common/Language.h"
#include "platform/System.h"

#include <utility>

namespace raduvuz {

TJobOrigin::TJobOrigin(std::function<std::string()> describe) : Describe(std::move(describe)) {}

TJobOrigin TJobOrigin::Console() {
    return TJobOrigin([] { return LanguageFormat(2414, {ProcessUserName()}, "%s (console)"); });
}

const std::string& TJobOrigin::Text() const {
    if (!Described)
        Described = Describe ? Describe() : std::string();
    return *Described;
}

std::string TJobOrigin::By() const {
    const std::string& who = Text();
    return who.empty() ? std::string() : LanguageFormat(2413, {who}, " by %s");
}

} // namespace raduvuz
