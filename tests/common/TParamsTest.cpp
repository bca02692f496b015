#include "common/TParams.h"

#include <gtest/gtest.h>

using namespace raduvuz;
using TItems = std::vector<std::string>;

namespace {

TItems ItemsOf(TParams& params, const std::string& key) {
    const TParams::TValueList* list = params.GetList(key);
    return list ? *list : TItems{"<missing>"};
}

} // namespace

TEST(TParams, ParsingFoldsDoubleSemicolonsInOnePass) {
    TParams params("A=1;;B=2");
    ASSERT_EQ(params.Count(), 2);
    EXPECT_EQ(ItemsOf(params, "A"), TItems{"1"});
    EXPECT_EQ(ItemsOf(params, "B"), TItems{"2"});

    // ";;;" folds to ";;" only, which leaves an empty entry glued to the next key.
    params.SetText("A=1;;;B=2");
    ASSERT_EQ(params.Count(), 3);
    EXPECT_EQ(params.KeyAt(1), ";B");
    EXPECT_EQ(params.GetValueText(";B"), "");
    EXPECT_EQ(params.GetItem("B", 0), "2");
}

TEST(TParams, EmptyValueLeavesKeyWithoutValues) {
    TParams params("A=;B=2");
    ASSERT_EQ(params.Count(), 2);
    EXPECT_EQ(params.IndexOfKey("A"), 0);
    EXPECT_EQ(params.GetValueText("A"), "");
    EXPECT_EQ(params.GetItem("A", 0), "");
    // The key is not written, but its separator is.
    EXPECT_EQ(params.GetText(), ";B=2");
    EXPECT_EQ(TParams("A=1;B=;C=3").GetText(), "A=1;;C=3");
    EXPECT_EQ(TParams("A=1;B=").GetText(), "A=1;");
    TParams filled("A=;B=2");
    filled.SetValue("A", "v");
    EXPECT_EQ(filled.GetText(), "A=v;B=2");

    // Asking for the list creates an empty one, which is then written as "A=".
    ASSERT_NE(params.GetList("A"), nullptr);
    EXPECT_TRUE(params.GetList("A")->empty());
    EXPECT_EQ(params.GetText(), "A=;B=2");
}

TEST(TParams, ValuesAreTrimmedExceptTheLastEntry) {
    TParams params("A= x y ;B=2");
    EXPECT_EQ(ItemsOf(params, "A"), (TItems{"x", "y"}));
    params.SetText("B=2;A= x y ");
    EXPECT_EQ(ItemsOf(params, "A"), (TItems{"x", "y"}));

    // Trimming decides whether a trailing comma ends the text.
    params.SetText("A=x, ;B=1");
    EXPECT_EQ(ItemsOf(params, "A"), (TItems{"x", ""}));
    params.SetText("B=1;A=x, ");
    EXPECT_EQ(ItemsOf(params, "A"), TItems{"x"});
}

TEST(TParams, KeysKeepBlanksAndLettersAndLookupsFindTheFirst) {
    TParams params(" Name=1;a=2;A=3");
    EXPECT_EQ(params.IndexOfKey("Name"), -1);
    EXPECT_EQ(params.IndexOfKey(" NAME"), 0);
    EXPECT_EQ(params.KeyAt(1), "a");
    EXPECT_EQ(params.GetItem("A", 0), "2");
    EXPECT_EQ(params.GetText(), " Name=1;a=2;A=3");

    EXPECT_TRUE(params.DeleteKey("A"));
    EXPECT_EQ(params.GetItem("a", 0), "3");
    EXPECT_FALSE(params.DeleteKey("missing"));

    TParams utf8("ä=1");
    EXPECT_EQ(utf8.IndexOfKey("Ä"), -1);
}

