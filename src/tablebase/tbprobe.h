// Win/draw/loss and distance-to-zero probes of endgame tablebase positions.
//
// The prober works on its own compact position record.  Both probes settle
// captures (and en passant, and promotions) by a small search of their own
// before reading a table, since the tables only hold positions where no such
// resolution is pending.  probeWdl may run in every search thread at once;
// probeDtz keeps a cache of distance files without a lock and must only be
// called from one thread at a time.
#pragma once

#include <cstdint>

#include "tablebase/tbcore.h"

namespace tb {

// The prober's position.
struct Board {
    uint64_t white, black;                                   // all men of each colour
    uint64_t kings, queens, rooks, bishops, knights, pawns;  // both colours
    uint8_t rule50;                                          // half-moves since the last capture or pawn move
    uint8_t ep;                                              // en-passant target square, 0 when none
    bool turn;                                               // true: White to move
};

// Moves: bits 0-5 target, 6-11 origin, 12-14 promotion (1 queen, 2 rook,
// 3 bishop, 4 knight).
constexpr int MAX_MOVES = 512;  // above any pseudo-legal move count
enum : int { PROMOTE_QUEEN = 1, PROMOTE_ROOK, PROMOTE_BISHOP, PROMOTE_KNIGHT };
inline int moveTo(uint16_t m) { return m & 63; }
inline int moveFrom(uint16_t m) { return (m >> 6) & 63; }
inline int movePromotion(uint16_t m) { return (m >> 12) & 7; }

// WDL values indexed by value + 2.
extern const int WDL_TO_DTZ[5];

// All pseudo-legal moves: king, queens, rooks, bishops, knights, each by
// ascending origin and target; then pawns by ascending origin, the en-passant
// capture first, promotions as queen, knight, rook, bishop.
uint16_t* generateMoves(const Board* p, uint16_t* out);
// Make a move; false when it leaves the mover's king attacked.
bool doMove(Board* out, const Board* in, uint16_t move);
// Is square sq attacked by the men in `by`?  `side` is the colour of the
// attacked side (1 White), which tells from where enemy pawns attack.
bool attacked(const Board* p, int sq, uint64_t by, int side);
// Is the side to move checkmated?
bool isMate(const Board* p);
// Material key (mirror: colours exchanged) and table name of a position.
uint64_t materialKey(const Board* p, bool mirror);
void tableName(const Board* p, char* name, bool mirror);

// Win/draw/loss from the side to move's view: -2 loss, -1 blessed loss,
// 0 draw, 1 cursed win, 2 win.  *success is 0 when a needed table is missing
// or unusable.
int probeWdl(const Board* p, int* success);
// Distance to the next capture or pawn move, signed as the WDL value, 100
// more for cursed wins and blessed losses; 0 for a draw.
int probeDtz(const Board* p, int* success);
// WDL with captures resolved by alpha-beta within (alpha, beta).
int probeAlphaBeta(const Board* p, int alpha, int beta, int* success);

}  // namespace tb
