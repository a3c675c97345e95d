// Time allocation.
#include "timeman.h"

#include <algorithm>
#include <climits>

namespace {

// Time allocation.  The soft target of a move is a share of the time per move:
// the clock plus the increments still to come, spread over the moves to go.
// The hard limit is a multiple of the target, capped by a share of the clock.

// More than this many threads count as many: they reach a depth sooner and
// are given a larger share.
constexpr int MANY_THREADS = 3;
// Share of the time per move in sudden death (no "movestogo"), with few and
// with many threads; and before a time control.
constexpr double SUDDEN_DEATH_SHARE = 0.66, SUDDEN_DEATH_SHARE_MANY = 0.72;
constexpr double CONTROL_SHARE = 0.73, CONTROL_SHARE_MANY = 0.8;
// Before a time control the opening (to this game ply) is played a little
// faster and the early middle game a little slower.
constexpr int OPENING_PLIES = 17, EARLY_MIDDLE_PLIES = 50;
constexpr double OPENING_SHARE = 0.9, EARLY_MIDDLE_SHARE = 1.1;
// In sudden death, the moves still to play as the game goes on: a game ply
// up to which a count holds, and the count; later in the game, the last one.
struct MovesToGoByStage {
    int upToPly;
    int movesToGo;
};
constexpr MovesToGoByStage SUDDEN_DEATH_MOVES[] = {{OPENING_PLIES, 40}, {EARLY_MIDDLE_PLIES, 22}, {80, 25}, {200, 20}};
constexpr int ENDGAME_MOVES_TO_GO = 15;
// A game set up from a FEN without its history: the stage is unknown, so
// plan for this many moves to go and take a larger share of each.
constexpr int UNKNOWN_STAGE_MOVES_TO_GO = 30;
constexpr double UNKNOWN_STAGE_SHARE = 1.4;
// In sudden death the increments still to come are counted for more moves
// than the moves to go: 1.37 times as many when the clock holds at most 100
// increments, rising by the step per increment to 1.75 times at 360 and more.
// Fixed at the first "go" of a game.
constexpr int64_t INCREMENT_RATIO_MIN = 100, INCREMENT_RATIO_MAX = 360;
constexpr float INCREMENT_STRETCH_MIN = 1.37f;
constexpr double INCREMENT_STRETCH_STEP = 0.0014615385;
// With pondering the opponent's time is used too, so each move may take more.
constexpr double PONDER_SHARE = 1.1;
// The hard limit: this many soft targets, but at most a share of the clock
// (a larger share for the last move before a time control).
constexpr double HARD_LIMIT_TARGETS = 5.0;
constexpr double HARD_LIMIT_CLOCK_SHARE = 0.5, LAST_MOVE_CLOCK_SHARE = 0.9;
// Short of time: when the clock holds no more than this many soft targets,
// both budgets are halved and the elapsed time counts this many times over
// at the end of each iteration.
constexpr int64_t SHORT_CLOCK_TARGETS = 3;
constexpr float SHORT_CLOCK_TIME_FACTOR = 5.0f;
// Four moves before a time control the hard limit is at least this long.
constexpr int64_t FOUR_TO_GO_MIN_HARD_MS = 40;
// With a fixed move time the soft target lies far beyond it, so that only
// the hard limit, the move time itself, ends the search.
constexpr int64_t MOVETIME_SOFT_MULTIPLE = 10;

int64_t clamp32(double v) { return (int64_t)std::min<double>(std::max<double>(v, (double)INT_MIN), (double)INT_MAX); }

// From this depth on the time scale follows the root's instability.
constexpr int SCALE_DEPTH = 6;
// The soft time is stretched for an unstable root and shrunk for a steady
// one: each unstable iteration pulls the scale towards 1 + 0.2 per change
// of the best move (and per extra fail), each steady one takes 10% off.
constexpr double STEADY_ROOT_SHRINK = 0.9;
constexpr double INSTABILITY_WEIGHT = 0.2;
constexpr double SCALE_MEMORY = 0.8;
constexpr double SCALE_MIN = 0.6, SCALE_MAX = 2.0;

}  // namespace

