// Text forms of the board model: the shared string constants, the board
// diagram, moves in long algebraic notation and the principal variation.
#include "tarnwick.h"

const std::string fenLabelPieces = "  PpNnBbRrQqKk";
const std::string promotionPieces = " pnbrqk";
const std::string promotionLabels = "  ppnnbbrrqq";
const std::string fenStartPos = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

std::string squareToString(int sq) {
    std::string s;
    s += (char)('a' + (sq & 7));
    s += (char)('1' + (sq >> 3));
    return s;
}

std::string boardToString(const positionStruct* pos) {
    static const char* line = "+---+---+---+---+---+---+---+---+\n";
    std::string s = line;
    for (int rank = 7; rank >= 0; rank--) {
        for (int file = 0; file < 8; file++) {
            s += "| ";
            s += fenLabelPieces[pos->board[rank * 8 + file] & 15];
            s += ' ';
        }
        s += "|\n";
        s += line;
    }
    return s;
}

std::string moveToLA(const moveStruct* move, unsigned char side) {
    std::string s = squareToString(move->from & 63);
    switch (move->moveType) {
    case MT_PROMO_N:
    case MT_PROMO_B:
    case MT_PROMO_R:
    case MT_PROMO_Q:
        s += squareToString(move->to & 63);
        s += promotionLabels[move->moveType];
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

std::string PVToString(const positionStruct* pos) {
    std::string s;
    unsigned char colour = pos->sideToMove;
    int k = 0;
    do {
        s += moveToLA(&pos->plyStack[k].pvMove, colour);
        s += ' ';
        colour ^= 1;
        k++;
    } while (k <= pos->pvLastIndex && k <= MAX_PLY);
    return s;
}
