// The transposition table's memory: how large a table may be, mapping it,
// bringing its pages in, clearing it, and its age between searches.
#include "tt.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform.h"
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

uint64_t memoryAllowance(uint64_t memoryBytes) {
    // The rest of the system (the GUI, other engines, the kernel's caches)
    // keeps a quarter of the memory, at least 256 MiB, but never more than
    // half of it.
    const uint64_t reserve = std::min(std::max(memoryBytes / 4, (uint64_t)256 << 20), memoryBytes / 2);
    return memoryBytes - reserve;
}

uint64_t ttBucketsWithinMemory(uint64_t wantedBuckets, uint64_t memoryBytes, uint64_t othersBytes) {
    const uint64_t share = memoryAllowance(memoryBytes);
    const uint64_t allowance = share > othersBytes ? share - othersBytes : 0;
    uint64_t buckets = wantedBuckets;
    while (buckets > 16384 && buckets * sizeof(HashBucket) > allowance) buckets /= 2;
    return buckets;
}

// Physical memory, or less when a Linux control group or a Windows job above
// the process sets a limit.
uint64_t memoryLimit() { return platform::processMemoryLimit(); }

// ---------------------------------------------------------------------------
// Mapping the table and bringing its pages in
// ---------------------------------------------------------------------------

namespace {
size_t ttBytes = 0;
// A search has written to the table since it was made or last cleared.
bool ttWritten = false;
// The table has been waited for since it was made (or last cleared while
// its pages were still coming in).
bool settled = true;
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
// a 10 s search).  The thread changes nothing the search stores, so what the
// search finds never depends on how far it has got; freeing the table stops
// it after the step at hand.
//
// Where the system cannot fault pages in on request (Windows, an older
// kernel), the thread touches each page itself: an atomic add of zero to a
// word of the page's first bucket, which writes the page (and so brings it
// in) without changing what a search may have stored there meanwhile.  Such
// faults are taken in the engine's own process, where they contend with the
// search's own (under Wine a 2 GB table made a depth-10 search twice as
// slow), so touching waits for the time between searches.
void touchPages(char* table, size_t bytes) {
    const size_t page = platform::pageBytes();
    for (size_t at = 0; at < bytes; at += page)
        reinterpret_cast<HashBucket*>(table + at)->entry[0].fetch_add(0, std::memory_order_relaxed);
}

void populateAndCollapse(char* table, size_t bytes, size_t from) {
    using platform::PageRequest;
    const size_t slice = 1u << 20;
    bool requests = true;
    for (size_t done = from; done < bytes; done += slice) {
        if (!(requests ? keptClearOfSearch() : noSearchUnderWay())) return;
        const size_t length = std::min(slice, bytes - done);
        if (requests && platform::populatePages(table + done, length) == PageRequest::UNSUPPORTED) requests = false;
        if (!requests) touchPages(table + done, length);
        populatedBytes.store(done + length, std::memory_order_relaxed);
    }
    if (populateCancelled()) return;
    platform::preferHugePages(table, bytes);
    for (size_t done = 0; done + HUGE_PAGE_BYTES <= bytes; done += HUGE_PAGE_BYTES) {
        if (!noSearchUnderWay()) return;
        if (platform::collapseHugePages(table + done, HUGE_PAGE_BYTES) == PageRequest::UNSUPPORTED)
            break;  // no synchronous collapse: the kernel's own scanner does it in time
    }
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
        platform::preferHugePages(table, bytes);
    }
}

// Tables up to this size are brought into memory before the command that
// made them returns (and so before "readyok"); larger ones in the background.
constexpr size_t SYNCHRONOUS_POPULATE_BYTES = (size_t)64 << 20;

void populateNow(char* table, size_t bytes) {
    platform::preferHugePages(table, bytes);
    if (platform::populatePages(table, bytes) == platform::PageRequest::DONE) return;
    // An older kernel, or Windows: one write a page faults it in (the memory
    // is zero, and so is what is written).
    const size_t page = platform::pageBytes();
    for (size_t at = 0; at < bytes; at += page) static_cast<volatile char*>(table)[at] = 0;
}

}  // namespace

void ttWaitForPages() {
    if (populateThread.thread.joinable()) populateThread.thread.join();
}

