// Static evaluation over a fixed set of positions and every position one move
// from them: the colour flip, the caches against a fresh evaluation, and one
// recorded fingerprint of the "eval" reports and values.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <sstream>

#include "eval.h"
#include "movegen.h"
#include "test_support.h"

namespace {

// Ranks mirrored, colours exchanged, the other side to move.
std::string colourFlip(const std::string& fen) {
    std::istringstream is(fen);
    std::string board, side, castling = "-", ep = "-", rank, out;
    is >> board >> side >> castling >> ep;
    for (std::istringstream ranks(board); std::getline(ranks, rank, '/');) out = rank + (out.empty() ? "" : "/") + out;
    for (std::string* s : {&out, &castling})
        for (char& ch : *s)
            if (std::isalpha((unsigned char)ch)) ch ^= 0x20;
    if (ep != "-") ep[1] = ep[1] == '3' ? '6' : '3';
    return out + (side == "w" ? " b " : " w ") + castling + " " + ep + " 0 1";
}

std::vector<std::string> positions() {
    std::vector<std::string> fens = {
        "k7/8/1QQQ4/QQQQ4/QQ6/8/8/7K b - - 0 1",       // nine queens
        "1k6/8/QQQQ4/QQQQ4/RRBB4/NN6/8/7K b - - 0 1",  // fifteen pieces round a king
        "2b1k3/8/8/8/8/8/8/2BBKB2 w - - 0 1",          // three bishops
        "4k3/8/8/8/8/8/8/4K3 w - - 0 1",
    };
    std::ifstream in(TARNWICK_DATA_DIR "/eval-symmetry.fen");
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) fens.push_back(line);
    return fens;
}

uint64_t fnv1a(uint64_t h, const std::string& text) {
    for (unsigned char c : text) h = (h ^ c) * 0x100000001b3ULL;
    return h;
}

int traced(Position* pos) {
    EvalTrace t;
    return evaluateTraced(pos, &t);
}

TEST(Eval, FlipCachesAndRecordedFingerprint) {
    uint64_t reports = 0xcbf29ce484222325ULL;
    long long childSum = 0, children = 0;
    const std::vector<std::string> fens = positions();
    ASSERT_GT(fens.size(), 250u);
    for (const std::string& fen : fens) {
        ASSERT_EQ(validateFen(fen), "") << fen;
        TestPosition pos(fen), flipped(colourFlip(fen));
        EvalTrace t;
        const int value = evaluateTraced(pos.get(), &t);
        // Every term is computed for each colour from its own side, so the
        // mirrored position scores the same for the side to move.
        EXPECT_EQ(traced(flipped.get()), value) << fen;
        EXPECT_LT(std::abs(value), MATE_THRESHOLD) << fen;
        // The drawishness of the material shrinks the end-game half toward
        // zero, never across it.
        EXPECT_GE(egOf(t.total) * (egOf(t.total) + t.complexityEg), 0) << fen;
        const std::string report = evaluationReport(pos.get());
        const std::string last = "Static evaluation: " + std::to_string(value) + " (side to move), " +
                                 std::to_string(pos->sideToMove == WHITE ? value : -value) + " (white)\n";
        EXPECT_EQ(report.substr(report.rfind('\n', report.size() - 2) + 1), last) << fen;
        reports = fnv1a(reports, report);

        // Positions a move on share pawn structures and cache slots with
        // each other: the caches must give what a fresh evaluation gives.
        Position* p = pos.get();
        Move list[MAX_MOVES];
        for (Move *m = list, *end = generateMovesLegal(p, list); m < end; m++) {
            BoardState saved;
            makeMove(p, *m, saved);
            const int fresh = traced(p);
            EXPECT_EQ(evaluate(p, testCaches()), fresh) << fen << " " << moveToText(m, p->sideToMove ^ 1);
            EXPECT_EQ(evaluate(p, testCaches()), fresh) << fen << " " << moveToText(m, p->sideToMove ^ 1);
            childSum += p->sideToMove == WHITE ? fresh : -fresh;
            children++;
            unmakeMove(p, *m, saved);
        }
    }
    // Recorded from the engine: a change to any weight, term or line of the
    // "eval" report shows here (as does an edit of data/eval-symmetry.fen).
    // Update them only for an intended change.
    EXPECT_EQ(children, 7054);
    EXPECT_EQ(childSum, 233265);
    EXPECT_EQ(reports, 7903689207879747889u);
}

}  // namespace
