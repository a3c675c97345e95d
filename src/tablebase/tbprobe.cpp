// Probing: move generation of the prober, the capture searches of the WDL and
// DTZ probes, and reading a position's value from a table.
#include "tablebase/tbprobe.h"

#include <climits>
#include <cstring>

#include "bitboard.h"

namespace tb {

const int WDL_TO_DTZ[5] = {-1, -101, 0, 101, 1};

namespace {

const int WDL_TO_MAP[5] = {1, 3, 0, 2, 0};
const uint8_t PA_FLAGS[5] = {8, 0, 0, 0, 4};

constexpr uint64_t RANK_1 = 0xffULL;
constexpr uint64_t RANK_8 = 0xffULL << 56;

inline uint16_t encodeMove(int from, int to, int promotion = 0) {
    return (uint16_t)(to | (from << 6) | (promotion << 12));
}

inline uint64_t usOf(const Board* p) { return p->turn ? p->white : p->black; }
inline uint64_t themOf(const Board* p) { return p->turn ? p->black : p->white; }

// The engine's colour (WHITE 0, BLACK 1) of the prober's (White true, or 1),
// for reading the engine's tables.
inline int engineColour(bool white) { return white ? WHITE : BLACK; }

// The squares a pawn of the side to move on `from` attacks.  PAWN_ATTACKS
// cannot serve here: it lists the squares from which a pawn attacks a
// square, and has nothing for a pawn on its seventh rank, whose captures
// promote.
inline uint64_t pawnCaptureSquares(const Board* p, int from) {
    const uint64_t b = bit(from);
    return p->turn ? ((b & ~FILES[0]) << 7) | ((b & ~FILES[7]) << 9) : ((b & ~FILES[0]) >> 9) | ((b & ~FILES[7]) >> 7);
}

// Men of a tablebase piece code (colour in bit 3).
inline uint64_t piecesOf(const Board* p, int code) {
    const uint64_t colour = (code & TB_BLACK) ? p->black : p->white;
    switch (code & 7) {
    case TB_PAWN: return colour & p->pawns;
    case TB_KNIGHT: return colour & p->knights;
    case TB_BISHOP: return colour & p->bishops;
    case TB_ROOK: return colour & p->rooks;
    case TB_QUEEN: return colour & p->queens;
    case TB_KING: return colour & p->kings;
    default: return 0;
    }
}

}  // namespace

bool attacked(const Board* p, int sq, uint64_t by, int side) {
    const uint64_t occ = p->white | p->black;
    if (KING_ATTACKS[sq] & p->kings & by) return true;
    if (KNIGHT_ATTACKS[sq] & p->knights & by) return true;
    // The pawns that attack sq are the other side's (Black's when White's
    // square is attacked).
    if (PAWN_ATTACKS[engineColour(side == 0)][sq] & p->pawns & by) return true;
    if (rookAttacks(sq, occ) & (p->rooks | p->queens) & by) return true;
    return (bishopAttacks(sq, occ) & (p->bishops | p->queens) & by) != 0;
}

namespace {

inline bool inCheck(const Board* p) {
    const uint64_t king = p->kings & usOf(p);
    return king && attacked(p, lsb(king), themOf(p), p->turn ? 1 : 0);
}

inline uint16_t* addTargets(uint16_t* out, int from, uint64_t targets) {
    while (targets) *out++ = encodeMove(from, popLsb(targets));
    return out;
}

// Pseudo-legal moves in the order the root relies on; with CAPTURES only the
// moves that change material (captures and promotions), without en passant.
template <bool CAPTURES>
uint16_t* generate(const Board* p, uint16_t* out) {
    const uint64_t us = usOf(p), them = themOf(p);
    const uint64_t occ = us | them;
    const uint64_t targets = CAPTURES ? them : ~us;
    uint64_t b;

    for (b = p->kings & us; b;) {
        const int from = popLsb(b);
        out = addTargets(out, from, KING_ATTACKS[from] & targets);
    }
    for (b = p->queens & us; b;) {
        const int from = popLsb(b);
        out = addTargets(out, from, queenAttacks(from, occ) & targets);
    }
    for (b = p->rooks & us; b;) {
        const int from = popLsb(b);
        out = addTargets(out, from, rookAttacks(from, occ) & targets);
    }
    for (b = p->bishops & us; b;) {
        const int from = popLsb(b);
        out = addTargets(out, from, bishopAttacks(from, occ) & targets);
    }
    for (b = p->knights & us; b;) {
        const int from = popLsb(b);
        out = addTargets(out, from, KNIGHT_ATTACKS[from] & targets);
    }

    const int mover = engineColour(p->turn);
    const int forward = p->turn ? 8 : -8;
    const uint64_t lastRank = p->turn ? RANK_8 : RANK_1;
    const uint64_t secondRank = p->turn ? RANK_1 << 8 : RANK_8 >> 8;
    for (b = p->pawns & us; b;) {
        const int from = popLsb(b);
        if (!CAPTURES && p->ep && (PAWN_ATTACKS[mover][p->ep] & bit(from))) *out++ = encodeMove(from, p->ep);
        uint64_t t = pawnCaptureSquares(p, from) & them;
        const int one = from + forward;
        if (one >= 0 && one < 64 && !(occ & (1ULL << one))) {
            if (!CAPTURES || ((1ULL << one) & lastRank)) t |= 1ULL << one;
            const int two = one + forward;
            if (!CAPTURES && ((1ULL << from) & secondRank) && !(occ & (1ULL << two))) t |= 1ULL << two;
        }
        while (t) {
            const int to = popLsb(t);
            if ((1ULL << to) & lastRank) {
                *out++ = encodeMove(from, to, PROMOTE_QUEEN);
                *out++ = encodeMove(from, to, PROMOTE_KNIGHT);
                *out++ = encodeMove(from, to, PROMOTE_ROOK);
                *out++ = encodeMove(from, to, PROMOTE_BISHOP);
            } else {
                *out++ = encodeMove(from, to);
            }
        }
    }
    return out;
}

}  // namespace

bool isMate(const Board* p) {
    if (!inCheck(p)) return false;
    uint16_t moves[MAX_MOVES];
    uint16_t* end = generate<false>(p, moves);
    Board child;
    for (uint16_t* m = moves; m < end; m++)
        if (doMove(&child, p, *m)) return false;
    return true;
}

namespace {

inline bool isEnPassant(const Board* p, uint16_t m) {
    return p->ep && moveTo(m) == p->ep && (p->pawns & usOf(p) & (1ULL << moveFrom(m)));
}

inline bool isPawnPush(const Board* p, uint16_t m) {
    return (p->pawns & (1ULL << moveFrom(m))) && ((moveFrom(m) ^ moveTo(m)) & 7) == 0;
}

// ---------------------------------------------------------------------------
// Reading a table
// ---------------------------------------------------------------------------

// Fill the squares of the men in the order of the descriptor of side `side`
// and compute the index.  False when the position cannot be one of the
// table's (which sound positions never are).
bool tableIndex(const Board* p, const WdlTable& info, const SubTable* sts, int side, bool colourMirror,
                const SubTable** chosen, uint64_t* index) {
    const int men = info.men;
    if (popcount(p->white | p->black) != men) return false;
    const int cmirror = colourMirror ? TB_BLACK : 0;
    const int mirror = colourMirror ? 0x38 : 0;
    int sq[TBPIECES] = {};
    int i = 0;
    const SubTable* st = sts;

    if (info.pawnTable) {
        if (p->pawns & (RANK_1 | RANK_8)) return false;
        const int k = info.pawnCount[0];
        uint64_t bb = piecesOf(p, sts[0].pieces[0][0] ^ cmirror);
        if (popcount(bb) != k) return false;
        while (bb) sq[i++] = popLsb(bb) ^ mirror;
        int lead = 0;
        for (int j = 1; j < k; j++)
            if (FLAP[sq[j]] < FLAP[sq[lead]]) lead = j;
        const int x = sq[0];
        sq[0] = sq[lead];
        sq[lead] = x;
        st = &sts[FILE_TO_FILE[sq[0] & 7]];
    }
    const uint8_t* pc = st->pieces[side];
    while (i < men) {
        const int n = st->run[side][i];
        uint64_t bb = piecesOf(p, pc[i] ^ cmirror);
        if (n == 0 || popcount(bb) != n) return false;
        while (bb) sq[i++] = popLsb(bb) ^ (info.pawnTable ? mirror : 0);
    }
    *chosen = st;
    if (info.pawnTable) return encodePawn(info.pawnCount, st->norm[side], sq, st->factor[side], men, index);
    return encodePiece(info.encoding, st->norm[side], sq, st->factor[side], men, index);
}

// Map and parse a WDL file on first use.  Threads race here only until the
// entry is loaded; the lock serialises the loading itself.
bool ensureLoaded(WdlTable* e, uint64_t key, const Board* p) {
    if (e->loaded.load(std::memory_order_acquire)) return true;
    std::lock_guard<std::mutex> lock(loadMutex);
    if (e->loaded.load(std::memory_order_relaxed)) return true;
    if (e->failed) return false;
    char name[40];
    tableName(p, name, e->key != key);
    if (!loadWdlTable(e, name)) {
        e->failed = 1;
        dropRegistryEntry(e);
        return false;
    }
    e->loaded.store(1, std::memory_order_release);
    return true;
}

// How a position is read from a table stored under `tableKey`: with the
// colours exchanged or not, and from which side-to-move half.  A symmetric
// table (the same men on both sides) holds White to move only, so Black to
// move reads it with the colours exchanged; any other table holds both sides
// to move, and a position whose White has the table's Black men reads it
// with the colours exchanged.
void tableSide(const Board* p, uint64_t key, uint64_t tableKey, bool symmetric, bool* colourMirror, int* bside) {
    if (symmetric) {
        *colourMirror = !p->turn;
        *bside = 0;
    } else {
        *colourMirror = key != tableKey;
        *bside = *colourMirror == p->turn ? 1 : 0;
    }
}

int probeWdlTable(const Board* p, int* success) {
    const uint64_t key = materialKey(p, false);
    if (key == 0) return 0;  // bare kings
    WdlTable* e = findTable(key);
    if (!e || !ensureLoaded(e, key, p)) {
        *success = 0;
        return 0;
    }
    bool colourMirror;
    int bside;
    tableSide(p, key, e->key, e->symmetric, &colourMirror, &bside);
    const SubTable* sts = e->pawnTable ? static_cast<PawnWdlTable*>(e)->st : &static_cast<PieceWdlTable*>(e)->st;
    const SubTable* st;
    uint64_t idx;
    int value = -1;
    if (tableIndex(p, *e, sts, bside, colourMirror, &st, &idx) && st->pairs[bside])
        value = decompressPairs(st->pairs[bside].get(), idx);
    if (value < 0 || value > 4) {
        *success = 0;
        return 0;
    }
    return value - 2;
}

// The DTZ cache: most recently used first.  Both keys of a file find it.
DtzTable* findDtzEntry(const Board* p, uint64_t key) {
    int i = 0;
    while (i < DTZ_ENTRIES && dtzCache[i].key1 != key && dtzCache[i].key2 != key) i++;
    if (i < DTZ_ENTRIES && (dtzCache[i].key1 || dtzCache[i].key2)) {
        const DtzCacheSlot hit = dtzCache[i];
        for (; i > 0; i--) dtzCache[i] = dtzCache[i - 1];
        dtzCache[0] = hit;
        return hit.entry;
    }
    const WdlTable* e = findTable(key);
    if (!e) return nullptr;
    const bool mirror = e->key != key;
    char name[40];
    tableName(p, name, mirror);
    if (dtzCache[DTZ_ENTRIES - 1].entry) freeDtzTable(dtzCache[DTZ_ENTRIES - 1].entry);
    for (i = DTZ_ENTRIES - 1; i > 0; i--) dtzCache[i] = dtzCache[i - 1];
    dtzCache[0].key1 = materialKey(p, mirror);
    dtzCache[0].key2 = materialKey(p, !mirror);
    dtzCache[0].entry = nullptr;
    dtzCache[0].entry = loadDtzTable(e, name, dtzCache[0].key1);
    return dtzCache[0].entry;
}

// Stored distance of a position whose WDL value is wdl; *success -1 when the
// file holds the other side to move.
int probeDtzTable(const Board* p, int wdl, int* success) {
    const uint64_t key = materialKey(p, false);
    DtzTable* d = findDtzEntry(p, key);
    if (!d) {
        *success = 0;
        return 0;
    }
    bool colourMirror;
    int bside;
    tableSide(p, key, d->key, d->symmetric, &colourMirror, &bside);
    WdlTable info;
    info.men = d->men;
    info.pawnTable = d->pawnTable;
    info.encoding = d->encoding;
    info.pawnCount[0] = d->pawnCount[0];
    info.pawnCount[1] = d->pawnCount[1];
    const SubTable* st;
    uint64_t idx;
    if (!tableIndex(p, info, d->st, 0, colourMirror, &st, &idx) || !st->pairs[0]) {
        *success = 0;
        return 0;
    }
    const uint8_t flags = st->flags;
    if ((flags & 1) != bside && !(d->symmetric && !d->pawnTable)) {
        *success = -1;
        return 0;
    }
    int value = decompressPairs(st->pairs[0].get(), idx);
    if (value < 0) {
        *success = 0;
        return 0;
    }
    if (flags & 2) {
        const int run = WDL_TO_MAP[wdl + 2];
        if (value >= st->mapLength[run]) {
            *success = 0;
            return 0;
        }
        value = st->map[st->mapIndex[run] + value];
    }
    if (!(flags & PA_FLAGS[wdl + 2]) || (wdl & 1)) value *= 2;
    return value;
}

int probeDtzOnce(const Board* p, int* success, bool lookaheadAllowed);

// DTZ before the en-passant correction.  A file that holds only the other
// side to move is read one ply further on, where the children stand with
// the side the file holds; a child that again finds the wrong side means a
// damaged file (a sound one never sends the lookahead round twice), and the
// probe fails instead of recursing without end.
int probeDtzNoEp(const Board* p, int* success, bool lookaheadAllowed) {
    const int wdl = probeAlphaBeta(p, -2, 2, success);
    if (*success == 0) return 0;
    if (wdl == 0) return 0;
    if (*success == 2) return wdl == 2 ? 1 : 101;

    uint16_t moves[MAX_MOVES];
    uint16_t* end = nullptr;
    Board child;
    if (wdl > 0) {
        // A pawn advance that keeps the win zeroes the counter at once.
        end = generateMoves(p, moves);
        for (uint16_t* m = moves; m < end; m++) {
            if (!isPawnPush(p, *m) || !doMove(&child, p, *m)) continue;
            const int v = child.ep ? probeWdl(&child, success) : probeAlphaBeta(&child, -2, 1 - wdl, success);
            if (*success == 0) return 0;
            if (v == -wdl) return wdl == 2 ? 1 : 101;
        }
    }

    const int dtz = probeDtzTable(p, wdl, success);
    if (*success == 0) return 0;
    if (*success < 0 && !lookaheadAllowed) {
        *success = 0;
        return 0;
    }
    if (*success > 0) {
        const int plies = dtz + 1 + ((wdl & 1) ? 100 : 0);
        return wdl > 0 ? plies : -plies;
    }

    // The file holds the other side to move: one ply of search over the
    // children's distances.
    *success = 1;
    if (!end) end = generateMoves(p, moves);
    if (wdl > 0) {
        int best = INT_MAX;
        for (uint16_t* m = moves; m < end; m++) {
            if ((p->pawns & (1ULL << moveFrom(*m))) || (themOf(p) & (1ULL << moveTo(*m)))) continue;
            if (!doMove(&child, p, *m)) continue;
            const int v = probeDtzOnce(&child, success, false);
            if (*success == 0) return 0;
            // Mate ends the game at once: it counts as one ply, like a
            // winning capture.  (The distance stored for a mated position
            // is not to be relied on.)
            if (v < 0 && isMate(&child)) return 1;
            if (v < 0 && 1 - v < best) best = 1 - v;
        }
        // A win always has a move that keeps it; tables that say otherwise
        // are not to be believed.
        if (best == INT_MAX) {
            *success = 0;
            return 0;
        }
        return best;
    }
    int best = -1;
    for (uint16_t* m = moves; m < end; m++) {
        if (!doMove(&child, p, *m)) continue;
        int v;
        if (child.rule50 == 0) {
            if (wdl == -2)
                v = -1;
            else
                v = probeAlphaBeta(&child, 1, 2, success) == 2 ? 0 : -101;
        } else {
            v = -probeDtzOnce(&child, success, false) - 1;
        }
        if (*success == 0) return 0;
        if (v < best) best = v;
    }
    return best;
}

}  // namespace

uint16_t* generateMoves(const Board* p, uint16_t* out) { return generate<false>(p, out); }

bool doMove(Board* out, const Board* in, uint16_t move) {
    const int from = moveFrom(move), to = moveTo(move), promotion = movePromotion(move);
    const uint64_t f = 1ULL << from, t = 1ULL << to;
    *out = *in;
    uint64_t& us = in->turn ? out->white : out->black;
    uint64_t& them = in->turn ? out->black : out->white;

    bool capture = (them & t) != 0;
    if (capture) {
        them ^= t;
        out->kings &= ~t;
        out->queens &= ~t;
        out->rooks &= ~t;
        out->bishops &= ~t;
        out->knights &= ~t;
        out->pawns &= ~t;
    }
    us ^= f | t;
    uint64_t* kinds[6] = {&out->pawns, &out->knights, &out->bishops, &out->rooks, &out->queens, &out->kings};
    const bool pawn = (in->pawns & f) != 0;
    for (uint64_t* k : kinds)
        if (*k & f) {
            *k ^= f | t;
            break;
        }
    out->ep = 0;
    if (pawn) {
        if (in->ep && to == in->ep && !capture) {
            const uint64_t victim = 1ULL << (in->turn ? to - 8 : to + 8);
            them ^= victim;
            out->pawns ^= victim;
            capture = true;
        }
        if (promotion) {
            out->pawns ^= t;
            switch (promotion) {
            case PROMOTE_QUEEN: out->queens |= t; break;
            case PROMOTE_ROOK: out->rooks |= t; break;
            case PROMOTE_BISHOP: out->bishops |= t; break;
            default: out->knights |= t; break;
            }
        }
        if (to - from == 16 || from - to == 16) {
            const int passed = (from + to) / 2;
            // An enemy pawn that could take the passed square en passant.
            if (PAWN_ATTACKS[engineColour(!in->turn)][passed] & them & out->pawns) out->ep = (uint8_t)passed;
        }
    }
    out->rule50 = (pawn || capture) ? 0 : (uint8_t)(in->rule50 + 1);
    out->turn = !in->turn;

    const uint64_t king = out->kings & us;
    if (!king) return false;
    return !attacked(out, lsb(king), them, in->turn ? 1 : 0);
}

uint64_t materialKey(const Board* p, bool mirror) {
    const uint64_t w = mirror ? p->black : p->white;
    const uint64_t b = mirror ? p->white : p->black;
    const uint64_t kinds[5] = {p->queens, p->rooks, p->bishops, p->knights, p->pawns};
    uint64_t key = 0;
    for (int i = 0; i < 5; i++) {
        key += (uint64_t)popcount(w & kinds[i]) * MATERIAL_MULTIPLIER[0][i];
        key += (uint64_t)popcount(b & kinds[i]) * MATERIAL_MULTIPLIER[1][i];
    }
    return key;
}

void tableName(const Board* p, char* name, bool mirror) {
    const uint64_t kinds[5] = {p->queens, p->rooks, p->bishops, p->knights, p->pawns};
    static const char letters[5] = {'Q', 'R', 'B', 'N', 'P'};
    for (int colour = 0; colour < 2; colour++) {
        const uint64_t men = (colour == 0) != mirror ? p->white : p->black;
        *name++ = 'K';
        for (int i = 0; i < 5; i++)
            for (int n = popcount(men & kinds[i]); n > 0; n--) *name++ = letters[i];
        if (colour == 0) *name++ = 'v';
    }
    *name = '\0';
}

int probeAlphaBeta(const Board* p, int alpha, int beta, int* success) {
    uint16_t moves[MAX_MOVES];
    uint16_t* end = generate<true>(p, moves);
    Board child;
    for (uint16_t* m = moves; m < end; m++) {
        if (!doMove(&child, p, *m)) continue;
        const int v = -probeAlphaBeta(&child, -beta, -alpha, success);
        if (*success == 0) return 0;
        if (v > alpha) {
            if (v >= beta) {
                *success = 2;
                return v;
            }
            alpha = v;
        }
    }
    const int v = probeWdlTable(p, success);
    if (*success == 0) return 0;
    if (alpha >= v) {
        *success = 1 + (alpha > 0);
        return alpha;
    }
    *success = 1;
    return v;
}

int probeWdl(const Board* p, int* success) {
    *success = 1;
    const int v = probeAlphaBeta(p, -2, 2, success);
    if (*success == 0 || !p->ep) return v;

    uint16_t moves[MAX_MOVES];
    uint16_t* end = generateMoves(p, moves);
    Board child;
    int best = -3;
    for (uint16_t* m = moves; m < end; m++) {
        if (!isEnPassant(p, *m) || !doMove(&child, p, *m)) continue;
        const int v1 = -probeAlphaBeta(&child, -2, 2, success);
        if (*success == 0) return 0;
        if (v1 > best) best = v1;
    }
    if (best == -3) return v;
    if (best >= v) return best;
    if (v != 0) return v;
    // The draw stands unless taking en passant is forced.
    for (uint16_t* m = moves; m < end; m++)
        if (!isEnPassant(p, *m) && doMove(&child, p, *m)) return 0;
    return best;
}

int probeDtz(const Board* p, int* success) { return probeDtzOnce(p, success, true); }

namespace {

int probeDtzOnce(const Board* p, int* success, bool lookaheadAllowed) {
    *success = 1;
    int v = probeDtzNoEp(p, success, lookaheadAllowed);
    if (*success == 0 || !p->ep) return v;

    uint16_t moves[MAX_MOVES];
    uint16_t* end = generateMoves(p, moves);
    Board child;
    int e = -3;
    bool otherMove = false;
    for (uint16_t* m = moves; m < end; m++) {
        if (!doMove(&child, p, *m)) continue;
        if (!isEnPassant(p, *m)) {
            otherMove = true;
            continue;
        }
        const int v1 = -probeAlphaBeta(&child, -2, 2, success);
        if (*success == 0) return 0;
        if (v1 > e) e = v1;
    }
    if (e == -3) return v;
    const int d = WDL_TO_DTZ[e + 2];
    if (v < -100) {
        if (e >= 0) v = d;
    } else if (v < 0) {
        if (e != -2) v = d;
    } else if (v == 0) {
        if (e >= 0 || !otherMove) v = d;
    } else if (v <= 100) {
        if (e == 2) v = 1;
    } else {
        if (e > 0) v = d;
    }
    return v;
}

}  // namespace

}  // namespace tb
