#pragma once

#include <QTreeView>

#include <functional>
#include <set>
#include <vector>

namespace raduvuz {

class TJobSortModel;
class TJobTableModel;
struct TListRow;

// A job list in report style: whole rows, several selected at once, no editing, sorted by the
// column whose header the operator clicked (a second click reverses, a third brings back the
// list's own order). Row positions here are the positions as shown. It tells the window when it
// gets or loses the focus and when its selection changes.
class TJobListView : public QTreeView {
    Q_OBJECT

public:
    explicit TJobListView(QWidget* parent = nullptr);

    void SetRows(TJobTableModel* model);
    TJobTableModel* Rows() const { return RowModel; }

    // The current selected row: the first selected row as shown, or null.
    TListRow* Selected() const;
    // Selected rows, first to last as shown.
    std::vector<TListRow*> SelectedRows() const;
    // Every row, in the order shown.
    std::vector<const TListRow*> ShownRows() const;
    void SelectRow(int row, bool select = true);
    void SelectAllRows();
    // Selects exactly the rows with these ids.
    void SelectIds(const std::set<uint32_t>& ids);
    // Makes a row the only selected row, the focused one, and scrolls it into view.
    void SelectOnly(int row);
    // The focused row, -1 for none.
    int FocusedRow() const;

    int ColumnWidth(int column) const;
    void SetColumnWidth(int column, int width);

    // The column the list is sorted by (-1: the list's own order) and the direction.
    int SortColumn() const;
    Qt::SortOrder SortOrder() const;
    void SortBy(int column, Qt::SortOrder order);

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
    // The row as shown at a position, and back.
    TListRow* RowShownAt(int row) const;
    QModelIndex ShownIndex(int row) const;

    TJobTableModel* RowModel = nullptr;
    TJobSortModel* Order = nullptr;
    std::function<void()> OnListDrop;
};

} // namespace raduvuz
