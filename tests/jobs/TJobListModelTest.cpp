#include "jobs/TJobListModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace raduvuz::test {
namespace {

class TRecorder : public TJobListModel::IListener {
public:
    std::vector<std::string> Events;
    void RowInserted(int index) override { Events.push_back("+" + std::to_string(index)); }
    void RowRemoved(int index) override { Events.push_back("-" + std::to_string(index)); }
    void RowChanged(int index) override { Events.push_back("~" + std::to_string(index)); }
    void Reset() override { Events.push_back("reset"); }
};

TListRow Row(const std::string& caption) {
    TListRow row;
    row.Caption = caption;
    return row;
}

TEST(JobListModelTest, RowsStayStableHandlesAndListenersHearEveryChange) {
    TJobListModel model;
    TRecorder recorder;
    model.AddListener(&recorder);

    TListRow* a = model.Add(Row("1"));
    TListRow* b = model.Insert(0, Row("2"));
    TListRow* c = model.Insert(99, Row("3"));
    EXPECT_EQ(a->SubItems.size(), static_cast<size_t>(siCount));
    EXPECT_EQ(model.IndexOf(b), 0);
    EXPECT_EQ(model.IndexOf(a), 1);
    EXPECT_EQ(model.IndexOf(c), 2);

    model.SetSubItem(a, siName, "job");
    model.SetSubItem(a, 14, "far");
    model.SetImage(c, 4);
    model.SetCaption(b, "20");
    EXPECT_EQ(a->SubItems[siName], "job");
    EXPECT_EQ(a->SubItems[14], "far");
    EXPECT_EQ(c->ImageIndex, 4);

    model.Delete(b);
    EXPECT_EQ(model.Count(), 2);
    EXPECT_EQ(model.At(0), a);
    EXPECT_EQ(model.At(5), nullptr);
    EXPECT_EQ(model.At(-1), nullptr);

    TListRow stranger;
    model.Delete(&stranger);
    model.SetImage(&stranger, 1);

    model.Sort([](const TListRow& x, const TListRow& y) { return x.Caption > y.Caption; });
    EXPECT_EQ(model.At(0), c);
    // The rows by caption follow every change of the list.
    TListRow* d = model.Add(Row("1"));
    const auto captioned = [&](const std::string& caption) {
        std::vector<const TListRow*> rows = model.WithCaption(caption);
        std::sort(rows.begin(), rows.end());
        return rows;
    };
    const std::vector<const TListRow*> ones = captioned("1");
    EXPECT_EQ(ones.size(), 2u);
    EXPECT_TRUE(std::count(ones.begin(), ones.end(), a) == 1 &&
                std::count(ones.begin(), ones.end(), d) == 1);
    model.SetCaption(d, "4");
    EXPECT_EQ(captioned("1"), std::vector<const TListRow*>{a});
    EXPECT_EQ(captioned("4"), std::vector<const TListRow*>{d});
    EXPECT_TRUE(captioned("2").empty());
    model.DeleteRows({a});
    EXPECT_TRUE(captioned("1").empty());
    model.Delete(d);
    model.Add(Row("4"));
    EXPECT_EQ(captioned("4").size(), 1u);
    model.RemoveListener(&recorder);
    model.Clear();
    EXPECT_EQ(model.Count(), 0);
    EXPECT_TRUE(captioned("4").empty());

    EXPECT_EQ(recorder.Events,
              (std::vector<std::string>{"+0", "+0", "+2", "~1", "~1", "~2", "~0", "-0", "reset",
                                        "+2", "~2", "reset", "-1", "+1"}));
}

} // namespace
} // namespace raduvuz::test
