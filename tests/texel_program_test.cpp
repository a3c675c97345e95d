// The "texel" command driven through standard input in a scratch working
// directory that holds the tuning file.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "engine_process.h"

namespace {

class ScratchDir {
  public:
    ScratchDir() {
        char tmpl[] = "/tmp/tarnwick-texel-XXXXXX";
        if (mkdtemp(tmpl)) path_ = tmpl;
    }
    ~ScratchDir() {
        if (!path_.empty()) std::filesystem::remove_all(path_);
    }
    void write(const std::string& name, const std::string& text) const {
        std::ofstream f(path_ + "/" + name, std::ios::binary);
        f << text;
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// Every output line after the banner, for `input` run in `dir`.
std::vector<std::string> runIn(const ScratchDir& dir, const std::string& input,
                               const std::string& program = TARNWICK_BIN) {
    EngineProcess p(program, {}, dir.path());
    p.write(input);
    p.closeInput();
    auto lines = p.readAll(120000);
    p.waitExit();
    if (lines.size() < 4) return {};
    return std::vector<std::string>(lines.begin() + 4, lines.end());
}

// The output of one "texel" command: 30 "Lets go" lines, the report, and
// the two errors it printed.
struct texelRun {
    int letsGo = 0;
    std::vector<std::string> report;
    double start = NAN, end = NAN;
};

std::vector<texelRun> splitRuns(const std::vector<std::string>& out) {
    std::vector<texelRun> runs;
    for (const std::string& line : out) {
        if (line == "Lets go") {
            if (runs.empty() || !runs.back().report.empty()) runs.emplace_back();
            runs.back().letsGo++;
            continue;
        }
        if (runs.empty()) runs.emplace_back();
        runs.back().report.push_back(line);
        std::smatch m;
        if (std::regex_match(line, m, std::regex("Starting error (\\S+)"))) runs.back().start = std::stod(m[1]);
        if (std::regex_match(line, m, std::regex("Ending error (\\S+) Minimum error \\S+")))
            runs.back().end = std::stod(m[1]);
    }
    return runs;
}

const char* const kFens[] = {
    "8/8/4p3/5k2/8/5K2/8/8 b - -",
    "7R/8/8/2K5/6k1/8/1r6/8 w - -",
    "8/5p2/1p1p3p/pB1Pp1kP/P3P3/4KP1b/1P6/8 w - -",
    "8/6R1/1K6/1P6/1k6/8/r7/8 b - -",
    "2rn1rk1/p2bqpbp/6p1/2p5/3PP3/B1P2B2/PRQ3PP/4NRK1 w - -",
    "8/8/6K1/8/1p6/1q2k3/8/4b3 w - -",
    "8/1p2r3/7p/8/3b4/1k3PP1/4B2P/3R1K2 b - -",
    "r1kr1b2/1ppn1ppp/p7/3NP3/8/4B1P1/PPP1K2P/3R3R w - -",
    "6k1/pr6/2pq1p2/4pbpp/2P5/2QPBP2/2P3PP/R5K1 w - -",
    "3r1bk1/1R4pp/n1r5/P1pp1p2/5P1P/2NP1K2/3BP3/R7 b - -",
    "7k/pp6/2p2p2/P1Pp1P1P/8/2r5/K3P3/8 w - -",
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
};
const char* const kResults[] = {"\"1-0\";", "\"1/2-1/2\";", "\"0-1\";", "1-0", "\"*\";"};
const double kValues[] = {1.0, 0.5, 0.0, 1.0, 0.0};

TEST(Texel, ReportsTheSameErrorEveryTime) {
    ScratchDir dir;
    std::string file;
    for (int i = 0; i < 65; i++) file += std::string(kFens[i % 12]) + " c9 " + kResults[i % 5] + "\n";
    dir.write("lichess-good.epd", file);
    auto runs = splitRuns(runIn(dir, "texel\ntexel\nisready\n"));
    ASSERT_EQ(runs.size(), 2u);
    for (const texelRun& r : runs) {
        EXPECT_EQ(r.letsGo, 30);
        ASSERT_EQ(r.report.size(), 5u + (&r == &runs.back()));
        EXPECT_EQ(r.report[0], "Starting texel tuning....");
        EXPECT_TRUE(std::regex_match(r.report[1], std::regex("Starting error 0\\.[0-9]+"))) << r.report[1];
        EXPECT_EQ(r.report[2], "");
        EXPECT_EQ(r.report[3], " Improving: 1");
        EXPECT_EQ(r.report[4], "Ending error " + r.report[1].substr(15) + " Minimum error " + r.report[1].substr(15));
    }
    // The second run reads the file again: twice the positions, same mean.
    EXPECT_EQ(runs[0].report[1], runs[1].report[1]);
    EXPECT_EQ(runs[1].report.back(), "readyok");
}

// The printed error against one worked out here from the "eval" command's
// white-view scores of the same positions.
TEST(Texel, ErrorAgreesWithTheEvalCommand) {
    ScratchDir dir;
    std::string file, evalInput;
    std::vector<double> results;
    for (int i = 0; i < 24; i++) {
        file += std::string(kFens[i % 12]) + " c9 " + kResults[i % 5] + "\n";
        results.push_back(kValues[i % 5]);
    }
    for (const char* fen : kFens) evalInput += std::string("position fen ") + fen + "\neval\n";
    dir.write("lichess-good.epd", file);

    auto evalOut = runIn(dir, evalInput);
    std::vector<int> white;
    std::smatch m;
    const std::regex last("Static evaluation: (-?[0-9]+) \\(side to move\\), (-?[0-9]+) \\(white\\)");
    for (const std::string& line : evalOut)
        if (std::regex_match(line, m, last)) white.push_back(std::stoi(m[2]));
    ASSERT_EQ(white.size(), 12u);
    double sum = 0;
    for (int i = 0; i < 24; i++) {
        const int e = (int16_t)white[i % 12];
        const double expected = 1.0 / (1.0 + std::pow(10.0, -1.55 * e / 400.0));
        sum += (results[i] - expected) * (results[i] - expected);
    }
    const double mine = sum / 24;

    auto runs = splitRuns(runIn(dir, "texel\n"));
    ASSERT_EQ(runs.size(), 1u);
    ASSERT_FALSE(std::isnan(runs[0].start));
    // Six significant digits are printed.
    EXPECT_NEAR(runs[0].start, mine, mine * 5e-6 + 1e-12) << runs[0].report[1];
    EXPECT_EQ(runs[0].end, runs[0].start);
}

TEST(Texel, MissingOrUnreadableFile) {
    const std::vector<std::string> expected = {
        "There seems to be a problem with the tuning file. tuning not executed", "readyok"};
    ScratchDir dir;
    EXPECT_EQ(runIn(dir, "texel\nisready\n"), expected);
    // A directory of that name opens but cannot be read.
    std::filesystem::create_directory(dir.path() + "/lichess-good.epd");
    EXPECT_EQ(runIn(dir, "texel\nisready\n"), expected);
}

TEST(Texel, BadLinesAreSkippedAndCounted) {
    ScratchDir dir;
    dir.write("lichess-good.epd",
              std::string(kFens[0]) + " c9 \"1-0\";\r\n" +    // DOS line end: read
                  "\r\n"                                         // blank
                  "8/8/8/8/8/8/8/8 w - - c9 \"1-0\";\n"          // no kings
                  "4k3/8/8/8/8/8/8/4K2P w - - c9 \"0-1\";\n"     // pawn on the last rank
                  "rnbqkbnr/pppppppp/8/8 c9 \"1-0\";\n"          // half a board
                  "just some words\n"                             // no c9
                  + kFens[1] + " c9\n" +                          // nothing after c9
                  "c9 \"1-0\";\n" +                               // no FEN
                  kFens[2] + " c9 \"0-1\";");                     // no line end at the end
    auto out = runIn(dir, "texel\nisready\n");
    auto runs = splitRuns(out);
    ASSERT_EQ(runs.size(), 1u);
    ASSERT_EQ(runs[0].report.size(), 7u);
    EXPECT_EQ(runs[0].report[5], "info string skipped 7 lines of lichess-good.epd that hold no usable position");
    EXPECT_EQ(runs[0].report[6], "readyok");
    EXPECT_FALSE(std::isnan(runs[0].start));
}

TEST(Texel, FileWithoutPositions) {
    for (const std::string text : {std::string(""), std::string("\n\n"), std::string("x c9\nno position\n")}) {
        ScratchDir dir;
        dir.write("lichess-good.epd", text);
        auto runs = splitRuns(runIn(dir, "texel\nisready\n"));
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0].letsGo, 30);
        ASSERT_GE(runs[0].report.size(), 3u);
        EXPECT_EQ(runs[0].report[0], "Starting texel tuning....");
        EXPECT_EQ(runs[0].report[1],
                  "info string lichess-good.epd holds no usable position; there is no error to report");
        for (const std::string& line : runs[0].report) EXPECT_EQ(line.find("nan"), std::string::npos) << line;
        EXPECT_EQ(runs[0].report.back(), "readyok");
    }
}

}  // namespace
