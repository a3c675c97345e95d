// Bitboards: bit operations, the attack tables of every kind of man, the
// slider lookup (magic multiplication, or PEXT in the BMI build) and the
// geometry masks the evaluation reads.  Filled once by initBitboards at
// start-up and read-only afterwards.
#pragma once

#include <array>
#include <cstdint>

#if defined(TW_PEXT)
#include <immintrin.h>
#endif

#include "types.h"

// ---------------------------------------------------------------------------
// Bit operations (the only code that differs between the three builds)
// ---------------------------------------------------------------------------
inline int popcount(uint64_t b) {
#if defined(TW_NOPOPCNT)
    b = b - ((b >> 1) & 0x5555555555555555ULL);
    b = (b & 0x3333333333333333ULL) + ((b >> 2) & 0x3333333333333333ULL);
    b = (b + (b >> 4)) & 0x0f0f0f0f0f0f0f0fULL;
    return (int)((b * 0x0101010101010101ULL) >> 56);
#else
    return __builtin_popcountll(b);
#endif
}
inline int lsb(uint64_t b) { return __builtin_ctzll(b); }
inline int msb(uint64_t b) { return 63 - __builtin_clzll(b); }
inline int popLsb(uint64_t& b) {
    int s = lsb(b);
    b &= b - 1;
    return s;
}

// ---------------------------------------------------------------------------
// Attack tables and masks
// ---------------------------------------------------------------------------
struct SliderLookup {
    uint64_t* table;
    uint64_t mask;
    uint64_t magic;
    uint64_t shift;
};

// Attacks of knights and kings, the squares beside a pawn that could take en
// passant, and slider rays on an empty board.
extern const std::array<uint64_t, 64> KNIGHT_ATTACKS;
extern const std::array<uint64_t, 64> KING_ATTACKS;
// PAWN_ATTACKS[colour][s] is read the other way round: the squares FROM WHICH
// a pawn of that colour attacks s (a white king on s is attacked by the black
// pawns on PAWN_ATTACKS[BLACK][s]).  Squares where no pawn of that colour can
// stand, its first and its last rank, are left out.  So it is not the set of
// squares a pawn on s attacks: read with the other colour it gives that set
// only up to the pawn's sixth rank, and it is empty for a pawn on its seventh
// rank, whose captures promote.
extern const std::array<std::array<uint64_t, 64>, 2> PAWN_ATTACKS;
extern const std::array<uint64_t, 64> EN_PASSANT_NEIGHBOURS;
extern const std::array<uint64_t, 64> ROOK_RAYS;
extern const std::array<uint64_t, 64> BISHOP_RAYS;
// The squares strictly between two squares on a line, and the whole line
// through them (0 when they share none); the king distance.
extern const std::array<std::array<uint64_t, 64>, 64> BETWEEN_SQUARES;
extern const std::array<std::array<uint64_t, 64>, 64> LINE_SQUARES;
extern const std::array<std::array<uint8_t, 64>, 64> DISTANCE;
// Pawn structure and king safety: the files beside a square's, the squares
// in front of a pawn on its own and the adjacent files, the ranks at or
// above a square from a colour's side, and the zone around a king.
extern const std::array<uint64_t, 64> ADJACENT_FILES;
extern const std::array<std::array<uint64_t, 64>, 2> PASSED_PAWN_SPAN;
extern const std::array<std::array<uint64_t, 64>, 2> RANKS_AT_OR_ABOVE;
extern const std::array<std::array<uint64_t, 64>, 2> KING_ZONE;

constexpr uint64_t FILES[8] = {0x0101010101010101ULL,      0x0101010101010101ULL << 1, 0x0101010101010101ULL << 2,
                               0x0101010101010101ULL << 3, 0x0101010101010101ULL << 4, 0x0101010101010101ULL << 5,
                               0x0101010101010101ULL << 6, 0x0101010101010101ULL << 7};

// The slider lookup: for each square, its attack table, relevant-occupancy
// mask, multiplier and shift (filled by initBitboards).
extern SliderLookup rookLookup[64];
extern SliderLookup bishopLookup[64];
extern uint64_t rookAttackTable[102400];
extern uint64_t bishopAttackTable[5248];

// Fill the slider lookup.
void initBitboards();
extern const uint64_t ROOK_MAGICS[64];
extern const uint64_t BISHOP_MAGICS[64];

// The attack set of a slider from the occupancy of its relevant squares:
// gathered by PEXT in the BMI build, hashed by magic multiplication in the
// others.
inline uint64_t sliderAttacks(const SliderLookup& l, uint64_t occ) {
#if defined(TW_PEXT)
    return l.table[_pext_u64(occ, l.mask)];
#else
    return l.table[((occ & l.mask) * l.magic) >> (l.shift & 63)];
#endif
}
inline uint64_t rookAttacks(int sq, uint64_t occ) { return sliderAttacks(rookLookup[sq], occ); }
inline uint64_t bishopAttacks(int sq, uint64_t occ) { return sliderAttacks(bishopLookup[sq], occ); }
inline uint64_t queenAttacks(int sq, uint64_t occ) { return rookAttacks(sq, occ) | bishopAttacks(sq, occ); }
