// Move generation: captures (with their ordering scores), quiet moves,
// check evasions and the legal root list.  Outside check the generators are
// pseudo-legal; only pinned men, king moves and en passant need the legality
// test when a move is tried.
#include "movegen.h"

#include <cstring>

namespace {

constexpr uint64_t FILE_A = FILES[0];
constexpr uint64_t FILE_H = FILES[7];
constexpr uint64_t RANK_1 = 0xffULL;
constexpr uint64_t RANK_3 = RANK_1 << 16;
constexpr uint64_t RANK_6 = RANK_1 << 40;
constexpr uint64_t RANK_8 = RANK_1 << 56;

inline Move* addMove(Move* list, int from, int to, int type, int score) {
    const uint32_t w = (uint32_t)from | ((uint32_t)to << 8) | ((uint32_t)type << 16) | ((uint32_t)(score & 255) << 24);
    std::memcpy(list, &w, 4);
    return list + 1;
}

inline Move* addPromotions(Move* list, int from, int to, int score) {
    list = addMove(list, from, to, MT_PROMO_Q, score);
    list = addMove(list, from, to, MT_PROMO_R, score);
    list = addMove(list, from, to, MT_PROMO_B, score);
    return addMove(list, from, to, MT_PROMO_N, score);
}

// Pawn captures in one direction (delta 9 or 7 from the mover's point of
// view): promotions on the last rank first, then the ordinary captures.
inline Move* pawnCapturesTo(Move* list, const Position* pos, uint64_t targets, int delta, int side, bool evasionScores,
                            bool queenOnly = false) {
    const int back = side == WHITE ? -delta : delta;
    uint64_t promo = targets & (RANK_8 | RANK_1);
    uint64_t plain = targets & ~(RANK_8 | RANK_1);
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

inline uint64_t shiftNine(uint64_t pawns, int side) {
    return side == WHITE ? (pawns << 9) & ~FILE_A : (pawns >> 9) & ~FILE_H;
}
inline uint64_t shiftSeven(uint64_t pawns, int side) {
    return side == WHITE ? (pawns << 7) & ~FILE_H : (pawns >> 7) & ~FILE_A;
}
inline uint64_t shiftForward(uint64_t b, int side) { return side == WHITE ? b << 8 : b >> 8; }

// The men of `side` that are not pinned to their king, and every square
// without a man of that side: the complement of the pinned men.
inline uint64_t notPinnedMen(const Position* pos, int side) {
    const uint64_t* pb = pos->pieceBitboard;
    const int opp = side ^ 1;
    const int k = lsb(pb[KING + side]);
    const uint64_t occ = pb[0] | pb[1];
    uint64_t snipers = (BISHOP_RAYS[k] & (pb[BISHOP + opp] | pb[QUEEN + opp])) |
                       (ROOK_RAYS[k] & (pb[ROOK + opp] | pb[QUEEN + opp]));
    uint64_t pinned = 0;
    while (snipers) {
        int s = popLsb(snipers);
        uint64_t b = BETWEEN_SQUARES[k][s] & occ;
        if (b && !(b & (b - 1))) pinned |= b;
    }
    return ~(pinned & pb[side]);
}

}  // namespace

uint64_t computeNotPinnedMask(const Position* pos, int side) { return notPinnedMen(pos, side); }

namespace {

// One move to each target square; `base` holds from, moveType and score.
inline Move* emitMoves(Move* list, uint32_t base, uint64_t targets) {
    while (targets) {
        const uint32_t w = base | ((uint32_t)popLsb(targets) << 8);
        std::memcpy(list++, &w, 4);
    }
    return list;
}

// Captures of the men on the target squares, scored by victim (code * 8)
// less the attacker's offset.
inline Move* emitCaptures(Move* list, int from, int offset, uint64_t targets, const uint8_t* board) {
    while (targets) {
        const int to = popLsb(targets);
        const uint32_t w = (uint32_t)from | ((uint32_t)to << 8) | ((uint32_t)((board[to] * 8 - offset) & 255) << 24);
        std::memcpy(list++, &w, 4);
    }
    return list;
}

template <int Kind>
inline uint64_t sliderAttacks(int from, uint64_t occ) {
    return Kind == BISHOP ? bishopAttacks(from, occ) : Kind == ROOK ? rookAttacks(from, occ) : queenAttacks(from, occ);
}

// Where a generator puts the moves it finds.  The generators below are
// written once over this "emit" interface: MoveWriter writes the move words
// of the list (the search, and perft above its last ply); MoveCounter only
// counts the legal moves (perft's last ply, where the moves themselves are
// never looked at).  Both see the very same sets of targets in the same
// order, so a count checks the generator code the search runs.
class MoveWriter {
  public:
    MoveWriter(Move* list, const Position* position) : list(list), pos_(position) {}
    Move* list;

