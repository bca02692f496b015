#include "CycleTestSupport.h"

#include "common/DateTime.h"
#include "control/JobControlLimits.h"
#include "control/TJobActions.h"
#include "jobs/SpoolFile.h"
#include "jobs/TDoc.h"
#include "jobs/TSavedDoc.h"
#include "jobs/WaitList.h"
#include "platform/System.h"
#include "platform/TFileStream.h"
#include "services/Dispatch.h"
#include "support/ModuleInside.h"

#include <algorithm>
#include <functional>
#include <gmock/gmock.h>
#include <numeric>

namespace raduvuz::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// A module with terminators, flow entries and a job folder whose passed jobs come from spool
// files the test writes, reloaded as the module does at start.
class JobActionsTest : public TJobFolderTest {
protected:
    void SetUp() override {
        TJobFolderTest::SetUp();
        Inside(*Module).FlowEntries = {{"Color=Cyan;Device=3", 21}, {"Color=Black;Device=4", 22}};
    }

    // The passed rows the reload made, by job number.
    uint32_t IdOf(const std::string& job) const {
        for (int i = 0; i < Module->Rows().Passed().Count(); ++i) {
            if (Module->Rows().Passed().At(i)->Caption == job)
                return Module->Rows().Passed().At(i)->Id;
        }
        return 0;
    }
    std::string Header(const std::string& name) const {
        TFileStream file;
        std::string text;
        TDateTime created = 0;
        EXPECT_TRUE(file.Open(Module->GetJobDir() + "/" + name, TFileStream::TMode::ReadDenyWrite));
        EXPECT_TRUE(ReadSpoolHeaderText(file, text, created));
        return text;
    }

    // The commands of the module the fixture made.
    TJobActions Actions() { return TJobActions(*Module); }
};

TEST_F(JobActionsTest, EveryRowHasAnIdOfItsOwnAndTheListShowsBothLists) {
    // Names and colours show as typed: a comma in a quoted name, blanks in a colour.
    WriteJob("5_50", "Name=\"Poster, A1\";Page=2;Color=PANTONE 185 C;File=rst;Size=2048;Device=3;"
                     "Priority=7");
    Inside(*Module).LastInTop = false;
    Module->ReloadSavedJobs();
    TDoc* spooling = Inside(*Module).Jobs.Add(TDoc::Create(*Module, true, 61, 6, "Name=S"));
    spooling->AddToList(2);
    // Two copies of one job are two rows with two ids.
    const std::unique_ptr<TDoc> spooled = TDoc::Create(*Module, true, 71, 7, "Name=C;Size=480000");
    spooled->ReadFields();
    // Its copies show the job's data, not the size of the packed spool file.
    spooled->SizeText = "145.23 Kb";
    spooled->OutDocID = 71;
    spooled->Copies = 2;
    ASSERT_TRUE(AddWaitDocInn(*spooled, "21", "3", false));
    ASSERT_EQ(Module->JobsInProcess().size(), 3u);
    Module->JobsInProcess()[2]->SetHeld(true);
    Module->Rows().Passed().SetImage(Module->Rows().Passed().At(0), 3);

    const std::vector<TJobRowView> rows = Actions().List();
    ASSERT_EQ(rows.size(), 4u);
    std::vector<uint32_t> ids;
    for (const TJobRowView& row : rows)
        ids.push_back(row.Id);
    EXPECT_EQ(std::set<uint32_t>(ids.begin(), ids.end()).size(), 4u);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), 0u), 0);

    // The columns as one text: list, state, job_doc, name, page, colour, type, size, size text,
    // destination, devices, priority, done.
    const auto shown = [](const TJobRowView& r) {
        return r.List + " " + r.State + " " + std::to_string(r.Job) + "_" + std::to_string(r.Doc) +
               " " + r.Name + "|" + r.Page + "|" + r.Color + "|" + r.Type + " " +
               std::to_string(r.Size) + " " + r.SizeText + "|" + r.Destination + "|" + r.Devices +
               " " + std::to_string(r.Priority) + " " + std::to_string(r.Done);
    };
    // Nothing read yet: the job is reading; its first block makes it spool.
    EXPECT_EQ(shown(rows[0]), "process reading 6_61 ||| -1 Spooling|| 0 0");
    spooling->Moved = 4096;
    EXPECT_EQ(shown(Actions().List()[0]), "process spooling 6_61 ||| -1 Spooling|| 0 4096");
    EXPECT_EQ(shown(rows[1]), "process waiting 7_71 C||| 480000 468.75 Kb|Proofer|3 0 0");
    EXPECT_EQ(rows[2].State, "held");
    const TJobRowView& passed = rows[3];
    EXPECT_EQ(shown(passed),
              "passed failed 5_50 Poster, A1|2|PANTONE 185 C|RST 2048 2.00 Kb|Proofer|3 7 0");
    EXPECT_EQ(passed.Created, "2024-01-01T12:00:00");

    // An id is never given again, not even after its row has gone.
    const uint32_t gone = passed.Id;
    Module->Rows().Passed().Delete(Module->Rows().Passed().At(0));
    TListRow fresh;
    EXPECT_GT(Module->Rows().Passed().Add(fresh)->Id, *std::max_element(ids.begin(), ids.end()));
    EXPECT_EQ(Module->Rows().Passed().FindId(gone), nullptr);
}

