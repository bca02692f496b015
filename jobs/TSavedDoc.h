#pragma once

#include "common/Types.h"

#include <cstdint>
#include <string>

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

} // namespace raduvuz
