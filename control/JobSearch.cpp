#include "control/JobSearch.h"

#include "common/DateTime.h"
#include "common/Utils.h"
#include "jobs/TJobListModel.h"
#include "services/Dispatch.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <set>

namespace raduvuz {

namespace {

// Sizes within this many Kb of each other are equal.
constexpr double kSizeTolerance = 0.01;
constexpr double kBytesPerKb = 1024;

const std::string& Column(const TListRow& row, int subItem) {
    static const std::string kNone;
    const auto index = static_cast<size_t>(subItem);
    return index < row.SubItems.size() ? row.SubItems[index] : kNone;
}

bool TextPasses(const std::string& column, const TTextCriterion& criterion) {
    const std::string value = UpperCaseText(column);
    const std::string wanted = UpperCaseText(criterion.Text);
    return criterion.Equal ? value == wanted : value.find(wanted) != std::string::npos;
}

template <typename T> bool Compares(const T& row, const T& wanted, TSearchCompare compare) {
    switch (compare) {
    case TSearchCompare::Equal:
        return row == wanted;
    case TSearchCompare::Greater:
        return row > wanted;
    case TSearchCompare::Less:
        return row < wanted;
    case TSearchCompare::GreaterEqual:
        return row >= wanted;
    case TSearchCompare::LessEqual:
        return row <= wanted;
    }
    return false;
}

bool SizePasses(double row, const TSizeCriterion& criterion) {
    if (row < 0 || criterion.Kb < 0)
        return false;
    if (criterion.Compare == TSearchCompare::Equal)
        return std::fabs(criterion.Kb - row) <= kSizeTolerance;
    return Compares(row, criterion.Kb, criterion.Compare);
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string_view TrimBlanks(std::string_view text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

[[noreturn]] void Malformed(const std::string& key, const std::string& text, const char* form) {
    throw TInvalidArgument("Malformed criterion \"" + key + "\"",
                           "\"" + text + "\" is not " + form);
}

// The comparison at the front of text ("=", ">", "<", ">=", "<="), the rest after blanks.
std::optional<TSearchCompare> SplitCompare(std::string_view text, std::string_view& rest) {
    for (std::string_view op : {">=", "<=", "=", ">", "<"}) {
        if (text.substr(0, op.size()) == op) {
            rest = TrimBlanks(text.substr(op.size()));
            return SearchCompareOf(op);
        }
    }
    return std::nullopt;
}

// A day written YYYY-MM-DD that exists in the calendar.
std::optional<TDateTime> IsoDay(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return std::nullopt;
    int32_t year = 0;
    int32_t month = 0;
    int32_t day = 0;
    if (!std::all_of(text.begin(), text.end(), [](char c) { return IsDigit(c) || c == '-'; }) ||
        !TryStrToInt(text.substr(0, 4), year) || !TryStrToInt(text.substr(5, 2), month) ||
        !TryStrToInt(text.substr(8, 2), day))
        return std::nullopt;
    std::tm wanted{};
    wanted.tm_year = year - 1900;
    wanted.tm_mon = month - 1;
    wanted.tm_mday = day;
    wanted.tm_hour = 12;
    const TDateTime date = DateTimeFromTm(wanted);
    const std::tm back = TmFromDateTime(date);
    if (back.tm_year != wanted.tm_year || back.tm_mon != wanted.tm_mon ||
        back.tm_mday != wanted.tm_mday)
        return std::nullopt;
    return date;
}

template <typename TRowAt>
TSearchResult SearchRows(int count, int position, const TJobSearchCriteria& criteria,
                         TRowAt rowAt) {
    for (int index = std::max(position, -1) + 1; index < count; ++index) {
        const TRowTest test = TestRow(*rowAt(index), criteria);
        switch (test.Verdict) {
        case TRowVerdict::Pass:
            return TSearchResult{TSearchOutcome::Found, index, {}};
        case TRowVerdict::BadDate:
            return TSearchResult{TSearchOutcome::BadDate, index, test.BadText};
        case TRowVerdict::Fail:
            break;
        }
    }
    return TSearchResult{TSearchOutcome::NotFound, -1, {}};
}

TTextCriterion TextCriterionOf(const std::string& text) {
    if (!text.empty() && text.front() == '=')
        return TTextCriterion{text.substr(1), true};
    return TTextCriterion{text, false};
}

} // namespace

TJobSearchCriteria SearchCriteriaOf(const std::map<std::string, std::string>& texts) {
    static const std::set<std::string> kKeys = {"list",  "job",         "doc",  "page", "name",
                                                "color", "destination", "type", "date", "sizeKb"};
    TJobSearchCriteria criteria;
    for (const auto& [key, text] : texts) {
        if (kKeys.count(key) == 0)
            throw TInvalidArgument("Unknown criterion \"" + key + "\"",
                                   "the keys are list, job, doc, page, name, color, destination, "
                                   "type, date and sizeKb");
        if (text.empty())
            continue;
        int32_t number = 0;
        std::string_view rest;
        if (key == "list") {
            if (text != "process" && text != "passed")
                Malformed(key, text, "process or passed");
            criteria.PassedJobs = text == "passed";
        } else if (key == "job" || key == "doc") {
            if (!TryStrToInt(text, number))
                Malformed(key, text, "a whole number");
            (key == "job" ? criteria.JobID : criteria.DocID) = text;
        } else if (key == "page") {
            criteria.Page = text;
        } else if (key == "name") {
            criteria.Name = TextCriterionOf(text);
        } else if (key == "color") {
            criteria.Color = TextCriterionOf(text);
        } else if (key == "destination") {
            criteria.Destination = TextCriterionOf(text);
        } else if (key == "type") {
            criteria.Type = text;
        } else if (key == "date") {
            const std::optional<TSearchCompare> compare = SplitCompare(text, rest);
            const std::optional<TDateTime> day = compare ? IsoDay(rest) : std::nullopt;
            if (!day)
                Malformed(key, text, "OP YYYY-MM-DD (OP one of = > < >= <=)");
            criteria.Date = TDateCriterion{*day, *compare};
        } else if (key == "sizeKb") {
            const std::optional<TSearchCompare> compare = SplitCompare(text, rest);
            const double kb = compare ? ReadRealPoint(rest, -1) : -1;
            if (kb < 0)
                Malformed(key, text, "OP NUMBER (OP one of = > < >= <=, a number of 0 or more)");
            criteria.Size = TSizeCriterion{kb, *compare};
        }
    }
    return criteria;
}

std::optional<TSearchCompare> SearchCompareOf(std::string_view text) {
    for (TSearchCompare compare :
         {TSearchCompare::Equal, TSearchCompare::Greater, TSearchCompare::Less,
          TSearchCompare::GreaterEqual, TSearchCompare::LessEqual}) {
        if (text == SearchCompareText(compare))
            return compare;
    }
    return std::nullopt;
}

const char* SearchCompareText(TSearchCompare compare) {
    switch (compare) {
    case TSearchCompare::Equal:
        return "=";
    case TSearchCompare::Greater:
        return ">";
    case TSearchCompare::Less:
        return "<";
    case TSearchCompare::GreaterEqual:
        return ">=";
    case TSearchCompare::LessEqual:
        return "<=";
    }
    return "=";
}

TRowTest TestRow(const TListRow& row, const TJobSearchCriteria& criteria) {
    const auto fail = [] { return TRowTest{TRowVerdict::Fail, {}}; };
    if (criteria.JobID && row.Caption != *criteria.JobID)
        return fail();
    if (criteria.DocID && Column(row, siDocID) != *criteria.DocID)
        return fail();
    if (criteria.Name && !TextPasses(Column(row, siName), *criteria.Name))
        return fail();
    if (criteria.Page && Column(row, siPage) != *criteria.Page)
        return fail();
    if (criteria.Color && !TextPasses(Column(row, siColor), *criteria.Color))
        return fail();
    if (criteria.Date) {
        const std::string& text = Column(row, siDate);
        const std::optional<TDateTime> date =
            row.Created != 0 ? std::optional<TDateTime>(row.Created) : ParseShortDate(text);
        if (!date)
            return TRowTest{TRowVerdict::BadDate, text};
        if (!Compares(std::trunc(*date), std::trunc(criteria.Date->Date), criteria.Date->Compare))
            return fail();
    }
    if (criteria.Type && UpperCaseText(Column(row, siType)) != UpperCaseText(*criteria.Type))
        return fail();
    if (criteria.Size) {
        const double kb = row.Bytes < 0 ? -1 : static_cast<double>(row.Bytes) / kBytesPerKb;
        if (!SizePasses(kb, *criteria.Size))
            return fail();
    }
    if (criteria.Destination && !TextPasses(Column(row, siDestination), *criteria.Destination))
        return fail();
    return TRowTest{TRowVerdict::Pass, {}};
}

TSearchResult SearchNext(const std::vector<const TListRow*>& rows, int position,
                         const TJobSearchCriteria& criteria) {
    return SearchRows(static_cast<int>(rows.size()), position, criteria,
                      [&rows](int index) { return rows[static_cast<size_t>(index)]; });
}

TSearchResult SearchNext(const TJobListModel& rows, int position,
                         const TJobSearchCriteria& criteria) {
    return SearchRows(rows.Count(), position, criteria,
                      [&rows](int index) { return rows.At(index); });
}

} // namespace raduvuz
