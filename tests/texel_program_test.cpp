// The "texel" command driven through standard input in a scratch working
// directory that holds the tuning file.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>

#include "engine_process.h"

namespace {

struct ScratchDir {
    std::string path;
    ScratchDir() {
        char tmpl[] = "/tmp/tarnwick-texel-XXXXXX";
        if (mkdtemp(tmpl)) path = tmpl;
    }
    ~ScratchDir() { std::filesystem::remove_all(path); }
    void write(const std::string& text) const { std::ofstream(path + "/lichess-good.epd", std::ios::binary) << text; }
};

// The output lines after the banner, "Lets go" lines counted apart.
std::vector<std::string> runIn(const ScratchDir& dir, const std::string& input, int* letsGo = nullptr) {
    EngineProcess p(TARNWICK_BIN, {}, dir.path);
    p.write(input);
    p.closeInput();
    std::vector<std::string> lines, all = p.readAll(120000);
    p.waitExit();
    for (size_t i = 4; i < all.size(); i++) {
        if (all[i] != "Lets go")
            lines.push_back(all[i]);
        else if (letsGo)
            ++*letsGo;
    }
    return lines;
}

const char* const FENS[] = {
    "8/8/4p3/5k2/8/5K2/8/8 b - -",
    "7R/8/8/2K5/6k1/8/1r6/8 w - -",
    "8/5p2/1p1p3p/pB1Pp1kP/P3P3/4KP1b/1P6/8 w - -",
    "8/6R1/1K6/1P6/1k6/8/r7/8 b - -",
    "2rn1rk1/p2bqpbp/6p1/2p5/3PP3/B1P2B2/PRQ3PP/4NRK1 w - -",
    "8/1p2r3/7p/8/3b4/1k3PP1/4B2P/3R1K2 b - -",
    "r1kr1b2/1ppn1ppp/p7/3NP3/8/4B1P1/PPP1K2P/3R3R w - -",
    "3r1bk1/1R4pp/n1r5/P1pp1p2/5P1P/2NP1K2/3BP3/R7 b - -",
};
// Result words: "1-0" a win, "1/2" or "1/2-1/2" a draw, anything else a loss.
const char* const RESULTS[] = {"\"1-0\";", "\"1/2-1/2\";", "\"0-1\";", "1-0", "\"*\";", "1/2", "\"2-0\";"};
const double VALUES[] = {1.0, 0.5, 0.0, 1.0, 0.0, 0.5, 0.0};

// Line i: one of the positions and one of the results; every eleventh line
// (from the sixth) has no kings when `unusable` is set.
bool unusableLine(int i) { return i % 11 == 5; }
std::string tuningFile(int lines, bool unusable = false) {
    std::string file;
    for (int i = 0; i < lines; i++)
        file += std::string(unusable && unusableLine(i) ? "8/8/8/8/8/8/8/8 w - -" : FENS[i % 8]) + " c9 " +
                RESULTS[i % 7] + "\n";
    return file;
}

TEST(TexelProgram, ReportRepeatedWithTheSameError) {
    ScratchDir dir;
    dir.write(tuningFile(65));
    int letsGo = 0;
    auto out = runIn(dir, "texel\ntexel\nisready\n", &letsGo);
    EXPECT_EQ(letsGo, 60);
    ASSERT_EQ(out.size(), 11u);
    ASSERT_TRUE(std::regex_match(out[1], std::regex("Starting error 0\\.[0-9]{4,6}"))) << out[1];
    const std::string e = out[1].substr(15);
    const std::vector<std::string> report = {"Starting texel tuning....", "Starting error " + e, "", " Improving: 1",
                                             "Ending error " + e + " Minimum error " + e};
    EXPECT_EQ(std::vector<std::string>(out.begin(), out.begin() + 5), report);
    // The second run reads the file again: twice the positions, same mean.
    EXPECT_EQ(std::vector<std::string>(out.begin() + 5, out.begin() + 10), report);
    EXPECT_EQ(out[10], "readyok");
}

// The printed error against one worked out here from the white-view scores
// that the "eval" command prints for the same positions.
// A file large enough to be checked by several threads, lines without a
// usable position among them.
TEST(TexelProgram, ErrorAgreesWithTheEvalCommand) {
    ScratchDir dir;
    const int lines = 5000;
    dir.write(tuningFile(lines, true));
    std::string evalInput;
    for (const char* fen : FENS) evalInput += std::string("position fen ") + fen + "\neval\n";
    std::vector<int> white;
    std::smatch m;
    for (const std::string& line : runIn(dir, evalInput))
        if (std::regex_match(line, m,
                             std::regex("Static evaluation: -?[0-9]+ \\(side to move\\), (-?[0-9]+) \\(white\\)")))
            white.push_back(std::stoi(m[1]));
    ASSERT_EQ(white.size(), 8u);
    double sum = 0;
    int used = 0;
    for (int i = 0; i < lines; i++) {
        if (unusableLine(i)) continue;
        const double expected = 1.0 / (1.0 + std::pow(10.0, -1.55 * (int16_t)white[i % 8] / 400.0));
        sum += (VALUES[i % 7] - expected) * (VALUES[i % 7] - expected);
        used++;
    }
    auto out = runIn(dir, "texel\n");
    ASSERT_EQ(out.size(), 6u);
    ASSERT_TRUE(std::regex_match(out[1], m, std::regex("Starting error (\\S+)")));
    EXPECT_NEAR(std::stod(m[1]), sum / used, sum / used * 5e-6) << out[1];  // six significant digits
    EXPECT_EQ(out[5], "info string skipped " + std::to_string(lines - used) +
                          " lines of lichess-good.epd that hold no usable position");
}

TEST(TexelProgram, MissingOrUnreadableFile) {
    const std::vector<std::string> expected = {"There seems to be a problem with the tuning file. tuning not executed",
                                               "readyok"};
    ScratchDir dir;
    int letsGo = 0;
    EXPECT_EQ(runIn(dir, "texel\nisready\n", &letsGo), expected);
    std::filesystem::create_directory(dir.path + "/lichess-good.epd");  // opens, cannot be read
    EXPECT_EQ(runIn(dir, "texel\nisready\n", &letsGo), expected);
    EXPECT_EQ(letsGo, 0);
}

TEST(TexelProgram, LinesWithoutAUsablePositionAreSkipped) {
    ScratchDir dir;
    dir.write(std::string(FENS[0]) + " c9 \"1-0\";\r\n\r\n" +        // DOS line end: read; blank
              "8/8/8/8/8/8/8/8 w - - c9 \"1-0\";\n" +                // no kings
              "4k3/8/8/8/8/8/8/4K2P w - - c9 \"0-1\";\n" +           // pawn on the last rank
              "rnbqkbnr/pppppppp/8/8 c9 \"1-0\";\n" +                // half a board
              "no marker\n" + FENS[1] + " c9\n" + "c9 \"1-0\";\n" +  // no c9, no result, no FEN
              FENS[2] + " c9 \"0-1\";");                             // no line end at the end
    auto out = runIn(dir, "texel\nisready\n");
    ASSERT_EQ(out.size(), 7u);
    EXPECT_EQ(out[1].find("nan"), std::string::npos);
    EXPECT_EQ(out[5], "info string skipped 7 lines of lichess-good.epd that hold no usable position");

    // A file that yields no position at all: no division by zero.
    for (const std::string text : {"", "x c9\n\n"}) {
        dir.write(text);
        int letsGo = 0;
        out = runIn(dir, "texel\nisready\n", &letsGo);
        EXPECT_EQ(letsGo, 30);
        ASSERT_GE(out.size(), 3u);
        EXPECT_EQ(out[0], "Starting texel tuning....");
        EXPECT_EQ(out[1], "info string lichess-good.epd holds no usable position; there is no error to report");
        EXPECT_EQ(out.back(), "readyok");
        EXPECT_EQ(out.size(), text.empty() ? 3u : 4u);
    }
}

}  // namespace
