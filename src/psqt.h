// Material, piece-square scores and game-phase weights: the part of the
// evaluation that making a move keeps up to date incrementally, by piece kind
// and, filled from them at start-up, by piece code.
#pragma once

#include <cstdint>

#include "types.h"

// By piece kind (pawn, knight, bishop, rook, queen, king): packed material,
// piece-square scores from the owner's side (index 0 is a8 as the owner sees
// it), and each kind's share of the game phase.
extern const int32_t PIECE_VALUE[8];
extern const int32_t PIECE_SQUARE[6][64];
extern const uint16_t PHASE_WEIGHT[8];

// The same by piece code, as making a move needs them: the piece-square
// score of a man of that code on each square, its material, and its share
// of the game phase (none for pawns).
extern int32_t pieceSquareByCode[14][64];
extern int32_t materialByCode[14];
extern int16_t phaseByCode[14];

void initPieceTables();
