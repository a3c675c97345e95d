// Bitboard tables: piece attacks and geometry masks, worked out at compile
// time, and the slider lookup (magic multiplication or PEXT), filled once at
// start-up by initBitboards and read-only afterwards.
#include "bitboard.h"

#include <cstdlib>
#include <cstring>

SliderLookup rookLookup[64];
SliderLookup bishopLookup[64];
uint64_t rookAttackTable[102400];
uint64_t bishopAttackTable[5248];

// Multipliers that the magic search below finds with the C library's rand()
// from its initial state.  Start-up tries each stored multiplier first (one
// pass over the square's subsets) and searches only when it does not fit,
// which keeps start-up fast while computing exactly the same tables.
// clang-format off
const uint64_t ROOK_MAGICS[64] = {
    0x4080001421400080ULL, 0x05c0041000200040ULL, 0x0100294100102000ULL, 0x020008a040120004ULL,
    0x1080080180040022ULL, 0x0200080122002410ULL, 0x2100030000820014ULL, 0x4080002280005100ULL,
    0x0080800040008264ULL, 0x0008400041a01004ULL, 0x0203001840200100ULL, 0x8000800800500086ULL,
    0x0000802401180180ULL, 0x4002000201104408ULL, 0x0882004102000408ULL, 0x0002000402028043ULL,
    0x0008248000c00084ULL, 0x0040008041882002ULL, 0x0881030020001040ULL, 0x00180a0022004010ULL,
    0x0041010006104800ULL, 0x0a01010004001208ULL, 0x0000040048218210ULL, 0x0400020001441081ULL,
    0x00004000801085a0ULL, 0x0080200080400981ULL, 0x0020018180100420ULL, 0x0110048280080010ULL,
    0x000a080180140080ULL, 0x0051002900020400ULL, 0x820001040008100aULL, 0x040040420000810cULL,
    0x40002a4000800082ULL, 0x40a0002044401000ULL, 0x1020021001802080ULL, 0x0200d00080800802ULL,
    0x0010080180801c00ULL, 0x0010a20080804400ULL, 0x0000c20504000810ULL, 0x0004204482000104ULL,
    0x0000a04001848008ULL, 0xc010002004444000ULL, 0x0800600101410010ULL, 0x00c1201001010008ULL,
    0x0018001105010008ULL, 0x0000600410280140ULL, 0x0002004124420008ULL, 0xa201000080410002ULL,
    0x0409204010800080ULL, 0x8042804000200480ULL, 0x102000c800300040ULL, 0x0202801002080480ULL,
    0x4000240080a80080ULL, 0x0412001009040200ULL, 0x1a09000402000100ULL, 0x0010040091004600ULL,
    0x0000248004104101ULL, 0x0000460010810022ULL, 0x0008102000400905ULL, 0x1000081001002105ULL,
    0x0001002410024801ULL, 0x1102000110040802ULL, 0x0000008902083004ULL, 0x0000010400209142ULL,
};
// clang-format on
// clang-format off
const uint64_t BISHOP_MAGICS[64] = {
    0x0404200801003080ULL, 0x0096020202020000ULL, 0x00040820810a0010ULL, 0x0208084102008080ULL,
    0x8011104040005000ULL, 0x8002180404010100ULL, 0x0040420804400180ULL, 0x0010a10050042000ULL,
    0x0000202214080088ULL, 0x0040200284011020ULL, 0x9000102400802004ULL, 0x0200040408800214ULL,
    0x1020120211000001ULL, 0x4040020a90040000ULL, 0x0840240104100400ULL, 0x4000808080901001ULL,
    0x0220010448100100ULL, 0x6008002048008080ULL, 0x0010001820822008ULL, 0x0001021024008082ULL,
    0x0002000420210038ULL, 0x0880400080504001ULL, 0x00040412008a0800ULL, 0x0060880044040100ULL,
    0x0060302020020200ULL, 0x0410100408030100ULL, 0x8008018004010600ULL, 0x0003004054040002ULL,
    0x2001840004802002ULL, 0x2008020001110280ULL, 0x0800d40002020200ULL, 0x4010802002090400ULL,
    0x0002100480122010ULL, 0x1401082800021000ULL, 0x2001202400280800ULL, 0x4010220080080082ULL,
    0x2420008400008021ULL, 0x00024041020a0080ULL, 0x2401010400010404ULL, 0x0002004240090404ULL,
    0x000084200880a004ULL, 0x0002059004004800ULL, 0x0001c0a401001000ULL, 0x0112008401200400ULL,
    0x0020202204100280ULL, 0x8040008800404880ULL, 0x0814810202000400ULL, 0x0408018408800040ULL,
    0x0006108208401000ULL, 0x0000c40228020020ULL, 0x0005011180900000ULL, 0x8400004084040108ULL,
    0x10004040082a0010ULL, 0x0080202242020008ULL, 0x20200809010c0000ULL, 0x0022880104008010ULL,
    0x1000104424200800ULL, 0x0080410082108200ULL, 0x0020004101080620ULL, 0x2100020200208808ULL,
    0x00014000101a0600ULL, 0x0040206810010200ULL, 0x0000080288082500ULL, 0x0008200a82020020ULL,
};
// clang-format on

