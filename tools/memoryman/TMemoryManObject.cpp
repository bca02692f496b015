#include "tools/memoryman/TMemoryManObject.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <exception>

namespace raduvuz {

TMemoryManObject::TMemoryManObject(TMemoryStore& store, QDBusConnection bus, bool sendSignals,
                                   QObject* parent)
    : QObject(parent), Store(store), Bus(bus) {
    Watcher.setConnection(bus);
    Watcher.setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
    connect(&Watcher, &QDBusServiceWatcher::serviceUnregistered, this, &TMemoryManObject::PeerLeft);
    if (!sendSignals)
        return;
    Store.Events.DocumentAvailable = [this](int32_t module, int32_t doc) {
        emit DocumentAvailable(module, doc);
    };
    Store.Events.DocumentTaken = [this](int32_t dest, int32_t doc) {
        emit DocumentTaken(dest, doc);
    };
    Store.Events.DocumentClosed = [this](int32_t doc, bool aborted) {
        emit DocumentClosed(doc, aborted);
    };
    Store.Events.MemoryFreed = [this] { emit MemoryFreed(); };
}

TMemoryManObject::~TMemoryManObject() {
    Store.Events = TStoreEvents{};
}

void TMemoryManObject::Track() {
    const QString peer = calledFromDBus() ? message().service() : QString();
    Store.SetCaller(peer.toStdString());
    if (peer.isEmpty() || Peers.contains(peer))
        return;
    Peers.insert(peer);
    Watcher.addWatchedService(peer);
    // The connection may have left before the watch was set; then nobody would say so.
    auto* check = new QDBusPendingCallWatcher(
        Bus.interface()->asyncCall(QStringLiteral("NameHasOwner"), peer), this);
    connect(check, &QDBusPendingCallWatcher::finished, this, [this, check, peer] {
        check->deleteLater();
        QDBusPendingReply<bool> reply = *check;
        if (reply.isValid() && !reply.value())
            PeerLeft(peer);
    });
}

void TMemoryManObject::PeerLeft(const QString& peer) {
    if (!Peers.remove(peer))
        return;
    Watcher.removeWatchedService(peer);
    Store.SetCaller(std::string());
    Store.PeerGone(peer.toStdString());
}

template <typename TResult, typename TBody> TResult TMemoryManObject::Guarded(TBody body) {
    Track();
    try {
        return body();
    } catch (const TStoreError& e) {
        if (Store.Log)
            Store.Log(e.ErrorName() + ": " + e.what());
        sendErrorReply(QString::fromStdString(e.ErrorName()), QString::fromUtf8(e.what()));
    } catch (const std::exception& e) {
        sendErrorReply(QStringLiteral("RozEza.MemoryMan.Error.Failed"),
                       QString::fromUtf8(e.what()));
    }
    return TResult{};
}

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

std::string S(const QString& text) {
    return text.toStdString();
}

} // namespace

bool TMemoryManObject::IsMainComputer(const QDBusVariant& name) {
    return Guarded<bool>([&] {
        const QVariant v = name.variant();
        // Null travels as a variant holding an empty array.
        if (!v.isValid() || v.userType() == qMetaTypeId<QDBusArgument>())
            return Store.IsMainComputer(std::nullopt);
        return Store.IsMainComputer(S(v.toString()));
    });
}

int TMemoryManObject::RNextFindDoc(int module, int doc) {
    return Guarded<int>([&] { return Store.RNextFindDoc(module, doc); });
}

QString TMemoryManObject::RGetDocDDS(int doc) {
    return Guarded<QString>([&] { return Q(Store.RGetDocDDS(doc)); });
}

QString TMemoryManObject::ROpenDoc(int module, int doc, int& jobId) {
    jobId = -1;
    return Guarded<QString>([&] {
        int32_t job = -1;
        QString dds = Q(Store.ROpenDoc(module, doc, job));
        jobId = job;
        return dds;
    });
}

void TMemoryManObject::RAbortDoc(int module, int doc) {
    Guarded<bool>([&] {
        Store.RAbortDoc(module, doc);
        return true;
    });
}

void TMemoryManObject::RCloseDoc(int module, int doc) {
    Guarded<bool>([&] {
        Store.RCloseDoc(module, doc);
        return true;
    });
}

QString TMemoryManObject::RGetBlock(int module, int doc, int& size, int& handle, int& last) {
    size = handle = last = 0;
    return Guarded<QString>([&] {
        TBlockAnswer a = Store.RGetBlock(module, doc);
        size = a.Size;
        handle = a.Handle;
        last = a.Last;
        return Q(a.Name);
    });
}

void TMemoryManObject::RCloseBlock(int module, int doc, int handle) {
    Guarded<bool>([&] {
        Store.RCloseBlock(module, doc, handle);
        return true;
    });
}

QString TMemoryManObject::RWSwitchBlock(int module, int inDoc, int outDoc, int& size, int& handle,
                                        int& last) {
    size = handle = last = 0;
    return Guarded<QString>([&] {
        TBlockAnswer a = Store.RWSwitchBlock(module, inDoc, outDoc);
        size = a.Size;
        handle = a.Handle;
        last = a.Last;
        return Q(a.Name);
    });
}

int TMemoryManObject::WCreateDoc(int module, int jobId, const QString& dests, const QString& dds) {
    return Guarded<int>([&] { return Store.WCreateDoc(module, jobId, S(dests), S(dds)); });
}

QString TMemoryManObject::WGetBlock(int outDoc, int size, int& handle) {
    handle = 0;
    return Guarded<QString>([&] {
        TBlockAnswer a = Store.WGetBlock(outDoc, size);
        handle = a.Handle;
        return Q(a.Name);
    });
}

void TMemoryManObject::WCloseBlock(int outDoc, int handle, int last) {
    Guarded<bool>([&] {
        Store.WCloseBlock(outDoc, handle, last);
        return true;
    });
}

void TMemoryManObject::WCloseDoc(int outDoc) {
    Guarded<bool>([&] {
        Store.WCloseDoc(outDoc);
        return true;
    });
}

void TMemoryManObject::WAbortDoc(int outDoc) {
    Guarded<bool>([&] {
        Store.WAbortDoc(outDoc);
        return true;
    });
}

bool TMemoryManObject::IsDocForExists(int dest) {
    return Guarded<bool>([&] { return Store.IsDocForExists(dest); });
}

int TMemoryManObject::RNextFindDocDDS(int module, int doc, QString& dds) {
    return Guarded<int>([&] {
        std::string text;
        const int next = Store.RNextFindDocDDS(module, doc, text);
        dds = Q(text);
        return next;
    });
}

void TMemoryManObject::WFinishDoc(int module, int inDoc, int outDoc, int handle) {
    Guarded<bool>([&] {
        Store.WFinishDoc(module, inDoc, outDoc, handle);
        return true;
    });
}

int TMemoryManObject::PutFile(const QString& path, const QString& dds, int blockSize,
                              int destModule) {
    return Guarded<int>([&] { return Store.PutFile(S(path), S(dds), blockSize, destModule); });
}

QString TMemoryManObject::ListDocs() {
    return Guarded<QString>([&] { return Q(Store.ListDocs()); });
}

QStringList TMemoryManObject::TakeFinished(int destModule, const QString& folder) {
    return Guarded<QStringList>([&] {
        QStringList files;
        for (const auto& f : Store.TakeFinished(destModule, S(folder)))
            files << Q(f);
        return files;
    });
}

} // namespace raduvuz
