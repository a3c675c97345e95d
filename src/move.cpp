// Move generation: captures (with their ordering scores), quiet moves,
// check evasions and the legal root list.  Outside check the generators are
// pseudo-legal; only pinned men, king moves and en passant need the legality
// test when a move is tried.
#include "tarnwick.h"

namespace {

constexpr U64 FILE_A = 0x0101010101010101ULL;
constexpr U64 FILE_H = FILE_A << 7;
constexpr U64 RANK_1 = 0xffULL;
constexpr U64 RANK_3 = RANK_1 << 16;
constexpr U64 RANK_6 = RANK_1 << 40;
constexpr U64 RANK_8 = RANK_1 << 56;

inline moveStruct* addMove(moveStruct* list, int from, int to, int type, int score) {
    const uint32_t w = (uint32_t)from | ((uint32_t)to << 8) | ((uint32_t)type << 16) | ((uint32_t)(score & 255) << 24);
    std::memcpy(list, &w, 4);
    return list + 1;
}

inline moveStruct* addPromotions(moveStruct* list, int from, int to, int score) {
    list = addMove(list, from, to, MT_PROMO_Q, score);
    list = addMove(list, from, to, MT_PROMO_R, score);
    list = addMove(list, from, to, MT_PROMO_B, score);
    return addMove(list, from, to, MT_PROMO_N, score);
}

// Pawn captures in one direction (delta 9 or 7 from the mover's point of
// view): promotions on the last rank first, then the ordinary captures.
inline moveStruct* pawnCaptures(moveStruct* list, const positionStruct* pos, U64 targets, int delta, int side,
                                bool evasionScores, bool queenOnly = false) {
    const int back = side == WHITE ? -delta : delta;
    U64 promo = targets & (RANK_8 | RANK_1);
    U64 plain = targets & ~(RANK_8 | RANK_1);
    while (promo) {
        int to = popLsb(promo);
        const int score = evasionScores ? 250 : pos->board[to] * 8 - 14;
        list = queenOnly ? addMove(list, to + back, to, MT_PROMO_Q, score) : addPromotions(list, to + back, to, score);
    }
    while (plain) {
        int to = popLsb(plain);
        list = addMove(list, to + back, to, MT_NORMAL, evasionScores ? 250 : pos->board[to] * 8 - 2);
    }
    return list;
}

inline U64 shiftNine(U64 pawns, int side) { return side == WHITE ? (pawns << 9) & ~FILE_A : (pawns >> 9) & ~FILE_H; }
inline U64 shiftSeven(U64 pawns, int side) { return side == WHITE ? (pawns << 7) & ~FILE_H : (pawns >> 7) & ~FILE_A; }
inline U64 shiftForward(U64 b, int side) { return side == WHITE ? b << 8 : b >> 8; }

}  // namespace

U64 computeNotPinnedMask(const positionStruct* pos, int side) {
    const U64* pb = pos->pieceBitboard;
    const int opp = side ^ 1;
    const int k = lsb(pb[KING + side]);
    const U64 occ = pb[0] | pb[1];
    U64 snipers = (bishopAttackAll[k] & (pb[BISHOP + opp] | pb[QUEEN + opp])) |
                  (rookAttackAll[k] & (pb[ROOK + opp] | pb[QUEEN + opp]));
    U64 pinned = 0;
    while (snipers) {
        int s = popLsb(snipers);
        U64 b = inBetweenSquares[k][s] & occ;
        if (b && !(b & (b - 1))) pinned |= b;
    }
    return ~(pinned & pb[side]);
}

