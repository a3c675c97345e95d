// Time use under real clocks: the engine plays games against itself at
// 10+0.1 and 1+0.01; every move's wall time (as a GUI sees it, pipes
// included) is compared with the hard limit the engine allotted itself.
#include <chrono>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "../tests/engine_process.h"
#include "timeman.h"
#include "util.h"

namespace {

struct Summary {
    int moves = 0;
    long worstOvershoot = -1000000;
    long worstOverSoft = -1000000;
    double usedFraction = 0;
};

void playGame(const char* program, int initialMs, int incrementMs, Summary& s) {
    EngineProcess p(program);
    std::string line;
    p.send("ucinewgame");
    p.send("isready");
    p.readUntil("readyok");
    // What the engine computes, move by move.
    GameClock game;
    EngineOptions options;
    TimeBudget budget;
    int clock[2] = {initialMs, initialMs};
    std::string moves;
    for (int ply = 0; ply < 150; ply++) {
        const int side = ply & 1;
        SearchLimits limits;
        limits.timeLeft[0] = clock[0];
        limits.timeLeft[1] = clock[1];
        limits.increment[0] = limits.increment[1] = incrementMs;
        game.movesPlayed = ply;
        budget = allocateTime(limits, side, game, options);
        p.send("position startpos" + (moves.empty() ? std::string() : " moves" + moves));
        const auto t0 = std::chrono::steady_clock::now();
        p.send("go wtime " + std::to_string(clock[0]) + " btime " + std::to_string(clock[1]) + " winc " +
               std::to_string(incrementMs) + " binc " + std::to_string(incrementMs));
        auto lines = p.readUntil("bestmove", 60000);
        const long used =
            (long)std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
        std::smatch m;
        if (lines.empty() || !std::regex_match(lines.back(), m, std::regex("bestmove (\\S+).*")) || m[1] == "a1a1")
            break;
        s.moves++;
        s.worstOvershoot = std::max(s.worstOvershoot, used - budget.hard);
        s.worstOverSoft = std::max(s.worstOverSoft, used - (long)budget.soft);
        s.usedFraction += (double)used / std::max(1, clock[side]);
        clock[side] -= (int)used;
        if (clock[side] < 0) {
            std::printf("  LOST ON TIME at ply %d\n", ply);
            break;
        }
        clock[side] += incrementMs;
        moves += " " + m[1].str();
    }
    p.send("quit");
    p.waitExit();
}

}  // namespace

int main(int argc, char** argv) {
    const char* program = argc > 1 ? argv[1] : "build/tarnwick";
    long long games = 2;
    if (argc > 2 && !parseInteger(argv[2], 1, 10000, games)) {
        std::fprintf(stderr, "usage: %s [program] [games per time control]\n", argv[0]);
        return 2;
    }
    const struct {
        const char* name;
        int initial, increment;
    } controls[] = {{"10+0.1", 10000, 100}, {"1+0.01", 1000, 10}};
    for (auto& c : controls) {
        Summary s;
        for (int g = 0; g < games; g++) playGame(program, c.initial, c.increment, s);
        std::printf(
            "%-7s %4d moves: largest overshoot of the hard limit %+ld ms (MoveOverhead 100), "
            "of the soft target %+ld ms; average share of the clock used per move %.1f%%\n",
            c.name, s.moves, s.worstOvershoot, s.worstOverSoft, 100.0 * s.usedFraction / std::max(1, s.moves));
    }
    return 0;
}
