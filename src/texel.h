// Texel error of the static evaluation.
//
// The "texel" command reads positions labelled with the result of the game
// they come from, maps each position's evaluation to an expected score with a
// logistic curve and reports the mean squared difference between expected and
// actual results.  The work is spread over a pool of tuning threads of its
// own, separate from the search threads.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "eval.h"
#include "parking.h"
#include "position.h"

// One labelled position: the FEN text and the game's result for White.
struct TexelPosition {
    std::string fen;
    double result;  // 1.0 White won, 0.5 draw, 0.0 otherwise
};

// Every position read so far, in file order (kept from one command to the next).
extern std::vector<TexelPosition> texelPositions;

constexpr int TEXEL_THREADS = 30;
extern const char* const TEXEL_FILE;

class TexelThread : public ThreadParking {
  public:
    explicit TexelThread(int index);
    ~TexelThread();
    // Sum of the squared errors of this thread's positions, into errorSum.
    void sumSquaredErrors();

    int32_t index;
    std::vector<TexelPosition> positions;
    std::thread thread;
    double errorSum = 0.0;
    Position position;
    Position* pos;
    EvalCaches caches;

  private:
    std::unique_ptr<PawnHashEntry[]> pawnHashTable_;
    std::unique_ptr<EvalCacheEntry[]> evalCache_;
    bool tablesCleared_ = false;

    void idleLoop();
};

class TexelThreadPool {
  public:
    std::vector<TexelThread*> workers;

    ~TexelThreadPool() { removeWorkers(); }
    // Wait until every thread is idle, then delete them, last one first.
    void removeWorkers();
    // Replace the pool by `n` fresh threads (each parked when this returns).
    void createWorkers(int n);
    // Give thread i its share of texelPositions.
    void sharePositions();
    // Mean squared error over all of texelPositions.
    double meanSquaredError();
};

extern TexelThreadPool texelThreads;

// The expected score for White of a position that evaluates to `e`
// centipawns from White's side.
double texelExpectedScore(int e);
// The result of the word that follows "c9": 1.0, 0.5 or 0.0.
double texelResult(std::string_view word);
// Splits one line of the tuning file into FEN and result.  False when the
// line holds no position: "c9" missing, nothing after it, or no FEN before it.
bool texelSplitLine(std::string_view line, TexelPosition& out);
// Reads every line of a tuning file, appends the positions whose FEN the
// engine accepts to `out` and sets `skipped` to the number of lines that hold
// none.  False, with nothing appended, when the file cannot be read.
bool texelReadFile(std::istream& in, std::vector<TexelPosition>& out, size_t& skipped);
// The share of thread i (of TEXEL_THREADS) among n positions.
void texelShare(size_t n, int i, size_t& first, size_t& count);
// The measurement of the "texel" command: reads the tuning file, hands the
// positions to a fresh pool of tuning threads and prints the error.  The
// caller has stopped any search and set up the engine's tables.
void measureTexelError();
// End the tuning threads (at program end).
void endTexelThreads();
