// Move ordering: the staged picker hands out every legal move once, in stage
// order, and the kept quiet-move scores give the order of fresh ones.
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "movepick.h"
#include "search_support.h"

namespace {

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

}  // namespace
