// The engine under ThreadSanitizer: multi-threaded searches with stop,
// ponderhit and quit racing the threads.  (The search and board tests run
// under AddressSanitizer as their own program.)
#include <gtest/gtest.h>

#include <cstdlib>

#include "engine_process.h"

namespace {

// How long a reply may take under ThreadSanitizer (which slows the engine
// five- to fifteenfold), counted in the engine's own time: on a busy machine
// the wait is stretched by the time the engine spent waiting for a
// processor, up to ten times as long.
constexpr int TSAN_PATIENCE_MS = 60000;

std::vector<std::string> reply(EngineProcess& e, const std::string& prefix) {
    return readUntilPatiently(e, prefix, TSAN_PATIENCE_MS, 10 * TSAN_PATIENCE_MS);
}

TEST(Sanitizers, ThreadRacesAreDefinedBehaviour) {
    setenv("TSAN_OPTIONS", "halt_on_error=1 exitcode=66", 1);
    EngineProcess e(TARNWICK_TSAN_BIN);
    e.send("setoption name Hash value 16");
    e.send("setoption name Threads value 4");
    e.send("position startpos moves e2e4 c7c5 g1f3");
    e.send("go movetime 1500");
    EXPECT_TRUE(startsWith(reply(e, "bestmove").back(), "bestmove "));
    e.send("go infinite");
    e.send("stop");
    EXPECT_TRUE(startsWith(reply(e, "bestmove").back(), "bestmove "));
    e.send("go ponder wtime 2000 btime 2000");
    e.send("isready");
    e.send("ponderhit");
    EXPECT_TRUE(startsWith(reply(e, "bestmove").back(), "bestmove "));
    e.send("ucinewgame");
    e.send("isready");
    reply(e, "readyok");
    e.send("go wtime 3000 btime 3000");
    e.send("quit");
    auto lines = e.readAll(TSAN_PATIENCE_MS);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(startsWith(lines.back(), "bestmove "));
    EXPECT_EQ(e.waitExit(60000), 0);  // 66 when a data race was found
}

// Every option set while a multi-threaded search runs.  The endgame reaches
// the tables inside the search, so the probe depth is read by every thread
// while it changes.
TEST(Sanitizers, OptionsSetDuringASearch) {
    setenv("TSAN_OPTIONS", "halt_on_error=1 exitcode=66", 1);
    const std::string tables = std::string(TARNWICK_SOURCE_DIR) + "/data/syzygy";
    EngineProcess e(TARNWICK_TSAN_BIN);
    e.send("setoption name Hash value 16");
    e.send("setoption name Threads value 3");
    e.send("setoption name SyzygyPath value " + tables);
    const std::string options[] = {
        "setoption name SyzygyProbeDepth value 5",
        "setoption name MoveOverhead value 50",
        "setoption name Ponder value true",
        "setoption name Style value Risky",
        "setoption name Threads value 2",
        "setoption name Hash value 8",
        "setoption name SyzygyPath value " + tables,
        "setoption name SyzygyProbeDepth value 0",
    };
    for (const std::string& option : options) {
        e.send("position fen 8/8/3k4/8/3r4/8/2B5/2R1K3 w - - 0 1");
        e.send("go infinite");
        e.send("isready");
        reply(e, "readyok");
        e.send(option);
        e.send("isready");
        // Hash, SyzygyPath and Threads stop an infinite search themselves.
        bool answered = false;
        for (auto& line : reply(e, "readyok")) answered |= startsWith(line, "bestmove ");
        if (answered) continue;
        e.send("stop");
        auto lines = reply(e, "bestmove");
        ASSERT_FALSE(lines.empty()) << option;
        EXPECT_TRUE(startsWith(lines.back(), "bestmove ")) << option;
    }
    // A pool resized during a timed search waits for its end.
    e.send("go wtime 3000 btime 3000");
    e.send("setoption name Threads value 3");
    auto lines = reply(e, "info string Number of threads");
    ASSERT_GE(lines.size(), 2u);
    EXPECT_TRUE(startsWith(lines[lines.size() - 2], "bestmove ")) << lines[lines.size() - 2];
    e.send("quit");
    e.readAll(TSAN_PATIENCE_MS);
    EXPECT_EQ(e.waitExit(60000), 0);  // 66 when a data race was found
}

}  // namespace
