// The Texel error: the logistic curve, reading the tuning file, the split of
// the positions over the tuning threads and the command's persistent state.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "texel.h"
#include "uci.h"

namespace {

TEST(TexelScore, LogisticCurve) {
    // An even position is a coin toss; a won game adds (1 - 0.5)^2 to the sum.
    EXPECT_DOUBLE_EQ(texelExpectedScore(0), 0.5);
    const double d = 1.0 - texelExpectedScore(0);
    EXPECT_DOUBLE_EQ(d * d, 0.25);
    // 400 centipawns: 1 / (1 + 10^-1.55).
    EXPECT_NEAR(texelExpectedScore(400), 0.9726, 5e-5);
    EXPECT_NEAR(texelExpectedScore(400), 1.0 / (1.0 + std::pow(10.0, -1.55)), 1e-15);
    EXPECT_NEAR(texelExpectedScore(-400) + texelExpectedScore(400), 1.0, 1e-15);
    EXPECT_GT(texelExpectedScore(32767), 0.999999);
    EXPECT_LT(texelExpectedScore(-32768), 1e-6);
}

TEST(TexelFile, ResultWords) {
    // The quoted forms of the tuning files.
    EXPECT_EQ(texelResult("\"1-0\";"), 1.0);
    EXPECT_EQ(texelResult("\"1/2-1/2\";"), 0.5);
    EXPECT_EQ(texelResult("\"0-1\";"), 0.0);
    EXPECT_EQ(texelResult("\"1-0\""), 1.0);
    // Unquoted results say the same.
    EXPECT_EQ(texelResult("1-0"), 1.0);
    EXPECT_EQ(texelResult("1/2"), 0.5);
    EXPECT_EQ(texelResult("1/2-1/2"), 0.5);
    EXPECT_EQ(texelResult("0-1"), 0.0);
    // Anything else is counted as a loss for White.
    for (const char* w : {"", "\"", "\"*\";", "\"0-1", "draw", "\"1-", "1-", "\"2-0\";", "\"1/3\";"})
        EXPECT_EQ(texelResult(w), 0.0) << w;
}

TEST(TexelFile, SplittingLines) {
    texelPosStruct p;
    ASSERT_TRUE(texelSplitLine("8/8/4p3/5k2/8/5K2/8/8 b - - c9 \"1/2-1/2\";", p));
    EXPECT_EQ(p.FEN, "8/8/4p3/5k2/8/5K2/8/8 b - - ");
    EXPECT_EQ(p.result, 0.5);
    // DOS line ends, tabs, repeated blanks and words after the result.
    ASSERT_TRUE(texelSplitLine("  8/8/4p3/5k2/8/5K2/8/8\tw  -  - c9 \"1-0\"; extra words\r", p));
    EXPECT_EQ(p.FEN, "8/8/4p3/5k2/8/5K2/8/8 w - - ");
    EXPECT_EQ(p.result, 1.0);
    ASSERT_TRUE(texelSplitLine("8/8/4p3/5k2/8/5K2/8/8 w - - c9 \"1-0\";\r", p));
    EXPECT_EQ(p.result, 1.0);
    // Lines that hold no position.
    for (const char* line : {"", "   ", "\r", "8/8/4p3/5k2/8/5K2/8/8 w - - \"1-0\";", "8/8/4p3/5k2/8/5K2/8/8 w - - c9",
                             "8/8/4p3/5k2/8/5K2/8/8 w - - c9 \r", "c9 \"1-0\";", "8/8 w c99 \"1-0\";"})
        EXPECT_FALSE(texelSplitLine(line, p)) << line;
}

TEST(TexelFile, ReadingSkipsWhatHoldsNoUsablePosition) {
    std::istringstream in(
        "8/8/4p3/5k2/8/5K2/8/8 b - - c9 \"1/2-1/2\";\r\n"
        "\n"
        "no result here\n"
        "7R/8/8/2K5/6k1/8/1r6/8 w - - c9\n"
        "8/8/8/8/8/8/8/8 w - - c9 \"1-0\";\n"                     // no kings
        "4k3/8/8/8/8/8/8/4K2P w - - c9 \"1-0\";\n"                // pawn on the last rank
        "4k3/8/8/8/8/8/8/4K2r b - - c9 \"1-0\";\n"                // side not to move in check
        "4k3/8/8/8/8/8/8/4KXX1 w - - c9 \"1-0\";\n"               // not a piece
        "pppppppp/pppppppp/pppppppp/k7/8/8/8/4K3 w - - c9 \"0-1\";\n"  // too many men
        "8/6R1/1K6/1P6/1k6/8/r7/8 b - - c9 \"1-0\";\n"
        "7R/8/8/2K5/6k1/8/1r6/8 w - - c9 \"0-1\";");              // no line end at the end
    std::vector<texelPosStruct> out;
    size_t skipped = 0;
    ASSERT_TRUE(texelReadFile(in, out, skipped));
    EXPECT_EQ(skipped, 8u);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].FEN, "8/8/4p3/5k2/8/5K2/8/8 b - - ");
    EXPECT_EQ(out[0].result, 0.5);
    EXPECT_EQ(out[1].FEN, "8/6R1/1K6/1P6/1k6/8/r7/8 b - - ");
    EXPECT_EQ(out[1].result, 1.0);
    EXPECT_EQ(out[2].result, 0.0);

    std::istringstream empty("");
    ASSERT_TRUE(texelReadFile(empty, out, skipped));
    EXPECT_EQ(skipped, 0u);
    EXPECT_EQ(out.size(), 3u);
}

