#include "control/TSpotColorMap.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace raduvuz::test {

namespace {

TSpotColor Entry(int32_t c, int32_t m, int32_t y, int32_t k, const std::string& name,
                 const std::string& key, const std::string& prefix = {},
                 const std::string& suffix = {}) {
    TSpotColor entry;
    entry.Color = TSpotColorStruc{c, m, y, k, prefix, suffix, name, key};
    return entry;
}

void ExpectRecipe(const TSpotColor& entry, int32_t c, int32_t m, int32_t y, int32_t k) {
    EXPECT_EQ(entry.Color.Cyan, c);
    EXPECT_EQ(entry.Color.Magenta, m);
    EXPECT_EQ(entry.Color.Yellow, y);
    EXPECT_EQ(entry.Color.Black, k);
}

} // namespace

TEST(SpotColorMap, ReadsBlocksRecipesAndShortLinesAndFindsTheFirstOfEqualKeys) {
    TSpotColorMap map;
    map.Read("  Red 032\n"
             "%Prefix: Abc\r\n"
             "%Suffix:  s\r\n"
             "%Space:CMYK\r\n"
             "\r\n"
             "10.5\t20\t30\t40\tMy Ink\r\n"
             "12.5\t13.5\tabc\t-0.4\t  Spaced  \r\n"
             "5\tOnly Cyan\r\n"
             "1\t2\t3\t4\tCODE 7\tLong name\r\n"
             "%PREFIX:P %SUFFIX:S\n"
             "0\t100\t79\t11\tRed 185");
    ASSERT_EQ(map.Entries.size(), 6u);

    // A line without a TAB is all name; before any header prefix and suffix are empty.
    ExpectRecipe(map.Entries[0], 0, 0, 0, 0);
    EXPECT_EQ(map.Entries[0].Color.Name, "RED 032");
    EXPECT_EQ(map.Entries[0].Color.Key, "RED 032");

    const TSpotColorStruc& ink = map.Entries[1].Color;
    ExpectRecipe(map.Entries[1], 10, 20, 30, 40);
    EXPECT_EQ(ink.Name, "MY INK");
    EXPECT_EQ(ink.Prefix, "ABC");
    EXPECT_EQ(ink.Suffix, "S");
    EXPECT_EQ(ink.Key, "ABC MY INK S");

    // Halves go to the even integer; a text that is no number counts 0.
    ExpectRecipe(map.Entries[2], 12, 14, 0, 0);
    EXPECT_EQ(map.Entries[2].Color.Name, "SPACED");
    // Fewer TABs than four: the missing numbers are 0.
    ExpectRecipe(map.Entries[3], 5, 0, 0, 0);
    EXPECT_EQ(map.Entries[3].Color.Name, "ONLY CYAN");
    // Text after a fifth TAB is the name; the key keeps the whole rest.
    EXPECT_EQ(map.Entries[4].Color.Name, "LONG NAME");
    EXPECT_EQ(map.Entries[4].Color.Key, "ABC CODE 7\tLONG NAME S");
    // One header line may set both; each value starts after its tag and colon.
    EXPECT_EQ(map.Entries[5].Color.Prefix, "P %SUFFIX:S");
    EXPECT_EQ(map.Entries[5].Color.Suffix, "S");
    EXPECT_EQ(map.Entries[5].Spare.Key, "");
    EXPECT_EQ(map.Entries[5].Reserved, 0);

    EXPECT_EQ(map.FindColor("abc my ink s"), 1);
    EXPECT_EQ(map.FindColor(" ABC MY INK S"), -1);
    EXPECT_EQ(map.FindColor("MY INK"), -1);
    // The first of equal keys is found.
    map.Entries.push_back(Entry(1, 0, 0, 0, "A", "ABC MY INK S"));
    EXPECT_EQ(map.FindColor("abc my ink s"), 1);
}

