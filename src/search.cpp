// The search: the FEN reader that sets up a position, the node search,
// quiescence, the exchange test, move ordering, the root search with its
// iterative deepening and output, and the pool of search threads.
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

#include "eval.h"
#include "search.h"
#include "syzygy.h"
#include "tarnwick.h"

positionStruct GPSData;

positionStruct::positionStruct() { std::memset(static_cast<void*>(this), 0, sizeof(*this)); }

namespace {

// Fields of a FEN, as views into its text: the text is split at every blank
// (two blanks in a row give an empty field), a missing blank at the end is
// implied, fields beyond the sixth are ignored, and missing trailing fields
// read as "w", "-", "-", "0" and "1".  `count` is the number of fields the
// text itself has.  The tuning command sets up every position of a large file
// from its FEN, so this allocates nothing.
struct fenFields {
    std::string_view field[6];
    size_t count = 0;
    std::string_view operator[](size_t i) const { return field[i]; }
};

fenFields splitFenFields(std::string_view fen) {
    fenFields f;
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

// Piece code of a FEN letter (the index of the letter in fenLabelPieces), or
// 0 for any other character.  A table rather than a string search, since the
// letters of every FEN are looked up one by one.
struct pieceLetterTable {
    uint8_t code[256];
    constexpr pieceLetterTable() : code() {
        const char letters[] = "  PpNnBbRrQqKk";
        for (int c = 2; c < 14; c++) code[(unsigned char)letters[c]] = (uint8_t)c;
    }
};
constexpr pieceLetterTable pieceLetters;

inline int pieceCodeOfLetter(char ch) { return pieceLetters.code[(unsigned char)ch]; }

// What is wrong with a FEN's board field, if anything.
struct boardFieldFault {
    enum kind { NONE, RANK_TOO_LONG, RANK_TOO_SHORT, TOO_MANY_RANKS, UNKNOWN_LETTER, TOO_FEW_RANKS } what = NONE;
    int rank = 0;   // 1..8
    char letter = 0;
};

// Walks the board field from a8, rank by rank, and hands every man that
// lands on the board to onMan(code, square).  The first fault found is
// returned; the walk goes on past it as far as the board allows, so that a
// malformed field can never place a man off the board.
template <typename F>
boardFieldFault walkBoardField(std::string_view field, F&& onMan) {
    boardFieldFault fault;
    auto note = [&fault](boardFieldFault::kind what, int rank, char letter = 0) {
        if (fault.what == boardFieldFault::NONE) fault = {what, rank + 1, letter};
    };
    int rank = 7, file = 0;
    for (char ch : field) {
        if (ch >= '1' && ch <= '8') {
            file += ch - '0';
            if (file > 8) note(boardFieldFault::RANK_TOO_LONG, rank);
        } else if (ch == '/') {
            if (file != 8) note(boardFieldFault::RANK_TOO_SHORT, rank);
            if (--rank < 0) note(boardFieldFault::TOO_MANY_RANKS, 0);
            file = 0;
        } else {
            const int code = pieceCodeOfLetter(ch);
            if (code == 0)
                note(boardFieldFault::UNKNOWN_LETTER, rank, ch);
            else if (file >= 8)
                note(boardFieldFault::RANK_TOO_LONG, rank);
            else if (rank >= 0)
                onMan(code, rank * 8 + file);
            file++;
        }
    }
    if (rank != 0 || file != 8) note(boardFieldFault::TOO_FEW_RANKS, 0);
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
    const fenFields f = splitFenFields(fen);
    if (f.count < 2 || f[0].empty()) return "FEN needs at least a board and a side to move";
    int count[14] = {0};
    U64 men[14] = {0};
    bool pawnOnEdge = false;
    const boardFieldFault fault = walkBoardField(f[0], [&](int code, int sq) {
        if ((code == WPAWN || code == BPAWN) && (rankOf(sq) == 0 || rankOf(sq) == 7)) pawnOnEdge = true;
        count[code]++;
        count[code & 1]++;
        men[code] |= bit(sq);
        men[code & 1] |= bit(sq);
    });
    switch (fault.what) {
    case boardFieldFault::NONE: break;
    case boardFieldFault::RANK_TOO_LONG:
        return "FEN board rank " + std::to_string(fault.rank) + " has more than eight squares";
    case boardFieldFault::RANK_TOO_SHORT:
        return "FEN board rank " + std::to_string(fault.rank) + " does not have eight squares";
    case boardFieldFault::TOO_MANY_RANKS: return "FEN board has more than eight ranks";
    case boardFieldFault::UNKNOWN_LETTER: return std::string("FEN board has an unknown character '") + fault.letter + "'";
    case boardFieldFault::TOO_FEW_RANKS: return "FEN board does not have eight full ranks";
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
    // reads only the bitboards, so they are all a scratch record gets; it is
    // kept per thread, since a tuning file checks a hundred thousand FENs and
    // a fresh zeroed record for each would cost more than the check itself.
    thread_local std::unique_ptr<positionStruct> scratch;
    if (!scratch) scratch.reset(new positionStruct);
    std::memcpy(scratch->pieceBitboard, men, sizeof men);
    const bool illegal = sideInCheck(scratch.get(), f[1] == "w" ? BLACK : WHITE);
    if (illegal) return "FEN position has the side not to move in check";
    return "";
}

void setPosition(std::string fen, positionStruct* pos) {
    std::memset(pos->board, 0, sizeof pos->board);
    std::memset(pos->pieceBitboard, 0, sizeof pos->pieceBitboard);
    const fenFields f = splitFenFields(fen);

    // Board, from a8 rank by rank; anything that would leave the board is
    // ignored so that a malformed text cannot write outside the record.  The
    // keys and the material, piece-square and phase sums are gathered on the
    // way (the same values as computing them from scratch afterwards).
    U64 key = 0, pawnKey = 0;
    int32_t material[2] = {0, 0}, pst[2] = {0, 0};
    int phase = 0;
    walkBoardField(f[0], [&](int code, int sq) {
        const int c = code & 1, t = typeOf(code);
        pos->board[sq] = (uint8_t)code;
        pos->pieceBitboard[code] |= bit(sq);
        pos->pieceBitboard[c] |= bit(sq);
        key ^= hashCodePiece[code][sq];
        if (t == 0 || t == 5) pawnKey ^= hashCodePiece[code][sq];
        if (t != 5) material[c] += pieceValue[t];
        if (t != 0 && t != 5) phase += pieceValuePhase[t];
        pst[c] += pieceSquareScore[t][relSq(sq, c)];
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
    pos->plyStack[0].castlingRights = rights;

    pos->plyStack[0].enpassantSquare = (uint8_t)enpassantPawnSquare(f[3], pos->sideToMove, pos->board);

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
    for (int i = 0; i < gamePly; i++) pos->keyHistory[i] = 0;

    key ^= hashCodeCastling[rights];
    if (pos->plyStack[0].enpassantSquare) key ^= hashCodeEnpassant[pos->plyStack[0].enpassantSquare & 7];
    if (pos->sideToMove == BLACK) key ^= hashCodeBlackToMove;
    pos->hashKey = key;
    pos->pawnHashKey = pawnKey;
    pos->keyHistory[gamePly] = pos->hashKey;
    pos->historyLength = (int16_t)(gamePly + 1);

    pos->plyStack[0].inCheck =
        (pos->pieceBitboard[WKING] && pos->pieceBitboard[BKING]) ? sideInCheck(pos, pos->sideToMove) : 0;

    pos->materialScore[0] = material[0];
    pos->materialScore[1] = material[1];
    pos->pieceSquareSum[0] = pst[0];
    pos->pieceSquareSum[1] = pst[1];
    pos->gamePhase = (int16_t)phase;
}

// ===========================================================================
// The search
// ===========================================================================

workForce theWorkForce;

const int16_t seeValue[16] = {0, 0, 88, 88, 335, 335, 335, 335, 521, 521, 1035, 1035, 10000, 10000, 0, 0};

namespace {

inline bool stopRequested() { return theWorkForce.stopSearch.load(std::memory_order_relaxed) != 0; }

inline moveStruct moveFromWord(uint32_t w) {
    moveStruct m = wordToMove(w);
    m.score = 0;
    return m;
}

inline bool isCapture(const positionStruct* pos, moveStruct m) {
    return pos->board[m.to] != EMPTY || m.moveType == MT_ENPASSANT;
}

inline bool hasPieces(const positionStruct* pos, int side) {
    return (pos->pieceBitboard[side] & ~(pos->pieceBitboard[PAWN + side] | pos->pieceBitboard[KING + side])) != 0;
}

inline int drawScore(U64 counter) { return (counter & 1) ? 1 : -1; }

// Repetition scan back to the last irreversible move.  A repetition inside
// the search line is a draw at once; a position from the game before the root
// must have occurred twice.
inline bool isRepetition(const positionStruct* pos, int ply) {
    if (pos->fiftyMoveCounter < 4) return false;
    const int hl = pos->historyLength;
    int lowest = hl - pos->fiftyMoveCounter - 1;
    if (lowest < 0) lowest = 0;
    const U64 key = pos->hashKey;
    const int rootIndex = hl - ply - 1;
    int earlier = 0;
    for (int i = hl - 5; i >= lowest; i -= 2) {
        if (pos->keyHistory[i] != key) continue;
        if (i > rootIndex) return true;
        if (++earlier >= 2) return true;
    }
    return false;
}

inline bool insufficientMaterial(const positionStruct* pos) {
    return !(pos->pieceBitboard[WPAWN] | pos->pieceBitboard[BPAWN]) && mgOf(pos->materialScore[WHITE]) < 378 &&
           mgOf(pos->materialScore[BLACK]) < 378;
}

// The first steps of every node below the root: a draw by repetition or by
// material, a window the distance to mate closes, the deepest ply.  True
// with the node's value when one of them decides it.  `counter` (the node
// count) picks the sign of a repetition's draw score.
inline bool decidedOnEntry(positionStruct* pos, int ply, U64 counter, int& alpha, int& beta, int& score) {
    if (isRepetition(pos, ply)) {
        score = drawScore(counter);
        return true;
    }
    if (insufficientMaterial(pos)) {
        score = 0;
        return true;
    }
    alpha = std::max(alpha, ply - MATESCORE);
    beta = std::min(beta, MATESCORE + 1 - ply);
    if (alpha >= beta) {
        score = alpha;
        return true;
    }
    if (ply >= MAX_PLY - 1) {
        score = evaluateN(0, pos);
        return true;
    }
    return false;
}

// The side that just moved gives check.
inline bool inCheckNow(const positionStruct* pos) { return sideInCheck(pos, pos->sideToMove); }

int64_t elapsedSinceStart() { return nowMs() - engine.startTimeMs; }

// Node count of this thread for the "go nodes" limit.
U64 ownNodes(const positionStruct* pos) { return pos->nodeCount + pos->quiescenceNodeCount; }

}  // namespace

U64 totalNodes() {
    U64 n = 0;
    for (worker* w : theWorkForce.workers)
        n += relaxedRead(w->position.nodeCount) + relaxedRead(w->position.quiescenceNodeCount);
    return n;
}

// ---------------------------------------------------------------------------
// Static exchange evaluation
// ---------------------------------------------------------------------------
bool seeAtLeast(const positionStruct* pos, moveStruct move, int threshold) {
    if (move.moveType == MT_ENPASSANT || move.moveType == MT_CASTLE_K || move.moveType == MT_CASTLE_Q)
        return threshold <= 0;
    const int t = move.to, f = move.from;
    const U64* pb = pos->pieceBitboard;
    int balance = seeValue[pos->board[t]] - threshold;
    if (balance < 0) return false;
    balance -= seeValue[pos->board[f]];
    if (balance >= 0) return true;

    U64 occ = (pb[0] | pb[1]) ^ bit(f) ^ bit(t);
    const U64 diag = pb[WBISHOP] | pb[BBISHOP] | pb[WQUEEN] | pb[BQUEEN];
    const U64 straight = pb[WROOK] | pb[BROOK] | pb[WQUEEN] | pb[BQUEEN];
    U64 attackers = (bishopAttacks(t, occ) & diag) | (rookAttacks(t, occ) & straight) |
                    (attackByPawnTable[WHITE][t] & pb[WPAWN]) | (attackByPawnTable[BLACK][t] & pb[BPAWN]) |
                    (knightAttackTable[t] & (pb[WKNIGHT] | pb[BKNIGHT])) |
                    (kingAttackTable[t] & (pb[WKING] | pb[BKING]));
    attackers &= occ;
    int side = pos->sideToMove ^ 1;
    int result = 1;
    while (attackers & pb[side]) {
        int code = PAWN + side;
        U64 candidates = 0;
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
        const int next = balance + seeValue[code];
        if (next < 0) break;
        balance = -next;
        side ^= 1;
    }
    return result == 1;
}

bool seeNotLosing(const positionStruct* pos, moveStruct move) { return seeAtLeast(pos, move, 0); }

namespace {

// The quick answer of the exchange test: taking a man worth at least the
// taker (less the threshold) never loses, whatever follows.
inline bool exchangeQuickly(int victim, int mover, int threshold) {
    return seeValue[victim] - seeValue[mover] >= threshold;
}

// The exchange test with its quick answer first; most captures are settled
// without playing the exchange out.
inline bool exchangeAtLeast(const positionStruct* pos, moveStruct m, int threshold) {
    return exchangeQuickly(pos->board[m.to], pos->board[m.from], threshold) || seeAtLeast(pos, m, threshold);
}

}  // namespace

// ---------------------------------------------------------------------------
// Remembered moves
// ---------------------------------------------------------------------------
bool moveIsPseudoLegal(const positionStruct* pos, int ply, uint32_t word, bool quietOnly) {
    const moveStruct m = wordToMove(word);
    const int from = m.from, to = m.to, piece = (int)(word >> 24);
    const int side = pos->sideToMove;
    if (from > 63 || to > 63 || from == to) return false;
    if (piece < WPAWN || piece > BKING || (piece & 1) != side || pos->board[from] != piece) return false;
    const int target = pos->board[to];
    if (target && ((target & 1) == side || target >= WKING)) return false;
    if (quietOnly && (target || m.moveType == MT_ENPASSANT)) return false;
    const U64 occ = pos->pieceBitboard[0] | pos->pieceBitboard[1];
    const int type = m.moveType;
    if (piece == PAWN + side) {
        const int fwd = side == WHITE ? 8 : -8;
        const int lastRankTo = side == WHITE ? 7 : 0;
        if (type == MT_ENPASSANT) {
            const int ep = pos->plyStack[ply].enpassantSquare;
            if (!ep || to != ep || !(enpassantTable[ep] & bit(from))) return false;
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
        return (attackByPawnTable[side ^ 1][from] & bit(to)) && target != EMPTY;
    }
    if (type == MT_CASTLE_K || type == MT_CASTLE_Q) {
        if (piece != KING + side) return false;
        const int home = side == WHITE ? E1 : E8;
        const uint8_t rights = pos->plyStack[ply].castlingRights;
        if (from != home || pos->plyStack[ply].inCheck) return false;
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
    case KNIGHT: return (knightAttackTable[from] & bit(to)) != 0;
    case KING: return (kingAttackTable[from] & bit(to)) != 0;
    case BISHOP: return (bishopAttackAll[from] & bit(to)) && !(inBetweenSquares[from][to] & occ);
    case ROOK: return (rookAttackAll[from] & bit(to)) && !(inBetweenSquares[from][to] & occ);
    default:
        return ((bishopAttackAll[from] | rookAttackAll[from]) & bit(to)) && !(inBetweenSquares[from][to] & occ);
    }
}

namespace {

// Does the move leave the mover's own king safe?  Made on the board and taken
// back; used for moves from the table, which no generator produced.
bool leavesKingSafe(positionStruct* pos, int ply, moveStruct m) {
    makeMove(pos, ply, m);
    const bool safe = !sideInCheck(pos, pos->sideToMove ^ 1);
    unmakeMove(pos, ply, m);
    return safe;
}

}  // namespace

// ---------------------------------------------------------------------------
// Histories
// ---------------------------------------------------------------------------
continuation continuationBlocks(positionStruct* pos, int ply) {
    continuation c;
    if (ply >= 1) {
        uint32_t prev = pos->plyStack[ply - 1].currentMove;
        if (prev) c.counter = &(*pos->counterMoveHistory)[(prev >> 24) - 2][(prev >> 8) & 63];
    }
    if (ply >= 2) {
        uint32_t prev2 = pos->plyStack[ply - 2].currentMove;
        if (prev2) c.followUp = &(*pos->followUpHistory)[(prev2 >> 24) - 2][(prev2 >> 8) & 63];
    }
    return c;
}

static inline int quietScore(const positionStruct* pos, const continuation& c, int piece, int to) {
    int s = pos->history[piece - 2][to];
    if (c.followUp) s += (*c.followUp)[piece - 2][to];
    if (c.counter) s += (*c.counter)[piece - 2][to];
    return s;
}

static inline bool allHistoriesNegative(const positionStruct* pos, const continuation& c, int piece, int to) {
    return c.followUp && c.counter && pos->history[piece - 2][to] < 0 && (*c.followUp)[piece - 2][to] < 0 &&
           (*c.counter)[piece - 2][to] < 0;
}

static inline void historyBonus(int16_t& e, int b) { e = (int16_t)(e + b - e * b / 8192); }
static inline void historyMalus(int16_t& e, int b) { e = (int16_t)(e - (b + e * b / 8192)); }

static void adjustHistories(positionStruct* pos, const continuation& c, int piece, int to, int b, bool bonus) {
    pos->historyWrites++;
    auto apply = [&](int16_t& e) { bonus ? historyBonus(e, b) : historyMalus(e, b); };
    if (c.followUp) apply((*c.followUp)[piece - 2][to]);
    if (c.counter) apply((*c.counter)[piece - 2][to]);
    apply(pos->history[piece - 2][to]);
}

// ---------------------------------------------------------------------------
// Staged move picker
// ---------------------------------------------------------------------------
static inline void selectBest(moveStruct* from, moveStruct* end) {
    moveStruct* best = from;
    for (moveStruct* m = from + 1; m < end; m++)
        if (m->score > best->score) best = m;
    std::swap(*best, *from);
}

// Brings the quiet move with the highest history score (the first of equals)
// to the front of the rest.  The histories change only when a search below
// writes them; near the leaves the moves lead to the quiescence search, which
// writes none, so the scores taken at one pick mostly hold for the next and
// are kept beside the moves instead of being read again.
static void selectBestQuiet(const positionStruct* pos, const plyEntry& e, pickerContext& pc) {
    moveStruct* const current = e.moveListCurrent;
    const long count = e.moveListEnd - e.quietListStart;
    if (!pc.quietScores || count > QUIET_SCORE_CAPACITY) {
        moveStruct* best = current;
        int bestScore = quietScore(pos, pc.cont, pos->board[best->from], best->to);
        for (moveStruct* m = best + 1; m < e.moveListEnd; m++) {
            int s = quietScore(pos, pc.cont, pos->board[m->from], m->to);
            if (s > bestScore) {
                bestScore = s;
                best = m;
            }
        }
        std::swap(*best, *current);
        return;
    }
    static_assert(QUIET_SCORE_CAPACITY <= 256, "a place in the list must fit in a byte");
    // A kept score holds the history score times 256 plus 255 less the move's
    // place in the list, so that the largest kept score is the best move and,
    // of equals, the first: a maximum without branches finds it.
    const long first = current - e.quietListStart;
    int32_t* const score = pc.quietScores;
    if (!pc.quietScoresValid || pc.quietScoresWrites != pos->historyWrites) {
        for (long i = first; i < count; i++) {
            const moveStruct m = e.quietListStart[i];
            score[i] = quietScore(pos, pc.cont, pos->board[m.from], m.to) * 256 + (int32_t)(255 - i);
        }
        pc.quietScoresValid = true;
        pc.quietScoresWrites = pos->historyWrites;
    }
    int32_t top = score[first];
    for (long i = first + 1; i < count; i++) top = std::max(top, score[i]);
    const long best = 255 - (top & 255);
    std::swap(e.quietListStart[best], *current);
    score[best] = (score[first] & ~255) | (int32_t)(255 - best);
    score[first] = (top & ~255) | (int32_t)(255 - first);
}

moveStruct* nextMove(positionStruct* pos, int ply, pickerContext& pc, int* stage) {
    plyEntry& e = pos->plyStack[ply];
    for (;;) {
        switch (e.moveStage) {
        case STAGE_HASH: {
            e.moveStage = STAGE_GEN_CAPTURES;
            // The hash move is written where the captures will go; the
            // generator overwrites it later, which does no harm.
            moveStruct* slot = e.moveListStart;
            *slot = moveFromWord(e.hashMove);
            *stage = STAGE_HASH;
            return slot;
        }
        case STAGE_GEN_CAPTURES:
            generateMovesCaptures((unsigned char)ply, e.moveListStart, pos);
            e.moveListCurrent = e.moveListStart;
            if (e.moveStage == STAGE_EVASIONS) break;  // in check: the evasions are the whole list
            e.captureListEnd = e.moveListEnd;
            pos->plyStack[ply + 1].moveListStart = e.captureListEnd + 3;
            e.moveStage = STAGE_GOOD_CAPTURES;
            break;
        case STAGE_GOOD_CAPTURES:
            while (e.moveListCurrent < e.captureListEnd) {
                if (!pc.sortOff) selectBest(e.moveListCurrent, e.captureListEnd);
                moveStruct* m = e.moveListCurrent++;
                if (e.hashMove && sameMove(moveToWord(*m), e.hashMove)) continue;
                if (exchangeAtLeast(pos, *m, 0)) {
                    *stage = STAGE_GOOD_CAPTURES;
                    return m;
                }
                m->score = 255;  // a losing capture, tried after the killers
            }
            e.moveListCurrent = e.captureListEnd;
            e.moveStage = STAGE_KILLER1;
            break;
        case STAGE_KILLER1:
        case STAGE_KILLER2:
        case STAGE_COUNTER: {
            const uint8_t s = e.moveStage;
            uint32_t candidate;
            if (s == STAGE_KILLER1) {
                candidate = e.killerMove[0];
            } else if (s == STAGE_KILLER2) {
                candidate = e.killerMove[1];
            } else {
                uint32_t prev = ply >= 1 ? pos->plyStack[ply - 1].currentMove : 0;
                e.counterMoveSlot = prev ? pos->counterMoves[(prev >> 24) - 2][(prev >> 8) & 63] : 0;
                candidate = e.counterMoveSlot;
                if (candidate && (sameMove(candidate, e.killerMove[0]) || sameMove(candidate, e.killerMove[1])))
                    candidate = 0;
            }
            e.moveStage = s == STAGE_COUNTER ? STAGE_BAD_CAPTURES : s + 1;
            if (s == STAGE_COUNTER) e.quietListStart = e.moveListCurrent;
            if (!candidate || (e.hashMove && sameMove(candidate, e.hashMove)) ||
                !moveIsPseudoLegal(pos, ply, candidate, true)) {
                if (s == STAGE_COUNTER) e.moveListCurrent = e.moveListStart;
                break;
            }
            moveStruct* slot = e.moveListCurrent++;
            *slot = moveFromWord(candidate);
            if (s == STAGE_COUNTER) {
                e.quietListStart = e.moveListCurrent;
                e.moveListCurrent = e.moveListStart;
            }
            *stage = s;
            return slot;
        }
        case STAGE_BAD_CAPTURES:
            while (e.moveListCurrent < e.captureListEnd) {
                moveStruct* m = e.moveListCurrent++;
                if (m->score == 255) {
                    *stage = STAGE_BAD_CAPTURES;
                    return m;
                }
            }
            e.moveStage = STAGE_GEN_QUIETS;
            break;
        case STAGE_GEN_QUIETS: {
            generateMovesQuiets((unsigned char)ply, e.quietListStart, pos);
            moveStruct* end = e.moveListEnd;
            // Drop the moves tried already (hash move, killers, counter move).
            // Most quiet moves go to none of their target squares, which
            // settles them with one test.
            U64 triedTargets = 0;
            for (const uint32_t w : {e.hashMove, e.killerMove[0], e.killerMove[1], e.counterMoveSlot})
                if (w) triedTargets |= bit((w >> 8) & 63);
            for (moveStruct* m = e.quietListStart; m < end;) {
                const uint32_t w = moveToWord(*m);
                if ((triedTargets & bit(m->to)) &&
                    ((e.hashMove && sameMove(w, e.hashMove)) || (e.killerMove[0] && sameMove(w, e.killerMove[0])) ||
                     (e.killerMove[1] && sameMove(w, e.killerMove[1])) ||
                     (e.counterMoveSlot && sameMove(w, e.counterMoveSlot))))
                    *m = *--end;
                else
                    m++;
            }
            e.moveListEnd = end;
            pos->plyStack[ply + 1].moveListStart = end;
            e.moveListCurrent = e.quietListStart;
            e.moveStage = STAGE_QUIETS;
            pc.quietScoresValid = false;
            break;
        }
        case STAGE_QUIETS: {
            // Once late-move pruning has begun, the node searches no quiet
            // move but a check; the others are passed over here.
            if (pc.lmpSkip)
                while (e.moveListCurrent < e.moveListEnd && !moveGivesCheck(pos, *e.moveListCurrent))
                    e.moveListCurrent++;
            if (e.moveListCurrent >= e.moveListEnd) {
                e.moveStage = STAGE_DONE;
                return nullptr;
            }
            if (!pc.lmpSkip && !pc.sortOff) selectBestQuiet(pos, e, pc);
            *stage = STAGE_QUIETS;
            return e.moveListCurrent++;
        }
        case STAGE_EVASIONS:
            while (e.moveListCurrent < e.moveListEnd) {
                selectBest(e.moveListCurrent, e.moveListEnd);
                moveStruct* m = e.moveListCurrent++;
                if (e.hashMove && sameMove(moveToWord(*m), e.hashMove)) continue;
                *stage = STAGE_EVASIONS;
                return m;
            }
            e.moveStage = STAGE_DONE;
            return nullptr;
        default:
            return nullptr;
        }
    }
}

namespace {

// Killers, counter move and histories after a quiet move caused a cut-off.
void updateQuietCutoff(positionStruct* pos, int ply, int depth, moveStruct m, int stage, const continuation& c) {
    plyEntry& e = pos->plyStack[ply];
    const int piece = pos->board[m.from];
    const uint32_t word = makeMoveWord(m, piece);
    if (depth <= 18) {
        const int b = std::min(depth * depth, 324) * 32;
        adjustHistories(pos, c, piece, m.to, b, true);
        if (ply >= 1) {
            uint32_t prev = pos->plyStack[ply - 1].currentMove;
            if (prev) pos->counterMoves[(prev >> 24) - 2][(prev >> 8) & 63] = word;
        }
        if (e.hashMove && !sameMove(e.hashMove, word)) {
            moveStruct h = wordToMove(e.hashMove);
            if (pos->board[h.to] == EMPTY) adjustHistories(pos, c, (int)(e.hashMove >> 24), h.to, b, false);
        }
        if (stage != STAGE_HASH) {
            moveStruct* killerEnd = stage < STAGE_COUNTER ? e.moveListCurrent : e.quietListStart;
            for (moveStruct* k = e.captureListEnd; k < killerEnd; k++) {
                if (sameMove(moveToWord(*k), word)) continue;
                adjustHistories(pos, c, pos->board[k->from], k->to, b, false);
            }
            if (stage == STAGE_QUIETS)
                for (moveStruct* q = e.quietListStart; q < e.moveListCurrent - 1; q++)
                    adjustHistories(pos, c, pos->board[q->from], q->to, b, false);
        }
    }
    if (!sameMove(e.killerMove[0], word)) {
        e.killerMove[1] = e.killerMove[0];
        e.killerMove[0] = word;
    }
}

// Is a legal move available at this node?  Used when every move was pruned,
// so that a pruned node is never mistaken for mate or stalemate.
bool anyLegalMove(positionStruct* pos, int ply) {
    plyEntry& e = pos->plyStack[ply];
    generateMovesCaptures((unsigned char)ply, e.moveListStart, pos);
    if (e.inCheck) return e.moveListEnd > e.moveListStart;
    generateMovesQuiets((unsigned char)ply, e.moveListEnd, pos);
    for (moveStruct* m = e.moveListStart; m < e.moveListEnd; m++)
        if (moveIsLegal(pos, ply, *m)) return true;
    return false;
}

// Clock and node-limit test, made every timeCheckInterval nodes.  Each thread
// adds the nodes it searched since its last test to the search's shared count.
bool timeIsUp(positionStruct* pos) {
    if (engine.nodesLimit) {
        const U64 mine = ownNodes(pos);
        const U64 fresh = mine - pos->nodesReported;
        pos->nodesReported = mine;
        const U64 total = theWorkForce.nodesCounted.fetch_add(fresh, std::memory_order_relaxed) + fresh;
        if (total >= engine.nodesLimit) return true;
    }
    if (theWorkForce.pondering.load(std::memory_order_relaxed) || engine.infinite) return false;
    return elapsedSinceStart() >= engine.timeMax;
}

}  // namespace

// ---------------------------------------------------------------------------
// Quiescence search
// ---------------------------------------------------------------------------
namespace {

// The quiescence search narrows as it goes deeper (depth counts down from 0):
// down to QS_ALL_CAPTURES_DEPTH every capture and queen promotion is tried
// (losing captures are skipped from depth 0 on), deeper only the recaptures
// on the square of the last move; a side in check gets all its evasions down
// to QS_EVASIONS_DEPTH and only recaptures beyond it.
constexpr int QS_ALL_CAPTURES_DEPTH = -4;
constexpr int QS_EVASIONS_DEPTH = -13;

}  // namespace

int quiescence(unsigned char ply, int depth, int alpha, int beta, positionStruct* pos) {
    relaxedIncrement(pos->quiescenceNodeCount);
    int decided;
    if (decidedOnEntry(pos, ply, pos->quiescenceNodeCount, alpha, beta, decided)) return decided;

    plyEntry& e = pos->plyStack[ply];
    const bool wasInCheck = e.inCheck != 0;
    // Only the node search stores positions, so the table seldom knows a
    // quiescence node, and its bucket is mostly a miss to main memory: it is
    // fetched while the static evaluation is worked out, and read after it.
    hashPrefetch(pos->hashKey);
    const int staticEval = wasInCheck ? 0 : evaluateN(0, pos);
    const U64 entry = hashProbe(pos->hashKey);
    const int bound = hashEntryBound(entry);
    int ttScore = 0;
    if (bound) {
        ttScore = scoreFromHash(hashEntryScore(entry), ply);
        if (bound != boundUpper && ttScore >= beta) return ttScore;
        if (bound == boundExact || (bound != boundLower && ttScore <= alpha)) return ttScore;
    }

    int best;
    if (!wasInCheck) {
        int standPat = staticEval;
        if ((bound == boundLower && standPat < ttScore) || (bound == boundUpper && standPat > ttScore))
            standPat = ttScore;
        if (standPat >= beta) return standPat;
        alpha = std::max(alpha, standPat);
        best = standPat;
    } else {
        best = ply - MATESCORE;
    }

    e.notPinnedMask = computeNotPinnedMask(pos, pos->sideToMove);
    moveStruct* const start = e.moveListStart;
    moveStruct* end;
    // Deep in the recapture phase a side in check no longer gets all its
    // evasions; the recaptures it may try are then checked for legality in
    // full, since the cheap test assumes the king is not attacked.
    bool fullLegalityTest = false;
    if (e.inCheck && depth >= QS_EVASIONS_DEPTH) {
        generateMovesEvade(ply, start, pos);
        end = e.moveListEnd;
    } else {
        if (e.inCheck) {
            e.inCheck = 0;
            fullLegalityTest = true;
        }
        if (depth >= QS_ALL_CAPTURES_DEPTH) {
            end = generateQuiescenceCaptures(ply, start, pos);
        } else {
            // The square of the last move; after an en-passant capture, the
            // square where the capturing pawn landed.
            const uint32_t last = ply >= 1 ? pos->plyStack[ply - 1].currentMove : 0;
            int target = (last >> 8) & 63;
            if (((last >> 16) & 0xff) == MT_ENPASSANT) target += pos->sideToMove == WHITE ? -8 : 8;
            end = last ? generateRecaptures(ply, target, start, pos) : start;
        }
        e.moveListEnd = end;
        pos->plyStack[ply + 1].moveListStart = end;
    }
    if (end == start) return best;
    // The children's buckets are fetched now, long before each child reads
    // its own: most of the wait for memory goes by while this node picks and
    // tests its moves.
    for (moveStruct* m = start; m < end; m++) hashPrefetch(keyAfterGuess(pos, ply, *m));

    const bool inCheck = e.inCheck != 0;
    int searched = 0;
    moveStruct* front = start;
    const bool skipLosingCaptures = !inCheck && depth <= 0 && depth >= QS_ALL_CAPTURES_DEPTH;
    while (front < end) {
        if (!skipLosingCaptures) {
            selectBest(front, end);
        } else {
            // Captures whose exchange loses are never searched here.
            moveStruct* choice = front;
            bool taken = false;
            for (moveStruct* m = front + 1; m < end; m++) {
                if (m->score <= choice->score) continue;
                if (exchangeAtLeast(pos, *m, 0)) {
                    choice = m;
                    taken = true;
                }
            }
            if (taken) {
                std::swap(*choice, *front);
            } else if (!exchangeAtLeast(pos, *front, 0)) {
                front++;
                continue;
            }
        }
        moveStruct m = *front++;
        if (!inCheck && !fullLegalityTest && !moveIsLegal(pos, ply, m)) continue;
        m.score = 0;
        makeMove(pos, ply, m);
        if (fullLegalityTest && sideInCheck(pos, pos->sideToMove ^ 1)) {
            unmakeMove(pos, ply, m);
            continue;
        }
        e.currentMove = moveToWord(m);
        pos->plyStack[ply + 1].inCheck = inCheckNow(pos);
        int score;
        if (searched == 0) {
            score = -quiescence(ply + 1, depth - 1, -beta, -alpha, pos);
        } else {
            score = -quiescence(ply + 1, depth - 1, -alpha - 1, -alpha, pos);
            if (score > alpha && score < beta) score = -quiescence(ply + 1, depth - 1, -beta, -alpha, pos);
        }
        searched++;
        unmakeMove(pos, ply, m);
        if (score > best) {
            best = score;
            if (score > alpha) {
                if (score >= beta) return score;
                alpha = score;
            }
        }
    }
    return best;
}

// ---------------------------------------------------------------------------
// Alpha-beta node search
// ---------------------------------------------------------------------------
// The numbered steps follow the order in which a node decides: count and
// clock, draws, mate distance, the table, the tablebases, the static
// evaluation and the pruning it allows, the hash move, the singular test,
// and the move loop with its per-move pruning, extensions and reductions.
namespace {

// Reverse futility (step 9): with up to this much depth left, a static score
// above beta by the margin of the depth is taken as the node's value; the
// opponent is not expected to win back so much in so few moves.
constexpr int REVERSE_FUTILITY_DEPTH = 6;
constexpr int reverseFutilityMargin[REVERSE_FUTILITY_DEPTH + 2] = {0, 65, 130, 195, 260, 325, 390, 455};

// Razoring (step 10): with up to this much depth left, a static score below
// alpha by the margin (larger when the position is improving) is checked
// with the quiescence search alone.
constexpr int RAZOR_DEPTH = 3;
constexpr int razorMargin[2][RAZOR_DEPTH + 1] = {{0, 90, 140, 200}, {0, 120, 190, 240}};

// Null move (step 11): passing must still leave the side above beta at a
// depth reduced by NULL_MOVE_BASE_R, one more per NULL_MOVE_DEPTH_STEP of
// depth, and one more per NULL_MOVE_EVAL_STEP the static score lies above beta
// (at most NULL_MOVE_EVAL_MAX more).
constexpr int NULL_MOVE_MIN_DEPTH = 4;
constexpr int NULL_MOVE_BASE_R = 3;
constexpr int NULL_MOVE_DEPTH_STEP = 4;
constexpr int NULL_MOVE_EVAL_STEP = 90;
constexpr int NULL_MOVE_EVAL_MAX = 3;

// ProbCut (step 12): a capture that beats beta by PROBCUT_MARGIN in a search
// PROBCUT_REDUCTION shallower is trusted to beat beta; at most PROBCUT_TRIES
// captures are tried.
constexpr int PROBCUT_MIN_DEPTH = 5;
constexpr int PROBCUT_MARGIN = 110;
constexpr int PROBCUT_REDUCTION = 3;
constexpr int PROBCUT_TRIES = 4;

// Internal iterative deepening (step 13): a node without a hash move, deep
// enough and promising enough (or on the PV), first searches IID_REDUCTION
// shallower to find one.
constexpr int IID_MIN_DEPTH = 8;
constexpr int IID_REDUCTION = 6;
constexpr int IID_EVAL_MARGIN = 100;

// Singular extension (step 15): the hash move is extended when no other of
// the first SINGULAR_QUIET_MOVES quiet moves (captures are tried too, but not
// counted) reaches the table score less SINGULAR_MARGIN_PER_DEPTH per ply of
// depth, in a search of half the depth.
constexpr int SINGULAR_MIN_DEPTH = 7;
constexpr int SINGULAR_DRAFT_SLACK = 3;  // the table's draft may be this much short
constexpr int SINGULAR_MARGIN_PER_DEPTH = 2;
constexpr int SINGULAR_QUIET_MOVES = 5;

// Pruning before a move is made (step 16.1): losing captures that lose more
// than BAD_CAPTURE_MARGIN per ply of depth, and quiet moves with all three
// histories negative near the leaves.
constexpr int BAD_CAPTURE_DEPTH = 6;
constexpr int BAD_CAPTURE_MARGIN = 110;
constexpr int HISTORY_PRUNING_DEPTH = 3;

// Late-move pruning (step 16.3): with up to LMP_DEPTH left, quiet moves
// beyond the count of the table (by improving and depth) are not searched.
constexpr int LMP_DEPTH = 7;
constexpr uint8_t lateMoveCount[2][LMP_DEPTH + 1] = {{1, 2, 3, 5, 7, 10, 14, 19}, {2, 4, 6, 8, 11, 15, 20, 27}};

// A quiet move both continuation histories rate above this is extended
// (step 16.6): it has followed these two moves well again and again.
constexpr int CONTINUATION_EXTENSION_BOUND = 4096;

// Late-move reductions (step 16.7) start at this depth.
constexpr int LMR_MIN_DEPTH = 3;

// The rank from which a pawn's next step promotes (a push to it is not
// reduced as much).
inline int seventhRank(int side) { return side == WHITE ? 6 : 1; }

// A score that is no mate or tablebase result.
inline bool ordinaryScore(int score) { return std::abs(score) <= MATETHRESHOLD - 1; }

// What the table says about the node.
struct tableEntry {
    int score = 0;
    int draft = -128;
    int bound = boundNone;
    bool cutsOff(int depth, int alpha, int beta) const {
        return draft >= depth && (bound == boundExact || (bound == boundLower && score >= beta) ||
                                  (bound == boundUpper && score <= alpha));
    }
};

// 7. Positions reached by a capture or pawn move with few enough men are
// scored from the win/draw/loss tables.  True when that decides the node.
inline bool tablebaseDecides(positionStruct* pos, int ply, int depth, int alpha, int beta, int& score) {
    const plyEntry& e = pos->plyStack[ply];
    if (TB_LARGEST == 0 || pos->fiftyMoveCounter != 0 || e.castlingRights != 0) return false;
    const int men = popcount(pos->pieceBitboard[0] | pos->pieceBitboard[1]);
    if (men > TB_LARGEST ||
        (men == TB_LARGEST && depth < engine.syzygyProbeDepth.load(std::memory_order_relaxed)))
        return false;
    int success = 0;
    const int wdl = syzygyProbeWDL(pos, ply, &success);
    if (!success) return false;
    relaxedIncrement(pos->tbHits);
    if (wdl == 2) {
        score = MATETHRESHOLD - ply;
        if (score < beta) return false;
        hashStore(pos->hashKey, 0, score, MAX_PLY - 1, boundLower);
    } else if (wdl == -2) {
        score = ply - MATETHRESHOLD;
        if (score > alpha) return false;
        hashStore(pos->hashKey, 0, score, MAX_PLY - 1, boundUpper);
    } else {
        score = 0;
        hashStore(pos->hashKey, 0, 0, MAX_PLY - 1, boundExact);
    }
    return true;
}

// 11. Null move: let the opponent move twice; if the side to move still
// stays above beta in a reduced search, so will its real moves.  True with
// the node's score when the null move fails high.
inline bool nullMoveFailsHigh(positionStruct* pos, int ply, int depth, int beta, int adjEval, int& score) {
    plyEntry& e = pos->plyStack[ply];
    const int R = NULL_MOVE_BASE_R + depth / NULL_MOVE_DEPTH_STEP +
                  std::min((adjEval - beta) / NULL_MOVE_EVAL_STEP, NULL_MOVE_EVAL_MAX);
    const int nullDepth = depth - R;
    const U64 savedKey = makeNullMove(pos, ply);
    e.currentMove = 0;
    hashPrefetch(pos->hashKey);
    const int s = nullDepth <= 0 ? -quiescence(ply + 1, 0, -beta, -beta + 1, pos)
                                 : -alfabeta(ply + 1, nullDepth, -beta, -beta + 1, pos);
    unmakeNullMove(pos, ply, savedKey);
    if (s < beta) return false;
    // A mate found behind a null move is not trusted as a mate.
    score = s >= MATETHRESHOLD + 1 ? beta : s;
    return true;
}

// 12. ProbCut: a good capture that beats beta by a margin in a shallower
// search is taken to beat beta in the full one.  True when the node is
// decided (with score 0 when the search was stopped).
bool probCutDecides(positionStruct* pos, int ply, int depth, int beta, int eval, int& score) {
    plyEntry& e = pos->plyStack[ply];
    const int pb = beta + PROBCUT_MARGIN;
    const int threshold = pb - eval;
    int tried = 0;
    auto tryCandidate = [&](moveStruct m) -> int {
        const int piece = pos->board[m.from];
        makeMove(pos, ply, m);
        e.currentMove = makeMoveWord(m, piece);
        hashPrefetch(pos->hashKey);
        pos->plyStack[ply + 1].inCheck = inCheckNow(pos);
        int s = -quiescence(ply + 1, 0, -pb, -pb + 1, pos);
        if (s >= pb) s = -alfabeta(ply + 1, depth - PROBCUT_REDUCTION, -pb, -pb + 1, pos);
        unmakeMove(pos, ply, m);
        tried++;
        return s;
    };
    auto decided = [&](int s) {
        if (stopRequested()) {
            score = 0;
            return true;
        }
        score = s;
        return s >= pb;
    };
    uint32_t hashTried = 0;
    if (e.hashMove) {
        const moveStruct h = moveFromWord(e.hashMove);
        if ((isCapture(pos, h) || (h.moveType >= MT_PROMO_N && h.moveType <= MT_PROMO_Q)) &&
            moveIsPseudoLegal(pos, ply, e.hashMove, false) && leavesKingSafe(pos, ply, h) &&
            seeAtLeast(pos, h, threshold)) {
            hashTried = e.hashMove;
            if (decided(tryCandidate(h))) return true;
        }
    }
    generateMovesCaptures(ply, e.moveListStart, pos);
    for (moveStruct* m = e.moveListStart; m < e.moveListEnd && tried < PROBCUT_TRIES; m++) {
        selectBest(m, e.moveListEnd);
        if (hashTried && sameMove(moveToWord(*m), hashTried)) continue;
        if (!seeAtLeast(pos, *m, threshold) || !moveIsLegal(pos, ply, *m)) continue;
        moveStruct mv = *m;
        mv.score = 0;
        if (decided(tryCandidate(mv))) return true;
    }
    return false;
}

enum singularResult { NOT_SINGULAR, SINGULAR, SINGULAR_STOPPED };

// 15. Is the hash move singular: does every other early move fall short of
// the table score by a margin in a search of half the depth?
singularResult singularTest(positionStruct* pos, int ply, int depth, int ttScore, bool inCheck,
                            const pickerContext& pc) {
    plyEntry& e = pos->plyStack[ply];
    const int sb = ttScore - SINGULAR_MARGIN_PER_DEPTH * depth;
    const plyEntry saved = e;
    const uint16_t savedNoNull = pos->plyStack[ply + 1].noNullMove;
    pos->plyStack[ply + 1].noNullMove = 1;
    e.moveStage = STAGE_GEN_CAPTURES;
    pickerContext spc = pc;
    int counted = 0;
    bool exceeded = false;
    int stage;
    moveStruct* mp;
    while (counted < SINGULAR_QUIET_MOVES && (mp = nextMove(pos, ply, spc, &stage)) != nullptr) {
        moveStruct m = *mp;
        m.score = 0;
        if (!inCheck && !moveIsLegal(pos, ply, m)) continue;
        const int piece = pos->board[m.from];
        makeMove(pos, ply, m);
        e.currentMove = makeMoveWord(m, piece);
        hashPrefetch(pos->hashKey);
        pos->plyStack[ply + 1].inCheck = inCheckNow(pos);
        const int score = -alfabeta(ply + 1, depth / 2 - 1, -sb, -sb + 1, pos);
        unmakeMove(pos, ply, m);
        if (stopRequested()) return SINGULAR_STOPPED;
        if (stage != STAGE_GOOD_CAPTURES && stage != STAGE_BAD_CAPTURES) counted++;
        if (score > sb) {
            exceeded = true;
            break;
        }
    }
    e = saved;
    pos->plyStack[ply + 1].noNullMove = savedNoNull;
    return exceeded ? NOT_SINGULAR : SINGULAR;
}

// 16.1 Moves not worth making at all: captures that lose too much near the
// leaves, and quiet moves every history condemns.
inline bool prunedBeforeMaking(const positionStruct* pos, int depth, moveStruct m, int piece, int stage,
                               const continuation& cont) {
    if (stage == STAGE_BAD_CAPTURES && depth <= BAD_CAPTURE_DEPTH &&
        !exchangeAtLeast(pos, m, -BAD_CAPTURE_MARGIN * depth))
        return true;
    return depth <= HISTORY_PRUNING_DEPTH && pos->board[m.to] == EMPTY && allHistoriesNegative(pos, cont, piece, m.to);
}

// 16.6 One ply more for the singular hash move, for a check that does not
// lose material, and for a quiet move both continuation histories rate
// highly.  The move has been made.
inline int extension(positionStruct* pos, int ply, moveStruct m, int piece, bool capture, bool givesCheck,
                     bool singularFirst, const continuation& cont) {
    if (singularFirst) return 1;
    if (givesCheck) {
        if (exchangeQuickly(pos->plyStack[ply + 1].capturedPiece, piece, 0)) return 1;
        // Judged on the board before the move.
        unmakeMove(pos, ply, m);
        const bool safe = exchangeAtLeast(pos, m, 0);
        makeMove(pos, ply, m);
        return safe ? 1 : 0;
    }
    return !capture && cont.followUp && cont.counter &&
           (*cont.followUp)[piece - 2][m.to] > CONTINUATION_EXTENSION_BOUND &&
           (*cont.counter)[piece - 2][m.to] > CONTINUATION_EXTENSION_BOUND;
}

// 16.7 How much shallower a late quiet move is searched first: the table's
// amount for depth and move number, more when the position is not improving
// or every history condemns the move, less on the PV, for a pawn about to
// promote, and for a killer pawn move that is passed.  The move has been made.
inline int reduction(const positionStruct* pos, int ply, int depth, int searchedCount, bool improving, bool pvNode,
                     moveStruct m, int piece, const continuation& cont) {
    const plyEntry& e = pos->plyStack[ply];
    const int side = pos->sideToMove ^ 1;
    int R = LMR[std::min(depth, 127)][std::min(searchedCount, 255)] + (improving ? 0 : 1);
    if (allHistoriesNegative(pos, cont, piece, m.to)) R++;
    if (R && pvNode) R--;
    if (pos->board[m.to] == PAWN + side) {
        if (R && rankOf(m.to) == seventhRank(side)) R--;
        const uint32_t w = e.currentMove;
        if ((sameMove(w, e.killerMove[0]) || sameMove(w, e.killerMove[1])) &&
            !(passedPawnsMask[side][m.to] & pos->pieceBitboard[PAWN + (side ^ 1)]))
            R--;
    }
    return R;
}

}  // namespace

namespace {

// What a node knows before its move loop.
struct nodeFacts {
    tableEntry tt;
    bool zeroWindow = false, pvNode = false;
    bool inCheck = false;
    bool improving = true;  // the static score is no worse than two plies ago
    int eval = 0;           // static evaluation
    int adjEval = 0;        // corrected by a table bound that lies beyond it
};

// 8 to 13: the static evaluation and the pruning it allows.  True when that
// decides the node (the value in `score`).
bool staticPruningDecides(positionStruct* pos, int ply, int depth, int alpha, int beta, nodeFacts& n, int& score) {
    plyEntry& e = pos->plyStack[ply];
    const int side = pos->sideToMove;
    e.staticEval = -32767;
    if (n.inCheck) return false;

    // 8. Static evaluation.
    n.eval = evaluateN(0, pos);
    e.staticEval = (int16_t)n.eval;
    n.adjEval = n.tt.bound == boundExact   ? n.tt.score
                : n.tt.bound == boundLower ? std::max(n.eval, n.tt.score)
                : n.tt.bound == boundUpper ? std::min(n.eval, n.tt.score)
                                           : n.eval;
    n.improving = ply < 2 || n.eval >= pos->plyStack[ply - 2].staticEval;

    // 9. Reverse futility.
    if (depth <= REVERSE_FUTILITY_DEPTH && n.zeroWindow && ordinaryScore(n.adjEval) &&
        n.adjEval >= beta + reverseFutilityMargin[depth] && hasPieces(pos, side)) {
        score = n.adjEval;
        return true;
    }

    if (depth <= RAZOR_DEPTH && n.zeroWindow) {
        // 10. Razoring.
        if (n.adjEval + razorMargin[n.improving][depth] < alpha) {
            score = quiescence(ply, 0, alpha, beta, pos);
            if (score < alpha) return true;
        }
        return false;
    }

    // 11. Null move, not twice in a row, not right after the root, and not
    // without pieces (zugzwang).
    if (depth >= NULL_MOVE_MIN_DEPTH && n.zeroWindow && e.noNullMove == 0 && ply >= 2 &&
        pos->plyStack[ply - 2].currentMove != 0 && n.adjEval >= beta && hasPieces(pos, side) &&
        nullMoveFailsHigh(pos, ply, depth, beta, n.adjEval, score))
        return true;

    // 12. ProbCut.
    if (depth >= PROBCUT_MIN_DEPTH && n.zeroWindow && ordinaryScore(n.adjEval) &&
        probCutDecides(pos, ply, depth, beta, n.eval, score))
        return true;

    // 13. Internal iterative deepening.
    if (depth >= IID_MIN_DEPTH && e.hashMove == 0 && (n.pvNode || n.adjEval >= beta - IID_EVAL_MARGIN)) {
        alfabeta(ply, depth - IID_REDUCTION, alpha, beta, pos);
        if (stopRequested()) {
            score = 0;
            return true;
        }
        const U64 entry = hashProbe(pos->hashKey);
        if (hashEntryBound(entry) != boundNone) e.hashMove = hashEntryMove(entry);
    }
    return false;
}

// 16.7 Search one move (made): the first with the full window, the others
// with a null window, reduced by R first, and again in full when they beat
// alpha.
inline int searchMove(positionStruct* pos, int ply, int alpha, int beta, int newDepth, bool first, int R) {
    if (first)
        return newDepth <= 0 ? -quiescence(ply + 1, 0, -beta, -alpha, pos)
                             : -alfabeta(ply + 1, newDepth, -beta, -alpha, pos);
    const int reduced = newDepth - R;
    int score = reduced <= 0 ? -quiescence(ply + 1, 0, -alpha - 1, -alpha, pos)
                             : -alfabeta(ply + 1, reduced, -alpha - 1, -alpha, pos);
    if (R != 0 && newDepth >= 1 && score > alpha) score = -alfabeta(ply + 1, newDepth, -alpha - 1, -alpha, pos);
    if (score > alpha && score < beta)
        score = newDepth <= 0 ? -quiescence(ply + 1, newDepth, -beta, -alpha, pos)
                              : -alfabeta(ply + 1, newDepth, -beta, -alpha, pos);
    return score;
}

// 16 to 18: the move loop of a node and its result.
int searchMoves(positionStruct* pos, int ply, int depth, int alpha, int beta, const nodeFacts& n, bool hashValid,
                bool singular, pickerContext& pc) {
    plyEntry& e = pos->plyStack[ply];
    const int alphaOrig = alpha;
    const continuation& cont = pc.cont;
    pos->plyStack[ply + 1].killerMove[0] = pos->plyStack[ply + 1].killerMove[1] = 0;
    e.moveStage = hashValid ? STAGE_HASH : STAGE_GEN_CAPTURES;
    int best = -MATESCORE;
    int movesSearched = 0, searchedCount = 0;
    bool anyPruned = false;
    int stage;
    moveStruct* mp;
    while ((mp = nextMove(pos, ply, pc, &stage)) != nullptr) {
        moveStruct m = *mp;
        m.score = 0;
        const int piece = pos->board[m.from];
        const bool capture = isCapture(pos, m);

        // Once late-move pruning has begun here, only checks are still
        // searched, and the node counts as pruned already: the tests below
        // could drop a move but never save one that does not check, so the
        // check test comes first.
        if (pc.lmpSkip && !moveGivesCheck(pos, m)) continue;
        // The child's bucket is on its way while the move is tested and made.
        hashPrefetch(keyAfterGuess(pos, ply, m));

        // 16.1 Pruning before the move is made.
        if (ply > 0 && prunedBeforeMaking(pos, depth, m, piece, stage, cont)) {
            anyPruned = true;
            continue;
        }

        // 16.2 Legality of pseudo-legal moves (evasions and the checked
        // hash move are legal already).
        if (!n.inCheck && stage != STAGE_HASH && !moveIsLegal(pos, ply, m)) continue;

        // 16.3 Late-move pruning: once the quiet moves pass their count, the
        // rest of them are skipped, checks excepted.  Most moves that reach
        // this point near the leaves are skipped here, so whether a move
        // checks is asked before it is made, and a skipped move is never made.
        if (ply > 0 &&
            (pc.lmpSkip || (n.zeroWindow && depth <= LMP_DEPTH && !n.inCheck &&
                            (stage == STAGE_KILLER1 || stage == STAGE_KILLER2 || stage == STAGE_COUNTER ||
                             stage == STAGE_QUIETS) &&
                            searchedCount >= lateMoveCount[n.improving][depth])) &&
            !moveGivesCheck(pos, m)) {
            pc.lmpSkip = true;
            anyPruned = true;
            continue;
        }

        // 16.4 Make the move.
        makeMove(pos, ply, m);
        e.currentMove = makeMoveWord(m, piece);
        const bool givesCheck = inCheckNow(pos);
        pos->plyStack[ply + 1].inCheck = givesCheck;

        // 16.5 Count it (losing captures do not count towards the late moves).
        if (stage != STAGE_BAD_CAPTURES) searchedCount++;

        // 16.6 Extensions and 16.7 the search.
        const int newDepth =
            depth - 1 + extension(pos, ply, m, piece, capture, givesCheck, movesSearched == 0 && singular, cont);
        const int R = movesSearched > 0 && depth >= LMR_MIN_DEPTH && !capture
                          ? reduction(pos, ply, depth, searchedCount, n.improving, n.pvNode, m, piece, cont)
                          : 0;
        const int score = searchMove(pos, ply, alpha, beta, newDepth, movesSearched == 0, R);

        // 16.8 Unmake.
        unmakeMove(pos, ply, m);
        if (stopRequested()) return 0;

        // 16.9 Best move so far.
        movesSearched++;
        if (score > best) {
            if (score > alpha) {
                e.pvMove = wordToMove(makeMoveWord(m, piece));
                if (ply == 0) {
                    pos->rootBestMoveChanges++;
                    pos->rootBestMoveDepth = (int16_t)depth;
                    pos->rootDepthComplete = 0;
                }
                if (score >= beta) {
                    // 17. Beta cut-off.
                    hashStore(pos->hashKey, makeMoveWord(m, piece), scoreToHash(score, ply), depth, boundLower);
                    if (!n.inCheck && pos->board[m.to] == EMPTY) updateQuietCutoff(pos, ply, depth, m, stage, cont);
                    return score;
                }
                alpha = score;
            }
            best = score;
        }
    }

    // 18. End of the move loop.
    if (movesSearched == 0) {
        // Every move pruned is not the same as no move at all.
        if (anyPruned && anyLegalMove(pos, ply)) return alpha;
        return n.inCheck ? ply - MATESCORE : 0;
    }
    if (pos->fiftyMoveCounter > 99) return 0;
    if (best > alphaOrig)
        hashStore(pos->hashKey, moveToWord(e.pvMove), scoreToHash(best, ply), depth, boundExact);
    else
        hashStore(pos->hashKey, e.hashMove, scoreToHash(best, ply), depth, boundUpper);
    return best;
}

}  // namespace

int alfabeta(unsigned char ply, int depth, int alpha, int beta, positionStruct* pos) {
    // 1. Count and clock.
    relaxedIncrement(pos->nodeCount);
    if (ply > pos->selDepth) pos->selDepth = ply;
    if (pos->timeCheckCountdown-- <= 0) {
        pos->timeCheckCountdown = engine.timeCheckInterval;
        if (timeIsUp(pos)) {
            theWorkForce.stopSearch.store(1, std::memory_order_relaxed);
            return 0;
        }
    }
    if (stopRequested()) return 0;

    plyEntry& e = pos->plyStack[ply];
    // 2 to 4. Draws, mate distance, the deepest ply.
    int decided;
    if (ply > 0 && decidedOnEntry(pos, ply, pos->nodeCount, alpha, beta, decided)) return decided;
    nodeFacts n;
    n.zeroWindow = alpha + 1 >= beta;
    n.pvNode = !n.zeroWindow;
    n.inCheck = e.inCheck != 0;

    // 5. Ply set-up.  Until this node generates its moves, a child's list
    // starts right behind the slot its hash move will occupy.
    pos->plyStack[ply + 1].noNullMove = e.noNullMove;
    pos->plyStack[ply + 1].moveListStart = e.moveListStart + 1;
    e.hashMove = 0;

    // 6. Transposition table.
    const U64 entry = hashProbe(pos->hashKey);
    if (hashEntryBound(entry) != boundNone) {
        e.hashMove = hashEntryMove(entry);
        n.tt.score = scoreFromHash(hashEntryScore(entry), ply);
        n.tt.draft = hashEntryDraft(entry);
        n.tt.bound = hashEntryBound(entry);
        if (ply > 0 && n.zeroWindow && n.tt.cutsOff(depth, alpha, beta)) return n.tt.score;
    }

    // 7. Tablebases; 8 to 13, the static evaluation and its pruning.
    if (ply > 0 && tablebaseDecides(pos, ply, depth, alpha, beta, decided)) return decided;
    if (staticPruningDecides(pos, ply, depth, alpha, beta, n, decided)) return decided;

    // 14. Hash move check: a table move must be playable here.
    bool hashValid = false;
    if (e.hashMove) {
        hashValid = moveIsPseudoLegal(pos, ply, e.hashMove, false) && leavesKingSafe(pos, ply, moveFromWord(e.hashMove));
        if (!hashValid) e.hashMove = 0;
    }

    int32_t quietScores[QUIET_SCORE_CAPACITY];
    pickerContext pc;
    pc.cont = continuationBlocks(pos, ply);
    pc.quietScores = quietScores;
    pc.sortOff = ply == 0 && pos->threadIndex % 4 == 3;

    // 15. Singular extension test.
    bool singular = false;
    if (hashValid && depth >= SINGULAR_MIN_DEPTH && ply > 0 && n.tt.draft >= depth - SINGULAR_DRAFT_SLACK &&
        n.tt.bound != boundUpper && ordinaryScore(n.tt.score)) {
        const singularResult r = singularTest(pos, ply, depth, n.tt.score, n.inCheck, pc);
        if (r == SINGULAR_STOPPED) return 0;
        singular = r == SINGULAR;
    }

    // 16 to 18. The moves.
    return searchMoves(pos, ply, depth, alpha, beta, n, hashValid, singular, pc);
}

// ---------------------------------------------------------------------------
// Principal variation from the transposition table
// ---------------------------------------------------------------------------
void getPVFromHashTable(positionStruct* pos, int depth) {
    pos->pvLastIndex = 0;
    if (depth < 1) return;
    int made = 0;
    for (int k = 0; k < depth && k < MAX_PLY - 1; k++) {
        const U64 entry = hashProbe(pos->hashKey);
        if (hashEntryBound(entry) != boundExact || hashEntryMove(entry) == 0) break;
        const uint32_t word = hashEntryMove(entry);
        // The en-passant state and check flag of ply k describe the position.
        pos->plyStack[k].inCheck = sideInCheck(pos, pos->sideToMove);
        if (!moveIsPseudoLegal(pos, k, word, false)) break;
        const moveStruct m = moveFromWord(word);
        if (!leavesKingSafe(pos, k, m)) break;
        pos->plyStack[k].pvMove = wordToMove(word);
        makeMove(pos, k, m);
        pos->pvLastIndex = (uint8_t)k;
        made++;
        // A GUI ends the game at a repetition or a fifty-move draw, so the
        // line ends there too, whatever the table holds beyond it.
        if (isRepetition(pos, k + 1) || pos->fiftyMoveCounter > 99) break;
    }
    for (int k = made - 1; k >= 0; k--) unmakeMove(pos, k, moveFromWord(moveToWord(pos->plyStack[k].pvMove)));
}

// ---------------------------------------------------------------------------
// Mate proof
// ---------------------------------------------------------------------------
// The node search prunes and reduces, so a mate score at the root can rest on
// a defence it never looked at.  Before a mate is announced, and the search
// ended on it, it is proven by a search that prunes nothing: the attacker
// needs one move that works, and every defence is tried.  Only legal moves
// are generated, and the table is read for move order but never written.
namespace {

enum proofResult { PROOF_FAILED, PROOF_FOUND, PROOF_UNKNOWN };

// Positions the proof may visit before it gives up (the claim is then not
// announced and the search goes on as if it had found no mate).
constexpr U64 MATE_PROOF_BUDGET = 400000;
// Longest mate, in moves, a proof is tried for (its line must fit the ply
// stack, and longer ones would not be proven within the budget anyway).
constexpr int MATE_PROOF_LONGEST = 16;

class mateProof {
  public:
    explicit mateProof(positionStruct* p) : pos(p) {}

    // Does the side to move mate within n of its moves?
    proofResult mates(int ply, int n) {
        if (!visit()) return PROOF_UNKNOWN;
        moveStruct* start = legalMoves(ply);
        moveStruct* const end = pos->plyStack[ply].moveListEnd;
        bool unknown = false;
        for (moveStruct* m = start; m < end; m++) {
            makeMove(pos, ply, *m);
            const bool check = sideInCheck(pos, pos->sideToMove);
            // The last move of the mate must give check.
            const proofResult r = n == 1 && !check ? PROOF_FAILED : defenderLoses(ply + 1, n, check);
            unmakeMove(pos, ply, *m);
            if (r == PROOF_FOUND) {
                if (ply == 0) firstMove = {m->from, m->to, m->moveType, 0};
                return PROOF_FOUND;
            }
            if (r == PROOF_UNKNOWN) unknown = true;
            if (exhausted) return PROOF_UNKNOWN;
        }
        return unknown ? PROOF_UNKNOWN : PROOF_FAILED;
    }

    // Is the side to move mated within n moves of its opponent, whatever it
    // plays?  (n >= 1; the position is not yet mate.)
    proofResult isMated(int ply, int n) {
        if (!visit()) return PROOF_UNKNOWN;
        moveStruct* start = legalMoves(ply);
        moveStruct* const end = pos->plyStack[ply].moveListEnd;
        if (start == end) return PROOF_FAILED;
        bool unknown = false;
        for (moveStruct* m = start; m < end; m++) {
            makeMove(pos, ply, *m);
            const proofResult r = mates(ply + 1, n);
            unmakeMove(pos, ply, *m);
            if (r == PROOF_FAILED) return PROOF_FAILED;
            if (r == PROOF_UNKNOWN) unknown = true;
            if (exhausted) return PROOF_UNKNOWN;
        }
        return unknown ? PROOF_UNKNOWN : PROOF_FOUND;
    }

    moveStruct firstMove = EMPTYMOVE;

  private:
    // The attacker has just played the (n)th-last move of a mate in n.
    proofResult defenderLoses(int ply, int n, bool inCheck) {
        if (!visit()) return PROOF_UNKNOWN;
        moveStruct* start = legalMoves(ply);
        moveStruct* const end = pos->plyStack[ply].moveListEnd;
        if (start == end) return inCheck ? PROOF_FOUND : PROOF_FAILED;
        if (n == 1) return PROOF_FAILED;
        bool unknown = false;
        for (moveStruct* m = start; m < end; m++) {
            makeMove(pos, ply, *m);
            const proofResult r = mates(ply + 1, n - 1);
            unmakeMove(pos, ply, *m);
            if (r == PROOF_FAILED) return PROOF_FAILED;
            if (r == PROOF_UNKNOWN) unknown = true;
            if (exhausted) return PROOF_UNKNOWN;
        }
        return unknown ? PROOF_UNKNOWN : PROOF_FOUND;
    }

    // The legal moves of the ply, the table's move first (it is the search's
    // best guess for either side).
    moveStruct* legalMoves(int ply) {
        plyEntry& e = pos->plyStack[ply];
        generateMovesLegal((unsigned char)ply, e.moveListStart, pos);
        pos->plyStack[ply + 1].moveListStart = e.moveListEnd;
        const uint32_t hashMove = hashPeekMove(pos->hashKey);
        if (hashMove)
            for (moveStruct* m = e.moveListStart; m < e.moveListEnd; m++)
                if (sameMove(moveToWord(*m), hashMove)) {
                    std::swap(*m, *e.moveListStart);
                    break;
                }
        return e.moveListStart;
    }

    // Count a position; false once the budget is spent or the search must
    // stop (a "stop", or the hard time limit).
    bool visit() {
        if (exhausted) return false;
        if (++visited > MATE_PROOF_BUDGET) exhausted = true;
        if ((visited & 1023) == 0 && (stopRequested() || (!theWorkForce.pondering.load(std::memory_order_relaxed) &&
                                                          !engine.infinite && elapsedSinceStart() >= engine.timeMax)))
            exhausted = true;
        return !exhausted;
    }

    positionStruct* pos;
    U64 visited = 0;
    bool exhausted = false;
};

// The mate a root score claims, in moves (negative: the side to move is
// mated), or 0 when the score is no mate found within `depth` plies.
int claimedMate(int score, int depth) {
    if (score >= MATETHRESHOLD && MATESCORE - score <= depth) return (MATESCORE - score + 1) / 2;
    if (score <= -MATETHRESHOLD && score + MATESCORE <= depth) return -(score + MATESCORE) / 2;
    return 0;
}

}  // namespace

int boss::provenRootMate(int s) {
    positionStruct* pos = searchPos;
    const int claim = claimedMate(s, MAX_PLY);
    if (claim == 0) return 0;
    if (claim != lastMate.claim) {
        lastMate = mateVerdict();
        lastMate.claim = claim;
        // One budget for the whole verdict.  Mates longer than the proof can
        // follow within the ply stack are left unproven.
        mateProof proof(pos);
        if (claim > 0 && claim <= MATE_PROOF_LONGEST) {
            // The claim itself first; then whether a shorter mate exists,
            // which the pruned search may have missed.
            if (proof.mates(0, claim) == PROOF_FOUND) {
                lastMate.proven = claim;
                for (int n = 1; n < claim; n++) {
                    const proofResult r = proof.mates(0, n);
                    if (r == PROOF_FOUND) {
                        lastMate.proven = n;
                        lastMate.move = proof.firstMove;
                        break;
                    }
                    if (r == PROOF_UNKNOWN) break;
                }
            }
        } else if (claim < 0 && -claim <= MATE_PROOF_LONGEST && proof.isMated(0, -claim) == PROOF_FOUND) {
            // Mated for sure; the opponent may even mate sooner.
            lastMate.proven = claim;
            for (int n = -claim - 1; n >= 1 && proof.isMated(0, n) == PROOF_FOUND; n--) lastMate.proven = -n;
        }
    }
    if (lastMate.proven > 0 && moveToWord(lastMate.move) != 0) {
        // A shorter mate than the search's: its first move is the answer.
        pos->plyStack[0].pvMove = lastMate.move;
        pos->pvLastIndex = 0;
        pos->rootScore = (int16_t)(MATESCORE - (2 * lastMate.proven - 1));
    }
    return lastMate.proven;
}

// ---------------------------------------------------------------------------
// Root search with iterative deepening
// ---------------------------------------------------------------------------
namespace {

// Aspiration half-widths, one row per thread (index mod 32): the first
// window, then the four widenings after a fail; rows differ so that the
// threads' searches differ.
const int16_t aspMatrix[32][5] = {
    {15, 35, 40, 80, 160}, {9, 24, 34, 75, 113},  {15, 35, 40, 80, 160}, {54, 69, 79, 195, 15},
    {35, 40, 80, 160, 15}, {35, 40, 80, 160, 12}, {27, 37, 83, 117, 51}, {66, 76, 187, 169, 15},
    {35, 40, 80, 160, 15}, {35, 40, 80, 160, 15}, {35, 40, 80, 160, 48}, {63, 73, 179, 165, 15},
    {30, 40, 91, 121, 18}, {33, 43, 99, 125, 15}, {35, 40, 80, 160, 45}, {60, 70, 171, 161, 21},
    {36, 46, 107, 129, 15}, {35, 40, 80, 160, 15}, {35, 40, 80, 160, 42}, {57, 67, 163, 157, 15},
    {35, 40, 80, 160, 15}, {35, 40, 80, 160, 24}, {39, 49, 115, 133, 39}, {54, 64, 155, 153, 27},
    {42, 52, 123, 137, 15}, {35, 40, 80, 160, 15}, {35, 40, 80, 160, 36}, {51, 61, 147, 149, 15},
    {35, 40, 80, 160, 30}, {45, 55, 131, 141, 15}, {35, 40, 80, 160, 33}, {48, 58, 139, 145, 0}};
// Depth skipping of the helpers (index mod 16): every skipSize-th depth a
// helper jumps skipPhase depths ahead.
const int skipSize[16] = {1, 2, 2, 3, 3, 3, 4, 4, 6, 3, 2, 2, 4, 5, 3, 2};
const int skipPhase[16] = {0, 1, 0, 1, 1, 0, 0, 2, 1, 0, 1, 1, 2, 1, 1, 0};

struct searchTotals {
    U64 nodes = 0;
    U64 nps = 0;
    U64 elapsed = 1;
};

searchTotals gatherTotals() {
    searchTotals t;
    U64 tb = 0;
    for (worker* w : theWorkForce.workers) {
        t.nodes += relaxedRead(w->position.nodeCount) + relaxedRead(w->position.quiescenceNodeCount);
        tb += relaxedRead(w->position.tbHits);
    }
    theWorkForce.totalTbHits.store(tb, std::memory_order_relaxed);
    t.elapsed = engine.elapsedMs.load(std::memory_order_relaxed);
    if (t.elapsed == 0) {
        t.elapsed = 1;
        engine.elapsedMs.store(1, std::memory_order_relaxed);
    }
    t.nps = t.nodes * 1000 / t.elapsed;
    return t;
}

// One line of search output: the score ("cp 25" or "mate 3"), the depth,
// the selective depth when given (not for mate lines), the totals of all
// threads and the PV.
void printSearchLine(positionStruct* pos, const std::string& score, int depth, int selDepth) {
    if (theWorkForce.silent) return;
    const searchTotals t = gatherTotals();
    std::string line = "info score " + score + " depth " + std::to_string(depth);
    if (selDepth >= 0) line += " seldepth " + std::to_string(selDepth);
    line += " nodes " + std::to_string(t.nodes) + " nps " + std::to_string(t.nps) + " time " +
            std::to_string(t.elapsed) + " tbhits " +
            std::to_string(theWorkForce.totalTbHits.load(std::memory_order_relaxed)) + " pv " + PVToString(pos);
    printLine(line);
}

void printInfoLine(positionStruct* pos, int score, int depth, int selDepth) {
    printSearchLine(pos, "cp " + std::to_string((int16_t)score), depth, selDepth);
}

// `mate` is in moves: positive when the side to move mates, negative when it
// is mated (mated in 2: it has two moves before the mating one).
void printMateLine(positionStruct* pos, int mate, int depth) {
    printSearchLine(pos, "mate " + std::to_string(mate), depth, -1);
}

void setElapsed() {
    int64_t ms = elapsedSinceStart();
    engine.elapsedMs.store(ms < 0 ? 0 : (U64)ms, std::memory_order_relaxed);
}

}  // namespace

namespace {

moveStruct fallbackRootMove(positionStruct* pos) {
    generateMovesLegal(0, pos->plyStack[0].moveListStart, pos);
    if (pos->plyStack[0].moveListEnd == pos->plyStack[0].moveListStart) return EMPTYMOVE;
    const uint32_t hashMove = hashEntryMove(hashProbe(pos->hashKey));
    for (moveStruct* l = pos->plyStack[0].moveListStart; l < pos->plyStack[0].moveListEnd; l++)
        if (hashMove && sameMove(moveToWord(*l), hashMove)) return *l;
    return *pos->plyStack[0].moveListStart;
}

// Is `reply` legal after `m` has been played at the root?
bool isLegalReply(positionStruct* pos, moveStruct m, moveStruct reply) {
    moveStruct made = m;
    made.score = 0;
    makeMove(pos, 0, made);
    const bool found = isLegalMoveAt(pos, 1, reply);
    unmakeMove(pos, 0, made);
    return found;
}

}  // namespace

namespace {

// Iterations from this depth on print their line; helpers below it never
// skip a depth.
constexpr int OUTPUT_DEPTH = 10;
// From this depth on an iteration starts inside an aspiration window around
// the previous score, and the time scale follows the root's instability.
constexpr int ASPIRATION_DEPTH = 6;
// Fails low or high that widen the window step by step; after them the
// window opens to the mate bound.
constexpr int ASPIRATION_STEPS = 4;
// A root with a single legal move is searched this deep, for a score and a
// ponder move, and no deeper.
constexpr int SINGLE_MOVE_DEPTH = 3;

// The soft time is stretched for an unstable root and shrunk for a steady
// one: each unstable iteration pulls the scale towards 1 + 0.2 per change
// of the best move (and per extra fail), each steady one takes 10% off.
constexpr double STEADY_ROOT_SHRINK = 0.9;
constexpr double INSTABILITY_WEIGHT = 0.2;
constexpr double SCALE_MEMORY = 0.8;
constexpr double SCALE_MIN = 0.6, SCALE_MAX = 2.0;

// A depth counts as a record (which lets a helper decide on time) only
// after this share of the soft time, and at least this many milliseconds.
constexpr int RECORD_TIME_FRACTION = 16;
constexpr int RECORD_MIN_MS = 100;

double nextTimeScale(double scale, int depth, int instability) {
    if (depth < ASPIRATION_DEPTH) return 1.0;
    if (instability <= 1)
        scale *= STEADY_ROOT_SHRINK;
    else if (scale <= 1.0)
        scale = 1.0 + INSTABILITY_WEIGHT * instability;
    else
        scale = SCALE_MEMORY * scale + INSTABILITY_WEIGHT * instability;
    return std::min(SCALE_MAX, std::max(SCALE_MIN, scale));
}

bool softTimeLimitPassed(double timeScale) {
    return (float)engine.elapsedMs.load(std::memory_order_relaxed) * engine.timeFactor >
           engine.timeNormal * timeScale;
}

bool ponderingOrInfinite() { return theWorkForce.pondering.load(std::memory_order_relaxed) || engine.infinite; }

}  // namespace

bool boss::settledAtTheRoot(int rootMoves) {
    positionStruct* pos = searchPos;
    // Checkmated: nothing to search.
    if (pos->plyStack[0].inCheck && rootMoves == 0) {
        theWorkForce.stopSearch.store(1, std::memory_order_relaxed);
        if (!theWorkForce.silent) printLine("info score mate 0");
        scoreReported = true;
        pos->plyStack[0].pvMove = EMPTYMOVE;
        pos->pvLastIndex = 0;
        engine.elapsedMs.store(1, std::memory_order_relaxed);
        return true;
    }
    // A tablebase position: the distance tables name the move (and the probe
    // prints its line).
    if (TB_LARGEST > 0 && pos->plyStack[0].castlingRights == 0 &&
        popcount(pos->pieceBitboard[0] | pos->pieceBitboard[1]) <= TB_LARGEST) {
        const uint32_t m = syzygyProbeDTZ(0, pos);
        if (m) {
            scoreReported = true;
            theWorkForce.stopSearch.store(1, std::memory_order_relaxed);
            pos->plyStack[0].pvMove = wordToMove(m);
            pos->pvLastIndex = 0;
            engine.elapsedMs.store(1, std::memory_order_relaxed);
            pos->rootDepthComplete = 1;
            pos->rootBestMoveDepth = MAX_PLY - 1;
            return true;
        }
    }
    return false;
}

int worker::helperDepth(int next) const {
    const int i = threadIndex % 16;
    if ((i + next) % skipSize[i] == 0) next = std::min(next + skipPhase[i], MAX_PLY - 1);
    return next;
}

bool worker::othersAreAt(int depth, int need) const {
    if (depth < OUTPUT_DEPTH) return false;
    int count = 0;
    for (worker* other : theWorkForce.workers)
        if (other != this && other->currentDepth.load(std::memory_order_relaxed) >= depth && ++count >= need) break;
    return count >= need;
}

worker::iteration worker::aspirationSearch(int d, int s, int& alpha, int& beta, int& k, bool clockWatch,
                                           double scaleAtStart) {
    // clockWatch: the boss of a search without a depth limit, which may stop
    // after a fail high once it is no longer pondering.
    positionStruct* pos = searchPos;
    const int16_t* w = aspMatrix[threadIndex % 32];
    iteration it;
    if (d >= ASPIRATION_DEPTH) {
        alpha = std::max(s - w[0], -32767);
        beta = std::min(s + w[0], 32767);
    }
    while (!stopRequested()) {
        it.score = alfabeta(0, std::max(d - k, 1), alpha, beta, pos);
        if (stopRequested()) break;
        if (it.score <= alpha) {
            // Fail low: the search restarts at the full depth below a
            // lowered alpha, the window widening step by step.
            beta = (int16_t)((alpha + beta) / 2);
            alpha = it.failsLow < ASPIRATION_STEPS ? std::max(it.score - w[it.failsLow + 1], -32767) : -MATESCORE;
            it.failsLow++;
            k = 0;
        } else if (it.score >= beta) {
            // Fail high: one ply shallower each time, alpha stays.
            beta = it.failsHigh < ASPIRATION_STEPS ? std::min(it.score + w[it.failsHigh + 1], 32767) : MATESCORE;
            it.failsHigh++;
            k++;
        } else {
            it.complete = true;
            break;
        }
        // After fails high only, the boss may call it a move when the soft
        // time is gone: the move that failed high is already the best.
        if (clockWatch && !ponderingOrInfinite() && it.failsLow == 0) {
            setElapsed();
            if ((double)engine.elapsedMs.load(std::memory_order_relaxed) > engine.timeNormal * scaleAtStart) {
                theWorkForce.stopSearch.store(1, std::memory_order_relaxed);
                break;
            }
        }
    }
    return it;
}

void boss::reportIteration(int s, int d) {
    positionStruct* pos = searchPos;
    getPVFromHashTable(pos, d);
    if (!stopRequested() && pos->pvLastIndex != 0) {
        savedBestMove = pos->plyStack[0].pvMove;
        savedPonderMove = pos->plyStack[1].pvMove;
    }
    printInfoLine(pos, s, d, pos->selDepth);
    scoreReported = true;
}

bool boss::mateEndsSearch(int s, int d, bool pvRebuilt) {
    if (stopRequested() || claimedMate(s, d) == 0) return false;
    if (!pvRebuilt) getPVFromHashTable(searchPos, d);
    const int mate = provenRootMate(s);
    if (mate == 0) return false;
    printMateLine(searchPos, mate, d);
    scoreReported = true;
    // "go mate N" asks for a mate in N or fewer for the side to move;
    // anything else goes on under the other limits.
    const bool wanted = engine.mateLimit == 0 || (mate > 0 && mate <= engine.mateLimit);
    return wanted && !ponderingOrInfinite();
}

void worker::searchRoot() {
    positionStruct* pos = searchPos;
    const bool isBoss = threadIndex == 0;
    boss* const b = isBoss ? static_cast<boss*>(this) : nullptr;
    const int minReport =
        engine.timeNormal >= RECORD_TIME_FRACTION * RECORD_MIN_MS ? engine.timeNormal / RECORD_TIME_FRACTION : RECORD_MIN_MS;
    int limit = engine.depthLimit;
    pos->timeCheckCountdown = engine.timeCheckInterval;
    pos->plyStack[0].killerMove[0] = pos->plyStack[0].killerMove[1] = 0;
    theWorkForce.searchFinished.store(0, std::memory_order_relaxed);

    generateMovesLegal(0, pos->plyStack[0].moveListStart, pos);
    const int rootMoves = (int)(pos->plyStack[0].moveListEnd - pos->plyStack[0].moveListStart);
    pos->rootDepthComplete = 1;
    pos->rootBestMoveDepth = 0;
    pos->rootScore = -32767;
    completedDepth = 0;
    if (isBoss && b->settledAtTheRoot(rootMoves)) return;
    if (rootMoves == 1) limit = SINGLE_MOVE_DEPTH;
    // Other threads that must already be at a depth for a helper to skip it.
    const int nofThreads = engine.nofThreads;
    const int need = (nofThreads > 3 ? 1 : 0) + nofThreads / 2;

    pos->plyStack[0].staticEval = 0;
    pos->plyStack[1].staticEval = 0;
    int alpha = -32767, beta = 32767;
    int s = -32767;
    double timeScale = 1.0;
    int d = 0, k = 0;
    bool cont = true;

    for (;;) {
        d = isBoss ? d + 1 : helperDepth(d + 1);
        // A helper leaves a depth to the threads already at it.
        if (isBoss || !othersAreAt(d, need)) {
            currentDepth.store(d, std::memory_order_relaxed);
            pos->rootBestMoveChanges = 0;
            const bool output = isBoss && d >= OUTPUT_DEPTH;
            const iteration it =
                aspirationSearch(d, s, alpha, beta, k, isBoss && limit == 0, timeScale);
            if (it.complete) {
                pos->rootScore = (int16_t)it.score;
                if (output)
                    hashStore(pos->hashKey, moveToWord(pos->plyStack[0].pvMove), scoreToHash(it.score, 0), d,
                              boundExact);
                pos->rootDepthComplete = 1;
                pos->rootBestMoveDepth = (int16_t)d;
                completedDepth = d;
                s = it.score;
            }

            // End of the iteration (also after a stop, with the last score).
            int instability = pos->rootBestMoveChanges;
            if (it.failsLow > 1 || it.failsHigh > 1) instability += std::max(it.failsLow, it.failsHigh) - 1;
            setElapsed();
            if (output) b->reportIteration(s, d);
            if (isBoss && b->mateEndsSearch(s, d, output)) break;
            bool newRecord = false;
            if ((int64_t)engine.elapsedMs.load(std::memory_order_relaxed) > minReport &&
                d > theWorkForce.maxDepthReached.load(std::memory_order_relaxed)) {
                theWorkForce.maxDepthReached.store(d, std::memory_order_relaxed);
                newRecord = true;
            }
            timeScale = nextTimeScale(timeScale, d, instability);
            // The boss decides on every depth, a helper only on a record
            // depth; a soft stop found by any thread ends every loop.
            if (isBoss || newRecord) {
                if (limit != 0) {
                    cont = d < limit;
                } else {
                    if (softTimeLimitPassed(timeScale)) theWorkForce.searchFinished.store(1, std::memory_order_relaxed);
                    cont = theWorkForce.pondering.load(std::memory_order_relaxed) ||
                           !theWorkForce.searchFinished.load(std::memory_order_relaxed);
                }
                if (engine.infinite) cont = true;
            }
        }
        if (!cont || d >= MAX_PLY - 1 || stopRequested()) break;
    }
    setElapsed();
    if (!cont) theWorkForce.stopSearch.store(1, std::memory_order_relaxed);
}

// Hold the answer of a ponder or infinite search until the GUI asks for it:
// "bestmove" must not come before "stop" or "ponderhit", however early the
// search itself was done.
static void holdWhilePonderingOrInfinite() {
    while ((engine.infinite || theWorkForce.pondering.load(std::memory_order_relaxed)) &&
           !theWorkForce.stopCommanded.load(std::memory_order_relaxed))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void boss::searchRoot() {
    // However the search ends, the table's helper may go on afterwards.
    struct endNotice {
        ~endNotice() { hashSearchEnded(); }
    } notice;
    savedBestMove = savedPonderMove = EMPTYMOVE;
    scoreReported = false;
    lastMate = mateVerdict();
    if (theWorkForce.noPosition) {
        theWorkForce.searchFinished.store(1, std::memory_order_relaxed);
        holdWhilePonderingOrInfinite();
        theWorkForce.lastBestMove = EMPTYMOVE;
        theWorkForce.answered.store(1);
        if (!theWorkForce.silent) printLine("bestmove 0000");
        return;
    }
    for (size_t i = 1; i < theWorkForce.workers.size(); i++) theWorkForce.workers[i]->wake();
    worker::searchRoot();
    theWorkForce.searchFinished.store(1, std::memory_order_relaxed);
    holdWhilePonderingOrInfinite();
    theWorkForce.stopSearch.store(1, std::memory_order_relaxed);
    for (size_t i = 1; i < theWorkForce.workers.size(); i++) theWorkForce.workers[i]->waitIdle();

    worker* best = this;
    if (engine.nofThreads > 1 && engine.depthLimit == 0) {
        int bestKey = 2 * position.rootBestMoveDepth + position.rootDepthComplete;
        for (worker* w : theWorkForce.workers) {
            const int key = 2 * w->position.rootBestMoveDepth + w->position.rootDepthComplete;
            if (key == bestKey || w->position.rootScore >= MATETHRESHOLD) {
                if (w->position.rootScore > best->position.rootScore) {
                    best = w;
                    bestKey = key;
                }
            } else if (key > bestKey) {
                best = w;
                bestKey = key;
            }
        }
    }
    positionStruct* bp = best->searchPos;
    if (best != this && !theWorkForce.silent) {
        getPVFromHashTable(bp, bp->rootBestMoveDepth);
        printInfoLine(bp, bp->rootScore, bp->rootBestMoveDepth, bp->selDepth);
        scoreReported = true;
    }
    moveStruct bestMove = bp->plyStack[0].pvMove;
    moveStruct ponder = bp->pvLastIndex != 0 ? bp->plyStack[1].pvMove : EMPTYMOVE;
    if (moveToWord(ponder) == 0 && sameMove(moveToWord(bestMove), moveToWord(savedBestMove))) ponder = savedPonderMove;
    if (!isLegalMoveAt(bp, 0, bestMove)) {
        // Stopped before any root move was searched: answer with a legal
        // move all the same (the table's move, else the first one).  Only a
        // side without moves answers with the empty move.
        bestMove = fallbackRootMove(bp);
        ponder = EMPTYMOVE;
    }
    theWorkForce.lastBestMove = bestMove;
    theWorkForce.answered.store(1);
    if (theWorkForce.silent) return;
    if (!scoreReported) {
        printFinalReport(bestMove);
        if (bp->pvLastIndex != 0 && moveToWord(ponder) == 0) ponder = bp->plyStack[1].pvMove;
    }
    std::string line = "bestmove " + moveToLA(&bestMove, bp->sideToMove);
    if (moveToWord(ponder) != 0 && isLegalReply(bp, bestMove, ponder))
        line += " ponder " + moveToLA(&ponder, bp->sideToMove ^ 1);
    printLine(line);
}

// The search printed no line with a score (it ended before the depths that
// report, or it had a single legal move): one ordinary line for the last
// completed depth, whose PV starts with the move about to be played.
void boss::printFinalReport(moveStruct bestMove) {
    positionStruct* pos = searchPos;
    int score = pos->rootScore;
    if (completedDepth > 0) {
        getPVFromHashTable(pos, completedDepth);
        if (!sameMove(moveToWord(pos->plyStack[0].pvMove), moveToWord(bestMove))) pos->pvLastIndex = 0;
    } else {
        // Not even the first depth was completed: the static evaluation is
        // the best estimate there is.
        pos->pvLastIndex = 0;
        score = pos->plyStack[0].inCheck ? 0 : evaluateN(0, pos);
    }
    pos->plyStack[0].pvMove = bestMove;
    printInfoLine(pos, score, completedDepth, pos->selDepth);
}

// ---------------------------------------------------------------------------
// Search threads
// ---------------------------------------------------------------------------
worker::worker(int index) : threadIndex(index) {
    std::memset(static_cast<void*>(followUpTable), 0, sizeof followUpTable);
    std::memset(static_cast<void*>(counterMoveTable), 0, sizeof counterMoveTable);
    std::memset(static_cast<void*>(pawnHashTable), 0, sizeof pawnHashTable);
    std::memset(static_cast<void*>(evalCache), 0, sizeof evalCache);
    searchPos = &position;
    linkPosition();
    try {
        thread = std::thread(&worker::atTheOffice, this);
    } catch (const std::system_error&) {
        std::fputs("thread constructor failed\n", stderr);
        std::exit(1);
    }
    waitIdle();
}

worker::~worker() {
    requestQuit();
    if (thread.joinable()) thread.join();
}

void worker::atTheOffice() {
    while (park()) searchRoot();
}

void worker::linkPosition() {
    position.plyStack[0].moveListStart = moveStack;
    position.threadIndex = (uint32_t)threadIndex;
    position.pawnHashTable = pawnHashTable;
    position.evalCache = evalCache;
    position.followUpHistory = &followUpTable;
    position.counterMoveHistory = &counterMoveTable;
}

void worker::clearHistoryTables() {
    std::memset(static_cast<void*>(followUpTable), 0, sizeof followUpTable);
    std::memset(static_cast<void*>(counterMoveTable), 0, sizeof counterMoveTable);
}

void workForce::waitForSearch() {
    if (!workers.empty()) workers[0]->waitIdle();
}

bool workForce::searching() {
    if (workers.empty()) return false;
    std::lock_guard<std::mutex> lock(workers[0]->mutex);
    return workers[0]->busy != 0;
}

void workForce::setNofWorkers(int n) {
    waitForSearch();
    while (!workers.empty()) {
        delete workers.back();
        workers.pop_back();
    }
    for (int i = 0; i < n; i++) {
        worker* w;
        try {
            w = i == 0 ? new boss(0) : new worker(i);
        } catch (const std::bad_alloc&) {
            std::fputs("not enough memory for the search threads\n", stderr);
            std::exit(1);
        }
        workers.push_back(w);
    }
    for (worker* w : workers) w->clearHistoryTables();
}

void workForce::commandStop() {
    stopCommanded.store(1, std::memory_order_relaxed);
    stopSearch.store(1, std::memory_order_relaxed);
}

void workForce::startSearch() {
    waitForSearch();
    stopSearch.store(0, std::memory_order_relaxed);
    stopCommanded.store(0, std::memory_order_relaxed);
    answered.store(0);
    searchFinished.store(0, std::memory_order_relaxed);
    maxDepthReached.store(0, std::memory_order_relaxed);
    nodesCounted.store(0, std::memory_order_relaxed);
    totalTbHits.store(0, std::memory_order_relaxed);
    advanceHashAge();
    for (worker* w : workers) {
        std::memcpy(static_cast<void*>(&w->position), &GPSData, sizeof(positionStruct));
        w->linkPosition();
        // The counters are this search's own (the "go nodes" limit reads them).
        w->position.nodeCount = w->position.quiescenceNodeCount = w->position.tbHits = 0;
        w->position.nodesReported = 0;
        w->currentDepth.store(0, std::memory_order_relaxed);
    }
    workers[0]->wake();
}
