// UCI dialogues with the built programs: identification, options, searches,
// search control and the commands that must stop a running search.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "engine_process.h"

namespace {

// An engine past its banner.
struct Engine : EngineProcess {
    explicit Engine(const std::string& program = TARNWICK_BIN) : EngineProcess(program) {
        std::string line;
        for (int i = 0; i < 4; i++) readLine(line);
    }
};

TEST(Uci, IdentificationAndOptionReplies) {
    Engine e;
    e.send("uci");
    std::vector<std::string> lines;
    for (int i = 0; i < 9; i++) lines.push_back(e.next());
    EXPECT_EQ(
        lines,
        (std::vector<std::string>{
            "id name Tarnwick 2.3", "id author Quorvane", "option name Hash type spin default 256 min 1 max 262144",
            "option name Threads type spin default 1 min 1 max 256", "option name Ponder type check default false",
            "option name MoveOverhead type spin default 100 min 1 max 60000",
            "option name SyzygyPath type string default <empty>",
            "option name SyzygyProbeDepth type spin default 0 min 0 max 127", "uciok"}));
    // Values out of range, however large, are pulled into it; a number with
    // a unit after it is read; a value that is no number leaves the option
    // alone; unknown names (a two-word spelling too) change nothing.
    EXPECT_EQ(e.ask("setoption name Hash value 0"), "info string Size of Hashtable set to : 1");
    EXPECT_EQ(e.ask("setoption name Threads value -99999999999"), "info string Number of threads set to : 1");
    EXPECT_EQ(e.ask("setoption name Ponder value True"), "info string Ponder set to : 0");
    EXPECT_EQ(e.ask("setoption name Ponder value true"), "info string Ponder set to : 1");
    EXPECT_EQ(e.ask("setoption name MoveOverhead value 99999999999999999999"),
              "info string MoveOverhead set to : 60000");
    EXPECT_EQ(e.ask("setoption name MoveOverhead value 250ms"), "info string MoveOverhead set to : 250");
    EXPECT_EQ(e.ask("setoption name SyzygyProbeDepth value -5"), "info string SyzygyProbeDepth set to: 0");
    EXPECT_EQ(e.ask("setoption name SyzygyPath value <empty>"),
              "info string Syzygy tablebases used from directory : <empty>");
    EXPECT_TRUE(startsWith(e.ask("setoption name Hash value lots"), "info string Hash needs a number"));
    EXPECT_EQ(e.ask("setoption name Move Overhead value 5"), "info string unknown option 'Move Overhead'; ignored");
    EXPECT_EQ(e.ask("setoption name Style value Risky"), "info string unknown option 'Style'; ignored");
    EXPECT_EQ(e.ask("isready"), "readyok");
    e.send("quit");
    EXPECT_EQ(e.waitExit(), 0);
}

TEST(Uci, DepthSearchPrintsDeepIterationsThenBestmove) {
    Engine e;
    e.send("position startpos moves e2e4");
    e.send("go depth 12");
    auto lines = e.readUntil("bestmove", 60000);
    ASSERT_EQ(lines.size(), 4u);
    for (int d = 10; d <= 12; d++)
        EXPECT_TRUE(std::regex_match(lines[d - 10],
                                     std::regex("info score cp -?[0-9]+ depth " + std::to_string(d) +
                                                " seldepth [0-9]+ nodes [0-9]+ nps [0-9]+ time [0-9]+ tbhits 0 "
                                                "pv [a-h][1-8][a-h][1-8][nbrq]?( [a-h][1-8][a-h][1-8][nbrq]?)*")))
            << lines[d - 10];
    EXPECT_TRUE(std::regex_match(lines[3], std::regex("bestmove [a-h][1-8][a-h][1-8] ponder [a-h][1-8][a-h][1-8]")))
        << lines[3];
    e.send("quit");
    EXPECT_EQ(e.waitExit(), 0);
}

TEST(Uci, SpecialRoots) {
    Engine e;
    // One legal move: depth 3, and the one line for it.
    e.send("position fen 7k/8/8/8/8/8/1q6/K7 w - - 0 1");
    e.send("go wtime 60000 btime 60000");
    auto single = e.readUntil("bestmove");
    ASSERT_EQ(single.size(), 2u);
    EXPECT_TRUE(
        std::regex_match(single[0], std::regex("info score cp -?[0-9]+ depth 3 seldepth [0-9]+ nodes [0-9]+ nps "
                                               "[0-9]+ time [0-9]+ tbhits 0 pv a1b2")))
        << single[0];
    EXPECT_EQ(single[1], "bestmove a1b2");
    // Checkmated side.
    e.send("position fen 8/8/8/8/8/2k5/1q6/K7 w - - 0 1");
    e.send("go wtime 60000 btime 60000");
    EXPECT_EQ(e.readUntil("bestmove"), (std::vector<std::string>{"info score mate 0", "bestmove 0000"}));
    // Stalemated side: a draw, and no move either.
    e.send("position fen 7k/5Q2/6K1/8/8/8/8/8 b - - 0 1");
    e.send("go depth 5");
    EXPECT_EQ(e.readUntil("bestmove"), (std::vector<std::string>{"info score cp 0", "bestmove 0000"}));
    // A mate found early prints its mate line and ends at once.
    e.send("position fen 6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - 0 1");
    EngineStopwatch t0(e);
    e.send("go wtime 600000 btime 600000");
    auto lines = e.readUntil("bestmove");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(startsWith(lines[0], "info score mate 1 depth 1 nodes ")) << lines[0];
    EXPECT_EQ(lines[1], "bestmove d1d8");
    EXPECT_LT(t0.ms(), 2000);
    e.send("quit");
    EXPECT_EQ(e.waitExit(), 0);
}

// (An infinite search held until "stop" is among the tournament manager's
// cases below.)
TEST(Uci, PonderhitBeforeAndAfterTheSoftTime) {
    Engine e;
    e.send("position startpos");
    // Ponderhit before the soft time: the search goes on under its clock.
    e.send("go ponder wtime 3000 btime 3000");
    e.send("ponderhit");
    EngineStopwatch t0(e);
    auto lines = e.readUntil("bestmove");
    EXPECT_TRUE(startsWith(lines.back(), "bestmove "));
    EXPECT_LT(t0.ms(), 2500);

    // Ponderhit after the soft time has passed: bestmove at once.
    e.send("go ponder wtime 1000 btime 1000");
    std::string line;
    EXPECT_FALSE(e.readLine(line, 1500) && startsWith(line, "bestmove"));
    t0 = EngineStopwatch(e);
    e.send("ponderhit");
    EXPECT_TRUE(startsWith(e.readUntil("bestmove").back(), "bestmove "));
    EXPECT_LT(t0.ms(), 500);

    // "ucinewgame" has no reply of its own: the GUI asks with "isready".
    e.send("ucinewgame");
    EXPECT_EQ(e.ask("isready"), "readyok");
    e.send("quit");
    EXPECT_EQ(e.waitExit(), 0);
}

TEST(Uci, QuitAndEndOfInputWaitForBestmove) {
    {
        Engine e;
        e.send("position startpos");
        e.send("go infinite");
        e.send("quit");
        auto lines = e.readAll();
        ASSERT_FALSE(lines.empty());
        EXPECT_TRUE(startsWith(lines.back(), "bestmove "));
        EXPECT_EQ(e.waitExit(), 0);
    }
    {
        Engine e;
        e.send("go ponder");
        e.closeInput();
        auto lines = e.readAll();
        ASSERT_FALSE(lines.empty());
        EXPECT_TRUE(startsWith(lines.back(), "bestmove "));
        EXPECT_EQ(e.waitExit(), 0);
    }
    // A "go" given as program arguments runs to its normal end.
    int status = -1;
    auto lines = runProgram(TARNWICK_BIN, "", {"go", "depth", "4"}, &status);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(startsWith(lines.back(), "bestmove "));
    EXPECT_EQ(status, 0);
}

TEST(Uci, TimeBudgetsAreKept) {
    Engine e;
    e.send("position startpos moves e2e4 e7e5");
    struct {
        const char* go;
        long limitMs;
    } cases[] = {{"go wtime 200 btime 200", 200},
                 {"go movetime 300", 450},
                 {"go wtime 50 btime 50", 200},
                 {"go wtime -20 btime 1000", 200},
                 {"go wtime 1000 btime 1000 movestogo 1", 1000},
                 {"go wtime 500 btime 500 winc 100 binc 100 movestogo 0", 500},
                 // A clock beyond any range on the other side changes nothing.
                 {"go btime 99999999999999999999 wtime 1000", 1500},
                 {"go btime 9999999999 wtime 1000", 1500}};
    for (auto& c : cases) {
        EngineStopwatch t0(e);
        e.send(c.go);
        auto lines = readUntilPatiently(e, "bestmove", 5000, 50000);
        ASSERT_FALSE(lines.empty()) << c.go;
        EXPECT_TRUE(std::regex_match(lines.back(), std::regex("bestmove [a-h][1-8][a-h][1-8].*"))) << c.go;
        EXPECT_LT(t0.ms(), c.limitMs) << c.go;
    }
    e.send("quit");
    EXPECT_EQ(e.waitExit(), 0);
}

TEST(Uci, CommandsThatReplaceTablesStopTheSearchFirst) {
    Engine e;
    const std::vector<std::pair<std::string, std::string>> commands = {
        {"setoption name Hash value 32", "info string Size of Hashtable set to : 32"},
        {"setoption name Threads value 2", "info string Number of threads set to : 2"},
        {"setoption name SyzygyPath value <empty>", "info string Syzygy tablebases used from directory : <empty>"},
        {"ucinewgame\nisready", "readyok"},
        {"rtest", "Results of the perft checks is OK: 1"}};
    for (auto& [command, reply] : commands) {
        e.send("position startpos");
        e.send("go infinite");
        e.send("isready");
        e.readUntil("readyok");
        e.send(command);
        auto lines = e.readUntil(reply.substr(0, 20), 30000);
        ASSERT_GE(lines.size(), 2u) << command;
        // The running search printed its move before the command replied.
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](auto& l) { return startsWith(l, "bestmove "); }))
            << command;
        EXPECT_EQ(lines.back(), reply);
    }
    e.send("quit");
    EXPECT_EQ(e.waitExit(), 0);
}

