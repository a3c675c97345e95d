// The position: the Zobrist keys, the FEN reader, the exchange
// test, the playability test of remembered moves, the full check test behind
// moveGivesCheck, and the text forms of boards and moves.
#include "position.h"

#include <array>
#include <string_view>

#include "util.h"

// ---------------------------------------------------------------------------
// Zobrist keys
// ---------------------------------------------------------------------------
namespace {

// The key numbers are a fixed table built into the program, so keys are the
// same in every run and every build.  Most entries come from a splitmix64
// sequence evaluated at compile time; a few anchor entries are fixed values.
struct RandomTable {
    uint64_t v[800];
    constexpr RandomTable() : v() {
        uint64_t state = 0x7a3d1f5e9b2c4d81ULL;
        for (int i = 0; i < 800; i++) {
            state += 0x9e3779b97f4a7c15ULL;
            uint64_t z = state;
            z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
            z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
            v[i] = z ^ (z >> 31);
        }
        v[0] = 0xacfeaf947971818aULL;
        v[1] = 0x1e1a986bcee58e3bULL;
        v[2] = 0xd1dd9bbc7b8c8d68ULL;
        v[3] = 0x26c7a01e02433fa7ULL;
        v[64] = 0x752ca854f4bd14adULL;
        v[768] = 0xb60876bcf1ac653fULL;
        v[784] = 0xc1e7974d83cf2e9aULL;
        v[792] = 0xf31fa94fe63f529fULL;
    }
};
constexpr RandomTable ZOBRIST_SOURCE;

// The keys by piece code and square (none for the empty codes 0 and 1), by
// castling rights and en-passant file, and for Black to move; the pawn-key
// mask and the castling masks.
struct ZobristKeys {
    std::array<std::array<uint64_t, 64>, 14> piece{};
    std::array<uint64_t, 16> castling{};
    std::array<uint64_t, 8> enpassant{};
    uint64_t blackToMove = 0;
    std::array<uint64_t, 14> pawnMask{};
    std::array<uint8_t, 64> castlingMask{};

    constexpr ZobristKeys() {
        const uint64_t* numbers = ZOBRIST_SOURCE.v;
        for (int code = 2; code < 14; code++)
            for (int s = 0; s < 64; s++) piece[code][s] = numbers[(code - 2) * 64 + s];
        for (int r = 0; r < 16; r++) castling[r] = numbers[768 + r];
        for (int f = 0; f < 8; f++) enpassant[f] = numbers[784 + f];
        blackToMove = numbers[792];
        for (int code = WPAWN; code <= BKING; code++) pawnMask[code] = code <= BPAWN || code >= WKING ? ~0ULL : 0;
        for (int s = 0; s < 64; s++) castlingMask[s] = 15;
        castlingMask[E1] = 15 & ~(WHITE_OO | WHITE_OOO);
        castlingMask[H1] = 15 & ~WHITE_OO;
        castlingMask[A1] = 15 & ~WHITE_OOO;
        castlingMask[E8] = 15 & ~(BLACK_OO | BLACK_OOO);
        castlingMask[H8] = 15 & ~BLACK_OO;
        castlingMask[A8] = 15 & ~BLACK_OOO;
    }
};
constexpr ZobristKeys ZOBRIST;

}  // namespace

constexpr std::array<std::array<uint64_t, 64>, 14> ZOBRIST_PIECE = ZOBRIST.piece;
constexpr std::array<uint64_t, 16> ZOBRIST_CASTLING = ZOBRIST.castling;
constexpr std::array<uint64_t, 8> ZOBRIST_EN_PASSANT = ZOBRIST.enpassant;
constexpr uint64_t ZOBRIST_BLACK_TO_MOVE = ZOBRIST.blackToMove;
constexpr std::array<uint64_t, 14> PAWN_KEY_MASK = ZOBRIST.pawnMask;
constexpr std::array<uint8_t, 64> CASTLING_MASK = ZOBRIST.castlingMask;

