#pragma once

#include "jobs/TJobListModel.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QList>
#include <QSortFilterProxyModel>
#include <QStringList>

#include <optional>
#include <unordered_map>
#include <vector>

namespace raduvuz {

// What the module tells of a row beyond its texts: the state of its job in words, where that
// state stands in the order of a job's road (for sorting), and its priority.
struct TRowFacts {
    QString State;
    int StateOrder = 0;
    int32_t Priority = 0;
    bool operator==(const TRowFacts&) const = default;
};
using TRowFactsById = std::unordered_map<uint32_t, TRowFacts>;

// The view side of a job list the core owns: column 0 is the row's caption with its image,
// columns 1 to 10 its sub-items 0 to 9, then the row's id, its job's state and priority. It holds
// no job data of its own but the facts the window gives it.
class TJobTableModel : public QAbstractTableModel, private TJobListModel::IListener {
    Q_OBJECT

public:
    static constexpr int kColumnCount = 14;
    // The "Size" column, where a moving job shows how far it has got.
    static constexpr int kSizeColumn = 8;
    // The device column, kept out of sight.
    static constexpr int kDevColumn = 10;
    // The id raduvuz-ctl and the job-control interface take, the state and the priority.
    static constexpr int kIdColumn = 11;
    static constexpr int kStateColumn = 12;
    static constexpr int kPriorityColumn = 13;
    // In the "Size" column of a job that moves (transferring, spooling or sending) and whose
    // size is known: the part moved, 0 to 1; nothing otherwise.
    static constexpr int kProgressRole = Qt::UserRole + 1;
    // What a column sorts by: numbers for numbers, the time the job came for its date and
    // time, the bytes for its size, the road's order for its state; else the text.
    static constexpr int kSortRole = Qt::UserRole + 2;

    TJobTableModel(TJobListModel& rows, QStringList captions, QList<QIcon> images,
                   QObject* parent = nullptr);
    ~TJobTableModel() override;

    TJobListModel& Rows() const { return Source; }
    TListRow* RowAt(int row) const { return Source.At(row); }
    // The column captions and their tips, as a translation gives them.
    void SetCaptions(const QStringList& captions, const QStringList& tips = {});
    // The facts of the rows by id; rows without facts show no state and the priority they came
    // with.
    void SetFacts(TRowFactsById facts);
    // Facts of some rows changed or came, those of the removed ids went.
    void UpdateFacts(const TRowFactsById& changed, const std::vector<uint32_t>& removed);
    const TRowFacts* FactsOf(const TListRow& row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Dragged rows travel as their ids, one per line, under kRowsMimeType.
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    static const QString kRowsMimeType;

    static Qt::Alignment ColumnAlignment(int column);
    // The part of its data a row's job has moved, when it moves and its size is known.
    static std::optional<double> ProgressOf(const TListRow& row);

private:
    void RowInserted(int index) override;
    void RowRemoved(int index) override;
    void RowChanged(int index) override;
    // The core sorted its rows (the same rows in another order): the views keep their selection
    // and current row on the same rows. Any other change resets them.
    void Reset() override;
    QVariant SortValue(const TListRow& row, int column) const;

    TJobListModel& Source;
    QStringList Captions;
    QStringList Tips;
    QList<QIcon> Images;
    QIcon Blank;
    TRowFactsById Facts;
    // The rows as the views were last told of them; the core has already changed when it tells.
    std::vector<const TListRow*> Shown;
};

// The order the operator chose for a list: by the sort values of a column, ties in the list's
// own order; numbers before texts, texts in the locale's order regardless of case.
class TJobSortModel : public QSortFilterProxyModel {
    Q_OBJECT

public:
    explicit TJobSortModel(QObject* parent = nullptr);

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
};

} // namespace raduvuz
