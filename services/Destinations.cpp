#include "services/Destinations.h"

namespace raduvuz {

bool DestinationReady(TServerClient& server, TStoreClient& store, int32_t dest) {
    // Both of the server's answers go out together and share one round trip; the store is asked
    // only about a destination that runs, so a paused one costs a waiting job no store call.
    TPendingCallPtr running = server.GetValuePosted(dest, 0);
    TPendingCallPtr paused = server.GetValuePosted(dest, 6);
    return VariantToInt(running->Result().Result) == 1 && !VariantToBool(paused->Result().Result) &&
           !store.IsDocForExists(dest);
}

} // namespace raduvuz
