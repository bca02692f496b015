#pragma once

#include "common/Types.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace raduvuz {

class TDoc;

// One row of a job list: caption (the job number), sub-items in column order, image index and
// the job that owns it (none for passed jobs). Id names the row for the job-control interface:
// a list gives it when the row comes in, unique in the process and never given again. The
// facts after it are what the columns show only as text.
struct TListRow {
    std::string Caption;
    std::vector<std::string> SubItems;
    int ImageIndex = -1;
    TDoc* Job = nullptr;
    uint32_t Id = 0;
    // Bytes of the job's data; -1 when not known.
    int64_t Bytes = -1;
    // Bytes a job in process has moved so far in its current state.
    int64_t Done = 0;
    TDateTime Created = 0;
    // Terminator numbers, comma text.
    std::string Devices;
    int32_t Priority = 0;
    // The change serial of the row's last change (TRowChanges), 0 before it is in a list.
    uint64_t Serial = 0;
};

// The change serials that the job lists of one module share: every row added or changed takes
// the next serial, and a row removed leaves its id with a serial in a bounded log, so that a
// watcher asking "what changed since serial S" gets only that.
class TRowChanges {
public:
    // How many removed ids the log keeps.
    static constexpr size_t kRemovedLimit = 10000;

    uint64_t Serial() const { return Last; }
    uint64_t Next() { return ++Last; }
    void NoteRemoved(uint32_t id);
    // Whether the log still holds every id removed after since; a watcher asking from a serial it
    // does not cover (or from one never given) is answered every row.
    bool Covers(uint64_t since) const { return since >= Forgotten && since <= Last; }
    // The ids removed after since, oldest first.
    std::vector<uint32_t> RemovedSince(uint64_t since) const;

private:
    uint64_t Last = 0;
    // The newest serial the log no longer holds.
    uint64_t Forgotten = 0;
    std::deque<std::pair<uint64_t, uint32_t>> Removed;
};

// A job list owned by the core; the console's list views only view it. Rows are stable handles:
// a job keeps its row pointer until the row is deleted. A row goes in at the top or the end in
// amortised constant time, as a reload of thousands of kept jobs needs.
class TJobListModel {
public:
    // A list whose changes take serials from changes (it outlives the list); none: no serials.
    explicit TJobListModel(TRowChanges* changes = nullptr) : Changes(changes) {}
    TJobListModel(const TJobListModel&) = delete;
    TJobListModel& operator=(const TJobListModel&) = delete;

    class IListener {
    public:
        virtual ~IListener() = default;
        virtual void RowInserted(int index) = 0;
        virtual void RowRemoved(int index) = 0;
        virtual void RowChanged(int index) = 0;
        virtual void Reset() = 0;
    };

    int Count() const { return static_cast<int>(Rows.size()); }
    TListRow* At(int index) const;
    int IndexOf(const TListRow* row) const;

    // The row with this id, or null.
    TListRow* FindId(uint32_t id) const;
    // The rows whose caption is caption, in no particular order; found without reading the
    // others, as a list of a day's passed jobs asks for each job that joins it.
    std::vector<const TListRow*> WithCaption(const std::string& caption) const;
    // The rows whose last change took a serial after since, in list order; one changed row is
    // found without reading the others.
    std::vector<const TListRow*> ChangedSince(uint64_t since) const;

    // Inserts a row at index (0 = top, Count() = end) and returns it. A row without an id gets
    // the next one of the process; a row put back keeps its own.
    TListRow* Insert(int index, TListRow row);
    TListRow* Add(TListRow row) { return Insert(Count(), std::move(row)); }
    void Delete(TListRow* row);
    // These rows in one pass; the listeners are reset once.
    void DeleteRows(const std::vector<const TListRow*>& rows);
    void Clear();

    void SetSubItem(TListRow* row, int subItem, const std::string& text);
    void SetImage(TListRow* row, int imageIndex);
    void SetCaption(TListRow* row, const std::string& caption);
    // How far the row's job has got: bytes moved and bytes of its data (-1 unknown).
    void SetProgress(TListRow* row, int64_t done, int64_t bytes);
    // Tells the listeners that facts of a row changed that no setter changed (a job released,
    // a priority set).
    void Refresh(TListRow* row);
    void Sort(const std::function<bool(const TListRow&, const TListRow&)>& less);

    // Changes made while notices are held back reach the listeners as one Reset when the
    // outermost hold ends: a reload of thousands of rows tells its views once, not row by row.
    void HoldNotices() { ++NoticesHeld; }
    void ReleaseNotices();

    void AddListener(IListener* listener);
    void RemoveListener(IListener* listener);

private:
    std::deque<std::unique_ptr<TListRow>> Rows;
    std::vector<IListener*> Listeners;
    TRowChanges* Changes;
    // The rows by the serial of their last change.
    std::map<uint64_t, const TListRow*> BySerial;
    // The rows by their caption, which each row holds for as long as it is indexed.
    std::unordered_multimap<std::string_view, const TListRow*> ByCaption;
    void Index(const TListRow& row);
    void Unindex(const TListRow& row);
    int NoticesHeld = 0;
    bool NoticesMissed = false;
    void Changed(TListRow* row);
    void Unstamp(const TListRow& row);
    // Whether listeners are told of a change now; false (noted) while notices are held back.
    bool Telling();
    void Stamp(TListRow& row);
};

// What the "Size" column of a row says, in the lists and to the job-control interface alike: the
// job's data (its bytes before packing: the "Size" parameter, else what the store gave, else the
// bytes of its spool file's blocks) as a size text while that is known, else the row's own text
// ("Loading", "Spooling").
std::string SizeColumnText(const TListRow& row);

// Sub-item positions (the columns after "Job ID").
enum TSubItem {
    siDocID = 0,
    siName = 1,
    siPage = 2,
    siColor = 3,
    siDate = 4,
    siTime = 5,
    siType = 6,
    siSize = 7,
    siDestination = 8,
    siDev = 9,
    siCount = 10
};

} // namespace raduvuz
