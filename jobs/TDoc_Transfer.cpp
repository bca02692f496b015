// Design notes for the job transfer state machine
//
// A job (TDoc) has three states:
//   0  reading its input document from the store. A transferring job (SpoolMode false) switches
//      each block straight into its output document (SwitchNextBlock) and copies it into the
//      spool file when the module keeps copies; a spooling job only copies (SpoolNextBlock).
//   1  waiting: its spool file is complete; CheckWaitingDoc chooses and checks the destination
//      and, once the destination is ready, creates the output document.
//   2  sending: SendNextBlock copies one block of the spool file into the output document.
// Who moves a job: the intake makes a job in state 0 (InitReadDoc); the processing cycle calls
// Execute for one step at a time; after a spooling job's last block the cycle makes waiting jobs
// in state 1 from it (SpoolToWait) and releases it; CheckWaitingDoc alone moves 1 -> 2. A job that
// finishes in state 0 (transfer) or 2, or whose step fails, is ended by the cycle (FreeJob).
// What a step may do: one block, or one attempt to start sending. A step never blocks on the
// store: when nothing is ready it sets Waiting and returns true. The one wait is InitReadDoc's
// WCreateDoc retry, which keeps the user interface served while it waits. Every step catches
// its exceptions, logs "Exception in <step> (<message>; job <JobID>_<DocID>, file <spool file>)"
// and reports failure.
// Progress: each block a step moves is counted (Moved, from 0 in each state) against the job's
// size (DataSize) and shown in its row; Stage() names where the job stands for the operator,
// "reading" in state 0 until the store has given the first block.

