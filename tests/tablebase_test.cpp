// Tablebase prober: values against an independent prober and against the
// values of the children, the registry, and the root move of the engine.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "output_capture.h"
#include "syzygy.h"
#include "tb_test_util.h"
#include "test_support.h"
#include "uci.h"

namespace {

using namespace tbtest;

// ---------------------------------------------------------------------------
// Values listed by an independent prober
// ---------------------------------------------------------------------------
void checkVectors(const std::string& dir) {
    useTables(dir);
    std::ifstream in(dir + "/vectors.txt");
    ASSERT_TRUE(in) << dir << "/vectors.txt";
    std::string line;
    int checked = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t a = line.find(';'), b = line.find(';', a + 1);
        const std::string fen = line.substr(0, a);
        const int wdl = std::atoi(line.c_str() + a + 1), dtz = std::atoi(line.c_str() + b + 1);
        const tb::Board p = probePos(fen);
        if (!tableFilePresent(dir, p)) continue;
        int s1, s2;
        EXPECT_EQ(tb::probeWdl(&p, &s1), wdl) << fen;
        EXPECT_EQ(tb::probeDtz(&p, &s2), dtz) << fen;
        EXPECT_NE(s1, 0) << fen;
        EXPECT_NE(s2, 0) << fen;
        checked++;
    }
    EXPECT_GT(checked, 100);
}

TEST(TablebaseVectors, LocalTables) { checkVectors(localDir()); }

TEST(TablebaseVectors, SharedTables) {
    const std::string dir = sharedDir();
    if (dir.empty()) GTEST_SKIP() << "shared tablebase directory not present";
    checkVectors(dir);
}

// ---------------------------------------------------------------------------
// Values against the children, with the engine's own move generator
// ---------------------------------------------------------------------------
int sign(int v) { return (v > 0) - (v < 0); }

// What a move is worth in plies to the reset of the fifty-move count, from
// the mover's view (positive: a win): a move that resets it is worth one ply
// (101 for a cursed win, 0 for a draw), any other one ply more than the
// child's own distance.  A position's distance is that of its best move.
int moveValue(Position* pos, int* success) {
    tb::Board child;
    toProbeBoard(pos, &child);
    if (pos->fiftyMoveCounter == 0) return tb::WDL_TO_DTZ[2 - tb::probeWdl(&child, success)];
    const int d = tb::probeDtz(&child, success);
    return d < 0 ? 1 - d : d == 0 ? 0 : -d - 1;
}

void checkAgainstChildren(Position* pos, const std::string& fen) {
    Move buffer[MAX_MOVES];
    tb::Board root;
    toProbeBoard(pos, &root);
    int s;
    const int wdl = tb::probeWdl(&root, &s);
    ASSERT_NE(s, 0) << fen;
    const int dtz = tb::probeDtz(&root, &s);
    ASSERT_NE(s, 0) << fen;

    const int legal = (int)(generateMovesLegal(pos, buffer) - buffer);
    EXPECT_EQ(legal, tbLegalMoves(root)) << "move generators disagree: " << fen;
    if (legal == 0) {
        EXPECT_EQ(wdl, pos->inCheck ? -2 : 0) << fen;
        return;
    }
    int bestSign = -1, bestWin = 1 << 20, bestLoss = 0;
    for (int i = 0; i < legal; i++) {
        Move m = buffer[i];
        m.score = 0;
        BoardState saved;
        makeMove(pos, m, saved);
        pos->inCheck = sideInCheck(pos, pos->sideToMove);
        tb::Board child;
        toProbeBoard(pos, &child);
        const int childWdl = tb::probeWdl(&child, &s);
        ASSERT_NE(s, 0) << fen;
        int v = moveValue(pos, &s);
        ASSERT_NE(s, 0) << fen;
        if (pos->inCheck && tbLegalMoves(child) == 0) v = 1;  // mate
        unmakeMove(pos, m, saved);
        bestSign = std::max(bestSign, -sign(childWdl));
        if (v > 0) bestWin = std::min(bestWin, v);
        bestLoss = std::min(bestLoss, v);
    }
    EXPECT_EQ(sign(wdl), bestSign) << fen;
    EXPECT_EQ(sign(dtz), sign(wdl)) << fen;
    EXPECT_EQ(std::abs(dtz) > 100, std::abs(wdl) == 1) << fen << " dtz " << dtz;
    // Files may keep distances at half precision, off by one ply.
    if (dtz > 0) {
        EXPECT_LE(std::abs(dtz - bestWin), 1) << fen << " dtz " << dtz << " best " << bestWin;
    } else if (dtz < 0) {
        EXPECT_LE(std::abs(dtz - bestLoss), 1) << fen << " dtz " << dtz << " best " << bestLoss;
    }
}

