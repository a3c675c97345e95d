// The Texel error: result words, reading the tuning file, the split of the
// positions over the tuning threads and the command's persistent state.
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

TEST(Texel, ResultWords) {
    for (const char* w : {"\"1-0\";", "1-0"}) EXPECT_EQ(texelResult(w), 1.0) << w;
    for (const char* w : {"\"1/2-1/2\";", "1/2"}) EXPECT_EQ(texelResult(w), 0.5) << w;
    for (const char* w : {"\"0-1\";", "", "\"*\";", "\"1-", "draw", "\"2-0\";"}) EXPECT_EQ(texelResult(w), 0.0) << w;
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
    run();
    // The second run appends the file again and replaces the threads, which
    // between them hold every position.
    EXPECT_EQ(threadCount(), before + 30);
    ASSERT_EQ(theTexelWorkForce.workers.size(), 30u);
    size_t shared = 0;
    for (auto* w : theTexelWorkForce.workers) shared += w->positions.size();
    EXPECT_EQ(texelPositions.size(), 130u);
    EXPECT_EQ(shared, 130u);
}

}  // namespace