TEST(TexelFile, LargeFileKeepsFileOrder) {
    // Large enough to be checked by several threads: a white rook walks over
    // ranks 2 to 7, every seventh line lacks the white king and is skipped,
    // and the others must come out in file order.
    std::string text;
    std::vector<std::string> expected;
    for (int i = 0; i < 5000; i++) {
        std::string ranks[8] = {"4K3", "8", "8", "8", "8", "8", "8", "4k3"};
        const int file = i % 8;
        ranks[1 + (i / 8) % 6] = (file ? std::to_string(file) : "") + "R" + (file < 7 ? std::to_string(7 - file) : "");
        if (i % 7 == 3) ranks[0] = "8";
        std::string fen = ranks[7];
        for (int k = 6; k >= 0; k--) fen += "/" + ranks[k];
        fen += " b - - ";
        text += fen + "c9 \"1-0\";\n";
        if (i % 7 != 3) expected.push_back(fen);
    }
    std::istringstream in(text);
    std::vector<texelPosStruct> out;
    size_t skipped = 0;
    ASSERT_TRUE(texelReadFile(in, out, skipped));
    EXPECT_EQ(skipped, 5000u - expected.size());
    ASSERT_EQ(out.size(), expected.size());
    for (size_t k = 0; k < out.size(); k++) ASSERT_EQ(out[k].FEN, expected[k]) << k;
}

TEST(TexelShare, PositionsOverThirtyWorkers) {
    size_t first, count;
    for (int i = 0; i < 29; i++) {
        texelShare(65, i, first, count);
        EXPECT_EQ(first, 2u * i);
        EXPECT_EQ(count, 2u);
    }
    texelShare(65, 29, first, count);
    EXPECT_EQ(first, 58u);
    EXPECT_EQ(count, 7u);
    // Fewer positions than workers: the last one takes them all.
    texelShare(7, 0, first, count);
    EXPECT_EQ(count, 0u);
    texelShare(7, 29, first, count);
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(count, 7u);
}

// ---------------------------------------------------------------------------
// The command, run in a scratch working directory
// ---------------------------------------------------------------------------
int threadCount() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') n++;
        closedir(d);
    }
    return n;
}

class TexelCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = std::filesystem::current_path();
        char tmpl[] = "/tmp/tarnwick-texel-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        std::filesystem::current_path(dir_);
        theTexelWorkForce.removeWorkers();
        texelPositions.clear();
    }
    void TearDown() override {
        theTexelWorkForce.removeWorkers();
        texelPositions.clear();
        std::filesystem::current_path(saved_);
        std::filesystem::remove_all(dir_);
    }
    static std::vector<std::string> run() {
        ::testing::internal::CaptureStdout();
        uciTexel();
        std::istringstream out(::testing::internal::GetCapturedStdout());
        std::vector<std::string> lines;
        std::string line;
        while (std::getline(out, line))
            if (line != "Lets go") lines.push_back(line);
        return lines;
    }
    std::filesystem::path saved_, dir_;
};

TEST_F(TexelCommand, MissingFileCreatesNoThread) {
    const int before = threadCount();
    EXPECT_EQ(run(), std::vector<std::string>{"There seems to be a problem with the tuning file. tuning not executed"});
    EXPECT_TRUE(theTexelWorkForce.workers.empty());
    EXPECT_EQ(threadCount(), before);
}

TEST_F(TexelCommand, PositionsSharedAndKeptBetweenRuns) {
    const char* fens[] = {"8/8/4p3/5k2/8/5K2/8/8 b - -", "7R/8/8/2K5/6k1/8/1r6/8 w - -",
                          "8/6R1/1K6/1P6/1k6/8/r7/8 b - -", "8/8/6K1/8/1p6/1q2k3/8/4b3 w - -",
                          "2rn1rk1/p2bqpbp/6p1/2p5/3PP3/B1P2B2/PRQ3PP/4NRK1 w - -"};
    const char* results[] = {"\"1-0\";", "\"0-1\";", "\"1/2-1/2\";"};
    {
        std::ofstream f("lichess-good.epd");
        for (int i = 0; i < 65; i++) f << fens[i % 5] << " c9 " << results[i % 3] << "\n";
    }
    const int before = threadCount();
    auto first = run();
    ASSERT_EQ(first.size(), 5u);
    EXPECT_EQ(threadCount(), before + 30);
    ASSERT_EQ(theTexelWorkForce.workers.size(), 30u);
    ASSERT_EQ(texelPositions.size(), 65u);
    for (int i = 0; i < 29; i++) EXPECT_EQ(theTexelWorkForce.workers[i]->positions.size(), 2u);
    const auto& last = theTexelWorkForce.workers[29]->positions;
    ASSERT_EQ(last.size(), 7u);
    EXPECT_EQ(last[0].FEN, texelPositions[58].FEN);
    EXPECT_EQ(last[6].result, texelPositions[64].result);
    EXPECT_TRUE(texelPars.empty());

    // A second run appends the file again: twice the positions, the same mean.
    auto second = run();
    EXPECT_EQ(texelPositions.size(), 130u);
    EXPECT_EQ(threadCount(), before + 30);
    for (int i = 0; i < 29; i++) EXPECT_EQ(theTexelWorkForce.workers[i]->positions.size(), 4u);
    EXPECT_EQ(theTexelWorkForce.workers[29]->positions.size(), 14u);
    EXPECT_EQ(second, first);
}

}  // namespace
