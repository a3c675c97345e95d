// Tarnwick: the shared declarations of the engine.
//
// The board model (position record, move record, bitboard tables), the globals
// every part of the engine reads, and the operations that the move generator,
// perft, the search and the front end all use inline: slider lookups, the
// attack test, the legality test and making/unmaking moves.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#if defined(TW_PEXT)
#include <immintrin.h>
#endif

typedef uint64_t U64;

// ---------------------------------------------------------------------------
// Build identity
// ---------------------------------------------------------------------------
#if defined(__EMSCRIPTEN__)
#define TW_BUILD_SUFFIX " WASM"
#elif defined(TW_PEXT)
#define TW_BUILD_SUFFIX " BMI"
#elif defined(TW_NOPOPCNT)
#define TW_BUILD_SUFFIX " NOP"
#else
#define TW_BUILD_SUFFIX ""
#endif
#define TW_ENGINE_NAME "Tarnwick 2.3"
#define TW_AUTHOR "Quorvane"

// ---------------------------------------------------------------------------
// Squares, colours, pieces
// ---------------------------------------------------------------------------
enum : int { WHITE = 0, BLACK = 1 };
enum : int {
    EMPTY = 0,
    WPAWN = 2, BPAWN = 3, WKNIGHT = 4, BKNIGHT = 5, WBISHOP = 6, BBISHOP = 7,
    WROOK = 8, BROOK = 9, WQUEEN = 10, BQUEEN = 11, WKING = 12, BKING = 13
};
enum : int { PAWN = 2, KNIGHT = 4, BISHOP = 6, ROOK = 8, QUEEN = 10, KING = 12 };  // + colour

// Move types of moveStruct.moveType.
enum : uint8_t {
    MT_NORMAL = 0,
    MT_PROMO_N = 4, MT_PROMO_B = 6, MT_PROMO_R = 8, MT_PROMO_Q = 10,
    MT_ENPASSANT = 12, MT_DOUBLE = 13, MT_CASTLE_K = 14, MT_CASTLE_Q = 15
};

enum : int {
    A1 = 0, B1, C1, D1, E1, F1, G1, H1,
    A8 = 56, B8, C8, D8, E8, F8, G8, H8
};

// Castling-right bits.
enum : uint8_t { WHITE_OO = 1, BLACK_OO = 2, WHITE_OOO = 4, BLACK_OOO = 8 };

inline constexpr U64 bit(int sq) { return 1ULL << sq; }
inline constexpr int fileOf(int sq) { return sq & 7; }
inline constexpr int rankOf(int sq) { return sq >> 3; }

// Packed score: middle-game half in the low 16 bits, end-game half above.
inline constexpr int32_t S(int mg, int eg) { return (int32_t)((uint32_t)eg * 65536u + (uint32_t)mg); }
inline constexpr int mgOf(int32_t s) { return (int16_t)(uint16_t)(uint32_t)s; }
inline constexpr int egOf(int32_t s) { return (int32_t)((uint32_t)s + 32768u) >> 16; }

// ---------------------------------------------------------------------------
// Bit operations (the only code that differs between the three builds)
// ---------------------------------------------------------------------------
inline int popcount(U64 b) {
#if defined(TW_NOPOPCNT)
    b = b - ((b >> 1) & 0x5555555555555555ULL);
    b = (b & 0x3333333333333333ULL) + ((b >> 2) & 0x3333333333333333ULL);
    b = (b + (b >> 4)) & 0x0f0f0f0f0f0f0f0fULL;
    return (int)((b * 0x0101010101010101ULL) >> 56);
#else
    return __builtin_popcountll(b);
#endif
}
inline int lsb(U64 b) { return __builtin_ctzll(b); }
inline int msb(U64 b) { return 63 - __builtin_clzll(b); }
inline int popLsb(U64& b) {
    int s = lsb(b);
    b &= b - 1;
    return s;
}

// ---------------------------------------------------------------------------
// Moves
// ---------------------------------------------------------------------------
struct moveStruct {
    uint8_t from;
    uint8_t to;
    uint8_t moveType;
    uint8_t score;
};
static_assert(sizeof(moveStruct) == 4, "moveStruct must be 4 bytes");

constexpr moveStruct EMPTYMOVE = {0, 0, 0, 0};

inline uint32_t moveToWord(moveStruct m) {
    uint32_t w;
    std::memcpy(&w, &m, 4);
    return w;
}
inline moveStruct wordToMove(uint32_t w) {
    moveStruct m;
    std::memcpy(&m, &w, 4);
    return m;
}
// A remembered move: from, to, moveType and the moving piece in the top byte.
inline uint32_t makeMoveWord(moveStruct m, int piece) {
    return (uint32_t)m.from | ((uint32_t)m.to << 8) | ((uint32_t)m.moveType << 16) | ((uint32_t)piece << 24);
}
inline bool sameMove(uint32_t a, uint32_t b) { return ((a ^ b) & 0xffffff) == 0; }

