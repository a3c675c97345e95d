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

// A position ready for the node search: a thread's search state of its own
// (move buffer, continuation tables, evaluation caches), no clock, and a
// small cleared transposition table.
class SearchPosition {
  public:
    explicit SearchPosition(const std::string& fen)
        : worker_(new SearchWorker()), moves_(new Move[MOVE_BUFFER_SIZE]), followUp_(new ContinuationTable[1]()),
          counter_(new ContinuationTable[1]()) {
        TestPosition game(fen);
        SearchWorker& w = *worker_;
        w.histories.followUp = followUp_.get();
        w.histories.counterMove = counter_.get();
        w.caches = testCaches();
        w.startFrom(*game.get(), game.game()->keys, moves_.get());
        w.timeCheckCountdown = 1 << 30;
        searchControl.limits = SearchLimits();
        searchControl.limits.infinite = true;
        searchControl.stop.store(0);
        if (!ttBuckets || ttMask != 16383) ttAllocate(16384);
        ttClear(1);
        ttNewSearch();
    }
    Position* operator->() { return &worker_->pos; }
    Position* get() { return &worker_->pos; }
    SearchWorker& worker() { return *worker_; }
    // The legal move written `text`, unscored (NO_MOVE when there is none).
    Move find(const char* text) {
        Move mv = findMove(get(), text);
        mv.score = 0;
        return mv;
    }
    // Make a move of the game before the search's root (kept in the keys
    // the repetition test reads); false when it is no legal move.
    bool playInGame(const std::string& text) {
        SearchWorker& w = *worker_;
        GameRecord game{w.pos, w.keys};
        if (!makeGameMoveText(&game, text, nullptr)) return false;
        w.pos = game.position;
        w.keys = game.keys;
        return true;
    }
    // Make a legal move at ply `ply` as the search would.
    void play(int ply, const char* text) {
        const Move mv = find(text);
        if (!moveToWord(mv)) {
            ADD_FAILURE() << "no move " << text;
            return;
        }
        SearchWorker& w = *worker_;
        makeSearchMove(w, ply, mv, w.pos.board[mv.from], w.stack[ply].moveList + MAX_MOVES);
    }

  private:
    std::unique_ptr<SearchWorker> worker_;
    std::unique_ptr<Move[]> moves_;
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
    threadPool.startSearch(game.get(), &game.game()->keys, limits, budget, 1, true);
    threadPool.waitForSearch();
    return {moveToText(&threadPool.lastBestMove, game->sideToMove), threadPool.workers[0]->worker.rootScore};
}
