// Static evaluation: hand-worked positions, colour symmetry, the two caches
// and the boundary rules of the blend.
//
// Expected values below are worked out from the weight tables by hand; the
// comments show the arithmetic.  Packed scores are written S(mg, eg).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "eval.h"
#include "search.h"

namespace {

class TablesEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        initBitboardConstants();
        initHashCodeTables();
    }
};
const ::testing::Environment* const tablesEnv = ::testing::AddGlobalTestEnvironment(new TablesEnvironment);

pawnHashEntry pawnHash[PAWN_HASH_ENTRIES];
evalCacheEntry evalCache[EVAL_CACHE_ENTRIES];

class Eval : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(pawnHash, 0, sizeof pawnHash);
        std::memset(evalCache, 0, sizeof evalCache);
    }
    positionStruct* load(const std::string& fen, positionStruct* p = nullptr) {
        if (!p) p = &pos;
        EXPECT_EQ(validateFen(fen), "") << fen;
        setPosition(fen, p);
        p->pawnHashTable = pawnHash;
        p->evalCache = evalCache;
        return p;
    }
    evalTrace trace(const std::string& fen) {
        evalTrace t;
        evaluateTraced(load(fen), &t);
        return t;
    }
    static positionStruct pos, other;
};
positionStruct Eval::pos;
positionStruct Eval::other;

// Ranks mirrored, colours exchanged, the other side to move.
std::string colourFlip(const std::string& fen) {
    std::istringstream is(fen);
    std::string board, side, castling = "-", ep = "-";
    is >> board >> side >> castling >> ep;
    std::vector<std::string> ranks(1);
    for (char ch : board) {
        if (ch == '/')
            ranks.emplace_back();
        else
            ranks.back() += std::isalpha((unsigned char)ch) ? (char)(ch ^ 0x20) : ch;
    }
    std::string out;
    for (size_t i = ranks.size(); i-- > 0;) out += ranks[i] + (i ? "/" : "");
    for (char& ch : castling)
        if (std::isalpha((unsigned char)ch)) ch ^= 0x20;
    if (ep != "-") ep[1] = ep[1] == '3' ? '6' : '3';
    return out + (side == "w" ? " b " : " w ") + castling + " " + ep + " 0 1";
}

std::vector<std::string> symmetryPositions() {
    std::vector<std::string> fens = {
        "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
        "4k3/8/8/8/8/8/8/4K3 w - - 0 1",                      // kings only
        "k7/8/1QQQ4/QQQQ4/QQ6/8/8/7K b - - 0 1",              // nine queens
        "1k6/8/QQQQ4/QQQQ4/RRBB4/NN6/8/7K b - - 0 1",         // fifteen pieces round a king
        "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1",               // no pawns
        "2b1k3/8/8/8/8/8/8/2BBKB2 w - - 0 1",                 // three bishops
        "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N2N2/PP2BPPP/R2QKB1R w KQ - 0 8",
        "6k1/5ppp/8/8/8/8/5PPP/6K1 b - - 0 1",
    };
    std::ifstream in(TARNWICK_DATA_DIR "/eval-symmetry.fen");
    std::string line;
    while (std::getline(in, line))
        if (!line.empty()) fens.push_back(line);
    return fens;
}

