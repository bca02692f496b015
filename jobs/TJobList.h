#pragma once

#include "jobs/TDoc.h"

#include <cstddef>
#include <iterator>
#include <memory>
#include <vector>

namespace raduvuz {

// The jobs in process of a module, in the order they came in; the list owns them. It reads like
// a list of job pointers; a job enters with Add and leaves with Take, which hands it over. Its
// pick index keeps the jobs it holds in the orders the pick takes them in.
class TJobList {
public:
    using TItems = std::vector<std::unique_ptr<TDoc>>;

    class TIterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = TDoc*;
        using difference_type = std::ptrdiff_t;
        using pointer = TDoc* const*;
        using reference = TDoc*;

        TIterator() = default;
        explicit TIterator(TItems::const_iterator at) : At(at) {}
        TDoc* operator*() const { return At->get(); }
        TIterator& operator++() {
            ++At;
            return *this;
        }
        TIterator operator++(int) {
            TIterator before = *this;
            ++At;
            return before;
        }
        bool operator==(const TIterator& other) const = default;

    private:
        TItems::const_iterator At;
    };

    TDoc* Add(std::unique_ptr<TDoc> job);
    // The job out of the list; empty when the list does not hold it.
    std::unique_ptr<TDoc> Take(const TDoc& job);
    // Every job out of the list, in order.
    TItems TakeAll();
    bool Contains(const TDoc* job) const;
    // Whether every job waits (or the list is empty).
    bool AllWaiting() const { return Index.CountAll(TJobState::Waiting) == Items.size(); }
    // Whether a job other than job has its job and document number.
    bool HasOtherWithNumbers(const TDoc& job) const;
    const TPickIndex& PickIndex() const { return Index; }

    size_t size() const { return Items.size(); }
    bool empty() const { return Items.empty(); }
    TDoc* operator[](size_t index) const { return Items[index].get(); }
    TDoc* front() const { return Items.front().get(); }
    TIterator begin() const { return TIterator(Items.begin()); }
    TIterator end() const { return TIterator(Items.end()); }

private:
    TItems Items;
    TPickIndex Index;
    // The place of the next job in the list's order, among jobs with equal keys.
    uint64_t NextSeq = 0;
};

} // namespace raduvuz
