// The position record and everything that reads or changes a position
// directly: the attack, legality and check tests, making and unmaking moves
// (with the incremental material, piece-square, phase and key sums), the
// Zobrist keys, the FEN reader, the exchange test, the playability test of a
// remembered move, and moves and boards as text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "bitboard.h"
#include "psqt.h"
#include "types.h"

// ---------------------------------------------------------------------------
// Position record
// ---------------------------------------------------------------------------
// The board and the state of the game that goes with it: the men (by square
// and by bitboard), the side to move, castling rights, the en-passant
// square, the fifty-move counter, the keys and the incremental material,
// piece-square and phase sums the evaluation reads.  A plain value: copying
// it copies the position, and it knows nothing of any search.
struct Position {
    uint8_t board[64];
    uint64_t hashKey;
    uint64_t pawnHashKey;
    uint64_t pieceBitboard[14];
    // The men of the side to move that are not pinned to their king.  Set by
    // the move generators for the position they generate in; the legality
    // test reads it.
    uint64_t notPinnedMask;
    int32_t materialScore[2];
    int32_t pieceSquareSum[2];
    int16_t gamePhase;
    int16_t fiftyMoveCounter;
    uint8_t sideToMove;
    uint8_t castlingRights;
    // The square of the pawn that may be taken en passant (0: none).
    uint8_t enpassantSquare;
    // The side to move is in check.  Set by setPosition and by whoever
    // makes a move and then needs it (the search, perft); makeMove itself
    // leaves it as it was.
    uint8_t inCheck;
};

// What makeMove changes that unmakeMove cannot work out again: the state of
// the position before the move, kept by the caller (the search keeps one per
// ply) and handed back to unmakeMove.
struct BoardState {
    uint64_t hashKey;
    uint64_t pawnHashKey;
    uint64_t notPinnedMask;
    int32_t materialScore[2];
    int32_t pieceSquareSum[2];
    int16_t gamePhase;
    int16_t fiftyMoveCounter;
    uint8_t castlingRights;
    uint8_t enpassantSquare;
    uint8_t inCheck;
    // The man the move took (its code, 0 for none; the pawn, for en passant).
    uint8_t capturedPiece;
};

// The keys of the positions of the game and then of the search line, for
// the repetition test.  The game record fills it with the game's positions;
// each search thread works on its own copy, to which the search adds the
// positions of its line and takes them off again.
struct KeyHistory {
    uint64_t keys[KEY_HISTORY_SIZE];
    int16_t length = 0;

    void push(uint64_t key) { keys[length++] = key; }
    void pop() { length--; }
    uint64_t last() const { return keys[length - 1]; }
};

// ---------------------------------------------------------------------------
// Zobrist keys
// ---------------------------------------------------------------------------
// Worked out at compile time from a fixed table of numbers, so that keys are
// the same in every run and every build.
extern const std::array<std::array<uint64_t, 64>, 14> ZOBRIST_PIECE;
extern const std::array<uint64_t, 16> ZOBRIST_CASTLING;
extern const std::array<uint64_t, 8> ZOBRIST_EN_PASSANT;
extern const uint64_t ZOBRIST_BLACK_TO_MOVE;
// Lets the key of a pawn or king into the pawn key, by piece code.
extern const std::array<uint64_t, 14> PAWN_KEY_MASK;
// The castling rights a move from or to a square leaves.
extern const std::array<uint8_t, 64> CASTLING_MASK;

uint64_t computeKey(const Position* pos);
uint64_t computePawnKey(const Position* pos);

// ---------------------------------------------------------------------------
// Setting up a position, and text forms
// ---------------------------------------------------------------------------
// FEN letters by piece code, and the letter of a promotion by move type.
constexpr char PIECE_LETTERS[] = "  PpNnBbRrQqKk";
constexpr char PROMOTION_LETTERS[] = "  ppnnbbrrqq";
constexpr char START_FEN[] = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

// Checks a FEN before it is given to setPosition; returns an empty string when
// the text describes a position the engine can work with, else the reason.
std::string validateFen(const std::string& fen);
// Set up a position from a FEN.  Trusts its text: check it with validateFen
// first.  With `keys`, the key history starts as a game would that had
// reached the FEN's move number: unknown positions (zero keys), then this
// one.
void setPosition(const std::string& fen, Position* pos, KeyHistory* keys = nullptr);

