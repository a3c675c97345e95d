// The hash table through the program: a size beyond the machine's memory,
// and searches that do not depend on how much of the table is paged in.
#include <gtest/gtest.h>

#include <unistd.h>

#include <regex>
#include <set>
#include <string>

#include "engine_process.h"

namespace {

TEST(HashProgram, SizeBeyondTheMachineIsCappedAndTheEngineSearchesOn) {
    const unsigned long long physical = (unsigned long long)sysconf(_SC_PHYS_PAGES) * sysconf(_SC_PAGE_SIZE);
    if (physical / 4 * 3 >= (262144ULL << 20)) GTEST_SKIP() << "this machine holds the largest table";

    EngineProcess e(TARNWICK_BIN);
    for (int i = 0; i < 4; i++) e.next(5000);  // banner
    e.send("setoption name Hash value 262144");
    // The cap comes first.  Should it be missing or too large, the test ends
    // here, and the engine is killed before it can fault in much memory.
    const std::string cap = e.next(5000);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(
        cap, m,
        std::regex("info string not enough memory for 262144 MB of hash; using (\\d+) MB \\(memory: (\\d+) MB\\)")))
        << cap;
    const unsigned long long mb = std::stoull(m[1]), memory = std::stoull(m[2]);
    ASSERT_LE(memory, physical >> 20);
    ASSERT_GE(mb, 1u);
    ASSERT_LE(mb, memory / 4 * 3);

    EXPECT_EQ(e.next(5000), "info string Size of Hashtable set to : 262144");
    e.send("isready");
    EXPECT_EQ(e.next(5000), "readyok");
    e.send("go depth 5");
    const std::vector<std::string> lines = e.readUntil("bestmove", 10000);
    const std::string best = lines.empty() ? "<no line>" : lines.back();
    e.send("quit");  // at once: the table is not to be paged in for long
    static const std::set<std::string> legal = {"a2a3", "a2a4", "b2b3", "b2b4", "c2c3", "c2c4", "d2d3",
                                                "d2d4", "e2e3", "e2e4", "f2f3", "f2f4", "g2g3", "g2g4",
                                                "h2h3", "h2h4", "b1a3", "b1c3", "g1f3", "g1h3"};
    ASSERT_TRUE(startsWith(best, "bestmove ")) << best;
    EXPECT_EQ(legal.count(best.substr(9, 4)), 1u) << best;
    EXPECT_EQ(e.waitExit(10000), 0);
}

// The first search of a fresh engine runs while its table is still being
// paged in; it must find what a later search on a cleared table finds.
TEST(HashProgram, FirstSearchMatchesLaterOnes) {
    EngineProcess e(TARNWICK_BIN);
    auto nodesOfSearch = [&e] {
        e.send("go depth 10");
        std::string nodes = "<none>";
        for (const std::string& line : e.readUntil("bestmove", 20000)) {
            std::smatch m;
            if (std::regex_search(line, m, std::regex(" depth 10 .* nodes (\\d+) "))) nodes = m[1];
        }
        return nodes;
    };
    e.send("setoption name Hash value 1024");
    e.send("isready");
    e.readUntil("readyok");
    const std::string first = nodesOfSearch();
    ASSERT_NE(first, "<none>");
    e.send("ucinewgame");
    e.send("isready");
    e.readUntil("readyok");
    EXPECT_EQ(nodesOfSearch(), first);
    e.send("quit");
    EXPECT_EQ(e.waitExit(), 0);
}

}  // namespace