#include "common/CommaText.h"
#include "common/DateTime.h"
#include "common/Language.h"
#include "common/TParams.h"
#include "common/Utils.h"
#include "jobs/IJobHost.h"
#include "jobs/SpoolFile.h"
#include "jobs/TDoc.h"
#include "jobs/TJobListModel.h"
#include "jobs/TMPrec.h"
#include "jobs/TSavedDoc.h"
#include "jobs/WaitList.h"
#include "platform/System.h"
#include "platform/TFileStream.h"
#include "platform/WholeFile.h"
#include "services/Destinations.h"
#include "services/TServerClient.h"
#include "services/TStoreClient.h"

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace raduvuz {

namespace {

constexpr int kCreateDocAttempts = 1000001;

} // namespace

bool IsHeldDevice(const IJobHost& host, const std::string& device) {
    const int32_t term = StrToIntDef(device, 0);
    const TTaggedList& held = host.GetHoldList();
    return std::any_of(held.begin(), held.end(),
                       [&](const TTaggedString& entry) { return entry.Tag == term; });
}

void TDoc::ReportWorking() {
    if (Host.GetStatus() != 2)
        Host.ChangeStatus(2);
}

void TDoc::SetSizeTextFromStream() {
    SizeText = ::raduvuz::SizeText(SpoolStream->Size());
    if (ListItem)
        Host.ProcessRows().SetSizeText(ListItem, SizeText);
    SpoolStream.reset();
}

bool TDoc::DestinationReady(int32_t dest) const {
    return ::raduvuz::DestinationReady(Host.GetServerObject(), Host.GetStoreObject(), dest);
}

bool TDoc::DestinationOnThisComputer(int32_t dest) const {
    return SameComputerName(VariantToText(Host.GetServerObject().GetValue(dest, 7)),
                            Host.GetComputerName());
}

bool TDoc::InitReadDoc() {
    try {
        ReadFields();
        std::string dests;
        TParams(DDS).SelectEntries(Host.GetFlowEntries(), Devices, dests);
        SetDests(dests);
        const std::vector<std::string> devices = ReadCommaText(Devices);
        // Multiplexed and held jobs always go through the spool file.
        if (Host.GetSettings().Multiplex ||
            std::any_of(devices.begin(), devices.end(),
                        [&](const std::string& device) { return IsHeldDevice(Host, device); }))
            SpoolMode = true;

        if (SpoolMode || Host.GetSettings().DeletePolicy != 0) {
            // A job whose header no reader would take cannot be spooled; passed on, it goes
            // without its copy.
            const std::string tooLong =
                SpoolHeaderProblem(DevicesToTermKeys(DDS, Host.GetTermKeys()));
            if (SpoolMode && !tooLong.empty())
                throw std::runtime_error("The job cannot be spooled: " + tooLong);
            const std::string path = SpoolFilePath();
            if (FileExists(path))
                SetAsideSpoolFile(path);
            SpoolStream = std::make_unique<TFileStream>();
            if (!SpoolStream->Open(path, TFileStream::TMode::CreateExclusive))
                throw std::runtime_error("Cannot create the spool file: " + LastErrorText());
            // A spooling job waits for room on a full disk; a passing one goes without its copy.
            if (SpoolMode)
                WriteHeaderOrWait();
            else if (!WriteSpoolHeader(*SpoolStream, DDS, Host.GetTermKeys(), FCreated))
                DropSpoolCopy(errno);
        }

        if (!SpoolMode) {
            for (int attempt = 1;; ++attempt) {
                OutDocID = Host.GetStoreObject().WCreateDoc(Host.GetSettings().ModuleNumber, JobID,
                                                            FDests, DDS);
                if (OutDocID == -1)
                    return false;
                if (OutDocID > 0)
                    break;
                if (attempt >= kCreateDocAttempts) {
                    LogJob(LanguageFormat(1744, {FileName}, "File %s aborted by timeout"));
                    return false;
                }
                if (!Host.WaitPumping(Host.GetSettings().RetryDelayMs))
                    return false;
            }
        }

        AddToList(SpoolMode ? 2 : 1);
        ReportWorking();
        if (SpoolMode)
            LogJob(LanguageFormat(1745, {FileName}, "File %s spooling"));
        else
            LogJob(LanguageFormat(1746, {FileName}, "File %s transferring"));
        return true;
    } catch (const TStoreGone& e) {
        Host.StoreGone(e.what());
        LeaveGoneStore();
        return false;
    } catch (const std::exception& e) {
        LogException(Host, "InitReadDoc", e, this);
        return false;
    }
}

bool TDoc::Execute(bool& done) {
    try {
        if (Host.GetSettings().Event)
            Host.WaitGoEvent();
        bool result = false;
        switch (FState) {
        case TJobState::Reading:
            result = SpoolMode ? SpoolNextBlock(done) : SwitchNextBlock(done);
            break;
        case TJobState::Waiting:
            result = CheckWaitingDoc();
            break;
        case TJobState::Sending:
            result = SendNextBlock(done);
            break;
        }
        SetLastTime(Now());
        return result;
    } catch (const std::exception& e) {
        LogException(Host, "Execute", e, this);
        return false;
    }
}

void TDoc::CloseOutputBlock(TStoreClient& store) {
    // A block before the last goes without waiting; the job's next block call looks at its
    // answer. The last one ends the documents with it, and that is waited for: the job is done
    // only once the next module has its whole document.
    if (LastBlock == 0) {
        BlockClosing = store.WCloseBlockPosted(OutDocID, BlockHandle, LastBlock);
        return;
    }
    store.WFinishDoc(Host.GetSettings().ModuleNumber, State() == TJobState::Reading ? DocID : 0,
                     OutDocID, BlockHandle);
}

bool TDoc::SwitchNextBlock(bool& done) {
    try {
        TStoreClient& store = Host.GetStoreObject();
        SetWaiting(false);
        if (FHeld)
            return true;
        const int32_t module = Host.GetSettings().ModuleNumber;
        BlockName = Switching ? store.SwitchedBlock(Switching, BlockSize, BlockHandle, LastBlock)
                              : store.RWSwitchBlock(module, DocID, OutDocID, BlockSize, BlockHandle,
                                                    LastBlock);
        // The store answers one connection's calls in order: the close of the block before has
        // its answer by now, and a failed one fails this step as it would have failed its own.
        store.FinishPosted(BlockClosing, "WCloseBlock");
        if (BlockName.empty()) {
            // A handle without a block is the store's failure, not "nothing yet".
            SetWaiting(BlockHandle == 0);
            return FWaiting;
        }
        // The copy is the module's own; the next module gets its document without it.
        if ((SpoolMode || Host.GetSettings().DeletePolicy != 0) && !SpoolCopyDropped &&
            !(SpoolStream && WriteSpoolBlock(*SpoolStream, BlockName, BlockSize, LastBlock)))
            DropSpoolCopy(SpoolStream ? errno : 0);
        CloseOutputBlock(store);
        // The store sees the same calls in the same order; the module asks before it goes round
        // its cycle instead of after.
        if (LastBlock == 0)
            Switching = store.RWSwitchBlockPosted(module, DocID, OutDocID);
        CountMoved(BlockSize);
        if (LastBlock != 0) {
            // Without a size among its parameters the job's size is what it moved.
            if (DataSize < 0)
                DataSize = Moved;
            if (SpoolStream)
                SetSizeTextFromStream();
            TestSaved();
            DocID = 0;
            OutDocID = 0;
            LogJob(LanguageFormat(1758, {FileName}, "File %s transferred"));
            done = true;
        }
        return true;
    } catch (const TStoreGone& e) {
        StoreGoneInStep(e);
        return true;
    } catch (const std::exception& e) {
        LogException(Host, "SwitchNextBlock", e, this);
        return false;
    }
}

bool TDoc::SpoolNextBlock(bool& done) {
    try {
        TStoreClient& store = Host.GetStoreObject();
        const int32_t module = Host.GetSettings().ModuleNumber;
        SetWaiting(false);
        if (HeaderPending && !WriteHeaderOrWait())
            return true;
        // A block the full disk turned away is written again before the store is asked for more.
        if (!BlockPending) {
            BlockName = store.RGetBlock(module, DocID, BlockSize, BlockHandle, LastBlock);
            // As in passing on: the answer to the block before's close is here by now.
            store.FinishPosted(BlockClosing, "RCloseBlock");
            if (BlockName.empty()) {
                SetWaiting(BlockHandle == 0);
                return FWaiting;
            }
        }
        const int64_t at = SpoolStream ? SpoolStream->Position() : 0;
        const bool ok =
            SpoolStream && WriteSpoolBlock(*SpoolStream, BlockName, BlockSize, LastBlock);
        if (!ok && WaitForRoom(SpoolStream ? errno : 0, at)) {
            BlockPending = true;
            return true;
        }
        if (ok && BlockPending) {
            BlockPending = false;
            Host.Log("Job " + JobText() + ": there is room on the disk again; spooling goes on");
        }
        // A block that could not be copied stays with the store until Free closes the document.
        if (ok) {
            BlockClosing = store.RCloseBlockPosted(module, DocID, BlockHandle);
            CountMoved(BlockSize);
        }
        if (LastBlock != 0 && ok) {
            if (DataSize < 0)
                DataSize = Moved;
            // The file and its name are on the disk before the job counts as spooled, so that
            // the copies made from it can be sent after a crash.
            // Both flushes are one wait: the file's, then its folder's.
            std::string why;
            std::string flushError;
            bool flushed = false;
            bool folderFlushed = false;
            // They run aside while events are served, which may end the job: they touch
            // nothing of it.
            const int fd = SpoolStream->Descriptor();
            const std::string folder = Host.GetSettings().JobDir;
            const std::function<bool()> flushBoth = [&, fd] {
                flushed = fd >= 0 && SyncFile(fd, false);
                flushError = flushed ? std::string() : LastErrorText();
                folderFlushed = flushed && FlushFolder(folder, &why);
                return folderFlushed;
            };
            SpoolFlushing = true;
            if (const TDiskWait& wait = Host.GetDiskWait())
                wait(flushBoth);
            else
                flushBoth();
            SpoolFlushing = false;
            // The last block's close had the flushes' time to be answered.
            store.FinishPosted(BlockClosing, "RCloseBlock");
            // A Close that came in during the flushes gave the document back to the store and
            // set the file aside.
            if (InputGoesBack) {
                SpoolStream.reset();
                return false;
            }
            if (!flushed)
                throw std::runtime_error("Cannot flush the spool file to the disk: " + flushError);
            if (!folderFlushed)
                throw std::runtime_error("Cannot flush the job folder to the disk: " + why);
            SetSizeTextFromStream();
            // The waiting jobs find the spool file by this number. The input document stays
            // open until they are in the journal: the cycle closes it when it releases this job.
            OutDocID = DocID;
            LogJob(LanguageFormat(1757, {FileName}, "File %s spooled"));
            done = true;
        }
        return ok;
    } catch (const TStoreGone& e) {
        StoreGoneInStep(e);
        return true;
    } catch (const std::exception& e) {
        LogException(Host, "SpoolNextBlock", e, this);
        return false;
    }
}

bool TDoc::CheckWaitingDoc() {
    // A failure of the last check was logged; this one's is logged only if that one got through.
    const bool failedBefore = PeerCallFailed;
    PeerCallFailed = false;
    try {
        SetWaiting(false);
        if (RetryCount > 300)
            return false;
        if (FHeld)
            return true;
        if (!ChooseDestination()) {
            SetWaiting(true);
            return true;
        }
        const int32_t dest = StrToIntDef(FDests, 0);
        if (dest == 0 || Devices.empty())
            return true;
        if (!FReloaded && !DestinationReady(dest)) {
            SetWaiting(true);
            return true;
        }
        if (!OpenSpoolForSending())
            return true;
        if (Host.GetSettings().WorkMode != 0)
            OfferSpoolFile(dest);
        return CreateOutput();
    } catch (const TStoreGone& e) {
        StoreGoneInStep(e);
        return true;
    } catch (const TDispatchError& e) {
        PeerFailedWhileWaiting(e, failedBefore);
        return true;
    } catch (const std::exception& e) {
        LogException(Host, "CheckWaitingDoc", e, this);
        return false;
    }
}

bool TDoc::ChooseDestination() {
    if (FReloaded || !Host.GetSettings().Multiplex || !Host.Multiplexes())
        return true;
    const std::string dest = Host.ChooseDestination(
        FDests, Name, JobID, Color, [this](int32_t d) { return DestinationReady(d); });
    if (dest.empty())
        return false;
    SetDests(dest);
    return true;
}

bool TDoc::OpenSpoolForSending() {
    SpoolStream = std::make_unique<TFileStream>();
    if (!SpoolStream->Open(SpoolFilePath(), TFileStream::TMode::ReadDenyWrite))
        throw std::runtime_error("Cannot open the spool file: " + LastErrorText());
    std::string headerText;
    TDateTime created = FCreated;
    if (!ReadSpoolHeader(*SpoolStream, Host.GetTermKeys(), headerText, created)) {
        LogJob(LanguageFormat(1748, {Name}, "Error load file %s [DDS]"));
        SpoolStream.reset();
        ++RetryCount;
        SetWaiting(true);
        return false;
    }
    SetCreated(created);
    return true;
}

void TDoc::OfferSpoolFile(int32_t dest) {
    TParams dds(DDS);
    for (const TTaggedString& entry : Host.GetFlowEntries()) {
        if (entry.Tag != dest || AsciiUpper(entry.Text).find("ACCEPTSPOOL") == std::string::npos)
            continue;
        const TParams entryParams(entry.Text);
        if (ItemInList(FDests, entryParams.GetValueText("AcceptSpool")) && entryParams.Match(DDS) &&
            DestinationOnThisComputer(dest)) {
            dds.SetValue("SpoolFile", SpoolFilePath());
            SendAsPath = true;
        }
    }
    dds.SetValue("spooled", "yes");
    DDS = dds.GetText();
}

bool TDoc::CreateOutput() {
    OutDocID =
        Host.GetStoreObject().WCreateDoc(Host.GetSettings().ModuleNumber, JobID, FDests, DDS);
    if (OutDocID <= 0) {
        LogJob(LanguageFormat(1749, {Name}, "Error load file %s [wcreate doc]"));
        SpoolStream.reset();
        ++RetryCount;
        SetWaiting(true);
        return true;
    }
    if (ListItem)
        Host.ProcessRows().SetImage(ListItem, 1);
    MoveTo(TJobState::Sending, LanguageFormat(1750, {FileName}, "File %s sending"));
    ReportWorking();
    return true;
}

bool TDoc::SendNextBlock(bool& done) {
    try {
        TStoreClient& store = Host.GetStoreObject();
        SetWaiting(false);
        if (SendAsPath) {
            BlockName = store.WGetBlock(OutDocID, 1, BlockHandle);
            if (BlockName.empty()) {
                if (BlockHandle == -1) {
                    store.WAbortDoc(OutDocID);
                    Host.Log("Error send file path [memory] " + FileName);
                    return false;
                }
                SetWaiting(true);
                return true;
            }
            // The next module reads the spool file itself; the block's byte is not written.
            LastBlock = 1;
            CloseOutputBlock(store);
            OutDocID = 0;
            LogJob(LanguageFormat(1752, {FileName}, "File %s sent (transfer spool file)"));
            done = true;
            return true;
        }

        if (!SpoolStream || !ReadSpoolBlockSize(*SpoolStream, BlockSize)) {
            store.WAbortDoc(OutDocID);
            LogJob(LanguageFormat(1753, {FileName}, "Error send file %s [block size]"));
            return false;
        }
        BlockName = store.WGetBlock(OutDocID, BlockSize, BlockHandle);
        store.FinishPosted(BlockClosing, "WCloseBlock");
        if (BlockName.empty()) {
            if (BlockHandle == -1) {
                store.WAbortDoc(OutDocID);
                LogJob(LanguageFormat(1754, {FileName}, "Error send file %s [memory]"));
                return false;
            }
            // The size is read again next time.
            SpoolStream->Seek(SpoolStream->Position() - 4);
            SetWaiting(true);
            return true;
        }
        int32_t last = 0;
        if (!ReadSpoolBlock(*SpoolStream, BlockName, BlockSize, last)) {
            store.WAbortDoc(OutDocID);
            LogJob(LanguageFormat(1755, {FileName}, "Error send file %s [load block]"));
            return false;
        }
        LastBlock = last;
        CloseOutputBlock(store);
        CountMoved(BlockSize);
        if (LastBlock != 0) {
            TestSaved();
            LogJob(LanguageFormat(1756, {FileName}, "File %s sent"));
            OutDocID = 0;
            done = true;
            SpoolStream.reset();
            if (FReloaded && ListItem) {
                TListRow* row = ListItem;
                ListItem = nullptr;
                Host.ProcessRows().Remove(row);
            }
        }
        return true;
    } catch (const TStoreGone& e) {
        StoreGoneInStep(e);
        return true;
    } catch (const std::exception& e) {
        LogException(Host, "SendNextBlock", e, this);
        return false;
    }
}

void TDoc::TestSaved() {
    try {
        if (OutDocID <= 0 || SaveCount <= 0)
            return;
        auto saved = std::make_shared<TSavedDoc>(
            TSavedDoc{DocID, OutDocID, JobID, SaveCount, FPriority, DDS, Now(), FCreated, Devices,
                      FileType, FileName, Name, Page, Color, Size, SizeText});
        if (!Host.KeepSavedDoc(std::move(saved)))
            return;
        LogJob(LanguageFormat(1751, {FileName, OutDocID, DocID}, "Document %s (%d-%d) saved"));
    } catch (const std::exception& e) {
        LogException(Host, "TestSaved", e, this);
    }
}

} // namespace raduvuz
