// The search threads: a pool of long-lived threads, each with its own
// search state, move buffer, histories and evaluation caches, that sleep between
// searches.  Thread 0, the main thread, runs the root search like the others
// and also decides when to stop, prints the "info" lines and the "bestmove".
// The command loop hands a search over with the position and the limits; the
// pool's flags are how "stop", "ponderhit" and "quit" reach a running search.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "eval.h"
#include "parking.h"
#include "position.h"
#include "search.h"
#include "timeman.h"

// ---------------------------------------------------------------------------
// Search threads
// ---------------------------------------------------------------------------
class SearchThread : public ThreadParking {
  public:
    explicit SearchThread(int index);
    virtual ~SearchThread();
    // One search: the helpers deepen until the search stops; the main
    // thread (MainThread) also runs the search as a whole.
    virtual void searchRoot();

    Move moveStack[MOVE_BUFFER_SIZE];
    ContinuationTable followUpTable;
    ContinuationTable counterMoveTable;
    PawnHashEntry pawnHashTable[PAWN_HASH_ENTRIES];
    EvalCacheEntry evalCache[EVAL_CACHE_ENTRIES];
    int32_t threadIndex;
    // The system gave the thread (else the object is deleted unused).
    bool started = false;
    std::atomic<int32_t> currentDepth{0};
    // Depth of the last iteration this thread completed in the current search
    // (0: none yet); read by the main thread once the thread is idle.
    int32_t completedDepth = 0;
    // Legal moves at the root of the current search.
    int32_t rootMoveCount = 0;
    std::thread thread;
    // The thread's search state, linked to the tables above.
    SearchWorker worker;

    void clearHistoryTables();

  protected:
    // The result of one iteration's aspiration loop.
    struct Iteration {
        int score = 0;
        int failsLow = 0, failsHigh = 0;
        bool complete = false;  // a score inside the window was found
    };
    // Searches `depth` around the previous score; the window and the
    // fail-high reduction carry over between iterations.
    Iteration aspirationSearch(int depth, int previousScore, int& alpha, int& beta, int& failHighReduction,
                               bool clockWatch, double scaleAtStart);
    // Iterative deepening at the root, as every thread does it; what only
    // the main thread does comes through the hooks below.
    void deepen();

    // The root needs no search (checkmate, stalemate, a tablebase root).
    virtual bool rootSettled(int /*rootMoves*/) { return false; }
    // The depth after `depth`: some helpers jump ahead, each by its own
    // pattern, so that the threads spread over the depths.
    virtual int nextDepth(int depth) const;
    // Leave this depth to the threads already at it (helpers only).
    virtual bool leavesDepthToOthers(int depth, int need) const;
    // May stop the search after a fail high once the soft time is gone.
    virtual bool watchesClock() const { return false; }
    // Prints this iteration's line (and stores the root in the table).
    virtual bool reportsDepth(int /*depth*/) const { return false; }
    // The end of an iteration with `score` at `depth`: true when it ends
    // the search (a proven mate).
    virtual bool endOfIteration(int /*score*/, int /*depth*/, bool /*output*/) { return false; }
    // Decides on every depth whether to go on; a helper only on a depth that
    // is a new record.
    virtual bool decidesEveryDepth() const { return false; }

  private:
    void idleLoop();
};

class MainThread : public SearchThread {
  public:
    explicit MainThread(int index) : SearchThread(index) {}
    void searchRoot() override;
    Move savedBestMove = NO_MOVE;
    Move savedPonderMove = NO_MOVE;
    // A line with a score (info, mate or tablebase line) has been printed in
    // this search; GUIs read the score and PV from it, so every search prints
    // one before its "bestmove".
    bool scoreReported = false;

    // The mate the root search claims is proven before it is announced; the
    // proof of the last claim is kept, since the following iterations usually
    // repeat it.
    struct MateVerdict {
        int claim = 0;        // claimed mate in moves (negative: mated), 0 none
        int proven = 0;       // proven mate in moves, 0 when not proven
        Move move = NO_MOVE;  // first move of a proven shorter mate
    } lastMate;
    // Announce the root's mate score `s` if it can be proven: the proven
    // mate in moves (negative when the side to move is mated), or 0.
    int provenRootMate(int s);

