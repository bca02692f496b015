// raduvuz-goevent: creates, sets, resets, removes, tests and waits on the go event that lets
// the queuer's processing run when its Event setting is on.
#include "platform/GoEvent.h"
#include "version/ProgramVersion.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

void PrintUsage(std::FILE* out) {
    std::fprintf(out,
                 "usage: raduvuz-goevent [--event NAME] COMMAND\n"
                 "       raduvuz-goevent --version\n"
                 "\n"
                 "Commands:\n"
                 "  create [--set]  create the event, reset (or set with --set); an existing\n"
                 "                  event is kept as it is\n"
                 "  set             signal the event: every waiter goes on until it is reset\n"
                 "  reset           make waiters block again\n"
                 "  remove          let every waiter go and remove the event\n"
                 "  exists          exit 0 when the event exists, 1 when it does not\n"
                 "  wait            return when the event is signalled, or at once when it does\n"
                 "                  not exist\n"
                 "\n"
                 "The event is the shared-memory object %s; --event names another one, for\n"
                 "a RIP of its own or a trial run beside the real workflow.\n"
                 "Exit status: 0 done, 1 failed (or absent, for exists), 2 wrong usage.\n",
                 raduvuz::kGoEventName);
}

int Report(bool done, const char* what, const std::string& name) {
    if (done)
        return kDone;
    int error = errno;
    std::fprintf(stderr, "raduvuz-goevent: cannot %s %s: %s\n", what, name.c_str(),
                 std::strerror(error));
    return kFailed;
}

} // namespace

int main(int argc, char** argv) {
    if (raduvuz::PrintVersionIfAsked(argc, argv, "raduvuz-goevent"))
        return 0;
    int next = 1;
    std::string name = raduvuz::kGoEventName;
    if (argc > 2 && std::string_view(argv[1]) == "--event") {
        name = argv[2];
        next = 3;
    }
    const int words = argc - next;
    if (words < 1) {
        PrintUsage(stderr);
        return kUsage;
    }
    std::string_view command = argv[next];
    if (command == "-h" || command == "--help" || command == "help") {
        PrintUsage(stdout);
        return kDone;
    }
    if (command == "create") {
        bool signalled = false;
        if (words == 2 && std::string_view(argv[next + 1]) == "--set") {
            signalled = true;
        } else if (words != 1) {
            PrintUsage(stderr);
            return kUsage;
        }
        return Report(raduvuz::GoEventCreate(name, signalled), "create", name);
    }
    if (words != 1) {
        PrintUsage(stderr);
        return kUsage;
    }
    if (command == "set")
        return Report(raduvuz::GoEventSet(name), "set", name);
    if (command == "reset")
        return Report(raduvuz::GoEventReset(name), "reset", name);
    if (command == "remove")
        return Report(raduvuz::GoEventRemove(name), "remove", name);
    if (command == "exists")
        return raduvuz::GoEventExists(name) ? kDone : kFailed;
    if (command == "wait") {
        raduvuz::WaitGoEvent(name);
        return kDone;
    }
    std::fprintf(stderr, "raduvuz-goevent: unknown command \"%s\"\n", argv[next]);
    PrintUsage(stderr);
    return kUsage;
}
