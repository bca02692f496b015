#include "common/TParams.h"

#include <gtest/gtest.h>

using namespace raduvuz;
using TItems = std::vector<std::string>;

namespace {

TItems ItemsOf(TParams& params, const std::string& key) {
    const TParams::TValueList* list = params.GetList(key);
    return list ? *list : TItems{"<missing>"};
}

// The entries of a text in order, as "key[<item><item>]".
std::string EntriesOf(const std::string& text) {
    TParams params(text);
    std::string entries;
    for (int i = 0; i < params.Count(); ++i) {
        entries += (i > 0 ? " " : "") + params.KeyAt(i) + "[";
        for (const std::string& item : *params.GetListAt(i))
            entries += "<" + item + ">";
        entries += "]";
    }
    return entries;
}

} // namespace

// How the texts of old jobs and rules are read, and how they are written back: ";;" folds to ";"
// in one pass; a ";" before the "=" (even inside quotes) ends an empty entry whose key takes the
// rest; values are trimmed, except at the end of the text; an empty value is not written, but
// its separator is; text after the last "=" is ignored.
TEST(TParams, TextsAreReadAsOldJobsHoldThemAndWrittenBack) {
    const struct {
        const char* Text;
        const char* Entries;
        const char* Written;
    } kCases[] = {
        {"A=1;;B=2", "A[<1>] B[<2>]", "A=1;B=2"},
        {"A=1;;;B=2", "A[<1>] ;B[] B[<2>]", "A=1;;B=2"},
        {"A=;B=2", "A[] B[<2>]", ";B=2"},
        {"A=1;B=;C=3", "A[<1>] B[] C[<3>]", "A=1;;C=3"},
        {"A=1;B=", "A[<1>] B[]", "A=1;"},
        {"A= x y ;B=2", "A[<x><y>] B[<2>]", "A=x,y;B=2"},
        {"B=2;A= x y ", "B[<2>] A[<x><y>]", "B=2;A=x,y"},
        {"A=x, ;B=1", "A[<x><>] B[<1>]", "A=x,;B=1"},
        {"B=1;A=x, ", "B[<1>] A[<x>]", "B=1;A=x"},
        {"junk;B=2;tail", "junk;B[] B[<2>]", ";B=2"},
        {"A=1;tail", "A[<1>]", "A=1"},
        {"", "", ""},
        {"no entries", "", ""},
        {R"(A="x;y";B=1)", R"(A[<x>] y";B[] B[<1>])", "A=x;;B=1"},
        {R"(Name="My ""big"" job",x;Device=P1)", R"(Name[<My "big" job><x>] Device[<P1>])",
         R"(Name="My ""big"" job",x;Device=P1)"},
        {R"(A="")", "A[<>]", R"(A="")"},
        {" Name=1;a=2;A=3", " Name[<1>] a[<2>] A[<3>]", " Name=1;a=2;A=3"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(EntriesOf(c.Text), c.Entries) << c.Text;
        EXPECT_EQ(TParams(c.Text).GetText(), c.Written) << c.Text;
    }
}

TEST(TParams, EmptyValueLeavesKeyWithoutValuesAndValueTextsKeepTheirQuotes) {
    TParams params("A=;B=2");
    EXPECT_EQ(params.IndexOfKey("A"), 0);
    EXPECT_EQ(params.GetValueText("A"), "");
    EXPECT_EQ(params.GetItem("A", 0), "");
    EXPECT_EQ(TParams(R"(Name="My ""big"" job",x)").GetValueText("Name"), R"("My ""big"" job",x)");
    TParams filled("A=;B=2");
    filled.SetValue("A", "v");
    EXPECT_EQ(filled.GetText(), "A=v;B=2");

    // Asking for the list creates an empty one, which is then written as "A=".
    ASSERT_NE(params.GetList("A"), nullptr);
    EXPECT_TRUE(params.GetList("A")->empty());
    EXPECT_EQ(params.GetText(), "A=;B=2");
}

TEST(TParams, KeysKeepBlanksAndLettersAndLookupsFindTheFirst) {
    TParams params(" Name=1;a=2;A=3");
    EXPECT_EQ(params.IndexOfKey("Name"), -1);
    EXPECT_EQ(params.IndexOfKey(" NAME"), 0);
    EXPECT_EQ(params.KeyAt(1), "a");
    EXPECT_EQ(params.GetItem("A", 0), "2");

    EXPECT_TRUE(params.DeleteKey("A"));
    EXPECT_EQ(params.GetItem("a", 0), "3");
    EXPECT_FALSE(params.DeleteKey("missing"));

    TParams utf8("ä=1");
    EXPECT_EQ(utf8.IndexOfKey("Ä"), -1);
}

TEST(TParams, ItemAccessOutOfRange) {
    TParams params("A=1,2");
    EXPECT_EQ(params.GetItemAt(0, 1), "2");
    for (const auto& [key, item] : {std::pair{0, 2}, {0, -1}, {1, 0}, {-1, 0}})
        EXPECT_EQ(params.GetItemAt(key, item), "") << key << ", " << item;
    EXPECT_EQ(params.GetListAt(5), nullptr);
    EXPECT_EQ(params.GetList("B"), nullptr);
    EXPECT_EQ(params.GetValueText("B"), "");
}

TEST(TParams, SetValueQuotesSingleValuesAndSplitsLists) {
    TParams params;
    params.SetValue("Name", "My Job");
    params.SetValue("Device", "P1,P2");
    params.SetValue("Quoted", "\"a b\"");
    EXPECT_EQ(ItemsOf(params, "Name"), TItems{"My Job"});
    EXPECT_EQ(ItemsOf(params, "Device"), (TItems{"P1", "P2"}));
    EXPECT_EQ(ItemsOf(params, "Quoted"), TItems{"a b"});
    EXPECT_EQ(params.GetText(), R"(Name="My Job";Device=P1,P2;Quoted="a b")");

    // An existing key is refilled in place; an empty value leaves an empty list.
    params.SetValue("device", "P3");
    EXPECT_EQ(ItemsOf(params, "Device"), TItems{"P3"});
    EXPECT_EQ(params.KeyAt(1), "Device");
    params.SetValue("Empty", "");
    EXPECT_EQ(params.Count(), 4);
    EXPECT_TRUE(ItemsOf(params, "Empty").empty());
    EXPECT_EQ(params.GetText(), R"(Name="My Job";Device=P3;Quoted="a b";Empty=)");
}

// Keys the job lacks and stars pass; every failed key is listed as the rule's text names it.
TEST(TParams, MatchPassesMissingKeysAndStarsAndListsEveryFailedKey) {
    const struct {
        const char* Job;
        const char* Rule;
        bool Matches;
        const char* Failed;
    } kCases[] = {
        {"Device=P1;Color=0", "Device=*", true, ""},
        {"Color=0", "Device=*", true, ""},
        {"Device=*", "Device=P9", true, ""},
        {"Device=P1;Color=0", "Paper=A4", true, ""},
        {"Device=P1;Color=0", "", true, ""},
        {"Device=P1;Color=0", "Color=1", false, "Color"},
        // A rule key without items never matches a key the job has, nor does a job key without.
        {"Device=P1;Color=0", "Color=", false, "Color"},
        {"Color=;X=1", "Color=1", false, "Color"},
        {"Color=0;Paper=A3;Device=p1,p2", "Color=1;Paper=A4,Letter;Device=P2;Size=9", false,
         "Color, Paper"},
        {"Color=0;Paper=A3;Device=p1,p2", "Device=P3,P1;Paper=a3", true, ""},
        // The result is read from the text: a failing empty key leaves no trace in it.
        {"=y;Color=0", "=x;Color=1", false, "Color"},
        {"=y;Color=0", "=x", true, ""},
    };
    for (const auto& c : kCases) {
        std::string failed = "stale";
        EXPECT_EQ(TParams(c.Job).Match(c.Rule, &failed), c.Matches) << c.Job << " / " << c.Rule;
        EXPECT_EQ(failed, c.Failed) << c.Job << " / " << c.Rule;
    }
}

TEST(TParams, SelectEntriesCollectsDevicesAndFirstSeenTags) {
    const TTaggedList entries = {
        {"Device=P1;Color=1", 3}, {"Color=0;Device=P2", 4}, {"Device=P3", 3},
        {"Paper=A4", 5},          {"Device=P5,P6", 6},      {"Color=2", 2},
    };
    const TParams job("Color=1;Paper=A4");
    std::string devices = "old";
    std::string ids = "old";
    job.SelectEntries(entries, devices, ids);
    // An entry without a device still takes its place in the devices text.
    EXPECT_EQ(devices, "P1,P3,,P5");
    EXPECT_EQ(ids, "3,5,6");

    const TParams nothing("Color=7;Paper=A0");
    nothing.SelectEntries({{"Color=1", 1}, {"Paper=A4;Device=X", 2}}, devices, ids);
    EXPECT_EQ(devices, "");
    EXPECT_EQ(ids, "");
}

TEST(TParams, FreeListFunctions) {
    EXPECT_TRUE(ItemInList("abc", "X,ABC"));
    EXPECT_TRUE(ItemInList("a b", R"("a b",c)"));
    EXPECT_FALSE(ItemInList("ab", "abc"));
    EXPECT_FALSE(ItemInList("", "a,,b"));
    EXPECT_FALSE(ItemInList("a", ""));

    const TTaggedList entries = {{"Alpha", 1}, {"Beta", 3}, {"Zero", 0}, {"Beta", 7}};
    // "x" is no number and counts as 0; 9 has no entry.
    EXPECT_EQ(NamesOfIds("3, 9,x,1", entries), "Beta, Zero, Alpha");
    EXPECT_EQ(NamesOfIds("", entries), "");
}
