#pragma once

#include "tools/memoryman/TMemoryStore.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QObject>
#include <QSet>
#include <QStringList>

namespace raduvuz {

// The store's D-Bus face at /MemoryMan: converts the arguments, makes one call into
// TMemoryStore and turns its refusals into D-Bus error replies. Members are found by name, so
// calls without an interface name reach these slots too. It watches every connection that calls
// it and tells the store when one leaves the bus, and sends the store's events as signals.
class TMemoryManObject : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "RozEza.MemoryMan")

public:
    // Without sendSignals the store behaves as one that has none (for tests of the fallback).
    TMemoryManObject(TMemoryStore& store, QDBusConnection bus, bool sendSignals,
                     QObject* parent = nullptr);
    ~TMemoryManObject() override;

signals:
    void DocumentAvailable(int module, int doc);
    void DocumentTaken(int dest, int doc);
    void DocumentClosed(int doc, bool aborted);
    void MemoryFreed();

public slots:
    bool IsMainComputer(const QDBusVariant& name);
    int RNextFindDoc(int module, int doc);
    QString RGetDocDDS(int doc);
    QString ROpenDoc(int module, int doc, int& jobId);
    void RAbortDoc(int module, int doc);
    void RCloseDoc(int module, int doc);
    QString RGetBlock(int module, int doc, int& size, int& handle, int& last);
    void RCloseBlock(int module, int doc, int handle);
    QString RWSwitchBlock(int module, int inDoc, int outDoc, int& size, int& handle, int& last);
    int WCreateDoc(int module, int jobId, const QString& dests, const QString& dds);
    QString WGetBlock(int outDoc, int size, int& handle);
    void WCloseBlock(int outDoc, int handle, int last);
    void WCloseDoc(int outDoc);
    void WAbortDoc(int outDoc);
    bool IsDocForExists(int dest);
    // Beyond the contract: several of its calls in one round trip (see TMemoryStore).
    int RNextFindDocDDS(int module, int doc, QString& dds);
    void WFinishDoc(int module, int inDoc, int outDoc, int handle);

    // Operator methods for the demo, the workflow server and the tests.
    int PutFile(const QString& path, const QString& dds, int blockSize, int destModule);
    QString ListDocs();
    QStringList TakeFinished(int destModule, const QString& folder);

private:
    template <typename TResult, typename TBody> TResult Guarded(TBody body);
    // Tells the store who calls, and starts watching a connection seen for the first time.
    void Track();
    void PeerLeft(const QString& peer);

    TMemoryStore& Store;
    QDBusConnection Bus;
    QDBusServiceWatcher Watcher;
    QSet<QString> Peers;
};

} // namespace raduvuz