// Per-thread move buffer size.  A ply can hold well over 200 pseudo-legal
// moves in composed positions, and a search line may be 128 plies deep, so the
// buffer is sized for the worst case rather than for typical games.
constexpr int MOVE_BUFFER_SIZE = 129 * 320;
constexpr int MAX_PLY = 128;           // plyStack holds entries 0..128
constexpr int KEY_HISTORY_SIZE = 1024;
// The game part of the key history is kept below this length so that a full
// search line (up to 128 plies) always fits behind it.
constexpr int KEY_HISTORY_GAME_LIMIT = KEY_HISTORY_SIZE - MAX_PLY - 8;

// ---------------------------------------------------------------------------
// Evaluation caches (owned by each thread; the position points at them)
// ---------------------------------------------------------------------------
struct pawnHashEntry {
    U64 key;
    U64 passedPawns;
    int32_t score;
};
// An evaluation cache entry is one word: the position's key above bit 15
// and, in bits 0-15, its score from White's side.  With 65536 entries the
// entry's index is the key's low 16 bits, so the whole key is still checked;
// they take 512 KB, and measured faster than 16384 or 32768 of them.
struct evalCacheEntry {
    U64 word;
};
// 16384 pawn entries (384 KB) keep nearly every hit that 65536 did in the
// bench's searches and leave the core's own cache to the rest.
constexpr int PAWN_HASH_ENTRIES = 16384;
constexpr int EVAL_CACHE_ENTRIES = 65536;

typedef int16_t continuationTable[12][64][12][64];
typedef int16_t continuationBlock[12][64];

// ---------------------------------------------------------------------------
// Position record
// ---------------------------------------------------------------------------
// Stages of the move picker in plyEntry::moveStage.  The capture generator
// switches a node in check to the evasion stage.
enum : uint8_t {
    STAGE_HASH = 0,
    STAGE_GEN_CAPTURES = 1,
    STAGE_GOOD_CAPTURES = 2,
    STAGE_KILLER1 = 4,
    STAGE_KILLER2 = 5,
    STAGE_COUNTER = 6,
    STAGE_BAD_CAPTURES = 7,
    STAGE_GEN_QUIETS = 8,
    STAGE_QUIETS = 9,
    STAGE_EVASIONS = 99,
    STAGE_DONE = 100
};

// The spare bytes at the end of a ply entry.  With 8-byte pointers the
// fields end at byte 119 and 8 spare bytes (with one of tail padding) make
// 128.  With 4-byte pointers (the WebAssembly build) the five list pointers
// take 20 bytes less, notPinnedMask then needs 4 bytes of padding before it,
// and the fields end at byte 103: 25 spare bytes make 128 there too.
constexpr size_t PLY_ENTRY_SPARE_BYTES = sizeof(void*) == 8 ? 8 : 25;

struct plyEntry {
    int32_t savedMaterialScore[2];
    int32_t savedPieceSquareSum[2];
    U64 savedHashKey;
    U64 savedPawnHashKey;
    moveStruct* moveListEnd;
    moveStruct* moveListCurrent;
    moveStruct* quietListStart;
    moveStruct* captureListEnd;
    moveStruct* moveListStart;
    uint32_t currentMove;
    uint32_t hashMove;
    uint32_t killerMove[2];
    uint32_t counterMoveSlot;
    moveStruct pvMove;
    U64 notPinnedMask;
    int16_t staticEval;
    uint16_t noNullMove;
    int32_t savedFiftyMoveCounter;
    int16_t savedGamePhase;
    uint8_t capturedPiece;
    uint8_t enpassantSquare;
    uint8_t castlingRights;
    uint8_t moveStage;
    uint8_t inCheck;
    // Up to 128 bytes: an entry is then found from the ply with one shift,
    // which the search does at every step.
    uint8_t unused[PLY_ENTRY_SPARE_BYTES];
};
static_assert(sizeof(plyEntry) == 128, "a ply entry is 128 bytes");

struct positionStruct {
    uint8_t board[64];
    U64 hashKey;
    U64 pawnHashKey;
    U64 pieceBitboard[14];
    uint8_t sideToMove;
    int32_t materialScore[2];
    int32_t pieceSquareSum[2];
    int16_t gamePhase;
    // search state, part 1: thread-owned tables and counters
    pawnHashEntry* pawnHashTable;
    evalCacheEntry* evalCache;
    continuationTable* followUpHistory;
    continuationTable* counterMoveHistory;
    U64 nodeCount;
    U64 quiescenceNodeCount;
    U64 tbHits;
    // Nodes of this thread already added to the search's shared count for
    // the "go nodes" limit; zero at the start of every search.
    U64 nodesReported;
    int16_t historyLength;
    int16_t fiftyMoveCounter;
    // search state, part 2: root bookkeeping
    uint16_t rootBestMoveChanges;
    int16_t rootBestMoveDepth;
    uint8_t rootDepthComplete;
    int32_t timeCheckCountdown;
    uint32_t threadIndex;
    uint8_t pvLastIndex;
    // search state, part 3
    uint8_t selDepth;
    int16_t rootScore;
    U64 keyHistory[KEY_HISTORY_SIZE];
    plyEntry plyStack[MAX_PLY + 1];
    // search state, part 4
    int16_t history[12][64];
    uint32_t counterMoves[12][64];
    // Bumped by every write to the history and the continuation histories,
    // so that a node can tell whether its quiet-move scores still hold.
    uint32_t historyWrites;