    // Pawn captures onto `targets`, `delta` squares ahead (9 or 7).
    void pawnCaptures(uint64_t targets, int delta, int side, bool queenOnly) {
        list = pawnCapturesTo(list, pos_, targets, delta, side, false, queenOnly);
    }
    void captures(int from, int offset, uint64_t targets) {
        list = emitCaptures(list, from, offset, targets, pos_->board);
    }
    void kingCaptures(int from, uint64_t targets) { captures(from, 12, targets); }
    void enPassant(int from, int to) { list = addMove(list, from, to, MT_ENPASSANT, 14); }
    // Pawn pushes onto the last rank, each to the four pieces.
    void promotionPushes(uint64_t targets, int back) {
        while (targets) {
            const int to = popLsb(targets);
            list = addPromotions(list, to + back, to, 0);
        }
    }
    // Single or double pawn pushes; the pawn stands `back` squares behind.
    void pushes(uint64_t targets, int back, int type) {
        while (targets) {
            const int to = popLsb(targets);
            const uint32_t w = (uint32_t)(to + back) | ((uint32_t)to << 8) | ((uint32_t)type << 16);
            std::memcpy(list++, &w, 4);
        }
    }
    void castle(int from, int to, int type) { list = addMove(list, from, to, type, 0); }
    void quiets(int from, uint64_t targets) { list = emitMoves(list, (uint32_t)from, targets); }
    void kingQuiets(int from, uint64_t targets) { quiets(from, targets); }
    // The attack set of a slider; the quiet generator asks again for the
    // sets the capture generator has used.
    template <int Kind>
    static uint64_t attacks(int from, uint64_t occ) {
        return sliderAttacks<Kind>(from, occ);
    }
    template <int Kind>
    static uint64_t attacksAgain(int from, uint64_t occ) {
        return sliderAttacks<Kind>(from, occ);
    }

  private:
    const Position* pos_;
};

// Counts the legal moves of a side not in check.  Only the moves that the
// legality test would look at need a thought: a pinned man may only move
// along the line through its king (between the king and the pinner, or onto
// the pinner), which is what the test finds when it lifts the man off the
// line; a king move or castling is tested square by square with the king
// lifted off the board; an en-passant capture, which takes two men off one
// rank, is tested in full.  Most positions have no pinned man, and their
// counter (Pins false) does not look for any.
template <bool Pins>
class MoveCounter {
  public:
    // `sets` has room for the attack sets of every slider of the side.
    MoveCounter(const Position* position, uint64_t* sets)
        : pos_(position), side_(position->sideToMove), king_(lsb(position->pieceBitboard[KING + position->sideToMove])),
          occ_(position->pieceBitboard[0] | position->pieceBitboard[1]),
          pinned_(~position->notPinnedMask & position->pieceBitboard[position->sideToMove]), sliderSets_(sets) {}
    int count = 0;

    void pawnCaptures(uint64_t targets, int delta, int s, bool) { pawnMoves(targets, s == WHITE ? -delta : delta); }
    void captures(int from, int, uint64_t targets) { count += popcount(targets & along(from)); }
    void kingCaptures(int from, uint64_t targets) { kingQuiets(from, targets); }
    void enPassant(int from, int to) { count += moveIsLegal(pos_, Move{(uint8_t)from, (uint8_t)to, MT_ENPASSANT, 14}); }
    void promotionPushes(uint64_t targets, int back) { pawnMoves(targets, back); }
    void pushes(uint64_t targets, int back, int) { pawnMoves(targets, back); }
    void castle(int from, int to, int) { count += kingMayGo(from, to); }
    void quiets(int from, uint64_t targets) { count += popcount(targets & along(from)); }
    void kingQuiets(int from, uint64_t targets) {
        while (targets) count += kingMayGo(from, popLsb(targets));
    }
    // The capture and the quiet pass of one position walk the same sliders
    // in the same order: the second takes the sets the first looked up.
    template <int Kind>
    uint64_t attacks(int from, uint64_t occ) {
        return sliderSets_[setsStored_++] = sliderAttacks<Kind>(from, occ);
    }
    template <int Kind>
    uint64_t attacksAgain(int, uint64_t) {
        return sliderSets_[setsUsed_++];
    }

