// The node search: alpha-beta with its pruning, extensions and reductions,
// the quiescence search, and the principal variation rebuilt from the
// transposition table.  Every search thread runs these on its own position;
// what they share is the table and the control block below.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "eval.h"
#include "movepick.h"
#include "position.h"
#include "timeman.h"
#include "tt.h"

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

// ---------------------------------------------------------------------------
// The search state of a thread
// ---------------------------------------------------------------------------
// Everything one thread's node search works on: its own copy of the position
// and of the game's keys, the stack of the line being searched, the
// histories, the evaluation caches and the counters the other threads read.
// A search starts with startFrom, which says what is new at each "go" and
// what is kept.
struct SearchWorker {
    Position pos;
    KeyHistory keys;
    SearchPly stack[MAX_PLY + 1];
    Histories histories;
    EvalCaches caches;
    // Read by the main thread while the search runs (relaxedRead).
    uint64_t nodeCount;
    uint64_t quiescenceNodeCount;
    uint64_t tbHits;
    // Nodes of this thread already added to the search's shared count for
    // the "go nodes" limit; zero at the start of every search.
    uint64_t nodesReported;
    int32_t timeCheckCountdown;
    uint32_t threadIndex;
    // Root bookkeeping: how often the best move changed in this iteration,
    // the depth that found it, whether that depth was completed, its score.
    uint16_t rootBestMoveChanges;
    int16_t rootBestMoveDepth;
    uint8_t rootDepthComplete;
    int16_t rootScore;
    uint8_t selDepth;
    // The PV is stack[0..pvLastIndex].pvMove.
    uint8_t pvLastIndex;

    // A new search of `position` after the game's `gameKeys`, with moves
    // written from `moveBuffer` on.  New for every search: the position,
    // the keys, the stack (killers included), the history and counter-move
    // tables and the counters.  Kept: the continuation tables and the
    // evaluation caches, which the thread owns and `histories` and `caches`
    // point at.
    void startFrom(const Position& position, const KeyHistory& gameKeys, Move* moveBuffer);
};

// Make a move as the node search does, in one step: make it on the board,
// add the new key to the line's keys, record it at this ply (for the
// children's counter move and histories), set the child's check flag, and
// give the child its move space (`childList`: behind everything this node
// still needs of its own list).  unmakeSearchMove takes it back.  The
// child's table bucket is the caller's to fetch, before the move is made
// (ttPrefetch of keyAfterGuess): fetched that early, it has mostly arrived
// by the time the child reads it.
inline void makeSearchMove(SearchWorker& w, int ply, Move m, int piece, Move* childList) {
    makeMove(&w.pos, m, w.stack[ply].saved);
    w.keys.push(w.pos.hashKey);
    w.stack[ply].currentMove = makeMoveWord(m, piece);
    w.pos.inCheck = sideInCheck(&w.pos, w.pos.sideToMove);
    w.stack[ply + 1].moveList = childList;
}

inline void unmakeSearchMove(SearchWorker& w, int ply, Move m) {
    w.keys.pop();
    unmakeMove(&w.pos, m, w.stack[ply].saved);
}

int alphaBeta(SearchWorker& w, int ply, int depth, int alpha, int beta);
int quiescence(SearchWorker& w, int ply, int depth, int alpha, int beta);
// The PV of a search to `depth`, move by move from the table, into the
// stack's pvMove (pvLastIndex is its last ply); it ends where the game
// would: at a repetition or a fifty-move draw.
void getPVFromHashTable(SearchWorker& w, int depth);
// The PV as text.
std::string pvToText(const SearchWorker& w);

// Counters read by other threads while a search runs are written with
// relaxed atomic stores by their owner.
inline void relaxedIncrement(uint64_t& counter) { __atomic_store_n(&counter, counter + 1, __ATOMIC_RELAXED); }
inline uint64_t relaxedRead(const uint64_t& counter) { return __atomic_load_n(&counter, __ATOMIC_RELAXED); }
