#pragma once

#include "common/Types.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace raduvuz {

class TJobListModel;
struct TListRow;

// How a row's value compares with a criterion's: written "=", ">", "<", ">=", "<=".
enum class TSearchCompare { Equal, Greater, Less, GreaterEqual, LessEqual };

std::optional<TSearchCompare> SearchCompareOf(std::string_view text);
const char* SearchCompareText(TSearchCompare compare);

// A text the column must equal or contain, both upper-cased.
struct TTextCriterion {
    std::string Text;
    bool Equal = false;
};

// A day, compared with the day the row's job came (the "Date" column read in the short date
// format for a row that does not know it).
struct TDateCriterion {
    TDateTime Date = 0;
    TSearchCompare Compare = TSearchCompare::Equal;
};

// A size in Kb of 1024 bytes, the unit of the "Size" column, compared with the bytes of the
// row's job; "=" allows 0.01 either way. A negative size, or a row whose size is not known yet,
// never matches.
struct TSizeCriterion {
    double Kb = 0;
    TSearchCompare Compare = TSearchCompare::Equal;
};

// What a search looks for: the operator's search dialog and the job-control interface fill it
// alike. A criterion that is not set is none.
struct TJobSearchCriteria {
    // The list of passed jobs, else the list of jobs in process.
    bool PassedJobs = true;
    // The exact texts of the "Job ID", "DocID" and "Page" columns.
    std::optional<std::string> JobID;
    std::optional<std::string> DocID;
    std::optional<TTextCriterion> Name;
    std::optional<std::string> Page;
    std::optional<TTextCriterion> Color;
    std::optional<TDateCriterion> Date;
    // Equal to the "Type" column, both upper-cased.
    std::optional<std::string> Type;
    std::optional<TSizeCriterion> Size;
    std::optional<TTextCriterion> Destination;
};

// The criteria of the job-control interface, as texts by key: "list" ("process" or "passed"),
// "job", "doc" (decimal numbers) and "page" (exact texts), "name", "color", "destination"
// (contained in any case, "=" first for equal), "type" (equal in any case), "date"
// ("OP YYYY-MM-DD") and "sizeKb" ("OP NUMBER"), OP one of = > < >= <=. An empty text is no
// criterion. Throws a TDispatchError named RAduvuz.Error.InvalidArgs that names the first key
// that is unknown or whose text is malformed.
TJobSearchCriteria SearchCriteriaOf(const std::map<std::string, std::string>& texts);

enum class TRowVerdict {
    Pass,
    Fail,
    // The row's date cannot be read: the search ends there.
    BadDate
};

struct TRowTest {
    TRowVerdict Verdict = TRowVerdict::Fail;
    // The date text that could not be read.
    std::string BadText;
};

// Tests one row against every criterion, in the order of the columns of the search dialog; the
// first that fails decides.
TRowTest TestRow(const TListRow& row, const TJobSearchCriteria& criteria);

enum class TSearchOutcome { Found, NotFound, BadDate };

struct TSearchResult {
    TSearchOutcome Outcome = TSearchOutcome::NotFound;
    // The row found, or the row whose date could not be read; -1 when no row was left.
    int Position = -1;
    std::string BadText;
};

// One step of a search: walks the rows after position (the last row found, -1 before the first)
// one at a time and stops at the first row that passes, at a row whose date cannot be read, or
// after the last row. The rows in the order the operator sees them (a sorted list), or in the
// order of their list.
TSearchResult SearchNext(const std::vector<const TListRow*>& rows, int position,
                         const TJobSearchCriteria& criteria);
TSearchResult SearchNext(const TJobListModel& rows, int position,
                         const TJobSearchCriteria& criteria);

} // namespace raduvuz
