#include "version/ProgramVersion.h"

#include "RaduvuzVersionText.h"

#include <cstdio>
#include <string_view>

namespace raduvuz {

const char* ProgramVersion() {
    return RADUVUZ_VERSION_TEXT;
}

bool PrintVersionIfAsked(int argc, const char* const* argv, const char* program) {
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--version") {
            std::printf("%s %s\n", program, ProgramVersion());
            return true;
        }
    }
    return false;
}

} // namespace raduvuz