// ---------------------------------------------------------------------------
// Incremental sums and the start position, term by term
// ---------------------------------------------------------------------------
TEST_F(Eval, StartPositionSumsAndTerms) {
    load(fenStartPos);
    // 8 x 82/94 + 2 x 343/298 + 2 x 377/321 + 2 x 478/564 + 1079/991
    EXPECT_EQ(pos.materialScore[WHITE], 4131 + 65536 * 4109);
    EXPECT_EQ(pos.materialScore[BLACK], 4131 + 65536 * 4109);
    EXPECT_EQ(pos.gamePhase, 6950);

    evalTrace t = trace(fenStartPos);
    // Pawns: storm on files d, e, f (same wing, enemy pawns 6 ranks away):
    // 14/1 + 17/3 + 13/7, and every pawn has a neighbour on rank 2 (1/0 x 8).
    EXPECT_EQ(t.pawns[WHITE], S(52, 11));
    // Shelter d2, e2, f2 in the zone d1-f4: 6 + 2 + 30, the enemy has a queen.
    EXPECT_EQ(t.shelter[WHITE], S(38, 0));
    // Minor pieces' king distance: Nb1 3, Ng1 2, Bc1 2, Bf1 1 -> -3 x 8.
    EXPECT_EQ(t.pieces[WHITE], S(-24, 0));
    // Mobility (own pawns count, the king square does not): knights 3 + 3,
    // bishops 2 + 2, rooks 2 + 2, queen 4 (c1 e1 c2 d2 e2 minus e1):
    // 2/32 x 2 - 31/1 x 2 - 9/-9 x 2 - 36/-41.
    EXPECT_EQ(t.mobility[WHITE], S(-112, 7));
    // Sixteen safe pawn pushes: 16 x -1/6.
    EXPECT_EQ(t.threats[WHITE], S(-16, 96));
    EXPECT_EQ(t.bishopPair[WHITE], S(28, 48));
    // C = 6 x 16 + 26 - 70 = 52; phase 6950 clamps to 6232: pure middle game,
    // so only the tempo's 25 is left.
    EXPECT_EQ(t.complexity, 52);
    EXPECT_EQ(t.phase, 6232);
    EXPECT_EQ(t.score, t.mg);
    EXPECT_EQ(evaluateN(0, load(fenStartPos)), 25);
    EXPECT_EQ(evaluateN(0, load("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 0 1")), 25);
}

// ---------------------------------------------------------------------------
// A whole evaluation by hand: king and pawn against king
// ---------------------------------------------------------------------------
TEST_F(Eval, KingAndPawnEndgameByHand) {
    const std::string fen = "4k3/8/8/8/8/8/4P3/4K3 w - - 0 1";
    evalTrace t = trace(fen);
    // Material 82/94; piece-square: pawn e2 5/13, the kings cancel.
    // White pawns: storm (same wing, no enemy pawns) d/e/f at distance 7:
    //   16/14 + 8/19 + 17/10 = 41/43;
    // e2 passed: 2/-19 + dist(e3,e8)=5 x 0/2 + dist(e3,e1)=2 x 0/-2 = 2/-13;
    // isolated -13/-11 and in the king files -6/2.  Sum 24/21.
    EXPECT_EQ(t.pawns[WHITE], S(24, 21));
    // Black storm: e-file pawn 6 ranks away (17/3), d and f empty (16/14, 17/10).
    EXPECT_EQ(t.pawns[BLACK], S(50, 27));
    // Shelter e2 = 2, halved since Black has no queen: 1.
    EXPECT_EQ(t.shelter[WHITE], S(1, 0));
    // White: two safe pushes e3, e4 (2 x -1/6).  Black: pawnless flank 4/-28.
    EXPECT_EQ(t.threats[WHITE], S(-2, 12));
    EXPECT_EQ(t.threats[BLACK], S(4, -28));
    EXPECT_FALSE(t.kingDangerComputed[WHITE]);
    EXPECT_FALSE(t.kingDangerComputed[BLACK]);
    // End-game half of T: 94 + 13 + (21 - 27) + 12 + 28 = 141.  C = 6 + 59 - 70
    // = -5, so it becomes 136, plus tempo 17 = 153.  Phase 0: pure end game.
    EXPECT_EQ(egOf(t.total), 141);
    EXPECT_EQ(t.complexity, -5);
    EXPECT_EQ(t.eg, 153);
    EXPECT_EQ(evaluateN(0, load(fen)), 153);
    // Black to move: the tempo changes sides (141 - 5 - 17 = 119 for White).
    EXPECT_EQ(evaluateN(0, load("4k3/8/8/8/8/8/4P3/4K3 b - - 0 1")), -119);
    // A lone rook (phase 478) is still pure end game.
    t = trace("4k3/8/8/8/8/8/8/R3K3 w - - 0 1");
    EXPECT_EQ(t.phase, 499);
    EXPECT_EQ(t.score, t.eg);
}

