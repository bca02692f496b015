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
    // Lets the operator drag the selected rows out of this list.
    void SetDragSource(bool enabled);
    // The list takes rows dragged from another job list; onDrop runs when they are dropped.
    void AcceptListDrops(std::function<void()> onDrop);

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // A drag this list takes: job rows from another list.
    bool TakesDrag(const QDropEvent* event) const;

    TJobTableModel* RowModel = nullptr;
    std::function<void()> OnListDrop;
};

} // namespace raduvuz
