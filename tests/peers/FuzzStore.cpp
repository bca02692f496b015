// Random call sequences against the store, from several connections that may vanish at any
// point: no crash, no block over the limit, nothing left in /dev/shm once the store is gone,
// whatever the input.
#include "tools/memoryman/TMemoryStore.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <unistd.h>

namespace {

class TInput {
public:
    TInput(const uint8_t* data, size_t size) : Data(data), Size(size) {}
    bool More() const { return Pos < Size; }
    int Byte() { return Pos < Size ? Data[Pos++] : 0; }
    // Small numbers around the interesting range, negative ones included.
    int32_t Small(int32_t span) { return Byte() % (span + 2) - 1; }

private:
    const uint8_t* Data;
    size_t Size;
    size_t Pos = 0;
};

int LeftBlocks(const std::string& prefix) {
    int count = 0;
    if (DIR* dir = ::opendir("/dev/shm")) {
        while (dirent* e = ::readdir(dir))
            if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0)
                ++count;
        ::closedir(dir);
    }
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace raduvuz;
    const std::string prefix = "rmmfuzz." + std::to_string(::getpid());
    {
        TMemoryStore::TOptions options;
        options.Prefix = prefix;
        options.MemoryLimit = 1 << 16;
        TMemoryStore store(options);
        TInput in(data, size);
        int32_t job = 0;
        for (int steps = 0; in.More() && steps < 400; ++steps) {
            try {
                const int op = in.Byte() % 18;
                const int32_t module = in.Small(4);
                const int32_t doc = in.Small(8);
                switch (op) {
                case 0:
                    store.PutData(std::string(static_cast<size_t>(in.Byte() * 37), 'x'), "Name=f",
                                  in.Small(300), module);
                    break;
                case 1:
                    store.RNextFindDoc(module, doc);
                    break;
                case 2:
                    store.ROpenDoc(module, doc, job);
                    break;
                case 3:
                    store.RGetBlock(module, doc);
                    break;
                case 4:
                    store.RCloseBlock(module, doc, in.Small(64));
                    break;
                case 5:
                    store.RWSwitchBlock(module, doc, in.Small(8));
                    break;
                case 6:
                    store.RCloseDoc(module, doc);
                    break;
                case 7:
                    store.RAbortDoc(module, doc);
                    break;
                case 8: {
                    const char* dests[] = {"1", "2,3", "", "x", "4, 1", "0"};
                    store.WCreateDoc(module, in.Byte(), dests[in.Byte() % 6], "Name=w");
                    break;
                }
                case 9:
                    store.WGetBlock(doc, in.Small(9000) * 3);
                    break;
                case 10:
                    store.WCloseBlock(doc, in.Small(64), in.Byte() % 2);
                    break;
                case 11:
                    store.WCloseDoc(doc);
                    break;
                case 12:
                    store.WAbortDoc(doc);
                    break;
                case 13:
                    store.IsDocForExists(module);
                    break;
                case 14:
                    store.RGetDocDDS(doc);
                    break;
                case 15: {
                    const char* peers[] = {"", ":1.1", ":1.2"};
                    store.SetCaller(peers[in.Byte() % 3]);
                    break;
                }
                case 16:
                    store.PeerGone(in.Byte() % 2 ? ":1.1" : ":1.2");
                    break;
                default:
                    store.ListDocs();
                    break;
                }
            } catch (const TStoreError&) {
            }
            if (store.MemoryInUse() > options.MemoryLimit || store.BlockCount() < 0)
                std::abort();
        }
    }
    if (LeftBlocks(prefix + ".") != 0)
        std::abort();
    return 0;
}