TEST_F(JobActionsTest, JobsInProcessAreHeldReleasedAbortedAndReprioritisedById) {
    TDoc* waiting = Waiting(4, 40);
    TDoc* sending = Waiting(5, 50, TJobState::Sending);
    const uint32_t w = waiting->ListItem->Id;
    const uint32_t s = sending->ListItem->Id;
    const uint32_t unknown = 999999;
    Inside(*Module).Paused = false;

    // Only a job waiting to be sent is held.
    EXPECT_THAT(Actions().Hold({s, w, unknown}), ElementsAre(w));
    EXPECT_TRUE(waiting->Held());
    EXPECT_EQ(waiting->ListItem->ImageIndex, 0);
    EXPECT_FALSE(sending->Held());
    EXPECT_TRUE(Module->JobInProcess("4", "40"));
    EXPECT_FALSE(Module->JobInProcess("4", "50"));
    EXPECT_THAT(Actions().Release({w, unknown}), ElementsAre(w));
    EXPECT_FALSE(waiting->Held());
    EXPECT_THAT(Actions().SetPriority({w, s}, 9), ElementsAre(s, w));
    EXPECT_EQ(waiting->Priority(), 9);
    EXPECT_EQ(Actions().PriorityOf(s), 9);
    EXPECT_EQ(Actions().PriorityOf(unknown), 0);
    EXPECT_THAT(Actions().Abort({w}), ElementsAre(w));
    EXPECT_TRUE(waiting->AbortRequested());
    EXPECT_FALSE(sending->AbortRequested());
    // Each command put the flag back as it found it.
    EXPECT_FALSE(Module->IsPaused());
    // Passed rows are not jobs in process.
    WriteJob("8_80", "Name=P");
    Module->ReloadSavedJobs();
    EXPECT_THAT(Actions().Hold({IdOf("8")}), IsEmpty());
    // A closed module's jobs are nobody's to change.
    Inside(*Module).Current = false;
    EXPECT_THAT(Actions().Hold({w}), IsEmpty());
    EXPECT_FALSE(waiting->Held());
}

TEST_F(JobActionsTest, DeleteKeepsAJobBeingProcessedAgainOrKeptByTheWorkflow) {
    WriteJob("5_50", "Name=D");
    WriteJob("9_90", "Name=E");
    WriteJob("7_70", "Name=F");
    Module->ReloadSavedJobs();
    Waiting(9, 90);
    // The workflow keeps the spool file of document 70 for a later use.
    auto kept = std::make_shared<TSavedDoc>();
    kept->DocID = 70;
    kept->SaveCount = 1;
    Inside(*Module).SavedDocs.push_back(kept);
    const uint32_t five = IdOf("5");
    EXPECT_THAT(Actions().Delete({five, IdOf("9"), IdOf("7"), 999999}), ElementsAre(five));
    EXPECT_FALSE(FileExists(Module->GetJobDir() + "/5_50"));
    EXPECT_TRUE(FileExists(Module->GetJobDir() + "/9_90"));
    EXPECT_TRUE(FileExists(Module->GetJobDir() + "/7_70"));
    EXPECT_EQ(Rows(), "9 7");
    // The refusals, and the one line for what was done.
    EXPECT_THAT(Logged(),
                ElementsAre(": Job 9 (90) can not be delete", ": Job 7 (70) can not be delete",
                            ": Jobs deleted: 5_50 (D)"));
}

