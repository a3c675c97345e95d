// The evaluation: its weight tables (material and piece-square scores are in
// psqt.cpp), the static evaluation with its per-thread caches, and the
// term-by-term report of the "eval" command.
//
// Every weight is a packed score S(mg, eg).  Tables indexed by square use the
// owner's relative square: index 0 is a8 from the owner's side, so a white man
// on s reads entry s ^ 56 and a black man entry s.
#include "eval.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

const int32_t PAWN_ISOLATED[8] = {S(6, 1),     S(-6, -8), S(-9, -7), S(-9, -11),
                                  S(-13, -11), S(-3, -6), S(-4, -7), S(-5, 5)};

const int32_t PAWN_DOUBLED[8] = {S(-38, -37), S(-7, -14),  S(-18, -24), S(-22, -19),
                                 S(-23, -18), S(-22, -18), S(-9, -21),  S(-23, -44)};

const int32_t PAWN_BACKWARD[8] = {S(-10, -10), S(-15, -12), S(-16, -13), S(-16, -9),
                                  S(-16, -13), S(-14, -10), S(-17, -9),  S(3, -10)};

const int32_t PAWN_CONNECTED[8] = {S(0, 0), S(0, 0), S(13, 13), S(11, 9), S(17, 17), S(49, 37), S(125, 48), S(0, 0)};

const int32_t PAWN_NEIGHBOUR[8] = {S(0, 0), S(1, 0), S(7, 2), S(12, 2), S(23, 13), S(64, 59), S(111, 121), S(0, 0)};

const int32_t PASSED_OWN_KING_DISTANCE[8] = {S(0, 0),   S(0, -2),  S(0, -4),  S(0, -8),
                                             S(0, -12), S(0, -20), S(0, -25), S(0, 0)};

const int32_t PASSED_ENEMY_KING_DISTANCE[8] = {S(0, 0),  S(0, 2),  S(0, 4),  S(0, 8),
                                               S(0, 18), S(0, 40), S(0, 39), S(0, 0)};

const int32_t PAWN_CANDIDATE[2][8] = {
    {S(0, 0), S(-36, 2), S(-15, -7), S(-1, 28), S(29, 30), S(64, 15), S(0, 0), S(0, 0)},
    {S(0, 0), S(-20, 9), S(-5, 17), S(1, 31), S(18, 39), S(27, 81), S(0, 0), S(0, 0)}};

const int32_t OUTPOST_KNIGHT[2] = {S(3, -5), S(31, 15)};

const int32_t OUTPOST_BISHOP[2] = {S(3, 3), S(34, 9)};

const int32_t ROOK_OPEN_FILE[2] = {S(13, 14), S(31, 10)};

const int32_t SPACE[20] = {S(0, 0),   S(0, 0),    S(83, -1), S(62, -3), S(30, -4), S(15, -3), S(1, -3),
                           S(-6, -2), S(-11, -1), S(-14, 1), S(-13, 2), S(-12, 6), S(-9, 8),  S(-7, 16),
                           S(-4, 17), S(-1, 41),  S(0, 58),  S(0, 0),   S(0, 0),   S(0, 0)};

const int32_t MOBILITY_KNIGHT[12] = {S(-34, -11), S(-30, -12), S(-7, 20), S(2, 32), S(13, 40), S(18, 49),
                                     S(25, 52),   S(34, 52),   S(42, 48), S(0, 0),  S(0, 0),   S(0, 0)};

const int32_t MOBILITY_BISHOP[16] = {S(-65, -32), S(-45, -30), S(-31, 1), S(-21, 19), S(-10, 24), S(-2, 34),
                                     S(2, 40),    S(6, 45),    S(9, 47),  S(10, 51),  S(12, 49),  S(25, 44),
                                     S(32, 48),   S(46, 46),   S(0, 0),   S(0, 0)};

const int32_t MOBILITY_ROOK[16] = {S(-42, -40), S(-47, -5), S(-9, -9), S(4, 4),   S(9, 14),  S(8, 23),
                                   S(8, 31),    S(12, 33),  S(16, 35), S(19, 40), S(19, 46), S(21, 50),
                                   S(22, 53),   S(26, 52),  S(26, 49), S(0, 0)};

const int32_t MOBILITY_QUEEN[28] = {S(-6, -1), S(3, 5),    S(-25, 10), S(-44, -2), S(-36, -41), S(-28, -7), S(-18, -31),
                                    S(-16, 3), S(-14, 17), S(-12, 28), S(-10, 34), S(-8, 43),   S(-8, 58),  S(-4, 55),
                                    S(-3, 64), S(-1, 70),  S(-2, 77),  S(2, 79),   S(-4, 84),   S(5, 78),   S(7, 78),
                                    S(1, 85),  S(11, 73),  S(12, 66),  S(3, 68),   S(72, 41),   S(30, 25),  S(115, 81)};

// clang-format off
const int32_t PAWN_PASSED[64] = {S(0, 0), S(0, 0), S(0, 0), S(0, 0), S(0, 0), S(0, 0), S(0, 0), S(0, 0),
    S(105, 17), S(86, 40), S(108, 52), S(142, 36), S(117, 42), S(137, 39), S(48, 62), S(48, 37),
    S(42, 54), S(72, 71), S(63, 63), S(56, 40), S(63, 45), S(69, 69), S(37, 80), S(4, 75),
    S(8, 65), S(17, 68), S(30, 48), S(26, 51), S(15, 47), S(3, 53), S(2, 68), S(-7, 64),
    S(-6, 44), S(-4, 39), S(0, 28), S(0, 21), S(-5, 21), S(-10, 28), S(-5, 37), S(-12, 37),
    S(-21, 10), S(-12, 13), S(-9, 4), S(-13, 3), S(-11, -2), S(-17, -2), S(-15, 11), S(-12, 0),
    S(-27, 1), S(-12, 2), S(-13, -6), S(-14, 0), S(2, -19), S(-7, -13), S(-1, -10), S(-2, -8),
    S(0, 0), S(0, 0), S(0, 0), S(0, 0), S(0, 0), S(0, 0), S(0, 0), S(0, 0)};
// clang-format on