    positionStruct();
};

// ---------------------------------------------------------------------------
// Bitboard tables (moveTable.cpp)
// ---------------------------------------------------------------------------
struct sliderLookup {
    U64* table;
    U64 mask;
    U64 magic;
    U64 shift;
};

extern U64 knightAttackTable[64];
extern U64 kingAttackTable[64];
extern U64 attackByPawnTable[2][64];
extern U64 enpassantTable[64];
extern U64 rookAttackAll[64];
extern U64 bishopAttackAll[64];
extern sliderLookup rookAttackLUT[64];
extern sliderLookup bishopAttackLUT[64];
extern U64 rookAttackTable[102400];
extern U64 bishopAttackTable[5248];
extern U64 inBetweenSquares[64][64];
extern U64 inLineSquares[64][64];
extern uint8_t distance[64][64];
extern U64 isolatedPawns[64];
extern U64 passedPawnsMask[2][64];
extern U64 ranksAtOrAbove[2][64];
extern U64 kingSafetyArea[2][64];
extern moveStruct GMS[MOVE_BUFFER_SIZE];
extern uint8_t LMR[128][256];
extern const U64 files[8];
extern uint8_t castlingMask[64];

void initBitboardConstants();
// Fill the slider tables, from the stored multipliers or by a fresh search.
void initSliderAttacks(bool searchMagics);
extern const U64 storedRookMagics[64];
extern const U64 storedBishopMagics[64];

// The attack set of a slider from the occupancy of its relevant squares:
// gathered by PEXT in the BMI build, hashed by magic multiplication in the
// others.
inline U64 sliderAttacks(const sliderLookup& l, U64 occ) {
#if defined(TW_PEXT)
    return l.table[_pext_u64(occ, l.mask)];
#else
    return l.table[((occ & l.mask) * l.magic) >> (l.shift & 63)];
#endif
}
inline U64 rookAttacks(int sq, U64 occ) { return sliderAttacks(rookAttackLUT[sq], occ); }
inline U64 bishopAttacks(int sq, U64 occ) { return sliderAttacks(bishopAttackLUT[sq], occ); }
inline U64 queenAttacks(int sq, U64 occ) { return rookAttacks(sq, occ) | bishopAttacks(sq, occ); }

// ---------------------------------------------------------------------------
// Zobrist keys (hash.cpp)
// ---------------------------------------------------------------------------
extern const U64 (&hashCodeRandomNumber)[800];
extern U64 hashCodePiece[14][64];
extern U64 hashCodeCastling[16];
extern U64 hashCodeEnpassant[8];
extern U64 hashCodeBlackToMove;

void initHashCodeTables();
U64 calcHashKey(int ply, const positionStruct* pos);
U64 calcPawnHashKey(const positionStruct* pos);

// ---------------------------------------------------------------------------
// Evaluation weights used by the incremental sums (eval.cpp)
// ---------------------------------------------------------------------------
extern const int32_t pieceValue[8];
extern const int32_t pieceSquareScore[6][64];
extern const uint16_t pieceValuePhase[8];

// The same weights by piece code (moveTable.cpp), as making a move needs
// them: the piece-square score from the owner's side, the material, the
// share of the game phase (none for pawns), and a mask that lets the key of a
// pawn or king into the pawn key.
extern int32_t pieceSquareByCode[14][64];
extern int32_t materialByCode[14];
extern int16_t phaseByCode[14];
extern U64 pawnKeyMask[14];

inline int typeOf(int code) { return code / 2 - 1; }
// Piece-square index of a man of colour c on square s.
inline int relSq(int s, int c) { return c == WHITE ? s ^ 56 : s; }

// ---------------------------------------------------------------------------
// Text forms, numbers from text, output and the clock (general.cpp; the FEN
// reader, setPosition and validateFen, lives with the search in search.h)
// ---------------------------------------------------------------------------
extern const std::string fenLabelPieces;
extern const std::string promotionPieces;
extern const std::string promotionLabels;
extern const std::string fenStartPos;

std::string boardToString(const positionStruct* pos);
std::string squareToString(int sq);
std::string moveToLA(const moveStruct* move, unsigned char side);
std::string PVToString(const positionStruct* pos);

// A decimal integer at the start of `text` (leading blanks and an optional
// sign first; whatever follows the digits is ignored), pulled into lo..hi
// when it lies beyond.  False, with `value` untouched, when there are no
// digits.
bool parseInteger(std::string_view text, long long lo, long long hi, long long& value);

