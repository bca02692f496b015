#include "CycleTestSupport.h"

#include "common/DateTime.h"
#include "jobs/TDoc.h"
#include "jobs/TSavedDoc.h"
#include "platform/System.h"
#include "support/ModuleInside.h"

#include <fcntl.h>
#include <unistd.h>

namespace raduvuz::test {
namespace {

// Noon of a day in December 2025: whole minutes before it are whole seconds in the rows.
constexpr TDateTime kNoon = 46000.5;
constexpr double kMinute = 1.0 / 1440;

// The module with a clock and free space of the test's own, a job folder, a preview folder and
// passed jobs made by hand: a spool file and a completed row dated some minutes back; and the
// records of documents the workflow keeps.
class RetentionTest : public TJobFolderTest {
protected:
    void SetUp() override {
        TJobFolderTest::SetUp();
        Inside(*Module).PreviewDir = Root + "/preview";
        Process.Clock = [this] { return Clock; };
    }

    // A passed job whose row says it passed minutesAgo; its spool file has size bytes (sparse).
    TListRow* Passed(int32_t job, double minutesAgo, int64_t size = 16) {
        const std::string name = std::to_string(job) + "_" + std::to_string(job * 10);
        const int fd = ::open((Module->GetJobDir() + "/" + name).c_str(), O_CREAT | O_WRONLY, 0644);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::ftruncate(fd, size), 0);
        ::close(fd);
        ForceDirectories(Module->GetPreviewDir() + "/" + std::to_string(job));
        WriteTextFile(Module->GetPreviewDir() + "/" + std::to_string(job) + "/page1.png", "png");
        const TDateTime at = Clock - minutesAgo * kMinute;
        TListRow row;
        row.Caption = std::to_string(job);
        const std::string& n = row.Caption;
        row.SubItems = {n + "0",          "Job" + n, "1",  "Cyan", ShortDateText(at),
                        LongTimeText(at), "RST",     "16", "",     ""};
        return Module->Rows().Passed().Add(row);
    }
    // The jobs whose spool files are still there, of those from 1 to 9.
    std::string Kept() const {
        std::string jobs;
        for (int32_t job = 1; job <= 9; ++job)
            if (FileExists(Module->GetJobDir() + "/" + std::to_string(job) + "_" +
                           std::to_string(job * 10)))
                jobs += (jobs.empty() ? "" : " ") + std::to_string(job);
        return jobs;
    }
    void Save(int32_t doc, int32_t count, double minutesAgo) {
        auto record = std::make_shared<TSavedDoc>();
        record->DocID = doc;
        record->OutDocID = doc + 1;
        record->SaveCount = count;
        record->SavedAt = Clock - minutesAgo * kMinute;
        record->FileName = "saved" + std::to_string(doc);
        Inside(*Module).SavedDocs.push_back(record);
    }