namespace {

// One move to each target square; `base` holds from, moveType and score.
inline moveStruct* emitMoves(moveStruct* list, uint32_t base, U64 targets) {
    while (targets) {
        const uint32_t w = base | ((uint32_t)popLsb(targets) << 8);
        std::memcpy(list++, &w, 4);
    }
    return list;
}

// Captures of the men on the target squares, scored by victim (code * 8)
// less the attacker's offset.
inline moveStruct* emitCaptures(moveStruct* list, int from, int offset, U64 targets, const uint8_t* board) {
    while (targets) {
        const int to = popLsb(targets);
        const uint32_t w = (uint32_t)from | ((uint32_t)to << 8) | ((uint32_t)((board[to] * 8 - offset) & 255) << 24);
        std::memcpy(list++, &w, 4);
    }
    return list;
}

// The generators are instantiated for each side, so that pawn directions
// and home squares are constants.  The quiescence search wants captures
// only, with a queen as the one promotion worth looking at: its list has
// queen promotions only (a quiet push to the last rank included), and keeps
// the king's captures before en passant, the order its move choice has
// always seen (moves of equal score are taken in list order).
template <int Side, bool Quiescence>
moveStruct* capturesOf(const plyEntry& c, moveStruct* list, const positionStruct* pos) {
    constexpr int opp = Side ^ 1;
    const U64* pb = pos->pieceBitboard;
    const U64 them = pb[opp];
    const U64 occ = pb[0] | pb[1];
    const uint8_t* board = pos->board;
    const U64 pawns = pb[PAWN + Side];

    list = pawnCaptures(list, pos, shiftNine(pawns, Side) & them, 9, Side, false, Quiescence);
    list = pawnCaptures(list, pos, shiftSeven(pawns, Side) & them, 7, Side, false, Quiescence);

    for (U64 pieces = pb[KNIGHT + Side] & c.notPinnedMask; pieces;) {
        const int from = popLsb(pieces);
        list = emitCaptures(list, from, 4, knightAttackTable[from] & them, board);
    }
    for (U64 pieces = pb[BISHOP + Side]; pieces;) {
        const int from = popLsb(pieces);
        list = emitCaptures(list, from, 6, bishopAttacks(from, occ) & them, board);
    }
    for (U64 pieces = pb[ROOK + Side]; pieces;) {
        const int from = popLsb(pieces);
        list = emitCaptures(list, from, 8, rookAttacks(from, occ) & them, board);
    }
    for (U64 pieces = pb[QUEEN + Side]; pieces;) {
        const int from = popLsb(pieces);
        list = emitCaptures(list, from, 10, queenAttacks(from, occ) & them, board);
    }
    const int king = lsb(pb[KING + Side]);
    if (Quiescence) list = emitCaptures(list, king, 12, kingAttackTable[king] & them, board);
    if (c.enpassantSquare) {
        const int e = c.enpassantSquare;
        U64 p = enpassantTable[e] & pawns;
        while (p) list = addMove(list, popLsb(p), e, MT_ENPASSANT, 14);
    }
    if (Quiescence) {
        constexpr int back = Side == WHITE ? -8 : 8;
        for (U64 t = shiftForward(pawns, Side) & ~occ & (RANK_8 | RANK_1); t;) {
            const int to = popLsb(t);
            list = addMove(list, to + back, to, MT_PROMO_Q, 1);
        }
        return list;
    }
    return emitCaptures(list, king, 12, kingAttackTable[king] & them, board);
}

template <int Side>
moveStruct* quietsOf(const plyEntry& c, moveStruct* list, const positionStruct* pos) {
    constexpr int opp = Side ^ 1;
    constexpr int back = Side == WHITE ? -8 : 8;
    constexpr U64 thirdRank = Side == WHITE ? RANK_3 : RANK_6;
    const U64* pb = pos->pieceBitboard;
    const U64 occ = pb[0] | pb[1];
    const U64 empty = ~occ;

    const U64 single = shiftForward(pb[PAWN + Side], Side) & empty;
    for (U64 t = single & (RANK_8 | RANK_1); t;) {
        const int to = popLsb(t);
        list = addPromotions(list, to + back, to, 0);
    }
    for (U64 t = single & ~(RANK_8 | RANK_1); t;) {
        const int to = popLsb(t);
        const uint32_t w = (uint32_t)(to + back) | ((uint32_t)to << 8);
        std::memcpy(list++, &w, 4);
    }
    for (U64 t = shiftForward(single & thirdRank, Side) & empty; t;) {
        const int to = popLsb(t);
        const uint32_t w = (uint32_t)(to + 2 * back) | ((uint32_t)to << 8) | ((uint32_t)MT_DOUBLE << 16);
        std::memcpy(list++, &w, 4);
    }

    const uint8_t rights = c.castlingRights;
    if ((rights & (5 << Side)) && !c.inCheck) {
        constexpr int home = Side == WHITE ? E1 : E8;
        constexpr uint8_t kingSide = Side == WHITE ? WHITE_OO : BLACK_OO;
        constexpr uint8_t queenSide = Side == WHITE ? WHITE_OOO : BLACK_OOO;
        if ((rights & kingSide) && !(occ & (bit(home + 1) | bit(home + 2))) &&
            !squareAttacked(pos, home + 1, opp, occ))
            list = addMove(list, home, home + 2, MT_CASTLE_K, 0);
        if ((rights & queenSide) && !(occ & (bit(home - 1) | bit(home - 2) | bit(home - 3))) &&
            !squareAttacked(pos, home - 1, opp, occ))
            list = addMove(list, home, home - 2, MT_CASTLE_Q, 0);
    }

    for (U64 pieces = pb[KNIGHT + Side] & c.notPinnedMask; pieces;) {
        const int from = popLsb(pieces);
        list = emitMoves(list, (uint32_t)from, knightAttackTable[from] & empty);
    }
    for (U64 pieces = pb[BISHOP + Side]; pieces;) {
        const int from = popLsb(pieces);
        list = emitMoves(list, (uint32_t)from, bishopAttacks(from, occ) & empty);
    }
    for (U64 pieces = pb[ROOK + Side]; pieces;) {
        const int from = popLsb(pieces);
        list = emitMoves(list, (uint32_t)from, rookAttacks(from, occ) & empty);
    }
    for (U64 pieces = pb[QUEEN + Side]; pieces;) {
        const int from = popLsb(pieces);
        list = emitMoves(list, (uint32_t)from, queenAttacks(from, occ) & empty);
    }
    const int king = lsb(pb[KING + Side]);
    return emitMoves(list, (uint32_t)king, kingAttackTable[king] & empty);
}

}  // namespace

