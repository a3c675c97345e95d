// The "texel" command's threads and the positions it keeps between runs.
// (Its output and error are checked through the program.)
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "commands.h"
#include "output_capture.h"
#include "texel.h"
#include "tt.h"

namespace {

// Threads of this process, once the hash table's page-populating helper (a
// short-lived thread started by every table allocation) has finished.
int threadCount() {
    ttWaitForPages();
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
        texelThreads.removeWorkers();
        texelPositions.clear();
    }
    void TearDown() override {
        texelThreads.removeWorkers();
        texelPositions.clear();
        std::filesystem::current_path(saved_);
        std::filesystem::remove_all(dir_);
    }
    static std::string run() {
        return captureStdout([] { executeCommand("texel"); });
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
    ASSERT_EQ(texelThreads.workers.size(), 30u);
    size_t shared = 0;
    for (auto* w : texelThreads.workers) shared += w->positions.size();
    EXPECT_EQ(texelPositions.size(), 130u);
    EXPECT_EQ(shared, 130u);
}

}  // namespace