namespace {

constexpr int kingDistance(int a, int b) {
    const int df = fileOf(a) > fileOf(b) ? fileOf(a) - fileOf(b) : fileOf(b) - fileOf(a);
    const int dr = rankOf(a) > rankOf(b) ? rankOf(a) - rankOf(b) : rankOf(b) - rankOf(a);
    return df > dr ? df : dr;
}

constexpr int ROOK_DIRECTIONS[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
constexpr int BISHOP_DIRECTIONS[4][2] = {{1, 1}, {1, -1}, {-1, 1}, {-1, -1}};

// Attack set of a slider on sq for the given occupancy, by walking its rays.
constexpr uint64_t slowSliderAttacks(int sq, uint64_t occ, const int (*dirs)[2]) {
    uint64_t att = 0;
    for (int d = 0; d < 4; d++) {
        int f = fileOf(sq) + dirs[d][0], r = rankOf(sq) + dirs[d][1];
        while (f >= 0 && f < 8 && r >= 0 && r < 8) {
            int s = r * 8 + f;
            att |= bit(s);
            if (occ & bit(s)) break;
            f += dirs[d][0];
            r += dirs[d][1];
        }
    }
    return att;
}

// Relevant occupancy: the rays without their last square.
uint64_t relevantMask(int sq, const int (*dirs)[2]) {
    uint64_t m = 0;
    for (int d = 0; d < 4; d++) {
        int f = fileOf(sq) + dirs[d][0], r = rankOf(sq) + dirs[d][1];
        while (f + dirs[d][0] >= 0 && f + dirs[d][0] < 8 && r + dirs[d][1] >= 0 && r + dirs[d][1] < 8) {
            m |= bit(r * 8 + f);
            f += dirs[d][0];
            r += dirs[d][1];
        }
    }
    return m;
}

// The squares from each square outward in one direction (the square itself
// left out), rook directions first, then bishop directions, in the order of
// ROOK_DIRECTIONS and BISHOP_DIRECTIONS; and whether a direction runs to higher squares.
uint64_t rays[8][64];
constexpr bool RAYS_UP[8] = {true, false, true, false, true, false, true, false};

void fillRays() {
    for (int d = 0; d < 8; d++) {
        const int* dir = d < 4 ? ROOK_DIRECTIONS[d] : BISHOP_DIRECTIONS[d - 4];
        for (int s = 0; s < 64; s++) {
            uint64_t ray = 0;
            for (int f = fileOf(s) + dir[0], r = rankOf(s) + dir[1]; f >= 0 && f < 8 && r >= 0 && r < 8;
                 f += dir[0], r += dir[1])
                ray |= bit(r * 8 + f);
            rays[d][s] = ray;
        }
    }
}

// Attack set of a slider on sq (rook: firstRay 0, bishop: 4): each ray up to
// and including its first occupied square.  The same sets as the ray walk
// of slowSliderAttacks, found with one bit scan per ray.
uint64_t rayAttacks(int sq, uint64_t occ, int firstRay) {
    uint64_t att = 0;
    for (int d = firstRay; d < firstRay + 4; d++) {
        uint64_t ray = rays[d][sq];
        const uint64_t blockers = ray & occ;
        if (blockers) ray ^= rays[d][RAYS_UP[d] ? lsb(blockers) : msb(blockers)];
        att |= ray;
    }
    return att;
}

// Scratch space of the magic search.
uint32_t attemptStamp[4096];
uint32_t attemptNumber;
uint64_t subsets[4096];
uint64_t subsetAttacks[4096];

inline uint64_t sliderIndex(const SliderLookup& l, uint64_t occ) {
#if defined(TW_PEXT)
    return _pext_u64(occ, l.mask);
#else
    return ((occ & l.mask) * l.magic) >> (l.shift & 63);
#endif
}

// Place every subset with the record's current multiplier; false when two
// subsets with different attack sets meet in one slot.
bool placeSubsets(SliderLookup& l, int count) {
    attemptNumber++;
    for (int i = 0; i < count; i++) {
        uint64_t idx = sliderIndex(l, subsets[i]);
        if (attemptStamp[idx] == attemptNumber) {
            if (l.table[idx] != subsetAttacks[i]) return false;
        } else {
            attemptStamp[idx] = attemptNumber;
            l.table[idx] = subsetAttacks[i];
        }
    }
    return true;
}

// Fill one square's slice: enumerate the occupancy subsets of its mask and
// place them with the stored multiplier, or, should it not fit, with one
// searched afresh that places them all without a harmful collision.
void fillSlider(SliderLookup& l, int sq, int firstRay, uint64_t storedMagic) {
    int count = 0;
    uint64_t sub = 0;
    do {
        subsets[count] = sub;
        subsetAttacks[count] = rayAttacks(sq, sub, firstRay);
        count++;
        sub = (sub - l.mask) & l.mask;
    } while (sub);

    l.magic = storedMagic;
    if (placeSubsets(l, count)) return;
    for (;;) {
        uint64_t candidate = 0;
        int bits = 0;
        while (bits < 8) {
            uint64_t b = 1ULL << (std::rand() & 63);
            if (candidate & b) continue;
            candidate |= b;
            bits++;
        }
        l.magic = candidate;
        if (placeSubsets(l, count)) return;
    }
}

}  // namespace

namespace {

// The tables that depend on nothing but the board's geometry, worked out by
// the compiler: attacks of knights and kings, the squares from which pawns
// attack a square, slider rays on an empty board, the squares between and on
// a line through two squares, distances, and the masks of the pawn structure
// and king safety.
struct Geometry {
    std::array<uint64_t, 64> knight{}, king{}, enpassant{}, rookEmpty{}, bishopEmpty{}, adjacent{};
    std::array<std::array<uint64_t, 64>, 2> pawn{}, passed{}, ranksAbove{}, kingArea{};
    std::array<std::array<uint64_t, 64>, 64> between{}, line{};
    std::array<std::array<uint8_t, 64>, 64> distance{};

