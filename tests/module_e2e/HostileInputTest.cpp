#include "module_e2e/BusFixture.h"

#include "dbus/TDBusObject.h"

#include <filesystem>
#include <map>

namespace raduvuz::test {
namespace {

using ::testing::StartsWith;

// Every file and folder below root with what it holds, to see that nothing changed.
std::map<std::string, std::string> Snapshot(const std::string& root) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string path = entry.path().string().substr(root.size());
        entries[path] = entry.is_directory() ? "<folder>" : ReadTextFile(entry.path().string());
    }
    return entries;
}

// Hostile input over the bus: each call gets an error reply, the old value stays, and nothing
// outside the module's own folders is touched.
class HostileInputTest : public OneModuleTest {
protected:
    std::string Call(const std::string& method, const std::vector<TVariant>& args,
                     const std::string& signature) {
        return ErrorOf([&] { Module->Call(method, args, signature); });
    }
};

TEST_F(HostileInputTest, KeysFoldersSettingsAndTextsOutsideTheModulesBoundsAreRefused) {
    // A server nobody owns fails Init and leaves the module as it was, still taking one that is
    // there.
    EXPECT_EQ(Call("Init", {int32_t{5}, std::string("Q"), std::string(":1.9999/Workflow")}, "iss"),
              "RAduvuz.Error.InvalidArgs: IDisp: nobody owns the bus name :1.9999 of "
              "\":1.9999/Workflow\"");
    EXPECT_EQ(VariantToText(Value(2)), "");
    EXPECT_TRUE(Server.Calls.isEmpty());
    Init(5, "Q");
    // Files of somebody else where "../../victim" would lead from the job or Config folder.
    WriteTextFile(Work + "/victim", "not the module's");
    std::filesystem::create_directories(Work + "/bin/victim");
    WriteTextFile(Work + "/bin/victim/1_1", "not the module's");
    WriteTextFile(Work + "/xdg/victim.set", "not the module's");
    const auto before = Snapshot(Work);

    const std::string notPlain = "RAduvuz.Error.InvalidArgs: Key: \"../../victim\" is not a plain "
                                 "name (it must not be empty or \".\", nor hold \"/\", \"..\" or "
                                 "a NUL)";
    // Each key and each call that takes one is checked in-process; here that the refusal
    // travels back and touches nothing.
    EXPECT_EQ(Call("LoadConfig", {std::string("../../victim")}, "s"), notPlain);
    // Without a key of its own the module deletes nothing.
    EXPECT_THAT(Call("Kill", {}, ""),
                StartsWith("RAduvuz.Error.Unexpected: Kill needs the module's configuration key"));
    EXPECT_EQ(Call("ForceDir", {std::string("../../x"), true}, "sb"),
              "RAduvuz.Error.InvalidArgs: sDir: \"../../x\" is not an absolute path");
    EXPECT_EQ(Snapshot(Work), before);

    Module->Call("LoadConfig", {std::string("Q")}, "s");
    const std::string storeDir = VariantToText(Value(51));
    EXPECT_EQ(storeDir, Work + "/bin/Storage");
    EXPECT_EQ(Call("SetValue", {int32_t{51}, std::string("../../x")}, "iv"),
              "RAduvuz.Error.InvalidArgs: Value: \"../../x\" is not an absolute path");
    EXPECT_EQ(VariantToText(Value(51)), storeDir);
    EXPECT_TRUE(std::filesystem::is_directory(storeDir + "/Q"));
    EXPECT_FALSE(std::filesystem::exists(Work + "/x"));
    EXPECT_FALSE(std::filesystem::exists(Work + "/run/x"));
    EXPECT_EQ(ReadTextFile(Work + "/bin/victim/1_1"), "not the module's");
    EXPECT_EQ(ReadTextFile(Work + "/xdg/victim.set"), "not the module's");

    // Settings outside their meaning and huge texts.
    Module->Call("SetValue", {int32_t{4}, std::string("In=1")}, "iv");
    const auto settings = Snapshot(Work);
    // Each range is checked in-process; here that a refusal travels back and the value stays.
    EXPECT_EQ(Call("SetValue", {int32_t{60}, INT32_MAX}, "iv"),
              "RAduvuz.Error.InvalidArgs: Value: Copies 2147483647 is outside 0 to 999");
    EXPECT_EQ(VariantToInt(Value(60)), 0);

    // A 10 MB text is refused, whatever argument it comes in.
    const std::string huge(10 * 1024 * 1024, 'x');
    const std::string tooLong =
        ": a text of 10485760 bytes is longer than the 1048576 bytes allowed";
    EXPECT_EQ(Call("SetValue", {int32_t{4}, huge}, "iv"),
              "RAduvuz.Error.InvalidArgs: Value" + tooLong);
    EXPECT_EQ(Call("SetID", {huge}, "s"), "RAduvuz.Error.InvalidArgs: sID" + tooLong);
    EXPECT_EQ(Call("LoadConfig", {huge}, "s"), "RAduvuz.Error.InvalidArgs: Key" + tooLong);
    EXPECT_EQ(Call("AddFlowEntry", {int32_t{12}, huge}, "is"),
              "RAduvuz.Error.InvalidArgs: FlowEntry" + tooLong);
    EXPECT_EQ(VariantToText(Module->Call("GetInParams", {}).Result), "In=1");
    EXPECT_EQ(VariantToText(Value(2)), "Q");
    EXPECT_EQ(Snapshot(Work), settings);
}

} // namespace
} // namespace raduvuz::test
