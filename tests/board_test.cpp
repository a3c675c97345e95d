// Board model: slider lookup, FEN reading, move text, and make/unmake against
// positions set up from scratch.  (Move generation is checked by the perft
// counts of data/perft.txt, run by "rtest" on every build.)
#include <gtest/gtest.h>

#include <fstream>

#include "search.h"
#include "test_support.h"
#include "uci.h"

namespace {

TEST(Tables, SliderAttacksAgreeWithRayWalks) {
    // Every occupancy subset of every square, through the lookup in use by
    // this build, against a plain ray walk.
    const int dirs[2][4][2] = {{{1, 0}, {-1, 0}, {0, 1}, {0, -1}}, {{1, 1}, {1, -1}, {-1, 1}, {-1, -1}}};
    for (int s = 0; s < 64; s++)
        for (int kind = 0; kind < 2; kind++) {
            const uint64_t mask = kind ? bishopLookup[s].mask : rookLookup[s].mask;
            uint64_t sub = 0;
            do {
                uint64_t expected = 0;
                for (auto& d : dirs[kind])
                    for (int f = fileOf(s) + d[0], r = rankOf(s) + d[1]; f >= 0 && f < 8 && r >= 0 && r < 8;
                         f += d[0], r += d[1]) {
                        expected |= bit(r * 8 + f);
                        if (sub & bit(r * 8 + f)) break;
                    }
                ASSERT_EQ(kind ? bishopAttacks(s, sub | bit(s)) : rookAttacks(s, sub), expected) << s << " " << kind;
                sub = (sub - mask) & mask;
            } while (sub);
        }
}

TEST(Fen, RejectedWithAReasonOrFittedToTheBoard) {
    for (const char* fen : {
             "",
             "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR",             // no side to move
             "rnbqkbnr/pppppppp/9/8/8/8/PPPPPPPP/RNBQKBNR w - - 0 1",   // digit 9
             "rnbqkbnr/ppppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w - - 0 1",  // rank too long
             "rnbqkbnr/ppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w - - 0 1",    // rank too short
             "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP w - - 0 1",            // seven ranks
             "rnbqkbnr/pppppppp/8/8/8/8/8/PPPPPPPP/RNBQKBNR w - - 0 1", // nine ranks
             "rnbqkbnr/ppppxppp/8/8/8/8/PPPPPPPP/RNBQKBNR w - - 0 1",   // unknown letter
             "rnbq1bnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w - - 0 1",   // no black king
             "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKKNR w - - 0 1",   // two white kings
             "rnbqkbnp/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w - - 0 1",   // pawn on rank 8
             "4k3/8/8/8/8/QQQQQQQQ/QQQQQQQQ/QQQQKQQQ w - - 0 1",        // 24 white men
             "4k3/8/8/8/8/8/8/4K2r b - - 0 1",                          // the side not to move in check
             "4k3/8/8/8/8/8/8/4K3 x - - 0 1",                           // side field
         })
        EXPECT_NE(validateFen(fen), "") << fen;
    // The fields after the side to move only add detail.  What does not fit
    // the board is dropped, so the position (and its key, which repetitions
    // are found by) is the one without it.
    const uint64_t bare = TestPosition("4k3/8/8/8/8/8/8/4K3 w - - 0 1")->hashKey;
    for (const char* fen : {"4k3/8/8/8/8/8/8/4K3 w", "4k3/8/8/8/8/8/8/4K3 w KQkq e6 0 1",
                            "4k3/8/8/8/8/8/8/4K3 w - e9 x 1", "4k3/8/8/8/8/8/8/4K3 w - - -4 -1",
                            "4k3/8/8/8/8/8/8/4K3 w - - 0 99999999999"}) {
        ASSERT_EQ(validateFen(fen), "") << fen;
        TestPosition p(fen);
        EXPECT_EQ(p->hashKey, bare) << fen;
        EXPECT_EQ(p->fiftyMoveCounter, 0) << fen;
    }
    EXPECT_EQ(TestPosition("r3k3/8/8/8/8/8/8/4K2R w KQkq - 0 1")->hashKey,
              TestPosition("r3k3/8/8/8/8/8/8/4K2R w Kq - 0 1")->hashKey);
    EXPECT_NE(TestPosition("4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1")->hashKey,
              TestPosition("4k3/8/8/3pP3/8/8/8/4K3 w - - 0 1")->hashKey);
    // The move number tells the time allocation how far the game is.
    EXPECT_EQ(TestPosition("4k3/8/8/8/8/8/8/4K3 b - - 0 40")->historyLength, 80);
}

TEST(MoveText, WrittenAndRead) {
    auto has = [](const char* fen, const char* text) { return countMoves(TestPosition(fen).get(), text) == 1; };
    EXPECT_TRUE(has("4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1", "e5d6"));  // en passant: the target square
    EXPECT_TRUE(has("4k3/8/8/8/3pP3/8/8/4K3 b - e3 0 1", "d4e3"));
    EXPECT_TRUE(has("4k3/8/8/8/8/8/1p6/R3K3 b - - 0 1", "b2a1n"));
    EXPECT_TRUE(has("r3k3/8/8/8/8/8/8/4K3 b q - 0 1", "e8c8"));
    TestPosition p("4k3/P7/8/8/8/8/8/4K3 w - - 0 1");
    for (const char* bad : {"", "zz", "a7a8", "a7a8k", "a7b8q", "a7a8qq", "e1e1", "e2e4"})
        EXPECT_FALSE(makeGameMoveText(p.get(), bad, nullptr)) << bad;
    ASSERT_TRUE(makeGameMoveText(p.get(), "a7a8N", nullptr));  // GUIs send lower case; upper case is read too
    EXPECT_EQ(p->board[56], WKNIGHT);
}

// The position as a FEN with the castling and en-passant state of `ply`.
std::string toFen(const Position* pos, int ply) {
    std::string s;
    for (int r = 7; r >= 0; r--) {
        for (int f = 0, empty = 0; f < 8; f++) {
            const int code = pos->board[r * 8 + f];
            if (code && empty) s += (char)('0' + empty);
            empty = code ? 0 : empty + 1;
            if (code) s += PIECE_LETTERS[code];
            if (f == 7 && empty) s += (char)('0' + empty);
        }
        if (r) s += '/';
    }
    s += pos->sideToMove == WHITE ? " w " : " b ";
    const int cr = pos->plyStack[ply].castlingRights, ep = pos->plyStack[ply].enpassantSquare;
    const std::pair<int, char> rights[] = {{WHITE_OO, 'K'}, {WHITE_OOO, 'Q'}, {BLACK_OO, 'k'}, {BLACK_OOO, 'q'}};
    for (auto [right, letter] : rights)
        if (cr & right) s += letter;
    if (!cr) s += '-';
    return s + (ep ? " " + squareToString(pos->sideToMove == WHITE ? ep + 8 : ep - 8) : " -") + " 0 1";
}

// Everything a move updates incrementally, as one list of numbers.
std::vector<int64_t> state(const Position* p) {
    std::vector<int64_t> s(p->board, p->board + 64);
    s.insert(s.end(), p->pieceBitboard, p->pieceBitboard + 14);
    for (int64_t v : {(int64_t)p->hashKey, (int64_t)p->pawnHashKey, (int64_t)p->materialScore[0],
                      (int64_t)p->materialScore[1], (int64_t)p->pieceSquareSum[0], (int64_t)p->pieceSquareSum[1],
                      (int64_t)p->gamePhase, (int64_t)p->sideToMove})
        s.push_back(v);
    return s;
}

// Make every legal move, compare with the position set up from scratch,
// recurse, unmake and check that everything is as before.  Whether the move
// checks, asked before it is made, must agree with the board after it, and so
// must the key foreseen for an ordinary move or double step.
void roundTrip(Position* pos, int ply, int depth, int& checked, int& checks) {
    generateMovesLegal(ply, pos->plyStack[ply].moveListStart, pos);
    for (Move* m = pos->plyStack[ply].moveListStart; m < pos->plyStack[ply].moveListEnd; m++) {
        std::vector<int64_t> before = state(pos);
        before.insert(before.end(), {pos->historyLength, pos->fiftyMoveCounter});
        const bool givesCheck = moveGivesCheck(pos, *m);
        const uint64_t keyGuess = keyAfterGuess(pos, ply, *m);
        const std::string text = moveToText(m, pos->sideToMove);
        makeMove(pos, ply, *m);
        ASSERT_EQ(givesCheck, sideInCheck(pos, pos->sideToMove)) << text << " after " << toFen(pos, ply + 1);
        // The key the search fetches a bucket for before it makes the move.
        if (m->moveType == MT_NORMAL || m->moveType == MT_DOUBLE) {
            ASSERT_EQ(keyGuess, pos->hashKey) << text;
        }
        checks += givesCheck;
        ASSERT_EQ(state(pos), state(TestPosition(toFen(pos, ply + 1)).get())) << toFen(pos, ply + 1);
        ASSERT_EQ(pos->keyHistory[pos->historyLength - 1], pos->hashKey);
        checked++;
        if (depth > 1) roundTrip(pos, ply + 1, depth - 1, checked, checks);
        unmakeMove(pos, ply, *m);
        std::vector<int64_t> after = state(pos);
        after.insert(after.end(), {pos->historyLength, pos->fiftyMoveCounter});
        ASSERT_EQ(after, before) << "after unmaking " << moveToText(m, pos->sideToMove);
    }
}

// The positions of the perft regression file: positions whose every move
// another engine has counted.
std::vector<std::string> perftFileFens() {
    std::ifstream in(TARNWICK_SOURCE_DIR "/data/perft.txt");
    std::vector<std::string> fens;
    for (std::string line; std::getline(in, line);) fens.push_back(line.substr(0, line.find(';')));
    return fens;
}

TEST(MakeUnmake, RoundTripTwoPliesOverVariedPositions) {
    std::vector<std::string> fens = perftFileFens();
    // Checks that only the special moves give: an en-passant capture that
    // uncovers a rook or bishop, castling that brings the rook to the king's
    // file, promotions (with and without capture) to every piece, and a king
    // move off a line that uncovers its own rook.
    for (const char* fen : {"8/8/8/1k1pP2R/8/8/8/4K3 w - d6 0 1", "8/8/8/8/r2pP2K/8/8/4k3 b - e3 0 1",
                            "5k2/8/8/8/8/8/8/4K2R w K - 0 1", "2r1k3/1P6/8/8/8/8/8/4K3 w - - 0 1",
                            "4k3/8/8/8/8/8/6p1/4KR2 b - - 0 1", "8/8/8/8/8/8/8/R3K2k w Q - 0 1"})
        fens.push_back(fen);
    int checked = 0, checks = 0;
    for (const std::string& fen : fens) {
        TestPosition p(fen);
        roundTrip(p.get(), 0, 2, checked, checks);
        if (HasFatalFailure()) return;
    }
    EXPECT_GT(fens.size(), 30u);
    EXPECT_GT(checked, 10000);
    EXPECT_GT(checks, 100);

    // A null move passes the turn and clears the en-passant square (one
    // that a black pawn could take on).
    TestPosition d("rnbqkbnr/ppp1pppp/8/8/3p4/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
    makeGameMoveText(d.get(), "e2e4", nullptr);
    ASSERT_NE(d->plyStack[0].enpassantSquare, 0);
    const uint64_t saved = makeNullMove(d.get(), 0);
    EXPECT_EQ(d->hashKey, TestPosition(toFen(d.get(), 1))->hashKey);
    EXPECT_EQ(toFen(d.get(), 1), "rnbqkbnr/ppp1pppp/8/8/3pP3/8/PPPP1PPP/RNBQKBNR w KQkq - 0 1");
    unmakeNullMove(d.get(), 0, saved);
    EXPECT_EQ(d->hashKey, saved);
}

// perft's last ply counts moves without writing them; compare that count
// (and the check flag it finds on the way) with the written lists, filtered
// by moveIsLegal out of check, in every position down to `depth` plies below
// the given one.
void compareLastPlyCounts(Position* pos, int ply, int depth, int& compared) {
    PlyEntry& c = pos->plyStack[ply];
    const bool check = sideInCheck(pos, pos->sideToMove);
    c.inCheck = check;
    generateMovesCaptures(ply, c.moveListStart, pos);
    int legal = (int)(c.moveListEnd - c.moveListStart);
    if (!check) {
        generateMovesQuiets(ply, c.moveListEnd, pos);
        legal = 0;
        for (Move* m = c.moveListStart; m < c.moveListEnd; m++) legal += moveIsLegal(pos, ply, *m);
    }
    Move* const end = c.moveListEnd;
    ASSERT_EQ(countLegalMoves(ply, pos), legal) << toFen(pos, ply);
    ASSERT_EQ(c.inCheck, check) << toFen(pos, ply);
    compared++;
    c.moveListEnd = check ? end : keepLegalMoves(pos, ply, c.moveListStart, end);
    pos->plyStack[ply + 1].moveListStart = c.moveListEnd;
    if (depth == 0) return;
    for (Move* m = c.moveListStart; m < c.moveListEnd; m++) {
        makeMove(pos, ply, *m);
        compareLastPlyCounts(pos, ply + 1, depth - 1, compared);
        unmakeMove(pos, ply, *m);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

TEST(Perft, LastPlyCountsAgreeWithTheTestedLists) {
    std::vector<std::string> fens = perftFileFens();
    // Pinned pawns: pushes along the pin, a capture of the pinner (with
    // promotion), pushes and captures off the line; for both colours.
    for (const char* fen : {"4k3/4r3/8/8/8/8/4P3/4K3 w - - 0 1", "4k3/8/8/8/8/2b5/3P4/4K3 w - - 0 1",
                            "b1n4k/1P6/8/8/4K3/8/8/8 w - - 0 1", "4k3/3pp3/2B5/8/8/8/8/3KR3 b - - 0 1",
                            "8/8/8/4k3/8/8/1p6/B1N4K b - - 0 1"})
        fens.push_back(fen);
    int compared = 0;
    for (const std::string& fen : fens) {
        TestPosition p(fen);
        compareLastPlyCounts(p.get(), 0, 3, compared);
        if (HasFatalFailure()) return;
    }
    EXPECT_GT(compared, 300000);
}

}  // namespace
