#pragma once

#include "common/Types.h"
#include "jobs/TJobSettings.h"
#include "jobs/TProcessRows.h"
#include "platform/WholeFile.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace raduvuz {

class TDoc;
class TServerClient;
class TStoreClient;
class TWaitJournal;
struct TSavedDoc;

// What a job needs of the module it belongs to. The module implements it; a job is given its
// host when it is made and keeps it for life, so it can be run (and tested) against any host.
// Everything runs on the one user-interface thread.
class IJobHost {
public:
    virtual ~IJobHost() = default;

    // The module's settings, as one value that the job only reads.
    virtual const TJobSettings& GetSettings() const = 0;
    virtual std::string GetComputerName() const = 0;
    // Initialised and not closed: only then does a job that ends update the module's lists and
    // tell the server.
    virtual bool IsCurrent() const = 0;

    // The module's status: Status := status, reported to the server with the Paused flag.
    virtual int32_t GetStatus() const = 0;
    virtual void ChangeStatus(int32_t status) = 0;
    // The module's one log routine.
    virtual void Log(const std::string& text) = 0;
    // The same for a line that says something failed.
    virtual void LogFailure(const std::string& text) { Log(text); }

    // Where jobs go: destinations with their rules, the terminators' names and keys, the held
    // terminators.
    virtual const TTaggedList& GetFlowEntries() const = 0;
    virtual const TTaggedList& GetTermNames() const = 0;
    virtual const TTaggedList& GetTermKeys() const = 0;
    virtual const TTaggedList& GetHoldList() const = 0;
    // Where the copies of a multiplexing module go: whether its router spreads them (two
    // destinations at least), and the destination it gives a copy of job jobID named name, of
    // colour color, among dests (see TDestRouter::Choose); empty when none is ready.
    virtual bool Multiplexes() const = 0;
    virtual std::string ChooseDestination(const std::string& dests, const std::string& name,
                                          int32_t jobID, const std::string& color,
                                          const std::function<bool(int32_t)>& ready) = 0;

    // Output documents the server asked to keep: KeepSavedDoc records one (false when its output
    // document is recorded already), DeleteSavedDoc drops one keep request.
    virtual bool KeepSavedDoc(std::shared_ptr<TSavedDoc> record) = 0;
    virtual void DeleteSavedDoc(int32_t DocID) = 0;

    // The clients of the workflow server and the document store: calls to the peers, not the
    // module's own data, so a job uses them as they are.
    virtual TServerClient& GetServerObject() = 0;
    virtual TStoreClient& GetStoreObject() = 0;

    // The jobs in process. AdoptJob takes a job into the module's list and answers it there.
    virtual TDoc* AdoptJob(std::unique_ptr<TDoc> job) = 0;
    // Whether every job in process waits (or none is in process).
    virtual bool AllJobsWaiting() const = 0;
    // Whether a job in process other than job has its job and document number (and so its spool
    // file).
    virtual bool SpoolFileOfOtherJob(const TDoc& job) const = 0;
    // The rows of the jobs in process, as far as a job may touch them.
    virtual TProcessRows ProcessRows() = 0;
    // Ends a job of the list: it leaves the list and is freed (TDoc::Free), then destroyed at
    // once or, while a tick or other work that pumps messages may still hold it, once that work
    // has unwound.
    virtual void FreeJob(TDoc& job) = 0;

    // A step found the document store gone (why says how): from now on no job calls it, and the
    // module lets its jobs leave what they had in it (TDoc::LeaveGoneStore) before it goes on.
    virtual void StoreGone(const std::string& why) { (void)why; }
    virtual bool IsStoreAway() const { return false; }
    // A job found the disk of the job folder full: when the disk is low, the module pauses until
    // there is room again.
    virtual void LowDiskSpace() {}
    // The spool file of a passed job was moved aside: its row in the list of passed jobs goes.
    virtual void ForgetPassedJob(int32_t jobID, int32_t docID) {
        (void)jobID;
        (void)docID;
    }
    // How the jobs and the journal wait for the disk: the module lets its calls in meanwhile
    // where a job step may let them in anyway; the default waits on the calling thread.
    virtual const TDiskWait& GetDiskWait() const {
        static const TDiskWait direct;
        return direct;
    }
    // The journal of the jobs waiting to be sent; none for a host that keeps no journal.
    virtual TWaitJournal* GetWaitJournal() { return nullptr; }

    // Returns at once when the go event does not exist; else blocks until it is signalled.
    virtual void WaitGoEvent() = 0;
    // Waits about ms milliseconds while the user interface handles its events (incoming calls
    // among them), less when news comes that may let the caller go on (the store freed memory,
    // say); false when the module was closed or initialised again meanwhile.
    virtual bool WaitPumping(int ms) = 0;
};

} // namespace raduvuz