    TDateTime Clock = kNoon;
};

TEST_F(RetentionTest, AgeRuleDeletesRowsOfKeepTimeMinutesButNotThoseInUse) {
    Inside(*Module).DeletePolicy = 1;
    Inside(*Module).KeepTime = 60;
    Passed(1, 59);
    Passed(2, 60);
    Passed(3, 600);
    Passed(4, 600);
    Passed(5, 600);
    // 3 is kept by the workflow, 4 still has a copy in process, 5's preview is still shown.
    Save(30, 1, 0);
    TListRow copy = *Module->Rows().Passed().At(3);
    copy.Id = 0;
    Module->Rows().Process().Add(copy);
    Server->Define("IsJobUse", [](const std::vector<TVariant>& args) {
        return TCallResult{VariantToInt(args.at(1)) == 5, {}};
    });

    Module->RetentionPass();
    EXPECT_EQ(Rows(), "1 3 4");
    EXPECT_EQ(Kept(), "1 3 4");
    EXPECT_FALSE(DirectoryExists(Root + "/preview/2"));
    EXPECT_TRUE(DirectoryExists(Root + "/preview/5"));
    const TDateTime at = Clock - 60 * kMinute;
    EXPECT_EQ(Logged(), (std::vector<std::string>{": Job time is expired 2 (Job2). Job deleted. " +
                                                      ShortDateText(at) + " " + LongTimeText(at),
                                                  ": Job time is expired 5 (Job5). Job deleted. " +
                                                      ShortDateText(Clock - 600 * kMinute) + " " +
                                                      LongTimeText(Clock - 600 * kMinute)}));

    // Policy 0 takes every row that nothing uses, whatever its age; a row without its file goes
    // quietly.
    Inside(*Module).DeletePolicy = 0;
    Window.LogLines.clear();
    ::unlink((Module->GetJobDir() + "/1_10").c_str());
    Passed(6, 0);
    Module->RetentionPass();
    EXPECT_EQ(Rows(), "3 4");
    EXPECT_EQ(Logged(), std::vector<std::string>{": Job 6 (Job6) deleted"});
}

TEST_F(RetentionTest, LowDiskRuleDeletesTheOldestUntilEnoughIsFree) {
    Inside(*Module).DeletePolicy = 3;
    Inside(*Module).FreeSpace = 1000;
    FreeKb = 900 * 1024;
    Passed(1, 10, int64_t{300} << 20);
    Passed(2, 30, int64_t{300} << 20);
    Passed(3, 90, int64_t{300} << 20);
    // The oldest is kept by the workflow: the next oldest is the one that goes.
    Save(30, 1, 0);
    Module->RetentionPass();
    EXPECT_EQ(Rows(), "1 3");
    EXPECT_EQ(Kept(), "1 3");
    EXPECT_EQ(Logged(), std::vector<std::string>{": Low disk space. Job deleted 2 (Job2)"});

    // Enough free space: nothing goes, however old.
    FreeKb = 1000 * 1024;
    Module->RetentionPass();
    EXPECT_EQ(Rows(), "1 3");
}

TEST_F(RetentionTest, SavedRecordsTimeOutOnlyWhileTheWorkflowKeepsThem) {
    Inside(*Module).DeletePolicy = 2;
    Save(10, 1, 180);
    Save(20, 1, 179);
    Save(30, 0, 10000);
    Module->RetentionPass();
    ASSERT_EQ(Inside(*Module).SavedDocs.size(), 2u);
    EXPECT_EQ(Inside(*Module).SavedDocs[0]->DocID, 20);
    EXPECT_EQ(Inside(*Module).SavedDocs[1]->DocID, 30);
    EXPECT_EQ(Logged(), std::vector<std::string>{": Delete saved doc (timeout) saved10"});
}

TEST_F(RetentionTest, AnUnreadableDateEndsThePassAndLaterRowsWait) {
    Inside(*Module).DeletePolicy = 1;
    Inside(*Module).KeepTime = 1;
    Passed(1, 100);
    Module->Rows().Passed().SetSubItem(Passed(2, 100), siDate, "soon");
    Passed(3, 100);
    Module->RetentionPass();
    EXPECT_EQ(Rows(), "2 3");
    EXPECT_EQ(Kept(), "2 3");
}

TEST_F(RetentionTest, TimerRunsThePassOnceAMinuteAndUnderLowDiskEveryTime) {
    Inside(*Module).Paused = false;
    Inside(*Module).DeletePolicy = 1;
    Inside(*Module).KeepTime = 5;
    Module->TimerTimer();
    Passed(1, 5);
    // Within the same minute the timer does not pass again.
    Clock += 0.5 * kMinute;
    Module->TimerTimer();
    EXPECT_EQ(Rows(), "1");
    Clock += 0.5 * kMinute;
    Module->TimerTimer();
    EXPECT_EQ(Rows(), "");

    // Policy 2 never passes by itself.
    Inside(*Module).DeletePolicy = 2;
    Passed(2, 5);
    Clock += 10 * kMinute;
    Module->TimerTimer();
    EXPECT_EQ(Rows(), "2");

    // Policy 3 passes at every timer event while the free space is below the threshold.
    Inside(*Module).DeletePolicy = 3;
    Inside(*Module).FreeSpace = 200;
    FreeKb = 300 * 1024;
    Module->TimerTimer();
    EXPECT_EQ(Rows(), "2");
    FreeKb = 150 * 1024;
    Module->TimerTimer();
    EXPECT_EQ(Rows(), "");
}

TEST_F(RetentionTest, KillWithPlentyOfSpaceKeepsLowDiskRowsButRemovesTheFolder) {
    Inside(*Module).DeletePolicy = 3;
    Inside(*Module).FreeSpace = 100;
    Passed(1, 500);
    Module->Kill();
    EXPECT_EQ(Rows(), "1");
    EXPECT_FALSE(DirectoryExists(Module->GetJobDir()));

    // Under an age rule Kill deletes every passed job first, as if all had timed out.
    Inside(*Module).Current = true;
    Inside(*Module).DeletePolicy = 1;
    Inside(*Module).KeepTime = 1440;
    ForceDirectories(Module->GetJobDir());
    Module->Rows().Passed().Clear();
    Passed(2, 0);
    Module->Kill();
    EXPECT_EQ(Rows(), "");
    EXPECT_FALSE(DirectoryExists(Module->GetJobDir()));
}

TEST_F(RetentionTest, AbortingOneOfSeveralCopiesKeepsTheSpoolFile) {
    const std::string file = Module->GetJobDir() + "/4_40";
    WriteTextFile(file, "spool");
    ForceDirectories(Module->GetPreviewDir() + "/4");
    const std::vector<TDoc*> copies = {Waiting(4, 40), Waiting(4, 40)};
    EXPECT_TRUE(Module->AbortJob(copies[0]->ListItem));
    EXPECT_TRUE(copies[0]->AbortRequested());
    EXPECT_TRUE(FileExists(file));
    // The tick frees the aborted copy before its pick; the last copy's abort takes the file and
    // the preview.
    EXPECT_EQ(Module->SelectJob(), copies[1]);
    EXPECT_TRUE(LogHas("Document W aborted at "));
    EXPECT_TRUE(Module->AbortJob(copies[1]->ListItem));
    EXPECT_FALSE(FileExists(file));
    EXPECT_FALSE(DirectoryExists(Module->GetPreviewDir() + "/4"));
    EXPECT_EQ(Module->SelectJob(), nullptr);
    ASSERT_TRUE(Module->JobsInProcess().empty());

    // A passed row of the same job keeps the file too.
    WriteTextFile(file, "spool");
    TDoc* again = Waiting(4, 40);
    TListRow passed = *again->ListItem;
    passed.Id = 0;
    passed.Job = nullptr;
    Module->Rows().Passed().Add(passed);
    EXPECT_TRUE(Module->AbortJob(again->ListItem));
    EXPECT_TRUE(FileExists(file));

    TListRow stranger;
    EXPECT_FALSE(Module->AbortJob(&stranger));
}

TEST_F(RetentionTest, SaveDocCountsKeepRequestsThatDeleteSavedDocReleases) {
    TDoc* job = Waiting(130, 131, TJobState::Sending);
    job->FileName = "Kept.prn";
    job->OutDocID = 555;
    EXPECT_FALSE(Module->SaveDoc(556));
    EXPECT_TRUE(Inside(*Module).SavedDocs.empty());

    // Two keep requests need two releases; the record stays saved in between.
    EXPECT_TRUE(Module->SaveDoc(555));
    EXPECT_TRUE(LogHas("Document Kept.prn (555-131) saved"));
    EXPECT_TRUE(Module->SaveDoc(555));
    EXPECT_EQ(job->SaveCount, 2);
    // The end of the job offers its record once more; it stays one.
    job->TestSaved();
    ASSERT_EQ(Inside(*Module).SavedDocs.size(), 1u);
    Module->DeleteSavedDoc(555);
    ASSERT_EQ(Inside(*Module).SavedDocs.size(), 1u);
    EXPECT_EQ(Inside(*Module).SavedDocs[0]->SaveCount, 1);
    EXPECT_TRUE(Module->SavedJobInUse("131"));
    Module->DeleteSavedDoc(555);
    EXPECT_TRUE(Inside(*Module).SavedDocs.empty());
    EXPECT_FALSE(Module->SavedJobInUse("131"));
    EXPECT_TRUE(LogHas("Delete saved doc Kept.prn"));
    Inside(*Module).DeletePolicy = 0;
    EXPECT_FALSE(Module->SaveDoc(555));
}

TEST_F(RetentionTest, LoadDocMakesAKeptOutputDocumentAgainFromItsSpoolFile) {
    WriteJob("230_231", "Name=L");
    Store->Answers["WCreateDoc"] = TCallResult{int32_t(42), {}};
    auto record = std::make_shared<TSavedDoc>();
    record->DocID = 231;
    record->JobID = 230;
    record->OutDocID = 900;
    record->Devices = "3";
    Inside(*Module).SavedDocs.push_back(record);

    EXPECT_EQ(Module->LoadDoc(901, 12), -1);
    EXPECT_TRUE(LogHas("Can not load document 901. Document not found"));
    EXPECT_GT(Module->LoadDoc(900, 12), 0);
}

} // namespace
} // namespace raduvuz::test
