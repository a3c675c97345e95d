// Helpers of the search tests: a position ready for the node search, and a
// whole search on the thread pool.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "movegen.h"
#include "search.h"
#include "test_support.h"
#include "threads.h"
#include "tt.h"

// A position ready for the node search: its own continuation tables, no
// clock, and a small cleared transposition table.
class SearchPosition {
  public:
    explicit SearchPosition(const std::string& fen)
        : tp_(fen), followUp_(new ContinuationTable[1]()), counter_(new ContinuationTable[1]()) {
        Position* p = tp_.get();
        p->followUpHistory = followUp_.get();
        p->counterMoveHistory = counter_.get();
        p->timeCheckCountdown = 1 << 30;
        searchControl.limits = SearchLimits();
        searchControl.limits.infinite = true;
        searchControl.stop.store(0);
        if (!ttBuckets || ttMask != 16383) ttAllocate(16384);
        ttClear(1);
        ttNewSearch();
        generateMovesLegal(0, p->plyStack[0].moveListStart, p);  // sets the root check flag
    }
    Position* operator->() { return tp_.get(); }
    Position* get() { return tp_.get(); }
    // The legal move of ply `ply` written `text`, unscored (NO_MOVE when
    // there is none).
    Move find(int ply, const char* text) {
        Position* p = tp_.get();
        generateMovesLegal(ply, p->plyStack[ply].moveListStart, p);
        for (Move* m = p->plyStack[ply].moveListStart; m < p->plyStack[ply].moveListEnd; m++) {
            if (moveToText(m, p->sideToMove) != text) continue;
            Move mv = *m;
            mv.score = 0;
            return mv;
        }
        return NO_MOVE;
    }
    // Make a legal move of ply `ply` as the search would.
    void play(int ply, const char* text) {
        Position* p = tp_.get();
        const Move mv = find(ply, text);
        if (!moveToWord(mv)) {
            ADD_FAILURE() << "no move " << text;
            return;
        }
        const int piece = p->board[mv.from];
        makeMove(p, ply, mv);
        p->plyStack[ply].currentMove = makeMoveWord(mv, piece);
        p->plyStack[ply + 1].inCheck = sideInCheck(p, p->sideToMove);
    }

  private:
    TestPosition tp_;
    std::unique_ptr<ContinuationTable[]> followUp_, counter_;
};

struct SearchResult {
    std::string best;
    int score;
};

// A whole search on the thread pool, one thread, to a fixed depth.
inline SearchResult searchTo(const std::string& fen, int depth) {
    if (threadPool.workers.size() != 1) threadPool.setThreads(1);
    if (!ttBuckets || ttMask != 16383) ttAllocate(16384);
    ttClear(1);
    threadPool.workers[0]->clearHistoryTables();
    TestPosition game(fen);
    SearchLimits limits;
    limits.depth = depth;
    TimeBudget budget;
    budget.soft = budget.hard = 1 << 30;
    budget.startMs = nowMs();
    threadPool.startSearch(game.get(), limits, budget, 1, true);
    threadPool.waitForSearch();
    return {moveToText(&threadPool.lastBestMove, game->sideToMove), threadPool.workers[0]->position.rootScore};
}