std::string boardToString(const Position* pos);
std::string squareToString(int sq);
// A move in long algebraic notation ("e2e4", "e7e8q") for the side to move.
std::string moveToText(const Move* move, unsigned char side);
// A line of `count` moves from a position with `side` to move, the moves
// separated by blanks.
std::string lineToText(const Move* line, int count, unsigned char side);

// ---------------------------------------------------------------------------
// Exchange test and remembered moves
// ---------------------------------------------------------------------------
extern const int16_t SEE_VALUE[16];
// Static exchange test against a threshold: does the capture gain at least
// `threshold` by SEE_VALUE once the exchange on its square is played out?
bool seeAtLeast(const Position* pos, Move move, int threshold);
// The quick answer of the exchange test: taking a man worth at least the
// taker (less the threshold) never loses, whatever follows.
inline bool exchangeQuickly(int victim, int mover, int threshold) {
    return SEE_VALUE[victim] - SEE_VALUE[mover] >= threshold;
}
// The exchange test with its quick answer first; most captures are settled
// without playing the exchange out.
inline bool exchangeAtLeast(const Position* pos, Move m, int threshold) {
    return exchangeQuickly(pos->board[m.to], pos->board[m.from], threshold) || seeAtLeast(pos, m, threshold);
}
// Is the remembered move (piece code in byte 3) playable on this board?
// Killers and counter moves must also be quiet.
bool moveIsPseudoLegal(const Position* pos, uint32_t move, bool quietOnly);

// ---------------------------------------------------------------------------
// Attack and legality tests
// ---------------------------------------------------------------------------

// Does a man of `colour` attack square s with occupancy occ?
inline bool squareAttacked(const Position* pos, int s, int colour, uint64_t occ) {
    const uint64_t* pb = pos->pieceBitboard;
    if (bishopAttacks(s, occ) & (pb[BISHOP + colour] | pb[QUEEN + colour])) return true;
    if (rookAttacks(s, occ) & (pb[ROOK + colour] | pb[QUEEN + colour])) return true;
    if (PAWN_ATTACKS[colour][s] & pb[PAWN + colour]) return true;
    if (KNIGHT_ATTACKS[s] & pb[KNIGHT + colour]) return true;
    return (KING_ATTACKS[s] & pb[KING + colour]) != 0;
}

inline int kingSquare(const Position* pos, int colour) { return lsb(pos->pieceBitboard[KING + colour]); }

inline bool sideInCheck(const Position* pos, int side) {
    return squareAttacked(pos, kingSquare(pos, side), side ^ 1, pos->pieceBitboard[0] | pos->pieceBitboard[1]);
}

// Legality of a pseudo-legal move when the side to move is not in check.
// Reads the position's not-pinned mask, which the generators set.
inline bool moveIsLegal(const Position* pos, Move m) {
    const uint64_t* pb = pos->pieceBitboard;
    const int side = pos->sideToMove, opp = side ^ 1;
    const uint64_t occ = pb[0] | pb[1];
    const int from = m.from, to = m.to;
    if (pos->board[from] == KING + side) {
        uint64_t occ2 = (occ ^ bit(from)) | bit(to);
        return !squareAttacked(pos, to, opp, occ2);
    }
    const int k = lsb(pb[KING + side]);
    const uint64_t diag = pb[BISHOP + opp] | pb[QUEEN + opp];
    const uint64_t straight = pb[ROOK + opp] | pb[QUEEN + opp];
    if (m.moveType == MT_ENPASSANT) {
        const int land = side == WHITE ? to + 8 : to - 8;
        uint64_t occ2 = (occ ^ bit(from) ^ bit(to)) | bit(land);
        return !((bishopAttacks(k, occ2) & diag) | (rookAttacks(k, occ2) & straight));
    }
    if (bit(from) & pos->notPinnedMask) return true;
    uint64_t occ2 = (occ ^ bit(from)) | bit(to);
    uint64_t notTo = ~bit(to);
    return !(((bishopAttacks(k, occ2) & diag) | (rookAttacks(k, occ2) & straight)) & notTo);
}

