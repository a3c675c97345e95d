#include "test_support.h"

#include <fstream>

#include "eval.h"
#include "movegen.h"
#include "uci.h"

namespace {
// The global tables are filled once for the whole test program.
struct TablesOnce {
    TablesOnce() { initEngineTables(); }
} tablesOnce;
PawnHashEntry sharedPawnTable[PAWN_HASH_ENTRIES];
EvalCacheEntry sharedEvalCache[EVAL_CACHE_ENTRIES];
}  // namespace

const EvalCaches& testCaches() {
    static const EvalCaches caches = {sharedPawnTable, sharedEvalCache};
    return caches;
}

TestPosition::TestPosition(const std::string& fen) { setPosition(fen, &game_.position, &game_.keys); }

std::vector<std::string> legalMoves(const Position* pos) {
    Position copy = *pos;
    Move list[MAX_MOVES];
    std::vector<std::string> out;
    for (Move *m = list, *end = generateMovesLegal(&copy, list); m < end; m++)
        out.push_back(moveToText(m, pos->sideToMove));
    return out;
}

int countMoves(const Position* pos, const std::string& prefix) {
    int n = 0;
    for (auto& m : legalMoves(pos))
        if (m.compare(0, prefix.size(), prefix) == 0) n++;
    return n;
}

Move findMove(const Position* pos, const std::string& text) {
    Position copy = *pos;
    Move list[MAX_MOVES];
    for (Move *m = list, *end = generateMovesLegal(&copy, list); m < end; m++)
        if (moveToText(m, pos->sideToMove) == text) return *m;
    return NO_MOVE;
}

std::string toFen(const Position* pos) {
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
    const int cr = pos->castlingRights, ep = pos->enpassantSquare;
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