  private:
    // The squares a man on `from` may move to as far as pins go.
    uint64_t along(int from) const { return Pins && (pinned_ & bit(from)) ? LINE_SQUARES[king_][from] : ~0ULL; }
    // squareAttacked with the king lifted, as moveIsLegal asks it, but with
    // the plain table lookups before the slider lookups.
    bool kingMayGo(int from, int to) const {
        const uint64_t* pb = pos_->pieceBitboard;
        const int opp = side_ ^ 1;
        if ((PAWN_ATTACKS[opp][to] & pb[PAWN + opp]) | (KNIGHT_ATTACKS[to] & pb[KNIGHT + opp]) |
            (KING_ATTACKS[to] & pb[KING + opp]))
            return false;
        const uint64_t o = (occ_ ^ bit(from)) | bit(to);
        return !((bishopAttacks(to, o) & (pb[BISHOP + opp] | pb[QUEEN + opp])) |
                 (rookAttacks(to, o) & (pb[ROOK + opp] | pb[QUEEN + opp])));
    }
    // Pawn moves onto `targets` from `back` squares behind; a target on the
    // last rank is four moves.
    void pawnMoves(uint64_t targets, int back) {
        count += popcount(targets) + 3 * popcount(targets & (RANK_8 | RANK_1));
        const uint64_t pinnedPawns = pinned_ & pos_->pieceBitboard[PAWN + side_];
        if (!Pins || !pinnedPawns) return;
        for (uint64_t t = targets & (back < 0 ? pinnedPawns << -back : pinnedPawns >> back); t;) {
            const int to = popLsb(t);
            if (!(LINE_SQUARES[king_][to + back] & bit(to))) count -= (bit(to) & (RANK_8 | RANK_1)) ? 4 : 1;
        }
    }

