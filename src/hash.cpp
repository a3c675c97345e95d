// Zobrist keys of positions, and the shared transposition table's memory.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
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

// ---------------------------------------------------------------------------
// How much memory a table may take
// ---------------------------------------------------------------------------

U64 hashBucketsWithinMemory(U64 wantedBuckets, U64 memoryBytes) {
    // The rest of the system (the GUI, other engines, the kernel's caches)
    // keeps a quarter of the memory, at least 256 MiB, but never more than
    // half of it.
    const U64 reserve = std::min(std::max(memoryBytes / 4, (U64)256 << 20), memoryBytes / 2);
    const U64 allowance = memoryBytes - reserve;
    U64 buckets = wantedBuckets;
    while (buckets > 16384 && buckets * sizeof(hashBucket) > allowance) buckets /= 2;
    return buckets;
}

namespace {

// The first number in a cgroup limit file; "max" (no limit), a missing file
// or anything unreadable gives no limit.
U64 readCgroupLimit(const std::string& file) {
    std::ifstream in(file);
    U64 v = 0;
    if (!(in >> v)) return ~0ULL;
    return v;
}

// The smallest limit of the cgroup at `path` (as listed in /proc/self/cgroup)
// and its ancestors, under the hierarchy mounted at `mount`.  A process in a
// cgroup namespace sees its own group as the root of the mount, so the mount
// root itself is always looked at.
U64 cgroupTreeLimit(const std::string& mount, std::string path, const char* fileName) {
    U64 limit = ~0ULL;
    for (int depth = 0; depth < 64; depth++) {
        while (!path.empty() && path.back() == '/') path.pop_back();
        limit = std::min(limit, readCgroupLimit(mount + path + "/" + fileName));
        if (path.empty()) break;
        const size_t slash = path.rfind('/');
        path.erase(slash == std::string::npos ? 0 : slash);
    }
    return limit;
}

}  // namespace

U64 hashMemoryLimit(U64 physicalBytes, const std::string& procCgroupFile, const std::string& cgroupRoot) {
    U64 limit = physicalBytes;
    std::ifstream in(procCgroupFile);
    std::string line;
    while (std::getline(in, line)) {
        // "hierarchy-id:controllers:path"; the unified hierarchy has id 0 and
        // no controller list, the older one lists "memory" among others.
        const size_t a = line.find(':');
        const size_t b = a == std::string::npos ? a : line.find(':', a + 1);
        if (b == std::string::npos) continue;
        const std::string controllers = line.substr(a + 1, b - a - 1);
        const std::string path = line.substr(b + 1);
        if (line.compare(0, a, "0") == 0 && controllers.empty()) {
            limit = std::min(limit, cgroupTreeLimit(cgroupRoot, path, "memory.max"));
        } else {
            std::istringstream list(controllers);
            std::string c;
            while (std::getline(list, c, ','))
                if (c == "memory")
                    limit = std::min(limit, cgroupTreeLimit(cgroupRoot + "/memory", path, "memory.limit_in_bytes"));
        }
    }
    return limit;
}

U64 hashMemoryLimit() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    const U64 physical = pages > 0 && pageSize > 0 ? (U64)pages * (U64)pageSize : ~0ULL;
    return hashMemoryLimit(physical, "/proc/self/cgroup", "/sys/fs/cgroup");
}

// ---------------------------------------------------------------------------
// Mapping the table and bringing its pages in
// ---------------------------------------------------------------------------

#ifndef MADV_COLLAPSE
#define MADV_COLLAPSE 25
#endif

namespace {
size_t hashTableBytes = 0;
constexpr size_t hugePageBytes = 2u << 20;

// The background thread that brings the pages of a new table in.
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

bool populateCancelled() { return populateCancel.load(std::memory_order_relaxed); }

// How far from the start of the table the pages have been brought in, and
// whether the helper has finished with the table.
std::atomic<size_t> populatedBytes{0};
std::atomic<bool> populateDone{false};

// When the search started last (engine clock, ms), and whether one is
// under way.
std::atomic<int64_t> lastSearchStartMs{INT64_MIN / 2};
std::atomic<bool> searchUnderWay{false};
constexpr int64_t keepClearOfSearchMs = 100;

// A page the search reads first is mapped to the kernel's shared zero page;
// when the search then writes it, the kernel replaces that mapping and must
// flush it from every core running the engine, by an interrupt to the core of
// the helper thread if it is at work.  On a virtual machine such interrupts
// are dear: reading then writing 1500 fresh pages of a 1 GB table, about
// what a first "go depth 5" does, took 23-45 ms beside the helper and 6-8 ms
// alone.  So the helper stays out of the way for the first 100 ms of every
// search, long enough for a quick first move, and goes on afterwards.  False
// when the table is being freed.
bool keptClearOfSearch() {
    for (;;) {
        if (populateCancelled()) return false;
        const int64_t wait = lastSearchStartMs.load(std::memory_order_relaxed) + keepClearOfSearchMs - nowMs();
        if (wait <= 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min<int64_t>(wait, 5)));
    }
}

