// The position record's set-up from FEN.  (The search itself follows in this
// file.)
#include <cstdlib>
#include <vector>

#include "tarnwick.h"

positionStruct GPSData;

positionStruct::positionStruct() { std::memset(static_cast<void*>(this), 0, sizeof(*this)); }

namespace {

std::vector<std::string> splitFenFields(std::string fen) {
    if (fen.empty() || fen.back() != ' ') fen += ' ';
    std::vector<std::string> fields;
    std::string cur;
    for (char ch : fen) {
        if (ch == ' ') {
            fields.push_back(cur);
            cur.clear();
        } else {
            cur += ch;
        }
    }
    if (fields.size() == 2) fields.push_back("-");
    if (fields.size() == 3) fields.push_back("-");
    if (fields.size() == 4) fields.push_back("0");
    if (fields.size() == 5) fields.push_back("1");
    return fields;
}

// Decimal number of a FEN counter, saturated to a range the record can hold.
long long readCounter(const std::string& s, long long maxValue) {
    long long v = 0;
    size_t i = 0;
    bool neg = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; i++) {
        v = v * 10 + (s[i] - '0');
        if (v > maxValue) v = maxValue;
    }
    return neg ? -v : v;
}

bool isNumber(const std::string& s) {
    if (s.empty()) return false;
    for (char ch : s)
        if (ch < '0' || ch > '9') return false;
    return true;
}

// The en-passant field as a pawn square (the pawn that made the double step),
// or 0 when the field does not describe a possible capture target.
int enpassantPawnSquare(const std::string& field, int side, const uint8_t* board) {
    if (field.size() != 2 || field[0] < 'a' || field[0] > 'h') return 0;
    if (field[1] != (side == WHITE ? '6' : '3')) return 0;
    const int target = (field[0] - 'a') + 8 * (field[1] - '1');
    const int pawnSq = side == WHITE ? target - 8 : target + 8;
    const int fromSq = side == WHITE ? target + 8 : target - 8;
    if (board[pawnSq] != PAWN + (side ^ 1) || board[target] != EMPTY || board[fromSq] != EMPTY) return 0;
    return pawnSq;
}

}  // namespace

std::string validateFen(const std::string& fen) {
    std::vector<std::string> f = splitFenFields(fen);
    if (f.size() < 2 || f[0].empty()) return "FEN needs at least a board and a side to move";
    int rank = 7, file = 0;
    int count[14] = {0};
    for (char ch : f[0]) {
        if (ch >= '1' && ch <= '8') {
            file += ch - '0';
            if (file > 8) return "FEN board rank " + std::to_string(rank + 1) + " has more than eight squares";
        } else if (ch == '/') {
            if (file != 8) return "FEN board rank " + std::to_string(rank + 1) + " does not have eight squares";
            if (--rank < 0) return "FEN board has more than eight ranks";
            file = 0;
        } else {
            size_t code = fenLabelPieces.find(ch, 2);
            if (ch == ' ' || code == std::string::npos) return std::string("FEN board has an unknown character '") + ch + "'";
            if (file >= 8) return "FEN board rank " + std::to_string(rank + 1) + " has more than eight squares";
            if ((code == WPAWN || code == BPAWN) && (rank == 0 || rank == 7)) return "FEN has a pawn on the first or last rank";
            count[code]++;
            count[code & 1]++;
            file++;
        }
    }
    if (rank != 0 || file != 8) return "FEN board does not have eight full ranks";
    if (count[WKING] != 1) return "FEN must have exactly one white king";
    if (count[BKING] != 1) return "FEN must have exactly one black king";
    if (count[0] > 16) return "FEN has more than 16 white men";
    if (count[1] > 16) return "FEN has more than 16 black men";
    if (f[1] != "w" && f[1] != "b") return "FEN side to move must be w or b";
    if (f[3] != "-" && (f[3].size() != 2 || f[3][0] < 'a' || f[3][0] > 'h' || f[3][1] != (f[1] == "w" ? '6' : '3')))
        return "FEN has an invalid en passant square '" + f[3] + "'";
    if (!isNumber(f[4])) return "FEN half-move clock is not a number";
    if (!isNumber(f[5])) return "FEN move number is not a number";

    // The side that is not to move must not be in check.
    positionStruct* tmp = new positionStruct;
    setPosition(fen, tmp);
    bool illegal = sideInCheck(tmp, tmp->sideToMove ^ 1);
    delete tmp;
    if (illegal) return "FEN position has the side not to move in check";
    return "";
}