// Write one whole line to standard output and flush it.  Whoever prints (the
// command loop, the boss thread, the tuning threads) prints whole lines, so
// lines from different threads never mix.
void printLine(const std::string& line);

// Monotonic clock in whole milliseconds.
int64_t nowMs();

// ---------------------------------------------------------------------------
// Move generation (move.cpp) and perft (perft.cpp)
// ---------------------------------------------------------------------------
void generateMovesCaptures(unsigned char ply, moveStruct* list, positionStruct* pos);
void generateMovesQuiets(unsigned char ply, moveStruct* list, positionStruct* pos);
void generateMovesEvade(unsigned char ply, moveStruct* list, positionStruct* pos);
void generateMovesLegal(unsigned char ply, moveStruct* list, positionStruct* pos);
// The captures the quiescence search tries, for a side not in check: those of
// generateMovesCaptures, with queen promotions only (quiet ones included).
// Reads the ply's not-pinned mask, which the caller has set.
moveStruct* generateQuiescenceCaptures(unsigned char ply, moveStruct* list, const positionStruct* pos);
// Captures of the man on `target` by the side to move (queen promotions only).
moveStruct* generateRecaptures(unsigned char ply, int target, moveStruct* list, const positionStruct* pos);
// Drop the illegal moves of a pseudo-legal list of a side not in check; the
// new end of the list.
moveStruct* keepLegalMoves(const positionStruct* pos, int ply, moveStruct* start, moveStruct* end);
// Is the move (from, to and type) one of the legal moves of the position at
// this ply?  Generates them into the ply's list; the lists of deeper plies
// follow it, so a line being searched below is not disturbed.
bool isLegalMoveAt(positionStruct* pos, int ply, moveStruct m);
U64 computeNotPinnedMask(const positionStruct* pos, int side);
// The number of legal moves of the side to move, for perft's last ply.  Out
// of check the capture and quiet generators run as for the search but count
// their moves instead of writing them; in check the evasions are written
// and counted.  Sets the ply's inCheck flag and not-pinned mask.
int countLegalMoves(unsigned char ply, positionStruct* pos);

int64_t perft(unsigned char ply, int depth, positionStruct* pos);
// The perft regression check ("rtest"): counts every record of the regression
// file and prints one line each, then the verdict.
void perftCheck();

// ---------------------------------------------------------------------------
// The global game position
// ---------------------------------------------------------------------------
extern positionStruct GPSData;

// ---------------------------------------------------------------------------
// Attack and legality tests
// ---------------------------------------------------------------------------

// Does a man of `colour` attack square s with occupancy occ?
inline bool squareAttacked(const positionStruct* pos, int s, int colour, U64 occ) {
    const U64* pb = pos->pieceBitboard;
    if (bishopAttacks(s, occ) & (pb[BISHOP + colour] | pb[QUEEN + colour])) return true;
    if (rookAttacks(s, occ) & (pb[ROOK + colour] | pb[QUEEN + colour])) return true;
    if (attackByPawnTable[colour][s] & pb[PAWN + colour]) return true;
    if (knightAttackTable[s] & pb[KNIGHT + colour]) return true;
    return (kingAttackTable[s] & pb[KING + colour]) != 0;
}

inline int kingSquare(const positionStruct* pos, int colour) { return lsb(pos->pieceBitboard[KING + colour]); }

inline bool sideInCheck(const positionStruct* pos, int side) {
    return squareAttacked(pos, kingSquare(pos, side), side ^ 1, pos->pieceBitboard[0] | pos->pieceBitboard[1]);
}

// Legality of a pseudo-legal move when the side to move is not in check.
inline bool moveIsLegal(const positionStruct* pos, int ply, moveStruct m) {
    const U64* pb = pos->pieceBitboard;
    const int side = pos->sideToMove, opp = side ^ 1;
    const U64 occ = pb[0] | pb[1];
    const int from = m.from, to = m.to;
    if (pos->board[from] == KING + side) {
        U64 occ2 = (occ ^ bit(from)) | bit(to);
        return !squareAttacked(pos, to, opp, occ2);
    }
    const int k = lsb(pb[KING + side]);
    const U64 diag = pb[BISHOP + opp] | pb[QUEEN + opp];
    const U64 straight = pb[ROOK + opp] | pb[QUEEN + opp];
    if (m.moveType == MT_ENPASSANT) {
        const int land = side == WHITE ? to + 8 : to - 8;
        U64 occ2 = (occ ^ bit(from) ^ bit(to)) | bit(land);
        return !((bishopAttacks(k, occ2) & diag) | (rookAttacks(k, occ2) & straight));
    }
    if (bit(from) & pos->plyStack[ply].notPinnedMask) return true;
    U64 occ2 = (occ ^ bit(from)) | bit(to);
    U64 notTo = ~bit(to);
    return !(((bishopAttacks(k, occ2) & diag) | (rookAttacks(k, occ2) & straight)) & notTo);
}

