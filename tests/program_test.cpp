// The built programs driven through standard input, output and arguments,
// with whole output lines compared.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <regex>

#include "engine_process.h"

namespace {

const std::vector<std::pair<std::string, std::string>> kPrograms = {
    {TARNWICK_BIN, ""}, {TARNWICK_NOP_BIN, " NOP"}, {TARNWICK_BMI_BIN, " BMI"}};

std::vector<std::string> banner(const std::string& suffix) {
    return {"Tarnwick 2.3" + suffix, "by Quorvane", "", "enter 'help' to see the commands"};
}

// Output after the four banner lines.
std::vector<std::string> reply(const std::string& input, const std::vector<std::string>& args = {},
                               const std::string& program = TARNWICK_BIN, int* status = nullptr) {
    auto lines = runProgram(program, input, args, status);
    if (lines.size() < 4) return {};
    return std::vector<std::string>(lines.begin() + 4, lines.end());
}

const std::vector<std::string> kStartBoard = {
    "+---+---+---+---+---+---+---+---+", "| r | n | b | q | k | b | n | r |", "+---+---+---+---+---+---+---+---+",
    "| p | p | p | p | p | p | p | p |", "+---+---+---+---+---+---+---+---+", "|   |   |   |   |   |   |   |   |",
    "+---+---+---+---+---+---+---+---+", "|   |   |   |   |   |   |   |   |", "+---+---+---+---+---+---+---+---+",
    "|   |   |   |   |   |   |   |   |", "+---+---+---+---+---+---+---+---+", "|   |   |   |   |   |   |   |   |",
    "+---+---+---+---+---+---+---+---+", "| P | P | P | P | P | P | P | P |", "+---+---+---+---+---+---+---+---+",
    "| R | N | B | Q | K | B | N | R |", "+---+---+---+---+---+---+---+---+"};

TEST(Program, BannerUnknownCommandsAndEndOfInput) {
    for (auto& [program, suffix] : kPrograms) {
        int status = -1;
        auto lines = runProgram(program, "isready\nfoo\n\n   \nQuit\n", {}, &status);
        std::vector<std::string> expected = banner(suffix);
        for (auto l : {"readyok", "Unknown command", "Unknown command", "Unknown command", "Unknown command"})
            expected.push_back(l);
        EXPECT_EQ(lines, expected) << program;
        EXPECT_EQ(status, 0);  // end of input behaves as quit
    }
    int status = -1;
    EXPECT_EQ(reply("quit\nisready\n", {}, TARNWICK_BIN, &status), std::vector<std::string>{});
    EXPECT_EQ(status, 0);
}

TEST(Program, PositionAndShowboard) {
    EXPECT_EQ(reply("position startpos\nshowboard\n"), kStartBoard);
    auto moved = reply("position startpos moves e2e4 e7e5 g1f3 b8c6 f1b5\nshowboard\n");
    ASSERT_EQ(moved.size(), 17u);
    EXPECT_EQ(moved[3], "| p | p | p | p |   | p | p | p |");
    EXPECT_EQ(moved[5], "|   |   | n |   |   |   |   |   |");
    EXPECT_EQ(moved[7], "|   | B |   |   | p |   |   |   |");
    EXPECT_EQ(moved[15], "| R | N | B | Q | K |   |   | R |");
    auto fen = reply("position fen 4k3/8/8/8/8/8/8/R3K2R w KQ - 0 1 moves e1c1\nshowboard\n");
    ASSERT_EQ(fen.size(), 17u);
    EXPECT_EQ(fen[15], "|   |   | K | R |   |   |   | R |");
    // "moves" with nothing after it, and "startpos" alone.
    EXPECT_EQ(reply("position fen 8/8/8/8/8/8/8/K6k w - - 0 1 moves\nposition startpos\nshowboard\n"), kStartBoard);
}

TEST(Program, HelpAndPerftLines) {
    EXPECT_EQ(reply("help\n"),
              (std::vector<std::string>{"supported UCI commands 'uci' 'ucinewgame' 'position' 'go' 'ponderhit' 'stop' "
                                        "'quit' 'setoption' 'isready'",
                                        "other commands 'perft depth', default depth=6, change board with 'position'; "
                                        "'showboard' shows the current board",
                                        "developer commands 'rtest' 'eval' 'evil' 'bench [depth]' 'texel' (see the "
                                        "README)"}));
    // The depth given is remembered for the next "perft".
    auto out = reply("perft 3\nperft\n");
    ASSERT_EQ(out.size(), 2 * 19u);
    for (int run = 0; run < 2; run++) {
        EXPECT_EQ(std::vector<std::string>(out.begin() + run * 19, out.begin() + run * 19 + 17), kStartBoard);
        EXPECT_TRUE(std::regex_match(out[run * 19 + 17], std::regex("[0-9]+ ns and [0-9.e+-]+ in seconds")))
            << out[run * 19 + 17];
        EXPECT_TRUE(std::regex_match(out[run * 19 + 18],
                                     std::regex("Perft results for depth: 3  8902  Nodes per sec: [0-9.e+]+")))
            << out[run * 19 + 18];
    }
}

TEST(Program, CommandFromArguments) {
    int status = -1;
    auto out = reply("", {"perft", "2"}, TARNWICK_BIN, &status);
    ASSERT_EQ(out.size(), 19u);
    EXPECT_EQ(out[18].substr(0, 33), "Perft results for depth: 2  400  ");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(reply("", {"isready"}), std::vector<std::string>{"readyok"});
}

TEST(Program, PerftCheckSkipsUnreadableRecords) {
    // A regression file of the user's own in the working directory: records
    // whose depth or count is no number in range are reported and skipped,
    // a wrong count fails the check.
    char dir[] = "/tmp/tarnwick-rtest-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string start = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
    const std::vector<std::string> unreadable = {
        ";0;1", ";200;1", ";-1;20", ";x;20", ";1;-20", ";1;99999999999999999999", ";1"};
    std::ofstream file(std::string(dir) + "/perft.txt");
    file << start << ";1;20\n";
    for (const std::string& fields : unreadable) file << start << fields << "\n";
    file << start << ";2;401\n";
    file.close();

    EngineProcess p(TARNWICK_BIN, {"rtest"}, dir);
    p.closeInput();
    const std::vector<std::string> all = p.readAll();
    p.waitExit();
    std::filesystem::remove_all(dir);
    ASSERT_EQ(all.size(), 4 + 1 + unreadable.size() + 2);
    const std::vector<std::string> out(all.begin() + 4, all.end());
    EXPECT_TRUE(std::regex_match(out[0], std::regex("1; " + start + "; 1; 20; 20; [0-9]+"))) << out[0];
    for (size_t i = 0; i < unreadable.size(); i++)
        EXPECT_EQ(out[1 + i], "info string skipped unreadable perft record: " + start + unreadable[i]);
    EXPECT_TRUE(std::regex_match(out[out.size() - 2], std::regex("0; " + start + "; 2; 401; 400; [0-9]+")));
    EXPECT_EQ(out.back(), "Results of the perft checks is OK: 0");
}

TEST(Program, BadCommandInputNeverHurts) {
    // A very long game of legal moves: the key history never overflows.
    std::string game = "position startpos moves";
    for (int i = 0; i < 2500; i++) game += " g1f3 g8f6 f3g1 f6g8";
    auto longGame = reply(game + "\nshowboard\nperft 2\n");
    ASSERT_EQ(longGame.size(), 17u + 19u);
    EXPECT_EQ(std::vector<std::string>(longGame.begin(), longGame.begin() + 17), kStartBoard);
    EXPECT_EQ(longGame.back().substr(0, 33), "Perft results for depth: 2  400  ");

    // Random bytes and a very long line.
    std::mt19937 rng(7);
    std::string noise;
    for (int i = 0; i < 200000; i++) noise += (char)(rng() & 0xff);
    std::string longLine = "position fen " + std::string(3 << 20, 'p') + "\n";
    int status = -1;
    auto after = reply(noise + "\n" + longLine + "position startpos moves " + std::string(1 << 20, 'e') + "\nisready\n",
                       {}, TARNWICK_BIN, &status);
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(after.back(), "readyok");
    EXPECT_EQ(status, 0);
}

}  // namespace
