// Bitboards: the slider lookup of this build against a plain ray walk.
#include <gtest/gtest.h>

#include "bitboard.h"
#include "test_support.h"

namespace {

TEST(Tables, SliderAttacksAgreeWithRayWalks) {
    // Every occupancy subset of every square, through the lookup in use by
    // this build, against a plain ray walk.
    const int dirs[2][4][2] = {{{1, 0}, {-1, 0}, {0, 1}, {0, -1}}, {{1, 1}, {1, -1}, {-1, 1}, {-1, -1}}};
    for (int s = 0; s < 64; s++)
        for (int kind = 0; kind < 2; kind++) {
            const uint64_t mask = kind ? bishopLookup[s].mask : rookLookup[s].mask;
            uint64_t sub = 0;
            do {
                uint64_t expected = 0;
                for (auto& d : dirs[kind])
                    for (int f = fileOf(s) + d[0], r = rankOf(s) + d[1]; f >= 0 && f < 8 && r >= 0 && r < 8;
                         f += d[0], r += d[1]) {
                        expected |= bit(r * 8 + f);
                        if (sub & bit(r * 8 + f)) break;
                    }
                ASSERT_EQ(kind ? bishopAttacks(s, sub | bit(s)) : rookAttacks(s, sub), expected) << s << " " << kind;
                sub = (sub - mask) & mask;
            } while (sub);
        }
}

}  // namespace
