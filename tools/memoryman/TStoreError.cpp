#include "tools/memoryman/TStoreError.h"

namespace raduvuz {

std::string TStoreError::ErrorName() const {
    const char* kind = "Failed";
    switch (Kind) {
    case TKind::UnknownDocument:
        kind = "UnknownDocument";
        break;
    case TKind::NotOpen:
        kind = "NotOpen";
        break;
    case TKind::InvalidArgument:
        kind = "InvalidArgument";
        break;
    case TKind::UnknownHandle:
        kind = "UnknownHandle";
        break;
    case TKind::InvalidState:
        kind = "InvalidState";
        break;
    case TKind::NoMemory:
        kind = "NoMemory";
        break;
    case TKind::FileError:
        kind = "FileError";
        break;
    }
    return std::string("RozEza.MemoryMan.Error.") + kind;
}

} // namespace raduvuz