// clang-format off
const int32_t PAWN_SHIELD[64] = {S(0, 0), S(0, 0), S(0, 0), S(0, 0), S(0, 0), S(0, 0), S(0, 0), S(0, 0),
    S(51, 0), S(57, 0), S(112, 0), S(86, 0), S(69, 0), S(68, 0), S(49, 0), S(64, 0),
    S(60, 0), S(102, 0), S(55, 0), S(95, 0), S(50, 0), S(40, 0), S(57, 0), S(9, 0),
    S(45, 0), S(83, 0), S(32, 0), S(6, 0), S(4, 0), S(-2, 0), S(43, 0), S(45, 0),
    S(21, 0), S(8, 0), S(-4, 0), S(0, 0), S(7, 0), S(2, 0), S(-10, 0), S(-1, 0),
    S(21, 0), S(33, 0), S(-1, 0), S(3, 0), S(10, 0), S(-1, 0), S(12, 0), S(20, 0),
    S(22, 0), S(47, 0), S(31, 0), S(6, 0), S(2, 0), S(30, 0), S(13, 0), S(12, 0),
    S(0, 0), S(0, 0), S(0, 0), S(0, 0), S(0, 0), S(0, 0), S(0, 0), S(0, 0)};
// clang-format on

// Without an enemy queen the king shelter is divided by this.
constexpr int SHELTER_NO_ENEMY_QUEEN_DIVISOR = 2;

const int32_t PAWN_STORM[4][8][8] = {
    {{S(81, 30), S(60, 17), S(-13, 22), S(0, 8), S(2, 4), S(16, -4), S(16, -9), S(-21, 10)},
     {S(26, 35), S(31, 11), S(-34, 21), S(-2, 5), S(18, 2), S(29, -8), S(24, -3), S(-18, 13)},
     {S(-8, 45), S(7, 24), S(-28, 24), S(-2, 11), S(7, 15), S(11, 9), S(19, 2), S(-2, 10)},
     {S(2, 15), S(15, 13), S(-26, 20), S(-4, 21), S(12, 13), S(20, 3), S(28, -11), S(5, 15)},
     {S(-5, 16), S(12, 13), S(6, 14), S(7, 8), S(20, 7), S(13, 9), S(22, -1), S(0, 15)},
     {S(15, 49), S(-39, 40), S(-16, 25), S(-2, 13), S(9, 10), S(10, 9), S(18, -3), S(6, 11)},
     {S(46, 40), S(7, 28), S(-11, 20), S(-7, 6), S(11, 1), S(28, -8), S(29, -7), S(-28, 15)},
     {S(-47, 27), S(77, 17), S(24, 25), S(4, 13), S(18, 8), S(31, -5), S(34, -10), S(-27, 14)}},
    {{S(10, 10), S(47, 64), S(-13, 6), S(40, -13), S(31, 1), S(23, -27), S(77, -26), S(10, 10)},
     {S(10, 10), S(-107, -110), S(-2, -12), S(34, -9), S(34, 10), S(33, 31), S(82, 31), S(10, 10)},
     {S(10, 10), S(18, 41), S(9, -11), S(11, 2), S(24, -4), S(18, -22), S(13, -4), S(10, 10)},
     {S(10, 10), S(-79, -109), S(9, -5), S(6, 9), S(14, -3), S(9, -8), S(92, -29), S(10, 10)},
     {S(10, 10), S(-62, -110), S(18, -9), S(23, 6), S(36, -8), S(21, -20), S(-1, 10), S(10, 10)},
     {S(10, 10), S(-27, 55), S(14, -12), S(14, 0), S(17, -10), S(9, -21), S(-11, -19), S(10, 10)},
     {S(10, 10), S(23, -31), S(9, -12), S(32, -9), S(27, -2), S(36, -17), S(26, -20), S(10, 10)},
     {S(10, 10), S(28, 54), S(14, -7), S(52, -9), S(46, 9), S(23, -9), S(32, 26), S(10, 10)}},
    {{S(82, 36), S(51, 34), S(-28, 22), S(12, 8), S(17, 8), S(17, -1), S(14, 7), S(1, -1)},
     {S(-5, 25), S(-9, 28), S(-10, 21), S(-4, 15), S(1, 14), S(20, 3), S(14, 12), S(-5, 14)},
     {S(18, 32), S(-41, 32), S(-8, 14), S(1, 14), S(13, 19), S(23, 13), S(29, 9), S(19, 9)},
     {S(14, 35), S(-2, 16), S(11, 13), S(6, 17), S(16, 16), S(25, 4), S(14, 1), S(16, 14)},
     {S(29, 35), S(-7, 21), S(-1, 19), S(13, 14), S(19, 19), S(22, 16), S(17, 3), S(8, 19)},
     {S(15, 33), S(7, 26), S(-5, 19), S(-1, 19), S(6, 20), S(9, 14), S(13, 7), S(17, 10)},
     {S(-3, 37), S(29, 25), S(-6, 19), S(16, 14), S(23, 14), S(19, 13), S(18, 18), S(14, 6)},
     {S(-45, 44), S(37, 29), S(-3, 19), S(0, 15), S(13, 11), S(14, 11), S(15, 16), S(-1, 0)}},
    {{S(10, 10), S(42, 48), S(-36, -12), S(24, -23), S(23, -41), S(-8, 48), S(69, 8), S(10, 10)},
     {S(10, 10), S(-108, -110), S(-10, -10), S(23, -2), S(-15, 5), S(29, 22), S(-54, -56), S(10, 10)},
     {S(10, 10), S(15, 2), S(8, -18), S(25, -12), S(6, 1), S(17, -20), S(37, -23), S(10, 10)},
     {S(10, 10), S(-51, -52), S(17, -11), S(23, 0), S(25, -3), S(28, -11), S(18, -35), S(10, 10)},
     {S(10, 10), S(-24, 7), S(4, 4), S(25, 12), S(28, 10), S(25, -3), S(75, -54), S(10, 10)},
     {S(10, 10), S(0, 34), S(-8, 5), S(3, 11), S(-6, 8), S(-8, -6), S(56, -44), S(10, 10)},
     {S(10, 10), S(-23, -43), S(12, -9), S(36, -2), S(18, 4), S(14, 7), S(62, 7), S(10, 10)},
     {S(10, 10), S(-108, -110), S(10, -7), S(40, -5), S(40, 10), S(20, 12), S(54, 26), S(10, 10)}}};

// Pawn structure on the files around the own king (the king's file and its
// neighbours, taken as b-g for a king on a or h), added to the general terms:
// an isolated pawn there, a doubled one, and one whose stop square an enemy
// pawn guards while no own pawn behind it can come to its help.
constexpr int32_t PAWN_ISOLATED_KING_FILE = S(-6, 2);
constexpr int32_t PAWN_DOUBLED_KING_FILE = S(9, -2);
constexpr int32_t PAWN_BACKWARD_KING_FILE = S(-2, 6);