void generateMovesCaptures(unsigned char ply, moveStruct* list, positionStruct* pos) {
    plyEntry& c = pos->plyStack[ply];
    c.notPinnedMask = computeNotPinnedMask(pos, pos->sideToMove);
    if (c.inCheck) {
        generateMovesEvade(ply, list, pos);
        c.moveStage = STAGE_EVASIONS;
        return;
    }
    list->score = 0;
    list = pos->sideToMove == WHITE ? capturesOf<WHITE, false>(c, list, pos) : capturesOf<BLACK, false>(c, list, pos);
    c.moveListEnd = list;
    pos->plyStack[ply + 1].moveListStart = list;
}

moveStruct* generateQuiescenceCaptures(unsigned char ply, moveStruct* list, const positionStruct* pos) {
    const plyEntry& c = pos->plyStack[ply];
    return pos->sideToMove == WHITE ? capturesOf<WHITE, true>(c, list, pos) : capturesOf<BLACK, true>(c, list, pos);
}

moveStruct* generateRecaptures(unsigned char ply, int target, moveStruct* list, const positionStruct* pos) {
    const int side = pos->sideToMove;
    const U64* pb = pos->pieceBitboard;
    const uint8_t* board = pos->board;
    const int victim = board[target];
    if (victim == EMPTY || (victim & 1) == side || victim >= WKING) return list;
    const U64 occ = pb[0] | pb[1];
    const U64 only = bit(target);
    // Pawns in the order of their squares; a pawn reaching the last rank
    // becomes a queen.
    const bool lastRank = (only & (RANK_8 | RANK_1)) != 0;
    for (U64 p = attackByPawnTable[side][target] & pb[PAWN + side]; p;)
        list = addMove(list, popLsb(p), target, lastRank ? MT_PROMO_Q : MT_NORMAL, victim * 8 - (lastRank ? 14 : 2));
    for (U64 p = knightAttackTable[target] & pb[KNIGHT + side] & pos->plyStack[ply].notPinnedMask; p;)
        list = emitCaptures(list, popLsb(p), 4, only, board);
    for (U64 p = bishopAttacks(target, occ) & pb[BISHOP + side]; p;) list = emitCaptures(list, popLsb(p), 6, only, board);
    for (U64 p = rookAttacks(target, occ) & pb[ROOK + side]; p;) list = emitCaptures(list, popLsb(p), 8, only, board);
    for (U64 p = queenAttacks(target, occ) & pb[QUEEN + side]; p;) list = emitCaptures(list, popLsb(p), 10, only, board);
    for (U64 p = kingAttackTable[target] & pb[KING + side]; p;) list = emitCaptures(list, popLsb(p), 12, only, board);
    return list;
}

moveStruct* keepLegalMoves(const positionStruct* pos, int ply, moveStruct* start, moveStruct* end) {
    moveStruct* m = start;
    while (m < end) {
        if (!moveIsLegal(pos, ply, *m))
            *m = *--end;
        else
            m++;
    }
    return end;
}

void generateMovesQuiets(unsigned char ply, moveStruct* list, positionStruct* pos) {
    plyEntry& c = pos->plyStack[ply];
    list->score = 0;
    list = pos->sideToMove == WHITE ? quietsOf<WHITE>(c, list, pos) : quietsOf<BLACK>(c, list, pos);
    c.moveListEnd = list;
    pos->plyStack[ply + 1].moveListStart = list;
}