TEST(SpotColorMap, WritesBlocksWhereThePrefixOrSuffixChanges) {
    TSpotColorMap map;
    map.Entries = {Entry(0, 0, 0, 0, "Mine", "MINE"),
                   Entry(0, 100, 79, 11, "RED 185", "P RED 185 S", "P", "S"),
                   Entry(5, 6, 7, 8, "", "P KEY ONLY S", "P", "S"),
                   Entry(1, 2, 3, 4, "", "", "P", "T"), Entry(25, 0, 0, 100, "Edited", "EDITED")};
    EXPECT_EQ(map.Write(), "0.0\t0.0\t0.0\t0.0\tMine\r\n"
                           "%PREFIX:P\r\n%SUFFIX:S\r\n%Space:CMYK\r\n%Noneditable\r\n"
                           "0.0\t100.0\t79.0\t11.0\tRED 185\r\n"
                           "5.0\t6.0\t7.0\t8.0\tP KEY ONLY S\r\n"
                           "%PREFIX:P\r\n%SUFFIX:T\r\n%Space:CMYK\r\n%Noneditable\r\n"
                           "%PREFIX:\r\n%SUFFIX:\r\n%Space:CMYK\r\n%Noneditable\r\n"
                           "25.0\t0.0\t0.0\t100.0\tEdited\r\n");
    // A nameless entry takes its key as name.
    EXPECT_EQ(map.Entries[2].Color.Name, "P KEY ONLY S");

    TSpotColorMap again;
    again.Read(map.Write());
    ASSERT_EQ(again.Entries.size(), 4u);
    EXPECT_EQ(again.Entries[1].Color.Key, "P RED 185 S");
    ExpectRecipe(again.Entries[1], 0, 100, 79, 11);
    EXPECT_EQ(again.Entries[3].Color.Key, "EDITED");
}

TEST(SpotColorMap, SaveWritesTheMapAndAnOldBackupGoesWithoutAMap) {
    TTempFolder folder;
    const std::string path = folder / "ColorsCMYK.map";
    const std::string backup = folder / "ColorsCMYK.bak";
    WriteTextFile(path, "1\t2\t3\t4\tOld\r\n");
    WriteTextFile(backup, "older still");

    TSpotColorMap map;
    std::string error;
    ASSERT_TRUE(map.Load(path, error)) << error;
    map.Entries.push_back(Entry(9, 8, 7, 6, "New", "NEW"));
    ASSERT_TRUE(map.Save(path, backup, error)) << error;
    EXPECT_EQ(ReadTextFile(path), "1.0\t2.0\t3.0\t4.0\tOLD\r\n9.0\t8.0\t7.0\t6.0\tNew\r\n");

    // Without a map file an old backup goes all the same.
    std::filesystem::remove(path);
    ASSERT_TRUE(map.Save(path, backup, error)) << error;
    EXPECT_FALSE(std::filesystem::exists(backup));

    TSpotColorMap missing;
    EXPECT_FALSE(missing.Load(folder / "none.map", error));
    EXPECT_NE(error.find("none.map"), std::string::npos);
}

TEST(SpotColorMap, PercentTextsAndSwatchColours) {
    EXPECT_EQ(PercentOfText("10.5"), 10);
    EXPECT_EQ(PercentOfText("11.5"), 12);
    EXPECT_EQ(PercentOfText(" 99.6 "), 100);
    EXPECT_EQ(PercentOfText("1,5"), 0);
    EXPECT_EQ(PercentOfText("1e30"), 2147483647);

    const auto rgb = [](TSwatchColour c) {
        return std::to_string(c.Red) + "," + std::to_string(c.Green) + "," + std::to_string(c.Blue);
    };
    EXPECT_EQ(rgb(SwatchOf(0, 0, 0, 0)), "255,255,255");
    EXPECT_EQ(rgb(SwatchOf(100, 0, 0, 0)), "0,255,255");
    EXPECT_EQ(rgb(SwatchOf(0, 0, 0, 100)), "0,0,0");
    // 10% is 25.5 of 255, which goes to 26; 40% is 102.
    EXPECT_EQ(rgb(SwatchOf(10, 50, 30, 40)), "127,25,77");
    EXPECT_EQ(rgb(SwatchOf(-20, 200, 0, 0)), "255,0,255");
}

} // namespace raduvuz::test
