#include "console/TJobListView.h"

#include "console/TJobTableModel.h"
#include "console/TProgressDelegate.h"

#include <QDropEvent>
#include <QFocusEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMimeData>

#include <algorithm>

namespace raduvuz {

namespace {
// The two columns of automatic width share what the fixed columns leave.
bool IsAutomaticColumn(int column) {
    return column == 2 || column == 9;
}
} // namespace

TJobListView::TJobListView(QWidget* parent) : QTreeView(parent) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFrameShape(QFrame::NoFrame);
    setTextElideMode(Qt::ElideRight);
    setContextMenuPolicy(Qt::DefaultContextMenu);
    QPalette colours = palette();
    colours.setColor(QPalette::Base, colours.color(QPalette::Button));
    setPalette(colours);
    header()->setMinimumSectionSize(0);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    header()->setSectionsClickable(true);
    setItemDelegateForColumn(TJobTableModel::kSizeColumn, new TProgressDelegate(this));
    Order = new TJobSortModel(this);
}

void TJobListView::SetRows(TJobTableModel* model) {
    RowModel = model;
    Order->setSourceModel(model);
    setModel(Order);
    // No order of the operator's yet: the list's own, which a third click brings back.
    header()->setSortIndicator(-1, Qt::AscendingOrder);
    header()->setSortIndicatorClearable(true);
    setSortingEnabled(true);
    for (int column = 0; column < TJobTableModel::kColumnCount; ++column) {
        header()->setSectionResizeMode(
            column, IsAutomaticColumn(column) ? QHeaderView::Stretch : QHeaderView::Interactive);
    }
    // The device column is kept out of sight: one pixel, never wider.
    header()->setSectionResizeMode(TJobTableModel::kDevColumn, QHeaderView::Fixed);
    // The id comes first, where an operator reads it before acting; the state and the priority
    // follow the size.
    header()->moveSection(header()->visualIndex(TJobTableModel::kIdColumn), 0);
    header()->moveSection(header()->visualIndex(TJobTableModel::kStateColumn),
                          header()->visualIndex(TJobTableModel::kSizeColumn) + 1);
    header()->moveSection(header()->visualIndex(TJobTableModel::kPriorityColumn),
                          header()->visualIndex(TJobTableModel::kStateColumn) + 1);
    if (QItemSelectionModel* selection = selectionModel()) {
        connect(selection, &QItemSelectionModel::selectionChanged, this, [this] {
            if (OnSelectItem)
                OnSelectItem();
        });
    }
}

TListRow* TJobListView::RowShownAt(int row) const {
    if (RowModel == nullptr || row < 0 || row >= Order->rowCount())
        return nullptr;
    return RowModel->RowAt(Order->mapToSource(Order->index(row, 0)).row());
}

QModelIndex TJobListView::ShownIndex(int row) const {
    return row < 0 || row >= Order->rowCount() ? QModelIndex() : Order->index(row, 0);
}

TListRow* TJobListView::Selected() const {
    const std::vector<TListRow*> rows = SelectedRows();
    return rows.empty() ? nullptr : rows.front();
}

std::vector<TListRow*> TJobListView::SelectedRows() const {
    std::vector<TListRow*> rows;
    if (RowModel == nullptr || selectionModel() == nullptr)
        return rows;
    QList<int> shown;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        shown.push_back(index.row());
    std::sort(shown.begin(), shown.end());
    for (int row : shown) {
        if (TListRow* listRow = RowShownAt(row))
            rows.push_back(listRow);
    }
    return rows;
}

std::vector<const TListRow*> TJobListView::ShownRows() const {
    std::vector<const TListRow*> rows;
    for (int row = 0; row < Order->rowCount(); ++row) {
        if (const TListRow* listRow = RowShownAt(row))
            rows.push_back(listRow);
    }
    return rows;
}

void TJobListView::SelectRow(int row, bool select) {
    const QModelIndex index = ShownIndex(row);
    if (!index.isValid() || selectionModel() == nullptr)
        return;
    const auto flags = (select ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                       QItemSelectionModel::Rows;
    selectionModel()->select(index, flags);
    if (select)
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
}

void TJobListView::SelectAllRows() {
    selectAll();
}

void TJobListView::SelectIds(const std::set<uint32_t>& ids) {
    if (selectionModel() == nullptr)
        return;
    QItemSelection wanted;
    for (int row = 0; row < Order->rowCount(); ++row) {
        const TListRow* listRow = RowShownAt(row);
        if (listRow && ids.count(listRow->Id) > 0)
            wanted.select(Order->index(row, 0), Order->index(row, Order->columnCount() - 1));
    }
    selectionModel()->select(wanted, QItemSelectionModel::ClearAndSelect);
}

void TJobListView::SelectOnly(int row) {
    const QModelIndex index = ShownIndex(row);
    if (!index.isValid() || selectionModel() == nullptr)
        return;
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                 QItemSelectionModel::Rows);
    scrollTo(index);
}

int TJobListView::FocusedRow() const {
    return selectionModel() && currentIndex().isValid() ? currentIndex().row() : -1;
}

int TJobListView::ColumnWidth(int column) const {
    return header()->sectionSize(column);
}

void TJobListView::SetColumnWidth(int column, int width) {
    if (column == TJobTableModel::kDevColumn)
        width = std::min(width, 1);
    header()->resizeSection(column, std::max(0, width));
}

int TJobListView::SortColumn() const {
    return header()->sortIndicatorSection();
}

Qt::SortOrder TJobListView::SortOrder() const {
    return header()->sortIndicatorOrder();
}

void TJobListView::SortBy(int column, Qt::SortOrder order) {
    if (column < -1 || column >= TJobTableModel::kColumnCount)
        column = -1;
    header()->setSortIndicator(column, order);
    sortByColumn(column, order);
}

void TJobListView::focusInEvent(QFocusEvent* event) {
    QTreeView::focusInEvent(event);
    if (OnEnter)
        OnEnter();
}

void TJobListView::focusOutEvent(QFocusEvent* event) {
    QTreeView::focusOutEvent(event);
    // A popup menu or another application taking the focus does not leave the list.
    if (event->reason() == Qt::PopupFocusReason || event->reason() == Qt::ActiveWindowFocusReason)
        return;
    if (OnExit)
        OnExit();
}

void TJobListView::SetDragSource(bool enabled) {
    setDragEnabled(enabled);
    setDragDropMode(enabled ? QAbstractItemView::DragOnly : QAbstractItemView::NoDragDrop);
}

void TJobListView::AcceptListDrops(std::function<void()> onDrop) {
    OnListDrop = std::move(onDrop);
    setDragDropMode(QAbstractItemView::DropOnly);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
}

bool TJobListView::TakesDrag(const QDropEvent* event) const {
    return OnListDrop && event->source() != this && event->mimeData() &&
           event->mimeData()->hasFormat(TJobTableModel::kRowsMimeType);
}

void TJobListView::dragEnterEvent(QDragEnterEvent* event) {
    if (TakesDrag(event))
        event->acceptProposedAction();
    else
        QTreeView::dragEnterEvent(event);
}

void TJobListView::dragMoveEvent(QDragMoveEvent* event) {
    if (TakesDrag(event))
        event->acceptProposedAction();
    else
        QTreeView::dragMoveEvent(event);
}

void TJobListView::dropEvent(QDropEvent* event) {
    if (!TakesDrag(event)) {
        QTreeView::dropEvent(event);
        return;
    }
    event->acceptProposedAction();
    OnListDrop();
}

} // namespace raduvuz
