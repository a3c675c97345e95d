// Random positions of a tablebase's men, as FEN, for the tablebase tests and
// the tables fuzzing harness.  (No test framework here: the harness has none.)
#pragma once

#include <cctype>
#include <random>
#include <string>

namespace randomfens {

inline std::string boardFen(const char* board) {
    std::string fen;
    for (int r = 7; r >= 0; r--) {
        int empty = 0;
        for (int f = 0; f < 8; f++) {
            const char c = board[r * 8 + f];
            if (!c) {
                empty++;
                continue;
            }
            if (empty) fen += (char)('0' + empty);
            empty = 0;
            fen += c;
        }
        if (empty) fen += (char)('0' + empty);
        if (r) fen += '/';
    }
    return fen;
}

inline void placeRandomly(char* board, const std::string& name, std::mt19937_64& rng) {
    bool white = true;
    for (char c : name) {
        if (c == 'v') {
            white = false;
            continue;
        }
        int sq;
        do sq = (int)(rng() & 63);
        while (board[sq] || (c == 'P' && (sq < 8 || sq >= 56)));
        board[sq] = white ? c : (char)std::tolower(c);
    }
}

// A random placement of a table's men (may be illegal: check with validateFen).
inline std::string randomFen(const std::string& name, std::mt19937_64& rng) {
    char board[64] = {};
    placeRandomly(board, name, rng);
    return boardFen(board) + ((rng() & 1) ? " w - - 0 1" : " b - - 0 1");
}

// A random position right after a double step that can be taken en passant:
// one pawn of each colour is placed for it, the rest of the men at random.
inline std::string randomEnPassantFen(const std::string& name, std::mt19937_64& rng) {
    std::string rest = name;
    const size_t wp = rest.find('P'), bp = rest.rfind('P');
    if (wp == std::string::npos || bp == wp || bp < rest.find('v')) return "";
    rest.erase(bp, 1);
    rest.erase(wp, 1);
    const bool whiteToMove = rng() & 1;
    const int file = (int)(rng() % 8);
    const int side = (rng() & 1) ? 1 : -1;
    if (file + side < 0 || file + side > 7) return "";
    const int rank = whiteToMove ? 4 : 3;   // where the double step ended
    const int back = whiteToMove ? 8 : -8;  // towards the squares it passed
    const int sq = rank * 8 + file;
    char board[64] = {};
    board[sq] = whiteToMove ? 'p' : 'P';
    board[sq + side] = whiteToMove ? 'P' : 'p';
    board[sq + back] = board[sq + 2 * back] = 'x';  // keep the passed squares empty
    placeRandomly(board, rest, rng);
    board[sq + back] = board[sq + 2 * back] = 0;
    std::string target;
    target += (char)('a' + file);
    target += whiteToMove ? '6' : '3';
    return boardFen(board) + (whiteToMove ? " w - " : " b - ") + target + " 0 1";
}

}  // namespace randomfens
