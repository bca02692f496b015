#include "console/TJobTableModel.h"

#include "common/Utils.h"

#include <QMimeData>
#include <QPixmap>

#include <algorithm>
#include <unordered_set>

namespace raduvuz {

TJobTableModel::TJobTableModel(TJobListModel& rows, QStringList captions, QList<QIcon> images,
                               QObject* parent)
    : QAbstractTableModel(parent), Source(rows), Captions(std::move(captions)),
      Images(std::move(images)) {
    QPixmap empty(16, 16);
    empty.fill(Qt::transparent);
    Blank = QIcon(empty);
    for (int i = 0; i < Source.Count(); ++i)
        Shown.push_back(Source.At(i));
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
    case kPriorityColumn:
        return Qt::AlignHCenter | Qt::AlignVCenter;
    case kIdColumn:
        return Qt::AlignRight | Qt::AlignVCenter;
    default:
        return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

int TJobTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(Shown.size());
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

const TRowFacts* TJobTableModel::FactsOf(const TListRow& row) const {
    const auto found = Facts.find(row.Id);
    return found == Facts.end() ? nullptr : &found->second;
}

QVariant TJobTableModel::SortValue(const TListRow& row, int column) const {
    const TRowFacts* facts = FactsOf(row);
    const auto numberOr = [](const std::string& text) -> QVariant {
        int32_t number = 0;
        if (TryStrToInt(text, number))
            return qlonglong{number};
        return QString::fromStdString(text);
    };
    switch (column) {
    case 0:
        return numberOr(row.Caption);
    case 5:
    case 6:
        return row.Created;
    case kSizeColumn:
        return qlonglong{row.Bytes};
    case kIdColumn:
        return qlonglong{row.Id};
    case kStateColumn:
        return facts ? QVariant(qlonglong{facts->StateOrder}) : QVariant(QString());
    case kPriorityColumn:
        return qlonglong{facts ? facts->Priority : row.Priority};
    default:
        break;
    }
    const auto sub = static_cast<size_t>(column - 1);
    return sub < row.SubItems.size() ? numberOr(row.SubItems[sub]) : QVariant(QString());
}

QVariant TJobTableModel::data(const QModelIndex& index, int role) const {
    const TListRow* row = index.isValid() ? Source.At(index.row()) : nullptr;
    if (row == nullptr)
        return {};
    const int column = index.column();
    const std::optional<double> progress =
        column == kSizeColumn ? ProgressOf(*row) : std::optional<double>();
    const TRowFacts* facts = FactsOf(*row);
    switch (role) {
    case kProgressRole:
        return progress ? QVariant(*progress) : QVariant();
    case kSortRole:
        return SortValue(*row, column);
    case Qt::ToolTipRole:
        if (progress)
            return QStringLiteral("%1% (%2 / %3)")
                .arg(static_cast<int>(*progress * 100))
                .arg(QString::fromStdString(SizeText(row->Done)),
                     QString::fromStdString(SizeText(row->Bytes)));
        [[fallthrough]];
    case Qt::DisplayRole:
        switch (column) {
        case 0:
            return QString::fromStdString(row->Caption);
        case kSizeColumn:
            return QString::fromStdString(SizeColumnText(*row));
        case kIdColumn:
            return QString::number(row->Id);
        case kStateColumn:
            return facts ? facts->State : QString();
        case kPriorityColumn:
            return QString::number(facts ? facts->Priority : row->Priority);
        default:
            break;
        }
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

void TJobTableModel::SetCaptions(const QStringList& captions, const QStringList& tips) {
    Captions = captions;
    Tips = tips;
    emit headerDataChanged(Qt::Horizontal, 0, static_cast<int>(Captions.size()) - 1);
}

void TJobTableModel::SetFacts(TRowFactsById facts) {
    std::swap(Facts, facts);
    // Only rows whose facts changed are drawn again (and sorted again).
    for (int i = 0; i < static_cast<int>(Shown.size()); ++i) {
        const uint32_t id = Shown[static_cast<size_t>(i)]->Id;
        const auto before = facts.find(id);
        const auto now = Facts.find(id);
        const bool same = (before == facts.end()) == (now == Facts.end()) &&
                          (now == Facts.end() || now->second == before->second);
        if (!same)
            emit dataChanged(index(i, kStateColumn), index(i, kPriorityColumn));
    }
}

void TJobTableModel::UpdateFacts(const TRowFactsById& changed,
                                 const std::vector<uint32_t>& removed) {
    for (const uint32_t id : removed)
        Facts.erase(id);
    std::unordered_set<uint32_t> redrawn;
    for (const auto& [id, facts] : changed) {
        const auto [at, added] = Facts.try_emplace(id, facts);
        if (!added && at->second == facts)
            continue;
        at->second = facts;
        redrawn.insert(id);
    }
    if (redrawn.empty())
        return;
    for (int i = 0; i < static_cast<int>(Shown.size()); ++i) {
        if (redrawn.count(Shown[static_cast<size_t>(i)]->Id) > 0)
            emit dataChanged(index(i, kStateColumn), index(i, kPriorityColumn));
    }
}

QVariant TJobTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= Captions.size())
        return {};
    if (role == Qt::DisplayRole)
        return Captions[section];
    if (role == Qt::ToolTipRole && section < Tips.size() && !Tips[section].isEmpty())
        return Tips[section];
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
    Shown.insert(Shown.begin() + index, Source.At(index));
    endInsertRows();
}

void TJobTableModel::RowRemoved(int index) {
    beginRemoveRows(QModelIndex(), index, index);
    Shown.erase(Shown.begin() + index);
    endRemoveRows();
}

void TJobTableModel::RowChanged(int index) {
    emit dataChanged(this->index(index, 0), this->index(index, kColumnCount - 1));
}

void TJobTableModel::Reset() {
    std::unordered_map<const TListRow*, int> now;
    for (int i = 0; i < Source.Count(); ++i)
        now.emplace(Source.At(i), i);
    const bool sameRows = now.size() == Shown.size() &&
                          std::all_of(Shown.begin(), Shown.end(),
                                      [&now](const TListRow* row) { return now.count(row) > 0; });
    if (!sameRows) {
        beginResetModel();
        Shown.clear();
        for (int i = 0; i < Source.Count(); ++i)
            Shown.push_back(Source.At(i));
        endResetModel();
        return;
    }
    emit layoutAboutToBeChanged();
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    for (const QModelIndex& index : from)
        to.push_back(this->index(now.at(Shown[static_cast<size_t>(index.row())]), index.column()));
    changePersistentIndexList(from, to);
    for (int i = 0; i < Source.Count(); ++i)
        Shown[static_cast<size_t>(i)] = Source.At(i);
    emit layoutChanged();
}

TJobSortModel::TJobSortModel(QObject* parent) : QSortFilterProxyModel(parent) {
    setSortRole(TJobTableModel::kSortRole);
    setDynamicSortFilter(true);
}

bool TJobSortModel::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    const QVariant a = left.data(sortRole());
    const QVariant b = right.data(sortRole());
    const bool aText = a.typeId() == QMetaType::QString;
    const bool bText = b.typeId() == QMetaType::QString;
    if (aText != bText)
        return !aText;
    if (aText)
        return QString::localeAwareCompare(a.toString().toCaseFolded(),
                                           b.toString().toCaseFolded()) < 0;
    return a.toDouble() < b.toDouble();
}

} // namespace raduvuz