bool hasLegalEnPassant(Position* pos) {
    Move buffer[MAX_MOVES];
    for (Move *m = buffer, *end = generateMovesLegal(pos, buffer); m < end; m++)
        if (m->moveType == MT_ENPASSANT) return true;
    return false;
}

void checkTables(const std::string& dir, const std::vector<std::string>& names, int perTable, bool enPassant) {
    useTables(dir);
    std::mt19937_64 rng(12345);
    Position pos;
    for (const std::string& name : names) {
        int done = 0;
        for (int tries = 0; done < perTable && tries < 100 * perTable; tries++) {
            const std::string fen = enPassant ? randomEnPassantFen(name, rng) : randomFen(name, rng);
            if (fen.empty() || !validateFen(fen).empty()) continue;
            setPosition(fen, &pos);
            if (enPassant && !hasLegalEnPassant(&pos)) continue;
            checkAgainstChildren(&pos, fen);
            if (testing::Test::HasFailure()) return;  // one broken table is enough to see
            done++;
        }
        EXPECT_EQ(done, perTable) << name;
    }
}

TEST(TablebaseConsistency, LocalTables) { checkTables(localDir(), tablesIn(localDir()), 1000, false); }

TEST(TablebaseConsistency, SharedTables) {
    const std::string dir = sharedDir();
    if (dir.empty()) GTEST_SKIP() << "shared tablebase directory not present";
    checkTables(dir, tablesIn(dir), 400, false);
}

TEST(TablebaseConsistency, EnPassant) {
    const std::string dir = sharedDir();
    if (dir.empty()) GTEST_SKIP() << "shared tablebase directory not present";
    checkTables(dir, {"KPvKP"}, 1000, true);
}

// ---------------------------------------------------------------------------
// Registry
// ---------------------------------------------------------------------------
// The win/draw/loss value of a position, or 9 when the probe fails.
int wdlOf(const std::string& fen) {
    int s;
    const tb::Board p = probePos(fen);
    const int v = tb::probeWdl(&p, &s);
    return s ? v : 9;
}

TEST(TablebaseRegistry, DirectoryListAndKeys) {
    TempDir tmp;
    tmp.copy(localDir(), "KQvK.rtbw", "a");
    tmp.copy(localDir(), "KRvK.rtbw", "b");
    tmp.copy(localDir(), "KRvKR.rtbw", "b");
    // a, an empty piece, b and a trailing separator: two directories.
    EXPECT_EQ(useTables(tmp.path + "/a::" + tmp.path + "/b:"), "Found 3 tablebases.\n");
    EXPECT_EQ(largestMen, 4);
    EXPECT_EQ(wdlOf("8/8/8/3k4/8/8/8/QK6 w - - 0 1"), 2);
    EXPECT_EQ(wdlOf("qk6/8/8/8/3K4/8/8/8 b - - 0 1"), 2);  // colours exchanged
    EXPECT_EQ(wdlOf("qk6/8/8/8/3K4/8/8/8 w - - 0 1"), -2);
    EXPECT_EQ(wdlOf("r7/8/3k4/8/8/8/8/RK6 b - - 0 1"), 0);
    // Bare kings need no file; a table that is not there fails the probe.
    EXPECT_EQ(wdlOf("8/8/3k4/8/8/8/8/1K6 w - - 0 1"), 0);
    EXPECT_EQ(wdlOf("8/8/3k4/8/8/8/8/BK6 w - - 0 1"), 9);

    // Setting a path again releases the loaded files and starts over; an
    // empty path drops them all.
    const char* fen = "8/8/3k4/8/8/8/6r1/R3K3 w - - 0 1";
    EXPECT_EQ(useTables(localDir()), "Found 10 tablebases.\n");
    const int wdl = wdlOf(fen);
    EXPECT_NE(wdl, 9);
    EXPECT_EQ(useTables(localDir()), "Found 10 tablebases.\n");
    EXPECT_EQ(wdlOf(fen), wdl);
    for (const char* none : {"<empty>", ""}) {
        EXPECT_EQ(useTables(none), "");
        EXPECT_EQ(largestMen, 0);
        EXPECT_EQ(wdlOf(fen), 9);
    }
}

