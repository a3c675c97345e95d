// The search: transposition table, exchange test, quiescence, node search,
// move picker and whole searches with known answers.
#include <gtest/gtest.h>

#include <set>

#include "eval.h"
#include "search.h"
#include "test_support.h"
#include "uci.h"

namespace {

int sqi(const char* s) { return (s[0] - 'a') + 8 * (s[1] - '1'); }

// A position ready for the node search: its own continuation tables, no
// clock, and a small cleared transposition table.
class SearchPosition {
  public:
    explicit SearchPosition(const std::string& fen)
        : tp_(fen), followUp_(new continuationTable[1]()), counter_(new continuationTable[1]()) {
        positionStruct* p = tp_.get();
        p->followUpHistory = followUp_.get();
        p->counterMoveHistory = counter_.get();
        p->timeCheckCountdown = 1 << 30;
        engine.infinite = 1;
        theWorkForce.stopSearch.store(0);
        if (!hashTable || hashKeyMask != 16383) allocateHashTable(16384);
        clearHashTableMT();
        advanceHashAge();
        generateMovesLegal(0, p->plyStack[0].moveListStart, p);  // sets the root check flag
    }
    positionStruct* operator->() { return tp_.get(); }
    positionStruct* get() { return tp_.get(); }
    // Make a legal move of ply `ply` as the search would.
    void play(int ply, const char* text) {
        positionStruct* p = tp_.get();
        generateMovesLegal(ply, p->plyStack[ply].moveListStart, p);
        for (moveStruct* m = p->plyStack[ply].moveListStart; m < p->plyStack[ply].moveListEnd; m++) {
            if (moveToLA(m, p->sideToMove) != text) continue;
            moveStruct mv = *m;
            mv.score = 0;
            const int piece = p->board[mv.from];
            makeMove(p, ply, mv);
            p->plyStack[ply].currentMove = makeMoveWord(mv, piece);
            p->plyStack[ply + 1].inCheck = sideInCheck(p, p->sideToMove);
            return;
        }
        ADD_FAILURE() << "no move " << text;
    }

