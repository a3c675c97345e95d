// The engine's basic types and constants, shared by every other file and
// depending on none: colours, piece codes, squares, move types, castling
// rights, packed scores, the move record and the limits of the search line.
#pragma once

#include <cstdint>
#include <cstring>

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
// clang-format off
enum : int {
    EMPTY = 0,
    WPAWN = 2, BPAWN = 3, WKNIGHT = 4, BKNIGHT = 5, WBISHOP = 6, BBISHOP = 7,
    WROOK = 8, BROOK = 9, WQUEEN = 10, BQUEEN = 11, WKING = 12, BKING = 13
};
// clang-format on
enum : int { PAWN = 2, KNIGHT = 4, BISHOP = 6, ROOK = 8, QUEEN = 10, KING = 12 };  // + colour

// Move types of Move::moveType.
// clang-format off
enum : uint8_t {
    MT_NORMAL = 0,
    MT_PROMO_N = 4, MT_PROMO_B = 6, MT_PROMO_R = 8, MT_PROMO_Q = 10,
    MT_ENPASSANT = 12, MT_DOUBLE = 13, MT_CASTLE_K = 14, MT_CASTLE_Q = 15
};
// clang-format on

// clang-format off
enum : int {
    A1 = 0, B1, C1, D1, E1, F1, G1, H1,
    A8 = 56, B8, C8, D8, E8, F8, G8, H8
};
// clang-format on

// Castling-right bits.
enum : uint8_t { WHITE_OO = 1, BLACK_OO = 2, WHITE_OOO = 4, BLACK_OOO = 8 };

inline constexpr uint64_t bit(int sq) { return 1ULL << sq; }
inline constexpr int fileOf(int sq) { return sq & 7; }
inline constexpr int rankOf(int sq) { return sq >> 3; }

// Packed score: middle-game half in the low 16 bits, end-game half above.
inline constexpr int32_t S(int mg, int eg) { return (int32_t)((uint32_t)eg * 65536u + (uint32_t)mg); }
inline constexpr int mgOf(int32_t s) { return (int16_t)(uint16_t)(uint32_t)s; }
inline constexpr int egOf(int32_t s) { return (int32_t)((uint32_t)s + 32768u) >> 16; }

// ---------------------------------------------------------------------------
// Moves
// ---------------------------------------------------------------------------
// A move as the generators write it: from and to squares, the move type and
// an ordering score.  Two details of the encoding matter everywhere:
// - an en-passant capture (MT_ENPASSANT) stores in `to` the square of the
//   pawn it takes, not the square the capturing pawn lands on (one rank
//   further on, behind the taken pawn);
// - a promotion's move type is the code of the new piece less its colour
//   (MT_PROMO_Q == QUEEN), so side + moveType is the piece that appears.
struct Move {
    uint8_t from;
    uint8_t to;
    uint8_t moveType;
    uint8_t score;
};
static_assert(sizeof(Move) == 4, "a move is 4 bytes");

constexpr Move NO_MOVE = {0, 0, 0, 0};

// The move word: a move as one 32-bit number, as the transposition table,
// the killers, the counter moves and the search line remember it.  Byte 0
// holds from, byte 1 to, byte 2 the move type and byte 3 the moving piece's
// code (the generators' score byte, which a remembered move has no use
// for).  The accessors below are the only places that take a word apart.
inline uint32_t moveToWord(Move m) {
    uint32_t w;
    std::memcpy(&w, &m, 4);
    return w;
}
inline Move wordToMove(uint32_t w) {
    Move m;
    std::memcpy(&m, &w, 4);
    return m;
}
// The move of a remembered move word, as the generators write it (score 0).
inline Move moveFromWord(uint32_t w) {
    Move m = wordToMove(w);
    m.score = 0;
    return m;
}
// A remembered move: from, to, moveType and the moving piece in the top byte.
inline uint32_t makeMoveWord(Move m, int piece) {
    return (uint32_t)m.from | ((uint32_t)m.to << 8) | ((uint32_t)m.moveType << 16) | ((uint32_t)piece << 24);
}
inline constexpr int moveWordFrom(uint32_t w) { return (int)(w & 63); }
inline constexpr int moveWordTo(uint32_t w) { return (int)((w >> 8) & 63); }
inline constexpr int moveWordType(uint32_t w) { return (int)((w >> 16) & 0xff); }
inline constexpr int moveWordPiece(uint32_t w) { return (int)(w >> 24); }
// Same from, to and move type (the piece byte is not compared).
inline bool sameMove(uint32_t a, uint32_t b) { return ((a ^ b) & 0xffffff) == 0; }

// Per-thread move buffer size.  A ply can hold well over 200 pseudo-legal
// moves in composed positions, and a search line may be 128 plies deep, so the
// buffer is sized for the worst case rather than for typical games.
constexpr int MAX_MOVES = 320;  // room for the moves of one position
constexpr int MOVE_BUFFER_SIZE = 129 * MAX_MOVES;
constexpr int MAX_PLY = 128;  // the search stack holds plies 0..128
constexpr int KEY_HISTORY_SIZE = 1024;
// The game part of the key history is kept below this length so that a full
// search line (up to 128 plies) always fits behind it.
constexpr int KEY_HISTORY_GAME_LIMIT = KEY_HISTORY_SIZE - MAX_PLY - 8;

// Scores from the side to move's view: a mate at ply p is MATE_SCORE - p, a
// tablebase win MATE_THRESHOLD - p; anything at or beyond MATE_THRESHOLD is
// a forced result.
constexpr int MATE_SCORE = 32000;
constexpr int MATE_THRESHOLD = 31872;

// The kind of a piece code (0 pawn .. 5 king).
inline constexpr int typeOf(int code) { return code / 2 - 1; }
// Piece-square index of a man of colour c on square s.
inline constexpr int relSq(int s, int c) { return c == WHITE ? s ^ 56 : s; }