TEST_F(JobActionsTest, ReprocessAndRedirectMakeWaitingJobsAndAFailureKeepsTheRow) {
    WriteJob("5_50", "Name=Again;Color=Cyan;Device=3");
    WriteJob("6_60", "Name=Other;Color=Cyan;Device=3");
    WriteJob("7_70", "Name=Both;Color=Cyan");
    Module->ReloadSavedJobs();
    Inside(*Module).FlowEntries.push_back({"Color=Cyan;Device=4", 23});

    EXPECT_THAT(Actions().Reprocess({IdOf("5")}), ElementsAre(IdOf("5")));
    EXPECT_THAT(InProcess(), ElementsAre("5_50 to 21 devices 3"));
    // The job that made the copy held no store document.
    EXPECT_TRUE(Store->Calls.empty());
    // Redirected to one terminator: the flow entries of that device alone.
    const uint32_t other = IdOf("6");
    EXPECT_THAT(Actions().Redirect({other}, {4}), ElementsAre(other));
    EXPECT_THAT(InProcess(), ElementsAre("5_50 to 21 devices 3", "6_60 to 23 devices 4"));
    // To two terminators: one waiting job per destination.
    const uint32_t both = IdOf("7");
    EXPECT_THAT(Actions().Redirect({both}, {3, 4}), ElementsAre(both));
    EXPECT_THAT(InProcess(), ElementsAre("5_50 to 21 devices 3", "6_60 to 23 devices 4",
                                         "7_70 to 21 devices 3", "7_70 to 23 devices 4"));
    EXPECT_EQ(Rows(), "");

    // A device that is no terminator of the module is refused as such, naming the ones there
    // are, and nothing is sent.
    WriteJob("4_40", "Name=Nowhere;Color=Cyan");
    Module->ReloadSavedJobs();
    const size_t jobs = Module->JobsInProcess().size();
    try {
        Actions().Redirect({IdOf("4")}, {9});
        ADD_FAILURE() << "terminator 9 was taken";
    } catch (const TInvalidArgument& error) {
        EXPECT_STREQ(error.what(), "devices: the module has no terminator 9; its terminators are "
                                   "3 (Proofer), 4 (Plate)");
    }
    EXPECT_EQ(Module->JobsInProcess().size(), jobs);
    EXPECT_NE(Module->Rows().Passed().FindId(IdOf("4")), nullptr);

    // A job whose spool file is gone keeps its row, and its id, where it was.
    WriteJob("8_80", "Name=Gone");
    WriteJob("9_90", "Name=Stays");
    Module->Rows().Passed().Clear();
    Module->ReloadSavedJobs();
    const std::string before = Rows();
    const uint32_t gone = IdOf("8");
    ::unlink((Module->GetJobDir() + "/8_80").c_str());
    EXPECT_THAT(Actions().Reprocess({gone}), IsEmpty());
    EXPECT_EQ(Rows(), before);
    EXPECT_EQ(IdOf("8"), gone);
    ASSERT_FALSE(Logged().empty());
    EXPECT_THAT(Logged().back(), HasSubstr(": Exception in ReprocessDoc (Cannot open the spool "
                                           "file: No such file or directory; job 8_80, file " +
                                           Module->GetJobDir() + "/8_80)"));
}

TEST_F(JobActionsTest, RedirectOffersTheDevicesOfMatchingFlowEntries) {
    WriteJob("5_50", "Name=Cyan;Color=Cyan;Device=4");
    WriteJob("6_60", "Name=Red;Color=Red");
    Module->ReloadSavedJobs();
    // A rule naming two devices enables neither of them.
    Inside(*Module).FlowEntries.push_back({"Color=Cyan;Device=3,4", 23});
    auto enabled = [&](const TJobIds& ids) {
        std::string text;
        for (const TDeviceChoice& choice : Actions().RedirectChoices(ids))
            text += choice.Name + "=" + std::to_string(choice.Terminator) +
                    (choice.Enabled ? "+ " : "- ");
        return text;
    };
    EXPECT_EQ(enabled({IdOf("5")}), "Proofer=3+ Plate=4- ");
    EXPECT_EQ(enabled({IdOf("6")}), "Proofer=3- Plate=4- ");
    Inside(*Module).FlowEntries.push_back({"Color=Red;Device=4", 24});
    EXPECT_EQ(enabled({IdOf("5"), IdOf("6")}), "Proofer=3+ Plate=4+ ");
}

