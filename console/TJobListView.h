#pragma once

#include <QTreeView>

#include <functional>
#include <vector>

namespace raduvuz {

class TJobTableModel;
struct TListRow;

// A job list in report style: whole rows, several selected at once, no editing. It tells the
// window when it gets or loses the focus and when its selection changes.
class TJobListView : public QTreeView {
    Q_OBJECT

public:
    explicit TJobListView(QWidget* parent = nullptr);

    void SetRows(TJobTableModel* model);
    TJobTableModel* Rows() const { return RowModel; }

    // The current selected row: the first selected row in list order, or null.
    TListRow* Selected() const;
    // Selected rows, first to last.
    std::vector<TListRow*> SelectedRows() const;
    void SelectRow(int row, bool select = true);
    void SelectAllRows();
    // Makes a row the focused row and scrolls it into view; the selection stays as it is.
    void FocusRow(int row);
    // The focused row, -1 for none.
    int FocusedRow() const;

    int ColumnWidth(int column) const;
    void SetColumnWidth(int column, int width);

    std::function<void()> OnEnter;
    std::function<void()> OnExit;
    std::function<void()> OnSelectItem;

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    TJobTableModel* RowModel = nullptr;
};

} // namespace raduvuz
