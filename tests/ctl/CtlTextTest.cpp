#include "tools/ctl/CtlCommandLine.h"
#include "tools/ctl/CtlTables.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>
#include <sstream>

namespace raduvuz::ctl {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

TCtlRequest Parse(std::vector<std::string> args) {
    return ParseCommandLine(args);
}

std::string UsageError(std::vector<std::string> args) {
    try {
        Parse(std::move(args));
    } catch (const TUsageError& error) {
        return error.what();
    }
    return "<accepted>";
}

TCtlJob Row(uint32_t id, const std::string& list, const std::string& state) {
    TCtlJob job;
    job.Id = id;
    job.List = list;
    job.State = state;
    return job;
}

TEST(CtlCommandLineTest, CommandsTakeTheirIdsOptionsAndCriteria) {
    TCtlRequest request = Parse({"redirect", "--to", "2,5", "-m", "Spool", "17", "18,19"});
    EXPECT_EQ(request.Command, "redirect");
    EXPECT_EQ(request.Module, "Spool");
    EXPECT_THAT(request.Devices, ElementsAre(2, 5));
    EXPECT_THAT(request.Ids, ElementsAre(17u, 18u, 19u));

    request = Parse({"priority", "-3", "4"});
    EXPECT_EQ(request.Priority, -3);
    EXPECT_THAT(request.Ids, ElementsAre(4u));
    request = Parse({"rename", "New name", "--module=4242", "7"});
    EXPECT_EQ(request.Text, "New name");
    EXPECT_EQ(request.Module, "4242");

    // A comparison may be left out (equal) and goes to the module as FindJobs' criteria.
    request = Parse({"find", "--process", "--name", "=proof", "--size-kb", "12.5", "--date",
                     ">=2026-03-01", "--ids"});
    EXPECT_TRUE(request.IdsOnly);
    EXPECT_EQ(request.Criteria, (std::map<std::string, std::string>{{"list", "process"},
                                                                    {"name", "=proof"},
                                                                    {"sizeKb", "=12.5"},
                                                                    {"date", ">=2026-03-01"}}));
    EXPECT_EQ(Parse({"find"}).Criteria.at("list"), "passed");

    EXPECT_EQ(Parse({"--version"}).Command, "version");
    // Nothing asked: the help, as wrong usage.
    EXPECT_EQ(Parse({}).Command, "help");
    EXPECT_TRUE(Parse({}).NoCommand);
    EXPECT_TRUE(Parse({"-m", "Spool"}).NoCommand);
    EXPECT_FALSE(Parse({"help"}).NoCommand);
    EXPECT_FALSE(Parse({"--help"}).NoCommand);
    request = Parse({"abort", "--help"});
    EXPECT_EQ(request.Command, "help");
    EXPECT_EQ(request.HelpTopic, "abort");
    EXPECT_EQ(Parse({"help", "find"}).HelpTopic, "find");
}

TEST(CtlCommandLineTest, WrongUsageIsNamed) {
    EXPECT_EQ(UsageError({"frob"}), "unknown command \"frob\"");
    EXPECT_EQ(UsageError({"hold"}), "hold needs job ids (see \"raduvuz-ctl jobs\")");
    EXPECT_EQ(UsageError({"hold", "0"}), "not a job id: \"0\"");
    EXPECT_EQ(UsageError({"hold", "1,x"}), "not a job id: \"x\"");
    EXPECT_EQ(UsageError({"release", "99999999999"}), "not a job id: \"99999999999\"");
    EXPECT_EQ(UsageError({"redirect", "5"}), "redirect needs --to DEV[,DEV...]");
    EXPECT_EQ(UsageError({"redirect", "--to", "2,", "5"}), "not a device number: \"\"");
    EXPECT_EQ(UsageError({"priority", "high", "5"}), "not a priority: \"high\"");
    EXPECT_EQ(UsageError({"copy"}), "copy needs a folder and job ids");
    EXPECT_EQ(UsageError({"jobs", "-m"}), "Missing value after '-m'.");
    EXPECT_EQ(UsageError({"jobs", "--to", "2"}), "--to is no option of jobs");
    EXPECT_EQ(UsageError({"modules", "-m", "5"}), "-m is no option of modules");
    EXPECT_EQ(UsageError({"jobs", "--process", "--passed"}),
              "--process and --passed exclude each other");
    EXPECT_EQ(UsageError({"hold", "--json", "5"}), "--json is no option of hold");
    EXPECT_EQ(UsageError({"jobs", "stray"}), "jobs takes no argument \"stray\"");
    EXPECT_EQ(UsageError({"jobs", "--colour=x"}), "Unknown option 'colour'.");
    EXPECT_EQ(UsageError({"help", "frob"}), "unknown command \"frob\"");
}

TEST(CtlCommandLineTest, EveryCommandHasHelpThatFitsATerminal) {
    const std::string all = HelpText("");
    for (const char* command :
         {"modules", "jobs", "hold", "release", "abort", "delete", "reprocess", "redirect",
          "priority", "rename", "copy", "find", "watch"}) {
        EXPECT_THAT(all, HasSubstr(std::string("  ") + command)) << command;
        const std::string help = HelpText(command);
        EXPECT_THAT(help, HasSubstr(std::string("[options] ") + command)) << command;
        std::istringstream lines(help);
        for (std::string line; std::getline(lines, line);)
            EXPECT_LE(line.size(), 80u) << command << ": " << line;
    }
    EXPECT_THAT(HelpText("hold"), HasSubstr("1 some ids refused"));
    EXPECT_THAT(HelpText("priority"), HasSubstr("[options] priority N ID...\n"));
    // A command's help lists its own options only.
    EXPECT_THAT(HelpText("find"), HasSubstr("--size-kb <[OP]NUMBER>"));
    EXPECT_THAT(HelpText("jobs"), Not(HasSubstr("--to")));
}

TEST(CtlTablesTest, SizesAgesAndProgressReadAsPeopleWriteThem) {
    EXPECT_EQ(HumanSize(-1), "-");
    EXPECT_EQ(HumanSize(512), "512 B");
    EXPECT_EQ(HumanSize(8400), "8.2 KiB");
    EXPECT_EQ(HumanSize(86 * 1024 * 1024), "86 MiB");
    EXPECT_EQ(HumanSize(1048575), "1.0 MiB");
    EXPECT_EQ(HumanSize(int64_t{1288490189}), "1.2 GiB");

    const char* ten = "2026-03-01T10:00:00";
    std::tm then{};
    ASSERT_NE(::strptime(ten, "%Y-%m-%dT%H:%M:%S", &then), nullptr);
    then.tm_isdst = -1;
    const std::time_t at = std::mktime(&then);
    EXPECT_EQ(AgeText(ten, at + 12), "12s");
    EXPECT_EQ(AgeText(ten, at + 300), "5m");
    EXPECT_EQ(AgeText(ten, at + 3 * 3600 + 5 * 60), "3h05m");
    EXPECT_EQ(AgeText(ten, at + 2 * 86400), "2026-03-01");
    EXPECT_EQ(AgeText("", at), "-");
    EXPECT_EQ(AgeText("2026-03-01 10:00", at), "-");

    TCtlJob job = Row(1, "process", "sending");
    job.Size = 4000;
    job.Done = 1000;
    EXPECT_EQ(SizeOrProgress(job), "25%");
    job.Size = -1;
    EXPECT_EQ(SizeOrProgress(job), "1000 B");
    job.State = "held";
    job.Size = 4000;
    EXPECT_EQ(SizeOrProgress(job), "3.9 KiB");
    EXPECT_EQ(StatusText(1), "idle");
    EXPECT_EQ(StatusText(-2), "failed (-2)");
}

// A refusal names its cause: no such id, the other list, or what the row lacks.
TEST(CtlTablesTest, RefusalsNameTheirCause) {
    const std::vector<TCtlJob> jobs = {Row(5, "process", "sending"), Row(8, "passed", "passed"),
                                       Row(9, "passed", "passed")};
    EXPECT_EQ(RefusalLines("hold", {5, 8, 77}, jobs),
              "hold refused 5: it is sending, not waiting to be sent\n"
              "hold refused 8: a passed job, not one in process\n"
              "hold refused 77: no job has this id (see \"raduvuz-ctl jobs\")\n");
    EXPECT_EQ(RefusalLines("redirect", {8, 9, 5}, jobs),
              "redirect refused 8 9: its spool file cannot be read (see the module's log)\n"
              "redirect refused 5: a job in process, not a passed one\n");
    EXPECT_EQ(RefusalLines("release", {5}, jobs), "release refused 5: it is sending, not held\n");
    EXPECT_EQ(RefusalLines("delete", {8}, jobs),
              "delete refused 8: it is still in use: the workflow keeps it, or it is being "
              "processed again\n");
    EXPECT_EQ(RefusalLines("rename", {5}, jobs),
              "rename refused 5: it is sending, not waiting to be sent\n");
}

TEST(CtlTablesTest, TablesFitTheWidthAndJsonEscapesTexts) {
    TCtlJob passed = Row(12, "passed", "passed");
    passed.Job = 4;
    passed.Doc = 40;
    passed.Name = "A name much longer than any table column would show \"quoted\"\n";
    passed.Color = "Cyan";
    passed.Size = 70000;
    passed.Created = "2026-03-01T10:00:00";
    passed.Destination = "Platesetter in the back room, left of the door";
    TCtlJob held = passed;
    held.Id = 13;
    held.List = "process";
    held.State = "held";
    held.Name = "Proof – ä";

    const std::string tables = JobTables({held, passed}, TListChoice::Both, 80, 0);
    std::istringstream lines(tables);
    std::vector<std::string> all;
    for (std::string line; std::getline(lines, line);)
        all.push_back(line);
    ASSERT_EQ(all.size(), 7u) << tables;
    EXPECT_EQ(all[0], "Jobs in process (1)");
    EXPECT_THAT(all[1], HasSubstr("ID JOB DOC NAME"));
    EXPECT_THAT(all[2], HasSubstr("Proof – ä"));
    EXPECT_EQ(all[4], "Passed jobs (1)");
    EXPECT_THAT(all[6], HasSubstr("…"));
    EXPECT_THAT(all[6], HasSubstr("68 KiB"));
    for (const std::string& line : all) {
        int columns = 0;
        for (char c : line)
            columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        EXPECT_LE(columns, 80) << line;
        EXPECT_TRUE(line.empty() || line.back() != ' ') << line;
    }
    EXPECT_EQ(JobTables({passed}, TListChoice::Process, 80, 0), "Jobs in process: none\n");

    const std::string json = JobsJson({held, passed});
    EXPECT_THAT(json, HasSubstr("\"name\": \"A name much longer than any table column would "
                                "show \\\"quoted\\\"\\n\""));
    EXPECT_THAT(json, HasSubstr("\"state\": \"held\", \"done\": 0}"));
    EXPECT_THAT(json, HasSubstr("\"state\": \"passed\"}"));

    TCtlModule module{4242, "RAduvuz.ModuleControl.p4242", "Spool", 2, true, 1, 3, true};
    TCtlModule silent{4243, "RAduvuz.ModuleControl.p4243", "", 0, false, 0, 0, false};
    const std::string modules = ModuleTable({module, silent}, 80);
    EXPECT_EQ(modules, "NUMBER DESCRIPTION STATUS    PAUSED IN PROCESS PASSED\n"
                       "  4242 Spool       working   yes             1      3\n"
                       "  4243             no answer -               -      -\n");
    EXPECT_EQ(ModulesJson({silent}),
              "[\n  {\"number\": 4243, \"busName\": \"RAduvuz.ModuleControl.p4243\", "
              "\"answered\": false}\n]\n");
}

} // namespace
} // namespace raduvuz::ctl
