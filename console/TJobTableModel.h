#pragma once

#include "jobs/TJobListModel.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QList>
#include <QStringList>

namespace raduvuz {

// The view side of a job list the core owns: column 0 is the row's caption with its image,
// columns 1 to 10 its sub-items 0 to 9. It holds no job data of its own.
class TJobTableModel : public QAbstractTableModel, private TJobListModel::IListener {
    Q_OBJECT

public:
    static constexpr int kColumnCount = 11;

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
