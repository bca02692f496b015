#include "platform/GoEvent.h"

#include "platform/GoEventShared.h"

#include "PlatformTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <future>
#include <spawn.h>
#include <sys/mman.h>
#include <vector>

extern char** environ;

namespace raduvuz {
namespace {

// Long enough for a waiter that would wrongly go on to do so; a blocked waiter stays blocked.
constexpr int kStillBlockedMs = 300;
// Only a hang takes this long: a woken waiter reports within moments.
constexpr int kWakeUpMs = 60000;

// The tool on the event name, or with no arguments at all when arguments is empty.
pid_t StartTool(const std::string& name, const std::vector<std::string>& arguments) {
    std::vector<std::string> words{RADUVUZ_GOEVENT_TOOL};
    if (!arguments.empty())
        words.insert(words.end(), {"--event", name});
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    // The tool's usage and error texts would only clutter the test output.
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = -1;
    int failed = posix_spawn(&child, RADUVUZ_GOEVENT_TOOL, &quiet, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    return failed != 0 ? -1 : child;
}

class GoEventTest : public ::testing::Test {
protected:
    // Removing the event also releases any waiter a failed expectation left behind.
    void TearDown() override { GoEventRemove(Name); }

    int RunTool(const std::vector<std::string>& arguments) const {
        return test::ExitCodeOf(raduvuz::StartTool(Name, arguments));
    }
    pid_t StartTool(const std::vector<std::string>& arguments) const {
        return raduvuz::StartTool(Name, arguments);
    }

    // A wait on another thread stays blocked until release, and ends soon after; answers what
    // the wait answered.
    bool WaitReleasedBy(const std::function<void()>& release) {
        std::future<bool> wait =
            std::async(std::launch::async, [this] { return WaitGoEvent(Name); });
        EXPECT_EQ(wait.wait_for(std::chrono::milliseconds(kStillBlockedMs)),
                  std::future_status::timeout);
        release();
        if (wait.wait_for(std::chrono::milliseconds(kWakeUpMs)) != std::future_status::ready) {
            ADD_FAILURE() << "the wait was not released";
            GoEventRemove(Name);
        }
        return wait.get();
    }

    std::string Name = test::UniqueName("/raduvuz_test_go_");
};

TEST_F(GoEventTest, BlocksWhileResetGoesOnWhenAnotherProcessSetsItAndEndsWhenRemoved) {
    ASSERT_EQ(RunTool({"create"}), 0);
    EXPECT_TRUE(GoEventExists(Name));
    EXPECT_EQ(RunTool({"exists"}), 0);

    // The caller learns that it was held: the world may have changed meanwhile.
    EXPECT_TRUE(WaitReleasedBy([&] { EXPECT_EQ(RunTool({"set"}), 0); }));

    // Manual reset: the event stays signalled until somebody resets it, created again or not.
    EXPECT_TRUE(GoEventCreate(Name, false));
    EXPECT_FALSE(WaitGoEvent(Name));
    ASSERT_EQ(RunTool({"reset"}), 0);
    WaitReleasedBy([&] { EXPECT_TRUE(GoEventSet(Name)); });
    ASSERT_TRUE(GoEventReset(Name));
    WaitReleasedBy([&] { EXPECT_EQ(RunTool({"remove"}), 0); });
    EXPECT_FALSE(GoEventExists(Name));
    EXPECT_FALSE(GoEventRemove(Name));

    ASSERT_TRUE(GoEventCreate(Name, true));
    EXPECT_FALSE(WaitGoEvent(Name));
}

TEST_F(GoEventTest, SetReleasesEveryWaitingProcess) {
    ASSERT_TRUE(GoEventCreate(Name, false));
    pid_t first = StartTool({"wait"});
    pid_t second = StartTool({"wait"});
    ASSERT_GT(first, 0);
    ASSERT_GT(second, 0);
    usleep(kStillBlockedMs * 1000);
    int status = 0;
    EXPECT_EQ(waitpid(first, &status, WNOHANG), 0);
    EXPECT_EQ(waitpid(second, &status, WNOHANG), 0);

    ASSERT_TRUE(GoEventSet(Name));
    EXPECT_EQ(test::ExitCodeOf(first), 0);
    EXPECT_EQ(test::ExitCodeOf(second), 0);
}

// No object, one too small, and one of full size whose creator has not written the magic word
// yet: each is no event, which a wait goes past at once and a set cannot signal.
TEST_F(GoEventTest, NoEventOrAHalfMadeObjectCountsAsNone) {
    const auto none = [this](const char* what) {
        SCOPED_TRACE(what);
        EXPECT_FALSE(GoEventExists(Name));
        EXPECT_FALSE(WaitGoEvent(Name));
        EXPECT_EQ(RunTool({"wait"}), 0);
        EXPECT_FALSE(GoEventSet(Name));
    };
    none("no object");
    EXPECT_FALSE(GoEventReset(Name));
    EXPECT_EQ(RunTool({"exists"}), 1);
    EXPECT_EQ(RunTool({"set"}), 1);
    EXPECT_EQ(RunTool({"frobnicate"}), 2);
    EXPECT_EQ(RunTool({}), 2);

    int fd = shm_open(Name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 1), 0);
    none("one byte");
    ASSERT_EQ(ftruncate(fd, sizeof(GoEventShared)), 0);
    close(fd);
    none("no magic word");
    EXPECT_FALSE(GoEventCreate(Name, false));

    ASSERT_TRUE(GoEventRemove(Name));
    ASSERT_TRUE(GoEventCreate(Name, false));
    EXPECT_TRUE(GoEventExists(Name));
}

TEST_F(GoEventTest, HolderThatDiedDoesNotBlockTheEvent) {
    ASSERT_TRUE(GoEventCreate(Name, false));
    // A process takes the event's lock and ends without giving it back.
    int diedHolding = test::RunInChild([this] {
        int fd = shm_open(Name.c_str(), O_RDWR, 0);
        if (fd < 0)
            return 10;
        void* address =
            mmap(nullptr, sizeof(GoEventShared), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (address == MAP_FAILED)
            return 11;
        return pthread_mutex_lock(&static_cast<GoEventShared*>(address)->Mutex) == 0 ? 0 : 12;
    });
    ASSERT_EQ(diedHolding, 0);

    WaitReleasedBy([&] { EXPECT_EQ(RunTool({"set"}), 0); });
    EXPECT_TRUE(GoEventReset(Name));
}

} // namespace
} // namespace raduvuz