// ---------------------------------------------------------------------------
// Making and unmaking moves
// ---------------------------------------------------------------------------
// The rook's squares of a castling move (the king's move from `from` to
// `to`): it comes from the corner and lands on the square the king crossed.
inline int castlingRookFrom(moveStruct m) { return m.moveType == MT_CASTLE_K ? m.from + 3 : m.from - 4; }
inline int castlingRookTo(moveStruct m) { return m.moveType == MT_CASTLE_K ? m.to - 1 : m.to + 1; }

// The squares from which a man of this kind and side would check a king on k
// if nothing stood in between.
inline U64 emptyBoardCheckSquares(int kind, int side, int k) {
    switch (kind) {
    case PAWN: return attackByPawnTable[side][k];
    case KNIGHT: return knightAttackTable[k];
    case BISHOP: return bishopAttackAll[k];
    case ROOK: return rookAttackAll[k];
    case QUEEN: return bishopAttackAll[k] | rookAttackAll[k];
    default: return 0;  // a king never checks
    }
}

// Does the move, not yet made, check on the board it would leave?  The
// full test behind moveGivesCheck (move.cpp).
bool checkOnBoardAfter(const positionStruct* pos, moveStruct m);

// Would the move give check?  Asked before the move is made, for moves the
// search may drop unless they check: it answers as the check test on the
// board after the move would, without making and taking back the move.
inline bool moveGivesCheck(const positionStruct* pos, moveStruct m) {
    if (m.moveType == MT_NORMAL || m.moveType == MT_DOUBLE) {
        // Most moves are settled without the attack sets: a man checks only
        // from a square that would see the king on an empty board, or by
        // leaving a line between the king and a slider of its own side.
        const U64* pb = pos->pieceBitboard;
        const int side = pos->sideToMove;
        const int k = lsb(pb[KING + (side ^ 1)]);
        const U64 F = bit(m.from);
        const U64 diagLines = bishopAttackAll[k], straightLines = rookAttackAll[k];
        const bool direct = (bit(m.to) & emptyBoardCheckSquares(pos->board[m.from] & ~1, side, k)) != 0;
        const bool uncovers = ((F & diagLines) && (diagLines & (pb[BISHOP + side] | pb[QUEEN + side]))) ||
                              ((F & straightLines) && (straightLines & (pb[ROOK + side] | pb[QUEEN + side])));
        if (!direct && !uncovers) return false;
    }
    return checkOnBoardAfter(pos, m);
}

inline void makeMove(positionStruct* pos, int ply, moveStruct move) {
    plyEntry& c = pos->plyStack[ply];
    plyEntry& n = pos->plyStack[ply + 1];
    const int side = pos->sideToMove, opp = side ^ 1;
    const int from = move.from, to = move.to;
    const int mover = pos->board[from];
    const int captured = pos->board[to];
    const U64 F = bit(from), T = bit(to);
    U64* pb = pos->pieceBitboard;

    n.capturedPiece = (uint8_t)captured;
    n.savedMaterialScore[0] = pos->materialScore[0];
    n.savedMaterialScore[1] = pos->materialScore[1];
    n.savedPieceSquareSum[0] = pos->pieceSquareSum[0];
    n.savedPieceSquareSum[1] = pos->pieceSquareSum[1];
    n.savedGamePhase = pos->gamePhase;
    n.savedHashKey = pos->hashKey;
    n.savedPawnHashKey = pos->pawnHashKey;

    U64 key = pos->hashKey ^ hashCodeBlackToMove;
    if (c.enpassantSquare) key ^= hashCodeEnpassant[c.enpassantSquare & 7];
    const uint8_t oldRights = c.castlingRights;
    const uint8_t newRights = oldRights & castlingMask[from] & castlingMask[to];
    n.castlingRights = newRights;
    key ^= hashCodeCastling[oldRights] ^ hashCodeCastling[newRights];  // nothing when they are equal
    n.enpassantSquare = 0;
    U64 pawnKey = pos->pawnHashKey;

    if (captured) {
        pos->materialScore[opp] -= materialByCode[captured];
        pos->pieceSquareSum[opp] -= pieceSquareByCode[captured][to];
        pos->gamePhase -= phaseByCode[captured];
        pb[captured] ^= T;
        pb[opp] ^= T;
        key ^= hashCodePiece[captured][to];
        pawnKey ^= hashCodePiece[captured][to] & pawnKeyMask[captured];
    }

    const int32_t* pst = pieceSquareByCode[mover];
    if (move.moveType == MT_NORMAL || move.moveType == MT_DOUBLE) {
        pos->pieceSquareSum[side] += pst[to] - pst[from];
        pb[mover] ^= F | T;
        pb[side] ^= F | T;
        pos->board[to] = (uint8_t)mover;
        const U64 moved = hashCodePiece[mover][from] ^ hashCodePiece[mover][to];
        key ^= moved;
        pawnKey ^= moved & pawnKeyMask[mover];
        if (move.moveType == MT_DOUBLE) {
            n.enpassantSquare = (uint8_t)to;
            key ^= hashCodeEnpassant[to & 7];
        }
    } else if (move.moveType == MT_ENPASSANT) {
        const int land = side == WHITE ? to + 8 : to - 8;
        pos->pieceSquareSum[side] += pst[land] - pst[from];
        pos->board[to] = 0;
        pb[mover] ^= F | bit(land);
        pb[side] ^= F | bit(land);
        pos->board[land] = (uint8_t)mover;
        key ^= hashCodePiece[mover][from] ^ hashCodePiece[mover][land];
        pawnKey ^= hashCodePiece[mover][from] ^ hashCodePiece[mover][land];
    } else if (move.moveType >= MT_CASTLE_K) {
        const int rook = ROOK + side;
        const int rFrom = castlingRookFrom(move), rTo = castlingRookTo(move);
        const int32_t* rpst = pieceSquareByCode[rook];
        pos->pieceSquareSum[side] += pst[to] - pst[from] - rpst[rFrom] + rpst[rTo];
        pb[mover] ^= F | T;
        pb[side] ^= F | T;
        pos->board[to] = (uint8_t)mover;
        key ^= hashCodePiece[mover][from] ^ hashCodePiece[mover][to];
        pawnKey ^= hashCodePiece[mover][from] ^ hashCodePiece[mover][to];
        pb[rook] ^= bit(rFrom) | bit(rTo);
        pb[side] ^= bit(rFrom) | bit(rTo);
        pos->board[rTo] = (uint8_t)rook;
        pos->board[rFrom] = 0;
        key ^= hashCodePiece[rook][rFrom] ^ hashCodePiece[rook][rTo];
    } else {  // promotion
        const int newPiece = side + move.moveType;
        pos->materialScore[side] += materialByCode[newPiece] - materialByCode[mover];
        pos->pieceSquareSum[side] += pieceSquareByCode[newPiece][to] - pst[from];
        pos->gamePhase += phaseByCode[newPiece];
        pb[mover] ^= F;
        pb[newPiece] ^= T;
        pb[side] ^= F | T;
        pos->board[to] = (uint8_t)newPiece;
        key ^= hashCodePiece[mover][from] ^ hashCodePiece[newPiece][to];
        pawnKey ^= hashCodePiece[mover][from];
    }
    pos->board[from] = 0;
    pos->hashKey = key;
    pos->pawnHashKey = pawnKey;
    pos->keyHistory[pos->historyLength++] = key;
    n.savedFiftyMoveCounter = pos->fiftyMoveCounter;
    pos->fiftyMoveCounter = (captured || mover <= BPAWN) ? 0 : pos->fiftyMoveCounter + 1;
    pos->sideToMove = (uint8_t)opp;
}