void setPosition(std::string fen, positionStruct* pos) {
    std::memset(pos->board, 0, sizeof pos->board);
    std::memset(pos->pieceBitboard, 0, sizeof pos->pieceBitboard);
    std::vector<std::string> f = splitFenFields(fen);
    while (f.size() < 6) f.push_back(f.size() == 1 ? "w" : (f.size() < 4 ? "-" : (f.size() == 4 ? "0" : "1")));

    // Board, from a8 rank by rank; anything that would leave the board is
    // ignored so that a malformed text cannot write outside the record.
    int rank = 7, file = 0;
    for (char ch : f[0]) {
        if (ch >= '1' && ch <= '8') {
            file += ch - '0';
        } else if (ch == '/') {
            rank--;
            file = 0;
        } else {
            size_t code = fenLabelPieces.find(ch, 2);
            if (code != std::string::npos && ch != ' ' && rank >= 0 && rank < 8 && file >= 0 && file < 8) {
                int sq = rank * 8 + file;
                pos->board[sq] = (uint8_t)code;
                pos->pieceBitboard[code] |= bit(sq);
                pos->pieceBitboard[code & 1] |= bit(sq);
            }
            file++;
        }
    }

    pos->sideToMove = (!f[1].empty() && f[1][0] == 'w') ? WHITE : BLACK;

    // Castling rights, kept only where king and rook still stand at home.
    uint8_t rights = 0;
    for (char ch : f[2]) {
        if (ch == 'K') rights |= WHITE_OO;
        if (ch == 'k') rights |= BLACK_OO;
        if (ch == 'Q') rights |= WHITE_OOO;
        if (ch == 'q') rights |= BLACK_OOO;
    }
    if (pos->board[E1] != WKING) rights &= ~(WHITE_OO | WHITE_OOO);
    if (pos->board[H1] != WROOK) rights &= ~WHITE_OO;
    if (pos->board[A1] != WROOK) rights &= ~WHITE_OOO;
    if (pos->board[E8] != BKING) rights &= ~(BLACK_OO | BLACK_OOO);
    if (pos->board[H8] != BROOK) rights &= ~BLACK_OO;
    if (pos->board[A8] != BROOK) rights &= ~BLACK_OOO;
    pos->plyStack[0].castlingRights = rights;

    pos->plyStack[0].enpassantSquare = (uint8_t)enpassantPawnSquare(f[3], pos->sideToMove, pos->board);

    long long half = readCounter(f[4], 9999);
    pos->fiftyMoveCounter = (int16_t)(half < 0 ? 0 : half);

    long long moveNumber = readCounter(f[5], 100000);
    long long gamePly = 2 * moveNumber + pos->sideToMove - 2;
    if (gamePly < 0) gamePly = 0;
    if (gamePly > 512) gamePly = 512;
    for (int i = 0; i < gamePly; i++) pos->keyHistory[i] = 0;

    pos->hashKey = calcHashKey(0, pos);
    pos->pawnHashKey = calcPawnHashKey(pos);
    pos->keyHistory[gamePly] = pos->hashKey;
    pos->historyLength = (int16_t)(gamePly + 1);

    pos->plyStack[0].inCheck =
        (pos->pieceBitboard[WKING] && pos->pieceBitboard[BKING]) ? sideInCheck(pos, pos->sideToMove) : 0;

    pos->materialScore[0] = pos->materialScore[1] = 0;
    pos->pieceSquareSum[0] = pos->pieceSquareSum[1] = 0;
    pos->gamePhase = 0;
    for (int code = WPAWN; code <= BKING; code++) {
        const int t = typeOf(code), c = code & 1;
        U64 b = pos->pieceBitboard[code];
        if (code < WKING) {
            pos->materialScore[c] += popcount(b) * pieceValue[t];
            if (t != 0) pos->gamePhase += (int16_t)(popcount(b) * pieceValuePhase[t]);
        }
        while (b) pos->pieceSquareSum[c] += pieceSquareScore[t][relSq(popLsb(b), c)];
    }
}
