// The node search: quiescence, terminal nodes and draws, the principal
// variation, and whole searches with known answers.
#include <gtest/gtest.h>

#include <sstream>

#include "eval.h"
#include "movepick.h"
#include "search_support.h"
#include "uci.h"

namespace {

TEST(Quiescence, MatedInCheckAndDrawnMaterial) {
    // In check without an evasion: mated at this ply, also deep down where
    // only recaptures are tried otherwise.
    SearchPosition p("8/8/8/8/8/2k5/1q6/K7 w - - 0 1");
    EXPECT_EQ(quiescence(p.worker(), 0, 0, -32000, 32000), -32000);
    EXPECT_EQ(quiescence(p.worker(), 0, -14, -32000, 32000), -32000);
    SearchPosition q("4k3/8/8/8/8/8/2N5/4K3 w - - 0 1");
    EXPECT_EQ(quiescence(q.worker(), 0, 0, -32000, 32000), 0);
}

// The node search's value of a position placed at `ply` of a search line.
int nodeValue(const char* fen, int ply, int depth) {
    SearchPosition p(fen);
    SearchWorker& w = p.worker();
    w.stack[ply] = w.stack[0];
    w.keys.length = (int16_t)(w.keys.length + ply);
    return alphaBeta(w, ply, depth, -32767, 32767);
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
    EXPECT_EQ(nodeValue(mated, 127, 5), evaluate(SearchPosition(mated).get(), testCaches()));
    {
        // A position repeated inside the search line is a draw at once.
        SearchPosition p("4k3/8/8/8/8/8/8/R3K3 w - - 10 40");
        const char* line[] = {"a1a2", "e8d8", "a2a1", "d8e8", "a1a2"};
        for (int i = 0; i < 5; i++) p.play(i, line[i]);
        EXPECT_EQ(std::abs(alphaBeta(p.worker(), 5, 3, -32767, 32767)), 1);
        // The root position coming back needs one more earlier occurrence:
        // not a draw on its own ...
        SearchPosition q("4k3/8/8/8/8/8/8/R3K3 w - - 10 40");
        for (int i = 0; i < 4; i++) q.play(i, line[i]);
        EXPECT_GT(alphaBeta(q.worker(), 4, 3, -32767, 32767), 100);
        // ... but a draw once the game before the root went through it too.
        SearchPosition g("4k3/8/8/8/8/8/8/R3K3 w - - 10 40");
        for (int i = 0; i < 4; i++) ASSERT_TRUE(g.playInGame(line[i]));
        for (int i = 0; i < 4; i++) g.play(i, line[i]);
        EXPECT_EQ(std::abs(alphaBeta(g.worker(), 4, 3, -32767, 32767)), 1);
    }
}

TEST(NodeSearch, PrunedNodeIsNeitherMateNorStalemate) {
    // Every quiet move has a bad history at a shallow depth, so history
    // pruning skips them all; the node must not claim mate or stalemate.
    SearchPosition p("4k3/8/8/8/8/8/8/R3K3 w - - 0 1");
    SearchWorker& w = p.worker();
    p.play(0, "a1a2");
    p.play(1, "e8d8");
    const Continuation c = continuationBlocks(w.histories, &w.stack[2], 2);
    ASSERT_TRUE(c.counter && c.followUp);
    for (int piece = 0; piece < 12; piece++)
        for (int s = 0; s < 64; s++) {
            w.histories.history[piece][s] = -100;
            (*c.counter)[piece][s] = -100;
            (*c.followUp)[piece][s] = -100;
        }
    // A window around the static evaluation keeps reverse futility and
    // razoring out of the way; the move loop then prunes every move.
    const int eval = evaluate(&w.pos, w.caches);
    EXPECT_EQ(alphaBeta(w, 2, 2, eval, eval + 1), eval);
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

// Stores `line` in the table as exact entries, one per position along it,
// and returns to the starting position.
static void storeTableLine(SearchPosition& p, const std::vector<const char*>& line) {
    const Position start = *p.get();
    for (const char* text : line) {
        const Move m = p.find(text);
        ASSERT_NE(moveToWord(m), 0u) << text;
        ttStore(p->hashKey, makeMoveWord(m, p->board[m.from]), 0, 20, BOUND_EXACT);
        BoardState saved;
        makeMove(p.get(), m, saved);
    }
    *p.get() = start;
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
        storeTableLine(p, c.table);
        getPVFromHashTable(p.worker(), 20);
        EXPECT_EQ(p.worker().pvLastIndex, c.lastIndex) << c.fen << ": " << pvToText(p.worker());
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
    for (std::string move; game >> move;) ASSERT_TRUE(g.playInGame(move)) << move;
    storeTableLine(g, {"g3g2", "f3f2", "g2g3", "f2f3"});
    getPVFromHashTable(g.worker(), 20);
    EXPECT_EQ(pvToText(g.worker()), "g3g2 f3f2 g2g3");
}

TEST(WholeSearch, BuffersStayInBoundsWithManyQueens) {
    // Several queens a side give long move lists at every ply.
    for (const char* fen :
         {"1Q1Q4/Q1Q5/1Q6/8/6k1/5q2/4q1q1/K2q1q2 w - - 0 1", "q3k2q/1q4q1/8/8/8/8/1Q4Q1/Q3K2Q b - - 0 1"}) {
        ASSERT_EQ(validateFen(fen), "");
        SearchResult r = searchTo(fen, 7);
        EXPECT_EQ(r.best.size(), 4u) << fen;
    }
    // A node near the end of the ply stack: the search below it stops at
    // the last entry (the sanitizer build sees any write past it), gives a
    // score of the window, and leaves the position as it found it.
    SearchPosition p("q3k2q/1q4q1/8/8/8/8/1Q4Q1/Q3K2Q b - - 0 1");
    SearchWorker& w = p.worker();
    w.stack[120] = w.stack[0];
    const std::string board = boardToString(p.get());
    const uint64_t key = p->hashKey;
    const int16_t keyCount = w.keys.length;
    const int score = alphaBeta(w, 120, 6, -32767, 32767);
    EXPECT_GT(score, -32767);
    EXPECT_LT(score, 32767);
    EXPECT_EQ(w.selDepth, MAX_PLY - 1);
    EXPECT_EQ(boardToString(p.get()), board);
    EXPECT_EQ(p->hashKey, key);
    EXPECT_EQ(w.keys.length, keyCount);
}

}  // namespace
