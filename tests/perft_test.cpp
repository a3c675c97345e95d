// Move generation: the last ply of perft counts the moves without writing
// them; the counts must agree with the written and tested lists.  (The
// generators themselves are checked by the counts of data/perft.txt, which
// "rtest" runs on every build.)
#include <gtest/gtest.h>

#include "movegen.h"
#include "perft.h"
#include "test_support.h"

namespace {

// perft's last ply counts moves without writing them; compare that count
// (and the check flag it finds on the way) with the written lists, filtered
// by moveIsLegal out of check, in every position down to `depth` plies below
// the given one.
void compareLastPlyCounts(Position* pos, int depth, int& compared) {
    Move list[MAX_MOVES];
    const bool check = sideInCheck(pos, pos->sideToMove);
    pos->inCheck = check;
    Move* end = generateMovesCaptures(pos, list);
    int legal = (int)(end - list);
    if (!check) {
        end = generateMovesQuiets(pos, end);
        legal = 0;
        for (Move* m = list; m < end; m++) legal += moveIsLegal(pos, *m);
    }
    Move scratch[MAX_MOVES];
    pos->inCheck = !check;  // countLegalMoves finds it for itself
    ASSERT_EQ(countLegalMoves(pos, scratch), legal) << toFen(pos);
    ASSERT_EQ(pos->inCheck, check) << toFen(pos);
    compared++;
    if (!check) end = keepLegalMoves(pos, list, end);
    if (depth == 0) return;
    for (Move* m = list; m < end; m++) {
        BoardState saved;
        makeMove(pos, *m, saved);
        compareLastPlyCounts(pos, depth - 1, compared);
        unmakeMove(pos, *m, saved);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

TEST(Perft, LastPlyCountsAgreeWithTheTestedLists) {
    std::vector<std::string> fens = perftFileFens();
    // Pinned pawns: pushes along the pin, a capture of the pinner (with
    // promotion), pushes and captures off the line; for both colours.
    for (const char* fen :
         {"4k3/4r3/8/8/8/8/4P3/4K3 w - - 0 1", "4k3/8/8/8/8/2b5/3P4/4K3 w - - 0 1", "b1n4k/1P6/8/8/4K3/8/8/8 w - - 0 1",
          "4k3/3pp3/2B5/8/8/8/8/3KR3 b - - 0 1", "8/8/8/4k3/8/8/1p6/B1N4K b - - 0 1"})
        fens.push_back(fen);
    int compared = 0;
    for (const std::string& fen : fens) {
        TestPosition p(fen);
        compareLastPlyCounts(p.get(), 3, compared);
        if (HasFatalFailure()) return;
    }
    EXPECT_GT(compared, 300000);
}

}  // namespace