TEST(Uci, BenchSignatureIsTheSameInEveryBuildAndRun) {
    std::string signature;
    for (const char* program : {TARNWICK_BIN, TARNWICK_NOP_BIN, TARNWICK_BMI_BIN, TARNWICK_BIN}) {
        Engine e(program);
        e.send("position startpos moves e2e4");
        e.send("bench 7");
        auto lines = e.readUntil("Bench: ", 120000);
        ASSERT_GT(lines.size(), 30u);
        EXPECT_TRUE(std::regex_match(lines[0], std::regex("bench position 1 of [0-9]+: nodes [0-9]+ time [0-9]+ "
                                                          "bestmove [a-h][1-8][a-h][1-8][nbrq]?")))
            << lines[0];
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines.back(), m, std::regex("Bench: ([0-9]+) nodes [0-9]+ nps")));
        if (signature.empty())
            signature = m[1];
        else
            EXPECT_EQ(m[1], signature) << program;
        // The game position is as before.
        e.send("showboard");
        auto board = e.readUntil("+---+---+---+---+---+---+---+---+");
        for (int i = 0; i < 8; i++) e.next();
        EXPECT_EQ(e.next(), "|   |   |   |   | P |   |   |   |");
        e.send("quit");
        EXPECT_EQ(e.waitExit(), 0);
    }
}

