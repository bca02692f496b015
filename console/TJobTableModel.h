#pragma once

#include "jobs/TJobListModel.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QList>
#include <QStringList>

#include <optional>

namespace raduvuz {

// The view side of a job list the core owns: column 0 is the row's caption with its image,
// columns 1 to 10 its sub-items 0 to 9. It holds no job data of its own.
class TJobTableModel : public QAbstractTableModel, private TJobListModel::IListener {
    Q_OBJECT

public:
    static constexpr int kColumnCount = 11;
    // The "Size" column, where a moving job shows how far it has got.
    static constexpr int kSizeColumn = 8;
    // In the "Size" column of a job that moves (transferring, spooling or sending) and whose
    // size is known: the part moved, 0 to 1; nothing otherwise.
    static constexpr int kProgressRole = Qt::UserRole + 1;

    TJobTableModel(TJobListModel& rows, QStringList captions, QList<QIcon> images,
                   QObject* parent = nullptr);
    ~TJobTableModel() override;

    TJobListModel& Rows() const { return Source; }
    TListRow* RowAt(int row) const { return Source.At(row); }
    // The column captions, as a translation gives them.
    void SetCaptions(const QStringList& captions);

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
    void Reset() override;

    TJobListModel& Source;
    QStringList Captions;
    QList<QIcon> Images;
    QIcon Blank;
    // The row count the views were last told; the core has already changed when it tells us.
    int Count = 0;
};

} // namespace raduvuz