// ---------------------------------------------------------------------------
// Pawn structure
// ---------------------------------------------------------------------------
TEST_F(Eval, PawnStructureByHand) {
    // Doubled e2/e3, king g1 (king files f-h), Black king e8 (same wing).
    // Storm f/g/h at distance 7: 17/10 + 14/6 - 1/0 = 30/16.
    // e2: passed 2/-19 + 5 x 0/2 + 2 x 0/-2; isolated -13/-11; doubled -23/-18
    //     (the rear white pawn is charged) = -34/-42.
    // e3: passed -11/-2 + 4 x 0/4 + 3 x 0/-4; isolated -13/-11 = -24/-9.
    evalTrace t = trace("4k3/8/8/8/8/4P3/4P3/6K1 w - - 0 1");
    EXPECT_EQ(t.pawns[WHITE], S(-28, -35));
    // Black storm: d and f empty (16/14, 17/10), e3 five ranks away (22/16).
    EXPECT_EQ(t.pawns[BLACK], S(55, 40));

    // Backward d3 (both stop-square attackers c5 and e5, nothing behind it,
    // no enemy pawn on the d-file): -16/-9.  c4 defended by d3: connected
    // 11/9.  Kings on different wings: storm f/g/h at 7: 6/11 - 28/15 - 27/14.
    t = trace("k7/8/8/2p1p3/2P5/3P4/8/6K1 w - - 0 1");
    EXPECT_EQ(t.pawns[WHITE], S(-54, 40));

    // Candidate d4: the only pawn ahead (e6) guards d5 and e4 stands beside;
    // no attackers, no defenders: supported, 1/31.  d4 is also backward
    // (-16/-9) and has a neighbour (12/2); e4 has a neighbour (12/2).
    // Storm as above -49/40.
    t = trace("k7/8/4p3/8/3PP3/8/8/6K1 w - - 0 1");
    EXPECT_EQ(t.pawns[WHITE], S(-40, 66));
}

// ---------------------------------------------------------------------------
// Pieces
// ---------------------------------------------------------------------------
TEST_F(Eval, PinnedKnight) {
    // Ne2 pinned by Re8: no attacks left, so mobility 0 (-34/-11); pin value
    // 28/26, distance to the king 1 (-3).
    evalTrace t = trace("k3r3/8/8/8/8/8/4N3/4K3 w - - 0 1");
    EXPECT_EQ(t.pieces[WHITE], S(25, 26));
    EXPECT_EQ(t.mobility[WHITE], S(-34, -11));
    // Re8 on an open file 31/10; 13 squares attacked, a8 (own king) is not in
    // its mobility area: 22/53.
    EXPECT_EQ(t.pieces[BLACK], S(31, 10));
    EXPECT_EQ(t.mobility[BLACK], S(22, 53));
    // No queen and one attacker unit: no king-danger term.
    EXPECT_FALSE(t.kingDangerComputed[WHITE]);

    // The same pin with the knight attacked by a pawn: -86/-100 - 3.
    t = trace("k3r3/8/8/8/8/3p4/4N3/4K3 w - - 0 1");
    EXPECT_EQ(t.pieces[WHITE], S(-89, -100));
    EXPECT_EQ(t.mobility[WHITE], S(-34, -11));
}

TEST_F(Eval, RookOnTheSeventh) {
    // Ra7 with the black king on the back rank: open file 31/10 and -8/10.
    EXPECT_EQ(trace("6k1/R7/8/8/8/8/8/4K3 w - - 0 1").pieces[WHITE], S(23, 20));
    // King off its first two ranks: the seventh rank no longer counts.
    EXPECT_EQ(trace("8/R7/6k1/8/8/8/8/4K3 w - - 0 1").pieces[WHITE], S(31, 10));
    // Enemy pawns on the seventh play no part; the file is only half-open.
    EXPECT_EQ(trace("6k1/Rp6/8/8/8/8/8/4K3 w - - 0 1").pieces[WHITE], S(23, 20));
    EXPECT_EQ(trace("6k1/R7/8/8/8/p7/8/4K3 w - - 0 1").pieces[WHITE], S(5, 24));
}

