// What real GUIs send, byte for byte, and what each of them needs back; and
// how "stop", "ponderhit" and "quit" act on searches that are still queued.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <thread>

#include "engine_process.h"

namespace {

using Clock = std::chrono::steady_clock;

long msSince(Clock::time_point t) {
    return (long)std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// An engine past its banner, with a small table so that it starts at once.
struct Engine : EngineProcess {
    Engine() : EngineProcess(TARNWICK_BIN) {
        std::string line;
        for (int i = 0; i < 4; i++) readLine(line);
        send("setoption name Hash value 16");
        readLine(line);
    }
    // Every line that arrives within `ms` milliseconds.
    std::vector<std::string> linesWithin(int ms) {
        std::vector<std::string> lines;
        std::string line;
        const auto t0 = Clock::now();
        while (msSince(t0) < ms && readLine(line, std::max(1L, ms - msSince(t0)))) lines.push_back(line);
        return lines;
    }
};

int count(const std::vector<std::string>& lines, const std::string& prefix) {
    int n = 0;
    for (const std::string& l : lines) n += startsWith(l, prefix);
    return n;
}

// PyChess answers every "readyok" it did not ask for with another
// "ucinewgame"; an engine that answered "ucinewgame" with "readyok" kept it
// at that for ever, and the "ucinewgame" that came during a search cut the
// search short.
TEST(GuiDialogue, PyChessNewGameLoopEndsAtOnce) {
    Engine e;
    e.send("uci");
    e.readUntil("uciok");
    int rounds = 0;
    e.send("ucinewgame");
    for (int i = 0; i < 20; i++) {
        const auto lines = e.linesWithin(100);
        if (count(lines, "readyok") == 0) break;
        rounds++;
        e.send("ucinewgame");  // PyChess's answer to an unasked readyok
    }
    EXPECT_EQ(rounds, 0);
    EXPECT_EQ(e.ask("isready"), "readyok");
    // Its game: a search with a "ucinewgame" arriving in the middle goes on
    // to its own end.
    e.send("position fen rnbqkbnr/pppp1ppp/4p3/8/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - 0 2 moves d2d4");
    const auto t0 = Clock::now();
    e.send("go movetime 800");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    e.send("ucinewgame");
    const auto lines = e.readUntil("bestmove");
    EXPECT_GE(msSince(t0), 750) << "the search was cut short";
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(startsWith(lines.back(), "bestmove "));
    for (const std::string& l : lines) EXPECT_TRUE(startsWith(l, "info ") || startsWith(l, "bestmove ")) << l;
    e.send("quit");
    EXPECT_EQ(e.waitExit(), 0);
}

// Scid with permanent brain sends "stop" and "isready" together and takes the
// next "bestmove" after "readyok" for the answer to its next "go".
TEST(GuiDialogue, ScidStopAndIsreadyGetBestmoveFirst) {
    Engine e;
    e.send("position startpos moves e2e4 e7e5");
    for (int i = 0; i < 50; i++) {
        e.send(i % 2 ? "go ponder wtime 60000 btime 60000" : "go infinite");
        if (i % 5) std::this_thread::sleep_for(std::chrono::milliseconds(i % 7));
        e.write("stop\nisready\n");
        const auto lines = e.readUntil("readyok");
        ASSERT_GE(lines.size(), 2u) << "round " << i;
        EXPECT_TRUE(startsWith(lines[lines.size() - 2], "bestmove "))
            << "round " << i << ": " << lines[lines.size() - 2];
        EXPECT_EQ(count(lines, "bestmove"), 1) << "round " << i;
    }
    e.send("quit");
    EXPECT_EQ(e.waitExit(), 0);
}

// xboard through polyglot: the start-up polyglot sends (its memory and
// table options, two new games), then a game with pondering, where a missed
// ponder is stopped and the next position and "go" follow at once, without
// waiting for the stopped search's answer.  Every "go" gets its own
// "bestmove", in order, and nothing answers a "ucinewgame".
TEST(GuiDialogue, XboardPolyglotStartUpAndPondering) {
    Engine e;
    e.send("uci");
    e.readUntil("uciok");
    e.write("setoption name Hash value 68\nsetoption name SyzygyPath value /EGT/Syzygy\nisready\n");
    auto lines = e.readUntil("readyok");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "readyok");
    e.write("ucinewgame\nisready\n");
    EXPECT_EQ(e.next(), "readyok");
    e.write("ucinewgame\nsetoption name Ponder value true\nposition startpos\n");
    e.send("go wtime 3000 btime 3000 winc 100 binc 100");
    lines = e.readUntil("bestmove");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines.back(), m, std::regex("bestmove (\\S+) ponder (\\S+)"))) << lines.back();
    for (const std::string& l : lines) EXPECT_NE(l, "readyok");
    const std::string first = m[1], expected = m[2];
    // Ponder on the expected reply; the opponent plays another one.
    e.send("position startpos moves " + first + " " + expected);
    e.send("go wtime 2900 btime 3000 winc 100 binc 100 ponder");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::string other = first == "e2e4" || first == "d2d4" ? "g8f6" : "e7e5";
    e.write("stop\nposition startpos moves " + first + " " + other + "\ngo wtime 2800 btime 2900 winc 100 binc 100\n");
    lines = e.readUntil("bestmove");
    EXPECT_TRUE(startsWith(lines.back(), "bestmove ")) << "the stopped ponder search";
    lines = e.readUntil("bestmove", 10000);
    ASSERT_TRUE(std::regex_match(lines.back(), m, std::regex("bestmove (\\S+) ponder (\\S+)"))) << lines.back();
    // This time the opponent plays the expected move: "ponderhit".
    e.send("position startpos moves " + first + " " + other + " " + m[1].str() + " " + m[2].str());
    e.send("go wtime 2600 btime 2800 winc 100 binc 100 ponder");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    e.send("ponderhit");
    lines = e.readUntil("bestmove", 10000);
    EXPECT_TRUE(startsWith(lines.back(), "bestmove ")) << lines.back();
    e.send("quit");
    EXPECT_EQ(e.waitExit(), 0);
}

