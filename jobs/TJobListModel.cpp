#include "jobs/TJobListModel.h"

#include "common/Utils.h"

#include <algorithm>
#include <atomic>
#include <unordered_set>

namespace raduvuz {

namespace {
const std::vector<TJobListModel::IListener*> NoListeners;
// One id space for every list of the process: a row keeps its id for life, and no other row ever
// gets it again.
std::atomic<uint32_t> LastRowId{0};
} // namespace

void TRowChanges::NoteRemoved(uint32_t id) {
    Removed.emplace_back(Next(), id);
    if (Removed.size() > kRemovedLimit) {
        Forgotten = Removed.front().first;
        Removed.pop_front();
    }
}

std::vector<uint32_t> TRowChanges::RemovedSince(uint64_t since) const {
    std::vector<uint32_t> ids;
    auto at = std::upper_bound(Removed.begin(), Removed.end(), since,
                               [](uint64_t serial, const std::pair<uint64_t, uint32_t>& entry) {
                                   return serial < entry.first;
                               });
    for (; at != Removed.end(); ++at)
        ids.push_back(at->second);
    return ids;
}

void TJobListModel::Stamp(TListRow& row) {
    if (!Changes)
        return;
    Unstamp(row);
    row.Serial = Changes->Next();
    BySerial.emplace_hint(BySerial.end(), row.Serial, &row);
}

void TJobListModel::Unstamp(const TListRow& row) {
    if (row.Serial != 0)
        BySerial.erase(row.Serial);
}

std::vector<const TListRow*> TJobListModel::ChangedSince(uint64_t since) const {
    std::vector<const TListRow*> rows;
    for (auto at = BySerial.upper_bound(since); at != BySerial.end(); ++at)
        rows.push_back(at->second);
    if (rows.size() < 2)
        return rows;
    const std::unordered_set<const TListRow*> changed(rows.begin(), rows.end());
    rows.clear();
    for (const std::unique_ptr<TListRow>& row : Rows) {
        if (changed.count(row.get()) > 0)
            rows.push_back(row.get());
    }
    return rows;
}

TListRow* TJobListModel::At(int index) const {
    if (index < 0 || index >= Count())
        return nullptr;
    return Rows[static_cast<size_t>(index)].get();
}

int TJobListModel::IndexOf(const TListRow* row) const {
    for (size_t i = 0; i < Rows.size(); ++i) {
        if (Rows[i].get() == row)
            return static_cast<int>(i);
    }
    return -1;
}

TListRow* TJobListModel::FindId(uint32_t id) const {
    for (const std::unique_ptr<TListRow>& row : Rows) {
        if (row->Id == id)
            return row.get();
    }
    return nullptr;
}

std::vector<const TListRow*> TJobListModel::WithCaption(const std::string& caption) const {
    std::vector<const TListRow*> rows;
    const auto [first, last] = ByCaption.equal_range(caption);
    for (auto at = first; at != last; ++at)
        rows.push_back(at->second);
    return rows;
}

void TJobListModel::Index(const TListRow& row) {
    ByCaption.emplace(row.Caption, &row);
}

void TJobListModel::Unindex(const TListRow& row) {
    const auto [first, last] = ByCaption.equal_range(row.Caption);
    for (auto at = first; at != last; ++at) {
        if (at->second == &row) {
            ByCaption.erase(at);
            return;
        }
    }
}

TListRow* TJobListModel::Insert(int index, TListRow row) {
    index = std::clamp(index, 0, Count());
    if (row.Id == 0)
        row.Id = ++LastRowId;
    if (row.SubItems.size() < siCount)
        row.SubItems.resize(siCount);
    // A row put back comes with the serial it had in the list it left.
    row.Serial = 0;
    auto owned = std::make_unique<TListRow>(std::move(row));
    TListRow* result = owned.get();
    Stamp(*result);
    Index(*result);
    Rows.insert(Rows.begin() + index, std::move(owned));
    for (IListener* listener : Telling() ? Listeners : NoListeners)
        listener->RowInserted(index);
    return result;
}

void TJobListModel::Delete(TListRow* row) {
    const int index = IndexOf(row);
    if (index < 0)
        return;
    if (Changes)
        Changes->NoteRemoved(row->Id);
    Unstamp(*row);
    Unindex(*row);
    Rows.erase(Rows.begin() + index);
    for (IListener* listener : Telling() ? Listeners : NoListeners)
        listener->RowRemoved(index);
}

void TJobListModel::DeleteRows(const std::vector<const TListRow*>& rows) {
    if (rows.empty())
        return;
    const std::unordered_set<const TListRow*> gone(rows.begin(), rows.end());
    const auto kept = std::stable_partition(
        Rows.begin(), Rows.end(),
        [&gone](const std::unique_ptr<TListRow>& row) { return gone.count(row.get()) == 0; });
    if (kept == Rows.end())
        return;
    for (auto at = kept; at != Rows.end(); ++at) {
        Unindex(**at);
        if (Changes) {
            Changes->NoteRemoved((*at)->Id);
            Unstamp(**at);
        }
    }
    Rows.erase(kept, Rows.end());
    for (IListener* listener : Telling() ? Listeners : NoListeners)
        listener->Reset();
}

void TJobListModel::Clear() {
    if (Changes) {
        for (const std::unique_ptr<TListRow>& row : Rows)
            Changes->NoteRemoved(row->Id);
    }
    BySerial.clear();
    ByCaption.clear();
    Rows.clear();
    for (IListener* listener : Telling() ? Listeners : NoListeners)
        listener->Reset();
}

void TJobListModel::SetSubItem(TListRow* row, int subItem, const std::string& text) {
    if (!row || subItem < 0)
        return;
    if (row->SubItems.size() <= static_cast<size_t>(subItem))
        row->SubItems.resize(static_cast<size_t>(subItem) + 1);
    row->SubItems[static_cast<size_t>(subItem)] = text;
    Changed(row);
}

void TJobListModel::SetImage(TListRow* row, int imageIndex) {
    if (!row)
        return;
    row->ImageIndex = imageIndex;
    Changed(row);
}

void TJobListModel::SetCaption(TListRow* row, const std::string& caption) {
    if (!row)
        return;
    Unindex(*row);
    row->Caption = caption;
    Index(*row);
    Changed(row);
}

void TJobListModel::SetProgress(TListRow* row, int64_t done, int64_t bytes) {
    if (!row)
        return;
    row->Done = done;
    row->Bytes = bytes;
    Changed(row);
}

void TJobListModel::Refresh(TListRow* row) {
    if (row)
        Changed(row);
}

void TJobListModel::Sort(const std::function<bool(const TListRow&, const TListRow&)>& less) {
    std::stable_sort(Rows.begin(), Rows.end(),
                     [&less](const std::unique_ptr<TListRow>& a,
                             const std::unique_ptr<TListRow>& b) { return less(*a, *b); });
    for (IListener* listener : Telling() ? Listeners : NoListeners)
        listener->Reset();
}

bool TJobListModel::Telling() {
    if (NoticesHeld == 0)
        return true;
    NoticesMissed = true;
    return false;
}

void TJobListModel::ReleaseNotices() {
    if (NoticesHeld == 0 || --NoticesHeld > 0 || !NoticesMissed)
        return;
    NoticesMissed = false;
    for (IListener* listener : Listeners)
        listener->Reset();
}

void TJobListModel::AddListener(IListener* listener) {
    if (listener && std::find(Listeners.begin(), Listeners.end(), listener) == Listeners.end())
        Listeners.push_back(listener);
}

void TJobListModel::RemoveListener(IListener* listener) {
    Listeners.erase(std::remove(Listeners.begin(), Listeners.end(), listener), Listeners.end());
}

std::string SizeColumnText(const TListRow& row) {
    if (row.Bytes >= 0)
        return SizeText(row.Bytes);
    return row.SubItems.size() > static_cast<size_t>(siSize) ? row.SubItems[siSize] : std::string();
}

void TJobListModel::Changed(TListRow* row) {
    const int index = IndexOf(row);
    if (index < 0)
        return;
    Stamp(*row);
    for (IListener* listener : Telling() ? Listeners : NoListeners)
        listener->RowChanged(index);
}

} // namespace raduvuz
