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
    setItemDelegateForColumn(TJobTableModel::kSizeColumn, new TProgressDelegate(this));
}

void TJobListView::SetRows(TJobTableModel* model) {
    RowModel = model;
    setModel(model);
    for (int column = 0; column < TJobTableModel::kColumnCount; ++column) {
        header()->setSectionResizeMode(
            column, IsAutomaticColumn(column) ? QHeaderView::Stretch : QHeaderView::Interactive);
    }
    // The device column is kept out of sight: one pixel, never wider.
    header()->setSectionResizeMode(TJobTableModel::kColumnCount - 1, QHeaderView::Fixed);
    if (QItemSelectionModel* selection = selectionModel()) {
        connect(selection, &QItemSelectionModel::selectionChanged, this, [this] {
            if (OnSelectItem)
                OnSelectItem();
        });
    }
}

TListRow* TJobListView::Selected() const {
    const std::vector<TListRow*> rows = SelectedRows();
    return rows.empty() ? nullptr : rows.front();
}

std::vector<TListRow*> TJobListView::SelectedRows() const {
    std::vector<TListRow*> rows;
    if (RowModel == nullptr || selectionModel() == nullptr)
        return rows;
    QList<int> indexes;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        indexes.push_back(index.row());
    std::sort(indexes.begin(), indexes.end());
    for (int index : indexes) {
        if (TListRow* row = RowModel->RowAt(index))
            rows.push_back(row);
    }
    return rows;
}

void TJobListView::SelectRow(int row, bool select) {
    if (RowModel == nullptr || selectionModel() == nullptr || row < 0 ||
        row >= RowModel->rowCount())
        return;
    const auto flags = (select ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                       QItemSelectionModel::Rows;
    selectionModel()->select(RowModel->index(row, 0), flags);
    if (select)
        selectionModel()->setCurrentIndex(RowModel->index(row, 0), QItemSelectionModel::NoUpdate);
}

void TJobListView::SelectAllRows() {
    selectAll();
}

void TJobListView::FocusRow(int row) {
    if (RowModel == nullptr || selectionModel() == nullptr || row < 0 ||
        row >= RowModel->rowCount())
        return;
    const QModelIndex index = RowModel->index(row, 0);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    scrollTo(index);
}

int TJobListView::FocusedRow() const {
    return selectionModel() && currentIndex().isValid() ? currentIndex().row() : -1;
}

int TJobListView::ColumnWidth(int column) const {
    return header()->sectionSize(column);
}

void TJobListView::SetColumnWidth(int column, int width) {
    if (column == TJobTableModel::kColumnCount - 1)
        width = std::min(width, 1);
    header()->resizeSection(column, std::max(0, width));
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
