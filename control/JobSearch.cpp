#include "control/JobSearch.h"

#include "common/DateTime.h"
#include "common/Utils.h"
#include "jobs/TJobListModel.h"

#include <algorithm>
#include <cmath>

namespace raduvuz {

namespace {

// Sizes within this many KB of each other are equal.
constexpr double kSizeTolerance = 0.01;

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

// A number in the locale's notation or, as the module writes its own size texts, with a point.
double ReadSizeNumber(std::string_view text) {
    const double value = ReadReal(text, std::nan(""));
    return std::isnan(value) ? ReadRealPoint(text, -1) : value;
}

} // namespace

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

double SizeColumnKb(std::string_view column) {
    std::string text;
    for (char c : column) {
        if (c != ' ')
            text.push_back(c);
    }
    text = UpperCaseText(text);
    const auto without = [&text](std::string_view unit) {
        std::string rest = text;
        for (size_t at = rest.find(unit); at != std::string::npos; at = rest.find(unit))
            rest.erase(at, unit.size());
        return rest;
    };
    if (text.find("KB") != std::string::npos)
        return ReadSizeNumber(without("KB"));
    if (text.find("MB") != std::string::npos) {
        const double mb = ReadSizeNumber(without("MB"));
        return mb < 0 ? mb : mb * 1000;
    }
    const double bytes = ReadSizeNumber(text);
    return bytes < 0 ? bytes : bytes / 1000;
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
        const std::optional<TDateTime> date = ParseShortDate(text);
        if (!date)
            return TRowTest{TRowVerdict::BadDate, text};
        if (!Compares(std::trunc(*date), std::trunc(criteria.Date->Date), criteria.Date->Compare))
            return fail();
    }
    if (criteria.Type && UpperCaseText(Column(row, siType)) != UpperCaseText(*criteria.Type))
        return fail();
    if (criteria.Size) {
        if (row.SubItems.size() <= static_cast<size_t>(siSize))
            return TRowTest{TRowVerdict::InvalidSize, {}};
        if (!SizePasses(SizeColumnKb(row.SubItems[siSize]), *criteria.Size))
            return fail();
    }
    if (criteria.Destination && !TextPasses(Column(row, siDestination), *criteria.Destination))
        return fail();
    return TRowTest{TRowVerdict::Pass, {}};
}

TSearchResult SearchNext(const TJobListModel& rows, int position,
                         const TJobSearchCriteria& criteria,
                         const std::function<void()>& invalidSize) {
    for (int index = std::max(position, -1) + 1; index < rows.Count(); ++index) {
        const TRowTest test = TestRow(*rows.At(index), criteria);
        switch (test.Verdict) {
        case TRowVerdict::Pass:
            return TSearchResult{TSearchOutcome::Found, index, {}};
        case TRowVerdict::BadDate:
            return TSearchResult{TSearchOutcome::BadDate, index, test.BadText};
        case TRowVerdict::InvalidSize:
            if (invalidSize)
                invalidSize();
            break;
        case TRowVerdict::Fail:
            break;
        }
    }
    return TSearchResult{TSearchOutcome::NotFound, -1, {}};
}

} // namespace raduvuz