TEST(Uci, TablebasesAtTheRootAndInTheSearch) {
    Engine e;
    e.send(std::string("setoption name SyzygyPath value ") + TARNWICK_SOURCE_DIR "/data/syzygy");
    auto lines = e.readUntil("info string Syzygy");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex("Found [0-9]+ tablebases\\.")));
    EXPECT_EQ(lines[1],
              std::string("info string Syzygy tablebases used from directory : ") + TARNWICK_SOURCE_DIR "/data/syzygy");
    // A table position is answered at once with the tables' line, whose
    // second move is the one to ponder on.
    e.send("position fen 8/8/8/8/8/2k5/8/KQ6 w - - 0 1");
    e.send("go wtime 60000 btime 60000");
    lines = e.readUntil("bestmove");
    ASSERT_EQ(lines.size(), 2u);
    std::smatch m;
    ASSERT_TRUE(
        std::regex_match(lines[0], m,
                         std::regex("info score cp (318[0-9][0-9]) depth 127 seldepth 127 nodes 1 tbhits 1 "
                                    "time 1 pv ([a-h][1-8][a-h][1-8]) ([a-h][1-8][a-h][1-8])( [a-h1-8qrbn]+)*")))
        << lines[0];
    EXPECT_EQ(lines[1], "bestmove " + m[2].str() + " ponder " + m[3].str());
    // A bigger position reaches the tables through captures.
    e.send("position fen 8/8/3k4/8/3r4/8/2B5/2R1K3 w - - 0 1");
    e.send("go depth 12");
    lines = e.readUntil("bestmove", 60000);
    ASSERT_GE(lines.size(), 2u);
    std::smatch hits;
    ASSERT_TRUE(std::regex_search(lines[lines.size() - 2], hits, std::regex("tbhits ([0-9]+)")));
    EXPECT_GT(std::stoll(hits[1]), 0);
    e.send("setoption name SyzygyPath value <empty>");
    EXPECT_EQ(e.next(), "info string Syzygy tablebases used from directory : <empty>");
    e.send("quit");
    EXPECT_EQ(e.waitExit(), 0);
}

