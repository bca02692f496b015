#pragma once

#include "jobs/TJobListModel.h"

#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <QTimer>
#include <QVariantMap>

#include <deque>
#include <functional>
#include <unordered_map>

namespace raduvuz {

class TJobActions;
class TModuleControl;
class TProcessLifetime;

// RAduvuz.IJobControl beside RAduvuz.IModuleControl at /ModuleControl: the operator's job
// commands for tools and scripts. Each slot only converts: the ids and choices in, one job
// command of the module, the ids it did (or the rows) out; an exception becomes an
// RAduvuz.Error.* reply. The adaptor is a child of the object registered at the path.
// It watches both job lists and announces their changes with JobsChanged, at most once per
// kNoticeGapMs, after the change: a stream of blocks or jobs costs a listener a few wake-ups a
// second, not one per block.
// Its calls wait in a queue and are answered one per turn of the event loop, in the order they
// came, not while the module waits for the reply to a call of its own, and, while jobs are in
// process, in at most a share of the module's time: clients that list, search, hold and release
// in a loop cannot starve the cycle, nor delay the automation calls behind a row of big answers.
class TJobControlAdaptor : public QDBusAbstractAdaptor, private TJobListModel::IListener {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "RAduvuz.IJobControl")

public:
    static constexpr int kNoticeGapMs = 100;
    // While jobs are in process, a job-control call is followed by this many times its own
    // cost for the cycle before the next one is answered.
    static constexpr int kCallGapFactor = 4;
    // A call waits this long at most for the module's own call to be answered; a peer that
    // takes longer must not keep the operator waiting.
    static constexpr int kCallPatienceMs = 100;
    // While jobs are in process, after a listing of every row (ListJobs, ListJobsSince from 0)
    // the next one, of any client, waits this long per row listed, and at least
    // kListingGapMs: the bus daemon carries such an answer whole while the server's calls wait
    // behind it, and listed in a loop they kept one GetValue in 100 waiting over 10 ms.
    static constexpr int kListingGapUsPerRow = 1500;
    static constexpr int kListingGapMs = 100;
    // A listing of this many rows is made into its reply, and sent, on a thread of its own:
    // its maps and their marshalling took 8 to 37 ms of the loop for 300 to 1,400 rows, and
    // the server's calls waited behind them.
    static constexpr qsizetype kAsideRows = 64;

    TJobControlAdaptor(TModuleControl& module, TProcessLifetime& lifetime, QObject* parent);
    ~TJobControlAdaptor() override;

signals:
    void JobsChanged();

public slots:
    QList<QVariantMap> ListJobs(const QDBusMessage& message);
    // D-Bus (t serial, aa{sv} rows, au removed): the return value is the first out argument;
    // QtDBus wants the message between the in and the out arguments.
    qulonglong ListJobsSince(qulonglong since, const QDBusMessage& message,
                             QList<QVariantMap>& rows, QList<uint>& removed);
    QStringList AllowedActions(const QList<uint>& ids, const QDBusMessage& message);
    QList<QVariantMap> RedirectChoices(const QList<uint>& ids, const QDBusMessage& message);
    QList<uint> HoldJobs(const QList<uint>& ids, const QDBusMessage& message);
    QList<uint> ReleaseJobs(const QList<uint>& ids, const QDBusMessage& message);
    QList<uint> AbortJobs(const QList<uint>& ids, const QDBusMessage& message);
    QList<uint> SetPriority(const QList<uint>& ids, int priority, const QDBusMessage& message);
    QList<uint> DeleteJobs(const QList<uint>& ids, const QDBusMessage& message);
    QList<uint> ReprocessJobs(const QList<uint>& ids, const QDBusMessage& message);
    QList<uint> RedirectJobs(const QList<uint>& ids, const QList<int>& devices,
                             const QDBusMessage& message);
    QList<uint> RenameJobs(const QList<uint>& ids, const QString& name,
                           const QDBusMessage& message);
    QList<uint> CopyJobs(const QList<uint>& ids, const QString& folder,
                         const QDBusMessage& message);
    QList<uint> FindJobs(const QVariantMap& criteria, const QDBusMessage& message);
    QList<QVariantMap> ListDamaged(const QDBusMessage& message);

private:
    // Queues a call that may change jobs; its reply comes when its turn does.
    template <typename TResult, typename TBody>
    TResult QueueChange(const QDBusMessage& message, TBody body);

    // The arguments of a call's reply, made when its turn comes.
    using TCallAnswer = std::function<QVariantList(TJobActions&)>;
    // A listing takes its rows when its turn comes, and gives what makes them into the reply's
    // arguments, which may run on another thread.
    using TReplyMaker = std::function<QVariantList()>;
    using TListingAnswer = std::function<TReplyMaker(TJobActions&)>;
    struct TQueuedCall {
        QDBusMessage Message;
        TCallAnswer Answer;
        TListingAnswer Rows;
        // Whether the call may change jobs, so that the cycle looks again.
        bool Changes = false;
        // Whether the call answers with every row.
        bool Listing = false;
        QElapsedTimer Waiting;
    };
    void QueueCall(const QDBusMessage& message, TCallAnswer answer, bool changes);
    // Queues a call that answers with rows; listing: every row (the listings that are spaced).
    void QueueListing(const QDBusMessage& message, TListingAnswer rows, bool listing);
    void Enqueue(TQueuedCall call);
    void ServeCall();
    // Makes the reply of a listing and sends it, on the thread of Aside; the call ends when
    // that is done.
    void ReplyAside(const QDBusMessage& message, TReplyMaker make, qsizetype rows, bool listing);
    // A call's reply has left: its rows (of a listing: every row) space the next listing.
    void CallDone(qsizetype rows, bool listing);
    // A job-control call took costNs: the next one waits kCallGapFactor times as long.
    void OweCycle(qint64 costNs);
    // Whether the cycle has jobs to move, so that the calls take only their share.
    bool CycleBusy() const;

    void RowInserted(int) override { RowsChanged(); }
    void RowRemoved(int) override { RowsChanged(); }
    void RowChanged(int) override { RowsChanged(); }
    void Reset() override { RowsChanged(); }
    // Schedules the notice: now when the last one is kNoticeGapMs old, else once it is.
    void RowsChanged();
    void Announce();

    TModuleControl& Module;
    TProcessLifetime& Lifetime;
    QTimer Notice;
    QElapsedTimer SinceNotice;
    std::deque<TQueuedCall> Calls;
    QTimer CallTurn;
    // The adaptor's clock, and when on it the next call may be answered while jobs move.
    QElapsedTimer Clock;
    qint64 CallsFromNs = 0;
    // When on it the next listing may be answered, and the rows of the last one.
    qint64 ListingFromNs = 0;
    qsizetype ListedRows = 0;
    // One thread makes and sends big replies; while it does, the next call waits, so that the
    // replies leave in the order the calls came and one listing at most is in memory.
    QThreadPool Aside;
    bool ReplyingAside = false;
};

// Lets QtDBus carry ListJobs' "aa{sv}"; the program calls it before it exports the adaptor.
void RegisterJobControlTypes();

} // namespace raduvuz