// ---------------------------------------------------------------------------
// Making and unmaking moves
// ---------------------------------------------------------------------------
// The rook's squares of a castling move (the king's move from `from` to
// `to`): it comes from the corner and lands on the square the king crossed.
inline int castlingRookFrom(Move m) { return m.moveType == MT_CASTLE_K ? m.from + 3 : m.from - 4; }
inline int castlingRookTo(Move m) { return m.moveType == MT_CASTLE_K ? m.to - 1 : m.to + 1; }

// The squares from which a man of this kind and side would check a king on k
// if nothing stood in between.
inline uint64_t emptyBoardCheckSquares(int kind, int side, int k) {
    switch (kind) {
    case PAWN: return PAWN_ATTACKS[side][k];
    case KNIGHT: return KNIGHT_ATTACKS[k];
    case BISHOP: return BISHOP_RAYS[k];
    case ROOK: return ROOK_RAYS[k];
    case QUEEN: return BISHOP_RAYS[k] | ROOK_RAYS[k];
    default: return 0;  // a king never checks
    }
}

// Does the move, not yet made, check on the board it would leave?  The
// full test behind moveGivesCheck.
bool checkOnBoardAfter(const Position* pos, Move m);

// Would the move give check?  Asked before the move is made, for moves the
// search may drop unless they check: it answers as the check test on the
// board after the move would, without making and taking back the move.
inline bool moveGivesCheck(const Position* pos, Move m) {
    if (m.moveType == MT_NORMAL || m.moveType == MT_DOUBLE) {
        // Most moves are settled without the attack sets: a man checks only
        // from a square that would see the king on an empty board, or by
        // leaving a line between the king and a slider of its own side.
        const uint64_t* pb = pos->pieceBitboard;
        const int side = pos->sideToMove;
        const int k = lsb(pb[KING + (side ^ 1)]);
        const uint64_t fromBit = bit(m.from);
        const uint64_t diagLines = BISHOP_RAYS[k], straightLines = ROOK_RAYS[k];
        const bool direct = (bit(m.to) & emptyBoardCheckSquares(pos->board[m.from] & ~1, side, k)) != 0;
        const bool uncovers = ((fromBit & diagLines) && (diagLines & (pb[BISHOP + side] | pb[QUEEN + side]))) ||
                              ((fromBit & straightLines) && (straightLines & (pb[ROOK + side] | pb[QUEEN + side])));
        if (!direct && !uncovers) return false;
    }
    return checkOnBoardAfter(pos, m);
}

