// The search: node search, quiescence, exchange test, move ordering, the
// root search and the pool of search threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "parking.h"
#include "tarnwick.h"

// Setting up a position from FEN (the reader lives in search.cpp, before the
// search).  setPosition trusts its text: check it with validateFen first.
void setPosition(std::string fen, positionStruct* pos);
// Checks a FEN before it is given to setPosition; returns an empty string when
// the text describes a position the engine can work with, else the reason.
std::string validateFen(const std::string& fen);

int alfabeta(unsigned char ply, int depth, int alpha, int beta, positionStruct* pos);
int quiescence(unsigned char ply, int depth, int alpha, int beta, positionStruct* pos);
bool seeNotLosing(const positionStruct* pos, moveStruct move);
// Static exchange test against a threshold: does the capture gain at least
// `threshold` by seeValue once the exchange on its square is played out?
bool seeAtLeast(const positionStruct* pos, moveStruct move, int threshold);
// Is the remembered move (piece code in byte 3) playable on the board of this
// ply?  Killers and counter moves must also be quiet.
bool moveIsPseudoLegal(const positionStruct* pos, int ply, uint32_t move, bool quietOnly);
void getPVFromHashTable(positionStruct* pos, int depth);

extern const int16_t seeValue[16];

// The continuation-history blocks of a node: keyed by the previous move and
// by the move two plies back (absent after a null move or near the root).
struct continuation {
    continuationBlock* counter = nullptr;
    continuationBlock* followUp = nullptr;
};
continuation continuationBlocks(positionStruct* pos, int ply);

// Room for the history scores of a node's quiet moves: more pseudo-legal
// quiet moves than this never occur in a reachable position, and a longer
// list is simply scored afresh at every pick.
constexpr int QUIET_SCORE_CAPACITY = 256;

struct pickerContext {
    continuation cont;
    bool sortOff = false;  // root of every fourth helper: generation order
    bool lmpSkip = false;  // late-move pruning has begun: quiets unsorted, only checks handed out
    // The quiet moves' history scores, kept in step with the quiet list
    // (entry i belongs to quietListStart[i]); valid while no history has been
    // written since they were taken.  Without a buffer the picker scores the
    // moves afresh at every pick.
    int32_t* quietScores = nullptr;
    bool quietScoresValid = false;
    uint32_t quietScoresWrites = 0;
};

// The staged move picker: the next move of the node (its stage in
// plyStack[ply].moveStage), or nullptr when none is left; *stage receives the
// stage that delivered it.  Moves are pseudo-legal outside check.
moveStruct* nextMove(positionStruct* pos, int ply, pickerContext& pc, int* stage);

// Counters read by other threads while a search runs are written with
// relaxed atomic stores by their owner.
inline void relaxedIncrement(U64& counter) { __atomic_store_n(&counter, counter + 1, __ATOMIC_RELAXED); }
inline U64 relaxedRead(const U64& counter) { return __atomic_load_n(&counter, __ATOMIC_RELAXED); }

// ---------------------------------------------------------------------------
// Search threads
// ---------------------------------------------------------------------------
class worker : public threadParking {
  public:
    explicit worker(int index);
    virtual ~worker();
    virtual void searchRoot();

    moveStruct moveStack[MOVE_BUFFER_SIZE];
    continuationTable followUpTable;
    continuationTable counterMoveTable;
    pawnHashEntry pawnHashTable[PAWN_HASH_ENTRIES];
    evalCacheEntry evalCache[EVAL_CACHE_ENTRIES];
    int32_t threadIndex;
    std::atomic<int32_t> currentDepth{0};
    // Depth of the last iteration this thread completed in the current search
    // (0: none yet); read by the boss once the thread is idle.
    int32_t completedDepth = 0;
    std::thread thread;
    positionStruct position;
    positionStruct* searchPos;

    // Link the private position to this worker's storage (after a copy).
    void linkPosition();
    void clearHistoryTables();

