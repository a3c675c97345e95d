// Fast games of Tarnwick against itself through its UCI interface, refereed
// with Tarnwick's own legal move generator: any illegal move, crash or hang
// fails the test, and so does a loss on time that is the engine's doing.
//
// A clock of two seconds leaves the engine no room for a machine that hands
// it a fraction of a processor: every engine loses on time then.  So the
// referee measures, for each move, the processor time the engine used
// against the wall-clock time the move took.  A loss on time counts when
// the engine computed longer than its clock allowed (it would have lost on
// any machine) or when it had most of the processors it searches with (it
// was not kept waiting, so the time went on its own work); otherwise it is
// reported with the engine's share of the processors beside it.  On a quiet
// machine every loss counts: bench/timeforfeit runs these games so.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <random>
#include <regex>
#include <thread>

#include "engine_process.h"
#include "test_support.h"
#include "uci.h"

namespace {

using Clock = std::chrono::steady_clock;

// Below this share of its processors an engine that lost on time is taken
// to have been kept from them by other programs.
constexpr double FAIR_SHARE = 0.75;
// Every time loss counts (bench/timeforfeit, on a quiet machine).
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
    // The referee's own test: a player that searches `overrun` times the
    // time left on its clock, as an engine whose time check is broken would.
    double overrun;
};

struct Tally {
    int moves = 0;
    long leastLeftMs = 1L << 30;     // on any clock after a move
    double leastShare = 1e9;         // of its processors, on a move of 50 ms or more
    std::vector<std::string> busyLosses;  // time losses put down to the machine
};

// One game; returns a failure description or "".
std::string playGame(Player& white, Player& black, const std::vector<std::string>& opening, int initialMs,
                     int incrementMs, Tally& tally) {
    TestPosition board(START_FEN);
    std::string moves;
    std::map<uint64_t, int> seen;
    int clock[2] = {initialMs, initialMs};
    for (auto& m : opening) {
        if (!makeGameMoveText(board.get(), m, nullptr)) return "bad opening move " + m;
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
        if (legal.empty()) return "";                        // mate or stalemate
        if (pos->fiftyMoveCounter >= 100) return "";         // fifty moves
        if (++seen[pos->hashKey] >= 3) return "";            // threefold repetition
        const uint64_t men = pos->pieceBitboard[0] | pos->pieceBitboard[1];
        if (popcount(men) <= 3 && !(pos->pieceBitboard[WPAWN] | pos->pieceBitboard[BPAWN] | pos->pieceBitboard[WROOK] |
                                    pos->pieceBitboard[BROOK] | pos->pieceBitboard[WQUEEN] | pos->pieceBitboard[BQUEEN]))
            return "";  // bare kings or a lone minor piece

        const int side = pos->sideToMove;
        Player& mover = side == WHITE ? white : black;
        mover.send("position startpos moves" + moves);
        const CpuAccount before = cpuAccount(mover.pid());
        const auto t0 = Clock::now();
        if (mover.overrun > 0)
            mover.send("go movetime " + std::to_string((long)(mover.overrun * std::max(clock[side], 1))));
        else
            mover.send("go wtime " + std::to_string(clock[0]) + " btime " + std::to_string(clock[1]) + " winc " +
                       std::to_string(incrementMs) + " binc " + std::to_string(incrementMs));
        // Long after the flag fell, so that a late move is told from a hang.
        const int overrunAllowance = mover.overrun > 0 ? (int)(mover.overrun * clock[side]) : 0;
        std::vector<std::string> lines = mover.readUntil("bestmove", clock[side] + overrunAllowance + 30000);
        const long used = (long)std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
        const double cpuMs = cpuAccount(mover.pid()).ranMs - before.ranMs;
        if (lines.empty() || lines.back().compare(0, 9, "bestmove ") != 0) return "no bestmove (crash or hang)";
        tally.moves++;
        const double share = cpuMs / (std::max(used, 1L) * mover.cores());
        if (used >= 50) tally.leastShare = std::min(tally.leastShare, share);
        if (clock[side] - used < 0) {
            char what[256];
            snprintf(what, sizeof what,
                     "lost on time: %ld ms on a clock of %d ms, with %.0f ms of processor time on %d processor(s) "
                     "(%.0f%% of them) after",
                     used, clock[side], cpuMs, mover.cores(), 100 * share);
            if (STRICT_CLOCK || cpuMs / mover.cores() > clock[side] || share >= FAIR_SHARE)
                return what + moves;
            tally.busyLosses.push_back(what + moves);
            return "";
        }
        clock[side] -= used;
        tally.leastLeftMs = std::min(tally.leastLeftMs, (long)clock[side]);
        clock[side] += incrementMs;
        std::smatch match;
        const std::string last = lines.back();
        if (!std::regex_match(last, match, std::regex("bestmove (\\S+)( ponder (\\S+))?")))
            return "malformed: " + last;
        const std::string move = match[1];
        bool isLegal = false;
        for (auto& l : legal) isLegal |= l == move;
        if (!isLegal) return "illegal move " + move + " after" + moves;
        if (match[3].matched) {
            // The ponder move must be legal in the position after the move.
            TestPosition next(START_FEN);
            for (std::istringstream in(moves + " " + move); in;) {
                std::string w;
                if (in >> w) makeGameMoveText(next.get(), w, nullptr);
            }
            bool ponderLegal = false;
            for (auto& l : legalMoves(next.get())) ponderLegal |= l == match[3].str();
            if (!ponderLegal) return "illegal ponder move " + match[3].str() + " after" + moves + " " + move;
        }
        makeGameMoveText(pos, move, nullptr);
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
    printf("%d games, %d moves; least time left on a clock %ld ms; least share of its processors an engine had "
           "on a move %.0f%%\n",
           games, tally.moves, tally.leastLeftMs, 100 * tally.leastShare);
    for (const std::string& loss : tally.busyLosses)
        printf("not counted, the machine was busy: %s\n", loss.c_str());
}

// The referee itself: an engine that searches past its clock loses, on a
// busy machine as on a quiet one, since the processor time it used alone
// exceeds its clock.
TEST(SelfPlay, AnEngineThatOverrunsItsClockLoses) {
    Player overrunning({"setoption name Hash value 16"}, 1, 10);
    Player b({"setoption name Hash value 16"}, 1);
    Tally tally;
    const std::string failure = playGame(overrunning, b, {"e2e4", "e7e5"}, 300, 0, tally);
    EXPECT_TRUE(startsWith(failure, "lost on time: ")) << failure;
    EXPECT_TRUE(tally.busyLosses.empty()) << tally.busyLosses.front();
    for (Player* p : {&overrunning, &b}) {
        p->send("quit");
        EXPECT_EQ(p->waitExit(), 0);
    }
}

}  // namespace
