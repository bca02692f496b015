// The workflow file: what a file means, and the line a mistake is reported on.
#include "peers/PeerTestSupport.h"
#include "tools/twf/TWorkflow.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace raduvuz {
namespace {

std::string ErrorOf(const std::string& text) {
    try {
        TWorkflow::Parse(text, "/base");
    } catch (const TWorkflowError& e) {
        return e.what();
    }
    return "<no error>";
}

// The keys a run of twf shows the effect of (values, calls before Close, terminator keys,
// time-outs, paths beside the file) are the twf tests'; these are the others.
TEST(WorkflowFileTest, ReadsEverySectionWithPathsFromTheFilesFolder) {
    const TWorkflow w = TWorkflow::Parse(R"(# a demo
[workflow]
name = Demo
preview = /abs/preview
bus = private
store = existing
store-options = --memory-limit 64M --verbose
job-use = yes
backstop = 0

[module 3]
name = Queuer
create = provider
flow = 12: Color=Cyan;Device=P1
flow = 15 : *
log = no

; a comment
[sink 12]
name = Printer A
paused = yes

[input]
to = 3
block-size = 4096
file = in/a.rst
)",
                                         "/base");
    EXPECT_EQ(w.Name, "Demo");
    EXPECT_EQ(w.Preview, "/abs/preview");
    EXPECT_TRUE(w.PrivateBus);
    EXPECT_FALSE(w.StartStore);
    EXPECT_EQ(w.StoreOptions, (std::vector<std::string>{"--memory-limit", "64M", "--verbose"}));
    EXPECT_TRUE(w.JobUse);
    EXPECT_EQ(w.BackstopSeconds, 0);
    ASSERT_EQ(w.Modules.size(), 1u);
    const TModuleDef& m = w.Modules[0];
    EXPECT_EQ(m.Number, 3);
    EXPECT_EQ(m.Create, "provider");
    EXPECT_EQ(m.ConfigKey, "Module3");
    EXPECT_FALSE(m.StartLog);
    ASSERT_EQ(m.Flows.size(), 2u);
    // A rule keeps its ";" and "=": only the first ":" separates it from the destination.
    EXPECT_EQ(m.Flows[0].Dest, 12);
    EXPECT_EQ(m.Flows[0].Rule, "Color=Cyan;Device=P1");
    EXPECT_EQ(m.Flows[1].Dest, 15);
    EXPECT_EQ(m.Flows[1].Rule, "*");
    ASSERT_NE(w.FindSink(12), nullptr);
    EXPECT_TRUE(w.FindSink(12)->Paused);
    EXPECT_EQ(w.FindSink(12)->Folder, "/base/out/12");
    EXPECT_EQ(w.FindModule(12), nullptr);
    ASSERT_EQ(w.Inputs.size(), 1u);
    EXPECT_EQ(w.Inputs[0].Files, std::vector<std::string>{"/base/in/a.rst"});
    EXPECT_EQ(w.Inputs[0].BlockSize, 4096);
}

