// Helpers of the tablebase tests: where the tables are, random positions of
// a table, and scratch directories.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "movegen.h"
#include "uci.h"
#include "syzygy.h"

namespace tbtest {

inline void ensureEngine() {
    static const bool ready = [] {
        initEngineTables();
        tb::initPawnAttacks();
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
    testing::internal::CaptureStdout();
    setTablebasePath(path);
    return testing::internal::GetCapturedStdout();
}

inline tb::Board probePos(const std::string& fen) {
    ensureEngine();
    static Position pos;
    setPosition(fen, &pos);
    tb::Board p;
    toProbeBoard(&pos, 0, &p);
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

inline std::string boardFen(const char* board) {
    std::string fen;
    for (int r = 7; r >= 0; r--) {
        int empty = 0;
        for (int f = 0; f < 8; f++) {
            const char c = board[r * 8 + f];
            if (!c) {
                empty++;
                continue;
            }
            if (empty) fen += (char)('0' + empty);
            empty = 0;
            fen += c;
        }
        if (empty) fen += (char)('0' + empty);
        if (r) fen += '/';
    }
    return fen;
}

inline void placeRandomly(char* board, const std::string& name, std::mt19937_64& rng) {
    bool white = true;
    for (char c : name) {
        if (c == 'v') {
            white = false;
            continue;
        }
        int sq;
        do sq = (int)(rng() & 63);
        while (board[sq] || (c == 'P' && (sq < 8 || sq >= 56)));
        board[sq] = white ? c : (char)std::tolower(c);
    }
}

// A random placement of a table's men (may be illegal: check with validateFen).
inline std::string randomFen(const std::string& name, std::mt19937_64& rng) {
    char board[64] = {};
    placeRandomly(board, name, rng);
    return boardFen(board) + ((rng() & 1) ? " w - - 0 1" : " b - - 0 1");
}

// A random position right after a double step that can be taken en passant:
// one pawn of each colour is placed for it, the rest of the men at random.
inline std::string randomEnPassantFen(const std::string& name, std::mt19937_64& rng) {
    std::string rest = name;
    const size_t wp = rest.find('P'), bp = rest.rfind('P');
    if (wp == std::string::npos || bp == wp || bp < rest.find('v')) return "";
    rest.erase(bp, 1);
    rest.erase(wp, 1);
    const bool whiteToMove = rng() & 1;
    const int file = (int)(rng() % 8);
    const int side = (rng() & 1) ? 1 : -1;
    if (file + side < 0 || file + side > 7) return "";
    const int rank = whiteToMove ? 4 : 3;  // where the double step ended
    const int back = whiteToMove ? 8 : -8;  // towards the squares it passed
    const int sq = rank * 8 + file;
    char board[64] = {};
    board[sq] = whiteToMove ? 'p' : 'P';
    board[sq + side] = whiteToMove ? 'P' : 'p';
    board[sq + back] = board[sq + 2 * back] = 'x';  // keep the passed squares empty
    placeRandomly(board, rest, rng);
    board[sq + back] = board[sq + 2 * back] = 0;
    std::string target;
    target += (char)('a' + file);
    target += whiteToMove ? '6' : '3';
    return boardFen(board) + (whiteToMove ? " w - " : " b - ") + target + " 0 1";
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