    bool settled = false;
    // Finish depth 1 after a search stopped before it.
    void completeFirstDepth();
    // The end of the main thread's iteration at `depth` with `score`: its
    // line (`output`), or the mate line of a mate it found and proved.
    // Returns the proven mate in moves, 0 when there is none.
    int reportIteration(int score, int depth, bool output);
    // Does the proven mate end the search (under its limits)?
    bool mateEndsSearch(int mate) const;

  protected:
    bool rootSettled(int rootMoves) override;
    bool settleRoot(int rootMoves);
    int nextDepth(int depth) const override { return depth + 1; }
    bool leavesDepthToOthers(int, int) const override { return false; }
    bool watchesClock() const override { return true; }
    bool reportsDepth(int depth) const override;
    bool endOfIteration(int score, int depth, bool output) override;
    bool decidesEveryDepth() const override { return true; }

  private:
    // The thread whose result is played (helpers may have searched deeper).
    SearchThread* chooseBestThread();
    void printFinalReport(Move bestMove);
};

class ThreadPool {
  public:
    std::vector<SearchThread*> workers;
    // workers[0], as the main thread it is (nullptr with no threads).
    MainThread* mainThread = nullptr;
    // "stop", "quit" or a "ponderhit" after the search has finished: the GUI
    // wants the answer now.  A search may end by itself (a depth limit, a
    // single legal move, a proven mate) and sets only the stop flag; a ponder
    // or infinite search then still holds its answer until this is set.
    std::atomic<uint8_t> stopCommanded{0};
    std::atomic<uint8_t> searchFinished{0};
    // The running search has given its answer ("bestmove"); its threads may
    // still be on their way to sleep.
    std::atomic<uint8_t> answered{0};
    std::atomic<int32_t> maxDepthReached{0};
    std::atomic<uint64_t> totalTbHits{0};
    // Milliseconds since the search started, as the main thread last read
    // the clock.
    std::atomic<uint64_t> elapsedMs{0};
    // The threads taking part in the running search: the first ones.
    int threadsInSearch = 1;
    // The search prints nothing and leaves its move in lastBestMove (bench).
    bool silent = false;
    // The last "position" was rejected: there is nothing to search, and the
    // answer is the null move "0000".
    bool noPosition = false;
    Move lastBestMove = NO_MOVE;

    // The threads of the running (or last) search.
    struct Range {
        SearchThread* const* first;
        SearchThread* const* last;
        SearchThread* const* begin() const { return first; }
        SearchThread* const* end() const { return last; }
    };
    Range searchThreads() const { return {workers.data(), workers.data() + threadsInSearch}; }

    // Replace the threads by `n` fresh ones (waits for a running search);
    // fewer when the memory (or address space) left beside the table does
    // not hold `n`, or the system gives no more threads.  Returns how many
    // there are.
    int setThreads(int n);
    // How many threads of `wanted` the memory left beside the table holds
    // (at least one), with no threads in the pool.
    int threadsThatFit(int wanted) const;
    // Memory the threads of the pool take.
    uint64_t memoryBytes() const;
    // Wait until the main thread has finished the running search (if any).
    void waitForSearch();
    bool searching();
    // The running search is an infinite or pondering one, which would not
    // end by itself.
    bool searchingWithoutEnd();
    // The GUI's stop: end the running search and have it answer.
    void commandStop();
    // The GUI's ponderhit: the move pondered on was played.
    void ponderhit();
    // Clear every thread's histories (a new game).
    void clearHistories();
    // Start a search of `position`, reached after the positions of `keys`
    // (nullptr: there is no valid position, and the answer is "bestmove
    // 0000") under `limits` and `budget`, with the first `threads` threads of
    // the pool (0: all of them); a `silent` search prints nothing.  Each
    // thread searches its own copy of the position.
    void startSearch(const Position* position, const KeyHistory* keys, const SearchLimits& limits,
                     const TimeBudget& budget, int threads = 0, bool silent = false);
};

extern ThreadPool threadPool;

// Sum of the node counters of the threads of the search (may be slightly
// stale while a search runs).
uint64_t totalNodes();