TEST_F(Eval, BishopPairNeedsExactlyTwo) {
    evalTrace t = trace("2bbk3/8/8/8/8/8/8/2BBKB2 w - - 0 1");
    EXPECT_EQ(t.bishopPair[WHITE], 0);
    EXPECT_EQ(t.bishopPair[BLACK], S(28, 48));
}

// ---------------------------------------------------------------------------
// King safety
// ---------------------------------------------------------------------------
TEST_F(Eval, ShelterHalvingAndRearmostPawn) {
    // f2 g2 h2 in the zone f1-h4: 30 + 13 + 12 = 55; halved without an enemy
    // queen (27), in full with one.
    EXPECT_EQ(trace("k7/8/8/8/8/8/5PPP/6K1 w - - 0 1").shelter[WHITE], S(27, 0));
    EXPECT_EQ(trace("kq6/8/8/8/8/8/5PPP/6K1 w - - 0 1").shelter[WHITE], S(55, 0));
    // g4 -10 and h4 -1: -11 halves to -5 (toward zero).
    EXPECT_EQ(trace("k7/8/8/8/6PP/8/8/6K1 w - - 0 1").shelter[WHITE], S(-5, 0));
    // g2 and g3: only g2 (13) counts.
    EXPECT_EQ(trace("kq6/8/8/8/8/6P1/6P1/6K1 w - - 0 1").shelter[WHITE], S(13, 0));
}

TEST_F(Eval, KingDangerThresholdsAndSign) {
    // Qh5 against Kg1 (f2 g2 h2, Re1 guarding the back rank).  Queen in the
    // zone (h4 h3 h2 g4 f3): one attacker of weight 5, one ring square (h2).
    //   -292
    //   + 16 x 9   flank e-h, ranks 1-5 attacked: e5 f5 g5 h4 h3 h2 g4 f3 e2
    //   + 73 x 3   weak zone squares h4 h2 g4 (f3, h3 are pawn-guarded)
    //   + 1 x 5 + 40 x 1
    //   no safe check: h2 is guarded by the king, d1 by the rook
    // = 116 -> 116 x 116 / 4140 = 3, 116 / 11 = 10.
    evalTrace t = trace("k7/8/8/7q/8/8/5PPP/4R1K1 w - - 0 1");
    EXPECT_TRUE(t.kingDangerComputed[WHITE]);
    EXPECT_EQ(t.kingDangerValue[WHITE], 116);
    EXPECT_EQ(t.kingDanger[WHITE], -S(3, 10));

    // Qa4: only the rank-4 squares f4 g4 h4 of the zone, no ring square.
    //   -292 + 16 x 4 (e4 f4 g4 h4) + 73 x 3 + 1 x 5 = -4: no penalty.
    t = trace("k7/8/8/8/q7/8/5PPP/4R1K1 w - - 0 1");
    EXPECT_TRUE(t.kingDangerComputed[WHITE]);
    EXPECT_EQ(t.kingDangerValue[WHITE], -4);
    EXPECT_EQ(t.kingDanger[WHITE], 0);

    // One queen that does not reach the zone and no pawn attacks: skipped.
    t = trace("k3q3/8/8/8/8/8/5PPP/6K1 w - - 0 1");
    EXPECT_FALSE(t.kingDangerComputed[WHITE]);
    EXPECT_EQ(t.kingDanger[WHITE], 0);
}

// ---------------------------------------------------------------------------
// Blend, complexity and tempo
// ---------------------------------------------------------------------------
TEST_F(Eval, ComplexityNeverFlipsTheSign) {
    // No pawns, pieces left: C = -70.  A small end-game edge is pulled to 0,
    // not across it, and the tempo's 17 still reaches the blend.
    evalTrace t = trace("8/3k4/3n4/8/8/3NK3/8/8 w - - 0 1");
    const int eg = egOf(t.total);
    ASSERT_GT(std::abs(eg), 0);
    ASSERT_LT(std::abs(eg), 70);
    EXPECT_EQ(t.complexity, -70);
    EXPECT_EQ(t.complexityEg, -eg);
    EXPECT_EQ(t.eg, 17);
    // A larger edge shrinks by 70 (rook against knight).
    t = trace("8/3k4/3n4/8/8/3RK3/8/8 w - - 0 1");
    ASSERT_GT(egOf(t.total), 70);
    EXPECT_EQ(t.complexityEg, -70);
    EXPECT_EQ(t.eg, egOf(t.total) - 70 + 17);
    // Kings and eight pawns on both wings: C = 48 + 26 + 59 - 70 = 63.
    t = trace("4k3/p5pp/8/8/8/8/PPP3PP/4K3 w - - 0 1");
    ASSERT_NE(egOf(t.total), 0);
    EXPECT_EQ(t.complexity, 63);
    EXPECT_EQ(t.complexityEg, egOf(t.total) > 0 ? 63 : -63);
}

