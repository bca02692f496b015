#pragma once

#include "common/Types.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace raduvuz {

// An output document the workflow server asked to keep, so that it can be made again from the
// spool file later.
struct TSavedDoc {
    int32_t DocID = 0;
    int32_t OutDocID = 0;
    int32_t JobID = 0;
    int32_t SaveCount = 0;
    int32_t Priority = 0;
    std::string DDS;
    TDateTime SavedAt = 0;
    TDateTime Created = 0;
    std::string Devices;
    std::string FileType;
    std::string FileName;
    std::string Name;
    std::string Page;
    std::string Color;
    std::string Size;
    std::string SizeText;
};

using TSavedDocs = std::vector<std::shared_ptr<TSavedDoc>>;

// The record of output document outDocID in docs, or none.
std::shared_ptr<TSavedDoc> FindSavedDoc(const TSavedDocs& docs, int32_t outDocID);
// Adds record unless one of its output document is there; false when one was.
bool AddSavedDoc(TSavedDocs& docs, std::shared_ptr<TSavedDoc> record);

} // namespace raduvuz
