#include "services/Dispatch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

namespace raduvuz::test {
namespace {

// "Name: message" of the dispatch error a call throws; empty when it throws none.
std::string ErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const TDispatchError& e) {
        return e.Name + ": " + e.what();
    }
    return {};
}

TEST(DispatchTest, IntegersComeFromEveryKindThatHoldsOne) {
    EXPECT_EQ(VariantToInt(int32_t{-7}), -7);
    EXPECT_EQ(VariantToInt(true), -1);
    EXPECT_EQ(VariantToInt(false), 0);
    EXPECT_EQ(VariantToInt(std::string(" 42 ")), 42);
    EXPECT_EQ(VariantToInt(std::string("+5")), 5);
    EXPECT_EQ(VariantToInt(std::string("2.5")), 2);
    EXPECT_EQ(VariantToInt(3.5), 4);
    EXPECT_EQ(VariantToInt(-2147483648.0), INT32_MIN);
    EXPECT_THROW(VariantToInt(std::string("abc")), TDispatchError);
    EXPECT_THROW(VariantToInt(std::string("")), TDispatchError);
    EXPECT_THROW(VariantToInt(std::string("99999999999")), TDispatchError);
    EXPECT_THROW(VariantToInt(3e10), TDispatchError);
    EXPECT_EQ(ErrorOf([] { VariantToInt(TNull{}); }),
              "RAduvuz.Error.Unexpected: Could not convert variant of type (Null) into type "
              "(Integer)");
}

TEST(DispatchTest, FlagsAndTexts) {
    EXPECT_TRUE(VariantToBool(int32_t{2}));
    EXPECT_FALSE(VariantToBool(0.0));
    EXPECT_TRUE(VariantToBool(std::string("TRUE")));
    EXPECT_FALSE(VariantToBool(std::string(" false ")));
    EXPECT_TRUE(VariantToBool(std::string("-1")));
    EXPECT_THROW(VariantToBool(std::string("yes")), TDispatchError);
    EXPECT_THROW(VariantToBool(TNull{}), TDispatchError);

    EXPECT_EQ(VariantToText(int32_t{-3}), "-3");
    EXPECT_EQ(VariantToText(true), "True");
    EXPECT_EQ(VariantToText(0.25), "0.25");
    EXPECT_EQ(VariantToText(std::string("x")), "x");
    EXPECT_THROW(VariantToText(TNull{}), TDispatchError);
}

TEST(DispatchTest, ErrorNamesOfCodesAndRefusedArguments) {
    // An element of a bus name may not begin with a digit: the code follows an "H".
    EXPECT_EQ(ErrorNameOfCode(0x8000FFFFu), "RAduvuz.Error.H8000FFFF");
    EXPECT_EQ(ErrorNameOfCode(0x1u), "RAduvuz.Error.H00000001");
    EXPECT_EQ(ErrorNameOfCode(0xdeadbeefu), "RAduvuz.Error.HDEADBEEF");

    const TInvalidArgument refused("Key", "\"../x\" is not a plain name");
    EXPECT_EQ(refused.Name, "RAduvuz.Error.InvalidArgs");
    EXPECT_STREQ(refused.what(), "Key: \"../x\" is not a plain name");

    EXPECT_NO_THROW(CheckTextSize("Value", std::string(kMaxTextBytes, 'x')));
    EXPECT_EQ(
        ErrorOf([] { CheckValueSize("Value", TVariant(std::string(kMaxTextBytes + 1, 'x'))); }),
        "RAduvuz.Error.InvalidArgs: Value: a text of 1048577 bytes is longer than the "
        "1048576 bytes allowed");
    EXPECT_NO_THROW(CheckValueSize("Value", TVariant(int32_t{5})));
}

TEST(DispatchTest, InProcessObjectsCallByNameAndReportFailures) {
    TInProcessObject object;
    object.Define("Twice", [](const std::vector<TVariant>& args) {
        return TCallResult{VariantToInt(args.at(0)) * 2, {}};
    });
    object.Define("Broken", [](const std::vector<TVariant>&) -> TCallResult {
        throw std::runtime_error("it broke");
    });
    object.Define("Coded", [](const std::vector<TVariant>&) -> TCallResult {
        throw TDispatchError(ErrorNameOfCode(0x80004005u), "coded");
    });
    EXPECT_EQ(VariantToInt(object.Call("Twice", {int32_t{21}}).Result), 42);
    EXPECT_EQ(ErrorOf([&] { object.Call("Broken", {}); }), "RAduvuz.Error.Unexpected: it broke");
    EXPECT_EQ(ErrorOf([&] { object.Call("Coded", {}); }), "RAduvuz.Error.H80004005: coded");
    EXPECT_THAT(ErrorOf([&] { object.Call("Missing", {}); }),
                ::testing::StartsWith("org.freedesktop.DBus.Error.UnknownMethod: "));
}

TEST(DispatchTest, InProcessSendsRunAtOnceAndSignalsReachTheirListenersWhileTheyListen) {
    TInProcessObject object;
    std::vector<std::string> runs;
    object.Define("Note", [&runs](const std::vector<TVariant>& args) {
        runs.push_back(VariantToText(args.at(0)));
        return TCallResult{};
    });
    object.Send("Note", {std::string("a")}, "s");
    EXPECT_EQ(runs, std::vector<std::string>{"a"});
    EXPECT_THROW(object.Send("Missing", {}, ""), TDispatchError);

    std::vector<std::string> heard;
    TListeningPtr first =
        object.Listen("I", {"A", "B"}, [&heard](const std::string& member, const auto& args) {
            heard.push_back("1" + member + std::to_string(args.size()));
        });
    TListeningPtr second = object.Listen("I", {"B"}, [&](const std::string& member, const auto&) {
        heard.push_back("2" + member);
        // A listener that stops while it is told does not disturb the others.
        second.reset();
    });
    object.Emit("A", {int32_t{1}});
    object.Emit("B", {});
    object.Emit("C", {});
    object.Emit("B", {});
    EXPECT_EQ(heard, (std::vector<std::string>{"1A1", "1B0", "2B", "1B0"}));
    first.reset();
    object.Emit("A", {});
    EXPECT_EQ(heard.size(), 4u);
}

} // namespace
} // namespace raduvuz::test
