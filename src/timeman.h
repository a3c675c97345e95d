// Time management: the limits of a search as "go" gives them, the soft and
// hard time budgets worked out from the clock, and the tests against them.
#pragma once

#include <cstdint>

#include "options.h"
#include "util.h"

// The limits of one search: the words of "go".
struct SearchLimits {
    int32_t timeLeft[2] = {900000, 900000};  // wtime, btime
    int32_t increment[2] = {0, 0};           // winc, binc
    int32_t movesToGo = 30;
    bool movesToGoGiven = false;
    int32_t depth = 0;     // 0: no depth limit
    uint64_t nodes = 0;    // 0: no node limit
    int32_t mate = 0;      // mate in this many moves or fewer, 0: none
    int32_t moveTime = 0;  // 0: none
    bool infinite = false;
    bool ponder = false;
};

// The movesPlayed of a game set up from a FEN whose earlier moves are
// unknown: the time allocation then cannot tell the stage of the game.
constexpr int32_t MOVES_PLAYED_UNKNOWN = 1024;

// What the allocation carries from one move of a game to the next.
struct GameClock {
    int32_t movesPlayed = 0;        // half-moves of the game so far
    bool newGame = true;            // no "go" of this game yet
    float incrementFactor = 1.37f;  // fixed at the first "go" of a game
};

// The budgets of one search.
struct TimeBudget {
    int64_t startMs = 0;         // the clock when "go" arrived
    int32_t soft = 0;            // the target: no new iteration once it has passed
    int32_t hard = 0;            // the limit: the search stops when it is reached
    float elapsedFactor = 1.0f;  // elapsed time counts this many times at the soft test
};

// Soft and hard budgets of the next search for `side`, from the clock words
// of `limits`, the game so far and the options (move overhead, thread count,
// ponder).
TimeBudget allocateTime(const SearchLimits& limits, int side, GameClock& game, const EngineOptions& options);

// Milliseconds since the search started.
inline int64_t elapsedMs(const TimeBudget& b) { return nowMs() - b.startMs; }
// Has the hard limit been reached?
inline bool hardLimitReached(const TimeBudget& b) { return elapsedMs(b) >= b.hard; }
// Has the soft target, stretched by `scale`, passed after `elapsed` ms?
inline bool softLimitPassed(const TimeBudget& b, uint64_t elapsed, double scale) {
    return (float)elapsed * b.elapsedFactor > b.soft * scale;
}

// The scale of the soft target after an iteration: stretched for an
// unstable root (changes of the best move, repeated fails), shrunk for a
// steady one.
double nextTimeScale(double scale, int depth, int instability);
