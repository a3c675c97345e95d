// The position: FEN reading, move text, making and unmaking moves against
// positions set up from scratch, and the exchange test.
#include <gtest/gtest.h>

#include "movegen.h"
#include "test_support.h"
#include "uci.h"

namespace {

TEST(Fen, RejectedWithAReasonOrFittedToTheBoard) {
    for (const char* fen : {
             "",
             "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR",              // no side to move
             "rnbqkbnr/pppppppp/9/8/8/8/PPPPPPPP/RNBQKBNR w - - 0 1",    // digit 9
             "rnbqkbnr/ppppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w - - 0 1",   // rank too long
             "rnbqkbnr/ppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w - - 0 1",     // rank too short
             "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP w - - 0 1",             // seven ranks
             "rnbqkbnr/pppppppp/8/8/8/8/8/PPPPPPPP/RNBQKBNR w - - 0 1",  // nine ranks
             "rnbqkbnr/ppppxppp/8/8/8/8/PPPPPPPP/RNBQKBNR w - - 0 1",    // unknown letter
             "rnbq1bnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w - - 0 1",    // no black king
             "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKKNR w - - 0 1",    // two white kings
             "rnbqkbnp/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w - - 0 1",    // pawn on rank 8
             "4k3/8/8/8/8/QQQQQQQQ/QQQQQQQQ/QQQQKQQQ w - - 0 1",         // 24 white men
             "4k3/8/8/8/8/8/8/4K2r b - - 0 1",                           // the side not to move in check
             "4k3/8/8/8/8/8/8/4K3 x - - 0 1",                            // side field
         })
        EXPECT_NE(validateFen(fen), "") << fen;
    // The fields after the side to move only add detail.  What does not fit
    // the board is dropped, so the position (and its key, which repetitions
    // are found by) is the one without it.
    const uint64_t bare = TestPosition("4k3/8/8/8/8/8/8/4K3 w - - 0 1")->hashKey;
    for (const char* fen :
         {"4k3/8/8/8/8/8/8/4K3 w", "4k3/8/8/8/8/8/8/4K3 w KQkq e6 0 1", "4k3/8/8/8/8/8/8/4K3 w - e9 x 1",
          "4k3/8/8/8/8/8/8/4K3 w - - -4 -1", "4k3/8/8/8/8/8/8/4K3 w - - 0 99999999999"}) {
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
    EXPECT_EQ(TestPosition("4k3/8/8/8/8/8/8/4K3 b - - 0 40").game()->keys.length, 80);
}

TEST(MoveText, WrittenAndRead) {
    auto has = [](const char* fen, const char* text) { return countMoves(TestPosition(fen).get(), text) == 1; };
    EXPECT_TRUE(has("4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1", "e5d6"));  // en passant: the target square
    EXPECT_TRUE(has("4k3/8/8/8/3pP3/8/8/4K3 b - e3 0 1", "d4e3"));
    EXPECT_TRUE(has("4k3/8/8/8/8/8/1p6/R3K3 b - - 0 1", "b2a1n"));
    EXPECT_TRUE(has("r3k3/8/8/8/8/8/8/4K3 b q - 0 1", "e8c8"));
    TestPosition p("4k3/P7/8/8/8/8/8/4K3 w - - 0 1");
    for (const char* bad : {"", "zz", "a7a8", "a7a8k", "a7b8q", "a7a8qq", "e1e1", "e2e4"})
        EXPECT_FALSE(makeGameMoveText(p.game(), bad, nullptr)) << bad;
    ASSERT_TRUE(makeGameMoveText(p.game(), "a7a8N", nullptr));  // GUIs send lower case; upper case is read too
    EXPECT_EQ(p->board[56], WKNIGHT);
}

// Everything a move updates incrementally, as one list of numbers.
std::vector<int64_t> state(const Position* p) {
    std::vector<int64_t> s(p->board, p->board + 64);
    s.insert(s.end(), p->pieceBitboard, p->pieceBitboard + 14);
    for (int64_t v :
         {(int64_t)p->hashKey, (int64_t)p->pawnHashKey, (int64_t)p->materialScore[0], (int64_t)p->materialScore[1],
          (int64_t)p->pieceSquareSum[0], (int64_t)p->pieceSquareSum[1], (int64_t)p->gamePhase, (int64_t)p->sideToMove})
        s.push_back(v);
    return s;
}

// Make every legal move, compare with the position set up from scratch,
// recurse, unmake and check that everything is as before.  Whether the move
// checks, asked before it is made, must agree with the board after it, and so
// must the key foreseen for an ordinary move or double step.
void roundTrip(Position* pos, int depth, int& checked, int& checks) {
    Move list[MAX_MOVES];
    for (Move *m = list, *end = generateMovesLegal(pos, list); m < end; m++) {
        std::vector<int64_t> before = state(pos);
        before.insert(before.end(), {pos->fiftyMoveCounter, pos->castlingRights, pos->enpassantSquare, pos->inCheck,
                                     (int64_t)pos->notPinnedMask});
        const bool givesCheck = moveGivesCheck(pos, *m);
        const uint64_t keyGuess = keyAfterGuess(pos, *m);
        const std::string text = moveToText(m, pos->sideToMove);
        BoardState saved;
        makeMove(pos, *m, saved);
        ASSERT_EQ(givesCheck, sideInCheck(pos, pos->sideToMove)) << text << " after " << toFen(pos);
        // The key the search fetches a bucket for before it makes the move.
        if (m->moveType == MT_NORMAL || m->moveType == MT_DOUBLE) {
            ASSERT_EQ(keyGuess, pos->hashKey) << text;
        }
        checks += givesCheck;
        ASSERT_EQ(state(pos), state(TestPosition(toFen(pos)).get())) << toFen(pos);
        checked++;
        if (depth > 1) roundTrip(pos, depth - 1, checked, checks);
        unmakeMove(pos, *m, saved);
        std::vector<int64_t> after = state(pos);
        after.insert(after.end(), {pos->fiftyMoveCounter, pos->castlingRights, pos->enpassantSquare, pos->inCheck,
                                   (int64_t)pos->notPinnedMask});
        ASSERT_EQ(after, before) << "after unmaking " << moveToText(m, pos->sideToMove);
    }
}

TEST(MakeUnmake, RoundTripTwoPliesOverVariedPositions) {
    std::vector<std::string> fens = perftFileFens();
    // Checks that only the special moves give: an en-passant capture that
    // uncovers a rook or bishop, castling that brings the rook to the king's
    // file, promotions (with and without capture) to every piece, and a king
    // move off a line that uncovers its own rook.
    for (const char* fen :
         {"8/8/8/1k1pP2R/8/8/8/4K3 w - d6 0 1", "8/8/8/8/r2pP2K/8/8/4k3 b - e3 0 1", "5k2/8/8/8/8/8/8/4K2R w K - 0 1",
          "2r1k3/1P6/8/8/8/8/8/4K3 w - - 0 1", "4k3/8/8/8/8/8/6p1/4KR2 b - - 0 1", "8/8/8/8/8/8/8/R3K2k w Q - 0 1"})
        fens.push_back(fen);
    int checked = 0, checks = 0;
    for (const std::string& fen : fens) {
        TestPosition p(fen);
        roundTrip(p.get(), 2, checked, checks);
        if (HasFatalFailure()) return;
    }
    EXPECT_GT(fens.size(), 30u);
    EXPECT_GT(checked, 10000);
    EXPECT_GT(checks, 100);

    // A null move passes the turn and clears the en-passant square (one
    // that a black pawn could take on).
    TestPosition d("rnbqkbnr/ppp1pppp/8/8/3p4/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
    makeGameMoveText(d.game(), "e2e4", nullptr);
    ASSERT_NE(d->enpassantSquare, 0);
    const Position before = *d.get();
    BoardState saved;
    makeNullMove(d.get(), saved);
    EXPECT_EQ(d->hashKey, TestPosition(toFen(d.get()))->hashKey);
    EXPECT_EQ(toFen(d.get()), "rnbqkbnr/ppp1pppp/8/8/3pP3/8/PPPP1PPP/RNBQKBNR w KQkq - 0 1");
    unmakeNullMove(d.get(), saved);
    EXPECT_EQ(d->hashKey, before.hashKey);
    EXPECT_EQ(d->enpassantSquare, before.enpassantSquare);
}

TEST(Exchange, StaticExchangeTest) {
    auto see = [](const char* fen, const char* text) {
        TestPosition p(fen);
        Move m = findMove(p.get(), text);
        EXPECT_NE(moveToWord(m), 0u) << text;
        return seeAtLeast(p.get(), m, 0);
    };
    EXPECT_FALSE(see("4k3/8/2b5/8/4r3/8/8/4Q1K1 w - - 0 1", "e1e4"));  // queen takes rook guarded by a bishop
    EXPECT_TRUE(see("4k3/8/2b5/8/4n3/8/2B5/6K1 w - - 0 1", "c2e4"));   // bishop takes knight: even
    EXPECT_FALSE(see("4k3/8/3p4/4p3/8/8/8/4R1K1 w - - 0 1", "e1e5"));  // rook takes a pawn guarded by a pawn
    // The queen behind the capturing rook joins in (an x-ray).
    EXPECT_TRUE(see("3r2k1/8/3p4/8/8/8/3R4/3Q2K1 w - - 0 1", "d2d6"));
    EXPECT_FALSE(see("3r2k1/8/3p4/8/8/8/3R4/6K1 w - - 0 1", "d2d6"));
    // Knight takes a pawn that only a rook defends, a bishop backing it up.
    EXPECT_TRUE(see("3r2k1/8/8/3p4/8/2N2B2/8/6K1 w - - 0 1", "c3d5"));
    EXPECT_TRUE(seeAtLeast(TestPosition("4k3/8/8/3p4/4P3/8/8/4K3 w - - 0 1").get(),
                           findMove(TestPosition("4k3/8/8/3p4/4P3/8/8/4K3 w - - 0 1").get(), "e4d5"), 88));
}

}  // namespace
