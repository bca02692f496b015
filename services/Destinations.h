#pragma once

#include "services/TServerClient.h"
#include "services/TStoreClient.h"

#include <cstdint>

namespace raduvuz {

// Whether destination dest takes a document now: the server says it runs and is not paused, and
// the store holds no document for it yet.
bool DestinationReady(TServerClient& server, TStoreClient& store, int32_t dest);

} // namespace raduvuz