    const Position* pos_;
    int side_, king_;
    uint64_t occ_, pinned_;
    uint64_t* sliderSets_;
    int setsStored_ = 0, setsUsed_ = 0;
};

// The generators are instantiated for each side, so that pawn directions
// and home squares are constants.  The quiescence search wants captures
// only, with a queen as the one promotion worth looking at: its list has
// queen promotions only (a quiet push to the last rank included), and keeps
// the king's captures before en passant, the order its move choice has
// always seen (moves of equal score are taken in list order).
template <int Side, bool Quiescence, class Emit>
Emit capturesOf(Emit out, const Position* pos) {
    constexpr int opp = Side ^ 1;
    const uint64_t* pb = pos->pieceBitboard;
    const uint64_t them = pb[opp];
    const uint64_t occ = pb[0] | pb[1];
    const uint64_t pawns = pb[PAWN + Side];

    out.pawnCaptures(shiftNine(pawns, Side) & them, 9, Side, Quiescence);
    out.pawnCaptures(shiftSeven(pawns, Side) & them, 7, Side, Quiescence);

    for (uint64_t pieces = pb[KNIGHT + Side] & pos->notPinnedMask; pieces;) {
        const int from = popLsb(pieces);
        out.captures(from, 4, KNIGHT_ATTACKS[from] & them);
    }
    for (uint64_t pieces = pb[BISHOP + Side]; pieces;) {
        const int from = popLsb(pieces);
        out.captures(from, 6, out.template attacks<BISHOP>(from, occ) & them);
    }
    for (uint64_t pieces = pb[ROOK + Side]; pieces;) {
        const int from = popLsb(pieces);
        out.captures(from, 8, out.template attacks<ROOK>(from, occ) & them);
    }
    for (uint64_t pieces = pb[QUEEN + Side]; pieces;) {
        const int from = popLsb(pieces);
        out.captures(from, 10, out.template attacks<QUEEN>(from, occ) & them);
    }
    const int king = lsb(pb[KING + Side]);
    if (Quiescence) out.kingCaptures(king, KING_ATTACKS[king] & them);
    if (pos->enpassantSquare) {
        const int e = pos->enpassantSquare;
        for (uint64_t p = EN_PASSANT_NEIGHBOURS[e] & pawns; p;) out.enPassant(popLsb(p), e);
    }
    if constexpr (Quiescence) {
        constexpr int back = Side == WHITE ? -8 : 8;
        for (uint64_t t = shiftForward(pawns, Side) & ~occ & (RANK_8 | RANK_1); t;) {
            const int to = popLsb(t);
            out.list = addMove(out.list, to + back, to, MT_PROMO_Q, 1);
        }
        return out;
    }
    out.kingCaptures(king, KING_ATTACKS[king] & them);
    return out;
}

template <int Side, class Emit>
Emit quietsOf(Emit out, const Position* pos) {
    constexpr int opp = Side ^ 1;
    constexpr int back = Side == WHITE ? -8 : 8;
    constexpr uint64_t thirdRank = Side == WHITE ? RANK_3 : RANK_6;
    const uint64_t* pb = pos->pieceBitboard;
    const uint64_t occ = pb[0] | pb[1];
    const uint64_t empty = ~occ;

    const uint64_t single = shiftForward(pb[PAWN + Side], Side) & empty;
    out.promotionPushes(single & (RANK_8 | RANK_1), back);
    out.pushes(single & ~(RANK_8 | RANK_1), back, MT_NORMAL);
    out.pushes(shiftForward(single & thirdRank, Side) & empty, 2 * back, MT_DOUBLE);

    const uint8_t rights = pos->castlingRights;
    if ((rights & (5 << Side)) && !pos->inCheck) {
        constexpr int home = Side == WHITE ? E1 : E8;
        constexpr uint8_t kingSide = Side == WHITE ? WHITE_OO : BLACK_OO;
        constexpr uint8_t queenSide = Side == WHITE ? WHITE_OOO : BLACK_OOO;
        if ((rights & kingSide) && !(occ & (bit(home + 1) | bit(home + 2))) && !squareAttacked(pos, home + 1, opp, occ))
            out.castle(home, home + 2, MT_CASTLE_K);
        if ((rights & queenSide) && !(occ & (bit(home - 1) | bit(home - 2) | bit(home - 3))) &&
            !squareAttacked(pos, home - 1, opp, occ))
            out.castle(home, home - 2, MT_CASTLE_Q);
    }

    for (uint64_t pieces = pb[KNIGHT + Side] & pos->notPinnedMask; pieces;) {
        const int from = popLsb(pieces);
        out.quiets(from, KNIGHT_ATTACKS[from] & empty);
    }
    for (uint64_t pieces = pb[BISHOP + Side]; pieces;) {
        const int from = popLsb(pieces);
        out.quiets(from, out.template attacksAgain<BISHOP>(from, occ) & empty);
    }
    for (uint64_t pieces = pb[ROOK + Side]; pieces;) {
        const int from = popLsb(pieces);
        out.quiets(from, out.template attacksAgain<ROOK>(from, occ) & empty);
    }
    for (uint64_t pieces = pb[QUEEN + Side]; pieces;) {
        const int from = popLsb(pieces);
        out.quiets(from, out.template attacksAgain<QUEEN>(from, occ) & empty);
    }
    const int king = lsb(pb[KING + Side]);
    out.kingQuiets(king, KING_ATTACKS[king] & empty);
    return out;
}

}  // namespace

Move* generateMovesCaptures(Position* pos, Move* list) {
    pos->notPinnedMask = computeNotPinnedMask(pos, pos->sideToMove);
    if (pos->inCheck) return generateMovesEvade(pos, list);
    list->score = 0;
    const MoveWriter out(list, pos);
    return (pos->sideToMove == WHITE ? capturesOf<WHITE, false>(out, pos) : capturesOf<BLACK, false>(out, pos)).list;
}

Move* generateQuiescenceCaptures(const Position* pos, Move* list) {
    const MoveWriter out(list, pos);
    return (pos->sideToMove == WHITE ? capturesOf<WHITE, true>(out, pos) : capturesOf<BLACK, true>(out, pos)).list;
}

Move* generateRecaptures(const Position* pos, int target, Move* list) {
    const int side = pos->sideToMove;
    const uint64_t* pb = pos->pieceBitboard;
    const uint8_t* board = pos->board;
    const int victim = board[target];
    if (victim == EMPTY || (victim & 1) == side || victim >= WKING) return list;
    const uint64_t occ = pb[0] | pb[1];
    const uint64_t only = bit(target);
    // Pawns in the order of their squares; a pawn reaching the last rank
    // becomes a queen.
    const bool lastRank = (only & (RANK_8 | RANK_1)) != 0;
    for (uint64_t p = PAWN_ATTACKS[side][target] & pb[PAWN + side]; p;)
        list = addMove(list, popLsb(p), target, lastRank ? MT_PROMO_Q : MT_NORMAL, victim * 8 - (lastRank ? 14 : 2));
    for (uint64_t p = KNIGHT_ATTACKS[target] & pb[KNIGHT + side] & pos->notPinnedMask; p;)
        list = emitCaptures(list, popLsb(p), 4, only, board);
    for (uint64_t p = bishopAttacks(target, occ) & pb[BISHOP + side]; p;)
        list = emitCaptures(list, popLsb(p), 6, only, board);
    for (uint64_t p = rookAttacks(target, occ) & pb[ROOK + side]; p;)
        list = emitCaptures(list, popLsb(p), 8, only, board);
    for (uint64_t p = queenAttacks(target, occ) & pb[QUEEN + side]; p;)
        list = emitCaptures(list, popLsb(p), 10, only, board);
    for (uint64_t p = KING_ATTACKS[target] & pb[KING + side]; p;) list = emitCaptures(list, popLsb(p), 12, only, board);
    return list;
}

Move* keepLegalMoves(const Position* pos, Move* start, Move* end) {
    // Only moves of the king, of pinned men and of the pawns beside an
    // en-passant target can be illegal; the last move takes the place of a
    // dropped one.
    const uint64_t* pb = pos->pieceBitboard;
    const int side = pos->sideToMove;
    uint64_t suspects = ~pos->notPinnedMask | pb[KING + side];
    if (pos->enpassantSquare) suspects |= EN_PASSANT_NEIGHBOURS[pos->enpassantSquare] & pb[PAWN + side];
    Move* m = start;
    while (m < end) {
        if (((suspects >> m->from) & 1) && !moveIsLegal(pos, *m))
            *m = *--end;
        else
            m++;
    }
    return end;
}

Move* generateMovesQuiets(const Position* pos, Move* list) {
    list->score = 0;
    const MoveWriter out(list, pos);
    return (pos->sideToMove == WHITE ? quietsOf<WHITE>(out, pos) : quietsOf<BLACK>(out, pos)).list;
}

namespace {

template <int Side, bool Pins>
int countFor(const Position* pos) {
    uint64_t sliderSets[64];  // one per slider: never more than there are squares
    return quietsOf<Side>(capturesOf<Side, false>(MoveCounter<Pins>(pos, sliderSets), pos), pos).count;
}

}  // namespace

int countLegalMoves(Position* pos, Move* scratch) {
    const int side = pos->sideToMove, opp = side ^ 1;
    const uint64_t* pb = pos->pieceBitboard;
    const int k = lsb(pb[KING + side]);
    const uint64_t occ = pb[0] | pb[1];
    // One walk over the enemy sliders on the king's lines finds both the
    // pinned men (one man between) and the sliders giving check (none
    // between): the check test of sideInCheck without its slider lookups.
    uint64_t snipers = (BISHOP_RAYS[k] & (pb[BISHOP + opp] | pb[QUEEN + opp])) |
                       (ROOK_RAYS[k] & (pb[ROOK + opp] | pb[QUEEN + opp]));
    uint64_t pinned = 0;
    bool check = (PAWN_ATTACKS[opp][k] & pb[PAWN + opp]) | (KNIGHT_ATTACKS[k] & pb[KNIGHT + opp]) |
                 (KING_ATTACKS[k] & pb[KING + opp]);
    while (snipers) {
        const uint64_t b = BETWEEN_SQUARES[k][popLsb(snipers)] & occ;
        check |= !b;
        if (b && !(b & (b - 1))) pinned |= b;
    }
    pos->inCheck = check;
    pos->notPinnedMask = ~(pinned & pb[side]);
    if (check) return (int)(generateMovesEvade(pos, scratch) - scratch);
    const bool pins = (pinned & pb[side]) != 0;
    if (side == WHITE) return pins ? countFor<WHITE, true>(pos) : countFor<WHITE, false>(pos);
    return pins ? countFor<BLACK, true>(pos) : countFor<BLACK, false>(pos);
}

Move* generateMovesEvade(const Position* pos, Move* list) {
    const int side = pos->sideToMove, opp = side ^ 1;
    const uint64_t* pb = pos->pieceBitboard;
    const uint8_t* board = pos->board;
    const uint64_t occ = pb[0] | pb[1];
    const uint64_t own = pb[side];
    const int k = lsb(pb[KING + side]);

    const uint64_t checkers = (KNIGHT_ATTACKS[k] & pb[KNIGHT + opp]) | (PAWN_ATTACKS[opp][k] & pb[PAWN + opp]) |
                              (rookAttacks(k, occ) & (pb[ROOK + opp] | pb[QUEEN + opp])) |
                              (bishopAttacks(k, occ) & (pb[BISHOP + opp] | pb[QUEEN + opp]));

    // King moves, tested with the king lifted off the board so that it does
    // not hide the squares behind it on a checking slider's line.
    const uint64_t occNoKing = occ ^ bit(k);
    uint64_t t = KING_ATTACKS[k] & ~own;
    while (t) {
        int to = popLsb(t);
        if (squareAttacked(pos, to, opp, occNoKing)) continue;
        int score = board[to] == 0 ? 202 : ((checkers & bit(to)) ? board[to] - 35 : board[to] - 36);
        list = addMove(list, k, to, MT_NORMAL, score & 255);
    }

    if (checkers && !(checkers & (checkers - 1))) {
        const int checker = lsb(checkers);
        const uint64_t movers = own & pos->notPinnedMask;
        const uint64_t pawns = pb[PAWN + side] & movers;

        list = pawnCapturesTo(list, pos, shiftNine(pawns, side) & checkers, 9, side, true);
        list = pawnCapturesTo(list, pos, shiftSeven(pawns, side) & checkers, 7, side, true);

        const uint64_t block = BETWEEN_SQUARES[k][checker];
        const int ep = pos->enpassantSquare;
        const int epLand = side == WHITE ? ep + 8 : ep - 8;
        // En passant resolves the check when it takes the checking pawn, or
        // (in a set-up position only) when the capturing pawn lands on the
        // checking line.
        if (ep && (checker == ep || (block & bit(epLand)))) {
            // The capturing pawn and the captured one both leave their rank:
            // make sure that this does not open a line onto the own king.
            const int land = epLand;
            const int victim = ep;
            const uint64_t diag = pb[BISHOP + opp] | pb[QUEEN + opp];
            const uint64_t straight = pb[ROOK + opp] | pb[QUEEN + opp];
            uint64_t p = EN_PASSANT_NEIGHBOURS[victim] & pawns;
            while (p) {
                int from = popLsb(p);
                uint64_t occ2 = (occ ^ bit(from) ^ bit(victim)) | bit(land);
                if ((bishopAttacks(k, occ2) & diag) | (rookAttacks(k, occ2) & straight)) continue;
                list = addMove(list, from, victim, MT_ENPASSANT, 250);
            }
        }

        if (block) {
            const int back = side == WHITE ? -8 : 8;
            const uint64_t single = shiftForward(pawns, side) & ~occ;
            uint64_t tt = single & block & (RANK_8 | RANK_1);
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

        const uint64_t targets = block | checkers;
        static const int kinds[4] = {KNIGHT, BISHOP, ROOK, QUEEN};
        for (int i = 0; i < 4; i++) {
            uint64_t pieces = pb[kinds[i] + side] & movers;
            while (pieces) {
                int from = popLsb(pieces);
                uint64_t att;
                switch (kinds[i]) {
                case KNIGHT: att = KNIGHT_ATTACKS[from]; break;
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
    return list;
}

Move* generateMovesLegal(Position* pos, Move* list) {
    pos->inCheck = sideInCheck(pos, pos->sideToMove);
    Move* end = generateMovesCaptures(pos, list);
    if (!pos->inCheck) end = keepLegalMoves(pos, list, generateMovesQuiets(pos, end));
    return end;
}

bool isLegalMove(const Position* pos, Move m) {
    if (moveToWord(m) == 0) return false;
    Position copy = *pos;
    Move list[MAX_MOVES];
    for (const Move *l = list, *end = generateMovesLegal(&copy, list); l < end; l++)
        if (sameMove(moveToWord(*l), moveToWord(m))) return true;
    return false;
}
