#include "jobs/TJobListModel.h"

#include <gtest/gtest.h>

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
    model.RemoveListener(&recorder);
    model.Clear();
    EXPECT_EQ(model.Count(), 0);

    EXPECT_EQ(recorder.Events,
              (std::vector<std::string>{"+0", "+0", "+2", "~1", "~1", "~2", "~0", "-0", "reset"}));
}

} // namespace
} // namespace raduvuz::test
