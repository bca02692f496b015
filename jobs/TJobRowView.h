#pragma once

// One row of a job list as the job-control interface gives it: the module fills it, the D-Bus
// adaptor turns it into a dict with these keys, and raduvuz-ctl reads it back. Plain C++, so that
// each side shares the one list of keys.

#include <cstdint>
#include <string>

namespace raduvuz {

struct TJobRowView {
    uint32_t Id = 0;
    // "process" or "passed".
    std::string List;
    int32_t Job = 0;
    int32_t Doc = 0;
    // As the operator reads it: without the quotes a parameter list needs around a name with
    // blanks.
    std::string Name;
    std::string Page;
    std::string Color;
    std::string Type;
    // Bytes of the job's data, -1 when not known, and the size column's text.
    int64_t Size = -1;
    std::string SizeText;
    // Local time as ISO 8601 ("2026-03-01T14:05:09"); empty when not known.
    std::string Created;
    std::string Destination;
    // Terminator numbers, comma text.
    std::string Devices;
    int32_t Priority = 0;
    // reading, transferring, spooling, waiting, held or sending in the process list; passed or
    // failed in the list of passed jobs.
    std::string State;
    // Bytes a job in process has moved so far in its state (read, or sent); 0 while it waits.
    int64_t Done = 0;
};

inline constexpr const char* kProcessList = "process";
inline constexpr const char* kPassedList = "passed";

// Calls visit(key, field) for each field of a row under its key, in the interface's order; "done"
// only for a row of the process list (read "list" first when filling a row).
template <typename TRow, typename TVisit> void VisitJobRowFields(TRow& row, TVisit&& visit) {
    visit("id", row.Id);
    visit("list", row.List);
    visit("job", row.Job);
    visit("doc", row.Doc);
    visit("name", row.Name);
    visit("page", row.Page);
    visit("color", row.Color);
    visit("type", row.Type);
    visit("size", row.Size);
    visit("sizeText", row.SizeText);
    visit("created", row.Created);
    visit("destination", row.Destination);
    visit("devices", row.Devices);
    visit("priority", row.Priority);
    visit("state", row.State);
    if (row.List == kProcessList)
        visit("done", row.Done);
}

} // namespace raduvuz
