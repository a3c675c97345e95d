// Zobrist keys of positions, and the shared transposition table's memory.
#include <sys/mman.h>
#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

#include "tarnwick.h"

namespace {

// The key numbers are a fixed table built into the program, so keys are the
// same in every run and every build.  Most entries come from a splitmix64
// sequence evaluated at compile time; a few anchor entries are fixed values.
struct randomTable {
    U64 v[800];
    constexpr randomTable() : v() {
        U64 state = 0x7a3d1f5e9b2c4d81ULL;
        for (int i = 0; i < 800; i++) {
            state += 0x9e3779b97f4a7c15ULL;
            U64 z = state;
            z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
            z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
            v[i] = z ^ (z >> 31);
        }
        v[0] = 0xacfeaf947971818aULL;
        v[1] = 0x1e1a986bcee58e3bULL;
        v[2] = 0xd1dd9bbc7b8c8d68ULL;
        v[3] = 0x26c7a01e02433fa7ULL;
        v[64] = 0x752ca854f4bd14adULL;
        v[768] = 0xb60876bcf1ac653fULL;
        v[784] = 0xc1e7974d83cf2e9aULL;
        v[792] = 0xf31fa94fe63f529fULL;
    }
};
constexpr randomTable zobristSource;

}  // namespace

const U64 (&hashCodeRandomNumber)[800] = zobristSource.v;

U64 hashCodePiece[14][64];
U64 hashCodeCastling[16];
U64 hashCodeEnpassant[8];
U64 hashCodeBlackToMove;

void initHashCodeTables() {
    for (int code = 2; code < 14; code++)
        for (int s = 0; s < 64; s++) hashCodePiece[code][s] = hashCodeRandomNumber[(code - 2) * 64 + s];
    for (int s = 0; s < 64; s++) hashCodePiece[0][s] = hashCodePiece[1][s] = 0;
    for (int r = 0; r < 16; r++) hashCodeCastling[r] = hashCodeRandomNumber[768 + r];
    for (int f = 0; f < 8; f++) hashCodeEnpassant[f] = hashCodeRandomNumber[784 + f];
    hashCodeBlackToMove = hashCodeRandomNumber[792];
}

U64 calcHashKey(int ply, const positionStruct* pos) {
    (void)ply;
    U64 key = 0;
    for (int code = 2; code < 14; code++) {
        U64 b = pos->pieceBitboard[code];
        while (b) key ^= hashCodePiece[code][popLsb(b)];
    }
    key ^= hashCodeCastling[pos->plyStack[0].castlingRights & 15];
    if (pos->plyStack[0].enpassantSquare) key ^= hashCodeEnpassant[pos->plyStack[0].enpassantSquare & 7];
    if (pos->sideToMove == BLACK) key ^= hashCodeBlackToMove;
    return key;
}

U64 calcPawnHashKey(const positionStruct* pos) {
    U64 key = 0;
    for (int code : {WPAWN, BPAWN, WKING, BKING}) {
        U64 b = pos->pieceBitboard[code];
        while (b) key ^= hashCodePiece[code][popLsb(b)];
    }
    return key;
}

// ---------------------------------------------------------------------------
// Transposition table
// ---------------------------------------------------------------------------

hashBucket* hashTable = nullptr;
U64 hashKeyMask = 0;
uint8_t hashAgeCounter = 0;
uint32_t hashHartBeat = 0;

namespace {
size_t hashTableBytes = 0;

// Faulting in the pages of a new table, slice by slice, in the background.
std::atomic<bool> populateCancel{false};
struct populator {
    std::thread thread;
    void stop() {
        if (!thread.joinable()) return;
        populateCancel.store(true, std::memory_order_relaxed);
        thread.join();
        populateCancel.store(false, std::memory_order_relaxed);
    }
    ~populator() { stop(); }
} populateThread;

void stopPopulating() { populateThread.stop(); }
}  // namespace

void waitForHashTablePages() {
    if (populateThread.thread.joinable()) populateThread.thread.join();
}

namespace {

void startPopulating(char* p, size_t bytes) {
#ifdef MADV_POPULATE_WRITE
    try {
        populateThread.thread = std::thread([p, bytes] {
            const size_t slice = 4u << 20;
            for (size_t done = 0; done < bytes && !populateCancel.load(std::memory_order_relaxed); done += slice)
                madvise(p + done, std::min(slice, bytes - done), MADV_POPULATE_WRITE);
        });
    } catch (const std::system_error&) {
        // Without the helper thread the pages are faulted in by use.
    }
#else
    (void)p;
    (void)bytes;
#endif
}
}  // namespace

U64 hashBucketsForSize(int64_t mb) {
    U64 p = 1;
    while ((int64_t)p < mb) p *= 2;
    return 16384 * p;
}

void freeHashTable() {
    stopPopulating();
    if (hashTable && hashTableBytes) munmap(hashTable, hashTableBytes);
    hashTable = nullptr;
    hashTableBytes = 0;
    hashKeyMask = 0;
}

// Fresh anonymous mappings are zero-filled by the kernel, so a new table needs
// no clearing pass.  The table asks for transparent huge pages, which spare
// the search most of its address-translation misses; since faulting in a huge
// page can be slow (the kernel may compact memory first), a background thread
// has the kernel fault in the table slice by slice, so that neither start-up
// nor the first searches wait for it.  It writes nothing itself; freeing the
// table stops it after the slice at hand.
U64 allocateHashTable(U64 buckets, bool prefault) {
    freeHashTable();
    for (; buckets >= 2048; buckets /= 2) {
        size_t bytes = buckets * sizeof(hashBucket) + sizeof(hashBucket);
        void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) continue;
#ifdef MADV_HUGEPAGE
        madvise(p, bytes, MADV_HUGEPAGE);
#endif
        if (prefault) startPopulating(static_cast<char*>(p), bytes);
        hashTable = static_cast<hashBucket*>(p);
        hashTableBytes = bytes;
        hashKeyMask = buckets - 1;
        hashHartBeat = 0;
        return buckets;
    }
    // Not even a small mapping could be had: a table built into the program
    // keeps the engine playing.
    static hashBucket reserveTable[1024 + 1];
    std::memset(static_cast<void*>(reserveTable), 0, sizeof reserveTable);
    hashTable = reserveTable;
    hashTableBytes = 0;
    hashKeyMask = 1023;
    hashHartBeat = 0;
    return 1024;
}

void clearHashTableMT() {
    int t = engine.nofThreads < 1 ? 1 : engine.nofThreads;
    const U64 B = hashKeyMask + 1;
    const U64 per = B / t;
    std::vector<std::thread> workers;
    for (int j = 0; j < t; j++) {
        const U64 first = j * per;
        const U64 count = j < t - 1 ? per : B - first + 1;
        auto clear = [first, count] { std::memset((void*)&hashTable[first], 0, count * sizeof(hashBucket)); };
        try {
            workers.emplace_back(clear);
        } catch (const std::system_error&) {
            clear();  // no thread to spare: this part is cleared here
        }
    }
    for (auto& w : workers) w.join();
    hashHartBeat = 0;
}

void advanceHashAge() {
    hashAgeCounter = (uint8_t)(hashHartBeat & 63);
    hashHartBeat++;
}

void installPerftCheckHashTable() {
    allocateHashTable(2097152);
}