// ---------------------------------------------------------------------------
// What a tournament manager relies on
// ---------------------------------------------------------------------------

const std::regex infoWithScore(
    "info score (cp -?[0-9]+|mate -?[0-9]+) depth [0-9]+ .*pv( [a-h][1-8][a-h][1-8][nbrq]?)+");

// Strict parsers split lines on single blanks: no line may end with one.
void expectNoTrailingBlank(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) EXPECT_TRUE(line.empty() || line.back() != ' ') << "'" << line << "'";
}

// Lines until "bestmove" or for at most `ms` of the engine's own time (see
// EngineStopwatch); true when bestmove came.
bool bestmoveWithin(Engine& e, int ms, std::vector<std::string>* lines = nullptr) {
    const std::vector<std::string> got = readUntilPatiently(e, "bestmove", ms, 10 * ms);
    if (lines) lines->insert(lines->end(), got.begin(), got.end());
    return !got.empty() && startsWith(got.back(), "bestmove");
}

TEST(UciContract, PonderAndInfiniteHoldTheAnswerUntilAskedForIt) {
    const std::string tables = std::string(TARNWICK_SOURCE_DIR) + "/data/syzygy";
    struct {
        const char* what;
        const char* position;
        const char* go;
        const char* release;
    } cases[] = {
        {"one legal move", "fen 7k/8/8/8/8/8/1q6/K7 w - - 0 1", "go ponder wtime 60000 btime 60000", "ponderhit"},
        {"tablebase root", "fen 8/8/8/8/8/2k5/8/KQ6 w - - 0 1", "go infinite", "stop"},
        {"checkmated", "fen 8/8/8/8/8/2k5/1q6/K7 w - - 0 1", "go ponder wtime 60000 btime 60000", "ponderhit"},
        {"stalemated", "fen 7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", "go infinite", "stop"},
        {"ponder depth", "startpos moves e2e4", "go ponder depth 3", "ponderhit"},
        {"ponder nodes", "startpos moves e2e4", "go ponder nodes 2000", "ponderhit"},
        {"infinite nodes", "startpos moves e2e4", "go infinite nodes 2000", "stop"},
        {"mate, infinite", "fen 6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - 0 1", "go infinite", "stop"},
        {"mate, ponder", "fen 6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - 0 1", "go ponder wtime 60000 btime 60000", "ponderhit"},
    };
    Engine e;
    e.send("setoption name Ponder value true");
    e.send("setoption name SyzygyPath value " + tables);
    e.send("isready");
    e.readUntil("readyok");
    for (auto& c : cases) {
        e.send(std::string("position ") + c.position);
        e.send(c.go);
        std::vector<std::string> lines;
        EXPECT_FALSE(bestmoveWithin(e, 400, &lines)) << c.what << ": answered before " << c.release;
        e.send(c.release);
        EXPECT_TRUE(bestmoveWithin(e, 3000, &lines)) << c.what;
        // Exactly one answer: the next line is the reply to isready.
        EXPECT_EQ(e.ask("isready"), "readyok") << c.what;
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](auto& l) { return startsWith(l, "bestmove"); }), 1)
            << c.what;
    }
    e.send("quit");
    EXPECT_EQ(e.waitExit(), 0);
}

