// Helpers of the tablebase tests: where the tables are, random positions of
// a table, and scratch directories.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "movegen.h"
#include "output_capture.h"
#include "random_fens.h"
#include "syzygy.h"
#include "uci.h"

namespace tbtest {

using namespace randomfens;

inline void ensureEngine() {
    static const bool ready = [] {
        initEngineTables();
        return true;
    }();
    (void)ready;
}

inline bool fileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Tables shipped with the sources (a few small ones).
inline std::string localDir() { return TB_LOCAL_DIR; }

// The full set of test tables, when this machine has it.
inline std::string sharedDir() {
    std::istringstream list(TB_SHARED_DIRS);
    for (std::string dir; std::getline(list, dir, ':');)
        if (!dir.empty() && fileExists(dir + "/vectors.txt") && fileExists(dir + "/KQvK.rtbw")) return dir;
    return "";
}

// Set the tablebase path; returns what it printed.
inline std::string useTables(const std::string& path) {
    ensureEngine();
    return captureStdout([&] { setTablebasePath(path); });
}

inline tb::Board probePos(const std::string& fen) {
    ensureEngine();
    Position pos;
    setPosition(fen, &pos);
    tb::Board p;
    toProbeBoard(&pos, &p);
    return p;
}

inline bool tableFilePresent(const std::string& dir, const tb::Board& p) {
    char a[40], b[40];
    tb::tableName(&p, a, false);
    tb::tableName(&p, b, true);
    return fileExists(dir + "/" + a + ".rtbw") || fileExists(dir + "/" + b + ".rtbw");
}

inline int tbLegalMoves(const tb::Board& p) {
    uint16_t moves[tb::MAX_MOVES];
    uint16_t* end = tb::generateMoves(&p, moves);
    int n = 0;
    for (uint16_t* m = moves; m < end; m++) {
        tb::Board child;
        n += tb::doMove(&child, &p, *m);
    }
    return n;
}

// Table names (without suffix) of the WDL files of a directory, sorted.
inline std::vector<std::string> tablesIn(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n.size() > 5 && n.compare(n.size() - 5, 5, ".rtbw") == 0) names.push_back(n.substr(0, n.size() - 5));
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A scratch directory, removed with its files at the end of the test.
struct TempDir {
    std::string path;
    TempDir() {
        char templ[] = "/tmp/tarnwick-tb-XXXXXX";
        path = mkdtemp(templ);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    void copy(const std::string& from, const std::string& file, const std::string& sub = "") {
        const std::string dir = sub.empty() ? path : path + "/" + sub;
        mkdir(dir.c_str(), 0700);
        std::filesystem::copy_file(from + "/" + file, dir + "/" + file);
    }
};

}  // namespace tbtest
