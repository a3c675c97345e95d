// Fast games of Tarnwick against itself through its UCI interface, refereed
// with Tarnwick's own legal move generator: any illegal move, crash, hang or
// time loss fails the test.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <random>
#include <regex>

#include "engine_process.h"
#include "test_support.h"
#include "uci.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Player : EngineProcess {
    explicit Player(const std::vector<std::string>& options) : EngineProcess(TARNWICK_BIN) {
        for (auto& o : options) send(o);
        send("isready");
        readUntil("readyok");
    }
};

// One game; returns a failure description or "".
std::string playGame(Player& white, Player& black, const std::vector<std::string>& opening, int initialMs,
                     int incrementMs) {
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
        const auto t0 = Clock::now();
        mover.send("go wtime " + std::to_string(clock[0]) + " btime " + std::to_string(clock[1]) + " winc " +
                   std::to_string(incrementMs) + " binc " + std::to_string(incrementMs));
        std::vector<std::string> lines = mover.readUntil("bestmove", clock[side] + 2000);
        const int used = (int)std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
        if (lines.empty() || lines.back().compare(0, 9, "bestmove ") != 0) return "no bestmove (crash or hang)";
        clock[side] -= used;
        if (clock[side] < 0) return "lost on time after " + moves;
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
    Player a({"setoption name Hash value 16"});
    Player b({"setoption name Hash value 16", "setoption name Threads value 2"});
    int games = 0;
    for (int round = 0; round < 2; round++) {
        for (size_t o = 0; o < openings.size(); o++) {
            for (int colours = 0; colours < 2; colours++) {
                Player& white = colours ? b : a;
                Player& black = colours ? a : b;
                const std::string failure = playGame(white, black, openings[o], 2000, 20);
                EXPECT_EQ(failure, "") << "game " << games;
                games++;
            }
        }
    }
    for (Player* p : {&a, &b}) {
        p->send("quit");
        EXPECT_EQ(p->waitExit(), 0);
    }
}

}  // namespace
