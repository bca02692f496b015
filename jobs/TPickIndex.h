#pragma once

#include "common/Types.h"
#include "jobs/TJobState.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace raduvuz {

class TDoc;

// Where the index placed a job, with the keys and flags it was placed by. The job keeps it; only
// the index reads or writes it.
struct TPickEntry {
    bool Placed = false;
    uint64_t Seq = 0;
    TJobState State = TJobState::Reading;
    bool Held = false;
    bool Waiting = false;
    bool Reloaded = false;
    bool AbortRequested = false;
    int32_t Priority = 0;
    TDateTime Created = 0;
    TDateTime LastTime = 0;
    std::string Dests;
    std::string CreatedKey;
    std::string LastTimeKey;
};

// The jobs in process kept in the orders the pick takes them in, as their keys change, so that a
// pick costs O(log N) instead of sorting every job. A key is the text the pick compares:
// the priority with at least two digits, "_", and the creation time or the time of the last step
// as decimal text. Keys compare as text ("100_" before "20_", "-5_" before "05_"); equal keys keep
// the order in which the jobs entered the list. Held jobs are only counted. The job list places
// and removes its jobs; a job tells the index when a field of its keys or flags changes.
class TPickIndex {
public:
    static std::string PriorityText(int32_t priority);
    static std::string CreatedKey(const TDoc& job);
    static std::string LastTimeKey(const TDoc& job);

    // seq gives the job's place in the list: a later seq comes later among equal keys.
    void Place(TDoc& job, uint64_t seq);
    void Remove(TDoc& job);
    // Places the job again by its current fields; nothing when it is not placed.
    void Update(TDoc& job);
    void Clear();

    int HeldCount() const { return Held; }
    // Jobs that are not held, in a state.
    int Count(TJobState state) const { return Free[Slot(state)]; }
    // Jobs in a state, held or not.
    size_t CountAll(TJobState state) const { return All[Slot(state)]; }
    // Reloaded jobs that are not held.
    int ReloadedCount() const { return Reloaded; }
    int AbortRequestedCount() const { return Aborts; }

    // The first job that is not held, of a state, with Waiting as given, by creation key or by
    // last-step key (waiting and sending only); none when there is none.
    TDoc* FirstByCreated(TJobState state, bool waiting) const;
    // The first job that is not held, of a state, by creation key, whether waiting or not.
    TDoc* FirstByCreated(TJobState state) const;
    TDoc* FirstByLastTime(TJobState state, bool waiting) const;
    // The jobs that are not held, of a state, with Waiting set, in creation-key order.
    std::vector<TDoc*> WaitingJobs(TJobState state) const;
    // The first sending job that is neither held nor waiting, by creation key, whose
    // destination text is none of noted.
    TDoc* FirstSendingNotTo(const std::vector<std::string>& noted) const;
    // The first job waiting to be sent (state 1) that is not held, by creation key, whose
    // destination text is none of noted; its Waiting mark is not looked at.
    TDoc* FirstWaitingNotTo(const std::vector<std::string>& noted) const;

private:
    static constexpr size_t kStates = kJobStates;
    static size_t Slot(TJobState state) { return static_cast<size_t>(state); }

    struct TRef {
        const std::string* Key;
        uint64_t Seq;
        TDoc* Job;
    };
    struct TKeyOrder {
        bool operator()(const TRef& a, const TRef& b) const {
            const int order = a.Key->compare(*b.Key);
            return order != 0 ? order < 0 : a.Seq < b.Seq;
        }
    };
    using TOrder = std::set<TRef, TKeyOrder>;
    // Jobs by destination text, and the first of each group in key order: the first job of
    // the groups not noted is found by walking past the noted groups' heads only.
    struct TGroups {
        std::map<std::string, TOrder> Members;
        TOrder Heads;
        void Add(const TRef& ref, const std::string& dests);
        void Remove(const TRef& ref, const std::string& dests);
        TDoc* FirstNotTo(const std::vector<std::string>& noted) const;
        void Clear();
    };

    void Insert(TDoc& job, TPickEntry& entry);
    void Erase(TPickEntry& entry);

    // [state][waiting]
    std::array<std::array<TOrder, 2>, kStates> ByCreated;
    std::array<std::array<TOrder, 2>, kStates> ByLastTime;
    // Sending jobs neither held nor waiting, and jobs in state 1 that are not held.
    TGroups SendGroups;
    TGroups WaitGroups;
    std::array<int, kStates> Free{};
    std::array<size_t, kStates> All{};
    int Held = 0;
    int Reloaded = 0;
    int Aborts = 0;
};

} // namespace raduvuz