TEST(TParams, SemicolonBeforeTheEqualsSignEndsAnEmptyEntry) {
    TParams params("junk;B=2;tail");
    ASSERT_EQ(params.Count(), 2);
    EXPECT_EQ(params.KeyAt(0), "junk;B");
    EXPECT_EQ(params.GetValueText("junk;B"), "");
    EXPECT_EQ(params.GetItem("B", 0), "2");
    // Text after the last entry with an "=" is ignored.
    EXPECT_EQ(TParams("A=1;tail").Count(), 1);
    EXPECT_EQ(TParams("").Count(), 0);
    EXPECT_EQ(TParams("no entries").Count(), 0);
    // A ";" inside quotes ends the entry all the same.
    EXPECT_EQ(TParams(R"(A="x;y";B=1)").GetItem("A", 0), "x");
}

TEST(TParams, QuotedItemsReadAndWriteBack) {
    TParams params(R"(Name="My ""big"" job",x;Device=P1)");
    EXPECT_EQ(ItemsOf(params, "Name"), (TItems{"My \"big\" job", "x"}));
    EXPECT_EQ(params.GetText(), R"(Name="My ""big"" job",x;Device=P1)");
    EXPECT_EQ(params.GetValueText("Name"), R"("My ""big"" job",x)");
    EXPECT_EQ(TParams("A=\"\"").GetText(), "A=\"\"");
}

TEST(TParams, ItemAccessOutOfRange) {
    TParams params("A=1,2");
    EXPECT_EQ(params.GetItemAt(0, 1), "2");
    for (const auto& [key, item] : {std::pair{0, 2}, {0, -1}, {1, 0}, {-1, 0}})
        EXPECT_EQ(params.GetItemAt(key, item), "") << key << ", " << item;
    EXPECT_EQ(params.GetListAt(5), nullptr);
    EXPECT_EQ(params.GetList("B"), nullptr);
    EXPECT_EQ(params.GetValueText("B"), "");

    EXPECT_EQ(params.IndexOfItem(0, "2"), 1);
    EXPECT_EQ(params.IndexOfItem(0, "3"), -1);
    EXPECT_EQ(params.IndexOfItem(3, "1"), -1);
    TParams letters("C=abc;E=");
    EXPECT_EQ(letters.IndexOfItem(0, "ABC"), 0);
    EXPECT_EQ(letters.IndexOfItem(1, "x"), -1);
    EXPECT_EQ(letters.GetText(), "C=abc;E=");
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

TEST(TParams, MatchPassesMissingKeysAndStars) {
    const TParams withDevice("Device=P1;Color=0");
    const TParams withoutDevice("Color=0");
    const TParams starJob("Device=*");
    std::string failed = "stale";

    EXPECT_TRUE(withDevice.Match("Device=*", &failed));
    EXPECT_EQ(failed, "");
    EXPECT_TRUE(withoutDevice.Match("Device=*"));
    EXPECT_TRUE(starJob.Match("Device=P9"));
    EXPECT_TRUE(withDevice.Match("Paper=A4"));
    EXPECT_TRUE(withDevice.Match(""));

    EXPECT_FALSE(withDevice.Match("Color=1", &failed));
    EXPECT_EQ(failed, "Color");
    // A rule key without items never matches a key the job has.
    EXPECT_FALSE(withDevice.Match("Color=", &failed));
    EXPECT_EQ(failed, "Color");
    // Nor does a job key without items.
    EXPECT_FALSE(TParams("Color=;X=1").Match("Color=1"));
}

TEST(TParams, MatchListsEveryFailedKey) {
    const TParams job("Color=0;Paper=A3;Device=p1,p2");
    std::string failed;
    EXPECT_FALSE(job.Match("Color=1;Paper=A4,Letter;Device=P2;Size=9", &failed));
    EXPECT_EQ(failed, "Color, Paper");
    EXPECT_TRUE(job.Match("Device=P3,P1;Paper=a3", &failed));
    EXPECT_EQ(failed, "");

    // The result is read from the text: a failing empty key leaves no trace in it.
    const TParams emptyKey("=y;Color=0");
    EXPECT_FALSE(emptyKey.Match("=x;Color=1", &failed));
    EXPECT_EQ(failed, "Color");
    EXPECT_TRUE(emptyKey.Match("=x", &failed));
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
    // Names compare exactly; the first entry of a name gives its tag.
    EXPECT_EQ(IdsOfNames("Beta,beta,Alpha,Gamma", entries), "3, 1");
}
