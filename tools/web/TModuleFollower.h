#pragma once

// The gateway's view of one module: its description, status and paused state (IModuleControl's
// GetValue 2, 0, 6) and a copy of its rows, kept up to date with ListJobsSince after each
// JobsChanged, one call at a time, however many browsers watch. A module without ListJobsSince
// is listed whole (ListJobs) and compared with the copy instead.

#include "tools/modulebus/ModuleBus.h"
#include "tools/web/TJobCopy.h"

#include <QDBusConnection>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <functional>
#include <vector>

namespace raduvuz::web {

class TModuleFollower : public QObject {
    Q_OBJECT

public:
    TModuleFollower(QDBusConnection& bus, modulebus::TModuleName name, uint64_t firstSerial,
                    QObject* parent = nullptr);

    const modulebus::TModuleName& Name() const { return Module; }
    int64_t Number() const { return Module.Number; }
    const TJobCopy& Copy() const { return Rows; }
    const QString& Description() const { return DescriptionText; }
    int Status() const { return StatusValue; }
    bool Paused() const { return PausedValue; }
    // Whether the rows were listed once.
    bool Listed() const { return ListedOnce; }
    // The error of the last failed listing, empty after one that worked.
    const QString& ListError() const { return ListErrorName; }
    // The module's entry of GET /api/v1/modules.
    QJsonObject Json() const;

    // Calls done once a listing that starts after this call has been applied (at once when it
    // fails; see ListError).
    void Sync(std::function<void()> done);
    // Reads description, status and paused state again; done afterwards.
    void Describe(std::function<void()> done = {});

signals:
    // The copy changed: a browser's delta is ready.
    void jobsChanged(qint64 module);
    // Description, status or paused state changed.
    void stateChanged(qint64 module);
    void gone(qint64 module);

private:
    void Fetch();
    void Fetched(const QDBusMessage& reply, bool since);

    QDBusConnection& Bus;
    modulebus::TModuleName Module;
    TJobCopy Rows;
    modulebus::TJobsWatcher* Watcher = nullptr;
    QString DescriptionText;
    int StatusValue = 0;
    bool PausedValue = false;
    bool Described = false;
    int Describing = 0;
    std::vector<std::function<void()>> DescribeWaiters;
    bool ListedOnce = false;
    QString ListErrorName;
    // One listing at a time; a change meanwhile asks for another after it.
    bool Fetching = false;
    bool Again = false;
    bool UseSince = true;
    quint64 ModuleSerial = 0;
    std::vector<std::function<void()>> ThisFetch;
    std::vector<std::function<void()>> NextFetch;
};

} // namespace raduvuz::web
