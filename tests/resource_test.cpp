// The engine under the limits a system sets (an address-space limit, a memory
// control group) and with table files that change under it: it says what it
// could not have and plays on, and never dies.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "engine_process.h"

namespace {

namespace fs = std::filesystem;

// The program started by the shell after `setup` (shell commands).
struct ShellEngine : EngineProcess {
    explicit ShellEngine(const std::string& setup)
        : EngineProcess("/bin/sh", {"-c", setup + "; exec \"$0\"", TARNWICK_BIN}) {}
};

// Many threads asked for, fewer given, and a search with them; the program
// ends normally.
void expectThreadsCapped(EngineProcess& e, int wanted) {
    e.send("setoption name Threads value " + std::to_string(wanted));
    const auto lines = e.readUntil("info string Number of threads set to", 30000);
    ASSERT_GE(lines.size(), 2u) << "no reply to Threads";
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        lines[lines.size() - 2], m,
        std::regex("^info string not enough memory for " + std::to_string(wanted) + " threads; using ([0-9]+) ")))
        << lines[lines.size() - 2];
    const int got = std::stoi(m[1]);
    EXPECT_GE(got, 1);
    EXPECT_LT(got, wanted);
    EXPECT_EQ(lines.back(), "info string Number of threads set to : " + m[1].str());
    e.send("isready");
    EXPECT_EQ(e.readUntil("readyok", 30000).back(), "readyok");
    e.send("position startpos moves e2e4");
    e.send("go depth 9");
    const auto search = e.readUntil("bestmove", 60000);
    ASSERT_FALSE(search.empty());
    EXPECT_TRUE(startsWith(search.back(), "bestmove ")) << search.back();
    e.send("quit");
    EXPECT_EQ(e.waitExit(), 0);
}

TEST(Resources, ThreadsWithinAnAddressSpaceLimit) {
    // 600 MB of address space: the 256 MB table and a few threads, each of
    // which reserves its whole stack.
    ShellEngine e("ulimit -v 600000");
    expectThreadsCapped(e, 256);
}

TEST(Resources, ThreadsWithinAMemoryControlGroup) {
    // A group of its own with 300 MB, where more threads than fit would be
    // killed by the kernel without a word.  Needs root and a writable
    // cgroup hierarchy (v1 memory controller or v2).
    std::string dir, limitFile;
    if (fs::is_directory("/sys/fs/cgroup/memory")) {
        dir = "/sys/fs/cgroup/memory/tarnwick-test-" + std::to_string(getpid());
        limitFile = "memory.limit_in_bytes";
    } else {
        std::ifstream controllers("/sys/fs/cgroup/cgroup.controllers");
        std::string all((std::istreambuf_iterator<char>(controllers)), std::istreambuf_iterator<char>());
        if (all.find("memory") != std::string::npos) {
            dir = "/sys/fs/cgroup/tarnwick-test-" + std::to_string(getpid());
            limitFile = "memory.max";
        }
    }
    std::error_code ec;
    if (dir.empty() || geteuid() != 0 || !fs::create_directory(dir, ec))
        GTEST_SKIP() << "no memory control group can be made here";
    {
        std::ofstream(dir + "/" + limitFile) << (300 << 20);
        ShellEngine e("echo $$ > " + dir + "/cgroup.procs");
        expectThreadsCapped(e, 64);
    }
    fs::remove(dir, ec);
}

// A table file truncated in place while the engine has it mapped (a download
// over a table folder in use): the next game sets the tables up again, and
// the engine searches without the broken table.
TEST(Resources, TableFileTruncatedWhileMapped) {
    const fs::path tables = fs::temp_directory_path() / ("tarnwick-tables-" + std::to_string(getpid()));
    fs::create_directories(tables);
    for (const char* f : {"KQvK.rtbw", "KQvK.rtbz"})
        fs::copy_file(fs::path(TARNWICK_SOURCE_DIR) / "data/syzygy" / f, tables / f,
                      fs::copy_options::overwrite_existing);
    {
        EngineProcess e(TARNWICK_BIN);
        e.send("setoption name SyzygyPath value " + tables.string());
        e.send("position fen 8/8/8/4k3/8/8/8/KQ6 w - - 0 1");
        e.send("go depth 5");
        auto lines = e.readUntil("bestmove");
        ASSERT_GE(lines.size(), 2u);
        EXPECT_NE(lines[lines.size() - 2].find(" depth 127 "), std::string::npos) << "the tables were not used";
        for (const char* f : {"KQvK.rtbw", "KQvK.rtbz"}) fs::resize_file(tables / f, 0);
        e.send("ucinewgame");
        e.send("isready");
        lines = e.readUntil("readyok");
        ASSERT_GE(lines.size(), 2u) << lines.back();
        EXPECT_EQ(lines[lines.size() - 2], "info string tablebase files changed on disk; tables set up again");
        e.send("go depth 5");
        lines = e.readUntil("bestmove");
        ASSERT_FALSE(lines.empty());
        EXPECT_TRUE(startsWith(lines.back(), "bestmove ")) << lines.back();
        e.send("quit");
        EXPECT_EQ(e.waitExit(), 0);  // not killed reading the truncated mapping
    }
    std::error_code ec;
    fs::remove_all(tables, ec);
}

}  // namespace
