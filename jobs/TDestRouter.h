#pragma once

#include "common/Types.h"
#include "jobs/TMPrec.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace raduvuz {

// Where the copies of a multiplexing module go. Each destination of a flow entry keeps the jobs
// routed to it of late, with the plates (colours) sent there so far: a plate goes where its job
// already is while that job has no plate of its colour there, else to the next ready destination
// in turn. The router owns the turn, so one choice starts after the last one; the module owns
// the router.
class TDestRouter {
public:
    // A destination of a flow entry (one mark per entry, as the entries come).
    void AddDestination(int32_t dest) { Marks.push_back({std::to_string(dest), {}}); }
    void Clear() { Marks.clear(); }
    // Forgets the jobs routed more than an hour before now.
    void Expire(TDateTime now);
    // Multiplexing needs two destinations at least.
    bool Multiplexes() const { return Marks.size() >= 2; }

    // The destination of a copy of job jobID named name, of colour color, among dests (module
    // numbers, comma text), ready telling whether a destination takes a document now; empty
    // when none does, and the copy waits.
    std::string Choose(const std::string& dests, const std::string& name, int32_t jobID,
                       const std::string& color, const std::function<bool(int32_t)>& ready);

    const std::vector<TDestMark>& DestMarks() const { return Marks; }
    // The position of the last destination taken in turn; -1 before the first.
    int32_t Turn() const { return LastTurn; }

private:
    // The destination where the job already is without a plate of color; empty when none.
    std::string WhereTheJobIs(const std::string& dests, const std::string& name, int32_t jobID,
                              const std::string& color);
    std::string NextInTurn(const std::string& dests, const std::string& name, int32_t jobID,
                           const std::string& color, const std::function<bool(int32_t)>& ready);

    std::vector<TDestMark> Marks;
    int32_t LastTurn = -1;
};

} // namespace raduvuz