inline void unmakeMove(positionStruct* pos, int ply, moveStruct move) {
    const plyEntry& n = pos->plyStack[ply + 1];
    const int side = pos->sideToMove ^ 1, opp = side ^ 1;
    pos->sideToMove = (uint8_t)side;
    pos->hashKey = n.savedHashKey;
    pos->pawnHashKey = n.savedPawnHashKey;
    pos->historyLength--;
    pos->fiftyMoveCounter = (int16_t)n.savedFiftyMoveCounter;
    const int from = move.from, to = move.to;
    const U64 F = bit(from), T = bit(to);
    U64* pb = pos->pieceBitboard;
    int mover;
    switch (move.moveType) {
    case MT_NORMAL:
    case MT_DOUBLE:
        mover = pos->board[to];
        pb[mover] ^= F | T;
        pb[side] ^= F | T;
        break;
    case MT_ENPASSANT: {
        const int land = side == WHITE ? to + 8 : to - 8;
        mover = PAWN + side;
        pb[mover] ^= F | bit(land);
        pb[side] ^= F | bit(land);
        pos->board[land] = 0;
        break;
    }
    case MT_CASTLE_K:
    case MT_CASTLE_Q: {
        const int rook = ROOK + side;
        const int rFrom = castlingRookFrom(move), rTo = castlingRookTo(move);
        mover = KING + side;
        pb[mover] ^= F | T;
        pb[side] ^= F | T;
        pb[rook] ^= bit(rFrom) | bit(rTo);
        pb[side] ^= bit(rFrom) | bit(rTo);
        pos->board[rTo] = 0;
        pos->board[rFrom] = (uint8_t)rook;
        break;
    }
    default:  // promotion
        mover = PAWN + side;
        pb[mover] ^= F;
        pb[side + move.moveType] ^= T;
        pb[side] ^= F | T;
        break;
    }
    pos->board[from] = (uint8_t)mover;
    const int captured = n.capturedPiece;
    pos->board[to] = (uint8_t)captured;
    if (captured) {
        pb[captured] ^= T;
        pb[opp] ^= T;
    }
    pos->materialScore[0] = n.savedMaterialScore[0];
    pos->materialScore[1] = n.savedMaterialScore[1];
    pos->pieceSquareSum[0] = n.savedPieceSquareSum[0];
    pos->pieceSquareSum[1] = n.savedPieceSquareSum[1];
    pos->gamePhase = n.savedGamePhase;
}

