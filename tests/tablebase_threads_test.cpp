// WDL probes run in every search thread at once, and the first probe of a
// table maps it: several threads probing fresh tables together must agree
// with one thread alone (run under ThreadSanitizer).
#include <gtest/gtest.h>

#include <random>
#include <thread>
#include <vector>

#include "syzygy.h"
#include "tb_test_util.h"

namespace {

using namespace tbtest;

TEST(TablebaseThreads, FirstProbesFromManyThreads) {
    useTables(localDir());
    std::mt19937_64 rng(99);
    std::vector<tb::Board> positions;
    const std::vector<std::string> tables = tablesIn(localDir());
    while (positions.size() < 2000) {
        const std::string fen = randomFen(tables[positions.size() % tables.size()], rng);
        if (validateFen(fen).empty()) positions.push_back(probePos(fen));
    }

    std::vector<int> alone(positions.size());
    for (size_t i = 0; i < positions.size(); i++) {
        int s;
        alone[i] = tb::probeWdl(&positions[i], &s) * 2 + (s != 0);
    }

    useTables(localDir());  // unload everything: the threads load again
    const int threads = 4;
    const size_t stride[threads] = {1, 3, 7, 9};  // coprime with the count: every position, in other orders
    std::vector<std::vector<int>> seen(threads, std::vector<int>(positions.size()));
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; t++)
        pool.emplace_back([&, t] {
            for (size_t k = 0; k < positions.size(); k++) {
                const size_t i = (k * stride[t] + (size_t)t * 97) % positions.size();
                int s;
                seen[t][i] = tb::probeWdl(&positions[i], &s) * 2 + (s != 0);
            }
        });
    for (std::thread& th : pool) th.join();
    for (int t = 0; t < threads; t++) EXPECT_EQ(seen[t], alone) << "thread " << t;
}

}  // namespace