void generateMovesEvade(unsigned char ply, moveStruct* list, positionStruct* pos) {
    plyEntry& c = pos->plyStack[ply];
    const int side = pos->sideToMove, opp = side ^ 1;
    const U64* pb = pos->pieceBitboard;
    const uint8_t* board = pos->board;
    const U64 occ = pb[0] | pb[1];
    const U64 own = pb[side];
    const int k = lsb(pb[KING + side]);

    const U64 checkers = (knightAttackTable[k] & pb[KNIGHT + opp]) | (attackByPawnTable[opp][k] & pb[PAWN + opp]) |
                         (rookAttacks(k, occ) & (pb[ROOK + opp] | pb[QUEEN + opp])) |
                         (bishopAttacks(k, occ) & (pb[BISHOP + opp] | pb[QUEEN + opp]));

    // King moves, tested with the king lifted off the board so that it does
    // not hide the squares behind it on a checking slider's line.
    const U64 occNoKing = occ ^ bit(k);
    U64 t = kingAttackTable[k] & ~own;
    while (t) {
        int to = popLsb(t);
        if (squareAttacked(pos, to, opp, occNoKing)) continue;
        int score = board[to] == 0 ? 202 : ((checkers & bit(to)) ? board[to] - 35 : board[to] - 36);
        list = addMove(list, k, to, MT_NORMAL, score & 255);
    }

    if (checkers && !(checkers & (checkers - 1))) {
        const int checker = lsb(checkers);
        const U64 movers = own & c.notPinnedMask;
        const U64 pawns = pb[PAWN + side] & movers;

        list = pawnCaptures(list, pos, shiftNine(pawns, side) & checkers, 9, side, true);
        list = pawnCaptures(list, pos, shiftSeven(pawns, side) & checkers, 7, side, true);

        const U64 block = inBetweenSquares[k][checker];
        const int epLand = side == WHITE ? c.enpassantSquare + 8 : c.enpassantSquare - 8;
        // En passant resolves the check when it takes the checking pawn, or
        // (in a set-up position only) when the capturing pawn lands on the
        // checking line.
        if (c.enpassantSquare && (checker == c.enpassantSquare || (block & bit(epLand)))) {
            // The capturing pawn and the captured one both leave their rank:
            // make sure that this does not open a line onto the own king.
            const int land = epLand;
            const int victim = c.enpassantSquare;
            const U64 diag = pb[BISHOP + opp] | pb[QUEEN + opp];
            const U64 straight = pb[ROOK + opp] | pb[QUEEN + opp];
            U64 p = enpassantTable[victim] & pawns;
            while (p) {
                int from = popLsb(p);
                U64 occ2 = (occ ^ bit(from) ^ bit(victim)) | bit(land);
                if ((bishopAttacks(k, occ2) & diag) | (rookAttacks(k, occ2) & straight)) continue;
                list = addMove(list, from, victim, MT_ENPASSANT, 250);
            }
        }

        if (block) {
            const int back = side == WHITE ? -8 : 8;
            const U64 single = shiftForward(pawns, side) & ~occ;
            U64 tt = single & block & (RANK_8 | RANK_1);
            while (tt) {
                int to = popLsb(tt);
                list = addPromotions(list, to + back, to, 210);
            }
            tt = single & block & ~(RANK_8 | RANK_1);
            while (tt) {
                int to = popLsb(tt);
                list = addMove(list, to + back, to, MT_NORMAL, 210);
            }
            tt = shiftForward(single & (side == WHITE ? RANK_3 : RANK_6), side) & ~occ & block;
            while (tt) {
                int to = popLsb(tt);
                list = addMove(list, to + 2 * back, to, MT_DOUBLE, 210);
            }
        }

        const U64 targets = block | checkers;
        static const int kinds[4] = {KNIGHT, BISHOP, ROOK, QUEEN};
        for (int i = 0; i < 4; i++) {
            U64 pieces = pb[kinds[i] + side] & movers;
            while (pieces) {
                int from = popLsb(pieces);
                U64 att;
                switch (kinds[i]) {
                case KNIGHT: att = knightAttackTable[from]; break;
                case BISHOP: att = bishopAttacks(from, occ); break;
                case ROOK: att = rookAttacks(from, occ); break;
                default: att = queenAttacks(from, occ); break;
                }
                att &= targets;
                while (att) {
                    int to = popLsb(att);
                    list = addMove(list, from, to, MT_NORMAL, (to == checker ? 236 : 206) - i);
                }
            }
        }
    }
    c.moveListEnd = list;
    pos->plyStack[ply + 1].moveListStart = list;
}

void generateMovesLegal(unsigned char ply, moveStruct* list, positionStruct* pos) {
    plyEntry& c = pos->plyStack[ply];
    c.inCheck = sideInCheck(pos, pos->sideToMove);
    generateMovesCaptures(ply, list, pos);
    if (!c.inCheck) {
        generateMovesQuiets(ply, c.moveListEnd, pos);
        c.moveListEnd = keepLegalMoves(pos, ply, list, c.moveListEnd);
        pos->plyStack[ply + 1].moveListStart = c.moveListEnd;
    }
}

bool isLegalMoveAt(positionStruct* pos, int ply, moveStruct m) {
    if (moveToWord(m) == 0) return false;
    generateMovesLegal((unsigned char)ply, pos->plyStack[ply].moveListStart, pos);
    for (const moveStruct* l = pos->plyStack[ply].moveListStart; l < pos->plyStack[ply].moveListEnd; l++)
        if (sameMove(moveToWord(*l), moveToWord(m))) return true;
    return false;
}
