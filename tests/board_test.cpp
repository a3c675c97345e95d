// Board model: tables, FEN reading, keys, make/unmake and move generation.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "test_support.h"

namespace {

U64 sq(const char* s) { return bit((s[0] - 'a') + 8 * (s[1] - '1')); }
U64 squares(std::initializer_list<const char*> list) {
    U64 b = 0;
    for (auto s : list) b |= sq(s);
    return b;
}
int sqi(const char* s) { return (s[0] - 'a') + 8 * (s[1] - '1'); }

TEST(Tables, SliderAttacksAgreeWithRayWalks) {
    // Every occupancy subset of every square, through the lookup in use by
    // this build, against a plain ray walk.
    for (int s = 0; s < 64; s++) {
        for (int kind = 0; kind < 2; kind++) {
            const sliderLookup& l = kind ? bishopAttackLUT[s] : rookAttackLUT[s];
            U64 sub = 0;
            do {
                U64 expected = 0;
                const int dirs[2][4][2] = {{{1, 0}, {-1, 0}, {0, 1}, {0, -1}}, {{1, 1}, {1, -1}, {-1, 1}, {-1, -1}}};
                for (auto& d : dirs[kind]) {
                    int f = fileOf(s) + d[0], r = rankOf(s) + d[1];
                    while (f >= 0 && f < 8 && r >= 0 && r < 8) {
                        expected |= bit(r * 8 + f);
                        if (sub & bit(r * 8 + f)) break;
                        f += d[0];
                        r += d[1];
                    }
                }
                U64 got = kind ? bishopAttacks(s, sub | bit(s)) : rookAttacks(s, sub);
                ASSERT_EQ(got, expected) << "square " << s << " kind " << kind;
                sub = (sub - l.mask) & l.mask;
            } while (sub);
        }
    }
}

TEST(Tables, MagicSearchReproducesStoredMultipliers) {
    initSliderAttacks(true);
    for (int s = 0; s < 64; s++) {
        EXPECT_EQ(rookAttackLUT[s].magic, storedRookMagics[s]) << s;
        EXPECT_EQ(bishopAttackLUT[s].magic, storedBishopMagics[s]) << s;
    }
    initSliderAttacks(false);
}

TEST(Tables, GeometryEdgeCases) {
    EXPECT_EQ(rookAttacks(0, 0), squares({"b1", "c1", "d1", "e1", "f1", "g1", "h1", "a2", "a3", "a4", "a5", "a6", "a7", "a8"}));
    EXPECT_EQ(rookAttacks(0, sq("d1")) & 0xff, squares({"b1", "c1", "d1"}));
    EXPECT_EQ(popcount(rookAttackLUT[0].mask), 12);
    EXPECT_EQ(rookAttackLUT[1].table - rookAttackLUT[0].table, 4096);
    EXPECT_EQ(popcount(bishopAttackLUT[sqi("d4")].mask), 9);
    EXPECT_EQ(popcount(rookAttackLUT[sqi("d4")].mask), 10);
    EXPECT_EQ(inBetweenSquares[0][63], squares({"b2", "c3", "d4", "e5", "f6", "g7"}));
    EXPECT_EQ(inBetweenSquares[0][sqi("b3")], 0u);
    EXPECT_EQ(inBetweenSquares[0][1], 0u);
    EXPECT_EQ(inLineSquares[sqi("c1")][sqi("e3")], squares({"c1", "d2", "e3", "f4", "g5", "h6"}));
    EXPECT_EQ(inLineSquares[0][0], 0u);
    EXPECT_EQ(attackByPawnTable[WHITE][sqi("e4")], squares({"d3", "f3"}));
    EXPECT_EQ(attackByPawnTable[BLACK][sqi("e4")], squares({"d5", "f5"}));
    EXPECT_EQ(attackByPawnTable[WHITE][sqi("a3")], squares({"b2"}));
    EXPECT_EQ(enpassantTable[sqi("e5")], squares({"d5", "f5"}));
    EXPECT_EQ(enpassantTable[sqi("a4")], squares({"b4"}));
    EXPECT_EQ(enpassantTable[sqi("e6")], 0u);
    EXPECT_EQ(passedPawnsMask[WHITE][sqi("e2")], (files[3] | files[4] | files[5]) & ~0xffffULL);
    EXPECT_EQ(passedPawnsMask[BLACK][sqi("a7")], (files[0] | files[1]) & 0xffffffffffffULL);
    EXPECT_EQ(passedPawnsMask[WHITE][sqi("e1")], 0u);
    EXPECT_EQ(distance[0][63], 7);
    EXPECT_EQ(distance[sqi("e4")][sqi("f6")], 2);
    // King boxes: g1 -> f1..h4, g8 -> f5..h8, a4 -> a3..c6.
    EXPECT_EQ(kingSafetyArea[WHITE][sqi("g1")], 0x07070707ULL << sqi("f1"));
    EXPECT_EQ(kingSafetyArea[BLACK][sqi("g8")], 0x07070707ULL << sqi("f5"));
    EXPECT_EQ(kingSafetyArea[WHITE][sqi("a4")], 0x07070707ULL << sqi("a3"));
    // Late-move reductions: entry 3 is always 1; the formula elsewhere.
    EXPECT_EQ(LMR[3][4], 0);
    EXPECT_EQ(LMR[20][64], 11);
    EXPECT_EQ(LMR[10][12], 3);
    for (int d = 0; d < 128; d++) EXPECT_EQ(LMR[d][3], 1);
}

TEST(Fen, StartPositionAndCounters) {
    TestPosition p(fenStartPos);
    EXPECT_EQ(popcount(p->pieceBitboard[0] | p->pieceBitboard[1]), 32);
    EXPECT_EQ(p->pieceBitboard[0], 0xffffULL);
    EXPECT_EQ(p->pieceBitboard[1], 0xffff000000000000ULL);
    EXPECT_EQ(p->board[4], WKING);
    EXPECT_EQ(p->board[60], BKING);
    EXPECT_EQ(p->plyStack[0].castlingRights, 15);
    EXPECT_EQ(p->plyStack[0].enpassantSquare, 0);
    EXPECT_EQ(p->historyLength, 1);
    EXPECT_EQ(p->keyHistory[0], p->hashKey);

    TestPosition late("4k3/8/8/8/8/8/8/4K3 b - - 0 40");
    EXPECT_EQ(late->historyLength, 80);
    for (int i = 0; i < 79; i++) EXPECT_EQ(late->keyHistory[i], 0u);
    EXPECT_EQ(late->keyHistory[79], late->hashKey);
    EXPECT_EQ(TestPosition("4k3/8/8/8/8/8/8/4K3 w - - 0 300")->historyLength, 513);
    EXPECT_EQ(TestPosition("4k3/8/8/8/8/8/8/4K3 w - - 0 99999999999")->historyLength, 513);

    TestPosition bare("4k3/8/8/8/8/8/8/4K3 w");
    EXPECT_EQ(bare->plyStack[0].castlingRights, 0);
    EXPECT_EQ(bare->fiftyMoveCounter, 0);
    EXPECT_EQ(bare->historyLength, 1);
}

TEST(Fen, EnPassantAndCastlingFields) {
    // The pawn's square is stored, not the target square.
    EXPECT_EQ(TestPosition("4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1")->plyStack[0].enpassantSquare, sqi("d5"));
    EXPECT_EQ(TestPosition("4k3/8/8/8/4Pp2/8/8/4K3 b - e3 0 1")->plyStack[0].enpassantSquare, sqi("e4"));
    // A target square with no pawn that could just have moved is ignored.
    EXPECT_EQ(TestPosition("4k3/8/8/8/8/8/8/4K3 w - e6 0 1")->plyStack[0].enpassantSquare, 0);
    // Rights without the king or rook at home are dropped.
    EXPECT_EQ(TestPosition("4k3/8/8/8/8/8/8/4K3 w KQkq - 0 1")->plyStack[0].castlingRights, 0);
    EXPECT_EQ(TestPosition("r3k3/8/8/8/8/8/8/4K2R w KQkq - 0 1")->plyStack[0].castlingRights, WHITE_OO | BLACK_OOO);
}

TEST(Fen, MalformedTextIsRejectedWithAReason) {
    const char* bad[] = {
        "",
        "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR",            // no side to move
        "rnbqkbnr/pppppppp/9/8/8/8/PPPPPPPP/RNBQKBNR w - - 0 1",  // digit 9
        "rnbqkbnr/ppppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w - - 0 1", // rank too long
        "rnbqkbnr/ppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w - - 0 1",   // rank too short
        "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP w - - 0 1",           // seven ranks
        "rnbqkbnr/pppppppp/8/8/8/8/8/PPPPPPPP/RNBQKBNR w - - 0 1", // nine ranks
        "rnbqkbnr/ppppxppp/8/8/8/8/PPPPPPPP/RNBQKBNR w - - 0 1",  // unknown letter
        "rnbq1bnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w - - 0 1",  // no black king
        "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKKNR w - - 0 1",  // two white kings
        "rnbqkbnp/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w - - 0 1",  // pawn on rank 8
        "4k3/8/8/8/8/QQQQQQQQ/QQQQQQQQ/QQQQKQQQ w - - 0 1",       // 24 white men
        "4k3/8/8/8/8/8/8/4K2r b - - 0 1",                         // white (not to move) in check
        "4k3/8/8/8/8/8/8/4K3 x - - 0 1",                          // side field
    };
    for (const char* fen : bad) EXPECT_FALSE(validateFen(fen).empty()) << fen;
    // The fields after the side to move only add detail; what does not fit
    // the board is dropped when the position is set up.
    for (const char* fen : {"4k3/8/8/8/8/8/8/4K3 w", "4k3/8/8/8/8/8/8/4K3 w - e9 0 1", "4k3/8/8/8/8/8/8/4K3 w - - x 1",
                            "4k3/8/8/8/8/8/8/4K3 w - - 0 one", "4k3/8/8/8/8/8/8/4K3 w - - -4 -1"})
        EXPECT_EQ(validateFen(fen), "") << fen;
    EXPECT_TRUE(validateFen(fenStartPos).empty());
    TestPosition p("4k3/8/8/8/8/8/8/4K3 w - e6 -4 -1");
    EXPECT_EQ(p->plyStack[0].enpassantSquare, 0);
    EXPECT_EQ(p->fiftyMoveCounter, 0);
    EXPECT_EQ(p->historyLength, 1);
}

TEST(MoveText, LongAlgebraicForms) {
    moveStruct ep = {(uint8_t)sqi("e5"), (uint8_t)sqi("d5"), MT_ENPASSANT, 0};
    EXPECT_EQ(moveToLA(&ep, WHITE), "e5d6");
    moveStruct epBlack = {(uint8_t)sqi("d4"), (uint8_t)sqi("e4"), MT_ENPASSANT, 0};
    EXPECT_EQ(moveToLA(&epBlack, BLACK), "d4e3");
    moveStruct promo = {(uint8_t)sqi("b2"), (uint8_t)sqi("a1"), MT_PROMO_N, 0};
    EXPECT_EQ(moveToLA(&promo, BLACK), "b2a1n");
    moveStruct castle = {(uint8_t)sqi("e8"), (uint8_t)sqi("c8"), MT_CASTLE_Q, 0};
    EXPECT_EQ(moveToLA(&castle, BLACK), "e8c8");
    TestPosition p(fenStartPos);
    p->pvLastIndex = 0;
    p->plyStack[0].pvMove = {(uint8_t)sqi("e2"), (uint8_t)sqi("e4"), MT_DOUBLE, 0};
    EXPECT_EQ(PVToString(p.get()), "e2e4 ");
}

// The position in `pos` as a FEN, with the castling and en-passant state of
// the given ply, so it can be set up again from scratch.
std::string toFen(const positionStruct* pos, int ply) {
    std::string s;
    for (int r = 7; r >= 0; r--) {
        int empty = 0;
        for (int f = 0; f < 8; f++) {
            int code = pos->board[r * 8 + f];
            if (!code) {
                empty++;
                continue;
            }
            if (empty) s += (char)('0' + empty);
            empty = 0;
            s += fenLabelPieces[code];
        }
        if (empty) s += (char)('0' + empty);
        if (r) s += '/';
    }
    s += pos->sideToMove == WHITE ? " w " : " b ";
    int cr = pos->plyStack[ply].castlingRights;
    std::string c;
    if (cr & WHITE_OO) c += 'K';
    if (cr & WHITE_OOO) c += 'Q';
    if (cr & BLACK_OO) c += 'k';
    if (cr & BLACK_OOO) c += 'q';
    s += c.empty() ? "-" : c;
    int ep = pos->plyStack[ply].enpassantSquare;
    s += ep ? " " + squareToString(pos->sideToMove == WHITE ? ep + 8 : ep - 8) : " -";
    return s + " 0 1";
}

struct Snapshot {
    uint8_t board[64];
    U64 bitboards[14], hashKey, pawnHashKey;
    int32_t material[2], pst[2];
    int gamePhase, historyLength, fifty, side;
    explicit Snapshot(const positionStruct* p) {
        std::memcpy(board, p->board, 64);
        std::memcpy(bitboards, p->pieceBitboard, sizeof bitboards);
        hashKey = p->hashKey;
        pawnHashKey = p->pawnHashKey;
        material[0] = p->materialScore[0];
        material[1] = p->materialScore[1];
        pst[0] = p->pieceSquareSum[0];
        pst[1] = p->pieceSquareSum[1];
        gamePhase = p->gamePhase;
        historyLength = p->historyLength;
        fifty = p->fiftyMoveCounter;
        side = p->sideToMove;
    }
    bool operator==(const Snapshot& o) const {
        return !std::memcmp(board, o.board, 64) && !std::memcmp(bitboards, o.bitboards, sizeof bitboards) &&
               hashKey == o.hashKey && pawnHashKey == o.pawnHashKey && material[0] == o.material[0] &&
               material[1] == o.material[1] && pst[0] == o.pst[0] && pst[1] == o.pst[1] &&
               gamePhase == o.gamePhase && historyLength == o.historyLength && fifty == o.fifty && side == o.side;
    }
};

// Make every legal move, check the incremental state against a position set
// up from scratch, recurse one more ply, unmake and check that nothing moved.
void roundTrip(positionStruct* pos, int ply, int depth, int& checked) {
    generateMovesLegal(ply, pos->plyStack[ply].moveListStart, pos);
    for (moveStruct* m = pos->plyStack[ply].moveListStart; m < pos->plyStack[ply].moveListEnd; m++) {
        Snapshot before(pos);
        makeMove(pos, ply, *m);
        TestPosition scratch(toFen(pos, ply + 1));
        ASSERT_EQ(pos->hashKey, scratch->hashKey) << toFen(pos, ply + 1);
        ASSERT_EQ(pos->pawnHashKey, scratch->pawnHashKey);
        ASSERT_EQ(pos->materialScore[0], scratch->materialScore[0]);
        ASSERT_EQ(pos->materialScore[1], scratch->materialScore[1]);
        ASSERT_EQ(pos->pieceSquareSum[0], scratch->pieceSquareSum[0]);
        ASSERT_EQ(pos->pieceSquareSum[1], scratch->pieceSquareSum[1]);
        ASSERT_EQ(pos->gamePhase, scratch->gamePhase);
        ASSERT_EQ(pos->keyHistory[pos->historyLength - 1], pos->hashKey);
        for (int c = 2; c < 14; c++) ASSERT_EQ(pos->pieceBitboard[c], scratch->pieceBitboard[c]);
        ASSERT_EQ(pos->pieceBitboard[0], scratch->pieceBitboard[0]);
        ASSERT_EQ(pos->pieceBitboard[1], scratch->pieceBitboard[1]);
        checked++;
        if (depth > 1) roundTrip(pos, ply + 1, depth - 1, checked);
        unmakeMove(pos, ply, *m);
        ASSERT_TRUE(Snapshot(pos) == before) << "after unmaking " << moveToLA(m, pos->sideToMove);
    }
}

TEST(MakeUnmake, RoundTripTwoPliesOverVariedPositions) {
    std::ifstream in(TARNWICK_SOURCE_DIR "/data/perft.txt");
    std::string line;
    int positions = 0, checked = 0;
    while (std::getline(in, line)) {
        TestPosition p(line.substr(0, line.find(';')));
        roundTrip(p.get(), 0, 2, checked);
        if (HasFatalFailure()) return;
        positions++;
    }
    EXPECT_GT(positions, 30);
    EXPECT_GT(checked, 10000);
}

TEST(MakeUnmake, CastlingRightsAndNullMove) {
    TestPosition p("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1");
    auto rightsAfter = [&](const char* text) {
        moveStruct m = findMove(p.get(), text);
        makeMove(p.get(), 0, m);
        int r = p->plyStack[1].castlingRights;
        U64 key = p->hashKey;
        unmakeMove(p.get(), 0, m);
        (void)key;
        return r;
    };
    EXPECT_EQ(rightsAfter("a1a8"), 15 & ~WHITE_OOO & ~BLACK_OOO);  // capture on a8 and rook leaves a1
    EXPECT_EQ(rightsAfter("h1h8"), 15 & ~WHITE_OO & ~BLACK_OO);
    EXPECT_EQ(rightsAfter("e1g1"), BLACK_OO | BLACK_OOO);
    EXPECT_EQ(rightsAfter("a1b1"), 15 & ~WHITE_OOO);
    // Losing the last right changes the key by the two castling numbers.
    TestPosition q("4k3/8/8/8/8/8/8/4K2R w K - 0 1");
    U64 before = q->hashKey;
    moveStruct m = findMove(q.get(), "h1h2");
    makeMove(q.get(), 0, m);
    EXPECT_EQ(q->hashKey ^ before, hashCodeCastling[1] ^ hashCodeCastling[0] ^ hashCodeBlackToMove ^
                                       hashCodePiece[WROOK][sqi("h1")] ^ hashCodePiece[WROOK][sqi("h2")]);
    unmakeMove(q.get(), 0, m);

    // A double step always sets the square; a null move clears it again.
    TestPosition d(fenStartPos);
    moveStruct e4 = findMove(d.get(), "e2e4");
    makeMove(d.get(), 0, e4);
    EXPECT_EQ(d->plyStack[1].enpassantSquare, sqi("e4"));
    EXPECT_EQ(d->hashKey, calcHashKeyOfPly(d.get(), 1));
    int length = d->historyLength;
    U64 saved = makeNullMove(d.get(), 1);
    EXPECT_EQ(d->plyStack[2].enpassantSquare, 0);
    EXPECT_EQ(d->plyStack[2].castlingRights, d->plyStack[1].castlingRights);
    EXPECT_EQ(d->historyLength, length);
    EXPECT_EQ(d->hashKey, saved ^ hashCodeBlackToMove ^ hashCodeEnpassant[4]);
    unmakeNullMove(d.get(), 1, saved);
    EXPECT_EQ(d->hashKey, saved);

    // Promotion with capture: material, piece-square sums and phase.
    TestPosition pr("1r2k3/P7/8/8/8/8/8/4K3 w - - 0 1");
    int32_t whiteBefore = pr->materialScore[WHITE];
    int phaseBefore = pr->gamePhase;
    makeMove(pr.get(), 0, findMove(pr.get(), "a7b8q"));
    EXPECT_EQ(pr->materialScore[WHITE] - whiteBefore, pieceValue[4] - pieceValue[0]);
    EXPECT_EQ(pr->materialScore[BLACK], 0);
    EXPECT_EQ(pr->gamePhase, phaseBefore + 1079 - 478);
}

TEST(MoveGeneration, ListsAndLegality) {
    TestPosition start(fenStartPos);
    start->plyStack[0].inCheck = 0;
    generateMovesCaptures(0, start->plyStack[0].moveListStart, start.get());
    EXPECT_EQ(start->plyStack[0].moveListEnd, start->plyStack[0].moveListStart);
    generateMovesQuiets(0, start->plyStack[0].moveListEnd, start.get());
    EXPECT_EQ(start->plyStack[0].moveListEnd - start->plyStack[0].moveListStart, 20);
    EXPECT_EQ(legalMoves(start.get()).size(), 20u);

    // A pawn that can capture and push on the seventh: four of each kind.
    TestPosition promo("1r2k3/P7/8/8/8/8/8/4K3 w - - 0 1");
    EXPECT_EQ(countMoves(promo.get(), "a7b8"), 4);
    EXPECT_EQ(countMoves(promo.get(), "a7a8"), 4);

    // Castling: not out of check, not through an attacked square, not over
    // men; an attacked b1 does not matter; into an attacked g1 is rejected.
    EXPECT_EQ(countMoves(TestPosition("4k3/8/8/8/8/8/8/R3K2R w KQ - 0 1").get(), "e1g1"), 1);
    EXPECT_EQ(countMoves(TestPosition("4k3/8/8/8/8/8/8/R3K2R w KQ - 0 1").get(), "e1c1"), 1);
    EXPECT_EQ(countMoves(TestPosition("4k3/8/8/8/8/8/4r3/R3K2R w KQ - 0 1").get(), "e1g1"), 0);
    EXPECT_EQ(countMoves(TestPosition("4kr2/8/8/8/8/8/8/R3K2R w KQ - 0 1").get(), "e1g1"), 0);
    EXPECT_EQ(countMoves(TestPosition("4k1r1/8/8/8/8/8/8/R3K2R w KQ - 0 1").get(), "e1g1"), 0);
    EXPECT_EQ(countMoves(TestPosition("1r2k3/8/8/8/8/8/8/R3K2R w KQ - 0 1").get(), "e1c1"), 1);
    EXPECT_EQ(countMoves(TestPosition("4k3/8/8/8/8/8/8/RN2K2R w KQ - 0 1").get(), "e1c1"), 0);

    // Double check: king moves only, never back along the checking line.
    TestPosition dbl("4k3/8/8/8/8/5n2/8/r3K2R w K - 0 1");
    for (auto& t : legalMoves(dbl.get())) EXPECT_EQ(t.substr(0, 2), "e1");
    EXPECT_EQ(countMoves(dbl.get(), "e1f1"), 0);

    // A pinned knight has no move; a pinned bishop only along the pin.
    TestPosition pin("4k3/4r3/8/8/8/8/4N3/4K3 w - - 0 1");
    for (auto& t : legalMoves(pin.get())) EXPECT_NE(t.substr(0, 2), "e2");
    TestPosition pinB("4k3/8/8/8/7q/8/5B2/4K3 w - - 0 1");
    std::set<std::string> bishop;
    for (auto& t : legalMoves(pinB.get()))
        if (t.substr(0, 2) == "f2") bishop.insert(t);
    EXPECT_EQ(bishop, (std::set<std::string>{"f2g3", "f2h4"}));

    // En passant that would open the fifth rank to a rook is not legal,
    // neither as a quiet-position capture nor as a check evasion.
    EXPECT_EQ(countMoves(TestPosition("8/8/8/KPp4r/8/8/8/7k w - c6 0 1").get(), "b5c6"), 0);
    EXPECT_EQ(countMoves(TestPosition("4r3/8/8/3pP3/4K3/8/8/7k w - d6 0 1").get(), "e5d6"), 0);
    EXPECT_EQ(countMoves(TestPosition("8/8/8/3pP3/4K3/8/8/7k w - d6 0 1").get(), "e5d6"), 1);
}

// perft's last ply counts moves without writing them; compare that count
// (and the check flag it finds on the way) with the written lists, filtered
// by moveIsLegal out of check, in every position down to `depth` plies below
// the given one.
void compareLastPlyCounts(positionStruct* pos, int ply, int depth, int& compared) {
    plyEntry& c = pos->plyStack[ply];
    const bool check = sideInCheck(pos, pos->sideToMove);
    c.inCheck = check;
    generateMovesCaptures(ply, c.moveListStart, pos);
    int legal = (int)(c.moveListEnd - c.moveListStart);
    if (!check) {
        generateMovesQuiets(ply, c.moveListEnd, pos);
        legal = 0;
        for (moveStruct* m = c.moveListStart; m < c.moveListEnd; m++) legal += moveIsLegal(pos, ply, *m);
    }
    moveStruct* const end = c.moveListEnd;
    ASSERT_EQ(countLegalMoves(ply, pos), legal) << toFen(pos, ply);
    ASSERT_EQ(c.inCheck, check) << toFen(pos, ply);
    compared++;
    c.moveListEnd = check ? end : keepLegalMoves(pos, ply, c.moveListStart, end);
    pos->plyStack[ply + 1].moveListStart = c.moveListEnd;
    if (depth == 0) return;
    for (moveStruct* m = c.moveListStart; m < c.moveListEnd; m++) {
        makeMove(pos, ply, *m);
        compareLastPlyCounts(pos, ply + 1, depth - 1, compared);
        unmakeMove(pos, ply, *m);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

TEST(Perft, LastPlyCountsAgreeWithTheTestedLists) {
    std::ifstream in(TARNWICK_SOURCE_DIR "/data/perft.txt");
    std::vector<std::string> fens;
    for (std::string line; std::getline(in, line);) fens.push_back(line.substr(0, line.find(';')));
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

TEST(Perft, KnownCountsAndBoundaries) {
    TestPosition start(fenStartPos);
    const int64_t counts[] = {20, 400, 8902, 197281};
    for (int d = 1; d <= 4; d++) EXPECT_EQ(perft(0, d, start.get()), counts[d - 1]);
    TestPosition mated("7k/6Q1/6K1/8/8/8/8/8 b - - 0 1");
    EXPECT_EQ(perft(0, 1, mated.get()), 0);
    EXPECT_EQ(perft(0, 3, mated.get()), 0);
    TestPosition oneMove("k7/8/1K6/8/8/8/8/1R6 b - - 0 1");
    EXPECT_EQ(perft(0, 1, oneMove.get()), 1);
}

}  // namespace