// Pieces, by kind: knight, bishop, rook, queen.  A man pinned to its own king
// (its attacks shrink to the pin line), when an enemy pawn attacks it and when
// none does; and a man that stands alone between an enemy king and one of our
// sliders, whose move would uncover an attack.
constexpr int32_t PINNED_ATTACKED_BY_PAWN[4] = {S(-86, -100), S(-113, -99), S(-100, -104), S(-104, -256)};
constexpr int32_t PINNED[4] = {S(28, 26), S(36, 36), S(19, 25), S(-3, 5)};
constexpr int32_t DISCOVERED_ATTACKER[4] = {S(94, 62), S(120, 49), S(120, 95), S(378, 362)};
// Each step of king distance between a knight or bishop and its own king
// costs this much.
constexpr int32_t MINOR_KING_DISTANCE_COST = S(3, 0);
// Each own blocked pawn on the squares of the bishop's colour.
constexpr int32_t BISHOP_BLOCKED_PAWN = S(-4, -12);
// A rook or queen on the seventh rank while the enemy king is still on its
// first two ranks.
constexpr int32_t ROOK_SEVENTH_RANK = S(-8, 10);
constexpr int32_t QUEEN_SEVENTH_RANK = S(-13, 21);

// Pawn pushes, space and threats, each counted per square or man.
// A pawn push to a square the enemy does not control, or we control too.
constexpr int32_t SAFE_PAWN_PUSH = S(-1, 6);
// A knight or bishop on the second to fourth rank right behind an own pawn.
constexpr int32_t MINOR_BEHIND_PAWN = S(8, 3);
// The square in front of a passed pawn under our control.
constexpr int32_t PASSED_PAWN_STOP_CONTROL = S(0, 10);
// A safe pawn push that would attack an enemy man.
constexpr int32_t PAWN_PUSH_THREAT = S(16, 13);
// No own pawn on the king's flank.
constexpr int32_t PAWNLESS_KING_FLANK = S(4, -28);
// Our threatened men: a piece attacked and defended just once; the queen
// attacked; a rook attacked by a minor or a pawn; a minor attacked by a
// minor, or by a pawn.  Then weak men, those attacked and not defended, or
// attacked twice and defended neither twice nor by a pawn: a weak pawn that
// no enemy pawn attacks, and a weak minor attacked by a rook or the queen.
constexpr int32_t PIECE_DEFENDED_ONCE = S(-6, -13);
constexpr int32_t QUEEN_ATTACKED = S(-53, -14);
constexpr int32_t ROOK_ATTACKED_BY_LESSER = S(-48, -4);
constexpr int32_t MINOR_ATTACKED_BY_MINOR = S(-24, -19);
constexpr int32_t MINOR_ATTACKED_BY_PAWN = S(-55, -13);
constexpr int32_t WEAK_PAWN = S(-2, -28);
constexpr int32_t WEAK_MINOR_ATTACKED_BY_MAJOR = S(-19, -43);

// King danger, in units summed per king.  Once the sum is above zero it costs
// sum^2 / KD_MG_DIVISOR in the middle game, so that one strong attack weighs
// far more than two weak ones, and sum / KD_EG_DIVISOR in the endgame.
// Each knight, bishop or rook that attacks the king zone brings this weight,
// a queen (whose checks are counted apart) less; the sum of the weights is
// multiplied by the number of attackers, so that attackers count far more
// together than each alone.
constexpr int KD_ZONE_ATTACKER_WEIGHT = 15, KD_ZONE_QUEEN_WEIGHT = 5;
// Danger is looked at only with this many attackers (enemy queens and zone
// attackers, each zone square an enemy pawn attacks counting one).
constexpr int KD_MIN_ATTACKERS = 2;
// The sum starts below zero: a little pressure on a king is no danger.
constexpr int KD_START = -292;
// A check the enemy can give on a square where the checker is safe.
constexpr int KD_SAFE_QUEEN_CHECK = 320, KD_SAFE_ROOK_CHECK = 420;
constexpr int KD_SAFE_BISHOP_CHECK = 195, KD_SAFE_KNIGHT_CHECK = 390;
// For a kind of piece without a safe check, each square it could check from
// that lies in the enemy's mobility area: the check still ties the defence.
constexpr int KD_UNSAFE_CHECK = 105;
// Each square of the king's flank on our first five ranks that the enemy
// attacks, and once more each of those it attacks twice and our pawns do not
// cover.
constexpr int KD_FLANK_ATTACK = 16;
// Each attack on a square next to the king.
constexpr int KD_KING_RING_ATTACK = 40;
// Each square of the king zone the enemy attacks and we defend at most once,
// and then only with the king or the queen.
constexpr int KD_WEAK_ZONE_SQUARE = 73;
// Each own man pinned inside the king zone.
constexpr int KD_PINNED_IN_ZONE = 20;
// Without a queen the attack lacks its strongest piece.
constexpr int KD_NO_ENEMY_QUEEN = 620;
constexpr unsigned KD_MG_DIVISOR = 4140, KD_EG_DIVISOR = 11;

// Exactly two bishops (a third one, after a promotion, earns nothing).
constexpr int32_t BISHOP_PAIR = S(28, 48);
// The side to move's bonus.
constexpr int32_t TEMPO = S(25, 17);

// Complexity, in end-game centipawns: how far the material lets the stronger
// side make its advantage count.  Each pawn adds to it, pawns on both wings
// add, and so does an ending of kings and pawns alone; from the sum the
// offset is taken, and a negative complexity draws the end-game half towards
// zero without ever carrying it across.
constexpr int COMPLEXITY_PAWN = 6;
constexpr int COMPLEXITY_BOTH_WINGS = 26;
constexpr int COMPLEXITY_PAWN_ENDING = 59;
constexpr int COMPLEXITY_OFFSET = -70;

// The blend of the two halves by the phase (the material left on the board,
// kings excluded): at PHASE_END_GAME or less the end-game half counts alone,
// at PHASE_MIDDLE_GAME or more the middle-game half.
constexpr int PHASE_END_GAME = 499;
constexpr int PHASE_MIDDLE_GAME = 6232;
constexpr int PHASE_RANGE = PHASE_MIDDLE_GAME - PHASE_END_GAME;

const uint64_t OUTPOST_RANKS[2] = {0x0000ffffff000000ULL, 0x000000ffffff0000ULL};

// Files of the king's flank by the king's file.
const uint64_t KING_FLANK_FILES[8] = {
    0x0707070707070707ULL,  // a: a-c
    0x0f0f0f0f0f0f0f0fULL,  // b: a-d
    0x0f0f0f0f0f0f0f0fULL,  // c: a-d
    0x3c3c3c3c3c3c3c3cULL,  // d: c-f
    0x3c3c3c3c3c3c3c3cULL,  // e: c-f
    0xf0f0f0f0f0f0f0f0ULL,  // f: e-h
    0xf0f0f0f0f0f0f0f0ULL,  // g: e-h
    0xe0e0e0e0e0e0e0e0ULL,  // h: f-h
};