TEST(WorkflowFileTest, MistakesNameTheirLine) {
    EXPECT_EQ(ErrorOf("name = x\n"), "line 1: a key before the first section");
    EXPECT_EQ(ErrorOf("[workflow]\n\n[printer 2]\n"), "line 3: unknown section [printer]");
    EXPECT_EQ(ErrorOf("[module x]\n"), "line 1: the section number must be a number, not \"x\"");
    EXPECT_EQ(ErrorOf("[module 3]\n[sink 3]\n"), "line 2: module 3 is defined twice");
    EXPECT_EQ(ErrorOf("[module 0]\n"), "line 1: module numbers are above 0");
    EXPECT_EQ(ErrorOf("[module 3]\nflow = Color=Cyan\n"), "line 2: a flow entry is DEST: RULE");
    EXPECT_EQ(ErrorOf("[module 3]\nflow = 0: *\n"),
              "line 2: the flow destination is a module number above 0");
    EXPECT_EQ(ErrorOf("[module 3]\nvalue = 63\n"), "line 2: a module value is NUM: VALUE");
    EXPECT_EQ(ErrorOf("[module 3]\nbefore-close = Kill now\n"),
              "line 2: before-close is SaveConfig [KEY], ExportConfig, GetValue NUM, IsJobUse JOB "
              "or Kill");
    EXPECT_EQ(ErrorOf("[module 3]\ncolour = red\n"), "line 2: unknown key \"colour\" here");
    EXPECT_EQ(ErrorOf("[workflow]\nbus = system\n"), "line 2: bus is private or session");
    EXPECT_EQ(ErrorOf("[sink 4]\npaused = maybe\n"), "line 2: expected yes or no, not \"maybe\"");
    EXPECT_EQ(ErrorOf("[input]\nblock-size = 0\n"), "line 2: block-size is above 0");
    EXPECT_EQ(ErrorOf("[sink 4]\npaused-for = -1\n"), "line 2: paused-for is 0 or more seconds");
    EXPECT_EQ(ErrorOf("[workflow]\nbackstop = -3\n"), "line 2: backstop is 0 or more seconds");
    EXPECT_EQ(ErrorOf("[module 3\n"), "line 1: a section header ends with ]");
    EXPECT_EQ(ErrorOf("[module 3]\nnot a pair\n"), "line 2: expected key = value");
    EXPECT_EQ(ErrorOf("[module 3]\nname: Pass\n"), "line 2: expected key = value");
    EXPECT_EQ(ErrorOf("[module 3] Pass\n"), "line 1: a section header ends with ]");
    EXPECT_EQ(ErrorOf("[module 3]\nname = a\n  continued\n"), "line 3: expected key = value");
    EXPECT_EQ(ErrorOf("[module 3]\nbad line\ncolour = red\n"), "line 2: expected key = value");
    EXPECT_EQ(ErrorOf("[module 3]\n[input]\nto = 9\n"),
              "an input goes to module 9, which no [module] or [sink] section defines");
}

// Lines a hand-edited file may hold, read by the project's one set of INI rules (whose own test
// has every odd line); the sections and the repeated key are the workflow file's.
TEST(WorkflowFileTest, OddLinesAreReadByTheSameRulesAsEveryIniFile) {
    const struct {
        std::string Text;
        std::string Name;
    } kCases[] = {
        {"\xEF\xBB\xBF[module 3]\r\nname = Pass\r\n", "Pass"},
        {"[ MODULE   3 ]\nNAME=\"Pass\" ; # kept\n", "\"Pass\" ; # kept"},
        {"[module 3]\nname = Spool\nname = Pass", "Pass"},
    };
    for (const auto& c : kCases) {
        const TWorkflow w = TWorkflow::Parse(c.Text, "/base");
        ASSERT_EQ(w.Modules.size(), 1u) << c.Text.substr(0, 80);
        EXPECT_EQ(w.Modules[0].Name, c.Name) << c.Text.substr(0, 80);
    }
}

TEST(WorkflowFileTest, FeedsTakeTheParameterTextBesideEachFile) {
    test::TTempFolder temp;
    std::filesystem::create_directories(temp / "in");
    test::WriteTextFile(temp / "in/b.rst", "b");
    test::WriteTextFile(temp / "in/b.rst.dds", "Name=b;Color=Cyan\n");
    test::WriteTextFile(temp / "in/a.rst", "a");
    test::WriteTextFile(temp / "in/a.rst.dds", "Name=a");
    test::WriteTextFile(temp / "in/notes.txt", "no parameter text, not fed from the folder");
    test::WriteTextFile(temp / "single.raw", "s");
    test::WriteTextFile(temp / "wf.ini",
                        "[sink 5]\n[input]\nto = 5\nfile = single.raw\nfolder = in\n");
    const TWorkflow w = TWorkflow::Load(temp / "wf.ini");
    const auto feeds = w.Feeds();
    ASSERT_EQ(feeds.size(), 3u);
    EXPECT_EQ(feeds[0].Path, (temp / "single.raw"));
    EXPECT_EQ(feeds[0].Dds, "Name=single.raw;FileName=single.raw");
    EXPECT_EQ(feeds[1].Path, (temp / "in/a.rst"));
    EXPECT_EQ(feeds[1].Dds, "Name=a");
    EXPECT_EQ(feeds[2].Dds, "Name=b;Color=Cyan");
    EXPECT_EQ(feeds[2].To, 5);
    EXPECT_EQ(feeds[2].BlockSize, 65536);
    EXPECT_THROW(TWorkflow::Load(temp / "missing.ini"), TWorkflowError);
}

} // namespace
} // namespace raduvuz