// Make a (pseudo-legal) move; `saved` receives what unmakeMove needs.  The
// check flag is left to the caller, and the key is not added to any history.
inline void makeMove(Position* pos, Move move, BoardState& saved) {
    const int side = pos->sideToMove, opp = side ^ 1;
    const int from = move.from, to = move.to;
    const int mover = pos->board[from];
    const int captured = pos->board[to];
    const uint64_t fromBit = bit(from), toBit = bit(to);
    uint64_t* pb = pos->pieceBitboard;

    saved.capturedPiece = (uint8_t)captured;
    saved.materialScore[0] = pos->materialScore[0];
    saved.materialScore[1] = pos->materialScore[1];
    saved.pieceSquareSum[0] = pos->pieceSquareSum[0];
    saved.pieceSquareSum[1] = pos->pieceSquareSum[1];
    saved.gamePhase = pos->gamePhase;
    saved.fiftyMoveCounter = pos->fiftyMoveCounter;
    saved.hashKey = pos->hashKey;
    saved.pawnHashKey = pos->pawnHashKey;
    saved.notPinnedMask = pos->notPinnedMask;
    saved.castlingRights = pos->castlingRights;
    saved.enpassantSquare = pos->enpassantSquare;
    saved.inCheck = pos->inCheck;

    uint64_t key = pos->hashKey ^ ZOBRIST_BLACK_TO_MOVE;
    if (pos->enpassantSquare) key ^= ZOBRIST_EN_PASSANT[pos->enpassantSquare & 7];
    const uint8_t oldRights = pos->castlingRights;
    const uint8_t newRights = oldRights & CASTLING_MASK[from] & CASTLING_MASK[to];
    pos->castlingRights = newRights;
    key ^= ZOBRIST_CASTLING[oldRights] ^ ZOBRIST_CASTLING[newRights];  // nothing when they are equal
    pos->enpassantSquare = 0;
    uint64_t pawnKey = pos->pawnHashKey;

    if (captured) {
        pos->materialScore[opp] -= MATERIAL_BY_CODE[captured];
        pos->pieceSquareSum[opp] -= PIECE_SQUARE_BY_CODE[captured][to];
        pos->gamePhase -= PHASE_BY_CODE[captured];
        pb[captured] ^= toBit;
        pb[opp] ^= toBit;
        key ^= ZOBRIST_PIECE[captured][to];
        pawnKey ^= ZOBRIST_PIECE[captured][to] & PAWN_KEY_MASK[captured];
    }

    const int32_t* pst = PIECE_SQUARE_BY_CODE[mover].data();
    if (move.moveType == MT_NORMAL || move.moveType == MT_DOUBLE) {
        pos->pieceSquareSum[side] += pst[to] - pst[from];
        pb[mover] ^= fromBit | toBit;
        pb[side] ^= fromBit | toBit;
        pos->board[to] = (uint8_t)mover;
        const uint64_t moved = ZOBRIST_PIECE[mover][from] ^ ZOBRIST_PIECE[mover][to];
        key ^= moved;
        pawnKey ^= moved & PAWN_KEY_MASK[mover];
        if (move.moveType == MT_DOUBLE) {
            pos->enpassantSquare = (uint8_t)to;
            key ^= ZOBRIST_EN_PASSANT[to & 7];
        }
    } else if (move.moveType == MT_ENPASSANT) {
        const int land = side == WHITE ? to + 8 : to - 8;
        pos->pieceSquareSum[side] += pst[land] - pst[from];
        pos->board[to] = 0;
        pb[mover] ^= fromBit | bit(land);
        pb[side] ^= fromBit | bit(land);
        pos->board[land] = (uint8_t)mover;
        key ^= ZOBRIST_PIECE[mover][from] ^ ZOBRIST_PIECE[mover][land];
        pawnKey ^= ZOBRIST_PIECE[mover][from] ^ ZOBRIST_PIECE[mover][land];
    } else if (move.moveType >= MT_CASTLE_K) {
        const int rook = ROOK + side;
        const int rFrom = castlingRookFrom(move), rTo = castlingRookTo(move);
        const int32_t* rpst = PIECE_SQUARE_BY_CODE[rook].data();
        pos->pieceSquareSum[side] += pst[to] - pst[from] - rpst[rFrom] + rpst[rTo];
        pb[mover] ^= fromBit | toBit;
        pb[side] ^= fromBit | toBit;
        pos->board[to] = (uint8_t)mover;
        key ^= ZOBRIST_PIECE[mover][from] ^ ZOBRIST_PIECE[mover][to];
        pawnKey ^= ZOBRIST_PIECE[mover][from] ^ ZOBRIST_PIECE[mover][to];
        pb[rook] ^= bit(rFrom) | bit(rTo);
        pb[side] ^= bit(rFrom) | bit(rTo);
        pos->board[rTo] = (uint8_t)rook;
        pos->board[rFrom] = 0;
        key ^= ZOBRIST_PIECE[rook][rFrom] ^ ZOBRIST_PIECE[rook][rTo];
    } else {  // promotion
        const int newPiece = side + move.moveType;
        pos->materialScore[side] += MATERIAL_BY_CODE[newPiece] - MATERIAL_BY_CODE[mover];
        pos->pieceSquareSum[side] += PIECE_SQUARE_BY_CODE[newPiece][to] - pst[from];
        pos->gamePhase += PHASE_BY_CODE[newPiece];
        pb[mover] ^= fromBit;
        pb[newPiece] ^= toBit;
        pb[side] ^= fromBit | toBit;
        pos->board[to] = (uint8_t)newPiece;
        key ^= ZOBRIST_PIECE[mover][from] ^ ZOBRIST_PIECE[newPiece][to];
        pawnKey ^= ZOBRIST_PIECE[mover][from];
    }
    pos->board[from] = 0;
    pos->hashKey = key;
    pos->pawnHashKey = pawnKey;
    pos->fiftyMoveCounter = (captured || mover <= BPAWN) ? 0 : pos->fiftyMoveCounter + 1;
    pos->sideToMove = (uint8_t)opp;
}

