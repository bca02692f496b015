#pragma once

#include <QStyledItemDelegate>

namespace raduvuz {

// Paints a cell whose row has a progress (TJobTableModel::kProgressRole) as a bar filled that
// far, with the cell's own text on it; any other cell as usual.
class TProgressDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

} // namespace raduvuz
