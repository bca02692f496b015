#include "tools/web/TJobCopy.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace raduvuz::web {
namespace {

TCopyRow Row(uint32_t id, const std::string& state, bool inProcess = true) {
    return {id, inProcess, state == "held",
            "{\"id\":" + std::to_string(id) + ",\"state\":\"" + state + "\"}"};
}

QJsonObject Parsed(const std::string& json) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
}

std::vector<int> Ids(const QJsonArray& array, const char* key = nullptr) {
    std::vector<int> ids;
    for (const QJsonValue& value : array)
        ids.push_back(key ? value.toObject().value(key).toInt() : value.toInt());
    return ids;
}

TEST(JobCopyTest, ABrowserGetsOnlyWhatChangedAfterItsSerialAndEverythingWhenItsSerialIsStale) {
    TJobCopy copy(1000);
    EXPECT_TRUE(copy.Replace({Row(1, "waiting"), Row(2, "held"), Row(3, "passed", false)}));
    const uint64_t first = copy.Serial();
    EXPECT_EQ(copy.Counts().InProcess, 2);
    EXPECT_EQ(copy.Counts().Held, 1);
    EXPECT_EQ(copy.Counts().Passed, 1);
    // The same rows again change nothing and make no serial.
    EXPECT_FALSE(copy.Apply({Row(1, "waiting")}, {}));
    EXPECT_EQ(copy.Serial(), first);

    EXPECT_TRUE(copy.Apply({Row(2, "waiting"), Row(4, "sending")}, {1}));
    const uint64_t second = copy.Serial();
    EXPECT_TRUE(
        copy.Replace({Row(2, "waiting"), Row(4, "passed", false), Row(3, "passed", false)}));
    EXPECT_EQ(copy.Counts().InProcess, 1);
    EXPECT_EQ(copy.Counts().Held, 0);
    EXPECT_EQ(copy.Counts().Passed, 2);

    struct TCase {
        uint64_t Since;
        bool Full;
        std::vector<int> Rows;
        std::vector<int> Removed;
    };
    const std::vector<TCase> cases = {
        {copy.Serial(), false, {}, {}},
        {second, false, {4}, {}},
        {first, false, {2, 4}, {1}},
        // From before the copy's first serial (another run of the gateway), or from the future.
        {999, true, {2, 3, 4}, {}},
        {copy.Serial() + 1, true, {2, 3, 4}, {}},
    };
    for (const TCase& test : cases) {
        const QJsonObject delta = Parsed(copy.SinceJson(test.Since));
        EXPECT_EQ(delta.value("full").toBool(), test.Full) << test.Since;
        EXPECT_EQ(Ids(delta.value("jobs").toArray(), "id"), test.Rows) << test.Since;
        EXPECT_EQ(Ids(delta.value("removed").toArray()), test.Removed) << test.Since;
        EXPECT_EQ(delta.value("serial").toInteger(), static_cast<qint64>(copy.Serial()));
    }
    EXPECT_EQ(Ids(Parsed(copy.ListJson("passed")).value("jobs").toArray(), "id"),
              (std::vector<int>{3, 4}));
    EXPECT_EQ(Ids(Parsed(copy.RowsJson({4, 9, 2})).value("jobs").toArray(), "id"),
              (std::vector<int>{4, 2}));
}

TEST(JobCopyTest, ForgottenRemovalsMakeAnOldSerialGetEveryRow) {
    TJobCopy copy(0);
    std::vector<TCopyRow> many;
    for (uint32_t id = 1; id <= 5000; ++id)
        many.push_back(Row(id, "passed", false));
    copy.Replace(many);
    const uint64_t before = copy.Serial();
    for (uint32_t id = 1; id <= 4999; ++id)
        copy.Apply({}, {id});
    EXPECT_EQ(copy.Size(), 1u);
    // Fewer removals are kept than were made since: the old serial gets the whole list.
    const QJsonObject delta = Parsed(copy.SinceJson(before));
    EXPECT_TRUE(delta.value("full").toBool());
    EXPECT_EQ(Ids(delta.value("jobs").toArray(), "id"), std::vector<int>{5000});
}

} // namespace
} // namespace raduvuz::web
