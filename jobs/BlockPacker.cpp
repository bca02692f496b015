#include "jobs/BlockPacker.h"

#include "jobs/PackBits.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace raduvuz {

namespace {

// Small enough that the last segments of a block keep every helper busy, large enough that
// handing segments between threads costs little next to packing them.
constexpr int64_t SegmentSize = 32 * PackBitsPieceSize;
// Bytes are copied out of the block this many at a time: whole pieces, and few enough to stay
// in the cache between the copy and the packing.
constexpr int64_t ReadChunk = 8 * PackBitsPieceSize;
constexpr int MaxHelpers = 16;
// Segments each packing thread may be ahead of the writer: enough that helpers seldom wait
// while the writer packs a segment itself.
constexpr size_t SlotsPerThread = 4;

// The calling thread packs as well, so one helper per further core (at most 4 threads in all):
// more threads than cores would only take turns.
int DefaultHelpers() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores <= 1 ? 0 : static_cast<int>(std::min(cores, 4U)) - 1;
}

class TPackPool {
public:
    static TPackPool& Instance() {
        static TPackPool pool;
        return pool;
    }

    ~TPackPool() { StopHelpers(); }

    void SetHelpers(int count) {
        const std::lock_guard call(CallMutex);
        Wanted = std::clamp(count, 0, MaxHelpers);
    }

    int Helpers() {
        const std::lock_guard call(CallMutex);
        return Wanted;
    }

    TPackResult Pack(int64_t blockSize, const TBlockSource& source, const TPackedSink& sink) {
        const std::lock_guard call(CallMutex);
        Prepare();
        if (blockSize <= SegmentSize) {
            // One segment is the caller's alone: waking the helpers, only for them to find
            // nothing to do, costs more than the packing.
            TSlot& slot = Slots.front();
            slot.Size = PackRange(source, 0, blockSize, CallerScratch.get(), slot.Data.get());
            if (slot.Size < 0 || (slot.Size > 0 && !Deliver(sink, slot)))
                return TPackResult{};
            return TPackResult{true, slot.Size};
        }
        std::unique_lock lock(Mutex);
        Source = &source;
        BlockSize = blockSize;
        Segments = (blockSize + SegmentSize - 1) / SegmentSize;
        NextToTake = 0;
        NextToWrite = 0;
        Stopped = false;
        for (TSlot& slot : Slots)
            slot.State = TState::Free;
        Changed.notify_all();

        TPackResult result;
        result.Ok = true;
        while (NextToWrite < Segments) {
            TSlot& slot = Slots[static_cast<size_t>(NextToWrite % SlotCount())];
            if (slot.State == TState::Done) {
                lock.unlock();
                const bool written = slot.Size == 0 || Deliver(sink, slot);
                lock.lock();
                if (!written) {
                    result.Ok = false;
                    break;
                }
                result.Packed += slot.Size;
                slot.State = TState::Free;
                ++NextToWrite;
                Changed.notify_all();
            } else if (slot.State == TState::Failed) {
                result.Ok = false;
                break;
            } else if (CanTake()) {
                // While the next segment to write is not ready, the caller packs one too; the
                // helpers go on meanwhile as far as the slots reach.
                PackSegment(Take(), CallerScratch.get(), lock);
            } else {
                Changed.wait(lock);
            }
        }
        // The helpers still read the source and fill slots until their segments end.
        Stopped = true;
        Changed.wait(lock, [this] { return Busy == 0; });
        Source = nullptr;
        return result;
    }

private:
    enum class TState { Free, Packing, Done, Failed };

    struct TSlot {
        std::unique_ptr<uint8_t[]> Data;
        int64_t Size = 0;
        TState State = TState::Free;
    };

    // Matches the helper threads and slots to the wanted count; buffers are kept from block to
    // block, as fresh large allocations would fault in every page again.
    void Prepare() {
        if (!CallerScratch)
            CallerScratch.reset(new uint8_t[ReadChunk]);
        if (static_cast<int>(Threads.size()) != Wanted) {
            StopHelpers();
            for (int i = 0; i < Wanted; ++i)
                Threads.emplace_back([this] { HelperLoop(); });
        }
        const size_t slots = SlotsPerThread * (Threads.size() + 1);
        const std::lock_guard lock(Mutex);
        if (Slots.size() != slots) {
            Slots.clear();
            Slots.resize(slots);
            for (TSlot& slot : Slots)
                slot.Data.reset(new uint8_t[PackBitsBlockBound(SegmentSize)]);
        }
    }

