#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace raduvuz {

class IJobHost;
class TDoc;

// The journal of the jobs waiting to be sent (waiting.journal in the job folder), so that a
// module that ends without sending them (a crash, a kill, Close) makes them again at its next
// start. One record per waiting copy: enough to remake it from its spool file.
//
// The file is a text, one line each: a first line naming the format, then "put" lines (a copy
// came or changed; the record whole) and "del" lines (a copy was sent, failed or aborted). Each
// change is appended and flushed to the disk before the step that made it goes on, so the cost
// of a change does not grow with the number of waiting jobs; a line cut short by a crash has no
// line end and is passed over. When the dead lines outnumber the live ones the file is written
// anew, whole, and renamed into place.
struct TWaitRecord {
    uint64_t Id = 0;
    int32_t JobID = 0;
    // The document number of the spool file the copy is sent from.
    int32_t DocID = 0;
    std::string Dests;
    // Terminator keys, which stay valid across restarts of the server; "#<number>" for a
    // terminator whose key the module did not know.
    std::string Devices;
    bool Held = false;
    int32_t Priority = 0;
    std::string Name;

    bool operator==(const TWaitRecord&) const = default;
};

inline constexpr std::string_view kWaitJournalName = "waiting.journal";
inline constexpr std::string_view kWaitJournalFirstLine = "raduvuz waiting jobs 1";

std::string WaitPutLine(const TWaitRecord& record);
std::string WaitDelLine(uint64_t id);

// What a journal's text says: the live records in the order they came, the highest id seen,
// the lines that could not be read (numbered from 1) and whether the last line was cut short.
struct TWaitJournalContents {
    std::vector<TWaitRecord> Records;
    uint64_t LastId = 0;
    std::vector<size_t> DamagedLines;
    bool CutShort = false;
};
TWaitJournalContents ReadWaitJournal(std::string_view text);

class TWaitJournal {
public:
    explicit TWaitJournal(IJobHost& host) : Host(host) {}
    TWaitJournal(const TWaitJournal&) = delete;
    TWaitJournal& operator=(const TWaitJournal&) = delete;

    // Changes made while a batch is open are written together when the outermost one ends.
    class TBatch {
    public:
        explicit TBatch(TWaitJournal* journal);
        ~TBatch();
        TBatch(const TBatch&) = delete;
        TBatch& operator=(const TBatch&) = delete;

    private:
        TWaitJournal* Journal;
    };

    // A waiting copy came: it gets an id and its record.
    void Add(TDoc& job);
    // Held, priority or name of a journalled copy changed.
    void Update(const TDoc& job);
    // The copy left for good (sent, failed, aborted).
    void Remove(TDoc& job);

    // The start: reads the file, forgets what it knew, and writes whatever comes until
    // EndReload as a new file whole. The records it gives are those to make again; problems
    // with the file are logged.
    std::vector<TWaitRecord> BeginReload();
    void EndReload();

    // After a failed write, tries again to write the file whole.
    void MakeGood();
    // Every record written so far is on the disk.
    bool AllOnDisk() const { return Pending.empty() && !WriteFailed; }
    // Whether a live record sends from the spool file of job jobID, document docID.
    bool HasSpoolFile(int32_t jobID, int32_t docID) const;
    size_t LiveCount() const { return Live.size(); }
    std::string Path() const;

private:
    TWaitRecord RecordOf(const TDoc& job) const;
    // A line about a copy of job ("<JobID>_<DocID>").
    void Write(const std::string& line, const std::string& job);
    void Flush();
    void Rewrite();
    // A failed write: logged once until a write succeeds again.
    void Failed(const std::string& why);
    void ForgetPendingJobs();

    IJobHost& Host;
    std::map<uint64_t, TWaitRecord> Live;
    uint64_t LastId = 0;
    std::string Pending;
    // The jobs of the pending lines in the order they came, for the log line of a failed write;
    // the set finds one in constant time, as a reload holds back thousands.
    std::vector<std::string> PendingJobs;
    std::unordered_set<std::string> PendingJobSet;
    int BatchDepth = 0;
    bool Reloading = false;
    // Lines in the file, the first one included.
    size_t FileLines = 0;
    bool WriteFailed = false;
};

// Terminator numbers (comma text) as the journal keeps them, and back.
std::string DevicesToJournal(const std::string& devices, const IJobHost& host);
std::string DevicesFromJournal(const std::string& devices, const IJobHost& host);

} // namespace raduvuz
