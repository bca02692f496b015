#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace raduvuz {

// What the store's blocks occupy at the moment; every block adds itself while it lives.
struct TShmUsage {
    int64_t Bytes = 0;
    int Blocks = 0;
};

// One POSIX shared-memory object of exactly the block's size, created 0600 and removed
// (shm_unlink) when the last owner lets go of it. The store never maps it for long: the data is
// moved with pread/pwrite on a descriptor opened for the moment.
class TShmBlock {
public:
    // Null (and error set) when the object cannot be made or its pages cannot be reserved.
    static std::shared_ptr<TShmBlock> Create(const std::string& name, int64_t size,
                                             const std::shared_ptr<TShmUsage>& usage,
                                             std::string& error);
    ~TShmBlock();
    TShmBlock(const TShmBlock&) = delete;
    TShmBlock& operator=(const TShmBlock&) = delete;

    const std::string& Name() const { return BlockName; }
    int64_t Size() const { return BlockSize; }

    bool Write(int64_t offset, const void* data, int64_t count, std::string& error);
    bool Read(int64_t offset, void* data, int64_t count, std::string& error) const;

    // Removes the blocks "<base>.<pid>.<n>" that a store which no longer runs left behind (it was
    // killed before it could remove them); gives the number removed for each dead pid.
    static std::map<long, int> RemoveOrphans(const std::string& base);

private:
    TShmBlock(std::string name, int64_t size, std::shared_ptr<TShmUsage> usage);
    std::string BlockName;
    int64_t BlockSize = 0;
    std::shared_ptr<TShmUsage> Usage;
};

} // namespace raduvuz
