#pragma once

#include <stdexcept>
#include <string>

namespace raduvuz {

// A call the store refuses as bad input; it becomes a D-Bus error reply named after the kind.
class TStoreError : public std::runtime_error {
public:
    enum class TKind {
        UnknownDocument,
        NotOpen,
        InvalidArgument,
        UnknownHandle,
        InvalidState,
        NoMemory,
        FileError
    };

    TStoreError(TKind kind, const std::string& message) : std::runtime_error(message), Kind(kind) {}

    // "RozEza.MemoryMan.Error.UnknownDocument" and so on.
    std::string ErrorName() const;

    TKind Kind;
};

} // namespace raduvuz
