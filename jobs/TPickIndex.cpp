#include "jobs/TPickIndex.h"

#include "common/Utils.h"
#include "jobs/TDoc.h"

#include <algorithm>

namespace raduvuz {

std::string TPickIndex::PriorityText(int32_t priority) {
    std::string text = std::to_string(priority);
    if (priority >= 0 && text.size() < 2)
        text.insert(0, 1, '0');
    return text;
}

std::string TPickIndex::CreatedKey(const TDoc& job) {
    return PriorityText(job.Priority()) + "_" + WriteRealPoint(job.Created());
}

std::string TPickIndex::LastTimeKey(const TDoc& job) {
    return PriorityText(job.Priority()) + "_" + WriteRealPoint(job.LastTime());
}

void TPickIndex::Place(TDoc& job, uint64_t seq) {
    TPickEntry& entry = job.PickEntry;
    if (entry.Placed)
        Erase(entry);
    entry.Seq = seq;
    // The keys are made afresh: the job may have changed while it was not placed.
    entry.CreatedKey = CreatedKey(job);
    entry.LastTimeKey = LastTimeKey(job);
    entry.Priority = job.Priority();
    entry.Created = job.Created();
    entry.LastTime = job.LastTime();
    Insert(job, entry);
}

void TPickIndex::Remove(TDoc& job) {
    if (job.PickEntry.Placed)
        Erase(job.PickEntry);
}

void TPickIndex::Update(TDoc& job) {
    TPickEntry& entry = job.PickEntry;
    if (!entry.Placed)
        return;
    Erase(entry);
    const bool priorityChanged = entry.Priority != job.Priority();
    if (priorityChanged || entry.Created != job.Created())
        entry.CreatedKey = CreatedKey(job);
    if (priorityChanged || entry.LastTime != job.LastTime())
        entry.LastTimeKey = LastTimeKey(job);
    entry.Priority = job.Priority();
    entry.Created = job.Created();
    entry.LastTime = job.LastTime();
    Insert(job, entry);
}

void TPickIndex::Clear() {
    for (auto& state : ByCreated)
        for (TOrder& order : state)
            order.clear();
    for (auto& state : ByLastTime)
        for (TOrder& order : state)
            order.clear();
    SendGroups.Clear();
    WaitGroups.Clear();
    Free.fill(0);
    All.fill(0);
    Held = 0;
    Reloaded = 0;
    Aborts = 0;
}

void TPickIndex::Insert(TDoc& job, TPickEntry& entry) {
    entry.Placed = true;
    entry.State = job.State();
    entry.Held = job.Held();
    entry.Waiting = job.Waiting();
    entry.Reloaded = job.Reloaded();
    entry.AbortRequested = job.AbortRequested();
    entry.Dests = job.Dests();
    if (entry.AbortRequested)
        ++Aborts;
    ++All[Slot(entry.State)];
    if (entry.Held) {
        ++Held;
        return;
    }
    if (entry.Reloaded)
        ++Reloaded;
    const size_t state = Slot(entry.State);
    ++Free[state];
    const int waiting = entry.Waiting ? 1 : 0;
    const TRef created{&entry.CreatedKey, entry.Seq, &job};
    ByCreated[state][waiting].insert(created);
    if (entry.State != TJobState::Reading)
        ByLastTime[state][waiting].insert(TRef{&entry.LastTimeKey, entry.Seq, &job});
    if (entry.State == TJobState::Sending && !entry.Waiting)
        SendGroups.Add(created, entry.Dests);
    if (entry.State == TJobState::Waiting)
        WaitGroups.Add(created, entry.Dests);
}

void TPickIndex::Erase(TPickEntry& entry) {
    entry.Placed = false;
    if (entry.AbortRequested)
        --Aborts;
    --All[Slot(entry.State)];
    if (entry.Held) {
        --Held;
        return;
    }
    if (entry.Reloaded)
        --Reloaded;
    const size_t state = Slot(entry.State);
    --Free[state];
    const int waiting = entry.Waiting ? 1 : 0;
    const TRef created{&entry.CreatedKey, entry.Seq, nullptr};
    ByCreated[state][waiting].erase(created);
    if (entry.State != TJobState::Reading)
        ByLastTime[state][waiting].erase(TRef{&entry.LastTimeKey, entry.Seq, nullptr});
    if (entry.State == TJobState::Sending && !entry.Waiting)
        SendGroups.Remove(created, entry.Dests);
    if (entry.State == TJobState::Waiting)
        WaitGroups.Remove(created, entry.Dests);
}

void TPickIndex::TGroups::Add(const TRef& ref, const std::string& dests) {
    TOrder& group = Members[dests];
    const TRef* oldHead = group.empty() ? nullptr : &*group.begin();
    const TKeyOrder less;
    if (oldHead && !less(ref, *oldHead)) {
        group.insert(ref);
        return;
    }
    if (oldHead)
        Heads.erase(*oldHead);
    group.insert(ref);
    Heads.insert(ref);
}

void TPickIndex::TGroups::Remove(const TRef& ref, const std::string& dests) {
    const auto found = Members.find(dests);
    if (found == Members.end())
        return;
    TOrder& group = found->second;
    const bool wasHead =
        !group.empty() && !TKeyOrder()(*group.begin(), ref) && !TKeyOrder()(ref, *group.begin());
    group.erase(ref);
    if (!wasHead)
        return;
    Heads.erase(ref);
    if (group.empty())
        Members.erase(found);
    else
        Heads.insert(*group.begin());
}

TDoc* TPickIndex::TGroups::FirstNotTo(const std::vector<std::string>& noted) const {
    // Only the first job of each destination can be the answer; a noted destination skips its
    // whole group, so the walk is as long as the noted list at most.
    for (const TRef& head : Heads) {
        const std::string& dests = head.Job->Dests();
        if (std::find(noted.begin(), noted.end(), dests) == noted.end())
            return head.Job;
    }
    return nullptr;
}

void TPickIndex::TGroups::Clear() {
    Members.clear();
    Heads.clear();
}

TDoc* TPickIndex::FirstByCreated(TJobState state, bool waiting) const {
    const TOrder& order = ByCreated[Slot(state)][waiting ? 1 : 0];
    return order.empty() ? nullptr : order.begin()->Job;
}

TDoc* TPickIndex::FirstByCreated(TJobState state) const {
    const TOrder& ready = ByCreated[Slot(state)][0];
    const TOrder& passed = ByCreated[Slot(state)][1];
    if (ready.empty() || passed.empty())
        return ready.empty() ? (passed.empty() ? nullptr : passed.begin()->Job)
                             : ready.begin()->Job;
    return TKeyOrder()(*passed.begin(), *ready.begin()) ? passed.begin()->Job : ready.begin()->Job;
}

TDoc* TPickIndex::FirstByLastTime(TJobState state, bool waiting) const {
    if (state == TJobState::Reading)
        return nullptr;
    const TOrder& order = ByLastTime[Slot(state)][waiting ? 1 : 0];
    return order.empty() ? nullptr : order.begin()->Job;
}

std::vector<TDoc*> TPickIndex::WaitingJobs(TJobState state) const {
    std::vector<TDoc*> jobs;
    for (const TRef& ref : ByCreated[Slot(state)][1])
        jobs.push_back(ref.Job);
    return jobs;
}

TDoc* TPickIndex::FirstSendingNotTo(const std::vector<std::string>& noted) const {
    return SendGroups.FirstNotTo(noted);
}

TDoc* TPickIndex::FirstWaitingNotTo(const std::vector<std::string>& noted) const {
    return WaitGroups.FirstNotTo(noted);
}

} // namespace raduvuz
