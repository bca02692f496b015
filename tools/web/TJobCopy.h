#pragma once

// The gateway's copy of one module's rows, each kept as its JSON text, with a serial number of
// the change that last touched it: a browser asks for what changed after the serial it has and
// gets only those rows and the ids removed since, however many rows the module has.

#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <string>
#include <vector>

namespace raduvuz::web {

struct TCopyRow {
    uint32_t Id = 0;
    bool InProcess = false;
    bool Held = false;
    // The row's JSON object, as the API gives it.
    std::string Json;
};

struct TJobCounts {
    int InProcess = 0;
    int Held = 0;
    int Passed = 0;
};

class TJobCopy {
public:
    // Serials start above firstSerial: a process started later starts higher, so that a browser
    // holding a serial of an earlier run gets every row again, never a wrong difference.
    explicit TJobCopy(uint64_t firstSerial);

    // Rows added or changed and ids removed; true when something changed (a row given again with
    // the same JSON is no change).
    bool Apply(std::vector<TCopyRow> rows, const std::vector<uint32_t>& removed);
    // A whole listing: the rows not in it are removed.
    bool Replace(std::vector<TCopyRow> rows);

    uint64_t Serial() const { return Serial_; }
    TJobCounts Counts() const { return Counts_; }
    bool Has(uint32_t id) const { return Rows.count(id) != 0; }
    size_t Size() const { return Rows.size(); }

    // {"jobs": [...], "serial": N}: the rows of a list ("process", "passed", or "" for both) by
    // id, the jobs in process first.
    std::string ListJson(const std::string& list) const;
    // The same of the rows of these ids, in their order; ids the copy lacks are left out.
    std::string RowsJson(const std::vector<uint32_t>& ids) const;
    // {"jobs": [changed rows], "removed": [ids], "serial": N} of what changed after since; with
    // "full": true and every row when since is older than the removals the copy remembers or
    // from another run.
    std::string SinceJson(uint64_t since) const;

private:
    struct TEntry {
        TCopyRow Row;
        uint64_t Serial = 0;
        std::list<uint32_t>::iterator Recent;
    };
    void Count(const TCopyRow& row, int sign);
    void Remove(uint32_t id);
    void Prune();
    static void AppendArray(std::string& json, const std::vector<const std::string*>& rows);

    std::map<uint32_t, TEntry> Rows;
    // Ids by the serial of their last change, oldest first.
    std::list<uint32_t> Recent;
    // Removed ids with the serial of their removal, oldest first; those before Floor are
    // forgotten.
    std::deque<std::pair<uint64_t, uint32_t>> Removed;
    uint64_t Floor = 0;
    uint64_t Serial_ = 0;
    // Serial_ as it was before the change being applied.
    bool Changing = false;
    TJobCounts Counts_;
};

} // namespace raduvuz::web
