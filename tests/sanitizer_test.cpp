// The engine under ThreadSanitizer: multi-threaded searches with stop,
// ponderhit and quit racing the threads.  (The search and board tests run
// under AddressSanitizer as their own program.)
#include <gtest/gtest.h>

#include <cstdlib>

#include "engine_process.h"

namespace {

bool startsWith(const std::string& s, const std::string& p) { return s.compare(0, p.size(), p) == 0; }

TEST(Sanitizers, ThreadRacesAreDefinedBehaviour) {
    setenv("TSAN_OPTIONS", "halt_on_error=1 exitcode=66", 1);
    EngineProcess e(TARNWICK_TSAN_BIN);
    e.send("setoption name Hash value 16");
    e.send("setoption name Threads value 4");
    e.send("position startpos moves e2e4 c7c5 g1f3");
    e.send("go movetime 1500");
    EXPECT_TRUE(startsWith(e.readUntil("bestmove", 60000).back(), "bestmove "));
    e.send("go infinite");
    e.send("stop");
    EXPECT_TRUE(startsWith(e.readUntil("bestmove", 60000).back(), "bestmove "));
    e.send("go ponder wtime 2000 btime 2000");
    e.send("isready");
    e.send("ponderhit");
    EXPECT_TRUE(startsWith(e.readUntil("bestmove", 60000).back(), "bestmove "));
    e.send("go infinite");
    e.send("setoption name Threads value 3");
    e.readUntil("info string Number of threads", 60000);
    e.send("ucinewgame");
    e.readUntil("readyok", 60000);
    e.send("go wtime 3000 btime 3000");
    e.send("quit");
    auto lines = e.readAll(60000);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(startsWith(lines.back(), "bestmove "));
    EXPECT_EQ(e.waitExit(60000), 0);  // 66 when a data race was found
}

}  // namespace
