#pragma once

#include "common/Types.h"
#include "common/Utils.h"
#include "jobs/TJobState.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace raduvuz {
class TDoc;
}

namespace raduvuz::test {

// What the pick reads of a job, kept beside the module's jobs in list order.
struct TShadow {
    TDoc* Job = nullptr;
    TJobState State = TJobState::Reading;
    int32_t Priority = 0;
    TDateTime Created = 0;
    TDateTime LastTime = 0;
    bool Held = false;
    bool Waiting = false;
    bool Reloaded = false;
    std::string Dests;
};

inline std::string SortKey(int32_t priority, TDateTime time) {
    std::string text = std::to_string(priority);
    if (priority >= 0 && text.size() < 2)
        text.insert(0, 1, '0');
    return text + "_" + WriteRealPoint(time);
}

// The pick without the index: every key made and the keys sorted as text, each time.
inline TDoc* SortingPick(std::vector<TShadow>& jobs, bool& intakeExhausted) {
    if (jobs.empty())
        return nullptr;
    int held = 0, reading = 0, sending = 0, waiting = 0, reloaded = 0;
    for (const TShadow& job : jobs) {
        if (job.Held) {
            ++held;
            continue;
        }
        reading += job.State == TJobState::Reading;
        sending += job.State == TJobState::Sending;
        waiting += job.State == TJobState::Waiting;
        reloaded += job.Reloaded;
    }
    using TKeys = std::vector<std::pair<std::string, TShadow*>>;
    const auto sorted = [](TKeys keys) {
        std::stable_sort(keys.begin(), keys.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        return keys;
    };
    const auto keyed = [&](TJobState state, bool byLastTime) {
        TKeys keys;
        for (TShadow& job : jobs) {
            if (!job.Held && job.State == state)
                keys.emplace_back(SortKey(job.Priority, byLastTime ? job.LastTime : job.Created),
                                  &job);
        }
        return sorted(keys);
    };
    if (reloaded > 0) {
        for (TJobState state : {TJobState::Waiting, TJobState::Sending}) {
            const TKeys keys = keyed(state, true);
            for (const auto& [key, job] : keys) {
                if (!job->Waiting)
                    return job->Job;
            }
            for (const auto& [key, job] : keys)
                job->Waiting = false;
        }
    }
    if (held == static_cast<int>(jobs.size()))
        return nullptr;
    int mode = 0;
    if (sending > 0)
        mode = reading == 0 ? 1 : 0;
    else
        mode = waiting > 0 ? 2 : 0;
    if (mode == 1) {
        if (!intakeExhausted)
            return nullptr;
        intakeExhausted = false;
    }
    // Jobs marked Waiting, and every job for the same destinations, are passed over until no
    // waiting job is left to try; then the marks go and the other jobs get their turn.
    if (mode == 2 && reloaded == 0) {
        const TKeys keys = keyed(TJobState::Waiting, false);
        std::vector<std::string> noted;
        for (const auto& [key, job] : keys) {
            if (job->Waiting)
                noted.push_back(job->Dests);
        }
        TShadow* next = nullptr;
        for (const auto& [key, job] : keys) {
            if (std::find(noted.begin(), noted.end(), job->Dests) == noted.end()) {
                next = job;
                break;
            }
        }
        if (next)
            return next->Job;
        for (const auto& [key, job] : keys)
            job->Waiting = false;
    }
    TShadow* send = nullptr;
    {
        TKeys keys;
        std::vector<std::string> noted;
        for (TShadow& job : jobs) {
            if (job.Held || job.State != TJobState::Sending)
                continue;
            if (!job.Waiting) {
                keys.emplace_back(SortKey(job.Priority, job.Created), &job);
            } else {
                job.Waiting = false;
                if (reloaded == 0)
                    noted.push_back(job.Dests);
            }
        }
        for (const auto& [key, job] : sorted(keys)) {
            if (std::find(noted.begin(), noted.end(), job->Dests) == noted.end()) {
                send = job;
                break;
            }
        }
    }
    TShadow* read = nullptr;
    {
        TKeys keys;
        for (TShadow& job : jobs) {
            if (job.Held || job.State != TJobState::Reading)
                continue;
            if (!job.Waiting)
                keys.emplace_back(SortKey(job.Priority, job.Created), &job);
            else
                job.Waiting = false;
        }
        keys = sorted(keys);
        if (!keys.empty())
            read = keys.front().second;
    }
    if (send && read)
        return send->LastTime < read->LastTime ? send->Job : read->Job;
    return send ? send->Job : (read ? read->Job : nullptr);
}

} // namespace raduvuz::test
