#include "CycleTestSupport.h"

#include "jobs/SpoolFile.h"
#include "jobs/TDoc.h"
#include "jobs/TSavedDoc.h"
#include "platform/System.h"
#include "platform/TFileStream.h"
#include "support/ModuleInside.h"

namespace raduvuz::test {
namespace {

using StoreTest = TJobFolderTest;

TEST_F(StoreTest, ReloadRebuildsTheCompletedListFromJobFiles) {
    WriteJob("5_50", "Name=First;Page=1;Color=Cyan;File=a.tif;Size=2048;Device=3,4");
    WriteJob("6_60", "Page=2;Color=Black;File=b.tif;Size=10");
    WriteJob("7_x", "Name=Skipped");
    WriteJob("nounderscore", "Name=Skipped");
    WriteJob("0_70", "Name=Skipped");
    Inside(*Module).LastInTop = false;
    Module->ReloadSavedJobs();

    TJobListModel& completed = Module->Rows().Passed();
    ASSERT_EQ(completed.Count(), 2);
    const TListRow* first = completed.At(0)->Caption == "5" ? completed.At(0) : completed.At(1);
    const TListRow* second = first == completed.At(0) ? completed.At(1) : completed.At(0);
    ASSERT_EQ(first->SubItems.size(), static_cast<size_t>(siCount));
    EXPECT_EQ(first->SubItems[siName], "First");
    EXPECT_EQ(first->SubItems[siType], "A.TIF");
    EXPECT_EQ(first->SubItems[siDestination], "Proofer, Plate");
    EXPECT_EQ(first->SubItems[siDev], "KP, KL");
    EXPECT_EQ(first->ImageIndex, -1);
    EXPECT_EQ(second->Caption, "6");
    EXPECT_EQ(second->SubItems[siName], "Unknown");
    EXPECT_EQ(second->SubItems[siDestination], "");
    EXPECT_EQ(second->SubItems[siDev], "");
}

TEST_F(StoreTest, SaveDocCountsKeepRequestsThatDeleteSavedDocReleases) {
    TDoc* job = Inside(*Module).Jobs.Add(
        TDoc::Create(*Module, true, 131, 130, "Name=Kept", TJobState::Sending));
    job->FileName = "Kept.prn";
    job->OutDocID = 555;
    EXPECT_FALSE(Module->SaveDoc(556));
    EXPECT_TRUE(Inside(*Module).SavedDocs.empty());

    // Two keep requests need two releases; the record stays saved in between.
    EXPECT_TRUE(Module->SaveDoc(555));
    EXPECT_TRUE(Module->SaveDoc(555));
    EXPECT_EQ(job->SaveCount, 2);
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

TEST_F(StoreTest, LoadDocMakesAKeptOutputDocumentAgainFromItsSpoolFile) {
    WriteJob("230_231", "Name=L");
    auto store = std::make_shared<TInProcessObject>();
    store->Define("WCreateDoc", [](const std::vector<TVariant>&) {
        return TCallResult{int32_t(42), {}};
    });
    Process.StoreObject = TStoreClient(store);
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
