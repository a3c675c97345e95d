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
void checkPicker(SearchWorker& w, int ply, const std::string& where) {
    Position* pos = &w.pos;
    SearchPly& e = w.stack[ply];
    std::vector<uint32_t> words;
    for (const std::string& text : legalMoves(pos)) {
        const Move m = findMove(pos, text);
        words.push_back(makeMoveWord(m, pos->board[m.from]));
    }
    if (words.empty()) return;
    e.hashMove = words[0];
    e.killerMove[0] = words[words.size() / 2];
    e.killerMove[1] = words.size() > 2 ? words.back() : 0;  // the search keeps two different killers
    pos->inCheck = sideInCheck(pos, pos->sideToMove);
    MovePicker picker(pos, w.histories, &e, ply, e.hashMove, PickStage::HASH_MOVE);
    std::multiset<uint32_t> legal, seen;
    for (uint32_t word : words) legal.insert(word & 0xffffff);
    PickStage stage, last = PickStage::HASH_MOVE;
    while (Move* m = picker.next(&stage)) {
        EXPECT_GE(stage, last) << where;
        last = stage;
        if (moveIsLegal(pos, *m)) seen.insert(moveToWord(*m) & 0xffffff);
    }
    EXPECT_EQ(seen, legal) << where;
}

TEST(MovePicker, EveryLegalMoveOnce) {
    std::ifstream in(TARNWICK_SOURCE_DIR "/data/perft.txt");
    for (std::string line; std::getline(in, line);) {
        const std::string fen = line.substr(0, line.find(';'));
        SearchPosition p(fen);
        SearchWorker& w = p.worker();
        checkPicker(w, 0, fen);
        for (const std::string& text : legalMoves(p.get())) {
            const Move m = p.find(text.c_str());
            makeSearchMove(w, 0, m, w.pos.board[m.from], w.stack[0].moveList + MAX_MOVES);
            checkPicker(w, 1, fen + " " + text);
            unmakeSearchMove(w, 0, m);
        }
        if (HasFailure()) return;
    }
}

// The quiet moves come in the same order whether the picker keeps their
// history scores between picks or reads the histories afresh each time, also
// when a history is written between two picks (as a search below does).
std::vector<uint32_t> quietOrder(SearchWorker& w, int32_t* buffer) {
    SearchPly& e = w.stack[0];
    e.hashMove = e.killerMove[0] = e.killerMove[1] = 0;
    MovePicker picker(&w.pos, w.histories, &e, 0, 0, PickStage::GENERATE_CAPTURES);
    picker.quietScores = buffer;
    std::vector<uint32_t> order;
    PickStage stage;
    while (Move* m = picker.next(&stage)) {
        if (stage != PickStage::QUIETS) continue;
        order.push_back(moveToWord(*m));
        if (order.size() == 5) {  // a cut-off below raises this move's history
            const Move last = picker.listEnd()[-1];
            w.histories.history[w.pos.board[last.from] - 2][last.to] = 9000;
            w.histories.writes++;
        }
    }
    return order;
}

TEST(MovePicker, KeptQuietScoresGiveTheSameOrder) {
    SearchPosition p("r1bqk2r/ppp2ppp/2np1n2/2b1p3/2B1P3/2NP1N2/PPP2PPP/R1BQK2R w KQkq - 0 6");
    SearchWorker& w = p.worker();
    auto setHistory = [&] {
        for (int i = 0; i < 12 * 64; i++) w.histories.history[i / 64][i % 64] = (int16_t)((i * 37) % 11 * 100 - 500);
    };
    setHistory();  // ties too
    int32_t buffer[QUIET_SCORE_CAPACITY];
    const std::vector<uint32_t> fresh = quietOrder(w, nullptr);
    setHistory();
    EXPECT_EQ(quietOrder(w, buffer), fresh);
    EXPECT_GT(fresh.size(), 20u);
}

}  // namespace
