#include "test_support.h"

#include <fstream>

#include "eval.h"
#include "movegen.h"
#include "uci.h"

namespace {
// The global tables are filled once for the whole test program.
struct TablesOnce {
    TablesOnce() {
        initEngineTables();
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

std::string toFen(const Position* pos, int ply) {
    std::string s;
    for (int r = 7; r >= 0; r--) {
        for (int f = 0, empty = 0; f < 8; f++) {
            const int code = pos->board[r * 8 + f];
            if (code && empty) s += (char)('0' + empty);
            empty = code ? 0 : empty + 1;
            if (code) s += PIECE_LETTERS[code];
            if (f == 7 && empty) s += (char)('0' + empty);
        }
        if (r) s += '/';
    }
    s += pos->sideToMove == WHITE ? " w " : " b ";
    const int cr = pos->plyStack[ply].castlingRights, ep = pos->plyStack[ply].enpassantSquare;
    const std::pair<int, char> rights[] = {{WHITE_OO, 'K'}, {WHITE_OOO, 'Q'}, {BLACK_OO, 'k'}, {BLACK_OOO, 'q'}};
    for (auto [right, letter] : rights)
        if (cr & right) s += letter;
    if (!cr) s += '-';
    return s + (ep ? " " + squareToString(pos->sideToMove == WHITE ? ep + 8 : ep - 8) : " -") + " 0 1";
}

std::vector<std::string> perftFileFens() {
    std::ifstream in(TARNWICK_SOURCE_DIR "/data/perft.txt");
    std::vector<std::string> fens;
    for (std::string line; std::getline(in, line);) fens.push_back(line.substr(0, line.find(';')));
    return fens;
}

