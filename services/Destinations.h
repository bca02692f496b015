#pragma once

#include "services/TServerClient.h"
#include "services/TStoreClient.h"

#include <cstdint>
#include <vector>

namespace raduvuz {

// Whether destination dest takes a document now: the server says it runs and is not paused, and
// the store holds no document for it yet.
bool DestinationReady(TServerClient& server, TStoreClient& store, int32_t dest);
// The same for each of dests. Every question to the server and the store goes out at once and
// all share one round trip; asking the store about a paused destination too costs less.
std::vector<bool> DestinationsReady(TServerClient& server, TStoreClient& store,
                                    const std::vector<int32_t>& dests);

} // namespace raduvuz
