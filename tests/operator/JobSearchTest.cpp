#include "control/JobSearch.h"
#include "common/DateTime.h"
#include "jobs/TJobListModel.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace raduvuz::test {

namespace {

struct TRowText {
    std::string Job = "1";
    std::string Doc = "1";
    std::string Name = "Job";
    std::string Page = "1";
    std::string Color = "CMYK";
    std::string Date = {};
    std::string Type = "RST";
    std::string Size = "1.00 Kb";
    std::string Destination = "Platesetter";
    // The job's data; -1 while not known.
    int64_t Bytes = 1024;
    TDateTime Created = 0;
};

TListRow Row(const TRowText& text) {
    TListRow row;
    row.Caption = text.Job;
    row.SubItems = {text.Doc,   text.Name, text.Page, text.Color,       text.Date,
                    "10:00:00", text.Type, text.Size, text.Destination, ""};
    row.Bytes = text.Bytes;
    row.Created = text.Created;
    return row;
}

TDateTime Day(int year, int month, int day) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    return DateTimeFromTm(tm);
}

// The verdict of one row under criteria.
TRowVerdict Verdict(const TRowText& text, const TJobSearchCriteria& criteria) {
    return TestRow(Row(text), criteria).Verdict;
}

bool Passes(const TRowText& text, const TJobSearchCriteria& criteria) {
    return Verdict(text, criteria) == TRowVerdict::Pass;
}

// Bytes of n Kb.
int64_t Kb(double n) {
    return static_cast<int64_t>(n * 1024);
}

TJobSearchCriteria SizeIs(TSearchCompare compare, double kb) {
    TJobSearchCriteria criteria;
    criteria.Size = TSizeCriterion{kb, compare};
    return criteria;
}

} // namespace

TEST(JobSearch, EmptyCriteriaWalkEveryRowThenReportNotFound) {
    TJobListModel rows;
    rows.Add(Row({.Job = "1"}));
    rows.Add(Row({.Job = "2"}));
    const TJobSearchCriteria none;

    TSearchResult first = SearchNext(rows, -1, none);
    EXPECT_EQ(first.Outcome, TSearchOutcome::Found);
    EXPECT_EQ(first.Position, 0);
    TSearchResult second = SearchNext(rows, first.Position, none);
    EXPECT_EQ(second.Position, 1);
    TSearchResult end = SearchNext(rows, second.Position, none);
    EXPECT_EQ(end.Outcome, TSearchOutcome::NotFound);
    EXPECT_EQ(end.Position, -1);
    // A position left behind by rows that went is past the end at once.
    EXPECT_EQ(SearchNext(rows, 7, none).Outcome, TSearchOutcome::NotFound);
    EXPECT_EQ(SearchNext(TJobListModel(), -1, none).Outcome, TSearchOutcome::NotFound);
    // The rows in the order shown walk the same way.
    const std::vector<const TListRow*> shown = {rows.At(1), rows.At(0)};
    EXPECT_EQ(SearchNext(shown, -1, none).Position, 0);
    EXPECT_EQ(SearchNext(shown, 1, none).Outcome, TSearchOutcome::NotFound);
}

TEST(JobSearch, NumbersAndPagesAreExactTexts) {
    TJobSearchCriteria criteria;
    criteria.JobID = "12";
    EXPECT_TRUE(Passes({.Job = "12"}, criteria));
    EXPECT_FALSE(Passes({.Job = "012"}, criteria));
    EXPECT_FALSE(Passes({.Job = "12 "}, criteria));

    criteria = {};
    criteria.DocID = "301";
    EXPECT_TRUE(Passes({.Doc = "301"}, criteria));
    EXPECT_FALSE(Passes({.Doc = "3011"}, criteria));

    criteria = {};
    criteria.Page = "1-4a";
    EXPECT_TRUE(Passes({.Page = "1-4a"}, criteria));
    EXPECT_FALSE(Passes({.Page = "1-4A"}, criteria));
}

TEST(JobSearch, NamesColoursAndDestinationsMatchUpperCased) {
    TJobSearchCriteria criteria;
    criteria.Name = TTextCriterion{"abc", false};
    EXPECT_TRUE(Passes({.Name = "xABCx"}, criteria));
    EXPECT_FALSE(Passes({.Name = "xAB Cx"}, criteria));
    criteria.Name->Equal = true;
    EXPECT_FALSE(Passes({.Name = "xABCx"}, criteria));
    EXPECT_TRUE(Passes({.Name = "Abc"}, criteria));

    criteria = {};
    criteria.Color = TTextCriterion{"reflex", false};
    EXPECT_TRUE(Passes({.Color = "Reflex Blue"}, criteria));
    criteria.Color->Equal = true;
    EXPECT_FALSE(Passes({.Color = "Reflex Blue"}, criteria));

    criteria = {};
    criteria.Destination = TTextCriterion{"PLATE", false};
    EXPECT_TRUE(Passes({.Destination = "Proofer, platesetter 2"}, criteria));
    EXPECT_FALSE(Passes({.Destination = "Proofer"}, criteria));

    // The type is equal or nothing: RSTBND is not RST.
    criteria = {};
    criteria.Type = "rst";
    EXPECT_TRUE(Passes({.Type = "RST"}, criteria));
    EXPECT_FALSE(Passes({.Type = "RSTBND"}, criteria));
}