  private:
    TestPosition tp_;
    std::unique_ptr<continuationTable[]> followUp_, counter_;
};

struct SearchResult {
    std::string best;
    int score;
    U64 nodes;
};

// A whole search on the thread pool, one thread, to a fixed depth.
SearchResult searchTo(const std::string& fen, int depth) {
    if (theWorkForce.workers.size() != 1) theWorkForce.setNofWorkers(1);
    engine.nofThreads = 1;
    if (!hashTable || hashKeyMask != 16383) allocateHashTable(16384);
    clearHashTableMT();
    theWorkForce.workers[0]->clearHistoryTables();
    GPSData.plyStack[0].moveListStart = GMS;
    setPosition(fen, &GPSData);
    engine.depthLimit = depth;
    engine.infinite = 0;
    engine.nodesLimit = 0;
    engine.timeCheckInterval = 4096;
    engine.timeNormal = engine.timeMax = 1 << 30;
    engine.startTimeMs = nowMs();
    theWorkForce.silent = true;
    theWorkForce.startSearch();
    theWorkForce.waitForSearch();
    theWorkForce.silent = false;
    const positionStruct& p = theWorkForce.workers[0]->position;
    return {moveToLA(&theWorkForce.lastBestMove, GPSData.sideToMove), p.rootScore,
            p.nodeCount + p.quiescenceNodeCount};
}

// ---------------------------------------------------------------------------
TEST(TranspositionTable, SizingSlotsAndReplacement) {
    EXPECT_EQ(hashBucketsForSize(0), 16384u);
    EXPECT_EQ(hashBucketsForSize(1), 16384u);
    EXPECT_EQ(hashBucketsForSize(2), 32768u);
    EXPECT_EQ(hashBucketsForSize(3), 65536u);
    EXPECT_EQ(hashBucketsForSize(4), 65536u);
    EXPECT_EQ(hashBucketsForSize(5), 131072u);
    EXPECT_EQ(hashBucketsForSize(256), 4194304u);
    EXPECT_EQ(hashBucketsForSize(300), 8388608u);

    allocateHashTable(1024);
    clearHashTableMT();
    advanceHashAge();
    const U64 k0 = 7, stride = 1024;  // keys of one bucket
    hashBucket& b = hashTable[7];
    hashStore(k0, 0, 10, 5, boundLower);
    hashStore(k0 + stride, 0, 10, 3, boundLower);
    EXPECT_EQ(b.key[0].load(), k0);
    EXPECT_EQ(b.key[1].load(), k0 + stride);
    // A key match counts only at the slot visited: an empty slot 0 is taken
    // before a matching slot further on.
    b.entry[0].store(0);
    b.key[0].store(0);
    hashStore(k0 + stride, 0, 11, 4, boundLower);
    EXPECT_EQ(b.key[0].load(), k0 + stride);
    // Four other positions with worths 5, 3, 3, 7: slot 1 goes.
    clearHashTableMT();
    advanceHashAge();
    const int drafts[4] = {5, 3, 3, 7};
    for (int i = 0; i < 4; i++) hashStore(k0 + stride * (i + 1), 0, 0, drafts[i], boundLower);
    hashStore(k0 + stride * 9, 0, 0, 1, boundLower);
    EXPECT_EQ(b.key[1].load(), k0 + stride * 9);
    // An entry two searches old with draft 10 (worth 2) goes before a
    // current one of draft 3.
    clearHashTableMT();
    advanceHashAge();
    hashStore(k0 + stride, 0, 0, 10, boundLower);
    advanceHashAge();
    advanceHashAge();
    hashStore(k0 + 2 * stride, 0, 0, 3, boundLower);
    hashStore(k0 + 3 * stride, 0, 0, 3, boundLower);
    hashStore(k0 + 4 * stride, 0, 0, 3, boundExact);
    hashStore(k0 + 5 * stride, 0, 0, 9, boundLower);
    EXPECT_EQ(b.key[0].load(), k0 + 5 * stride);
    // A probe hit marks an old entry as current; a bound of 0 is a miss.
    hashStore(k0 + 6 * stride, 0, 0, 2, boundLower);
    EXPECT_EQ(hashEntryAge(hashProbe(k0 + 5 * stride)), hashAgeCounter);
    b.entry[2].store((U64)hashAgeCounter << 58);
    EXPECT_EQ(hashEntryBound(hashProbe(b.key[2].load())), boundNone);
}

TEST(TranspositionTable, MateScoresAndAges) {
    EXPECT_EQ(scoreToHash(31990, 5), 31995);
    EXPECT_EQ(scoreFromHash(31995, 3), 31992);
    EXPECT_EQ(scoreToHash(-31990, 5), -31995);
    EXPECT_EQ(scoreToHash(MATETHRESHOLD - 7, 7), MATETHRESHOLD - 7);  // tablebase scores stay
    allocateHashTable(1024);
    clearHashTableMT();
    advanceHashAge();
    EXPECT_EQ(hashAgeCounter, 0);
    advanceHashAge();
    EXPECT_EQ(hashAgeCounter, 1);
    for (int i = 0; i < 63; i++) advanceHashAge();
    EXPECT_EQ(hashAgeCounter, 0);  // the 65th search after a clear
    allocateHashTable(16384);
}

// ---------------------------------------------------------------------------
TEST(Exchange, StaticExchangeTest) {
    auto see = [](const char* fen, const char* text) {
        TestPosition p(fen);
        moveStruct m = findMove(p.get(), text);
        EXPECT_NE(moveToWord(m), 0u) << text;
        return seeNotLosing(p.get(), m);
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

TEST(Quiescence, CapturesChecksAndDraws) {
    {
        // A rook taking a pawn defended by a pawn is not searched at depth 0.
        SearchPosition p("4k3/8/3p4/4p3/8/8/8/4R1K1 w - - 0 1");
        const int v = quiescence(0, 0, -32000, 32000, p.get());
        EXPECT_EQ(p->quiescenceNodeCount, 1u);
        EXPECT_EQ(v, evaluateN(0, p.get()));
    }
    {
        // ... but a knight taking a pawn that only a rook defends is.
        SearchPosition p("3r2k1/8/8/3p4/8/2N2B2/8/6K1 w - - 0 1");
        quiescence(0, 0, -32000, 32000, p.get());
        EXPECT_GT(p->quiescenceNodeCount, 1u);
    }
    {
        // In check without an evasion: mated at this ply.
        SearchPosition p("8/8/8/8/8/2k5/1q6/K7 w - - 0 1");
        EXPECT_EQ(quiescence(0, 0, -32000, 32000, p.get()), -32000);
        // The same at depth -14 and below, where only recaptures are tried.
        EXPECT_EQ(quiescence(0, -14, -32000, 32000, p.get()), -32000);
    }
    {
        // A quiet position returns its static evaluation, below alpha too.
        SearchPosition p("4k3/8/8/8/8/8/8/R3K3 b - - 0 1");
        EXPECT_EQ(quiescence(0, 0, 500, 600, p.get()), evaluateN(0, p.get()));
    }
    {
        // Insufficient material is a draw at once.
        SearchPosition p("4k3/8/8/8/8/8/2N5/4K3 w - - 0 1");
        EXPECT_EQ(quiescence(0, 0, -32000, 32000, p.get()), 0);
    }
    {
        // Only the queen promotion of a quiet push is tried.
        SearchPosition p("8/P6k/8/8/8/8/8/4K3 w - - 0 1");
        p->plyStack[0].notPinnedMask = computeNotPinnedMask(p.get(), WHITE);
        quiescence(0, 0, -32000, 32000, p.get());
        EXPECT_EQ(p->quiescenceNodeCount, 2u);
    }
    {
        // A repetition inside the line: +1 or -1 by the node counter's parity.
        SearchPosition p("4k3/8/8/8/8/8/8/R3K3 w - - 10 40");
        const char* line[] = {"a1a2", "e8d8", "a2a1", "d8e8", "a1a2"};
        for (int i = 0; i < 5; i++) p.play(i, line[i]);
        const int v = quiescence(5, 0, -32000, 32000, p.get());
        EXPECT_EQ(v, (p->quiescenceNodeCount & 1) ? 1 : -1);
    }
}

// ---------------------------------------------------------------------------
TEST(NodeSearch, TerminalNodesAndDraws) {
    {
        SearchPosition p("7k/5Q2/6K1/8/8/8/8/8 b - - 0 1");  // stalemate
        EXPECT_EQ(alfabeta(0, 1, -32767, 32767, p.get()), 0);
    }
    {
        SearchPosition p("8/8/8/8/8/2k5/1q6/K7 w - - 0 1");  // mated at the root
        EXPECT_EQ(alfabeta(0, 3, -32767, 32767, p.get()), -32000);
    }
    {
        // Mated three plies deep scores -31997 there; at ply 5 a window
        // above the longest possible mate ends the node at once.
        SearchPosition p("8/8/8/8/8/2k5/1q6/K7 w - - 0 1");
        p->plyStack[3] = p->plyStack[0];
        p->historyLength += 3;
        EXPECT_EQ(alfabeta(3, 2, -32767, 32767, p.get()), -31997);
        SearchPosition q("4k3/8/8/8/8/8/8/R3K3 w - - 0 1");
        q->plyStack[5] = q->plyStack[0];
        EXPECT_EQ(alfabeta(5, 4, 31996, 32000, q.get()), 31996);
    }
    {
        // No pawns and at most a minor piece each: drawn; with a pawn, not.
        SearchPosition p("4k3/8/8/3n4/8/8/2B5/4K3 w - - 0 1");
        p->plyStack[1] = p->plyStack[0];
        EXPECT_EQ(alfabeta(1, 3, -32767, 32767, p.get()), 0);
        SearchPosition q("4k3/8/8/8/8/8/2BP4/4K3 w - - 0 1");
        q->plyStack[1] = q->plyStack[0];
        EXPECT_NE(alfabeta(1, 3, -32767, 32767, q.get()), 0);
    }
    {
        // Fifty moves: a node with moves returns 0 after searching them; a
        // mate is still a mate.
        SearchPosition p("4k3/8/8/8/8/8/8/R3K3 w - - 100 80");
        p->plyStack[1] = p->plyStack[0];
        EXPECT_EQ(alfabeta(1, 2, -32767, 32767, p.get()), 0);
        SearchPosition q("8/8/8/8/8/2k5/1q6/K7 w - - 100 80");
        q->plyStack[1] = q->plyStack[0];
        EXPECT_EQ(alfabeta(1, 2, -32767, 32767, q.get()), -31999);
    }
    {
        // At ply 127 the static evaluation is the answer, even in check.
        SearchPosition p("8/8/8/8/8/2k5/1q6/K7 w - - 0 1");
        p->plyStack[127] = p->plyStack[0];
        EXPECT_EQ(alfabeta(127, 5, -32767, 32767, p.get()), evaluateN(0, p.get()));
    }
    {
        // A position repeated inside the search line is a draw at once.
        SearchPosition p("4k3/8/8/8/8/8/8/R3K3 w - - 10 40");
        const char* line[] = {"a1a2", "e8d8", "a2a1", "d8e8", "a1a2"};
        for (int i = 0; i < 5; i++) p.play(i, line[i]);
        EXPECT_EQ(std::abs(alfabeta(5, 3, -32767, 32767, p.get())), 1);
        // The root position coming back needs one more earlier occurrence:
        // not a draw on its own ...
        SearchPosition q("4k3/8/8/8/8/8/8/R3K3 w - - 10 40");
        for (int i = 0; i < 4; i++) q.play(i, line[i]);
        EXPECT_GT(alfabeta(4, 3, -32767, 32767, q.get()), 100);
        // ... but a draw once the game before the root went through it too.
        SearchPosition g("4k3/8/8/8/8/8/8/R3K3 w - - 10 40");
        for (int i = 0; i < 4; i++) ASSERT_TRUE(makeGameMoveText(g.get(), line[i], nullptr));
        for (int i = 0; i < 4; i++) g.play(i, line[i]);
        EXPECT_EQ(std::abs(alfabeta(4, 3, -32767, 32767, g.get())), 1);
    }
}

TEST(NodeSearch, PrunedNodeIsNeitherMateNorStalemate) {
    // Every quiet move has a bad history at a shallow depth, so history
    // pruning skips them all; the node must not claim mate or stalemate.
    SearchPosition p("4k3/8/8/8/8/8/8/R3K3 w - - 0 1");
    positionStruct* pos = p.get();
    p.play(0, "a1a2");
    p.play(1, "e8d8");
    const continuation c = continuationBlocks(pos, 2);
    ASSERT_TRUE(c.counter && c.followUp);
    for (int piece = 0; piece < 12; piece++)
        for (int s = 0; s < 64; s++) {
            pos->history[piece][s] = -100;
            (*c.counter)[piece][s] = -100;
            (*c.followUp)[piece][s] = -100;
        }
    // A window around the static evaluation keeps reverse futility and
    // razoring out of the way; the move loop then prunes every move.
    const int eval = evaluateN(0, pos);
    EXPECT_EQ(alfabeta(2, 2, eval, eval + 1, pos), eval);
}

TEST(MovePicker, StagesInOrderWithoutDuplicatesOrIllegalMoves) {
    // White: a queen that can take a defended pawn (a bad capture), a pawn
    // that can take a knight (good), a pinned bishop and quiet moves.
    SearchPosition p("4k3/1q4p1/7p/3n4/2P1p3/5Q2/1B6/K6R w - - 0 1");
    positionStruct* pos = p.get();
    generateMovesLegal(0, pos->plyStack[0].moveListStart, pos);
    std::set<U64> legal;
    for (moveStruct* m = pos->plyStack[0].moveListStart; m < pos->plyStack[0].moveListEnd; m++)
        legal.insert(moveToWord(*m) & 0xffffff);

    plyEntry& e = pos->plyStack[0];
    const moveStruct hash = findMove(pos, "h1h5");
    e.hashMove = makeMoveWord(hash, WROOK);
    e.killerMove[0] = makeMoveWord(findMove(pos, "h1h2"), WROOK);
    e.killerMove[1] = makeMoveWord(findMove(pos, "c4d5"), WPAWN);  // a capture: offered once, as a capture
    pos->history[WKING - 2][sqi("a2")] = 500;
    e.moveStage = STAGE_HASH;
    pickerContext pc;
    pc.cont = continuationBlocks(pos, 0);
    std::vector<std::pair<std::string, int>> order;
    std::set<U64> seen;
    int stage;
    moveStruct* m;
    while ((m = nextMove(pos, 0, pc, &stage)) != nullptr) {
        if (!moveIsLegal(pos, 0, *m)) continue;
        const U64 w = moveToWord(*m) & 0xffffff;
        EXPECT_TRUE(legal.count(w)) << moveToLA(m, WHITE);
        EXPECT_TRUE(seen.insert(w).second) << "twice: " << moveToLA(m, WHITE);
        order.push_back({moveToLA(m, WHITE), stage});
    }
    EXPECT_EQ(seen, legal);
    ASSERT_GE(order.size(), 5u);
    // Hash move; good captures by victim and attacker; the quiet killer;
    // the losing captures in list order (the queen guards g7, a pawn h6);
    // quiet moves, the best history first.
    const std::vector<std::pair<std::string, int>> expected = {
        {"h1h5", STAGE_HASH},         {"c4d5", STAGE_GOOD_CAPTURES}, {"f3e4", STAGE_GOOD_CAPTURES},
        {"h1h2", STAGE_KILLER1},      {"b2g7", STAGE_BAD_CAPTURES},  {"h1h6", STAGE_BAD_CAPTURES},
        {"a1a2", STAGE_QUIETS}};
    ASSERT_GE(order.size(), expected.size());
    for (size_t i = 0; i < expected.size(); i++) EXPECT_EQ(order[i], expected[i]) << i;

    int lastStage = 0;
    for (auto& [text, s] : order) {
        EXPECT_GE(s, lastStage) << text;  // stages never go back
        lastStage = s;
    }
}

// ---------------------------------------------------------------------------
TEST(WholeSearch, MatesAtTheirExactDistance) {
    EXPECT_EQ(searchTo("6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - 0 1", 4).score, 31999);
    // (Razoring and history pruning hide some mates at shallow depths;
    // the iteration that proves a mate ends the search.)
    SearchResult two = searchTo("kbK5/pp6/1P6/8/8/8/8/R7 w - - 0 1", 30);
    EXPECT_EQ(two.score, 31997);
    EXPECT_EQ(two.best, "a1a6");
    EXPECT_EQ(searchTo("r1b1kb1r/pppp1ppp/5q2/4n3/3KP3/2N3PN/PPP4P/R1BQ1B1R b kq - 0 1", 30).score, 31995);
    EXPECT_EQ(searchTo("8/1R6/8/8/8/k2K4/8/8 w - - 0 1", 30).score, 31993);
    EXPECT_EQ(searchTo("1k6/8/1K6/8/8/8/8/6R1 b - - 0 1", 30).score, -31996);
}

TEST(WholeSearch, DeterministicFromAFreshState) {
    const char* fen = "r1bq1rk1/pp2bppp/2n1pn2/2pp4/3P4/2PBPN2/PP1N1PPP/R1BQ1RK1 w - - 0 8";
    SearchResult a = searchTo(fen, 9);
    SearchResult b = searchTo(fen, 9);
    EXPECT_EQ(a.nodes, b.nodes);
    EXPECT_EQ(a.best, b.best);
    EXPECT_GT(a.nodes, 1000u);
}

// The PV is rebuilt from the table move by move.  A GUI ends the game at a
// repetition or a fifty-move draw, so the line must end there even when the
// table holds moves beyond it.
TEST(PrincipalVariation, EndsAtARepetitionOrAFiftyMoveDraw) {
    struct {
        const char* fen;
        std::vector<const char*> table;  // the exact table move of each position in turn
        int lastIndex;                   // where the line must end
    } cases[] = {
        // Knights out and back: the root position returns after four plies
        // (a first return of a game position is no draw yet), and the line
        // ends when the position after g1f3 comes round again.
        {"4k3/8/8/8/8/8/8/4K1N1 w - - 0 30", {"g1f3", "e8d8", "f3g1", "d8e8", "g1f3", "e8d8", "f3g1"}, 4},
        // The second quiet move is the hundredth of the count.
        {"4k3/8/8/8/8/8/R7/4K3 w - - 98 80", {"a2a3", "e8e7", "a3a4", "e7e6"}, 1},
    };
    for (auto& c : cases) {
        SearchPosition p(c.fen);
        std::vector<moveStruct> played;
        for (const char* text : c.table) {
            moveStruct m = findMove(p.get(), text);
            ASSERT_NE(moveToWord(m), 0u) << text;
            m.score = 0;
            hashStore(p->hashKey, makeMoveWord(m, p->board[m.from]), 0, 20, boundExact);
            makeMove(p.get(), (int)played.size(), m);
            played.push_back(m);
        }
        for (int ply = (int)played.size() - 1; ply >= 0; ply--) unmakeMove(p.get(), ply, played[ply]);
        getPVFromHashTable(p.get(), 20);
        EXPECT_EQ(p->pvLastIndex, c.lastIndex) << c.fen << ": " << PVToString(p.get());
    }
}

// Budgets worked out by hand from the allocation rules.  Sudden death: no
// "movestogo"; the moves still to come are estimated from the game's length
// and stretched by the increment factor, set on a game's first move from the
// clock-to-increment ratio.
TEST(TimeAllocation, WorkedExamples) {
    struct {
        const char* what;
        int time, inc, movesToGo, played, threads;  // movesToGo 0: not given
        bool newGame;
        float factor;        // increment factor when not a new game
        int normal, max;     // expected budgets
        float timeFactor;
    } cases[] = {
        // 60 s, no increment, first move: q = 60000 clamps to 360, factor
        // 1.75, m = 40, m' = 70; total 60000; 0.66 x 1500 = 990; min(4950, 29950).
        {"sudden death", 60000, 0, 0, 0, 1, true, 0, 990, 4950, 1.0f},
        // 60 s + 1 s: q = 60 clamps to 100, factor 1.37; m' = trunc(54.8) = 54;
        // total 53 x 1000 + 60000 = 113000; 113000 / 40 = 2825; 0.66 x 2825.
        {"sudden death, increment", 60000, 1000, 0, 0, 1, true, 0, 1864, 9320, 1.0f},
        // q = 200: factor 1.37 + 100 x 0.0014615385 = 1.5161538; m' = 60;
        // total 59 x 300 + 60000 = 77700; 77700 / 40 = 1942; 0.66 x 1942 = 1281.7.
        {"ratio between the bounds", 60000, 300, 0, 0, 1, true, 0, 1281, 6405, 1.0f},
        // Move 30 of a game (m = 25) with the factor kept from its start:
        // m' = trunc(34.25) = 34; total 33 x 500 + 30000 = 46500; / 25 = 1860.
        {"middle game", 30000, 500, 0, 60, 1, false, 1.37f, 1227, 6135, 1.0f},
        // Many threads plan with 0.72 of the share: 0.72 x 1860 = 1339.2.
        {"many threads", 30000, 500, 0, 60, 4, false, 1.37f, 1339, 6695, 1.0f},
        // 105 ms, 100 of them overhead: 105 / 22 = 4; 0.66 x 4 = 2.6 -> 2;
        // 5 / 2 <= 3 is short: both halve (1, 1) and the hard limit is then
        // raised to normal + 1; elapsed time counts five times.
        {"short of time", 105, 0, 0, 20, 1, false, 1.37f, 1, 2, 5.0f},
        // 40 moves in 60 s: 0.73 x 0.9 x 1500 = 985.5; min(4925, 0.5 x 59900).
        {"moves to go", 60000, 0, 40, 0, 1, true, 0, 985, 4925, 1.0f},
        // The last move before the control: total - overhead.
        {"last move of the control", 60000, 0, 1, 0, 1, true, 0, 39420, 59900, 1.0f},
    };
    for (auto& c : cases) {
        engineStruct e;
        e.timeLeft[WHITE] = c.time;
        e.increment[WHITE] = c.inc;
        e.movesToGoGiven = c.movesToGo != 0;
        e.movesToGo = c.movesToGo ? c.movesToGo : 30;
        e.movesPlayed = c.played;
        e.nofThreads = c.threads;
        e.newGame = c.newGame;
        if (!c.newGame) e.incrementFactor = c.factor;
        allocateTime(e, WHITE);
        EXPECT_EQ(e.timeNormal, c.normal) << c.what;
        EXPECT_EQ(e.timeMax, c.max) << c.what;
        EXPECT_EQ(e.timeFactor, c.timeFactor) << c.what;
    }
}

TEST(WholeSearch, BuffersStayInBoundsWithManyQueens) {
    // Several queens a side give long move lists at every ply.
    for (const char* fen : {"1Q1Q4/Q1Q5/1Q6/8/6k1/5q2/4q1q1/K2q1q2 w - - 0 1",
                            "q3k2q/1q4q1/8/8/8/8/1Q4Q1/Q3K2Q b - - 0 1"}) {
        ASSERT_EQ(validateFen(fen), "");
        SearchResult r = searchTo(fen, 7);
        EXPECT_EQ(r.best.size(), 4u) << fen;
    }
    // A node deep down the stack still fits.
    SearchPosition p("q3k2q/1q4q1/8/8/8/8/1Q4Q1/Q3K2Q b - - 0 1");
    p->plyStack[120] = p->plyStack[0];
    alfabeta(120, 6, -32767, 32767, p.get());
    SUCCEED();
}

}  // namespace
