#include "jobs/TJobList.h"

#include <algorithm>

namespace raduvuz {

TDoc* TJobList::Add(std::unique_ptr<TDoc> job) {
    TDoc* added = job.get();
    Items.push_back(std::move(job));
    added->Index = &Index;
    Index.Place(*added, NextSeq++);
    return added;
}

std::unique_ptr<TDoc> TJobList::Take(const TDoc& job) {
    const auto found =
        std::find_if(Items.begin(), Items.end(),
                     [&](const std::unique_ptr<TDoc>& item) { return item.get() == &job; });
    if (found == Items.end())
        return nullptr;
    std::unique_ptr<TDoc> taken = std::move(*found);
    Items.erase(found);
    Index.Remove(*taken);
    taken->Index = nullptr;
    return taken;
}

TJobList::TItems TJobList::TakeAll() {
    TItems taken;
    taken.swap(Items);
    Index.Clear();
    for (const std::unique_ptr<TDoc>& job : taken) {
        job->PickEntry.Placed = false;
        job->Index = nullptr;
    }
    return taken;
}

bool TJobList::HasOtherWithNumbers(const TDoc& job) const {
    return std::any_of(Items.begin(), Items.end(), [&](const std::unique_ptr<TDoc>& other) {
        return other.get() != &job && other->JobID == job.JobID && other->DocID == job.DocID;
    });
}

bool TJobList::Contains(const TDoc* job) const {
    return std::any_of(Items.begin(), Items.end(),
                       [&](const std::unique_ptr<TDoc>& item) { return item.get() == job; });
}

} // namespace raduvuz
