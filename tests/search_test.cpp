// The search: exchange test, quiescence, node search, move picker, principal
// variation, time allocation and whole searches with known answers.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "eval.h"
#include "search.h"
#include "test_support.h"
#include "uci.h"

namespace {

// A position ready for the node search: its own continuation tables, no
// clock, and a small cleared transposition table.
class SearchPosition {
  public:
    explicit SearchPosition(const std::string& fen)
        : tp_(fen), followUp_(new ContinuationTable[1]()), counter_(new ContinuationTable[1]()) {
        Position* p = tp_.get();
        p->followUpHistory = followUp_.get();
        p->counterMoveHistory = counter_.get();
        p->timeCheckCountdown = 1 << 30;
        engine.infinite = 1;
        threadPool.stopSearch.store(0);
        if (!ttBuckets || ttMask != 16383) ttAllocate(16384);
        ttClear();
        ttNewSearch();
        generateMovesLegal(0, p->plyStack[0].moveListStart, p);  // sets the root check flag
    }
    Position* operator->() { return tp_.get(); }
    Position* get() { return tp_.get(); }
    // Make a legal move of ply `ply` as the search would.
    void play(int ply, const char* text) {
        Position* p = tp_.get();
        generateMovesLegal(ply, p->plyStack[ply].moveListStart, p);
        for (Move* m = p->plyStack[ply].moveListStart; m < p->plyStack[ply].moveListEnd; m++) {
            if (moveToText(m, p->sideToMove) != text) continue;
            Move mv = *m;
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
    std::unique_ptr<ContinuationTable[]> followUp_, counter_;
};

struct SearchResult {
    std::string best;
    int score;
};

// A whole search on the thread pool, one thread, to a fixed depth.
SearchResult searchTo(const std::string& fen, int depth) {
    if (threadPool.workers.size() != 1) threadPool.setNofWorkers(1);
    engine.nofThreads = 1;
    if (!ttBuckets || ttMask != 16383) ttAllocate(16384);
    ttClear();
    threadPool.workers[0]->clearHistoryTables();
    GPSData.plyStack[0].moveListStart = GMS;
    setPosition(fen, &GPSData);
    engine.depthLimit = depth;
    engine.infinite = 0;
    engine.nodesLimit = 0;
    engine.timeCheckInterval = 4096;
    engine.timeNormal = engine.timeMax = 1 << 30;
    engine.startTimeMs = nowMs();
    threadPool.silent = true;
    threadPool.startSearch();
    threadPool.waitForSearch();
    threadPool.silent = false;
    return {moveToText(&threadPool.lastBestMove, GPSData.sideToMove), threadPool.workers[0]->position.rootScore};
}

// ---------------------------------------------------------------------------
TEST(Exchange, StaticExchangeTest) {
    auto see = [](const char* fen, const char* text) {
        TestPosition p(fen);
        Move m = findMove(p.get(), text);
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

TEST(Quiescence, MatedInCheckAndDrawnMaterial) {
    // In check without an evasion: mated at this ply, also deep down where
    // only recaptures are tried otherwise.
    SearchPosition p("8/8/8/8/8/2k5/1q6/K7 w - - 0 1");
    EXPECT_EQ(quiescence(0, 0, -32000, 32000, p.get()), -32000);
    EXPECT_EQ(quiescence(0, -14, -32000, 32000, p.get()), -32000);
    SearchPosition q("4k3/8/8/8/8/8/2N5/4K3 w - - 0 1");
    EXPECT_EQ(quiescence(0, 0, -32000, 32000, q.get()), 0);
}

// The node search's value of a position placed at `ply` of a search line.
int nodeValue(const char* fen, int ply, int depth) {
    SearchPosition p(fen);
    p->plyStack[ply] = p->plyStack[0];
    p->historyLength += ply;
    return alphaBeta(ply, depth, -32767, 32767, p.get());
}

TEST(NodeSearch, TerminalNodesAndDraws) {
    const char* mated = "8/8/8/8/8/2k5/1q6/K7 w - - 0 1";
    EXPECT_EQ(nodeValue("7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", 0, 1), 0);  // stalemate
    EXPECT_EQ(nodeValue(mated, 0, 3), -32000);
    EXPECT_EQ(nodeValue(mated, 3, 2), -31997);  // mated three plies down the line
    // No pawns and at most a minor piece each: drawn; with a pawn, not.
    EXPECT_EQ(nodeValue("4k3/8/8/3n4/8/8/2B5/4K3 w - - 0 1", 1, 3), 0);
    EXPECT_NE(nodeValue("4k3/8/8/8/8/8/2BP4/4K3 w - - 0 1", 1, 3), 0);
    // Fifty moves: drawn, but a mate on the hundredth half-move is a mate.
    EXPECT_EQ(nodeValue("4k3/8/8/8/8/8/8/R3K3 w - - 100 80", 1, 2), 0);
    EXPECT_EQ(nodeValue("8/8/8/8/8/2k5/1q6/K7 w - - 100 80", 1, 2), -31999);
    // At the deepest ply the static evaluation is the answer, even in check.
    EXPECT_EQ(nodeValue(mated, 127, 5), evaluate(0, SearchPosition(mated).get()));
    {
        // A position repeated inside the search line is a draw at once.
        SearchPosition p("4k3/8/8/8/8/8/8/R3K3 w - - 10 40");
        const char* line[] = {"a1a2", "e8d8", "a2a1", "d8e8", "a1a2"};
        for (int i = 0; i < 5; i++) p.play(i, line[i]);
        EXPECT_EQ(std::abs(alphaBeta(5, 3, -32767, 32767, p.get())), 1);
        // The root position coming back needs one more earlier occurrence:
        // not a draw on its own ...
        SearchPosition q("4k3/8/8/8/8/8/8/R3K3 w - - 10 40");
        for (int i = 0; i < 4; i++) q.play(i, line[i]);
        EXPECT_GT(alphaBeta(4, 3, -32767, 32767, q.get()), 100);
        // ... but a draw once the game before the root went through it too.
        SearchPosition g("4k3/8/8/8/8/8/8/R3K3 w - - 10 40");
        for (int i = 0; i < 4; i++) ASSERT_TRUE(makeGameMoveText(g.get(), line[i], nullptr));
        for (int i = 0; i < 4; i++) g.play(i, line[i]);
        EXPECT_EQ(std::abs(alphaBeta(4, 3, -32767, 32767, g.get())), 1);
    }
}

TEST(NodeSearch, PrunedNodeIsNeitherMateNorStalemate) {
    // Every quiet move has a bad history at a shallow depth, so history
    // pruning skips them all; the node must not claim mate or stalemate.
    SearchPosition p("4k3/8/8/8/8/8/8/R3K3 w - - 0 1");
    Position* pos = p.get();
    p.play(0, "a1a2");
    p.play(1, "e8d8");
    const Continuation c = continuationBlocks(pos, 2);
    ASSERT_TRUE(c.counter && c.followUp);
    for (int piece = 0; piece < 12; piece++)
        for (int s = 0; s < 64; s++) {
            pos->history[piece][s] = -100;
            (*c.counter)[piece][s] = -100;
            (*c.followUp)[piece][s] = -100;
        }
    // A window around the static evaluation keeps reverse futility and
    // razoring out of the way; the move loop then prunes every move.
    const int eval = evaluate(0, pos);
    EXPECT_EQ(alphaBeta(2, 2, eval, eval + 1, pos), eval);
}

// The staged picker offers every legal move of a node once and nothing else,
// its stages in order, whatever the remembered moves are (a capture or an
// evasion among them too).
void checkPicker(Position* pos, int ply, const std::string& where) {
    PlyEntry& e = pos->plyStack[ply];
    generateMovesLegal(ply, e.moveListStart, pos);
    std::vector<uint32_t> words;
    for (Move* m = e.moveListStart; m < e.moveListEnd; m++) words.push_back(makeMoveWord(*m, pos->board[m->from]));
    if (words.empty()) return;
    e.hashMove = words[0];
    e.killerMove[0] = words[words.size() / 2];
    e.killerMove[1] = words.size() > 2 ? words.back() : 0;  // the search keeps two different killers
    e.moveStage = STAGE_HASH;
    PickerContext pc;
    pc.cont = continuationBlocks(pos, ply);
    std::multiset<uint32_t> legal, seen;
    for (uint32_t w : words) legal.insert(w & 0xffffff);
    int stage, last = STAGE_HASH;
    while (Move* m = nextMove(pos, ply, pc, &stage)) {
        EXPECT_GE(stage, last) << where;
        last = stage;
        if (moveIsLegal(pos, ply, *m)) seen.insert(moveToWord(*m) & 0xffffff);
    }
    EXPECT_EQ(seen, legal) << where;
}

TEST(MovePicker, EveryLegalMoveOnce) {
    std::ifstream in(TARNWICK_SOURCE_DIR "/data/perft.txt");
    for (std::string line; std::getline(in, line);) {
        const std::string fen = line.substr(0, line.find(';'));
        SearchPosition p(fen);
        Position* pos = p.get();
        std::vector<Move> moves;
        generateMovesLegal(0, pos->plyStack[0].moveListStart, pos);
        moves.assign(pos->plyStack[0].moveListStart, pos->plyStack[0].moveListEnd);
        checkPicker(pos, 0, fen);
        for (Move m : moves) {
            m.score = 0;
            pos->plyStack[0].currentMove = makeMoveWord(m, pos->board[m.from]);
            makeMove(pos, 0, m);
            checkPicker(pos, 1, fen + " " + moveToText(&m, pos->sideToMove ^ 1));
            unmakeMove(pos, 0, m);
        }
        if (HasFailure()) return;
    }
}

// The quiet moves come in the same order whether the picker keeps their
// history scores between picks or reads the histories afresh each time, also
// when a history is written between two picks (as a search below does).
std::vector<uint32_t> quietOrder(Position* pos, int32_t* buffer) {
    PlyEntry& e = pos->plyStack[0];
    e.hashMove = e.killerMove[0] = e.killerMove[1] = 0;
    e.moveStage = STAGE_GEN_CAPTURES;
    PickerContext pc;
    pc.quietScores = buffer;
    std::vector<uint32_t> order;
    int stage;
    while (Move* m = nextMove(pos, 0, pc, &stage)) {
        if (stage != STAGE_QUIETS) continue;
        order.push_back(moveToWord(*m));
        if (order.size() == 5) {  // a cut-off below raises this move's history
            pos->history[pos->board[e.moveListEnd[-1].from] - 2][e.moveListEnd[-1].to] = 9000;
            pos->historyWrites++;
        }
    }
    return order;
}

TEST(MovePicker, KeptQuietScoresGiveTheSameOrder) {
    SearchPosition p("r1bqk2r/ppp2ppp/2np1n2/2b1p3/2B1P3/2NP1N2/PPP2PPP/R1BQK2R w KQkq - 0 6");
    Position* pos = p.get();
    for (int i = 0; i < 12 * 64; i++) pos->history[i / 64][i % 64] = (int16_t)((i * 37) % 11 * 100 - 500);  // ties too
    int32_t buffer[QUIET_SCORE_CAPACITY];
    const std::vector<uint32_t> fresh = quietOrder(pos, nullptr);
    for (int i = 0; i < 12 * 64; i++) pos->history[i / 64][i % 64] = (int16_t)((i * 37) % 11 * 100 - 500);
    EXPECT_EQ(quietOrder(pos, buffer), fresh);
    EXPECT_GT(fresh.size(), 20u);
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
        std::vector<Move> played;
        for (const char* text : c.table) {
            Move m = findMove(p.get(), text);
            ASSERT_NE(moveToWord(m), 0u) << text;
            m.score = 0;
            ttStore(p->hashKey, makeMoveWord(m, p->board[m.from]), 0, 20, BOUND_EXACT);
            makeMove(p.get(), (int)played.size(), m);
            played.push_back(m);
        }
        for (int ply = (int)played.size() - 1; ply >= 0; ply--) unmakeMove(p.get(), ply, played[ply]);
        getPVFromHashTable(p.get(), 20);
        EXPECT_EQ(p->pvLastIndex, c.lastIndex) << c.fen << ": " << pvToText(p.get());
    }

    // A game whose last pawn move was a double step that no pawn could take
    // en passant: the position right after it comes round for the third
    // time with the PV's third move, and the line ends there.
    SearchPosition g("rnbq1rk1/ppppbppp/4pn2/8/2PP4/5NP1/PP1NPP1P/R1BQKB1R b KQ - 2 5");
    std::istringstream game(
        "d7d6 f1g2 b7b6 f3e5 d6e5 g2a8 e5d4 e1g1 c7c5 a8g2 d8c7 d2e4 f6e4 g2e4 h7h6 e4g2 b8d7 a2a4 a7a5 e2e3 "
        "e7f6 a1b1 c8b7 b2b3 f8d8 f2f4 b7g2 g1g2 e6e5 d1f3 d8e8 e3e4 e5f4 g3f4 d7f8 c1d2 f8g6 d2e1 c7d7 e1g3 "
        "h6h5 b1e1 h5h4 f4f5 g6e5 g3e5 e8e5 g2h3 f6g5 f1g1 f7f6 f3d3 d7e8 e1e2 g5e3 g1g4 g7g5 f5g6 e8e6 e2e1 "
        "e5g5 d3e2 g8g7 e2f3 g7g6 f3f5 e6f5 e4f5 g6f5 g4h4 f5e5 h4g4 g5f5 h3g3 f5f2 g4g8 e5e4 h2h4 f2f3 g3g2 "
        "f3f2 g2g3 f2f3");
    for (std::string move; game >> move;) ASSERT_TRUE(makeGameMoveText(g.get(), move, nullptr)) << move;
    std::vector<Move> played;
    for (const char* text : {"g3g2", "f3f2", "g2g3", "f2f3"}) {
        generateMovesLegal((int)played.size(), g->plyStack[played.size()].moveListStart, g.get());
        Move m = NO_MOVE;
        for (Move* l = g->plyStack[played.size()].moveListStart; l < g->plyStack[played.size()].moveListEnd; l++)
            if (moveToText(l, g->sideToMove) == text) m = *l;
        ASSERT_NE(moveToWord(m), 0u) << text;
        m.score = 0;
        ttStore(g->hashKey, makeMoveWord(m, g->board[m.from]), 0, 20, BOUND_EXACT);
        makeMove(g.get(), (int)played.size(), m);
        played.push_back(m);
    }
    for (int ply = (int)played.size() - 1; ply >= 0; ply--) unmakeMove(g.get(), ply, played[ply]);
    getPVFromHashTable(g.get(), 20);
    EXPECT_EQ(pvToText(g.get()), "g3g2 f3f2 g2g3");
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
    alphaBeta(120, 6, -32767, 32767, p.get());
    SUCCEED();
}

}  // namespace