TEST(JobSearch, LettersBeyondAsciiMatchInAUtf8Locale) {
    const std::string saved = std::setlocale(LC_CTYPE, nullptr);
    if (!std::setlocale(LC_CTYPE, "C.UTF-8"))
        GTEST_SKIP() << "no C.UTF-8 locale";
    TJobSearchCriteria criteria;
    criteria.Name = TTextCriterion{"müller", false};
    const bool found = Passes({.Name = "Prospekt MÜLLER"}, criteria);
    std::setlocale(LC_CTYPE, saved.c_str());
    EXPECT_TRUE(found);
}

TEST(JobSearch, DatesCompareByDayInTheShortDateFormat) {
    const std::string before = ShortDateText(Day(2026, 1, 14));
    const std::string same = ShortDateText(Day(2026, 1, 15));
    const std::string after = ShortDateText(Day(2026, 1, 16));
    const auto passing = [&](TSearchCompare compare) {
        TJobSearchCriteria criteria;
        criteria.Date = TDateCriterion{Day(2026, 1, 15), compare};
        std::string which;
        for (const std::string& date : {before, same, after})
            which += Passes({.Date = date}, criteria) ? "1" : "0";
        return which;
    };
    EXPECT_EQ(passing(TSearchCompare::Equal), "010");
    EXPECT_EQ(passing(TSearchCompare::Greater), "001");
    EXPECT_EQ(passing(TSearchCompare::Less), "100");
    EXPECT_EQ(passing(TSearchCompare::GreaterEqual), "011");
    EXPECT_EQ(passing(TSearchCompare::LessEqual), "110");

    // A row that knows when its job came is compared by that, whatever its text says.
    TJobSearchCriteria criteria;
    criteria.Date = TDateCriterion{Day(2026, 1, 15), TSearchCompare::Equal};
    EXPECT_TRUE(Passes({.Date = "Loading", .Created = Day(2026, 1, 15) + 0.75}, criteria));
    EXPECT_FALSE(Passes({.Date = same, .Created = Day(2026, 1, 16) + 0.1}, criteria));
}

TEST(JobSearch, AnUnreadableDateEndsTheSearchAtItsRow) {
    TJobListModel rows;
    rows.Add(Row({.Job = "1", .Date = ShortDateText(Day(2026, 2, 1))}));
    rows.Add(Row({.Job = "2", .Date = "Loading"}));
    rows.Add(Row({.Job = "3", .Date = ShortDateText(Day(2026, 2, 1))}));
    TJobSearchCriteria criteria;
    criteria.Date = TDateCriterion{Day(2026, 2, 1), TSearchCompare::Equal};
    EXPECT_EQ(SearchNext(rows, -1, criteria).Position, 0);
    const TSearchResult bad = SearchNext(rows, 0, criteria);
    EXPECT_EQ(bad.Outcome, TSearchOutcome::BadDate);
    EXPECT_EQ(bad.Position, 1);
    EXPECT_EQ(bad.BadText, "Loading");
    EXPECT_EQ(SearchNext(rows, bad.Position, criteria).Position, 2);

    // Criteria are tested in column order: a job number that fails comes before the date.
    criteria.JobID = "3";
    EXPECT_EQ(Verdict({.Job = "2", .Date = "Loading"}, criteria), TRowVerdict::Fail);
}

// Sizes compare the job's bytes in Kb of 1024, the unit of the Size column, whatever the
// column's text says.
TEST(JobSearch, SizesMatchWithinAHundredthOfAKilobyte) {
    using enum TSearchCompare;
    const struct {
        TRowText Row;
        TSearchCompare Compare;
        double Kb;
        bool Passes;
    } cases[] = {
        {{.Bytes = Kb(1536)}, Equal, 1536, true},
        {{.Size = "1.50 Mb", .Bytes = Kb(1536)}, Equal, 1536.01, true},
        {{.Bytes = Kb(1536)}, Equal, 1536.02, false},
        {{.Bytes = 2048}, Equal, 2, true},
        {{.Bytes = 2048}, Equal, 2.048, false},
        {{.Size = "Spooling", .Bytes = 480000}, Equal, 468.75, true},
        {{.Bytes = Kb(2)}, Greater, 1.99, true},
        {{.Bytes = Kb(2)}, Greater, 2, false},
        {{.Bytes = Kb(2)}, GreaterEqual, 2, true},
        {{.Bytes = Kb(2)}, Less, 2.5, true},
        {{.Bytes = Kb(2)}, LessEqual, 2, true},
        {{.Bytes = Kb(2)}, Less, 2, false},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(Passes(cases[i].Row, SizeIs(cases[i].Compare, cases[i].Kb)), cases[i].Passes)
            << "case " << i;

    // A job whose size is not known yet, or a negative size, never matches, whatever the
    // comparison.
    for (TSearchCompare compare : {Equal, Greater, Less, LessEqual}) {
        EXPECT_FALSE(Passes({.Size = "Spooling", .Bytes = -1}, SizeIs(compare, 0)));
        EXPECT_FALSE(Passes({.Size = "2.00 Kb", .Bytes = -1}, SizeIs(compare, 1000)));
        EXPECT_FALSE(Passes({.Bytes = Kb(2)}, SizeIs(compare, -1)));
    }
}

TEST(JobSearch, ComparisonTexts) {
    for (const char* text : {"=", ">", "<", ">=", "<="})
        EXPECT_STREQ(SearchCompareText(*SearchCompareOf(text)), text);
    EXPECT_FALSE(SearchCompareOf("=<").has_value());
    EXPECT_FALSE(SearchCompareOf("").has_value());
}

} // namespace raduvuz::test