    void StopHelpers() {
        {
            const std::lock_guard lock(Mutex);
            Shutdown = true;
        }
        Changed.notify_all();
        for (std::thread& thread : Threads)
            thread.join();
        Threads.clear();
        const std::lock_guard lock(Mutex);
        Shutdown = false;
    }

    int64_t SlotCount() const { return static_cast<int64_t>(Slots.size()); }

    // A segment may start once the one its slot held before has been written.
    bool CanTake() const {
        return !Stopped && NextToTake < Segments && NextToTake < NextToWrite + SlotCount();
    }

    int64_t Take() {
        const int64_t segment = NextToTake++;
        Slots[static_cast<size_t>(segment % SlotCount())].State = TState::Packing;
        ++Busy;
        return segment;
    }

    // Packs one segment into its slot with the lock released; returns with it held.
    void PackSegment(int64_t segment, uint8_t* scratch, std::unique_lock<std::mutex>& lock) {
        TSlot& slot = Slots[static_cast<size_t>(segment % SlotCount())];
        const TBlockSource& source = *Source;
        const int64_t start = segment * SegmentSize;
        const int64_t end = std::min(start + SegmentSize, BlockSize);
        lock.unlock();
        const int64_t packed = PackRange(source, start, end, scratch, slot.Data.get());
        lock.lock();
        slot.Size = std::max<int64_t>(packed, 0);
        slot.State = packed >= 0 ? TState::Done : TState::Failed;
        --Busy;
        Changed.notify_all();
    }

    // Packs the bytes from start to end of the source into out, a read chunk at a time: the
    // packed size, or -1 when the source could not give them.
    static int64_t PackRange(const TBlockSource& source, int64_t start, int64_t end,
                             uint8_t* scratch, uint8_t* out) {
        int64_t packed = 0;
        for (int64_t at = start; at < end; at += ReadChunk) {
            const int64_t count = std::min(ReadChunk, end - at);
            const uint8_t* data = nullptr;
            try {
                data = source(at, count, scratch);
            } catch (...) {
                data = nullptr;
            }
            if (!data)
                return -1;
            for (int64_t offset = 0; offset < count; offset += PackBitsPieceSize)
                packed += PackBitsPiece(data + offset, std::min(PackBitsPieceSize, count - offset),
                                        out + packed);
        }
        return packed;
    }

    static bool Deliver(const TPackedSink& sink, const TSlot& slot) {
        try {
            return sink(slot.Data.get(), slot.Size);
        } catch (...) {
            return false;
        }
    }

    void HelperLoop() {
        const std::unique_ptr<uint8_t[]> scratch(new uint8_t[ReadChunk]);
        std::unique_lock lock(Mutex);
        for (;;) {
            Changed.wait(lock, [this] { return Shutdown || CanTake(); });
            if (Shutdown)
                return;
            PackSegment(Take(), scratch.get(), lock);
        }
    }

    std::mutex CallMutex; // one block at a time; guards Wanted, Threads, Slots' buffers
    int Wanted = DefaultHelpers();
    std::vector<std::thread> Threads;
    std::unique_ptr<uint8_t[]> CallerScratch;

    std::mutex Mutex; // guards what follows
    std::condition_variable Changed;
    bool Shutdown = false;
    std::vector<TSlot> Slots;
    const TBlockSource* Source = nullptr;
    int64_t BlockSize = 0;
    int64_t Segments = 0;
    int64_t NextToTake = 0;
    int64_t NextToWrite = 0;
    bool Stopped = true;
    int Busy = 0;
};

} // namespace

TPackResult PackBlockInOrder(int64_t blockSize, const TBlockSource& source,
                             const TPackedSink& sink) {
    if (blockSize < 0)
        return TPackResult{};
    return TPackPool::Instance().Pack(blockSize, source, sink);
}

void SetPackHelpers(int count) {
    TPackPool::Instance().SetHelpers(count);
}

int PackHelpers() {
    return TPackPool::Instance().Helpers();
}

} // namespace raduvuz