TEST(UciContract, RejectedPositionsAreNeverSearched) {
    // (The reasons a FEN is rejected are listed in the board tests.)
    const char* rejected[] = {
        "fen 8/8/8/8/8/8/8/8 w - - 0 1",        // no kings
        "fen 4k3/8/8/8/8/8/8/4K2RR w - - 0 1",  // a rank of nine squares
        "fen 4k3/8/8/8/8/8/8/r3K3 b - - 0 1",   // White in check, Black to move
        "startpos moves e2e4 e7e4",             // an illegal move
        "somewhere",                            // neither startpos nor fen
    };
    Engine e;
    for (const char* position : rejected) {
        e.send(std::string("position ") + position);
        const std::string why = e.next();
        EXPECT_TRUE(startsWith(why, "info string ")) << position << ": " << why;
        for (const char* command : {"eval", "showboard", "perft 1", "evil"})
            EXPECT_EQ(e.ask(command), "info string no valid position: the last 'position' command was rejected")
                << position << " / " << command;
        e.send("go depth 1");
        EXPECT_EQ(e.readUntil("bestmove"),
                  (std::vector<std::string>{"info string no valid position: the last 'position' command was rejected",
                                            "bestmove 0000"}))
            << position;
    }
    EXPECT_EQ(e.ask("position startpos moves e2e4 e7e5 g1f3 e7e5 b8c6"),
              "info string illegal or unreadable move 'e7e5'; position rejected");
    // The fields that only add detail are taken as far as they fit the board.
    const char* accepted[][2] = {
        {"fen 4k3/8/8/8/8/8/8/4K2R w K e3 -3 -7", "e1g1"},  // en passant on the wrong rank, negative counters
        {"fen 4k3/8/8/8/8/8/8/4K2R w KQkq - x", "e1g1"},    // rights without their rooks; a counter no number
    };
    for (auto& [position, move] : accepted) {
        e.send(std::string("position ") + position + " moves " + move);
        e.send("go depth 1");
        auto lines = e.readUntil("bestmove");
        ASSERT_FALSE(lines.empty());
        EXPECT_TRUE(std::regex_match(lines.back(), std::regex("bestmove [a-h][1-8][a-h][1-8]"))) << position;
        EXPECT_FALSE(startsWith(lines.front(), "info string")) << position << ": " << lines.front();
    }
    e.send("quit");
    EXPECT_EQ(e.waitExit(), 0);
}

TEST(UciContract, GoMateEndsOnlyOnAMateThatShort) {
    // 1.Kc7 mates in two; the pruned search first sees a mate in three.
    const std::string mateInTwo = "position fen k7/8/2K5/8/8/8/8/1R6 w - - 0 1";
    Engine e;
    e.send(mateInTwo);
    EngineStopwatch t0(e);
    e.send("go mate 2");
    auto lines = e.readUntil("bestmove");
    ASSERT_GE(lines.size(), 2u);
    EXPECT_TRUE(startsWith(lines[lines.size() - 2], "info score mate 2 depth ")) << lines[lines.size() - 2];
    EXPECT_TRUE(startsWith(lines.back(), "bestmove c6c7")) << lines.back();
    EXPECT_LT(t0.ms(), 2000);
    // A mate in one is asked for and there is none: the search goes on to
    // its other limit, still reporting the mate in two it has.
    e.send(mateInTwo);
    e.send("go mate 1 depth 9");
    lines = e.readUntil("bestmove");
    ASSERT_GE(lines.size(), 2u);
    EXPECT_TRUE(startsWith(lines[lines.size() - 2], "info score mate 2 depth 9 ")) << lines[lines.size() - 2];
    // Being mated (whatever Black plays, Qg7#) is not what "go mate" asks
    // for either; the mate is counted in the side's own moves.
    e.send("position fen 7k/p7/5K2/8/8/8/8/6Q1 b - - 0 1");
    e.send("go mate 3 depth 7");
    lines = e.readUntil("bestmove");
    ASSERT_GE(lines.size(), 2u);
    EXPECT_TRUE(startsWith(lines[lines.size() - 2], "info score mate -1 depth 7 ")) << lines[lines.size() - 2];
    e.send("quit");
    EXPECT_EQ(e.waitExit(), 0);
}

