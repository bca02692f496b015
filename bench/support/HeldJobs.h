#pragma once

// Held jobs made beforehand for a module to reload at its start: spool files (a header and one
// small block) in the job folder of a settings key and the hold file naming every one.

#include "bench/support/BenchPeers.h"

namespace raduvuz::bench {

// The job folder of module key configKey and its hold file; false when a file cannot be made.
bool MakeHeldJobs(const TBenchWorld& world, const QString& configKey, int jobs);
// Reads every header of those spool files; the milliseconds it took.
double ReadHeldJobHeaders(const TBenchWorld& world, const QString& configKey, int jobs);

} // namespace raduvuz::bench