uint64_t computeKey(const Position* pos) {
    uint64_t key = 0;
    for (int code = 2; code < 14; code++) {
        uint64_t b = pos->pieceBitboard[code];
        while (b) key ^= ZOBRIST_PIECE[code][popLsb(b)];
    }
    key ^= ZOBRIST_CASTLING[pos->castlingRights & 15];
    if (pos->enpassantSquare) key ^= ZOBRIST_EN_PASSANT[pos->enpassantSquare & 7];
    if (pos->sideToMove == BLACK) key ^= ZOBRIST_BLACK_TO_MOVE;
    return key;
}

uint64_t computePawnKey(const Position* pos) {
    uint64_t key = 0;
    for (int code : {WPAWN, BPAWN, WKING, BKING}) {
        uint64_t b = pos->pieceBitboard[code];
        while (b) key ^= ZOBRIST_PIECE[code][popLsb(b)];
    }
    return key;
}

// ---------------------------------------------------------------------------
// FEN reader
// ---------------------------------------------------------------------------
namespace {

// Fields of a FEN, as views into its text: the text is split at every blank
// (two blanks in a row give an empty field), a missing blank at the end is
// implied, fields beyond the sixth are ignored, and missing trailing fields
// read as "w", "-", "-", "0" and "1".  `count` is the number of fields the
// text itself has.  The tuning command sets up every position of a large file
// from its FEN, so this allocates nothing.
struct FenFields {
    std::string_view field[6];
    size_t count = 0;
    std::string_view operator[](size_t i) const { return field[i]; }
};

FenFields splitFenFields(std::string_view fen) {
    FenFields f;
    size_t start = 0;
    while (f.count < 6) {
        const size_t blank = fen.find(' ', start);
        if (blank == std::string_view::npos) {
            if (start < fen.size() || fen.empty()) f.field[f.count++] = fen.substr(start);
            break;
        }
        f.field[f.count++] = fen.substr(start, blank - start);
        start = blank + 1;
    }
    static constexpr std::string_view missing[6] = {"", "w", "-", "-", "0", "1"};
    for (size_t i = f.count; i < 6; i++) f.field[i] = missing[i];
    return f;
}

// Piece code of a FEN letter (the index of the letter in PIECE_LETTERS), or
// 0 for any other character.  A table rather than a string search, since the
// letters of every FEN are looked up one by one.
struct PieceLetterTable {
    uint8_t code[256];
    constexpr PieceLetterTable() : code() {
        for (int c = 2; c < 14; c++) code[(unsigned char)PIECE_LETTERS[c]] = (uint8_t)c;
    }
};
constexpr PieceLetterTable PIECE_LETTER_CODES;

inline int pieceCodeOfLetter(char ch) { return PIECE_LETTER_CODES.code[(unsigned char)ch]; }

// What is wrong with a FEN's board field, if anything.
struct BoardFieldFault {
    enum Kind { NONE, RANK_TOO_LONG, RANK_TOO_SHORT, TOO_MANY_RANKS, UNKNOWN_LETTER, TOO_FEW_RANKS } what = NONE;
    int rank = 0;  // 1..8
    char letter = 0;
};

// Walks the board field from a8, rank by rank, and hands every man that
// lands on the board to onMan(code, square).  The first fault found is
// returned; the walk goes on past it as far as the board allows, so that a
// malformed field can never place a man off the board.
template <typename F>
BoardFieldFault walkBoardField(std::string_view field, F&& onMan) {
    BoardFieldFault fault;
    auto note = [&fault](BoardFieldFault::Kind what, int rank, char letter = 0) {
        if (fault.what == BoardFieldFault::NONE) fault = {what, rank + 1, letter};
    };
    int rank = 7, file = 0;
    for (char ch : field) {
        if (ch >= '1' && ch <= '8') {
            file += ch - '0';
            if (file > 8) note(BoardFieldFault::RANK_TOO_LONG, rank);
        } else if (ch == '/') {
            if (file != 8) note(BoardFieldFault::RANK_TOO_SHORT, rank);
            if (--rank < 0) note(BoardFieldFault::TOO_MANY_RANKS, 0);
            file = 0;
        } else {
            const int code = pieceCodeOfLetter(ch);
            if (code == 0)
                note(BoardFieldFault::UNKNOWN_LETTER, rank, ch);
            else if (file >= 8)
                note(BoardFieldFault::RANK_TOO_LONG, rank);
            else if (rank >= 0)
                onMan(code, rank * 8 + file);
            file++;
        }
    }
    if (rank != 0 || file != 8) note(BoardFieldFault::TOO_FEW_RANKS, 0);
    return fault;
}

// The en-passant field as a pawn square (the pawn that made the double step),
// or 0 when the field does not describe a possible capture target.
int enpassantPawnSquare(std::string_view field, int side, const uint8_t* board) {
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
    const FenFields f = splitFenFields(fen);
    if (f.count < 2 || f[0].empty()) return "FEN needs at least a board and a side to move";
    int count[14] = {0};
    uint64_t men[14] = {0};
    bool pawnOnEdge = false;
    const BoardFieldFault fault = walkBoardField(f[0], [&](int code, int sq) {
        if ((code == WPAWN || code == BPAWN) && (rankOf(sq) == 0 || rankOf(sq) == 7)) pawnOnEdge = true;
        count[code]++;
        count[code & 1]++;
        men[code] |= bit(sq);
        men[code & 1] |= bit(sq);
    });
    switch (fault.what) {
    case BoardFieldFault::NONE: break;
    case BoardFieldFault::RANK_TOO_LONG:
        return "FEN board rank " + std::to_string(fault.rank) + " has more than eight squares";
    case BoardFieldFault::RANK_TOO_SHORT:
        return "FEN board rank " + std::to_string(fault.rank) + " does not have eight squares";
    case BoardFieldFault::TOO_MANY_RANKS: return "FEN board has more than eight ranks";
    case BoardFieldFault::UNKNOWN_LETTER:
        return std::string("FEN board has an unknown character '") + fault.letter + "'";
    case BoardFieldFault::TOO_FEW_RANKS: return "FEN board does not have eight full ranks";
    }
    if (pawnOnEdge) return "FEN has a pawn on the first or last rank";
    if (count[WKING] != 1) return "FEN must have exactly one white king";
    if (count[BKING] != 1) return "FEN must have exactly one black king";
    if (count[0] > 16) return "FEN has more than 16 white men";
    if (count[1] > 16) return "FEN has more than 16 black men";
    if (f[1] != "w" && f[1] != "b") return "FEN side to move must be w or b";
    // The castling, en-passant and counter fields only add to what the board
    // says; setPosition keeps what fits the board and drops the rest, so
    // they never make a position unusable.

    // The side that is not to move must not be in check.  The attack test
    // reads only the bitboards, so they are all the scratch record gets.
    Position scratch{};
    std::memcpy(scratch.pieceBitboard, men, sizeof men);
    const bool illegal = sideInCheck(&scratch, f[1] == "w" ? BLACK : WHITE);
    if (illegal) return "FEN position has the side not to move in check";
    return "";
}

void setPosition(const std::string& fen, Position* pos, KeyHistory* keys) {
    *pos = Position();
    const FenFields f = splitFenFields(fen);

    // Board, from a8 rank by rank; anything that would leave the board is
    // ignored so that a malformed text cannot write outside the record.  The
    // keys and the material, piece-square and phase sums are gathered on the
    // way (the same values as computing them from scratch afterwards).
    uint64_t key = 0, pawnKey = 0;
    int32_t material[2] = {0, 0}, pst[2] = {0, 0};
    int phase = 0;
    walkBoardField(f[0], [&](int code, int sq) {
        const int c = code & 1, t = typeOf(code);
        pos->board[sq] = (uint8_t)code;
        pos->pieceBitboard[code] |= bit(sq);
        pos->pieceBitboard[c] |= bit(sq);
        key ^= ZOBRIST_PIECE[code][sq];
        if (t == 0 || t == 5) pawnKey ^= ZOBRIST_PIECE[code][sq];
        if (t != 5) material[c] += PIECE_VALUE[t];
        if (t != 0 && t != 5) phase += PHASE_WEIGHT[t];
        pst[c] += PIECE_SQUARE[t][relSq(sq, c)];
    });

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
    pos->castlingRights = rights;

    pos->enpassantSquare = (uint8_t)enpassantPawnSquare(f[3], pos->sideToMove, pos->board);

    // A counter that is missing, negative or not a number reads as a fresh
    // count: no reversible moves yet, first move of the game.
    long long half = 0;
    parseInteger(f[4], 0, 9999, half);
    pos->fiftyMoveCounter = (int16_t)half;

    long long moveNumber = 1;
    parseInteger(f[5], 1, 100000, moveNumber);
    long long gamePly = 2 * moveNumber + pos->sideToMove - 2;
    if (gamePly < 0) gamePly = 0;
    if (gamePly > 512) gamePly = 512;

    key ^= ZOBRIST_CASTLING[rights];
    if (pos->enpassantSquare) key ^= ZOBRIST_EN_PASSANT[pos->enpassantSquare & 7];
    if (pos->sideToMove == BLACK) key ^= ZOBRIST_BLACK_TO_MOVE;
    pos->hashKey = key;
    pos->pawnHashKey = pawnKey;
    if (keys) {
        for (int i = 0; i < gamePly; i++) keys->keys[i] = 0;
        keys->keys[gamePly] = pos->hashKey;
        keys->length = (int16_t)(gamePly + 1);
    }

    pos->inCheck = (pos->pieceBitboard[WKING] && pos->pieceBitboard[BKING]) ? sideInCheck(pos, pos->sideToMove) : 0;

    pos->materialScore[0] = material[0];
    pos->materialScore[1] = material[1];
    pos->pieceSquareSum[0] = pst[0];
    pos->pieceSquareSum[1] = pst[1];
    pos->gamePhase = (int16_t)phase;
}

// ---------------------------------------------------------------------------
// Static exchange evaluation
// ---------------------------------------------------------------------------
const int16_t SEE_VALUE[16] = {0, 0, 88, 88, 335, 335, 335, 335, 521, 521, 1035, 1035, 10000, 10000, 0, 0};

bool seeAtLeast(const Position* pos, Move move, int threshold) {
    if (move.moveType == MT_ENPASSANT || move.moveType == MT_CASTLE_K || move.moveType == MT_CASTLE_Q)
        return threshold <= 0;
    const int t = move.to, f = move.from;
    const uint64_t* pb = pos->pieceBitboard;
    int balance = SEE_VALUE[pos->board[t]] - threshold;
    if (balance < 0) return false;
    balance -= SEE_VALUE[pos->board[f]];
    if (balance >= 0) return true;

    uint64_t occ = (pb[0] | pb[1]) ^ bit(f) ^ bit(t);
    const uint64_t diag = pb[WBISHOP] | pb[BBISHOP] | pb[WQUEEN] | pb[BQUEEN];
    const uint64_t straight = pb[WROOK] | pb[BROOK] | pb[WQUEEN] | pb[BQUEEN];
    uint64_t attackers = (bishopAttacks(t, occ) & diag) | (rookAttacks(t, occ) & straight) |
                         (PAWN_ATTACKS[WHITE][t] & pb[WPAWN]) | (PAWN_ATTACKS[BLACK][t] & pb[BPAWN]) |
                         (KNIGHT_ATTACKS[t] & (pb[WKNIGHT] | pb[BKNIGHT])) |
                         (KING_ATTACKS[t] & (pb[WKING] | pb[BKING]));
    attackers &= occ;
    int side = pos->sideToMove ^ 1;
    int result = 1;
    while (attackers & pb[side]) {
        int code = PAWN + side;
        uint64_t candidates = 0;
        for (; code <= KING + side; code += 2)
            if ((candidates = attackers & pb[code])) break;
        const int from = lsb(candidates);
        occ ^= bit(from);
        if (code == PAWN + side || code == BISHOP + side || code == QUEEN + side)
            attackers |= bishopAttacks(t, occ) & (pb[BISHOP + side] | pb[QUEEN + side]);
        else if (code == ROOK + side)
            attackers |= rookAttacks(t, occ) & (pb[ROOK + side] | pb[QUEEN + side]);
        attackers &= occ;
        if (code == KING + side) {
            if (!(attackers & pb[side ^ 1])) result ^= 1;
            break;
        }
        result ^= 1;
        const int next = balance + SEE_VALUE[code];
        if (next < 0) break;
        balance = -next;
        side ^= 1;
    }
    return result == 1;
}

// ---------------------------------------------------------------------------
// Remembered moves
// ---------------------------------------------------------------------------
bool moveIsPseudoLegal(const Position* pos, uint32_t word, bool quietOnly) {
    const Move m = wordToMove(word);
    const int from = m.from, to = m.to, piece = moveWordPiece(word);
    const int side = pos->sideToMove;
    if (from > 63 || to > 63 || from == to) return false;
    if (piece < WPAWN || piece > BKING || (piece & 1) != side || pos->board[from] != piece) return false;
    const int target = pos->board[to];
    if (target && ((target & 1) == side || target >= WKING)) return false;
    if (quietOnly && (target || m.moveType == MT_ENPASSANT)) return false;
    const uint64_t occ = pos->pieceBitboard[0] | pos->pieceBitboard[1];
    const int type = m.moveType;
    if (piece == PAWN + side) {
        const int fwd = side == WHITE ? 8 : -8;
        const int lastRankTo = side == WHITE ? 7 : 0;
        if (type == MT_ENPASSANT) {
            const int ep = pos->enpassantSquare;
            if (!ep || to != ep || !(EN_PASSANT_NEIGHBOURS[ep] & bit(from))) return false;
            return pos->board[to] == PAWN + (side ^ 1) && pos->board[to + fwd] == EMPTY;
        }
        const bool promoting = rankOf(to) == lastRankTo;
        if (promoting != (type >= MT_PROMO_N && type <= MT_PROMO_Q)) return false;
        if (type == MT_DOUBLE) {
            const int startRank = side == WHITE ? 1 : 6;
            return rankOf(from) == startRank && to == from + 2 * fwd && !(occ & (bit(from + fwd) | bit(to)));
        }
        if (type != MT_NORMAL && !promoting) return false;
        if (to == from + fwd) return target == EMPTY;
        return (PAWN_ATTACKS[side ^ 1][from] & bit(to)) && target != EMPTY;
    }
    if (type == MT_CASTLE_K || type == MT_CASTLE_Q) {
        if (piece != KING + side) return false;
        const int home = side == WHITE ? E1 : E8;
        const uint8_t rights = pos->castlingRights;
        if (from != home || pos->inCheck) return false;
        const int opp = side ^ 1;
        if (type == MT_CASTLE_K) {
            const uint8_t right = side == WHITE ? WHITE_OO : BLACK_OO;
            return to == home + 2 && (rights & right) && pos->board[home + 3] == ROOK + side &&
                   !(occ & (bit(home + 1) | bit(home + 2))) && !squareAttacked(pos, home + 1, opp, occ);
        }
        const uint8_t right = side == WHITE ? WHITE_OOO : BLACK_OOO;
        return to == home - 2 && (rights & right) && pos->board[home - 4] == ROOK + side &&
               !(occ & (bit(home - 1) | bit(home - 2) | bit(home - 3))) && !squareAttacked(pos, home - 1, opp, occ);
    }
    if (type != MT_NORMAL) return false;
    switch (piece & ~1) {
    case KNIGHT: return (KNIGHT_ATTACKS[from] & bit(to)) != 0;
    case KING: return (KING_ATTACKS[from] & bit(to)) != 0;
    case BISHOP: return (BISHOP_RAYS[from] & bit(to)) && !(BETWEEN_SQUARES[from][to] & occ);
    case ROOK: return (ROOK_RAYS[from] & bit(to)) && !(BETWEEN_SQUARES[from][to] & occ);
    default: return ((BISHOP_RAYS[from] | ROOK_RAYS[from]) & bit(to)) && !(BETWEEN_SQUARES[from][to] & occ);
    }
}

// ---------------------------------------------------------------------------
// The check test
// ---------------------------------------------------------------------------
// Only the mover's men and the occupancy change; a captured man never shields
// the enemy king from anything but the square it stood on, which stays
// occupied (except after an en-passant capture, which empties it).
bool checkOnBoardAfter(const Position* pos, Move m) {
    const uint64_t* pb = pos->pieceBitboard;
    const int side = pos->sideToMove;
    const int k = lsb(pb[KING + (side ^ 1)]);
    const uint64_t fromBit = bit(m.from), toBit = bit(m.to);
    const bool ordinary = m.moveType == MT_NORMAL || m.moveType == MT_DOUBLE;
    const int kind = pos->board[m.from] & ~1;
    // The mover's men as the move leaves them: diagonal and straight sliders
    // (queens in both), pawns, knights and the king.
    uint64_t diag = pb[BISHOP + side] | pb[QUEEN + side], straight = pb[ROOK + side] | pb[QUEEN + side];
    uint64_t pawns = pb[PAWN + side], knights = pb[KNIGHT + side], king = pb[KING + side];
    uint64_t occ = pb[WHITE] | pb[BLACK];
    if (ordinary) {
        const uint64_t moved = fromBit | toBit;
        switch (kind) {
        case PAWN: pawns ^= moved; break;
        case KNIGHT: knights ^= moved; break;
        case BISHOP: diag ^= moved; break;
        case ROOK: straight ^= moved; break;
        case QUEEN: diag ^= moved, straight ^= moved; break;
        default: king ^= moved; break;
        }
        occ = (occ ^ fromBit) | toBit;
    } else if (m.moveType == MT_ENPASSANT) {
        // `to` holds the captured pawn; the capturing pawn lands behind it.
        const uint64_t land = bit(side == WHITE ? m.to + 8 : m.to - 8);
        pawns ^= fromBit | land;
        occ ^= fromBit | toBit | land;
    } else if (m.moveType == MT_CASTLE_K || m.moveType == MT_CASTLE_Q) {
        const uint64_t rookMove = bit(castlingRookFrom(m)) | bit(castlingRookTo(m));
        king ^= fromBit | toBit;
        straight ^= rookMove;
        occ ^= fromBit | toBit | rookMove;
    } else {  // promotion: the move type is the kind promoted to
        pawns ^= fromBit;
        if (m.moveType == MT_PROMO_N) knights |= toBit;
        if (m.moveType == MT_PROMO_B || m.moveType == MT_PROMO_Q) diag |= toBit;
        if (m.moveType == MT_PROMO_R || m.moveType == MT_PROMO_Q) straight |= toBit;
        occ = (occ ^ fromBit) | toBit;
    }
    return (bishopAttacks(k, occ) & diag) || (rookAttacks(k, occ) & straight) || (PAWN_ATTACKS[side][k] & pawns) ||
           (KNIGHT_ATTACKS[k] & knights) || (KING_ATTACKS[k] & king);
}

// ---------------------------------------------------------------------------
// Text forms
// ---------------------------------------------------------------------------

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
    case MT_ENPASSANT: s += squareToString((side == WHITE ? move->to + 8 : move->to - 8) & 63); break;
    default: s += squareToString(move->to & 63); break;
    }
    return s;
}

std::string lineToText(const Move* line, int count, unsigned char side) {
    std::string s;
    for (int k = 0; k < count; k++) {
        // Moves are separated by single blanks, and nothing follows the
        // last: strict parsers split on every blank.
        if (k > 0) s += ' ';
        s += moveToText(&line[k], side);
        side ^= 1;
    }
    return s;
}
