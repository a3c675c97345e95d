// Time management: budgets worked out by hand.
#include <gtest/gtest.h>

#include "timeman.h"
#include "types.h"

namespace {

// Budgets worked out by hand from the allocation rules.  Sudden death: no
// "movestogo"; the moves still to come are estimated from the game's length
// and stretched by the increment factor, set on a game's first move from the
// clock-to-increment ratio.
TEST(TimeAllocation, WorkedExamples) {
    struct {
        const char* what;
        int time, inc, movesToGo, played, threads;  // movesToGo 0: not given
        bool newGame;
        float factor;     // increment factor when not a new game
        int normal, max;  // expected budgets
        float timeFactor;
    } cases[] = {
        // 60 s, no increment, first move: q = 60000 clamps to 360, factor
        // 1.75, m = 40, m' = 70; total 60000; 0.66 x 1500 = 990; min(4950, 29950).
        {"sudden death", 60000, 0, 0, 0, 1, true, 0, 990, 4950, 1.0f},
        // 60 s + 1 s: q = 60 clamps to 100, factor 1.37; m' = trunc(54.8) = 54;
        // total 53 x 1000 + 60000 = 113000; 113000 / 40 = 2825; 0.66 x 2825.
        {"sudden death, increment", 60000, 1000, 0, 0, 1, true, 0, 1864, 9320, 1.0f},
        // q = 200: factor 1.37 + 100 x 0.0014615385 = 1.5161538; m' = 60;
        // total 59 x 300 + 60000 = 77700; 77700 / 40 = 1942; 0.66 x 1942 = 1281.7.
        {"ratio between the bounds", 60000, 300, 0, 0, 1, true, 0, 1281, 6405, 1.0f},
        // Move 30 of a game (m = 25) with the factor kept from its start:
        // m' = trunc(34.25) = 34; total 33 x 500 + 30000 = 46500; / 25 = 1860.
        {"middle game", 30000, 500, 0, 60, 1, false, 1.37f, 1227, 6135, 1.0f},
        // Many threads plan with 0.72 of the share: 0.72 x 1860 = 1339.2.
        {"many threads", 30000, 500, 0, 60, 4, false, 1.37f, 1339, 6695, 1.0f},
        // 105 ms, 100 of them overhead: 105 / 22 = 4; 0.66 x 4 = 2.6 -> 2;
        // 5 / 2 <= 3 is short: both halve (1, 1) and the hard limit is then
        // raised to normal + 1; elapsed time counts five times.
        {"short of time", 105, 0, 0, 20, 1, false, 1.37f, 1, 2, 5.0f},
        // 40 moves in 60 s: 0.73 x 0.9 x 1500 = 985.5; min(4925, 0.5 x 59900).
        {"moves to go", 60000, 0, 40, 0, 1, true, 0, 985, 4925, 1.0f},
        // The last move before the control: total - overhead.
        {"last move of the control", 60000, 0, 1, 0, 1, true, 0, 39420, 59900, 1.0f},
    };
    for (auto& c : cases) {
        SearchLimits limits;
        limits.timeLeft[WHITE] = c.time;
        limits.increment[WHITE] = c.inc;
        limits.movesToGoGiven = c.movesToGo != 0;
        limits.movesToGo = c.movesToGo ? c.movesToGo : 30;
        GameClock game;
        game.movesPlayed = c.played;
        game.newGame = c.newGame;
        if (!c.newGame) game.incrementFactor = c.factor;
        EngineOptions options;
        options.threads = c.threads;
        const TimeBudget b = allocateTime(limits, WHITE, game, options);
        EXPECT_EQ(b.soft, c.normal) << c.what;
        EXPECT_EQ(b.hard, c.max) << c.what;
        EXPECT_EQ(b.elapsedFactor, c.timeFactor) << c.what;
    }
}

}  // namespace