TEST(TablebaseRegistry, FileGoneBeforeFirstProbe) {
    TempDir tmp;
    tmp.copy(localDir(), "KQvK.rtbw");
    useTables(tmp.path);
    ASSERT_EQ(unlink((tmp.path + "/KQvK.rtbw").c_str()), 0);
    int wdl = 0;
    EXPECT_EQ(captureStderr([&] { wdl = wdlOf("8/8/8/3k4/8/8/8/QK6 w - - 0 1"); }), "Could not find KQvK.rtbw\n");
    EXPECT_EQ(wdl, 9);
    // The table is forgotten: no second message.
    EXPECT_EQ(captureStderr([&] { wdl = wdlOf("8/8/8/3k4/8/8/8/QK6 w - - 0 1"); }), "");
    EXPECT_EQ(wdl, 9);
}

// A call that blocks would hang the test program in the future's destructor:
// end the program instead.
template <typename T>
void finishesOrDies(std::future<T>& f, const char* what) {
    if (f.wait_for(std::chrono::seconds(10)) == std::future_status::ready) return;
    std::fprintf(stderr, "%s\n", what);
    std::_Exit(1);
}

// A FIFO, a directory and a link to a device under table names: none is a
// table, and none may block or crash the loader.  (Opening a FIFO that has no
// writer for reading would wait for ever.)
TEST(TablebaseRegistry, OnlyRegularFilesAreTables) {
    TempDir tmp;
    tmp.copy(localDir(), "KRvK.rtbw");
    tmp.copy(localDir(), "KRvK.rtbz");
    ASSERT_EQ(mkfifo((tmp.path + "/KQvK.rtbw").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo((tmp.path + "/KRvK.rtbz.fifo").c_str(), 0600), 0);
    ASSERT_EQ(mkdir((tmp.path + "/KBvK.rtbw").c_str(), 0700), 0);
    ASSERT_EQ(symlink("/dev/zero", (tmp.path + "/KNvK.rtbw").c_str()), 0);
    auto loaded = std::async(std::launch::async, [&] { return useTables(tmp.path); });
    finishesOrDies(loaded, "the loader blocked on a FIFO");
    EXPECT_EQ(loaded.get(), "Found 1 tablebases.\n");
    EXPECT_EQ(wdlOf("8/8/3k4/8/8/8/8/RK6 w - - 0 1"), 2);
    EXPECT_EQ(wdlOf("8/8/3k4/8/8/8/8/QK6 w - - 0 1"), 9);
    // A FIFO in place of the distance file of a registered table: the
    // distance probe fails and the win/draw/loss value stands.
    ASSERT_EQ(rename((tmp.path + "/KRvK.rtbz.fifo").c_str(), (tmp.path + "/KRvK.rtbz").c_str()), 0);
    useTables(tmp.path);
    const tb::Board p = probePos("8/8/3k4/8/8/8/8/RK6 w - - 0 1");
    auto dtz = std::async(std::launch::async, [&] {
        int ok;
        tb::probeDtz(&p, &ok);
        return ok;
    });
    finishesOrDies(dtz, "the distance probe blocked on a FIFO");
    EXPECT_EQ(dtz.get(), 0);
    EXPECT_EQ(wdlOf("8/8/3k4/8/8/8/8/RK6 w - - 0 1"), 2);
}

// ---------------------------------------------------------------------------
// The root move, against the prober's values of the position it leads to
// ---------------------------------------------------------------------------
struct RootResult {
    std::string move;               // "" when the tables were not used
    std::vector<std::string> line;  // the move and the tables' line after it
    std::string output;
    int wdl = 0, dtz = 0;  // of the root, from the prober
};

RootResult rootProbe(const std::string& fen) {
    Position pos;
    setPosition(fen, &pos);
    RootResult r;
    const tb::Board root = probePos(fen);
    int s;
    r.wdl = tb::probeWdl(&root, &s);
    r.dtz = tb::probeDtz(&root, &s);
    Move line[ROOT_LINE_LENGTH];
    int length = 0;
    r.output = captureStdout([&] { length = probeRootTablebase(&pos, line); });
    if (length == 0) return r;
    // The first move is one of the engine's own moves, its type included.
    Move moves[MAX_MOVES];
    const Move first = line[0];
    for (Move *m = moves, *end = generateMovesLegal(&pos, moves); m < end; m++)
        if (m->from == first.from && m->to == first.to && m->moveType == first.moveType)
            r.move = moveToText(m, pos.sideToMove);
    EXPECT_NE(r.move, "") << fen << ": the tables' move is no legal move";
    std::istringstream pv(r.output.substr(r.output.find(" pv ") + 4));
    for (std::string word; pv >> word;) r.line.push_back(word);
    return r;
}

// The fastest win, the longest loss or a draw, judged by the prober's values
// of the position after the move.  A winning move leaves the opponent lost
// and one ply nearer the reset of the fifty-move count (two when the file
// keeps distances at half precision); a losing move leaves it winning, one
// ply (or none) nearer.  A move that resets the count itself can only be the
// best when the root is one or two plies from it (a cursed win or blessed
// loss counts 100 more).
void checkRootMove(const std::string& fen) {
    const RootResult r = rootProbe(fen);
    ASSERT_NE(r.move, "") << fen;
    const int score = std::abs(r.wdl) < 2 ? 0 : r.dtz > 0 ? 31872 - r.dtz : -31872 - r.dtz;
    EXPECT_EQ(
        r.output.substr(0, r.output.find(" pv ") + 4 + r.move.size()),
        "info score cp " + std::to_string(score) + " depth 127 seldepth 127 nodes 1 tbhits 1 time 1 pv " + r.move);
    TestPosition game(fen);
    ASSERT_TRUE(makeGameMoveText(game.game(), r.move, nullptr));
    tb::Board child;
    toProbeBoard(game.get(), &child);
    int s;
    const int wdl = tb::probeWdl(&child, &s), dtz = tb::probeDtz(&child, &s);
    EXPECT_EQ(sign(wdl), -sign(r.wdl)) << fen << " " << r.move;
    if (r.wdl == 0) return;
    if (game->fiftyMoveCounter == 0)
        EXPECT_LE((std::abs(r.dtz) - 1) % 100, 1) << fen << " " << r.move << " dtz " << r.dtz;
    else if (r.dtz > 0)
        EXPECT_TRUE(dtz == 1 - r.dtz || dtz == 2 - r.dtz) << fen << " " << r.move << ": " << r.dtz << " then " << dtz;
    else
        EXPECT_TRUE(dtz == -1 - r.dtz || dtz == -r.dtz) << fen << " " << r.move << ": " << r.dtz << " then " << dtz;
}

TEST(TablebaseRoot, BestMoveByDistance) {
    useTables(localDir());
    for (const char* fen :
         {"8/8/8/4k3/8/8/8/KQ6 w - - 0 1", "8/5k2/8/8/3K4/8/1R6/8 w - - 0 1", "8/8/8/4k3/8/8/8/KQ6 b - - 0 1",
          "8/5k2/8/8/3K4/8/1R6/8 b - - 0 1", "8/8/8/2k5/8/q7/8/1K3Q2 w - - 0 1", "5K2/8/8/8/8/8/2kP4/8 w - - 0 1",
          "8/8/3k4/8/3b4/8/8/R3K3 w - - 0 1", "8/8/3k4/8/3b4/8/8/R3K3 b - - 0 1", "8/2k5/8/8/r7/8/6R1/4K3 w - - 0 1"}) {
        checkRootMove(fen);
        EXPECT_EQ(rootProbe(fen).move, rootProbe(fen).move) << fen;
    }
    // The same win is reported as a draw when the counter leaves too little
    // room, but the winning move is still the one played.
    const RootResult fresh = rootProbe("8/8/8/8/8/2k5/8/KR6 w - - 0 1");
    const RootResult late = rootProbe("8/8/8/8/8/2k5/8/KR6 w - - 90 1");
    ASSERT_GT(fresh.dtz, 10);
    EXPECT_NE(late.output.find("score cp 0 "), std::string::npos) << late.output;
    EXPECT_EQ(fresh.move, late.move);
    // Refused, with nothing printed: the side not to move in check, castling
    // rights, men beyond the tables.
    for (const char* fen :
         {"8/8/3k4/8/8/8/8/qK6 b - - 0 1", "r3k3/8/8/8/8/8/8/4K3 b q - 0 1", "8/8/3k4/8/8/8/8/RK4NB w - - 0 1"}) {
        const RootResult r = rootProbe(fen);
        EXPECT_EQ(r.move + r.output, "") << fen;
    }
}

// The line after the root move is the tables' own best play: every move in
// it legal, each keeping its side's result (the winner's moves leave the
// opponent lost, the loser's leave the opponent winning, a drawing move a
// draw), and it ends where the tables can say no more.
void checkRootLine(const std::string& fen) {
    const RootResult r = rootProbe(fen);
    ASSERT_GE(r.line.size(), 2u) << fen << ": " << r.output;
    EXPECT_EQ(r.line[0], r.move);
    TestPosition game(fen);
    const Position& pos = *game.get();
    std::set<uint64_t> seen = {pos.hashKey};
    for (size_t i = 0; i < r.line.size(); i++) {
        tb::Board before;
        toProbeBoard(&pos, &before);
        int s;
        const int wdl = tb::probeWdl(&before, &s);
        ASSERT_NE(s, 0) << fen << ": move " << i << " from a position the tables do not hold";
        ASSERT_TRUE(makeGameMoveText(game.game(), r.line[i], nullptr)) << fen << ": move " << i << " " << r.line[i];
        tb::Board after;
        toProbeBoard(&pos, &after);
        const int next = tb::probeWdl(&after, &s);
        if (s) {
            EXPECT_EQ(sign(next), -sign(wdl)) << fen << ": move " << i << " " << r.line[i];
        }
        if (i + 1 < r.line.size()) {
            EXPECT_TRUE(seen.insert(pos.hashKey).second) << fen << ": repeated before the end";
        }
    }
    // The end: mate, stalemate, a repetition, a position beyond the tables,
    // or the longest line.
    tb::Board last;
    toProbeBoard(&pos, &last);
    int s;
    tb::probeDtz(&last, &s);
    const bool ended = legalMoves(&pos).empty() || !seen.insert(pos.hashKey).second || s == 0 || r.line.size() == 100;
    EXPECT_TRUE(ended) << fen << ": the line stops early after " << r.line.size() << " moves";
}

TEST(TablebaseRoot, LineOfBestPlay) {
    useTables(localDir());
    // KRvK and KQvK to mate, for the winner and for the loser; a drawn KRvKR.
    for (const char* fen : {"8/8/8/4k3/8/8/8/KQ6 w - - 0 1", "8/5k2/8/8/3K4/8/1R6/8 b - - 0 1",
                            "8/8/8/8/3k4/8/6R1/K7 w - - 0 1", "8/8/3k4/8/3r4/8/8/R3K3 w - - 0 1"})
        checkRootLine(fen);
    const std::string dir = sharedDir();
    if (dir.empty()) GTEST_SKIP() << "shared tablebase directory not present";
    useTables(dir);
    // KRPvKR: the pawn promotes (the line goes on in KQvKR) or the defence
    // holds.
    for (const char* fen : {"1K1k4/1P6/8/8/8/8/r7/2R5 w - - 0 1", "8/8/4k3/8/2KP4/8/8/r4R2 w - - 0 1",
                            "8/8/4k3/8/2KP4/8/8/r4R2 b - - 0 1"})
        checkRootLine(fen);
}

TEST(TablebaseRoot, SharedTables) {
    const std::string dir = sharedDir();
    if (dir.empty()) GTEST_SKIP() << "shared tablebase directory not present";
    useTables(dir);
    EXPECT_EQ(largestMen, 5);  // six-man names are tried, none is there
    // En passant, a cursed win and a blessed loss (drawn by the fifty-move
    // rule, yet the move played is still the best try).
    EXPECT_EQ(rootProbe("K7/8/4k3/1pP5/8/8/8/8 w - b6 0 1").move, "c5b6");
    for (const char* fen : {"K7/8/4k3/1pP5/8/8/8/8 w - b6 0 1", "8/8/2k5/8/4n2K/8/3BB3/8 w - - 0 1",
                            "8/8/6n1/2B5/4k3/8/1KB5/8 b - - 0 1"})
        checkRootMove(fen);
}

}  // namespace
