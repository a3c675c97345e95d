// The Texel error: the logistic curve, reading the tuning file, the split of
// the positions over the tuning threads and the command's persistent state.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "texel.h"
#include "uci.h"

namespace {

TEST(Texel, LogisticCurveAndResultWords) {
    // An even position is a coin toss: a won game adds (1 - 0.5)^2 = 0.25.
    EXPECT_DOUBLE_EQ(texelExpectedScore(0), 0.5);
    EXPECT_NEAR(texelExpectedScore(400), 0.9726, 5e-5);  // 1 / (1 + 10^-1.55)
    EXPECT_NEAR(texelExpectedScore(-400) + texelExpectedScore(400), 1.0, 1e-15);

    for (const char* w : {"\"1-0\";", "\"1-0\"", "1-0"}) EXPECT_EQ(texelResult(w), 1.0) << w;
    for (const char* w : {"\"1/2-1/2\";", "1/2-1/2", "1/2"}) EXPECT_EQ(texelResult(w), 0.5) << w;
    for (const char* w : {"\"0-1\";", "0-1", "", "\"*\";", "\"1-", "draw", "\"2-0\";"}) EXPECT_EQ(texelResult(w), 0.0) << w;
}

TEST(Texel, SplittingLines) {
    texelPosStruct p;
    // DOS line ends, tabs, repeated blanks and words after the result.
    ASSERT_TRUE(texelSplitLine("  8/8/4p3/5k2/8/5K2/8/8\tb  -  - c9 \"1/2-1/2\"; more\r", p));
    EXPECT_EQ(p.FEN, "8/8/4p3/5k2/8/5K2/8/8 b - - ");
    EXPECT_EQ(p.result, 0.5);
    for (const char* line : {"", " \r", "8/8/4p3/5k2/8/5K2/8/8 w - - \"1-0\";", "8/8/4p3/5k2/8/5K2/8/8 w - - c9 \r",
                             "c9 \"1-0\";", "8/8 w c99 \"1-0\";"})
        EXPECT_FALSE(texelSplitLine(line, p)) << line;
}

TEST(Texel, LargeFileIsCheckedInFileOrder) {
    // Enough lines for several checking threads: a white rook walks over the
    // board, every seventh line lacks the white king and is skipped.
    std::string text;
    std::vector<std::string> expected;
    for (int i = 0; i < 5000; i++) {
        std::string ranks[8] = {i % 7 == 3 ? "8" : "4K3", "8", "8", "8", "8", "8", "8", "4k3"};
        const int file = i % 8;
        ranks[1 + (i / 8) % 6] = (file ? std::to_string(file) : "") + "R" + (file < 7 ? std::to_string(7 - file) : "");
        std::string fen = ranks[7];
        for (int k = 6; k >= 0; k--) fen += "/" + ranks[k];
        text += fen + " b - - c9 \"1-0\";\n";
        if (i % 7 != 3) expected.push_back(fen + " b - - ");
    }
    std::istringstream in(text);
    std::vector<texelPosStruct> out;
    size_t skipped = 0;
    ASSERT_TRUE(texelReadFile(in, out, skipped));
    EXPECT_EQ(skipped, 5000u - expected.size());
    ASSERT_EQ(out.size(), expected.size());
    for (size_t k = 0; k < out.size(); k++) ASSERT_EQ(out[k].FEN, expected[k]) << k;
}

// Threads of this process, once the hash table's page-populating helper (a
// short-lived thread started by every table allocation) has finished.
int threadCount() {
    waitForHashTablePages();
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

// The command itself, run in a scratch working directory.
class TexelCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = std::filesystem::current_path();
        char tmpl[] = "/tmp/tarnwick-texel-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        std::filesystem::current_path(dir_ = tmpl);
        theTexelWorkForce.removeWorkers();
        texelPositions.clear();
    }
    void TearDown() override {
        theTexelWorkForce.removeWorkers();
        texelPositions.clear();
        std::filesystem::current_path(saved_);
        std::filesystem::remove_all(dir_);
    }
    static std::string run() {
        ::testing::internal::CaptureStdout();
        uciTexel();
        return ::testing::internal::GetCapturedStdout();
    }
    std::filesystem::path saved_, dir_;
};

TEST_F(TexelCommand, SixtyFivePositionsSharedAndKeptBetweenRuns) {
    {
        std::ofstream f("lichess-good.epd");
        for (int i = 0; i < 65; i++) f << "8/8/4p3/5k2/8/5K2/8/8 b - - c9 \"" << i << "\";\n";
    }
    const int before = threadCount();
    run();
    EXPECT_EQ(threadCount(), before + 30);
    ASSERT_EQ(theTexelWorkForce.workers.size(), 30u);
    for (int i = 0; i < 29; i++) EXPECT_EQ(theTexelWorkForce.workers[i]->positions.size(), 2u);
    ASSERT_EQ(theTexelWorkForce.workers[29]->positions.size(), 7u);
    EXPECT_TRUE(texelPars.empty());

    // The second run appends the file again and replaces the threads.
    run();
    EXPECT_EQ(texelPositions.size(), 130u);
    EXPECT_EQ(threadCount(), before + 30);
    EXPECT_EQ(theTexelWorkForce.workers[0]->positions.size(), 4u);
    EXPECT_EQ(theTexelWorkForce.workers[29]->positions.size(), 14u);
}

}  // namespace