TEST_F(JobActionsTest, RenameRewritesTheSpoolFileAndKeepsEveryDeviceAndBlock) {
    // KX is no terminator of this module: the rewrite keeps it all the same.
    {
        TFileStream file;
        ASSERT_TRUE(file.Open(Module->GetJobDir() + "/5_50", TFileStream::TMode::CreateExclusive));
        ASSERT_TRUE(WriteSpoolHeaderText(file, "Name=Old;FileName=old.rst;Device=KP,KX", 45292.5));
        std::vector<uint8_t> block(100000, 7);
        ASSERT_TRUE(WriteSpoolBlock(file, block, 1));
    }
    const std::string before = ReadTextFile(Module->GetJobDir() + "/5_50");
    const size_t headerLength =
        4 + std::string("Name=Old;FileName=old.rst;Device=KP,KX").size() + 8;
    Module->ReloadSavedJobs();
    const uint32_t id = IdOf("5");

    EXPECT_THAT(Actions().Rename({id}, ""), IsEmpty());
    EXPECT_THAT(Actions().Rename({id}, "New; \"name\""), ElementsAre(id));
    // ";" and the quote became blanks, and the blanks quote the value in the file; the list shows
    // the name as typed.
    EXPECT_EQ(Module->Rows().Passed().FindId(id)->SubItems[siName], "New   name ");
    const std::string header = Header("5_50");
    EXPECT_EQ(header, "Name=\"New   name \";FileName=\"New   name \";Device=KP,KX");
    const std::string after = ReadTextFile(Module->GetJobDir() + "/5_50");
    EXPECT_EQ(after.substr(4 + header.size()), before.substr(headerLength - 8));
    EXPECT_FALSE(FileExists(Module->GetJobDir() + "/5_50_tmp"));

    // In process, only a job waiting to be sent is renamed, its spool file with it.
    WriteJob("4_40", "Name=W");
    TDoc* waiting = Waiting(4, 40);
    TDoc* spooling = Waiting(6, 60, TJobState::Reading);
    const uint32_t w = waiting->ListItem->Id;
    EXPECT_THAT(Actions().Rename({w, spooling->ListItem->Id}, "Fresh; \"one\""), ElementsAre(w));
    EXPECT_EQ(waiting->Name, "\"Fresh   one \"");
    EXPECT_EQ(waiting->ListItem->SubItems[siName], "Fresh   one ");
    EXPECT_EQ(TParams(waiting->DDS).GetItem("FileName", 0), "Fresh   one ");
    EXPECT_EQ(spooling->Name, "W");
    EXPECT_EQ(TParams(Header("4_40")).GetValueText("Name"), "\"Fresh   one \"");

    // A job whose file is gone keeps its name, and the log says why.
    ::unlink((Module->GetJobDir() + "/5_50").c_str());
    EXPECT_THAT(Actions().Rename({id}, "Lost"), IsEmpty());
    EXPECT_EQ(Module->Rows().Passed().FindId(id)->SubItems[siName], "New   name ");
    ASSERT_FALSE(Logged().empty());
    EXPECT_EQ(Logged().back(),
              ": Can not find job 5 (" + Module->GetJobDir() + "/5_50: No such file or directory)");
}

