// WDL probe speed on random positions of the five-man tables of a directory.
//
//   tbbench [directory] [positions] [passes]
//
// Builds the positions (legal: kings apart, pawns on ranks 2-7, the side not
// to move not in check), probes them all once to map the files and bring
// them into memory, then times `passes` passes on one thread and prints the
// best pass as probes per second.
#include <dirent.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "syzygy.h"
#include "uci.h"
#include "util.h"

namespace {

std::vector<std::string> fiveManTables(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            const size_t dot = n.find(".rtbw");
            if (dot == std::string::npos || dot + 5 != n.size()) continue;
            n.resize(dot);
            if (n.size() == 6) names.push_back(n);  // K + 4 letters + v: five men
        }
        closedir(d);
    }
    return names;
}

uint64_t* kindBoard(tb::Board& p, char c) {
    switch (c) {
    case 'K': return &p.kings;
    case 'Q': return &p.queens;
    case 'R': return &p.rooks;
    case 'B': return &p.bishops;
    case 'N': return &p.knights;
    default: return &p.pawns;
    }
}

bool randomPosition(const std::string& name, std::mt19937_64& rng, tb::Board* out) {
    tb::Board p{};
    p.turn = rng() & 1;
    uint64_t* colour = &p.white;
    for (char c : name) {
        if (c == 'v') {
            colour = &p.black;
            continue;
        }
        int sq;
        do sq = (int)(rng() & 63);
        while (((p.white | p.black) >> sq & 1) || (c == 'P' && (sq < 8 || sq >= 56)));
        *colour |= 1ULL << sq;
        *kindBoard(p, c) |= 1ULL << sq;
    }
    const int wk = lsb(p.kings & p.white), bk = lsb(p.kings & p.black);
    if (KING_ATTACKS[wk] & (1ULL << bk)) return false;
    const uint64_t other = p.turn ? p.black : p.white, mover = p.turn ? p.white : p.black;
    if (tb::attacked(&p, lsb(p.kings & other), mover, p.turn ? 0 : 1)) return false;
    *out = p;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    long long count = 300000, passes = 3;
    if (argc < 2 || (argc > 2 && !parseInteger(argv[2], 1, 100000000, count)) ||
        (argc > 3 && !parseInteger(argv[3], 1, 1000, passes))) {
        std::fprintf(stderr, "usage: tbbench syzygy-dir [positions] [passes]\n");
        return 1;
    }
    const std::string dir = argv[1];

    initEngineTables();
    setTablebasePath(dir);
    const std::vector<std::string> tables = fiveManTables(dir);
    if (tables.empty()) {
        std::fprintf(stderr, "no five-man tables in %s\n", dir.c_str());
        return 1;
    }

    std::mt19937_64 rng(20240607);
    std::vector<tb::Board> positions;
    positions.reserve((size_t)count);
    while ((long long)positions.size() < count) {
        tb::Board p;
        if (randomPosition(tables[positions.size() % tables.size()], rng, &p)) positions.push_back(p);
    }

    // Warm-up: maps every file and faults its pages in.
    long failed = 0, sum = 0;
    for (const tb::Board& p : positions) {
        int success;
        sum += tb::probeWdl(&p, &success);
        failed += success == 0;
    }

    double best = 0;
    for (long long pass = 0; pass < passes; pass++) {
        const auto t0 = std::chrono::steady_clock::now();
        for (const tb::Board& p : positions) {
            int success;
            sum += tb::probeWdl(&p, &success);
        }
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (count / s > best) best = count / s;
    }
    std::printf("%zu five-man tables, %lld positions, %ld failed probes (checksum %ld)\n", tables.size(), count, failed,
                sum);
    std::printf("WDL probes per second: %.0f\n", best);
    return 0;
}
