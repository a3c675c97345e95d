// The transposition table, shared by every search thread: one cache-line
// bucket per index, read and written without locks.  The table is one block
// of memory owned by this file, at a fixed address between allocations, so
// that the search reaches it without any indirection.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "types.h"

// A bucket is one cache line: four entry words, then the four full keys.
// Entry word: move (bits 0-31), score (32-47), draft (48-55), bound (56-57),
// age (58-63).  Threads share the table without locks; every word is a
// relaxed atomic so the accepted race (a key read beside another position's
// entry word) is defined behaviour.  Moves taken from it are always checked.
struct alignas(64) HashBucket {
    std::atomic<uint64_t> entry[4];
    std::atomic<uint64_t> key[4];
};
static_assert(sizeof(HashBucket) == 64, "a bucket is one cache line");

enum : int { BOUND_NONE = 0, BOUND_UPPER = 1, BOUND_LOWER = 2, BOUND_EXACT = 3 };

extern HashBucket* ttBuckets;
extern uint64_t ttMask;
extern uint8_t ttAge;
extern uint32_t ttSearchCount;

// Number of buckets for a size in mebibytes: 16384 times the smallest power of
// two not below the size (at least 16384).
uint64_t ttBucketsForSize(int64_t mb);
// The largest number of buckets, at most `wantedBuckets` and halved as often
// as needed (but not below 16384), whose table leaves the rest of a machine
// or container of `memoryBytes` enough room.
// `othersBytes`: what the engine's other large blocks (the search threads)
// take of the same memory.
uint64_t ttBucketsWithinMemory(uint64_t wantedBuckets, uint64_t memoryBytes, uint64_t othersBytes = 0);
// The engine's share of `memoryBytes`: all of it but what the rest of the
// system keeps (a quarter, at least 256 MiB, at most half).
uint64_t memoryAllowance(uint64_t memoryBytes);
// Bytes of the table's memory (0 for the small table built into the program).
uint64_t ttTableBytes();
// Memory this process can have: physical memory, or less when a Linux cgroup
// (v1 or v2) or a Windows job above the process sets a limit.
uint64_t memoryLimit();
// Replace the table by one of the given number of buckets.  When memory for it
// cannot be had, smaller powers of two are tried; returns the buckets obtained.
// With `prefault` a background thread brings the pages in and then turns them
// into huge pages; without, the search faults them in as it first touches
// them.
uint64_t ttAllocate(uint64_t buckets, bool prefault = true);
void ttFree();
// Wait until the background thread has finished with a new table's pages.
void ttWaitForPages();
// The first call after a table was made (or cleared while its pages were
// still coming in) waits, at most TT_SETTLE_MS, until the background thread
// has brought the pages in and turned them into huge pages; what is left of
// a larger table stays with the thread.  Later calls return at once.  Only
// while no search runs.
constexpr int TT_SETTLE_MS = 2000;
void ttSettle();
// Zero the table with this many threads (clears the age counter too).
void ttClear(int threads);
// A new search starts: entries written from now on carry the next age.
void ttNewSearch();
// The search that ttNewSearch began is over (the table may be reshaped).
void ttSearchEnded();
// The fixed table the perft check leaves behind (2,097,152 buckets).
void ttInstallPerftTable();

inline uint64_t ttEntryWord(uint32_t move, int score, int draft, int bound) {
    return (uint64_t)move | ((uint64_t)(uint16_t)(int16_t)score << 32) | ((uint64_t)(draft & 0xff) << 48) |
           ((uint64_t)((ttAge << 2) | bound) << 56);
}
inline uint32_t ttEntryMove(uint64_t e) { return (uint32_t)e; }
inline int ttEntryScore(uint64_t e) { return (int16_t)(uint16_t)(e >> 32); }
inline int ttEntryDraft(uint64_t e) { return (int8_t)(uint8_t)(e >> 48); }
inline int ttEntryBound(uint64_t e) { return (int)((e >> 56) & 3); }
inline int ttEntryAge(uint64_t e) { return (int)(e >> 58); }

// Mate scores are stored relative to the node, held relative to the root.
inline int scoreToTable(int score, int ply) {
    if (score >= MATE_THRESHOLD) return score + ply;
    if (score <= -MATE_THRESHOLD) return score - ply;
    return score;
}
inline int scoreFromTable(int score, int ply) {
    if (score >= MATE_THRESHOLD) return score - ply;
    if (score <= -MATE_THRESHOLD) return score + ply;
    return score;
}

inline void ttPrefetch(uint64_t key) { __builtin_prefetch(&ttBuckets[key & ttMask]); }
// earlier search is marked as current so that replacement keeps it.  Always
// inline: called out of line the node search lost time on every probe.
__attribute__((always_inline)) inline uint64_t ttProbe(uint64_t key) {
    HashBucket* b = &ttBuckets[key & ttMask];
    for (int i = 0; i < 4; i++) {
        if (b->key[i].load(std::memory_order_relaxed) == key) {
            uint64_t e = b->entry[i].load(std::memory_order_relaxed);
            if ((int)(e >> 58) != ttAge) {
                uint64_t refreshed = (e & 0x03ffffffffffffffULL) | ((uint64_t)ttAge << 58);
                b->entry[i].compare_exchange_strong(e, refreshed, std::memory_order_relaxed);
                e = refreshed;
            }
            return e;
        }
    }
    return 0;
}

// The move stored for a position, read without marking the entry as current
// (for move ordering outside the search proper).
inline uint32_t ttPeekMove(uint64_t key) {
    const HashBucket* b = &ttBuckets[key & ttMask];
    for (int i = 0; i < 4; i++)
        if (b->key[i].load(std::memory_order_relaxed) == key)
            return ttEntryMove(b->entry[i].load(std::memory_order_relaxed));
    return 0;
}

inline void ttStore(uint64_t key, uint32_t move, int score, int draft, int bound) {
    HashBucket* b = &ttBuckets[key & ttMask];
    int slot = 0;
    int lowest = 1 << 30;
    for (int i = 0; i < 4; i++) {
        const uint64_t k = b->key[i].load(std::memory_order_relaxed);
        const uint64_t e = b->entry[i].load(std::memory_order_relaxed);
        if (k == key || e == 0) {
            slot = i;
            lowest = -(1 << 30);
            break;
        }
        const int worth = ttEntryDraft(e) + (ttEntryBound(e) == BOUND_EXACT ? 1 : 0) -
                          4 * ((ttAge - ttEntryAge(e)) & 63);
        if (worth < lowest) {
            lowest = worth;
            slot = i;
        }
    }
    b->key[slot].store(key, std::memory_order_relaxed);
    b->entry[slot].store(ttEntryWord(move, score, draft, bound), std::memory_order_relaxed);
}

// The table for a size in mebibytes (the option Hash), capped to what the
// machine or its container can hold, with an "info string" line when less
// than the size could be had.  `prefault` as for ttAllocate.
void ttAllocateMB(int64_t mb, bool prefault, uint64_t othersBytes);