TimeBudget allocateTime(const SearchLimits& limits, int side, GameClock& game, const EngineOptions& options) {
    TimeBudget budget;
    const int64_t timeLeft = limits.timeLeft[side];
    const int64_t increment = limits.increment[side];
    const int movesPlayed = game.movesPlayed;
    const int64_t overhead = options.moveOverhead;
    const bool many = options.threads > MANY_THREADS;
    double f;
    int m;
    double r;
    if (!limits.movesToGoGiven) {
        f = many ? SUDDEN_DEATH_SHARE_MANY : SUDDEN_DEATH_SHARE;
        if (movesPlayed == MOVES_PLAYED_UNKNOWN) {
            m = UNKNOWN_STAGE_MOVES_TO_GO;
            f *= UNKNOWN_STAGE_SHARE;
        } else {
            m = ENDGAME_MOVES_TO_GO;
            for (const MovesToGoByStage& stage : SUDDEN_DEATH_MOVES) {
                if (movesPlayed <= stage.upToPly) {
                    m = stage.movesToGo;
                    break;
                }
            }
        }
        r = HARD_LIMIT_CLOCK_SHARE;
    } else {
        f = many ? CONTROL_SHARE_MANY : CONTROL_SHARE;
        if (movesPlayed <= OPENING_PLIES)
            f *= OPENING_SHARE;
        else if (movesPlayed <= EARLY_MIDDLE_PLIES)
            f *= EARLY_MIDDLE_SHARE;
        // A count of moves to go below one would divide by zero; it means the
        // time control is about to end, so plan as for the last move.
        m = std::max(limits.movesToGo, 1);
        r = m == 1 ? LAST_MOVE_CLOCK_SHARE : HARD_LIMIT_CLOCK_SHARE;
    }
    if (game.newGame) {
        int64_t q = timeLeft / std::max<int64_t>(increment, 1);
        q = std::min<int64_t>(std::max<int64_t>(q, INCREMENT_RATIO_MIN), INCREMENT_RATIO_MAX);
        game.incrementFactor = INCREMENT_STRETCH_MIN +
                               (float)((double)(q - INCREMENT_RATIO_MIN) * INCREMENT_STRETCH_STEP);
        game.newGame = false;
    }
    if (options.ponder) f *= PONDER_SHARE;
    budget.elapsedFactor = 1.0f;
    const int64_t mPrime = limits.movesToGoGiven ? m : (int64_t)((float)m * game.incrementFactor);
    const int64_t total = (mPrime - 1) * increment + timeLeft;
    const int64_t avail = timeLeft - overhead;
    int64_t timeNormal = clamp32(std::max(f * (double)(total / m), 1.0));
    int64_t timeMax = m == 1 ? total - overhead
                             : clamp32(std::min(HARD_LIMIT_TARGETS * (double)timeNormal, r * (double)avail));
    if (!limits.movesToGoGiven) {
        if (avail / timeNormal <= SHORT_CLOCK_TARGETS) {
            budget.elapsedFactor = SHORT_CLOCK_TIME_FACTOR;
            timeNormal /= 2;
            timeMax /= 2;
        }
    } else if (m == 4 && timeMax < FOUR_TO_GO_MIN_HARD_MS) {
        timeMax = FOUR_TO_GO_MIN_HARD_MS;
    }
    if (limits.moveTime != 0) {
        timeNormal = MOVETIME_SOFT_MULTIPLE * (int64_t)limits.moveTime;
        timeMax = limits.moveTime;
    } else {
        timeMax = std::max(timeNormal + 1, std::min(timeMax, avail));
    }
    budget.soft = (int32_t)std::min<int64_t>(std::max<int64_t>(timeNormal, INT_MIN), INT_MAX);
    budget.hard = (int32_t)std::min<int64_t>(std::max<int64_t>(timeMax, INT_MIN), INT_MAX);
    return budget;
}

double nextTimeScale(double scale, int depth, int instability) {
    if (depth < SCALE_DEPTH) return 1.0;
    if (instability <= 1)
        scale *= STEADY_ROOT_SHRINK;
    else if (scale <= 1.0)
        scale = 1.0 + INSTABILITY_WEIGHT * instability;
    else
        scale = SCALE_MEMORY * scale + INSTABILITY_WEIGHT * instability;
    return std::min(SCALE_MAX, std::max(SCALE_MIN, scale));
}