    constexpr Geometry() {
        constexpr int knightOffsets[8] = {17, 15, 10, 6, -6, -10, -15, -17};
        constexpr int kingOffsets[8] = {9, 8, 7, 1, -1, -7, -8, -9};
        for (int s = 0; s < 64; s++) {
            for (int o : knightOffsets) {
                const int t = s + o;
                if (t >= 0 && t < 64 && kingDistance(s, t) <= 2) knight[s] |= bit(t);
            }
            for (int o : kingOffsets) {
                const int t = s + o;
                if (t >= 0 && t < 64 && kingDistance(s, t) <= 1) king[s] |= bit(t);
            }
            if (s >= 24 && s <= 39) {
                if (fileOf(s) > 0) enpassant[s] |= bit(s - 1);
                if (fileOf(s) < 7) enpassant[s] |= bit(s + 1);
            }
            // The white pawns that attack s stand diagonally below it, the
            // black ones diagonally above; none on its own first rank.
            if (s >= 16) {
                if (fileOf(s) != 7) pawn[WHITE][s] |= bit(s - 7);
                if (fileOf(s) != 0) pawn[WHITE][s] |= bit(s - 9);
            }
            if (s <= 47) {
                if (fileOf(s) != 0) pawn[BLACK][s] |= bit(s + 7);
                if (fileOf(s) != 7) pawn[BLACK][s] |= bit(s + 9);
            }
            rookEmpty[s] = slowSliderAttacks(s, 0, ROOK_DIRECTIONS);
            bishopEmpty[s] = slowSliderAttacks(s, 0, BISHOP_DIRECTIONS);
        }
        for (int a = 0; a < 64; a++) {
            for (int b = 0; b < 64; b++) {
                // Between: what a slider on a sees towards b and one on b
                // sees towards a, each with the other square occupied.
                uint64_t squaresBetween = 0, squaresOnLine = 0;
                if (rookEmpty[a] & bit(b))
                    squaresBetween |= slowSliderAttacks(b, bit(a), ROOK_DIRECTIONS) &
                                      slowSliderAttacks(a, bit(b), ROOK_DIRECTIONS);
                if (bishopEmpty[a] & bit(b))
                    squaresBetween |= slowSliderAttacks(b, bit(a), BISHOP_DIRECTIONS) &
                                      slowSliderAttacks(a, bit(b), BISHOP_DIRECTIONS);
                if (bishopEmpty[a] & bit(b))
                    squaresOnLine = bit(a) | bit(b) | (bishopEmpty[a] & bishopEmpty[b]);
                else if (rookEmpty[a] & bit(b))
                    squaresOnLine = bit(a) | bit(b) | (rookEmpty[a] & rookEmpty[b]);
                between[a][b] = squaresBetween;
                line[a][b] = squaresOnLine;
                distance[a][b] = (uint8_t)kingDistance(a, b);
            }
        }
        for (int s = 0; s < 64; s++) {
            const int r = rankOf(s), f = fileOf(s);
            ranksAbove[WHITE][s] = ~0ULL << (8 * r);
            ranksAbove[BLACK][s] = ~0ULL >> (8 * (7 - r));
            adjacent[s] = (f > 0 ? FILES[f - 1] : 0) | (f < 7 ? FILES[f + 1] : 0);
            const uint64_t front3 = FILES[f] | adjacent[s];
            passed[WHITE][s] = (r >= 1 && r <= 6) ? front3 & (~0ULL << (8 * (r + 1))) : 0;
            passed[BLACK][s] = (r >= 1 && r <= 6) ? front3 & (~0ULL >> (8 * (8 - r))) : 0;
            const int fc = f < 1 ? 1 : (f > 6 ? 6 : f);
            const int rw = r < 1 ? 1 : (r > 5 ? 5 : r);
            const int rb = r < 2 ? 2 : (r > 6 ? 6 : r);
            kingArea[WHITE][s] = 0x07070707ULL << (8 * (rw - 1) + fc - 1);
            kingArea[BLACK][s] = 0x07070707ULL << (8 * (rb - 2) + fc - 1);
        }
    }
};

constexpr Geometry GEOMETRY;

}  // namespace

constexpr std::array<uint64_t, 64> KNIGHT_ATTACKS = GEOMETRY.knight;
constexpr std::array<uint64_t, 64> KING_ATTACKS = GEOMETRY.king;
constexpr std::array<std::array<uint64_t, 64>, 2> PAWN_ATTACKS = GEOMETRY.pawn;
constexpr std::array<uint64_t, 64> EN_PASSANT_NEIGHBOURS = GEOMETRY.enpassant;
constexpr std::array<uint64_t, 64> ROOK_RAYS = GEOMETRY.rookEmpty;
constexpr std::array<uint64_t, 64> BISHOP_RAYS = GEOMETRY.bishopEmpty;
constexpr std::array<std::array<uint64_t, 64>, 64> BETWEEN_SQUARES = GEOMETRY.between;
constexpr std::array<std::array<uint64_t, 64>, 64> LINE_SQUARES = GEOMETRY.line;
constexpr std::array<std::array<uint8_t, 64>, 64> DISTANCE = GEOMETRY.distance;
constexpr std::array<uint64_t, 64> ADJACENT_FILES = GEOMETRY.adjacent;
constexpr std::array<std::array<uint64_t, 64>, 2> PASSED_PAWN_SPAN = GEOMETRY.passed;
constexpr std::array<std::array<uint64_t, 64>, 2> RANKS_AT_OR_ABOVE = GEOMETRY.ranksAbove;
constexpr std::array<std::array<uint64_t, 64>, 2> KING_ZONE = GEOMETRY.kingArea;

namespace {

// Fill the slider tables from the stored multipliers.
void initSliderAttacks() {
    fillRays();
    std::memset(attemptStamp, 0, sizeof attemptStamp);
    attemptNumber = 0;
    uint64_t* next = rookAttackTable;
    for (int s = 0; s < 64; s++) {
        rookLookup[s].table = next;
        fillSlider(rookLookup[s], s, 0, ROOK_MAGICS[s]);
        next += 1ULL << popcount(rookLookup[s].mask);
    }
    next = bishopAttackTable;
    for (int s = 0; s < 64; s++) {
        bishopLookup[s].table = next;
        fillSlider(bishopLookup[s], s, 4, BISHOP_MAGICS[s]);
        next += 1ULL << popcount(bishopLookup[s].mask);
    }
}

}  // namespace

void initBitboards() {
    for (int s = 0; s < 64; s++) {
        rookLookup[s].mask = relevantMask(s, ROOK_DIRECTIONS);
        rookLookup[s].shift = 64 - popcount(rookLookup[s].mask);
        bishopLookup[s].mask = relevantMask(s, BISHOP_DIRECTIONS);
        bishopLookup[s].shift = 64 - popcount(bishopLookup[s].mask);
    }
    initSliderAttacks();
}
