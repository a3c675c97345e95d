// Tablebase prober: values against an independent prober, values against the
// values of the children, the registry, and the root move of the engine.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "syzygy.h"
#include "tb_test_util.h"

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
        const tb::pos p = probePos(fen);
        if (!tableFilePresent(dir, p)) continue;
        int s1, s2;
        EXPECT_EQ(tb::probe_wdl(&p, &s1), wdl) << fen;
        EXPECT_EQ(tb::probe_dtz(&p, &s2), dtz) << fen;
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

// The value of a move from the mover's view, as the root ranks moves: a
// zeroing move by the child's WDL, any other by the child's distance.
int moveValue(positionStruct* pos, int* success) {
    tb::pos child;
    syzygyConvert(pos, 1, &child);
    if (pos->fiftyMoveCounter == 0) return tb::wdl_to_dtz[2 - tb::probe_wdl(&child, success)];
    const int d = tb::probe_dtz(&child, success);
    return d < 0 ? 1 - d : d == 0 ? 0 : -d - 1;
}

void checkAgainstChildren(positionStruct* pos, const std::string& fen) {
    static moveStruct buffer[1024];
    pos->plyStack[0].moveListStart = buffer;
    tb::pos root;
    syzygyConvert(pos, 0, &root);
    int s;
    const int wdl = tb::probe_wdl(&root, &s);
    ASSERT_NE(s, 0) << fen;
    const int dtz = tb::probe_dtz(&root, &s);
    ASSERT_NE(s, 0) << fen;

    generateMovesLegal(0, buffer, pos);
    const int legal = (int)(pos->plyStack[0].moveListEnd - buffer);
    EXPECT_EQ(legal, tbLegalMoves(root)) << "move generators disagree: " << fen;
    if (legal == 0) {
        EXPECT_EQ(wdl, pos->plyStack[0].inCheck ? -2 : 0) << fen;
        return;
    }
    int bestSign = -1, bestWin = 1 << 20, bestLoss = 0;
    for (int i = 0; i < legal; i++) {
        moveStruct m = buffer[i];
        m.score = 0;
        makeMove(pos, 0, m);
        pos->plyStack[1].inCheck = sideInCheck(pos, pos->sideToMove);
        tb::pos child;
        syzygyConvert(pos, 1, &child);
        const int childWdl = tb::probe_wdl(&child, &s);
        ASSERT_NE(s, 0) << fen;
        int v = moveValue(pos, &s);
        ASSERT_NE(s, 0) << fen;
        if (pos->plyStack[1].inCheck && tbLegalMoves(child) == 0) v = 1;  // mate
        unmakeMove(pos, 0, m);
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

bool hasLegalEnPassant(positionStruct* pos) {
    static moveStruct buffer[1024];
    pos->plyStack[0].moveListStart = buffer;
    generateMovesLegal(0, buffer, pos);
    for (moveStruct* m = buffer; m < pos->plyStack[0].moveListEnd; m++)
        if (m->moveType == MT_ENPASSANT) return true;
    return false;
}

void checkTables(const std::string& dir, const std::vector<std::string>& names, int perTable, bool enPassant) {
    useTables(dir);
    std::mt19937_64 rng(12345);
    static positionStruct pos;
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
TEST(TablebaseRegistry, DirectoryListAndKeys) {
    TempDir tmp;
    tmp.copy(localDir(), "KQvK.rtbw", "a");
    tmp.copy(localDir(), "KRvK.rtbw", "b");
    tmp.copy(localDir(), "KRvKR.rtbw", "b");
    const std::string a = tmp.path + "/a", b = tmp.path + "/b";

    // a, an empty piece, b and a trailing separator: two directories.
    EXPECT_EQ(useTables(a + "::" + b + ":"), "Found 3 tablebases.\n");
    EXPECT_EQ(TB_LARGEST, 4);
    // KQvK and KRvK under their own and their mirrored keys, KRvKR once.
    EXPECT_EQ(tb::registry_slots(), 5);

    int s;
    tb::pos p = probePos("8/8/8/3k4/8/8/8/QK6 w - - 0 1");
    EXPECT_EQ(tb::probe_wdl(&p, &s), 2);
    EXPECT_EQ(s, 1);
    p = probePos("qk6/8/8/8/3K4/8/8/8 b - - 0 1");  // the same ending with colours exchanged
    EXPECT_EQ(tb::probe_wdl(&p, &s), 2);
    EXPECT_EQ(s, 1);
    p = probePos("qk6/8/8/8/3K4/8/8/8 w - - 0 1");
    EXPECT_EQ(tb::probe_wdl(&p, &s), -2);
    EXPECT_EQ(s, 1);
    p = probePos("r7/8/3k4/8/8/8/8/RK6 b - - 0 1");
    EXPECT_EQ(tb::probe_wdl(&p, &s), 0);
    EXPECT_EQ(s, 1);
    // Bare kings need no file; a table that is not there fails the probe.
    p = probePos("8/8/3k4/8/8/8/8/1K6 w - - 0 1");
    EXPECT_EQ(tb::probe_wdl(&p, &s), 0);
    EXPECT_EQ(s, 1);
    p = probePos("8/8/3k4/8/8/8/8/BK6 w - - 0 1");
    tb::probe_wdl(&p, &s);
    EXPECT_EQ(s, 0);
}

TEST(TablebaseRegistry, ResettingThePath) {
    const std::string first = useTables(localDir());
    EXPECT_EQ(first, "Found 10 tablebases.\n");
    EXPECT_EQ(TB_LARGEST, 4);
    tb::pos p = probePos("8/8/3k4/8/8/8/6r1/R3K3 w - - 0 1");
    int s1, s2;
    const int wdl = tb::probe_wdl(&p, &s1);
    const int dtz = tb::probe_dtz(&p, &s2);
    EXPECT_TRUE(s1 && s2);
    // Setting the same path again releases the loaded files and starts over.
    EXPECT_EQ(useTables(localDir()), first);
    EXPECT_EQ(tb::probe_wdl(&p, &s1), wdl);
    EXPECT_EQ(tb::probe_dtz(&p, &s2), dtz);
    EXPECT_TRUE(s1 && s2);
    int s;

    for (const char* none : {"<empty>", ""}) {
        EXPECT_EQ(useTables(none), "");
        EXPECT_EQ(TB_LARGEST, 0);
        EXPECT_EQ(tb::registry_slots(), 0);
        tb::probe_wdl(&p, &s);
        EXPECT_EQ(s, 0);
    }
}

TEST(TablebaseRegistry, FileGoneBeforeFirstProbe) {
    TempDir tmp;
    tmp.copy(localDir(), "KQvK.rtbw");
    useTables(tmp.path);
    ASSERT_EQ(tb::registry_slots(), 2);
    ASSERT_EQ(unlink((tmp.path + "/KQvK.rtbw").c_str()), 0);
    tb::pos p = probePos("8/8/8/3k4/8/8/8/QK6 w - - 0 1");
    int s;
    testing::internal::CaptureStderr();
    tb::probe_wdl(&p, &s);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Could not find KQvK.rtbw\n");
    EXPECT_EQ(s, 0);
    // The signature is forgotten: no second message, no probe.
    EXPECT_EQ(tb::registry_slots(), 0);
    testing::internal::CaptureStderr();
    tb::probe_wdl(&p, &s);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(s, 0);
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
    int s;
    tb::pos p = probePos("8/8/3k4/8/8/8/8/RK6 w - - 0 1");
    EXPECT_EQ(tb::probe_wdl(&p, &s), 2);
    EXPECT_EQ(s, 1);
    p = probePos("8/8/3k4/8/8/8/8/QK6 w - - 0 1");
    tb::probe_wdl(&p, &s);
    EXPECT_EQ(s, 0);
    // A FIFO in place of the distance file of a registered table: the
    // distance probe fails and the win/draw/loss value stands.
    ASSERT_EQ(rename((tmp.path + "/KRvK.rtbz.fifo").c_str(), (tmp.path + "/KRvK.rtbz").c_str()), 0);
    useTables(tmp.path);
    p = probePos("8/8/3k4/8/8/8/8/RK6 w - - 0 1");
    auto dtz = std::async(std::launch::async, [&] {
        int ok;
        tb::probe_dtz(&p, &ok);
        return ok;
    });
    finishesOrDies(dtz, "the distance probe blocked on a FIFO");
    EXPECT_EQ(dtz.get(), 0);
    EXPECT_EQ(tb::probe_wdl(&p, &s), 2);
}

// ---------------------------------------------------------------------------
// The root move
// ---------------------------------------------------------------------------
struct RootResult {
    uint32_t move;
    std::string output;
    int dtz;
    tb::pos root;
};

RootResult rootProbe(const std::string& fen) {
    static positionStruct pos;
    static moveStruct moves[MOVE_BUFFER_SIZE];
    pos.plyStack[0].moveListStart = moves;
    setPosition(fen, &pos);
    RootResult r;
    syzygyConvert(&pos, 0, &r.root);
    int s;
    r.dtz = tb::probe_dtz(&r.root, &s);
    testing::internal::CaptureStdout();
    r.move = syzygyProbeDTZ(0, &pos);
    r.output = testing::internal::GetCapturedStdout();
    return r;
}

std::string moveText(uint32_t move, bool whiteToMove) {
    moveStruct m = wordToMove(move);
    return moveToLA(&m, whiteToMove ? WHITE : BLACK);
}

// Value of the root move as the root ranks it, from the prober's move list.
int rootMoveValue(const tb::pos& root, uint32_t move) {
    uint16_t moves[tb::MAX_MOVES];
    uint16_t* end = tb::gen_moves(&root, moves);
    for (uint16_t* m = moves; m < end; m++) {
        tb::pos child;
        if (tb::move_from(*m) != (int)(move & 0xff) || !tb::do_move(&child, &root, *m)) continue;
        const moveStruct em = wordToMove(move);
        const int to = em.moveType == MT_ENPASSANT ? root.ep : em.to;
        if (tb::move_to(*m) != to) continue;
        int s;
        if (child.rule50 == 0) return tb::wdl_to_dtz[2 - tb::probe_wdl(&child, &s)];
        const int d = tb::probe_dtz(&child, &s);
        if (d == -1 && tbLegalMoves(child) == 0) return 1;
        return d < 0 ? 1 - d : d == 0 ? 0 : -d - 1;
    }
    return 1 << 20;
}

TEST(TablebaseRoot, FastestWinAndLongestLoss) {
    useTables(localDir());
    for (const char* fen : {"8/8/8/4k3/8/8/8/KQ6 w - - 0 1", "8/5k2/8/8/3K4/8/1R6/8 w - - 0 1",
                            "8/8/8/4k3/8/8/8/KQ6 b - - 0 1", "8/5k2/8/8/3K4/8/1R6/8 b - - 0 1",
                            "8/8/8/2k5/8/q7/8/1K3Q2 w - - 0 1"}) {
        const RootResult r = rootProbe(fen);
        ASSERT_NE(r.move, 0u) << fen;
        ASSERT_NE(r.dtz, 0) << fen;
        const int score = r.dtz > 0 ? 31872 - r.dtz : -31872 - r.dtz;
        EXPECT_EQ(r.output, "info score cp " + std::to_string(score) +
                                " depth 127 seldepth 127 nodes 1 tbhits 1 time 1 pv " +
                                moveText(r.move, r.root.turn) + "\n")
            << fen;
        // The chosen move keeps the distance (one ply more at half precision).
        const int v = rootMoveValue(r.root, r.move);
        EXPECT_TRUE(v == r.dtz || v == r.dtz - 1) << fen << " dtz " << r.dtz << " move value " << v;
    }
}

TEST(TablebaseRoot, FiftyMoveCounter) {
    useTables(localDir());
    // The same win is reported as a draw when the counter leaves too little
    // room, but the winning move is still the one played.
    const RootResult fresh = rootProbe("8/8/8/8/8/2k5/8/KR6 w - - 0 1");
    const RootResult late = rootProbe("8/8/8/8/8/2k5/8/KR6 w - - 90 1");
    ASSERT_GT(fresh.dtz, 10);
    EXPECT_NE(fresh.output.find("score cp " + std::to_string(31872 - fresh.dtz) + " "), std::string::npos);
    EXPECT_NE(late.output.find("score cp 0 "), std::string::npos) << late.output;
    EXPECT_EQ(fresh.move, late.move);
}

TEST(TablebaseRoot, DrawingMoveChosenByMaterial) {
    useTables(localDir());
    for (const char* fen : {"8/8/3k4/8/3b4/8/8/R3K3 w - - 0 1", "8/8/3k4/8/3b4/8/8/R3K3 b - - 0 1",
                            "8/2k5/8/8/r7/8/6R1/4K3 w - - 0 1"}) {
        const RootResult r = rootProbe(fen);
        ASSERT_EQ(r.dtz, 0) << fen;
        ASSERT_NE(r.move, 0u) << fen;
        EXPECT_NE(r.output.find("score cp 0 "), std::string::npos);
        // The k-th drawing move in generation order, k from the material key
        // with the side to move counted as White.
        uint16_t moves[tb::MAX_MOVES];
        uint16_t* end = tb::gen_moves(&r.root, moves);
        std::vector<uint16_t> drawing;
        for (uint16_t* m = moves; m < end; m++) {
            tb::pos child;
            int s;
            if (tb::do_move(&child, &r.root, *m) && tb::probe_wdl(&child, &s) == 0) drawing.push_back(*m);
        }
        ASSERT_GE(drawing.size(), 3u) << fen;
        const uint16_t expected = drawing[tb::calc_key(&r.root, !r.root.turn) % drawing.size()];
        EXPECT_EQ(r.move & 0xffff, (uint32_t)(tb::move_from(expected) | tb::move_to(expected) << 8)) << fen;
        EXPECT_EQ(rootProbe(fen).move, r.move);
    }
}

TEST(TablebaseRoot, MoveRecords) {
    useTables(localDir());
    // A two-square advance carries its move type and the moving piece.
    RootResult r = rootProbe("5K2/8/8/8/8/8/2kP4/8 w - - 0 1");
    EXPECT_EQ(r.move, (uint32_t)(11 | 27 << 8 | MT_DOUBLE << 16 | WPAWN << 24));
    r = rootProbe("8/8/8/3k4/8/8/8/QK6 b - - 0 1");
    EXPECT_EQ(r.move >> 24, (uint32_t)BKING);

    // Refused: the side not to move in check, castling rights, a position
    // with men beyond the tables.  Nothing is printed.
    for (const char* fen : {"8/8/3k4/8/8/8/8/qK6 b - - 0 1", "r3k3/8/8/8/8/8/8/4K3 b q - 0 1",
                            "8/8/3k4/8/8/8/8/RK4NB w - - 0 1"}) {
        r = rootProbe(fen);
        EXPECT_EQ(r.move, 0u) << fen;
        EXPECT_EQ(r.output, "") << fen;
    }
}

TEST(TablebaseRoot, SharedTables) {
    const std::string dir = sharedDir();
    if (dir.empty()) GTEST_SKIP() << "shared tablebase directory not present";
    useTables(dir);
    EXPECT_EQ(TB_LARGEST, 5);  // six-man names are tried, none is there
    // En passant: the record holds the captured pawn's square.
    RootResult r = rootProbe("K7/8/4k3/1pP5/8/8/8/8 w - b6 0 1");
    EXPECT_EQ(r.move, (uint32_t)(34 | 33 << 8 | MT_ENPASSANT << 16 | WPAWN << 24));
    EXPECT_NE(r.output.find(" pv c5b6\n"), std::string::npos) << r.output;
    // A cursed win and a blessed loss: drawn by the fifty-move rule, yet the
    // move played is still the best try.
    for (const char* fen : {"8/8/2k5/8/4n2K/8/3BB3/8 w - - 0 1", "8/8/6n1/2B5/4k3/8/1KB5/8 b - - 0 1"}) {
        r = rootProbe(fen);
        ASSERT_NE(r.move, 0u) << fen;
        EXPECT_GT(std::abs(r.dtz), 100) << fen;
        EXPECT_NE(r.output.find("score cp 0 "), std::string::npos) << r.output;
        const int v = rootMoveValue(r.root, r.move);
        EXPECT_TRUE(v == r.dtz || v == r.dtz - 1) << fen << " dtz " << r.dtz << " move value " << v;
    }
}

}  // namespace