  protected:
    // The result of one iteration's aspiration loop.
    struct iteration {
        int score = 0;
        int failsLow = 0, failsHigh = 0;
        bool complete = false;  // a score inside the window was found
    };
    // Searches depth d around the previous score s; alpha, beta and the
    // fail-high reduction k carry over between iterations.
    iteration aspirationSearch(int d, int s, int& alpha, int& beta, int& k, bool clockWatch, double scaleAtStart);
    // The depth a helper searches after next - 1: some helpers jump ahead,
    // each by its own pattern, so that the threads spread over the depths.
    int helperDepth(int next) const;
    // Are enough other threads at this depth already for a helper to skip it?
    bool othersAreAt(int depth, int need) const;

  private:
    void atTheOffice();
};

class boss : public worker {
  public:
    explicit boss(int index) : worker(index) {}
    void searchRoot() override;
    moveStruct savedBestMove = EMPTYMOVE;
    moveStruct savedPonderMove = EMPTYMOVE;
    // A line with a score (info, mate or tablebase line) has been printed in
    // this search; GUIs read the score and PV from it, so every search prints
    // one before its "bestmove".
    bool scoreReported = false;

    // The mate the root search claims is proven before it is announced; the
    // proof of the last claim is kept, since the following iterations usually
    // repeat it.
    struct mateVerdict {
        int claim = 0;     // claimed mate in moves (negative: mated), 0 none
        int proven = 0;    // proven mate in moves, 0 when not proven
        moveStruct move = EMPTYMOVE;  // first move of a proven shorter mate
    } lastMate;
    // Announce the root's mate score `s` if it can be proven: the proven
    // mate in moves (negative when the side to move is mated), or 0.
    int provenRootMate(int s);

    // The root needs no search: checkmated, or a tablebase position.
    bool settledAtTheRoot(int rootMoves);
    // Rebuild the PV of an iteration and print its line.
    void reportIteration(int s, int d);
    // Announce a mate the iteration found, if it can be proven; true when
    // that ends the search.
    bool mateEndsSearch(int s, int d, bool pvRebuilt);

  private:
    void printFinalReport(moveStruct bestMove);
};

class workForce {
  public:
    std::vector<worker*> workers;
    std::atomic<uint8_t> stopSearch{0};
    // "stop", "quit" or a "ponderhit" after the search has finished: the GUI
    // wants the answer now.  A search may end by itself (a depth limit, a
    // single legal move, a proven mate) and sets only stopSearch; a ponder
    // or infinite search then still holds its answer until this is set.
    std::atomic<uint8_t> stopCommanded{0};
    // The search has given its answer ("bestmove" printed, or left in
    // lastBestMove): its thread may still be winding down, but a "stop" can
    // no longer be meant for it.  Set before the answer goes out.
    std::atomic<uint8_t> answered{0};
    std::atomic<uint8_t> pondering{0};
    std::atomic<uint8_t> searchFinished{0};
    std::atomic<int32_t> maxDepthReached{0};
    std::atomic<U64> totalTbHits{0};
    // Nodes of the running search, gathered at the clock checks; used by the
    // "go nodes" limit.
    std::atomic<U64> nodesCounted{0};
    // Set by "bench": the search prints nothing and leaves its move here.
    bool silent = false;
    // Set by "go" when the last "position" was rejected: there is nothing to
    // search, and the answer is the null move "0000".
    bool noPosition = false;
    moveStruct lastBestMove = EMPTYMOVE;

    void setNofWorkers(int n);
    // Wait until the boss has finished the running search (if any).
    void waitForSearch();
    bool searching();
    // The GUI's stop: end the running search and have it answer.
    void commandStop();
    // Copy the game position to every worker and start the boss.
    void startSearch();
};

extern workForce theWorkForce;

// Sum of the node counters of every worker (may be slightly stale while a
// search runs).
U64 totalNodes();
