#include "services/Destinations.h"

namespace raduvuz {

bool DestinationReady(TServerClient& server, TStoreClient& store, int32_t dest) {
    return DestinationsReady(server, store, {dest}).front();
}

std::vector<bool> DestinationsReady(TServerClient& server, TStoreClient& store,
                                    const std::vector<int32_t>& dests) {
    struct TAsked {
        TPendingCallPtr Running;
        TPendingCallPtr Paused;
        TPendingCallPtr Taken;
    };
    std::vector<TAsked> asked;
    asked.reserve(dests.size());
    for (const int32_t dest : dests)
        asked.push_back({server.GetValuePosted(dest, 0), server.GetValuePosted(dest, 6),
                         store.IsDocForExistsPosted(dest)});
    std::vector<bool> ready;
    ready.reserve(dests.size());
    for (TAsked& a : asked)
        ready.push_back(VariantToInt(a.Running->Result().Result) == 1 &&
                        !VariantToBool(a.Paused->Result().Result) &&
                        !VariantToBool(store.FinishPosted(a.Taken, "IsDocForExists").Result));
    return ready;
}

} // namespace raduvuz