const uint64_t RANKS_1_TO_5[2] = {0x000000ffffffffffULL, 0xffffffffff000000ULL};

}  // namespace

// ===========================================================================
// Static evaluation
//
// Every term is a packed score from White's point of view; one blend at the
// end weighs the middle-game and end-game halves by the remaining piece
// material.  The same template body serves the search (Trace = false, where
// all bookkeeping compiles away) and the "eval" report (Trace = true).
// ===========================================================================
namespace {

constexpr uint64_t LIGHT_SQUARES = 0x55aa55aa55aa55aaULL;
constexpr uint64_t FILES_C_TO_F = 0x3c3c3c3c3c3c3c3cULL;
constexpr uint64_t FILES_A_TO_D = 0x0f0f0f0f0f0f0f0fULL;
constexpr uint64_t FILES_E_TO_H = 0xf0f0f0f0f0f0f0f0ULL;

enum { AB_KNIGHT, AB_BISHOP, AB_ROOK, AB_QUEEN, AB_KING, AB_KINDS };

// Rank r (0 = own first rank) as seen from colour C.
template <int C>
constexpr uint64_t relativeRank(int r) {
    return 0xffULL << (8 * (C == WHITE ? r : 7 - r));
}
template <int C>
constexpr uint64_t forward(uint64_t b) {
    return C == WHITE ? b << 8 : b >> 8;
}
template <int C>
constexpr uint64_t backward(uint64_t b) {
    return C == WHITE ? b >> 8 : b << 8;
}
// Squares attacked by pawns of colour C standing on b, towards the a-file
// and towards the h-file.
template <int C>
constexpr uint64_t pawnCaptureWest(uint64_t b) {
    return C == WHITE ? (b & ~FILES[0]) << 7 : (b & ~FILES[0]) >> 9;
}
template <int C>
constexpr uint64_t pawnCaptureEast(uint64_t b) {
    return C == WHITE ? (b & ~FILES[7]) << 9 : (b & ~FILES[7]) >> 7;
}
// The man of b nearest to colour C's first rank.
template <int C>
inline int rearmost(uint64_t b) {
    return C == WHITE ? lsb(b) : msb(b);
}

inline int clampInt(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Everything the terms share, built once per call.
struct EvalState {
    const uint64_t* pb;
    uint64_t occupied;
    int kingSq[2];
    uint64_t kingZone[2];
    uint64_t pawnAttacks[2];
    uint64_t pawnAttacksTwice[2];
    uint64_t blockedPawns[2];
    uint64_t pawnPushes[2];
    uint64_t pinned[2];
    uint64_t discoverers[2];
    uint64_t mobilityArea[2];
    uint64_t attackedBy[2][AB_KINDS];
    uint64_t attacks[2];
    uint64_t attacksTwice[2];
    uint64_t passedPawns;
    int kingAttackersCount[2];
    int kingAttackWeight[2];
    int kingAdjacentAttacks[2];
};

// ---------------------------------------------------------------------------
// Pawn structure of one colour, pawn storm against its king included.
// ---------------------------------------------------------------------------
template <int C>
int32_t pawnStructure(const uint64_t* pb, const int* kingSq, bool sameWing, uint64_t& passed) {
    constexpr int them = C ^ 1;
    const uint64_t own = pb[PAWN + C], enemy = pb[PAWN + them];
    const int k = kingSq[C];
    const int f = clampInt(fileOf(k), 1, 6);
    const uint64_t kingFiles = FILES[f - 1] | FILES[f] | FILES[f + 1];
    int32_t sum = 0;

    // Storm: how far the nearest enemy pawn on each king file has come, and
    // whether one of our pawns stands right in its way.
    const uint64_t ahead = RANKS_AT_OR_ABOVE[C][k];
    const int storm = 2 * sameWing;
    for (int g = f - 1; g <= f + 1; g++) {
        const uint64_t e = enemy & FILES[g] & ahead;
        const uint64_t o = own & FILES[g] & ahead;
        const int dEnemy = e ? std::abs(rankOf(k) - rankOf(rearmost<C>(e))) : 7;
        const int dOwn = o ? std::abs(rankOf(k) - rankOf(rearmost<C>(o))) : 7;
        const int blocked = dEnemy != 7 && dOwn == dEnemy - 1;
        sum += PAWN_STORM[blocked + storm][g][dEnemy];
    }

    uint64_t b = own;
    while (b) {
        const int s = popLsb(b);  // b now holds the own pawns above s
        const int stop = C == WHITE ? s + 8 : s - 8;
        const int rr = C == WHITE ? rankOf(s) : 7 - rankOf(s);
        const int fl = fileOf(s);
        const uint64_t sBit = bit(s);
        const uint64_t stopAttackers = PAWN_ATTACKS[them][stop] & enemy;
        const uint64_t defenders = PAWN_ATTACKS[C][s] & own;
        const uint64_t neighbours = PAWN_ATTACKS[C][stop] & own;
        const uint64_t inFront = PASSED_PAWN_SPAN[C][s] & enemy;

        if (!inFront) {
            passed |= sBit;
            sum += PAWN_PASSED[relSq(s, C)] + DISTANCE[stop][kingSq[them]] * PASSED_ENEMY_KING_DISTANCE[rr] +
                   DISTANCE[stop][k] * PASSED_OWN_KING_DISTANCE[rr];
        } else {
            // Candidate: the only pawns in its way are the ones guarding the
            // stop square, and it has as many helpers beside it.
            const uint64_t attackers = PAWN_ATTACKS[them][s] & enemy;
            if ((inFront & ~attackers) == stopAttackers && popcount(stopAttackers) <= popcount(neighbours))
                sum += PAWN_CANDIDATE[popcount(attackers) <= popcount(defenders)][rr];
        }
        if (!(ADJACENT_FILES[s] & own)) {
            sum += PAWN_ISOLATED[fl];
            if (sBit & kingFiles) sum += PAWN_ISOLATED_KING_FILE;
        }
        if (FILES[fl] & b) {
            sum += PAWN_DOUBLED[fl];
            if (sBit & kingFiles) sum += PAWN_DOUBLED_KING_FILE;
        }
        if (stopAttackers && !(PASSED_PAWN_SPAN[them][s] & own)) {
            if (sBit & kingFiles) sum += PAWN_BACKWARD_KING_FILE;
            if (!(enemy & FILES[fl])) sum += PAWN_BACKWARD[fl];
        }
        if (defenders) sum += PAWN_CONNECTED[rr];
        if (neighbours) sum += PAWN_NEIGHBOUR[rr];
    }
    return sum;
}

// Both colours: the score from White's view and the passed pawns.
inline int32_t pawnStructureBoth(const uint64_t* pb, const int* kingSq, uint64_t& passed, int32_t* perColour) {
    const bool sameWing = (fileOf(kingSq[WHITE]) < 4) == (fileOf(kingSq[BLACK]) < 4);
    passed = 0;
    const int32_t w = pawnStructure<WHITE>(pb, kingSq, sameWing, passed);
    const int32_t b = pawnStructure<BLACK>(pb, kingSq, sameWing, passed);
    if (perColour) {
        perColour[WHITE] = w;
        perColour[BLACK] = b;
    }
    return w - b;
}

// ---------------------------------------------------------------------------
// Shared working sets
// ---------------------------------------------------------------------------
template <int C>
inline void pawnSets(EvalState& st) {
    const uint64_t pawns = st.pb[PAWN + C];
    const uint64_t west = pawnCaptureWest<C>(pawns), east = pawnCaptureEast<C>(pawns);
    st.pawnAttacks[C] = west | east;
    st.pawnAttacksTwice[C] = west & east;
    st.blockedPawns[C] = backward<C>(st.occupied) & pawns;
}

template <int C>
inline void pushSets(EvalState& st) {
    constexpr int them = C ^ 1;
    const uint64_t single = forward<C>(st.pb[PAWN + C]) & ~st.occupied;
    // A double step is counted when the square it passes is not watched by an
    // enemy pawn.
    const uint64_t twice = forward<C>(single & relativeRank<C>(2) & ~st.pawnAttacks[them]) & ~st.occupied;
    st.pawnPushes[C] = single | twice;
}

// Men standing alone between the king of colour K and an enemy slider: K's own
// are pinned, the slider owner's are discovered-attack candidates.
template <int K>
inline void pinSets(EvalState& st) {
    constexpr int them = K ^ 1;
    const int k = st.kingSq[K];
    const uint64_t* pb = st.pb;
    uint64_t snipers = (ROOK_RAYS[k] & (pb[ROOK + them] | pb[QUEEN + them])) |
                       (BISHOP_RAYS[k] & (pb[BISHOP + them] | pb[QUEEN + them]));
    while (snipers) {
        const int s = popLsb(snipers);
        const uint64_t between = BETWEEN_SQUARES[k][s] & st.occupied;
        if (between && !(between & (between - 1))) {
            if (between & pb[K])
                st.pinned[K] |= between;
            else
                st.discoverers[them] |= between;
        }
    }
}

// ---------------------------------------------------------------------------
// Piece loop: shelter, pieces, attack maps
// ---------------------------------------------------------------------------
// Attack set of a piece of colour C on s.  Sliders see through their own
// batteries: bishops through own queens, rooks through own rooks and queens,
// and a queen's diagonals through own queens, its lines through both.
template <int C, int Kind>
inline uint64_t pieceAttacks(const EvalState& st, int s) {
    const uint64_t* pb = st.pb;
    if constexpr (Kind == KNIGHT) {
        return KNIGHT_ATTACKS[s];
    } else if constexpr (Kind == BISHOP) {
        return bishopAttacks(s, st.occupied & ~pb[QUEEN + C]);
    } else if constexpr (Kind == ROOK) {
        return rookAttacks(s, st.occupied & ~(pb[ROOK + C] | pb[QUEEN + C]));
    } else {
        return bishopAttacks(s, st.occupied & ~pb[QUEEN + C]) |
               rookAttacks(s, st.occupied & ~(pb[ROOK + C] | pb[QUEEN + C]));
    }
}

template <int C, int Kind, bool Trace>
inline void pieceTerms(EvalState& st, int32_t& pieceSum, int32_t& mobilitySum, int32_t* tracePieces) {
    constexpr int them = C ^ 1;
    constexpr int slot = Kind == KNIGHT ? AB_KNIGHT : Kind == BISHOP ? AB_BISHOP : Kind == ROOK ? AB_ROOK : AB_QUEEN;
    constexpr int32_t pinnedByPawn = PINNED_ATTACKED_BY_PAWN[slot];
    constexpr int32_t pinnedFree = PINNED[slot];
    constexpr int32_t discoverer = DISCOVERED_ATTACKER[slot];
    constexpr int zoneWeight = Kind == QUEEN ? KD_ZONE_QUEEN_WEIGHT : KD_ZONE_ATTACKER_WEIGHT;
    const int32_t* mobility = Kind == KNIGHT   ? MOBILITY_KNIGHT
                              : Kind == BISHOP ? MOBILITY_BISHOP
                              : Kind == ROOK   ? MOBILITY_ROOK
                                               : MOBILITY_QUEEN;
    const uint64_t* pb = st.pb;
    const uint64_t enemyPawns = pb[PAWN + them];
    const uint64_t zoneThem = st.kingZone[them];
    const uint64_t kingRingThem = KING_ATTACKS[st.kingSq[them]];
    // The enemy king is still on its own first two ranks: the seventh rank bites.
    const uint64_t seventh = (Kind == ROOK || Kind == QUEEN) &&
                                     (pb[KING + them] & (relativeRank<them>(0) | relativeRank<them>(1)))
                                 ? relativeRank<C>(6)
                                 : 0;
    const int32_t before = pieceSum;

    uint64_t b = pb[Kind + C];
    while (b) {
        const int s = popLsb(b);
        const uint64_t sBit = bit(s);
        uint64_t attacks = pieceAttacks<C, Kind>(st, s);

        if (sBit & st.pinned[C]) {
            attacks &= LINE_SQUARES[st.kingSq[C]][s];
            pieceSum += (sBit & st.pawnAttacks[them]) ? pinnedByPawn : pinnedFree;
        }
        if (sBit & st.discoverers[C]) pieceSum += discoverer;
        st.attackedBy[C][slot] |= attacks;

        if constexpr (Kind == KNIGHT || Kind == BISHOP) {
            if ((sBit & OUTPOST_RANKS[C]) && !(enemyPawns & PASSED_PAWN_SPAN[C][s] & ~FILES[fileOf(s)])) {
                const int defended = (sBit & st.pawnAttacks[C]) != 0;
                pieceSum += Kind == KNIGHT ? OUTPOST_KNIGHT[defended] : OUTPOST_BISHOP[defended];
            }
            pieceSum -= DISTANCE[s][st.kingSq[C]] * MINOR_KING_DISTANCE_COST;
        }
        if constexpr (Kind == BISHOP) {
            const uint64_t sameColour = (sBit & LIGHT_SQUARES) ? LIGHT_SQUARES : ~LIGHT_SQUARES;
            pieceSum += popcount(st.blockedPawns[C] & sameColour) * BISHOP_BLOCKED_PAWN;
        }
        if constexpr (Kind == ROOK) {
            if (!(pb[PAWN + C] & FILES[fileOf(s)])) pieceSum += ROOK_OPEN_FILE[!(enemyPawns & FILES[fileOf(s)])];
        }
        if constexpr (Kind == ROOK || Kind == QUEEN) {
            if (sBit & seventh) pieceSum += Kind == ROOK ? ROOK_SEVENTH_RANK : QUEEN_SEVENTH_RANK;
        }

        if (attacks & zoneThem) {
            st.kingAttackWeight[C] += zoneWeight;
            st.kingAttackersCount[C]++;
            st.kingAdjacentAttacks[C] += popcount(kingRingThem & attacks);
        }
        st.attacksTwice[C] |= attacks & st.attacks[C];
        st.attacks[C] |= attacks;
        mobilitySum += mobility[popcount(attacks & st.mobilityArea[C])];
    }
    if constexpr (Trace) *tracePieces += pieceSum - before;
}

// Returns the piece-loop sum; the mobility sum goes to mobilitySum.
template <int C, bool Trace>
int32_t pieceLoop(EvalState& st, int32_t& mobilitySum, EvalTrace* tr) {
    constexpr int them = C ^ 1;
    const uint64_t* pb = st.pb;
    const int k = st.kingSq[C];

    // Shelter: the rearmost own pawn of each file inside the king zone.
    int32_t pieceSum = 0;
    uint64_t shield = pb[PAWN + C] & st.kingZone[C];
    while (shield) {
        const int s = rearmost<C>(shield);
        pieceSum += PAWN_SHIELD[relSq(s, C)];
        shield &= ~FILES[fileOf(s)];
    }
    if (!pb[QUEEN + them]) pieceSum /= SHELTER_NO_ENEMY_QUEEN_DIVISOR;
    if constexpr (Trace) tr->shelter[C] = pieceSum;

    st.mobilityArea[C] = ~(st.pawnAttacks[them] | st.blockedPawns[C] | bit(k));
    st.kingAttackersCount[C] = popcount(st.kingZone[them] & st.pawnAttacks[C]);
    st.kingAttackWeight[C] = 0;
    st.kingAdjacentAttacks[C] = 0;

    const uint64_t kingRing = KING_ATTACKS[k];
    st.attacksTwice[C] |= st.attacks[C] & kingRing;
    st.attacks[C] |= kingRing;
    st.attackedBy[C][AB_KING] = kingRing;

    int32_t* tp = nullptr;
    if constexpr (Trace) tp = &tr->pieces[C];
    mobilitySum = 0;
    pieceTerms<C, KNIGHT, Trace>(st, pieceSum, mobilitySum, tp);
    pieceTerms<C, BISHOP, Trace>(st, pieceSum, mobilitySum, tp);
    pieceTerms<C, ROOK, Trace>(st, pieceSum, mobilitySum, tp);
    pieceTerms<C, QUEEN, Trace>(st, pieceSum, mobilitySum, tp);
    if constexpr (Trace) tr->mobility[C] = mobilitySum;
    return pieceSum;
}

// ---------------------------------------------------------------------------
// Threat loop: pawn pushes, space, threats and king danger
// ---------------------------------------------------------------------------
template <int C, bool Trace>
int32_t threatLoop(const EvalState& st, int32_t mobilitySum, EvalTrace* tr) {
    constexpr int them = C ^ 1;
    const uint64_t* pb = st.pb;
    const uint64_t own = pb[C];
    const uint64_t pawns = pb[PAWN + C];
    const uint64_t minors = pb[KNIGHT + C] | pb[BISHOP + C];
    const uint64_t rooks = pb[ROOK + C], queens = pb[QUEEN + C];
    const uint64_t enemyMinorAttacks = st.attackedBy[them][AB_KNIGHT] | st.attackedBy[them][AB_BISHOP];
    const int k = st.kingSq[C];
    int32_t sum = 0;

    // Pawn pushes to squares the enemy does not control (or we control too).
    const uint64_t safePushes = st.pawnPushes[C] & (~st.attacks[them] | st.attacks[C]);
    sum += popcount(safePushes) * SAFE_PAWN_PUSH;

    // Knights and bishops sheltered behind their own pawns.
    sum += popcount(minors & (relativeRank<C>(1) | relativeRank<C>(2) | relativeRank<C>(3)) & backward<C>(pawns)) *
           MINOR_BEHIND_PAWN;

    // Control of the square in front of each passed pawn.
    sum += popcount(forward<C>(st.passedPawns & pawns) & st.attacks[C]) * PASSED_PAWN_STOP_CONTROL;

    // Space: safe squares behind the own pawns on the central files.
    const uint64_t behind = C == WHITE ? (pawns >> 8) | (pawns >> 16) | (pawns >> 24) | (pawns >> 32)
                                       : (pawns << 8) | (pawns << 16) | (pawns << 24) | (pawns << 32);
    sum += popcount(behind & FILES_C_TO_F & ~own & ~st.pawnAttacks[them]) * SPACE[popcount(own)];

    // A safe pawn push that would hit an enemy man.
    const uint64_t pushTargets = safePushes & ~st.pawnAttacks[them];
    const uint64_t pushThreats = (pawnCaptureWest<C>(pushTargets) | pawnCaptureEast<C>(pushTargets)) &
                                 ~st.pawnAttacks[C] & pb[them];
    sum += popcount(pushThreats) * PAWN_PUSH_THREAT;

    if (!(pawns & KING_FLANK_FILES[fileOf(k)])) sum += PAWNLESS_KING_FLANK;

    // Threats against our own men.
    const uint64_t pieces = rooks | minors | queens;
    sum += popcount(pieces & st.attacks[C] & st.attacks[them] & ~st.attacksTwice[C]) * PIECE_DEFENDED_ONCE;
    sum += popcount(queens & st.attacks[them]) * QUEEN_ATTACKED;
    sum += popcount(rooks & (enemyMinorAttacks | st.pawnAttacks[them])) * ROOK_ATTACKED_BY_LESSER;
    sum += popcount(minors & enemyMinorAttacks) * MINOR_ATTACKED_BY_MINOR;
    sum += popcount(minors & st.pawnAttacks[them]) * MINOR_ATTACKED_BY_PAWN;
    const uint64_t weak = (st.attacksTwice[them] & ~st.pawnAttacks[C] & ~st.attacksTwice[C]) |
                          (st.attacks[them] & ~st.attacks[C]);
    sum += popcount(pawns & weak & ~st.pawnAttacks[them]) * WEAK_PAWN;
    sum += popcount(minors & weak & (st.attackedBy[them][AB_QUEEN] | st.attackedBy[them][AB_ROOK])) *
           WEAK_MINOR_ATTACKED_BY_MAJOR;
    if constexpr (Trace) tr->threats[C] = sum;

    // King danger.
    int kd = 0;
    const bool enemyQueens = pb[QUEEN + them] != 0;
    const bool underAttack = popcount(pb[QUEEN + them]) + st.kingAttackersCount[them] >= KD_MIN_ATTACKERS;
    if (underAttack) {
        const uint64_t zone = st.kingZone[C];
        const uint64_t flank = KING_FLANK_FILES[fileOf(k)] & st.attacks[them] & RANKS_1_TO_5[C];
        const uint64_t kingWeak = st.attacks[them] & ~st.attacksTwice[C] &
                                  (st.attackedBy[C][AB_KING] | st.attackedBy[C][AB_QUEEN] | ~st.attacks[C]);
        const uint64_t safe = ~pb[them] & (~st.attacks[C] | (kingWeak & st.attacksTwice[them]));
        const uint64_t occ = st.occupied & ~queens;
        const uint64_t rookRays = rookAttacks(k, occ);
        const uint64_t bishopRays = bishopAttacks(k, occ);

        kd = KD_START;
        if ((st.attackedBy[them][AB_QUEEN] & ~st.attackedBy[C][AB_QUEEN]) & (rookRays | bishopRays) & safe)
            kd += KD_SAFE_QUEEN_CHECK;
        uint64_t unsafeChecks = 0;
        const uint64_t rookChecks = rookRays & st.attackedBy[them][AB_ROOK];
        if (rookChecks & safe)
            kd += KD_SAFE_ROOK_CHECK;
        else
            unsafeChecks |= rookChecks;
        const uint64_t bishopChecks = bishopRays & st.attackedBy[them][AB_BISHOP];
        if (bishopChecks & safe)
            kd += KD_SAFE_BISHOP_CHECK;
        else
            unsafeChecks |= bishopChecks;
        const uint64_t knightChecks = KNIGHT_ATTACKS[k] & st.attackedBy[them][AB_KNIGHT];
        if (knightChecks & safe)
            kd += KD_SAFE_KNIGHT_CHECK;
        else
            unsafeChecks |= knightChecks;

        kd += KD_FLANK_ATTACK * (popcount(flank & st.attacksTwice[them] & ~st.pawnAttacks[C]) + popcount(flank));
        kd += st.kingAttackersCount[them] * st.kingAttackWeight[them];
        kd += KD_KING_RING_ATTACK * st.kingAdjacentAttacks[them];
        if (!enemyQueens) kd -= KD_NO_ENEMY_QUEEN;
        kd += KD_WEAK_ZONE_SQUARE * popcount(kingWeak & zone);
        kd += KD_UNSAFE_CHECK * popcount(unsafeChecks & st.mobilityArea[them]);
        kd += KD_PINNED_IN_ZONE * popcount(zone & st.pinned[C]);
        if (kd > 0) {
            const unsigned u = (unsigned)kd;
            sum -= S((int)(u * u / KD_MG_DIVISOR), (int)(u / KD_EG_DIVISOR));
        }
    }
    if constexpr (Trace) {
        tr->kingDangerValue[C] = kd;
        tr->kingDangerComputed[C] = underAttack;
        tr->kingDanger[C] = sum - tr->threats[C];
    }
    return mobilitySum + sum;
}

// ---------------------------------------------------------------------------
// The whole evaluation without the evaluation cache; White's view.
// ---------------------------------------------------------------------------
template <bool Trace>
int evaluateWhite(const Position* pos, PawnHashEntry* pawnHash, EvalTrace* tr) {
    const uint64_t* pb = pos->pieceBitboard;
    EvalState st;
    st.pb = pb;
    st.occupied = pb[WHITE] | pb[BLACK];
    st.kingSq[WHITE] = lsb(pb[WKING]);
    st.kingSq[BLACK] = lsb(pb[BKING]);

    const int p = clampInt(pos->gamePhase, PHASE_END_GAME, PHASE_MIDDLE_GAME);
    int32_t total = pos->materialScore[WHITE] - pos->materialScore[BLACK] + pos->pieceSquareSum[WHITE] -
                    pos->pieceSquareSum[BLACK];

    // Pawn structure, through the pawn hash.
    if constexpr (Trace) {
        total += pawnStructureBoth(pb, st.kingSq, st.passedPawns, tr->pawns);
    } else {
        PawnHashEntry& pe = pawnHash[pos->pawnHashKey & (PAWN_HASH_ENTRIES - 1)];
        if (pe.key == pos->pawnHashKey) {
            st.passedPawns = pe.passedPawns;
            total += pe.score;
        } else {
            const int32_t score = pawnStructureBoth(pb, st.kingSq, st.passedPawns, nullptr);
            pe.key = pos->pawnHashKey;
            pe.passedPawns = st.passedPawns;
            pe.score = score;
            total += score;
        }
    }

    pawnSets<WHITE>(st);
    pawnSets<BLACK>(st);
    pushSets<WHITE>(st);
    pushSets<BLACK>(st);
    st.pinned[WHITE] = st.pinned[BLACK] = 0;
    st.discoverers[WHITE] = st.discoverers[BLACK] = 0;
    pinSets<WHITE>(st);
    pinSets<BLACK>(st);
    st.kingZone[WHITE] = KING_ZONE[WHITE][st.kingSq[WHITE]];
    st.kingZone[BLACK] = KING_ZONE[BLACK][st.kingSq[BLACK]];
    for (int c = 0; c < 2; c++) {
        st.attacks[c] = st.pawnAttacks[c];
        st.attacksTwice[c] = st.pawnAttacksTwice[c];
        for (int i = 0; i < AB_KINDS; i++) st.attackedBy[c][i] = 0;
    }

    int32_t mobilityW, mobilityB;
    const int32_t piecesW = pieceLoop<WHITE, Trace>(st, mobilityW, tr);
    const int32_t piecesB = pieceLoop<BLACK, Trace>(st, mobilityB, tr);
    const int32_t threatsW = threatLoop<WHITE, Trace>(st, mobilityW, tr);
    const int32_t threatsB = threatLoop<BLACK, Trace>(st, mobilityB, tr);
    total += piecesW - piecesB + threatsW - threatsB;

    const int32_t pairW = popcount(pb[WBISHOP]) == 2 ? BISHOP_PAIR : 0;
    const int32_t pairB = popcount(pb[BBISHOP]) == 2 ? BISHOP_PAIR : 0;
    total += pairW - pairB;

    // Complexity: how drawish the material is, applied to the end-game half
    // without ever carrying it across zero.
    const int eg = egOf(total);
    const int sign = (eg > 0) - (eg < 0);
    const uint64_t allPawns = pb[WPAWN] | pb[BPAWN];
    const int complexity = COMPLEXITY_PAWN * popcount(allPawns) +
                           ((allPawns & FILES_A_TO_D) && (allPawns & FILES_E_TO_H) ? COMPLEXITY_BOTH_WINGS : 0) +
                           ((st.occupied & ~allPawns) == (pb[WKING] | pb[BKING]) ? COMPLEXITY_PAWN_ENDING : 0) +
                           COMPLEXITY_OFFSET;
    const int adjust = complexity > -std::abs(eg) ? complexity : -std::abs(eg);

    const int32_t tempo = pos->sideToMove == WHITE ? TEMPO : -TEMPO;
    const int32_t withTempo = total + tempo;
    const int mg = mgOf(withTempo);
    const int egFinal = egOf(withTempo + sign * adjust * 65536);
    const int score = (int16_t)((egFinal * (PHASE_MIDDLE_GAME - p) + mg * (p - PHASE_END_GAME)) / PHASE_RANGE);

    if constexpr (Trace) {
        for (int c = 0; c < 2; c++) {
            tr->material[c] = pos->materialScore[c];
            tr->pieceSquare[c] = pos->pieceSquareSum[c];
        }
        tr->bishopPair[WHITE] = pairW;
        tr->bishopPair[BLACK] = pairB;
        tr->total = total;
        tr->complexity = complexity;
        tr->complexityEg = sign * adjust;
        tr->tempo = tempo;
        tr->gamePhase = pos->gamePhase;
        tr->phase = p;
        tr->mg = mg;
        tr->eg = egFinal;
        tr->score = score;
    }
    return score;
}

}  // namespace

int evaluate(const Position* pos, const EvalCaches& caches) {
    const uint64_t key = pos->hashKey;
    EvalCacheEntry& ce = caches.scores[key & (EVAL_CACHE_ENTRIES - 1)];
    int score;
    if (((ce.word ^ key) >> 16) == 0) {
        score = (int16_t)(uint16_t)ce.word;
    } else {
        score = evaluateWhite<false>(pos, caches.pawnHash, nullptr);
        ce.word = (key & ~0xffffULL) | (uint16_t)(int16_t)score;
    }
    return pos->sideToMove == WHITE ? score : -score;
}

int evaluateUncached(const Position* pos, const EvalCaches& caches) {
    const int score = evaluateWhite<false>(pos, caches.pawnHash, nullptr);
    return pos->sideToMove == WHITE ? score : -score;
}

int evaluateTraced(Position* pos, EvalTrace* trace) {
    *trace = EvalTrace();
    const int score = evaluateWhite<true>(pos, nullptr, trace);
    return pos->sideToMove == WHITE ? score : -score;
}

// ---------------------------------------------------------------------------
// The "eval" report
// ---------------------------------------------------------------------------
namespace {

std::string packedCells(int32_t v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, " %6d %6d ", mgOf(v), egOf(v));
    return buf;
}

std::string reportRow(const char* name, int32_t white, int32_t black) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%-16s", name);
    return std::string(buf) + "|" + packedCells(white) + "|" + packedCells(black) + "|" + packedCells(white - black);
}