TEST(UciContract, NodeLimitCountsThisSearchOnly) {
    Engine e;
    std::vector<std::string> answers;
    for (int run = 0; run < 3; run++) {
        e.send("ucinewgame");
        e.readUntil("readyok");
        e.send("position startpos moves d2d4");
        e.send("go nodes 5000");
        auto lines = e.readUntil("bestmove", 30000);
        ASSERT_GE(lines.size(), 2u);
        std::smatch m;
        ASSERT_TRUE(std::regex_search(lines[lines.size() - 2], m, std::regex(" nodes ([0-9]+) "))) << lines[0];
        const long nodes = std::stol(m[1]);
        EXPECT_GE(nodes, 5000);
        EXPECT_LT(nodes, 5200);
        answers.push_back(m[1].str() + " " + lines.back());
    }
    EXPECT_EQ(answers[1], answers[0]);
    EXPECT_EQ(answers[2], answers[0]);
    e.send("quit");
    EXPECT_EQ(e.waitExit(), 0);
}

TEST(UciContract, NumbersOutOfRangeArePulledIntoIt) {
    // (Clocks beyond their range are among the time budgets above.)
    Engine e;
    e.send("position startpos moves e2e4");
    e.send("go depth -3");
    auto lines = e.readUntil("bestmove");
    EXPECT_TRUE(std::regex_search(lines.front(), std::regex("^info score cp -?[0-9]+ depth 1 "))) << lines.front();
    // A limit word without a number is reported; the rest of the line counts.
    e.send("go nodes lots depth 2");
    lines = e.readUntil("bestmove");
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "info string go: 'nodes' needs a number");
    EXPECT_TRUE(std::regex_search(lines[lines.size() - 2], std::regex(" depth 2 "))) << lines[lines.size() - 2];
    EXPECT_EQ(e.ask("perft 21"), "info string perft depth must be between 1 and 20");
    EXPECT_EQ(e.ask("perft 0"), "info string perft depth must be between 1 and 20");
    EXPECT_EQ(e.ask("perft deep"), "info string perft needs a depth number, not 'deep'");
    e.send("quit");
    EXPECT_EQ(e.waitExit(), 0);
}

TEST(UciContract, EverySearchReportsAScoreBeforeItsMove) {
    Engine e;
    struct {
        const char* what;
        const char* go;
        const char* stopAfter;  // nullptr: ends by itself
    } cases[] = {
        {"bullet clock", "go wtime 100 btime 100", nullptr},
        {"shallow depth", "go depth 4", nullptr},
        {"early stop", "go infinite", "stop"},
        {"tiny node limit", "go nodes 1", nullptr},
    };
    for (auto& c : cases) {
        e.send("position startpos moves g1f3");
        // A stop right behind the "go" ends the search before it could
        // finish a depth of its own.
        e.write(std::string(c.go) + "\n" + (c.stopAfter ? std::string(c.stopAfter) + "\n" : ""));
        auto lines = e.readUntil("bestmove");
        ASSERT_GE(lines.size(), 2u) << c.what;
        const std::string& last = lines[lines.size() - 2];
        EXPECT_TRUE(std::regex_match(last, infoWithScore)) << c.what << ": " << last;
        // A real depth, however early the search was stopped, with the
        // nodes it took (GUIs show "depth 0" as a broken engine).
        std::smatch depth;
        ASSERT_TRUE(std::regex_search(last, depth, std::regex(" depth ([0-9]+) .* nodes ([0-9]+) ")));
        EXPECT_GE(std::stoi(depth[1]), 1) << c.what << ": " << last;
        EXPECT_GT(std::stoll(depth[2]), 0) << c.what << ": " << last;
        // The line's PV starts with the move played.
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines.back(), m, std::regex("bestmove ([a-h][1-8][a-h][1-8][nbrq]?).*")));
        EXPECT_NE(last.find(" pv " + m[1].str()), std::string::npos) << c.what << ": " << last;
    }
    e.send("quit");
    EXPECT_EQ(e.waitExit(), 0);
}

