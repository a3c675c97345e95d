// Material, piece-square scores and game-phase weights: the part of the
// evaluation that making a move keeps up to date incrementally, by piece kind
// and, filled from them at start-up, by piece code.
#pragma once

#include <array>
#include <cstdint>

#include "types.h"

// By piece kind (pawn, knight, bishop, rook, queen, king): packed material,
// piece-square scores from the owner's side (index 0 is a8 as the owner sees
// it), and each kind's share of the game phase.
extern const int32_t PIECE_VALUE[8];
extern const int32_t PIECE_SQUARE[6][64];
extern const uint16_t PHASE_WEIGHT[8];

// The same by piece code, as making a move needs them (worked out at compile
// time): the piece-square score of a man of that code on each square, its
// material, and its share of the game phase (none for pawns).
extern const std::array<std::array<int32_t, 64>, 14> PIECE_SQUARE_BY_CODE;
extern const std::array<int32_t, 14> MATERIAL_BY_CODE;
extern const std::array<int16_t, 14> PHASE_BY_CODE;
