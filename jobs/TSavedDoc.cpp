#include "jobs/TSavedDoc.h"

#include <algorithm>

namespace raduvuz {

std::shared_ptr<TSavedDoc> FindSavedDoc(const TSavedDocs& docs, int32_t outDocID) {
    const auto found =
        std::find_if(docs.begin(), docs.end(), [&](const std::shared_ptr<TSavedDoc>& saved) {
            return saved->OutDocID == outDocID;
        });
    return found == docs.end() ? nullptr : *found;
}

bool AddSavedDoc(TSavedDocs& docs, std::shared_ptr<TSavedDoc> record) {
    if (FindSavedDoc(docs, record->OutDocID))
        return false;
    docs.push_back(std::move(record));
    return true;
}

} // namespace raduvuz