void ttSettle() {
    if (settled) return;
    settled = true;
    if (!populateThread.thread.joinable()) return;
    // Nothing to keep clear of: no search runs while the loop waits here.
    lastSearchStartMs.store(INT64_MIN / 2, std::memory_order_relaxed);
    const int64_t deadline = nowMs() + TT_SETTLE_MS;
    while (!populateDone.load(std::memory_order_relaxed) && nowMs() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

uint64_t ttBucketsForSize(int64_t mb) {
    uint64_t p = 1;
    while ((int64_t)p < mb) p *= 2;
    return 16384 * p;
}

void ttFree() {
    stopPopulating();
    if (ttBuckets && ttBytes) platform::releaseMemory(ttBuckets, ttBytes);
    ttBuckets = nullptr;
    ttBytes = 0;
    ttMask = 0;
}

// Fresh memory from the system is zero-filled, so a new table needs no
// clearing pass.
uint64_t ttAllocate(uint64_t buckets, bool prefault) {
    ttFree();
    for (; buckets >= 2048; buckets /= 2) {
        const size_t bytes = buckets * sizeof(HashBucket) + sizeof(HashBucket);
        void* p = platform::allocateZeroed(bytes);
        if (!p) continue;
        if (prefault && (bytes <= SYNCHRONOUS_POPULATE_BYTES || platform::MEMORY_RESIDENT_AT_ONCE)) {
            // Small enough to bring in at once (a few milliseconds): the
            // first search then takes no page faults in the table at all.
            populateNow(static_cast<char*>(p), bytes);
        } else if (prefault) {
            platform::preferSmallPages(p, bytes);  // small pages until the table is in
            startPopulating(static_cast<char*>(p), bytes, 0);
            settled = false;
        } else {
            platform::preferHugePages(p, bytes);
        }
        ttBuckets = static_cast<HashBucket*>(p);
        ttBytes = bytes;
        ttMask = buckets - 1;
        ttSearchCount = 0;
        ttWritten = false;
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
    ttWritten = false;
    return 1024;
}

void ttClear(int threads) {
    // A table no search has written since it was made or cleared is zero
    // already: a GUI's "ucinewgame" right after "setoption name Hash" costs
    // nothing, however large the table.
    if (!ttWritten) return;
    ttWritten = false;
    ttSearchCount = 0;
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
            if (!platform::discardPages(reinterpret_cast<char*>(ttBuckets) + resumeFrom, ttBytes - resumeFrom)) {
                // The system took the pages and would not give them back:
                // a table of fresh memory instead (smaller, if need be).
                ttAllocate(ttMask + 1);
                return;
            }
            buckets = (resumeFrom + sizeof(HashBucket) - 1) / sizeof(HashBucket);
        }
    }
#if defined(TW_NO_THREADS)
    // Built without threads: the table is cleared here, in one go.
    (void)threads;
    std::memset((void*)ttBuckets, 0, buckets * sizeof(HashBucket));
#else
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
#endif
    ttSearchCount = 0;
    if (paging) {
        startPopulating(reinterpret_cast<char*>(ttBuckets), ttBytes, resumeFrom);
        settled = false;
    }
}

void ttNewSearch() {
    ttWritten = true;
    ttAge = (uint8_t)(ttSearchCount & 63);
    ttSearchCount++;
    lastSearchStartMs.store(nowMs(), std::memory_order_relaxed);
    searchUnderWay.store(true, std::memory_order_relaxed);
}

void ttSearchEnded() { searchUnderWay.store(false, std::memory_order_relaxed); }

void ttInstallPerftTable() { ttAllocate(2097152); }

uint64_t ttTableBytes() { return ttBytes; }

void ttAllocateMB(int64_t mb, bool prefault, uint64_t othersBytes) {
    // A table larger than the machine (or its container) can hold would be
    // mapped, then faulted in until the kernel kills the engine: cap it.
    const uint64_t wanted = ttBucketsForSize(mb);
    const uint64_t memory = memoryLimit();
    const uint64_t capped = ttBucketsWithinMemory(wanted, memory, othersBytes);
    const uint64_t got = ttAllocate(capped, prefault);
    if (got < wanted)
        printLine("info string not enough memory for " + std::to_string(mb) + " MB of hash; using " +
                  std::to_string(got * sizeof(HashBucket) >> 20) + " MB" +
                  (capped < wanted ? " (memory: " + std::to_string(memory >> 20) + " MB)" : ""));
}
