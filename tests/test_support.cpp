#include "test_support.h"

#include "search.h"

namespace {
// The global tables are filled once for the whole test program.
struct TablesOnce {
    TablesOnce() {
        initBitboards();
        initZobristKeys();
    }
} tablesOnce;
PawnHashEntry sharedPawnTable[PAWN_HASH_ENTRIES];
EvalCacheEntry sharedEvalCache[EVAL_CACHE_ENTRIES];
}  // namespace

TestPosition::TestPosition(const std::string& fen) : pos_(new Position()), moves_(new Move[MOVE_BUFFER_SIZE]) {
    pos_->plyStack[0].moveListStart = moves_.get();
    pos_->pawnHashTable = sharedPawnTable;
    pos_->evalCache = sharedEvalCache;
    setPosition(fen, pos_.get());
}

std::vector<std::string> legalMoves(Position* pos) {
    generateMovesLegal(0, pos->plyStack[0].moveListStart, pos);
    std::vector<std::string> out;
    for (Move* m = pos->plyStack[0].moveListStart; m < pos->plyStack[0].moveListEnd; m++)
        out.push_back(moveToText(m, pos->sideToMove));
    return out;
}

int countMoves(Position* pos, const std::string& prefix) {
    int n = 0;
    for (auto& m : legalMoves(pos))
        if (m.compare(0, prefix.size(), prefix) == 0) n++;
    return n;
}

Move findMove(Position* pos, const std::string& text) {
    generateMovesLegal(0, pos->plyStack[0].moveListStart, pos);
    for (Move* m = pos->plyStack[0].moveListStart; m < pos->plyStack[0].moveListEnd; m++)
        if (moveToText(m, pos->sideToMove) == text) return *m;
    return NO_MOVE;
}
