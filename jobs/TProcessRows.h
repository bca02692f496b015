#pragma once

#include "jobs/TJobListModel.h"

#include <cstdint>
#include <string>

namespace raduvuz {

// What a job may do in the module's list of jobs in process: put its own row in, change what the
// row shows, take it out, and read how many rows there are. The rest of the list (finding,
// sorting, clearing, listening) stays with the module and its views.
class TProcessRows {
public:
    explicit TProcessRows(TJobListModel& list) : List(list) {}

    TListRow* Put(TListRow row, bool atTop) {
        return atTop ? List.Insert(0, std::move(row)) : List.Add(std::move(row));
    }
    void Remove(TListRow* row) { List.Delete(row); }
    void Refresh(TListRow* row) { List.Refresh(row); }
    void SetImage(TListRow* row, int imageIndex) { List.SetImage(row, imageIndex); }
    void SetSizeText(TListRow* row, const std::string& text) { List.SetSubItem(row, siSize, text); }
    void SetProgress(TListRow* row, int64_t done, int64_t bytes) {
        List.SetProgress(row, done, bytes);
    }
    int Count() const { return List.Count(); }

private:
    TJobListModel& List;
};

} // namespace raduvuz
