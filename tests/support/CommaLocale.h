#pragma once

#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <optional>
#include <string>

namespace raduvuz::test {

// A test in a locale whose decimal separator is a comma: the numeric part of a locale built from
// a definition in the test's own folder. Skipped where localedef cannot build it.
class TCommaLocale : public ::testing::Test {
protected:
    void SetUp() override {
        WriteTextFile(Folder / "comma.def", "LC_NUMERIC\ndecimal_point \",\"\nthousands_sep \".\"\n"
                                            "grouping 3;3\nEND LC_NUMERIC\n");
        const std::string command = "localedef -c -i '" + (Folder / "comma.def") + "' '" +
                                    (Folder / "xx_XX") + "' >/dev/null 2>&1";
        // localedef reports the categories it was not given; the numeric one is all we need.
        [[maybe_unused]] const int ignored = std::system(command.c_str());
        LocalePath.emplace("LOCPATH", Folder.Path());
        Saved = std::setlocale(LC_NUMERIC, nullptr);
        if (!std::setlocale(LC_NUMERIC, "xx_XX"))
            GTEST_SKIP() << "localedef could not build a test locale";
    }
    void TearDown() override {
        std::setlocale(LC_NUMERIC, Saved.c_str());
        LocalePath.reset();
    }

    TTempFolder Folder;
    std::optional<TScopedEnv> LocalePath;
    std::string Saved;
};

} // namespace raduvuz::test