// Take back the move made with makeMove, from what it saved.
inline void unmakeMove(Position* pos, Move move, const BoardState& saved) {
    const int side = pos->sideToMove ^ 1, opp = side ^ 1;
    pos->sideToMove = (uint8_t)side;
    pos->hashKey = saved.hashKey;
    pos->pawnHashKey = saved.pawnHashKey;
    pos->fiftyMoveCounter = saved.fiftyMoveCounter;
    pos->notPinnedMask = saved.notPinnedMask;
    pos->castlingRights = saved.castlingRights;
    pos->enpassantSquare = saved.enpassantSquare;
    pos->inCheck = saved.inCheck;
    const int from = move.from, to = move.to;
    const uint64_t fromBit = bit(from), toBit = bit(to);
    uint64_t* pb = pos->pieceBitboard;
    int mover;
    switch (move.moveType) {
    case MT_NORMAL:
    case MT_DOUBLE:
        mover = pos->board[to];
        pb[mover] ^= fromBit | toBit;
        pb[side] ^= fromBit | toBit;
        break;
    case MT_ENPASSANT: {
        const int land = side == WHITE ? to + 8 : to - 8;
        mover = PAWN + side;
        pb[mover] ^= fromBit | bit(land);
        pb[side] ^= fromBit | bit(land);
        pos->board[land] = 0;
        break;
    }
    case MT_CASTLE_K:
    case MT_CASTLE_Q: {
        const int rook = ROOK + side;
        const int rFrom = castlingRookFrom(move), rTo = castlingRookTo(move);
        mover = KING + side;
        pb[mover] ^= fromBit | toBit;
        pb[side] ^= fromBit | toBit;
        pb[rook] ^= bit(rFrom) | bit(rTo);
        pb[side] ^= bit(rFrom) | bit(rTo);
        pos->board[rTo] = 0;
        pos->board[rFrom] = (uint8_t)rook;
        break;
    }
    default:  // promotion
        mover = PAWN + side;
        pb[mover] ^= fromBit;
        pb[side + move.moveType] ^= toBit;
        pb[side] ^= fromBit | toBit;
        break;
    }
    pos->board[from] = (uint8_t)mover;
    const int captured = saved.capturedPiece;
    pos->board[to] = (uint8_t)captured;
    if (captured) {
        pb[captured] ^= toBit;
        pb[opp] ^= toBit;
    }
    pos->materialScore[0] = saved.materialScore[0];
    pos->materialScore[1] = saved.materialScore[1];
    pos->pieceSquareSum[0] = saved.pieceSquareSum[0];
    pos->pieceSquareSum[1] = saved.pieceSquareSum[1];
    pos->gamePhase = saved.gamePhase;
}

// Pass: the other side moves next, and no pawn may be taken en passant.
inline void makeNullMove(Position* pos, BoardState& saved) {
    saved.hashKey = pos->hashKey;
    saved.enpassantSquare = pos->enpassantSquare;
    saved.capturedPiece = 0;
    pos->sideToMove ^= 1;
    pos->hashKey ^= ZOBRIST_BLACK_TO_MOVE;
    if (pos->enpassantSquare) pos->hashKey ^= ZOBRIST_EN_PASSANT[pos->enpassantSquare & 7];
    pos->enpassantSquare = 0;
}

inline void unmakeNullMove(Position* pos, const BoardState& saved) {
    pos->sideToMove ^= 1;
    pos->hashKey = saved.hashKey;
    pos->enpassantSquare = saved.enpassantSquare;
}

// The position key after an ordinary move, capture or double step, computed
// before the move is made so that its table bucket can be fetched early; for
// castling, en passant and promotions it is wrong, which costs only a useless
// fetch.
inline uint64_t keyAfterGuess(const Position* pos, Move m) {
    const int mover = pos->board[m.from];
    const uint8_t rights = pos->castlingRights & CASTLING_MASK[m.from] & CASTLING_MASK[m.to];
    uint64_t key = pos->hashKey ^ ZOBRIST_BLACK_TO_MOVE ^ ZOBRIST_PIECE[mover][m.from] ^ ZOBRIST_PIECE[mover][m.to] ^
                   ZOBRIST_PIECE[pos->board[m.to]][m.to] ^ ZOBRIST_CASTLING[pos->castlingRights] ^
                   ZOBRIST_CASTLING[rights];
    if (pos->enpassantSquare) key ^= ZOBRIST_EN_PASSANT[pos->enpassantSquare & 7];
    if (m.moveType == MT_DOUBLE) key ^= ZOBRIST_EN_PASSANT[m.to & 7];
    return key;
}