inline U64 makeNullMove(positionStruct* pos, int ply) {
    const U64 savedKey = pos->hashKey;
    const plyEntry& c = pos->plyStack[ply];
    pos->sideToMove ^= 1;
    pos->hashKey ^= hashCodeBlackToMove;
    if (c.enpassantSquare) pos->hashKey ^= hashCodeEnpassant[c.enpassantSquare & 7];
    pos->plyStack[ply + 1] = c;
    pos->plyStack[ply + 1].capturedPiece = 0;
    pos->plyStack[ply + 1].enpassantSquare = 0;
    return savedKey;
}

inline void unmakeNullMove(positionStruct* pos, int /*ply*/, U64 savedKey) {
    pos->sideToMove ^= 1;
    pos->hashKey = savedKey;
}

// Does the side that just moved give check (the side to move is in check)?
inline bool givesCheckAfterMove(const positionStruct* pos) { return sideInCheck(pos, pos->sideToMove); }

// ---------------------------------------------------------------------------
// Transposition table (hash.cpp)
// ---------------------------------------------------------------------------
// A bucket is one cache line: four entry words, then the four full keys.
// Entry word: move (bits 0-31), score (32-47), draft (48-55), bound (56-57),
// age (58-63).  Threads share the table without locks; every word is a
// relaxed atomic so the accepted race (a key read beside another position's
// entry word) is defined behaviour.  Moves taken from it are always checked.
struct alignas(64) hashBucket {
    std::atomic<U64> entry[4];
    std::atomic<U64> key[4];
};
static_assert(sizeof(hashBucket) == 64, "a bucket is one cache line");

enum : int { boundNone = 0, boundUpper = 1, boundLower = 2, boundExact = 3 };
constexpr int MATESCORE = 32000;
constexpr int MATETHRESHOLD = 31872;

extern hashBucket* hashTable;
extern U64 hashKeyMask;
extern uint8_t hashAgeCounter;
extern uint32_t hashHartBeat;

// Number of buckets for a size in mebibytes: 16384 times the smallest power of
// two not below the size (at least 16384).
U64 hashBucketsForSize(int64_t mb);
// The largest number of buckets, at most `wantedBuckets` and halved as often
// as needed (but not below 16384), whose table leaves the rest of a machine
// or container of `memoryBytes` enough room.
U64 hashBucketsWithinMemory(U64 wantedBuckets, U64 memoryBytes);
// Memory this process can have: physical memory, or less when a cgroup
// (v1 or v2) above the process sets a limit.  The second form reads the given
// files in place of /proc/self/cgroup and /sys/fs/cgroup.
U64 hashMemoryLimit();
U64 hashMemoryLimit(U64 physicalBytes, const std::string& procCgroupFile, const std::string& cgroupRoot);
// Replace the table by one of the given number of buckets.  When memory for it
// cannot be had, smaller powers of two are tried; returns the buckets obtained.
// With `prefault` a background thread brings the pages in and then turns them
// into huge pages; without, the search faults them in as it first touches
// them.
U64 allocateHashTable(U64 buckets, bool prefault = true);
void freeHashTable();
// Wait until the background thread has finished with a new table's pages.
void waitForHashTablePages();
// Zero the table with the engine's thread count (clears the age counter too).
void clearHashTableMT();
// A new search starts: entries written from now on carry the next age.
void advanceHashAge();
// The search that advanceHashAge began is over (the table may be reshaped).
void hashSearchEnded();
// The fixed table the perft check leaves behind (2,097,152 buckets).
void installPerftCheckHashTable();

inline U64 hashEntryWord(uint32_t move, int score, int draft, int bound) {
    return (U64)move | ((U64)(uint16_t)(int16_t)score << 32) | ((U64)(draft & 0xff) << 48) |
           ((U64)((hashAgeCounter << 2) | bound) << 56);
}
inline uint32_t hashEntryMove(U64 e) { return (uint32_t)e; }
inline int hashEntryScore(U64 e) { return (int16_t)(uint16_t)(e >> 32); }
inline int hashEntryDraft(U64 e) { return (int8_t)(uint8_t)(e >> 48); }
inline int hashEntryBound(U64 e) { return (int)((e >> 56) & 3); }
inline int hashEntryAge(U64 e) { return (int)(e >> 58); }

// Mate scores are stored relative to the node, held relative to the root.
inline int scoreToHash(int score, int ply) {
    if (score >= MATETHRESHOLD) return score + ply;
    if (score <= -MATETHRESHOLD) return score - ply;
    return score;
}
inline int scoreFromHash(int score, int ply) {
    if (score >= MATETHRESHOLD) return score - ply;
    if (score <= -MATETHRESHOLD) return score + ply;
    return score;
}

inline void hashPrefetch(U64 key) { __builtin_prefetch(&hashTable[key & hashKeyMask]); }

