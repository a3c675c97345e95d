// The hash table through the program: searches that do not depend on how
// much of the table is paged in.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "engine_process.h"

namespace {

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
