// The node search: alpha-beta with its pruning, extensions and reductions,
// the quiescence search, and the principal variation rebuilt from the
// transposition table.  Every search thread runs these on its own position;
// what they share is the table and the control block below.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "position.h"
#include "timeman.h"

// What the node search of every thread reads while a search runs.  The thread
// pool fills it before it wakes the threads (threads.h); during the search
// only the flags change, as relaxed atomics: a thread that reads a stale flag
// acts on it one clock check later.
struct SearchControl {
    std::atomic<uint8_t> stop{0};
    std::atomic<uint8_t> pondering{0};
    // Nodes of the running search, gathered at the clock checks; used by the
    // "go nodes" limit.
    std::atomic<uint64_t> nodesCounted{0};
    // Neither the clock nor a node limit ends the search (set only while the
    // main thread finishes a first depth on its own, threads.cpp).
    std::atomic<uint8_t> clockOff{0};
    // May be set while a search runs ("setoption name SyzygyProbeDepth").
    std::atomic<int32_t> tablebaseProbeDepth{0};
    SearchLimits limits;
    TimeBudget budget;
    // Nodes between two clock checks of a thread.
    int32_t timeCheckInterval = 4096;
};
extern SearchControl searchControl;

inline bool stopRequested() { return searchControl.stop.load(std::memory_order_relaxed) != 0; }
inline bool ponderingOrInfinite() {
    return searchControl.pondering.load(std::memory_order_relaxed) || searchControl.limits.infinite;
}

#if defined(TW_NO_THREADS)
// Built without threads (the browser's engine for pages that may not share
// memory with workers): the search runs on the thread that reads the
// commands, so at its clock checks it lets the host in (webmain.cpp), which
// acts on "stop", "ponderhit" and "isready" and keeps every other line for
// after the search.  `holding`: the search is over and holds its answer
// until "stop" or "ponderhit" (an infinite or pondering search), so the call
// waits for the next line instead of returning at once.
void serviceHostDuringSearch(bool holding);
#endif

// Late-move reductions by depth and move number.
extern const std::array<std::array<uint8_t, 256>, 128> REDUCTIONS;

int alphaBeta(unsigned char ply, int depth, int alpha, int beta, Position* pos);
int quiescence(unsigned char ply, int depth, int alpha, int beta, Position* pos);
// The PV of a search to `depth`, move by move from the table, into the ply
// entries' pvMove (pvLastIndex is its last ply); it ends where the game
// would: at a repetition or a fifty-move draw.
void getPVFromHashTable(Position* pos, int depth);

// Counters read by other threads while a search runs are written with
// relaxed atomic stores by their owner.
inline void relaxedIncrement(uint64_t& counter) { __atomic_store_n(&counter, counter + 1, __ATOMIC_RELAXED); }
inline uint64_t relaxedRead(const uint64_t& counter) { return __atomic_load_n(&counter, __ATOMIC_RELAXED); }