// The position key after an ordinary move, capture or double step, computed
// before the move is made so that its table bucket can be fetched early; for
// castling, en passant and promotions it is wrong, which costs only a useless
// fetch.
inline U64 keyAfterGuess(const positionStruct* pos, int ply, moveStruct m) {
    const plyEntry& c = pos->plyStack[ply];
    const int mover = pos->board[m.from];
    const uint8_t rights = c.castlingRights & castlingMask[m.from] & castlingMask[m.to];
    U64 key = pos->hashKey ^ hashCodeBlackToMove ^ hashCodePiece[mover][m.from] ^ hashCodePiece[mover][m.to] ^
              hashCodePiece[pos->board[m.to]][m.to] ^ hashCodeCastling[c.castlingRights] ^ hashCodeCastling[rights];
    if (c.enpassantSquare) key ^= hashCodeEnpassant[c.enpassantSquare & 7];
    if (m.moveType == MT_DOUBLE) key ^= hashCodeEnpassant[m.to & 7];
    return key;
}

// Probe: the entry word of the position (0 when absent).  A hit from an
// earlier search is marked as current so that replacement keeps it.  Always
// inline: called out of line the node search lost time on every probe.
__attribute__((always_inline)) inline U64 hashProbe(U64 key) {
    hashBucket* b = &hashTable[key & hashKeyMask];
    for (int i = 0; i < 4; i++) {
        if (b->key[i].load(std::memory_order_relaxed) == key) {
            U64 e = b->entry[i].load(std::memory_order_relaxed);
            if ((int)(e >> 58) != hashAgeCounter) {
                U64 refreshed = (e & 0x03ffffffffffffffULL) | ((U64)hashAgeCounter << 58);
                b->entry[i].compare_exchange_strong(e, refreshed, std::memory_order_relaxed);
                e = refreshed;
            }
            return e;
        }
    }
    return 0;
}

// The move stored for a position, read without marking the entry as current
// (for move ordering outside the search proper).
inline uint32_t hashPeekMove(U64 key) {
    const hashBucket* b = &hashTable[key & hashKeyMask];
    for (int i = 0; i < 4; i++)
        if (b->key[i].load(std::memory_order_relaxed) == key)
            return hashEntryMove(b->entry[i].load(std::memory_order_relaxed));
    return 0;
}

inline void hashStore(U64 key, uint32_t move, int score, int draft, int bound) {
    hashBucket* b = &hashTable[key & hashKeyMask];
    int slot = 0;
    int lowest = 1 << 30;
    for (int i = 0; i < 4; i++) {
        const U64 k = b->key[i].load(std::memory_order_relaxed);
        const U64 e = b->entry[i].load(std::memory_order_relaxed);
        if (k == key || e == 0) {
            slot = i;
            lowest = -(1 << 30);
            break;
        }
        const int worth = hashEntryDraft(e) + (hashEntryBound(e) == boundExact ? 1 : 0) -
                          4 * ((hashAgeCounter - hashEntryAge(e)) & 63);
        if (worth < lowest) {
            lowest = worth;
            slot = i;
        }
    }
    b->key[slot].store(key, std::memory_order_relaxed);
    b->entry[slot].store(hashEntryWord(move, score, draft, bound), std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------
// Engine options, "go" limits and clock state (uci.cpp)
// ---------------------------------------------------------------------------
// engineStruct::movesPlayed of a game set up from a FEN whose earlier moves
// are unknown: the time allocation then cannot tell the stage of the game.
constexpr int32_t MOVES_PLAYED_UNKNOWN = 1024;

// The option Hash (MB) until the GUI sets it.  In a browser the engine shares
// a tab's memory with the page, and its table is taken from the WebAssembly
// heap, which only grows.
#if defined(__EMSCRIPTEN__)
constexpr int32_t DEFAULT_HASH_MB = 32;
#else
constexpr int32_t DEFAULT_HASH_MB = 256;
#endif

struct engineStruct {
    U64 nodesLimit = 0;
    std::atomic<U64> elapsedMs{0};
    int64_t startTimeMs = 0;
    float timeFactor = 1.0f;
    float incrementFactor = 1.37f;
    int32_t timeLeft[2] = {900000, 900000};
    int32_t increment[2] = {0, 0};
    int32_t movesToGo = 30;
    int32_t movesPlayed = 0;
    int32_t depthLimit = 0;
    int32_t mateLimit = 0;
    int32_t moveTime = 0;
    int32_t timeNormal = 0;
    int32_t timeMax = 0;
    int32_t moveOverhead = 100;
    int32_t hashSizeMB = DEFAULT_HASH_MB;
    int32_t nofThreads = 1;
    int32_t timeCheckInterval = 4096;
    // Read by every search thread at every tablebase probe, and may be set
    // while a search runs.
    std::atomic<int32_t> syzygyProbeDepth{0};
    uint8_t infinite = 0;
    uint8_t ponderEnabled = 0;
    uint8_t movesToGoGiven = 0;
    uint8_t newGame = 1;
    std::string syzygyPath;
};
extern engineStruct engine;