TEST_F(JobActionsTest, CopyMakesTheFolderWithItsParentsOverwritesAndReportsWhatFailed) {
    WriteJob("5_50", "Name=C");
    WriteJob("6_60", "Name=D");
    Module->ReloadSavedJobs();
    ::unlink((Module->GetJobDir() + "/6_60").c_str());
    const std::string folder = Root + "/out/a/b";
    const TCopyResult copied = Actions().Copy({IdOf("5"), IdOf("6")}, folder);
    EXPECT_THAT(copied.Done, ElementsAre(IdOf("5")));
    EXPECT_THAT(copied.Errors, ElementsAre("No such file or directory"));
    EXPECT_EQ(ReadTextFile(folder + "/5_50"), ReadTextFile(Module->GetJobDir() + "/5_50"));
    EXPECT_THAT(Logged(), ElementsAre(": Can not copy job 6 (60) to " + folder +
                                          ": No such file or directory",
                                      ": Jobs copied to " + folder + ": 5_50 (C)"));

    // A file of the same name there is overwritten.
    WriteTextFile(folder + "/5_50", "old");
    EXPECT_THAT(Actions().Copy({IdOf("5")}, folder).Done, ElementsAre(IdOf("5")));
    EXPECT_EQ(ReadTextFile(folder + "/5_50"), ReadTextFile(Module->GetJobDir() + "/5_50"));
    WriteTextFile(Root + "/plain", "x");
    EXPECT_THROW(Actions().Copy({IdOf("5")}, Root + "/plain/sub"), std::runtime_error);
}

TEST_F(JobActionsTest, PauseStartShutDownAndManyJobsEachMakeOneLineNamingWhoAsked) {
    std::vector<uint32_t> ids;
    for (int32_t job = 1; job <= 12; ++job)
        ids.push_back(Waiting(job, job * 10)->ListItem->Id);
    TJobActions actions(*Module, TJobOrigin([] { return std::string("anna (console)"); }));
    // The line stays one line however many jobs: ten named, then how many more.
    EXPECT_EQ(actions.Hold(ids).size(), 12u);
    // Holding them again changes nothing and says nothing.
    EXPECT_EQ(actions.Hold(ids).size(), 12u);
    actions.Pause();
    actions.Resume();
    EXPECT_THAT(actions.Release({ids[0]}), ElementsAre(ids[0]));
    actions.ShutDown();
    // In list order: the newest row on top.
    std::string held;
    for (int32_t job = 12; job >= 3; --job)
        held +=
            (job < 12 ? ", " : "") + std::to_string(job) + "_" + std::to_string(job * 10) + " (W)";
    EXPECT_THAT(Logged(), ElementsAre(": Jobs held by anna (console): " + held + " and 2 more",
                                      ": Paused by anna (console)", ": Started by anna (console)",
                                      ": Jobs released by anna (console): 1_10 (W)",
                                      ": Shut down by anna (console); jobs in process: " + held +
                                          " and 2 more"));
}

// A watcher of many rows asks what changed since its serial and gets that alone.
TEST_F(JobActionsTest, ListSinceMovesOnlyTheRowsThatChangedAndTheIdsRemoved) {
    WriteJob("5_50", "Name=First");
    WriteJob("6_60", "Name=Second");
    WriteJob("7_70", "Name=Third");
    Module->ReloadSavedJobs();
    TDoc* waiting = Waiting(8, 80);
    const TJobChanges all = Actions().ListSince(0);
    ASSERT_EQ(all.Rows.size(), 4u);
    EXPECT_THAT(all.Removed, IsEmpty());
    const uint32_t id8 = Module->Rows().Process().At(0)->Id;
    struct TStep {
        const char* What;
        std::function<void()> Change;
        std::vector<uint32_t> Changed;
        std::vector<uint32_t> Removed;
    };
    const std::vector<TStep> steps = {
        {"nothing", [] {}, {}, {}},
        {"rename a passed job", [&] { Actions().Rename({IdOf("6")}, "Renamed"); }, {IdOf("6")}, {}},
        {"hold the waiting job", [&] { Actions().Hold({id8}); }, {id8}, {}},
        {"priority", [&] { Actions().SetPriority({id8}, 9); }, {id8}, {}},
        {"the job starts sending", [&] { waiting->MoveTo(TJobState::Sending); }, {id8}, {}},
        {"delete a passed job", [&] { Actions().Delete({IdOf("7")}); }, {}, {IdOf("7")}},
    };
    uint64_t serial = all.Serial;
    for (const TStep& step : steps) {
        step.Change();
        const TJobChanges changes = Actions().ListSince(serial);
        std::vector<uint32_t> changed;
        for (const TJobRowView& row : changes.Rows)
            changed.push_back(row.Id);
        EXPECT_EQ(changed, step.Changed) << step.What;
        EXPECT_EQ(changes.Removed, step.Removed) << step.What;
        EXPECT_GE(changes.Serial, serial) << step.What;
        serial = changes.Serial;
    }
}

