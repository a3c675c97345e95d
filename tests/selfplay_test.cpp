// Fast games of Tarnwick against itself through its UCI interface, refereed
// with Tarnwick's own legal move generator: any illegal move, crash, hang or
// loss on time fails the test.
//
// A clock of two seconds leaves no room for a machine that hands the engine
// a fraction of a processor: every engine loses on time then.  So the
// referee charges each move with the engine's own time: the wall-clock time
// less the time the engine was kept waiting for a processor that other
// programs held (the scheduler counts it for every thread), which is given
// back.  On a quiet machine that is the wall-clock time.  An engine that
// computes longer than its clock allows loses whatever the machine's load,
// since the processor time it used alone exceeds its clock.
// bench/timeforfeit plays these games on the wall clock alone, for a quiet
// machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>
#include <regex>
#include <thread>

#include "engine_process.h"
#include "test_support.h"
#include "uci.h"

namespace {

// Every move charged with its wall-clock time (bench/timeforfeit, on a quiet
// machine).
const bool STRICT_CLOCK = std::getenv("TARNWICK_SELFPLAY_STRICT") != nullptr;

struct Player : EngineProcess {
    Player(const std::vector<std::string>& options, int threads_, double overrun_ = 0)
        : EngineProcess(TARNWICK_BIN), threads(threads_), overrun(overrun_) {
        for (auto& o : options) send(o);
        send("setoption name Threads value " + std::to_string(threads));
        send("isready");
        readUntil("readyok");
    }
    // The processors its search threads can have.
    int cores() const { return std::max(1, std::min(threads, (int)std::thread::hardware_concurrency())); }
    int threads;
    // The referee's own test: a player whose time check is broken, searching
    // until it has used `overrun` times its clock in processor time.
    double overrun;
};

struct Tally {
    int moves = 0;
    long leastLeftMs = 1L << 30;  // on any clock after a move
    double leastShare = 1e9;      // of its processors an engine had, on a move of 50 ms or more
    long givenBackMs = 0;         // waits for a processor, not charged
};

// One game; returns a failure description or "".
std::string playGame(Player& white, Player& black, const std::vector<std::string>& opening, int initialMs,
                     int incrementMs, Tally& tally) {
    TestPosition board(START_FEN);
    std::string moves;
    std::map<uint64_t, int> seen;
    int clock[2] = {initialMs, initialMs};
    for (auto& m : opening) {
        if (!makeGameMoveText(board.game(), m, nullptr)) return "bad opening move " + m;
        moves += " " + m;
    }
    for (Player* p : {&white, &black}) {
        p->send("ucinewgame");
        p->send("isready");
        p->readUntil("readyok");
    }
    for (int ply = 0; ply < 160; ply++) {
        Position* pos = board.get();
        std::vector<std::string> legal = legalMoves(pos);
        if (legal.empty()) return "";                 // mate or stalemate
        if (pos->fiftyMoveCounter >= 100) return "";  // fifty moves
        if (++seen[pos->hashKey] >= 3) return "";     // threefold repetition
        const uint64_t men = pos->pieceBitboard[0] | pos->pieceBitboard[1];
        if (popcount(men) <= 3 &&
            !(pos->pieceBitboard[WPAWN] | pos->pieceBitboard[BPAWN] | pos->pieceBitboard[WROOK] |
              pos->pieceBitboard[BROOK] | pos->pieceBitboard[WQUEEN] | pos->pieceBitboard[BQUEEN]))
            return "";  // bare kings or a lone minor piece

        const int side = pos->sideToMove;
        Player& mover = side == WHITE ? white : black;
        mover.send("position startpos moves" + moves);
        const EngineStopwatch watch(mover);
        std::vector<std::string> lines;
        if (mover.overrun > 0) {
            mover.send("go infinite");
            std::string line;
            while (watch.ranMs() < mover.overrun * clock[side] && watch.wallMs() < 60000)
                if (mover.readLine(line, 10)) lines.push_back(line);
            mover.send("stop");
        } else {
            mover.send("go wtime " + std::to_string(clock[0]) + " btime " + std::to_string(clock[1]) + " winc " +
                       std::to_string(incrementMs) + " binc " + std::to_string(incrementMs));
        }
        // Long after the flag fell, so that a late move is told from a hang.
        for (const std::string& line : mover.readUntil("bestmove", clock[side] + 30000)) lines.push_back(line);
        const long wall = watch.wallMs(), own = watch.ms();
        const long used = STRICT_CLOCK ? wall : own;
        const double cpuMs = watch.ranMs();
        if (lines.empty() || lines.back().compare(0, 9, "bestmove ") != 0) return "no bestmove (crash or hang)";
        tally.moves++;
        tally.givenBackMs += wall - used;
        const double share = cpuMs / (std::max(wall, 1L) * mover.cores());
        if (wall >= 50) tally.leastShare = std::min(tally.leastShare, share);
        if (used > clock[side] || cpuMs / mover.cores() > clock[side]) {
            char what[256];
            snprintf(what, sizeof what,
                     "lost on time: %ld ms (%ld ms by the wall clock) on a clock of %d ms, with %.0f ms of processor "
                     "time on %d processor(s), after",
                     used, wall, clock[side], cpuMs, mover.cores());
            return what + moves;
        }
        clock[side] -= used;
        tally.leastLeftMs = std::min(tally.leastLeftMs, (long)clock[side]);
        clock[side] += incrementMs;
        std::smatch match;
        const std::string last = lines.back();
        if (!std::regex_match(last, match, std::regex("bestmove (\\S+)( ponder (\\S+))?"))) return "malformed: " + last;
        const std::string move = match[1];
        bool isLegal = false;
        for (auto& l : legal) isLegal |= l == move;
        if (!isLegal) return "illegal move " + move + " after" + moves;
        if (match[3].matched) {
            // The ponder move must be legal in the position after the move.
            TestPosition next(START_FEN);
            for (std::istringstream in(moves + " " + move); in;) {
                std::string w;
                if (in >> w) makeGameMoveText(next.game(), w, nullptr);
            }
            bool ponderLegal = false;
            for (auto& l : legalMoves(next.get())) ponderLegal |= l == match[3].str();
            if (!ponderLegal) return "illegal ponder move " + match[3].str() + " after" + moves + " " + move;
        }
        makeGameMoveText(board.game(), move, nullptr);
        moves += " " + move;
    }
    return "";
}

TEST(SelfPlay, FastGamesStayLegalAndOnTime) {
    const std::vector<std::vector<std::string>> openings = {
        {},
        {"e2e4", "c7c5"},
        {"d2d4", "g8f6", "c2c4", "e7e6"},
        {"e2e4", "e7e5", "g1f3", "b8c6", "f1b5"},
        {"c2c4", "e7e5", "b1c3", "g8f6"},
        {"d2d4", "d7d5", "c2c4", "d5c4"},
    };
    Player a({"setoption name Hash value 16"}, 1);
    Player b({"setoption name Hash value 16"}, 2);
    Tally tally;
    int games = 0;
    for (int round = 0; round < 2; round++) {
        for (size_t o = 0; o < openings.size(); o++) {
            for (int colours = 0; colours < 2; colours++) {
                Player& white = colours ? b : a;
                Player& black = colours ? a : b;
                const std::string failure = playGame(white, black, openings[o], 2000, 20, tally);
                EXPECT_EQ(failure, "") << "game " << games;
                games++;
            }
        }
    }
    for (Player* p : {&a, &b}) {
        p->send("quit");
        EXPECT_EQ(p->waitExit(), 0);
    }
    printf(
        "%d games, %d moves; least time left on a clock %ld ms; least share of its processors an engine had "
        "on a move %.0f%%; %.1f s of waiting for a processor given back\n",
        games, tally.moves, tally.leastLeftMs, 100 * tally.leastShare, tally.givenBackMs / 1000.0);
}

// The referee itself: an engine that searches past its clock loses, on a
// busy machine as on a quiet one, since the processor time it used alone
// exceeds its clock.
TEST(SelfPlay, AnEngineThatOverrunsItsClockLoses) {
    Player overrunning({"setoption name Hash value 16"}, 1, 1.5);
    Player b({"setoption name Hash value 16"}, 1);
    Tally tally;
    const std::string failure = playGame(overrunning, b, {"e2e4", "e7e5"}, 300, 0, tally);
    EXPECT_TRUE(startsWith(failure, "lost on time: ")) << failure;
    for (Player* p : {&overrunning, &b}) {
        p->send("quit");
        EXPECT_EQ(p->waitExit(), 0);
    }
}

}  // namespace