std::string totalOnlyRow(const char* name, const std::string& cells) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%-16s", name);
    return std::string(buf) + "|" + std::string(15, ' ') + "|" + std::string(15, ' ') + "|" + cells;
}

}  // namespace

std::string evaluationReport(Position* pos) {
    EvalTrace t;
    const int score = evaluateTraced(pos, &t);
    const std::string rule = "----------------+---------------+---------------+---------------";
    std::ostringstream os;
    os << "Term            |     White     |     Black     |     Total\n";
    os << "                |     mg     eg |     mg     eg |     mg     eg\n";
    os << rule << "\n";
    os << reportRow("Material", t.material[WHITE], t.material[BLACK]) << "\n";
    os << reportRow("Piece-square", t.pieceSquare[WHITE], t.pieceSquare[BLACK]) << "\n";
    os << reportRow("Pawn structure", t.pawns[WHITE], t.pawns[BLACK]) << "\n";
    os << reportRow("King shelter", t.shelter[WHITE], t.shelter[BLACK]) << "\n";
    os << reportRow("Pieces", t.pieces[WHITE], t.pieces[BLACK]) << "\n";
    os << reportRow("Mobility", t.mobility[WHITE], t.mobility[BLACK]) << "\n";
    os << reportRow("Threats, space", t.threats[WHITE], t.threats[BLACK]) << "\n";
    os << reportRow("King danger", t.kingDanger[WHITE], t.kingDanger[BLACK]) << "\n";
    os << reportRow("Bishop pair", t.bishopPair[WHITE], t.bishopPair[BLACK]) << "\n";
    os << rule << "\n";
    int32_t side[2];
    for (int c = 0; c < 2; c++)
        side[c] = t.material[c] + t.pieceSquare[c] + t.pawns[c] + t.shelter[c] + t.pieces[c] + t.mobility[c] +
                  t.threats[c] + t.kingDanger[c] + t.bishopPair[c];
    os << reportRow("Sum", side[WHITE], side[BLACK]) << "\n";
    char buf[96];
    std::snprintf(buf, sizeof buf, " %6s %6d   (C = %d)", "", t.complexityEg, t.complexity);
    os << totalOnlyRow("Complexity", buf) << "\n";
    os << totalOnlyRow("Tempo", packedCells(t.tempo)) << "\n";
    std::snprintf(buf, sizeof buf, " %6d %6d ", t.mg, t.eg);
    os << totalOnlyRow("Blended halves", buf) << "\n";
    os << "King danger units:";
    for (int c = 0; c < 2; c++) {
        os << (c == WHITE ? " white " : ", black ");
        if (t.kingDangerComputed[c])
            os << t.kingDangerValue[c];
        else
            os << "not counted";
    }
    os << "\n";
    std::snprintf(buf, sizeof buf, "Phase: %d (clamped %d), middle game %d/%d, end game %d/%d", t.gamePhase, t.phase,
                  t.phase - PHASE_END_GAME, PHASE_RANGE, PHASE_MIDDLE_GAME - t.phase, PHASE_RANGE);
    os << buf << "\n";
    os << "Static evaluation: " << score << " (side to move), " << t.score << " (white)\n";
    // Drop the blanks that the fixed-width cells leave at line ends.
    std::string text = os.str(), out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        size_t last = text.find_last_not_of(' ', end - 1);
        out.append(text, start, (last == std::string::npos || last < start ? start : last + 1) - start);
        out += '\n';
        start = end + 1;
    }
    return out;
}