TEST_F(JobActionsTest, ListSinceAnswersEveryRowOnceTheRemovedLogNoLongerReachesBack) {
    Module->Rows().Passed().Add(TListRow{});
    const uint64_t start = Actions().ListSince(0).Serial;
    for (size_t i = 0; i <= TRowChanges::kRemovedLimit; ++i)
        Module->Rows().Passed().Delete(Module->Rows().Passed().Add(TListRow{}));
    Module->Rows().Passed().Add(TListRow{});
    const TJobChanges changes = Actions().ListSince(start);
    EXPECT_EQ(changes.Rows.size(), 2u);
    EXPECT_THAT(changes.Removed, ElementsAre(0u));
    // A serial the log still covers gets the removals after it alone.
    const TJobChanges recent = Actions().ListSince(changes.Serial - 3);
    EXPECT_EQ(recent.Removed.size(), 1u);
}

TEST_F(JobActionsTest, AllowedActionsFollowTheConsolesRules) {
    WriteJob("5_50", "Name=Poster");
    Module->ReloadSavedJobs();
    TDoc* waiting = Waiting(8, 80);
    TDoc* held = Waiting(9, 90);
    held->SetHeld(true);
    TDoc* sending = Waiting(10, 100, TJobState::Sending);
    const auto id = [](const TDoc* job) { return job->ListItem->Id; };
    using TNames = std::vector<std::string>;
    const std::vector<std::pair<TJobIds, TNames>> cases = {
        {{id(waiting)}, {"hold", "abort", "rename", "priority"}},
        {{id(held)}, {"release", "abort", "rename", "priority"}},
        {{id(sending)}, {"abort", "priority"}},
        {{id(waiting), id(held)}, {"hold", "release", "abort", "rename", "priority"}},
        {{IdOf("5")}, {"delete", "reprocess", "redirect", "rename", "copy"}},
        {{IdOf("5"), id(sending)},
         {"abort", "delete", "reprocess", "redirect", "rename", "priority", "copy"}},
        {{999999}, {}},
        {{}, {}},
    };
    for (const auto& [ids, names] : cases)
        EXPECT_EQ(Actions().AllowedActions(ids), names) << ids.size() << " ids";
    // A module that is not current allows nothing.
    Inside(*Module).Current = false;
    EXPECT_THAT(Actions().AllowedActions({id(waiting), IdOf("5")}), IsEmpty());
}

// What a caller may give the job commands: the bounds are taken, one beyond them refused (that
// each bus method applies them is the adaptor's test); a name of the longest length is written
// so that the next start reads the job again.
TEST_F(JobActionsTest, CommandLimitsTakeTheirBoundsAndANameAtTheBoundIsReadAgain) {
    const std::string longest(SpoolMaxNameLength, 'n');
    const std::string folder(kMaxFolderBytes, 'f');
    EXPECT_NO_THROW(RequireJobPriority("priority", kMinJobPriority));
    EXPECT_NO_THROW(RequireJobPriority("priority", kMaxJobPriority));
    EXPECT_THROW(RequireJobPriority("priority", kMinJobPriority - 1), TInvalidArgument);
    EXPECT_THROW(RequireJobPriority("priority", kMaxJobPriority + 1), TInvalidArgument);
    EXPECT_NO_THROW(RequireJobName("name", longest));
    EXPECT_THROW(RequireJobName("name", longest + "n"), TInvalidArgument);
    EXPECT_NO_THROW(RequireFolderLength("folder", folder));
    EXPECT_THROW(RequireFolderLength("folder", folder + "f"), TInvalidArgument);
    EXPECT_NO_THROW(RequireIdCount("ids", kMaxJobIdsPerCall));
    EXPECT_THROW(RequireIdCount("ids", kMaxJobIdsPerCall + 1), TInvalidArgument);

    WriteJob("5_50", "Name=Short");
    Module->ReloadSavedJobs();
    EXPECT_THAT(Actions().Rename({IdOf("5")}, longest), ElementsAre(IdOf("5")));
    Module->Rows().Passed().Clear();
    Module->ReloadSavedJobs();
    ASSERT_NE(IdOf("5"), 0u) << Rows();
    EXPECT_EQ(Module->Rows().Passed().FindId(IdOf("5"))->SubItems[siName], longest);
}

} // namespace
} // namespace raduvuz::test