// A command that has to wait for the running search (a second "go", a new
// thread count) must not stop the loop: "isready" is still answered at once,
// "stop" and "quit" still act on the running search (unless it is already
// ending), and the waiting command runs after it.
TEST(UciContract, WaitingCommandKeepsTheLoopAnswering) {
    {
        Engine e;
        e.send("position startpos");
        e.send("go wtime 3000 btime 3000 movestogo 1");
        e.send("go depth 1");
        EngineStopwatch t0(e);
        e.send("isready");
        std::vector<std::string> lines = e.readUntil("readyok"), more;
        EXPECT_LT(t0.ms(), 100);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), "readyok");
        for (const std::string& l : lines) EXPECT_FALSE(startsWith(l, "bestmove")) << "the first search ended early";
        t0 = EngineStopwatch(e);
        e.send("stop");
        more = e.readUntil("bestmove");
        EXPECT_LT(t0.ms(), 500);  // the first search, stopped at once
        ASSERT_FALSE(more.empty());
        EXPECT_TRUE(startsWith(more.back(), "bestmove ")) << more.back();
        lines.insert(lines.end(), more.begin(), more.end());
        more = e.readUntil("bestmove");  // then the waiting depth-1 search
        ASSERT_GE(more.size(), 2u);
        EXPECT_TRUE(std::regex_search(more[more.size() - 2], std::regex(" depth 1 "))) << more[more.size() - 2];
        lines.insert(lines.end(), more.begin(), more.end());
        expectNoTrailingBlank(lines);
        e.send("quit");
        EXPECT_EQ(e.waitExit(), 0);
    }
    {
        // "quit" while a thread count waits: the search ends, the option is
        // set, and the program ends.
        Engine e;
        e.send("position startpos");
        e.send("go wtime 3000 btime 3000 movestogo 1");
        e.send("setoption name Threads value 2");
        EngineStopwatch t0(e);
        e.send("isready");
        auto lines = e.readUntil("readyok");
        EXPECT_LT(t0.ms(), 100);
        e.send("quit");
        auto rest = e.readAll(5000);
        EXPECT_LT(t0.ms(), 1000);
        ASSERT_GE(rest.size(), 2u);
        EXPECT_TRUE(startsWith(rest[rest.size() - 2], "bestmove ")) << rest[rest.size() - 2];
        EXPECT_EQ(rest.back(), "info string Number of threads set to : 2");
        EXPECT_EQ(e.waitExit(), 0);
    }
    {
        // A "stop" that comes while a "go" waits for a search that is already
        // ending is for the new search: an infinite search must not be left
        // running.
        Engine e;
        e.write("position startpos\ngo infinite\ngo infinite\nstop\n");
        auto lines = readUntilPatiently(e, "bestmove", 5000, 50000);
        ASSERT_FALSE(lines.empty());
        EXPECT_TRUE(startsWith(lines.back(), "bestmove ")) << "the first search";
        lines = readUntilPatiently(e, "bestmove", 5000, 50000);
        ASSERT_FALSE(lines.empty());
        EXPECT_TRUE(startsWith(lines.back(), "bestmove ")) << "the second search ignored its stop";
        e.send("quit");
        EXPECT_EQ(e.waitExit(), 0);
    }
    {
        // Lines ended by CR LF, as some Windows GUIs send them.
        Engine e;
        e.write("isready\r\nposition startpos moves e2e4\r\ngo depth 2\r\n");
        EXPECT_EQ(e.next(), "readyok");
        auto lines = e.readUntil("bestmove");
        ASSERT_GE(lines.size(), 2u);
        EXPECT_TRUE(
            std::regex_match(lines.back(), std::regex("bestmove [a-h][1-8][a-h][1-8] ponder [a-h][1-8][a-h][1-8]")))
            << lines.back();
        e.send("quit");
        EXPECT_EQ(e.waitExit(), 0);
    }
}

}  // namespace