// ---------------------------------------------------------------------------
// Colour symmetry and agreement with the report (and evaluateN with the
// uncached path)
// ---------------------------------------------------------------------------
TEST_F(Eval, ColourFlipAndReportAgree) {
    // Every term is computed per colour from that colour's own side, and the
    // halving, the rounded end-game half and the blend all commute with
    // negation, so the mirrored position scores exactly the same for the side
    // to move.
    const std::vector<std::string> fens = symmetryPositions();
    ASSERT_GT(fens.size(), 200u);
    for (const std::string& fen : fens) {
        const std::string flipped = colourFlip(fen);
        const int a = evaluateUncached(load(fen));
        const int b = evaluateUncached(load(flipped, &other));
        EXPECT_EQ(a, b) << fen << "  vs  " << flipped;
        EXPECT_LT(std::abs(a), MATETHRESHOLD) << fen;  // nine queens included
        // The report ends with the value evaluateN returns, from both views.
        const int value = evaluateN(0, load(fen));
        const std::string report = evaluationReport(&pos);
        const std::string last = "\nStatic evaluation: " + std::to_string(value) + " (side to move), " +
                                 std::to_string(pos.sideToMove == WHITE ? value : -value) + " (white)\n";
        EXPECT_EQ(report.find("Static evaluation:"), report.size() - last.size() + 1) << fen;
        EXPECT_EQ(report.substr(report.size() - std::min(report.size(), last.size())), last) << fen;
    }
}

// ---------------------------------------------------------------------------
// The caches
// ---------------------------------------------------------------------------
TEST_F(Eval, EvaluationCacheHitIsWhiteViewNegatedForBlack) {
    load("4k3/8/8/8/8/8/4P3/4K3 b - - 0 1");
    const int fresh = evaluateN(0, &pos);
    evalCacheEntry& e = evalCache[pos.hashKey & 0x3fff];
    EXPECT_EQ(e.key, pos.hashKey);
    EXPECT_EQ(e.score, -fresh);  // stored from White's view
    EXPECT_EQ(evaluateN(0, &pos), fresh);
    e.score = 1234;  // a hit returns the entry, computing nothing
    EXPECT_EQ(evaluateN(0, &pos), -1234);
    e.key ^= 0x10000;  // same slot, other key: recomputed and overwritten
    EXPECT_EQ(evaluateN(0, &pos), fresh);
    EXPECT_EQ(e.key, pos.hashKey);
}

TEST_F(Eval, PawnEntryReusedOnlyOnFullKeyMatch) {
    const std::string fen = "4k3/8/8/8/8/4P3/4P3/6K1 w - - 0 1";
    const int fresh = evaluateUncached(load(fen));
    pawnHashEntry& e = pawnHash[pos.pawnHashKey & 0xffff];
    // Same slot, different key, bogus contents: ignored and replaced.
    e.key = pos.pawnHashKey ^ 0x1230000;
    e.score = S(500, 500);
    e.passedPawns = 0;
    EXPECT_EQ(evaluateUncached(&pos), fresh);
    EXPECT_EQ(e.key, pos.pawnHashKey);
    EXPECT_EQ(e.passedPawns, bit(12) | bit(20));
    // On a full match the stored score is trusted.
    e.score += S(0, 100);
    EXPECT_EQ(evaluateUncached(&pos), fresh + 100);
}

}  // namespace