// Collapsing a page into a huge page holds the address space for as long as
// the kernel needs to find (and perhaps compact) 2 MB of memory; a search
// touching the table meanwhile stops dead, on this machine for up to 0.3 s,
// which on a short clock loses the game on time.  So pages are collapsed only
// between searches.  False when the table is being freed.
bool noSearchUnderWay() {
    for (;;) {
        if (populateCancelled()) return false;
        if (!searchUnderWay.load(std::memory_order_relaxed)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// A search that starts on a fresh table touches buckets all over it, and
// every first touch of a page is a page fault in the search thread.  With a
// huge page each such fault clears 2 MB (and may wait for the kernel to
// compact memory first), so a depth-5 search touching a hundred pages of a
// 256 MB table lost tens of milliseconds, several hundred when the memory was
// cold.  So the table starts on small pages, whose faults cost a few
// microseconds, and this thread
//   1. has the kernel fault in the whole table, 1 MB at a time;
//   2. then asks for huge pages and has the kernel collapse the table into
//      them one 2 MB page at a time, between searches, which spares long
//      searches most of their address-translation misses.
// A search that starts while a page is being collapsed waits for that page,
// and the kernel holds the address-space lock meanwhile: so the thread runs at
// the engine's own priority, since a lower one let it be preempted in the
// middle of a collapse on a busy machine and stall the search (0.3-0.4 s in
// a 10 s search).  The thread writes nothing itself, so what the search
// stores never depends on how far it has got; freeing the table stops it
// after the step at hand.
void populateAndCollapse(char* table, size_t bytes, size_t from) {
#ifdef MADV_POPULATE_WRITE
    const size_t slice = 1u << 20;
    for (size_t done = from; done < bytes; done += slice) {
        if (!keptClearOfSearch()) return;
        if (madvise(table + done, std::min(slice, bytes - done), MADV_POPULATE_WRITE) != 0 && errno == EINVAL)
            break;  // an older kernel: the search faults the pages in
        populatedBytes.store(std::min(done + slice, bytes), std::memory_order_relaxed);
    }
#else
    (void)from;
#endif
#ifdef MADV_HUGEPAGE
    if (populateCancelled()) return;
    madvise(table, bytes, MADV_HUGEPAGE);
    for (size_t done = 0; done + hugePageBytes <= bytes; done += hugePageBytes) {
        if (!noSearchUnderWay()) return;
        if (madvise(table + done, hugePageBytes, MADV_COLLAPSE) != 0 && errno == EINVAL)
            break;  // no synchronous collapse: the kernel's own scanner does it in time
    }
#endif
    populateDone.store(true, std::memory_order_relaxed);
}

// Bring in the pages from `from` on, then collapse the whole table.
void startPopulating(char* table, size_t bytes, size_t from) {
    populatedBytes.store(from, std::memory_order_relaxed);
    populateDone.store(false, std::memory_order_relaxed);
    // A fresh table is left alone for as long as a search start would be:
    // at start-up the program is still setting up its search thread (whose
    // tables are being zeroed) and should answer "readyok" first, and faults
    // taken by two threads at once slow both.
    if (from == 0) lastSearchStartMs.store(nowMs(), std::memory_order_relaxed);
    try {
        populateThread.thread = std::thread(populateAndCollapse, table, bytes, from);
    } catch (const std::system_error&) {
        // Without the helper thread the pages are faulted in by use.
#ifdef MADV_HUGEPAGE
        madvise(table, bytes, MADV_HUGEPAGE);
#endif
    }
}

#if defined(__EMSCRIPTEN__)
// WebAssembly has no virtual memory to map or advise: the table is taken
// from the heap (grown as needed) and zeroed here, so it is all in memory
// before the command that made it returns, and no helper thread runs.
void* mapAligned(size_t bytes) {
    void* p = std::aligned_alloc(alignof(hashBucket), bytes);  // bytes: whole buckets
    if (p) std::memset(p, 0, bytes);
    return p;
}
void unmapTable(void* p, size_t) { std::free(p); }
#else
void unmapTable(void* p, size_t bytes) { munmap(p, bytes); }

// An anonymous mapping of `bytes` that starts on a huge-page boundary, so
// that every 2 MB of the table can become one huge page.
void* mapAligned(size_t bytes) {
    const size_t span = bytes + hugePageBytes;
    void* p = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    const uintptr_t start = (uintptr_t)p;
    const uintptr_t aligned = (start + hugePageBytes - 1) & ~(uintptr_t)(hugePageBytes - 1);
    const size_t page = (size_t)sysconf(_SC_PAGE_SIZE);
    const uintptr_t end = (aligned + bytes + page - 1) & ~(uintptr_t)(page - 1);
    if (aligned > start) munmap(p, aligned - start);
    if (start + span > end) munmap((void*)end, start + span - end);
    return (void*)aligned;
}

// Tables up to this size are brought into memory before the command that
// made them returns (and so before "readyok"); larger ones in the background.
constexpr size_t synchronousPopulateBytes = (size_t)64 << 20;

void populateNow(char* table, size_t bytes) {
#ifdef MADV_HUGEPAGE
    madvise(table, bytes, MADV_HUGEPAGE);
#endif
#ifdef MADV_POPULATE_WRITE
    if (madvise(table, bytes, MADV_POPULATE_WRITE) == 0) return;
#endif
    // An older kernel: one write a page faults it in (the mapping is zero,
    // and so is what is written).
    const size_t page = (size_t)sysconf(_SC_PAGE_SIZE);
    for (size_t at = 0; at < bytes; at += page) static_cast<volatile char*>(table)[at] = 0;
}
#endif

}  // namespace

void waitForHashTablePages() {
    if (populateThread.thread.joinable()) populateThread.thread.join();
}

U64 hashBucketsForSize(int64_t mb) {
    U64 p = 1;
    while ((int64_t)p < mb) p *= 2;
    return 16384 * p;
}

void freeHashTable() {
    stopPopulating();
    if (hashTable && hashTableBytes) unmapTable(hashTable, hashTableBytes);
    hashTable = nullptr;
    hashTableBytes = 0;
    hashKeyMask = 0;
}

// Fresh anonymous mappings are zero-filled by the kernel, so a new table needs
// no clearing pass.
U64 allocateHashTable(U64 buckets, bool prefault) {
    freeHashTable();
    for (; buckets >= 2048; buckets /= 2) {
        const size_t bytes = buckets * sizeof(hashBucket) + sizeof(hashBucket);
        void* p = mapAligned(bytes);
        if (!p) continue;
#if defined(__EMSCRIPTEN__)
        (void)prefault;
#else
        if (prefault && bytes <= synchronousPopulateBytes) {
            // Small enough to bring in at once (a few milliseconds): the
            // first search then takes no page faults in the table at all.
            populateNow(static_cast<char*>(p), bytes);
        } else if (prefault) {
#ifdef MADV_NOHUGEPAGE
            madvise(p, bytes, MADV_NOHUGEPAGE);  // small pages until the table is in
#endif
            startPopulating(static_cast<char*>(p), bytes, 0);
        } else {
#ifdef MADV_HUGEPAGE
            madvise(p, bytes, MADV_HUGEPAGE);
#endif
        }
#endif
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
    // Writing zeros over pages the helper thread has not brought in yet would
    // fault them in one by one on this thread (a second for a fresh 1 GB
    // table).  They are dropped instead, which leaves them zero, and the
    // helper goes on from there afterwards.
    U64 buckets = hashKeyMask + 2;  // the spare bucket too
    const bool paging = populateThread.thread.joinable() && !populateDone.load(std::memory_order_relaxed);
    size_t resumeFrom = hashTableBytes;
    if (paging) {
        stopPopulating();
        resumeFrom = populatedBytes.load(std::memory_order_relaxed);
        if (resumeFrom < hashTableBytes) {
            madvise(reinterpret_cast<char*>(hashTable) + resumeFrom, hashTableBytes - resumeFrom, MADV_DONTNEED);
            buckets = (resumeFrom + sizeof(hashBucket) - 1) / sizeof(hashBucket);
        }
    }
    const int t = engine.nofThreads < 1 ? 1 : engine.nofThreads;
    const U64 per = buckets / t;
    std::vector<std::thread> workers;
    for (int j = 0; j < t; j++) {
        const U64 first = j * per;
        const U64 count = j < t - 1 ? per : buckets - first;
        auto clear = [first, count] { std::memset((void*)&hashTable[first], 0, count * sizeof(hashBucket)); };
        try {
            workers.emplace_back(clear);
        } catch (const std::system_error&) {
            clear();  // no thread to spare: this part is cleared here
        }
    }
    for (auto& w : workers) w.join();
    hashHartBeat = 0;
    if (paging) startPopulating(reinterpret_cast<char*>(hashTable), hashTableBytes, resumeFrom);
}

void advanceHashAge() {
    hashAgeCounter = (uint8_t)(hashHartBeat & 63);
    hashHartBeat++;
    lastSearchStartMs.store(nowMs(), std::memory_order_relaxed);
    searchUnderWay.store(true, std::memory_order_relaxed);
}

void hashSearchEnded() { searchUnderWay.store(false, std::memory_order_relaxed); }

void installPerftCheckHashTable() {
    allocateHashTable(2097152);
}
