// Test stand-in for the installer's helper library: appends "flag path" to the file named by
// $RADUVUZ_UNINSTALL_LOG and answers 42, so a test sees each call and its result.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#ifdef RADUVUZ_HELPER_WITHOUT_EXPORT
#define RADUVUZ_HELPER_ENTRY RegisterSomethingElse
#else
#define RADUVUZ_HELPER_ENTRY RegisterForUnInstall
#endif

extern "C" __attribute__((visibility("default"))) int32_t RADUVUZ_HELPER_ENTRY(const char* path,
                                                                               int32_t flag) {
    const char* logName = std::getenv("RADUVUZ_UNINSTALL_LOG");
    if (logName == nullptr)
        return -1;
    std::FILE* log = std::fopen(logName, "a");
    if (log == nullptr)
        return -2;
    std::fprintf(log, "%d %s\n", static_cast<int>(flag), path);
    std::fclose(log);
    return 42;
}
