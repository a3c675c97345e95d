// Text and time helpers under every part of the engine: the shared string
// constants, the board diagram, moves in long algebraic notation, the
// principal variation, numbers read from text, whole-line output and the
// millisecond clock.
#include <chrono>
#include <climits>
#include <cstdio>

#include "tarnwick.h"

const std::string PIECE_LETTERS = "  PpNnBbRrQqKk";
const std::string PROMOTION_PIECES = " pnbrqk";
const std::string PROMOTION_LETTERS = "  ppnnbbrrqq";
const std::string START_FEN = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

std::string squareToString(int sq) {
    std::string s;
    s += (char)('a' + (sq & 7));
    s += (char)('1' + (sq >> 3));
    return s;
}

std::string boardToString(const Position* pos) {
    static const char* line = "+---+---+---+---+---+---+---+---+\n";
    std::string s = line;
    for (int rank = 7; rank >= 0; rank--) {
        for (int file = 0; file < 8; file++) {
            s += "| ";
            s += PIECE_LETTERS[pos->board[rank * 8 + file] & 15];
            s += ' ';
        }
        s += "|\n";
        s += line;
    }
    return s;
}

std::string moveToText(const Move* move, unsigned char side) {
    std::string s = squareToString(move->from & 63);
    switch (move->moveType) {
    case MT_PROMO_N:
    case MT_PROMO_B:
    case MT_PROMO_R:
    case MT_PROMO_Q:
        s += squareToString(move->to & 63);
        s += PROMOTION_LETTERS[move->moveType];
        break;
    case MT_ENPASSANT:
        s += squareToString((side == WHITE ? move->to + 8 : move->to - 8) & 63);
        break;
    default:
        s += squareToString(move->to & 63);
        break;
    }
    return s;
}

std::string pvToText(const Position* pos) {
    std::string s;
    unsigned char colour = pos->sideToMove;
    int k = 0;
    do {
        // Moves are separated by single blanks, and nothing follows the
        // last: strict parsers split on every blank.
        if (k > 0) s += ' ';
        s += moveToText(&pos->plyStack[k].pvMove, colour);
        colour ^= 1;
        k++;
    } while (k <= pos->pvLastIndex && k <= MAX_PLY);
    return s;
}

// Every number the engine reads from text goes through here: the values of
// "go", "setoption", "perft" and "bench", and the counters of a FEN.  A GUI
// or a person at the keyboard can send anything, so a value beyond the range
// of its field is pulled back into it rather than rejected (a clock of
// 99999999999999999999 ms is simply a very long clock), and the digits are
// accumulated with saturation so that no input can overflow.
bool parseInteger(std::string_view text, long long lo, long long hi, long long& value) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) i++;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    if (i == text.size() || text[i] < '0' || text[i] > '9') return false;
    constexpr unsigned long long saturated = 1ULL << 63;
    unsigned long long magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; i++)
        magnitude = magnitude > (saturated - 9) / 10 ? saturated : magnitude * 10 + (unsigned)(text[i] - '0');
    long long v;
    if (magnitude >= saturated)
        v = negative ? LLONG_MIN : LLONG_MAX;
    else
        v = negative ? -(long long)magnitude : (long long)magnitude;
    value = v < lo ? lo : (v > hi ? hi : v);
    return true;
}

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
               .count() /
           1000000;
}

void printLine(const std::string& line) {
    std::string s = line;
    s += '\n';
    std::fwrite(s.data(), 1, s.size(), stdout);
    std::fflush(stdout);
}
