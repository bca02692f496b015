#include "console/TJobTableModel.h"

#include "common/Utils.h"

#include <QMimeData>
#include <QPixmap>

#include <algorithm>

namespace raduvuz {

TJobTableModel::TJobTableModel(TJobListModel& rows, QStringList captions, QList<QIcon> images,
                               QObject* parent)
    : QAbstractTableModel(parent), Source(rows), Captions(std::move(captions)),
      Images(std::move(images)), Count(rows.Count()) {
    QPixmap empty(16, 16);
    empty.fill(Qt::transparent);
    Blank = QIcon(empty);
    Source.AddListener(this);
}

TJobTableModel::~TJobTableModel() {
    Source.RemoveListener(this);
}

Qt::Alignment TJobTableModel::ColumnAlignment(int column) {
    switch (column) {
    case 3:
    case 4:
    case 5:
    case 6:
    case 8:
        return Qt::AlignHCenter | Qt::AlignVCenter;
    default:
        return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

int TJobTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Count;
}

int TJobTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

std::optional<double> TJobTableModel::ProgressOf(const TListRow& row) {
    // Images 1 and 2 are the rows of jobs that transfer, send or spool.
    if ((row.ImageIndex != 1 && row.ImageIndex != 2) || row.Bytes <= 0)
        return std::nullopt;
    return std::clamp(static_cast<double>(row.Done) / static_cast<double>(row.Bytes), 0.0, 1.0);
}

QVariant TJobTableModel::data(const QModelIndex& index, int role) const {
    const TListRow* row = index.isValid() ? Source.At(index.row()) : nullptr;
    if (row == nullptr)
        return {};
    const int column = index.column();
    const std::optional<double> progress =
        column == kSizeColumn ? ProgressOf(*row) : std::optional<double>();
    switch (role) {
    case kProgressRole:
        return progress ? QVariant(*progress) : QVariant();
    case Qt::ToolTipRole:
        if (progress)
            return QStringLiteral("%1% (%2 / %3)")
                .arg(static_cast<int>(*progress * 100))
                .arg(QString::fromStdString(SizeText(row->Done)),
                     QString::fromStdString(SizeText(row->Bytes)));
        [[fallthrough]];
    case Qt::DisplayRole:
        if (column == 0)
            return QString::fromStdString(row->Caption);
        if (static_cast<size_t>(column - 1) < row->SubItems.size())
            return QString::fromStdString(row->SubItems[static_cast<size_t>(column - 1)]);
        return QString();
    case Qt::DecorationRole:
        if (column != 0)
            return {};
        if (row->ImageIndex >= 0 && row->ImageIndex < Images.size())
            return Images[row->ImageIndex];
        // A row without an image keeps the image's room, so the captions line up.
        return Blank;
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(ColumnAlignment(column));
    default:
        return {};
    }
}

void TJobTableModel::SetCaptions(const QStringList& captions) {
    Captions = captions;
    emit headerDataChanged(Qt::Horizontal, 0, static_cast<int>(Captions.size()) - 1);
}

QVariant TJobTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= Captions.size())
        return {};
    if (role == Qt::DisplayRole)
        return Captions[section];
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(ColumnAlignment(section));
    return {};
}

Qt::ItemFlags TJobTableModel::flags(const QModelIndex& index) const {
    // Captions are read-only: no editing in place. Whether a row is dragged is the view's call.
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled
                           : Qt::NoItemFlags;
}

const QString TJobTableModel::kRowsMimeType = QStringLiteral("application/x-raduvuz-job-rows");

QStringList TJobTableModel::mimeTypes() const {
    return {kRowsMimeType};
}

QMimeData* TJobTableModel::mimeData(const QModelIndexList& indexes) const {
    QStringList ids;
    for (const QModelIndex& index : indexes) {
        const TListRow* row = index.column() == 0 ? RowAt(index.row()) : nullptr;
        if (row)
            ids.push_back(QString::number(row->Id));
    }
    auto* data = new QMimeData;
    data->setData(kRowsMimeType, ids.join(QLatin1Char('\n')).toUtf8());
    return data;
}

void TJobTableModel::RowInserted(int index) {
    beginInsertRows(QModelIndex(), index, index);
    ++Count;
    endInsertRows();
}

void TJobTableModel::RowRemoved(int index) {
    beginRemoveRows(QModelIndex(), index, index);
    --Count;
    endRemoveRows();
}

void TJobTableModel::RowChanged(int index) {
    emit dataChanged(this->index(index, 0), this->index(index, kColumnCount - 1));
}

void TJobTableModel::Reset() {
    beginResetModel();
    Count = Source.Count();
    endResetModel();
}

} // namespace raduvuz