// A "ponderhit" that comes while no ponder search runs changes nothing: an
// infinite search still holds its answer (here a mate in one) until "stop".
TEST(GuiDialogue, PonderhitActsOnAPonderSearchOnly) {
    Engine e;
    e.send("position fen 6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - 0 1");
    e.send("go infinite");
    // The search has long reached its deepest depth when the stray
    // "ponderhit" comes.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    e.send("ponderhit");
    e.send("isready");
    auto lines = e.readUntil("readyok");
    EXPECT_EQ(count(lines, "bestmove"), 0) << "ponderhit released an infinite search";
    lines = e.linesWithin(300);
    EXPECT_EQ(count(lines, "bestmove"), 0) << "ponderhit released an infinite search";
    e.send("stop");
    lines = e.readUntil("bestmove");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "bestmove d1d8");
    e.send("quit");
    EXPECT_EQ(e.waitExit(), 0);
}

// "stop" and "quit" reach the searches asked for before them, also those
// still queued behind a running one: each answers at once, none is left
// running.
TEST(GuiDialogue, StopAndQuitReachQueuedSearches) {
    {
        Engine e;
        e.write("position startpos\ngo movetime 3000\ngo movetime 3000\ngo infinite\nstop\n");
        const auto t0 = Clock::now();
        int answers = 0;
        std::string line;
        while (answers < 3 && e.readLine(line, 8000)) answers += startsWith(line, "bestmove ");
        EXPECT_EQ(answers, 3) << "a queued search was left running";
        EXPECT_LT(msSince(t0), 3000);
        EXPECT_EQ(e.ask("isready"), "readyok");
        e.send("quit");
        EXPECT_EQ(e.waitExit(), 0);
    }
    for (const char* end : {"quit\n", ""}) {
        // Three deep searches queued, then "quit" (or the end of input): the
        // program answers each and ends without searching them out.
        Engine e;
        const auto t0 = Clock::now();
        e.write(std::string("position startpos\ngo depth 40\ngo depth 40\ngo depth 40\n") + end);
        if (!*end) e.closeInput();
        const auto lines = e.readAll(30000);
        EXPECT_EQ(e.waitExit(30000), 0);
        EXPECT_LT(msSince(t0), 2000) << (*end ? "quit" : "end of input");
        EXPECT_EQ(count(lines, "bestmove "), 3);
    }
}

}  // namespace
