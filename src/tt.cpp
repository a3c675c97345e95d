// The transposition table's memory: how large a table may be, mapping it,
// bringing its pages in, clearing it, and its age between searches.
#include "tt.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "util.h"

// ---------------------------------------------------------------------------
// Transposition table
// ---------------------------------------------------------------------------

HashBucket* ttBuckets = nullptr;
uint64_t ttMask = 0;
uint8_t ttAge = 0;
uint32_t ttSearchCount = 0;

// ---------------------------------------------------------------------------
// How much memory a table may take
// ---------------------------------------------------------------------------

uint64_t ttBucketsWithinMemory(uint64_t wantedBuckets, uint64_t memoryBytes) {
    // The rest of the system (the GUI, other engines, the kernel's caches)
    // keeps a quarter of the memory, at least 256 MiB, but never more than
    // half of it.
    const uint64_t reserve = std::min(std::max(memoryBytes / 4, (uint64_t)256 << 20), memoryBytes / 2);
    const uint64_t allowance = memoryBytes - reserve;
    uint64_t buckets = wantedBuckets;
    while (buckets > 16384 && buckets * sizeof(HashBucket) > allowance) buckets /= 2;
    return buckets;
}

namespace {

// The first number in a cgroup limit file; "max" (no limit), a missing file
// or anything unreadable gives no limit.
uint64_t readCgroupLimit(const std::string& file) {
    std::ifstream in(file);
    uint64_t v = 0;
    if (!(in >> v)) return ~0ULL;
    return v;
}

// The smallest limit of the cgroup at `path` (as listed in /proc/self/cgroup)
// and its ancestors, under the hierarchy mounted at `mount`.  A process in a
// cgroup namespace sees its own group as the root of the mount, so the mount
// root itself is always looked at.
uint64_t cgroupTreeLimit(const std::string& mount, std::string path, const char* fileName) {
    uint64_t limit = ~0ULL;
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

uint64_t memoryLimit(uint64_t physicalBytes, const std::string& procCgroupFile, const std::string& cgroupRoot) {
    uint64_t limit = physicalBytes;
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

uint64_t memoryLimit() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    const uint64_t physical = pages > 0 && pageSize > 0 ? (uint64_t)pages * (uint64_t)pageSize : ~0ULL;
    return memoryLimit(physical, "/proc/self/cgroup", "/sys/fs/cgroup");
}

// ---------------------------------------------------------------------------
// Mapping the table and bringing its pages in
// ---------------------------------------------------------------------------

#ifndef MADV_COLLAPSE
#define MADV_COLLAPSE 25
#endif

namespace {
size_t ttBytes = 0;
constexpr size_t HUGE_PAGE_BYTES = 2u << 20;

// The background thread that brings the pages of a new table in.
std::atomic<bool> populateCancel{false};
struct Populator {
    std::thread thread;
    void stop() {
        if (!thread.joinable()) return;
        populateCancel.store(true, std::memory_order_relaxed);
        thread.join();
        populateCancel.store(false, std::memory_order_relaxed);
    }
    ~Populator() { stop(); }
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
constexpr int64_t KEEP_CLEAR_OF_SEARCH_MS = 100;

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
        const int64_t wait = lastSearchStartMs.load(std::memory_order_relaxed) + KEEP_CLEAR_OF_SEARCH_MS - nowMs();
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
    for (size_t done = 0; done + HUGE_PAGE_BYTES <= bytes; done += HUGE_PAGE_BYTES) {
        if (!noSearchUnderWay()) return;
        if (madvise(table + done, HUGE_PAGE_BYTES, MADV_COLLAPSE) != 0 && errno == EINVAL)
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

// An anonymous mapping of `bytes` that starts on a huge-page boundary, so
// that every 2 MB of the table can become one huge page.
void* mapAligned(size_t bytes) {
    const size_t span = bytes + HUGE_PAGE_BYTES;
    void* p = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    const uintptr_t start = (uintptr_t)p;
    const uintptr_t aligned = (start + HUGE_PAGE_BYTES - 1) & ~(uintptr_t)(HUGE_PAGE_BYTES - 1);
    const size_t page = (size_t)sysconf(_SC_PAGE_SIZE);
    const uintptr_t end = (aligned + bytes + page - 1) & ~(uintptr_t)(page - 1);
    if (aligned > start) munmap(p, aligned - start);
    if (start + span > end) munmap((void*)end, start + span - end);
    return (void*)aligned;
}

// Tables up to this size are brought into memory before the command that
// made them returns (and so before "readyok"); larger ones in the background.
constexpr size_t SYNCHRONOUS_POPULATE_BYTES = (size_t)64 << 20;

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

}  // namespace

void ttWaitForPages() {
    if (populateThread.thread.joinable()) populateThread.thread.join();
}

uint64_t ttBucketsForSize(int64_t mb) {
    uint64_t p = 1;
    while ((int64_t)p < mb) p *= 2;
    return 16384 * p;
}

void ttFree() {
    stopPopulating();
    if (ttBuckets && ttBytes) munmap(ttBuckets, ttBytes);
    ttBuckets = nullptr;
    ttBytes = 0;
    ttMask = 0;
}

// Fresh anonymous mappings are zero-filled by the kernel, so a new table needs
// no clearing pass.
uint64_t ttAllocate(uint64_t buckets, bool prefault) {
    ttFree();
    for (; buckets >= 2048; buckets /= 2) {
        const size_t bytes = buckets * sizeof(HashBucket) + sizeof(HashBucket);
        void* p = mapAligned(bytes);
        if (!p) continue;
        if (prefault && bytes <= SYNCHRONOUS_POPULATE_BYTES) {
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
        ttBuckets = static_cast<HashBucket*>(p);
        ttBytes = bytes;
        ttMask = buckets - 1;
        ttSearchCount = 0;
        return buckets;
    }
    // Not even a small mapping could be had: a table built into the program
    // keeps the engine playing.
    static HashBucket reserveTable[1024 + 1];
    std::memset(static_cast<void*>(reserveTable), 0, sizeof reserveTable);
    ttBuckets = reserveTable;
    ttBytes = 0;
    ttMask = 1023;
    ttSearchCount = 0;
    return 1024;
}

void ttClear(int threads) {
    // Writing zeros over pages the helper thread has not brought in yet would
    // fault them in one by one on this thread (a second for a fresh 1 GB
    // table).  They are dropped instead, which leaves them zero, and the
    // helper goes on from there afterwards.
    uint64_t buckets = ttMask + 2;  // the spare bucket too
    const bool paging = populateThread.thread.joinable() && !populateDone.load(std::memory_order_relaxed);
    size_t resumeFrom = ttBytes;
    if (paging) {
        stopPopulating();
        resumeFrom = populatedBytes.load(std::memory_order_relaxed);
        if (resumeFrom < ttBytes) {
            madvise(reinterpret_cast<char*>(ttBuckets) + resumeFrom, ttBytes - resumeFrom, MADV_DONTNEED);
            buckets = (resumeFrom + sizeof(HashBucket) - 1) / sizeof(HashBucket);
        }
    }
    const int t = threads < 1 ? 1 : threads;
    const uint64_t per = buckets / t;
    std::vector<std::thread> workers;
    for (int j = 0; j < t; j++) {
        const uint64_t first = j * per;
        const uint64_t count = j < t - 1 ? per : buckets - first;
        auto clear = [first, count] { std::memset((void*)&ttBuckets[first], 0, count * sizeof(HashBucket)); };
        try {
            workers.emplace_back(clear);
        } catch (const std::system_error&) {
            clear();  // no thread to spare: this part is cleared here
        }
    }
    for (auto& w : workers) w.join();
    ttSearchCount = 0;
    if (paging) startPopulating(reinterpret_cast<char*>(ttBuckets), ttBytes, resumeFrom);
}

void ttNewSearch() {
    ttAge = (uint8_t)(ttSearchCount & 63);
    ttSearchCount++;
    lastSearchStartMs.store(nowMs(), std::memory_order_relaxed);
    searchUnderWay.store(true, std::memory_order_relaxed);
}

void ttSearchEnded() { searchUnderWay.store(false, std::memory_order_relaxed); }

void ttInstallPerftTable() {
    ttAllocate(2097152);
}


void ttAllocateMB(int64_t mb, bool prefault) {
    // A table larger than the machine (or its container) can hold would be
    // mapped, then faulted in until the kernel kills the engine: cap it.
    const uint64_t wanted = ttBucketsForSize(mb);
    const uint64_t memory = memoryLimit();
    const uint64_t capped = ttBucketsWithinMemory(wanted, memory);
    const uint64_t got = ttAllocate(capped, prefault);
    if (got < wanted)
        printLine("info string not enough memory for " + std::to_string(mb) + " MB of hash; using " +
                  std::to_string(got * sizeof(HashBucket) >> 20) + " MB" +
                  (capped < wanted ? " (memory: " + std::to_string(memory >> 20) + " MB)" : ""));
}
