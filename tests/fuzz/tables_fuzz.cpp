// Fuzzing harness: damaged endgame tables.
//
// Input: one byte that chooses a table file, then the bytes that replace
// it.  They are written to a scratch directory that comes first on the
// table path, ahead of the sound tables of the source tree (which the
// probes still reach for the positions after a capture).  Files are read
// into heap buffers of their exact size, so AddressSanitizer sees any read
// past the end.  Then a few positions of that table are probed: win/draw/
// loss, distance to zero, and the root move the engine would play.  The
// positions are a fixed one or two per table plus six random placements of
// its men, drawn from a hash of the input (the same input always probes the
// same positions).
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "../random_fens.h"
#include "fuzz_support.h"

namespace {

using randomfens::randomFen;

struct Target {
    const char* file;      // file name in the scratch directory
    const char* material;  // its men, White's first
    const char* fens[2];   // positions always probed (nullptr: none)
};

// Small piece and pawn tables, WDL and DTZ files.  The seed inputs
// (corpus/tables/) are the sound files, each after its index in this list:
// new tables go at the end.
const Target TABLES[] = {
    {"KQvK.rtbw", "KQvK", {"8/8/8/3k4/8/8/8/KQ6 w - - 0 1", "8/8/8/3k4/8/8/8/KQ6 b - - 0 1"}},
    {"KQvK.rtbz", "KQvK", {"8/8/8/3k4/8/8/8/KQ6 w - - 0 1", "8/8/8/3k4/8/8/8/KQ6 b - - 0 1"}},
    {"KRvK.rtbw", "KRvK", {"8/8/8/3k4/8/8/8/KR6 w - - 0 1", nullptr}},
    {"KRvK.rtbz", "KRvK", {"8/8/8/3k4/8/8/8/KR6 w - - 0 1", "4k3/8/8/8/8/8/8/R3K3 b - - 0 1"}},
    {"KPvK.rtbw", "KPvK", {"8/8/8/8/4k3/8/4P3/4K3 w - - 0 1", "8/8/8/8/4k3/8/4P3/4K3 b - - 0 1"}},
    {"KPvK.rtbz", "KPvK", {"8/8/8/8/4k3/8/4P3/4K3 w - - 0 1", "8/4P3/8/8/8/1k6/8/K7 w - - 0 1"}},
    {"KBvKB.rtbw", "KBvKB", {"8/8/3bk3/8/8/3BK3/8/8 w - - 0 1", nullptr}},
    {"KNvKN.rtbw", "KNvKN", {"8/8/3nk3/8/8/3NK3/8/8 b - - 0 1", nullptr}},
    {"KRvKR.rtbz", "KRvKR", {"8/8/4k3/8/3r4/8/3RK3/8 w - - 0 1", nullptr}},
    {"KQvKQ.rtbz", "KQvKQ", {"8/8/4k3/8/3q4/8/3QK3/8 w - - 0 1", nullptr}},
    {"KRvKB.rtbz", "KRvKB", {"8/8/4k3/8/3b4/8/3RK3/8 w - - 0 1", nullptr}},
    {"KPvKP.rtbz", "KPvKP", {"8/8/8/1p6/k6K/2P5/8/8 w - - 0 1", "8/8/8/8/1pP5/8/8/k6K b - c3 0 1"}},
};
constexpr size_t TABLE_COUNT = sizeof TABLES / sizeof TABLES[0];

std::string scratchDir;

// Every probe the engine makes of a position: the node search's win/draw/
// loss, the distance to zero, and the root move.
void probe(const std::string& fen) {
    if (!validateFen(fen).empty()) return;
    Position pos;
    setPosition(fen, &pos);
    tb::Board p;
    toProbeBoard(&pos, &p);
    int success;
    tb::probeWdl(&p, &success);
    tb::probeDtz(&p, &success);
    probeTablebaseWdl(&pos, &success);
    Move line[ROOT_LINE_LENGTH];
    probeRootTablebase(&pos, line);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::startQuietEngine();
    tb::readFilesToHeap = true;
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/tarnwick-fuzz-tables-XXXXXX";
    if (!mkdtemp(&templ[0])) std::abort();
    scratchDir = templ;
    // Left empty and removed when the run ends.
    std::atexit([] { rmdir(scratchDir.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const Target& t = TABLES[data[0] % TABLE_COUNT];
    const std::string path = scratchDir + "/" + t.file;
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data + 1), (std::streamsize)(size - 1));
        if (!out) std::abort();
    }
    setTablebasePath(scratchDir + ":" + fuzz::localTables());

    for (const char* fen : t.fens)
        if (fen) probe(fen);
    // FNV-1a of the input: the random positions of this input.
    uint64_t h = 14695981039346656037ULL;
    for (size_t i = 0; i < size; i++) h = (h ^ data[i]) * 1099511628211ULL;
    std::mt19937_64 rng(h);
    for (int i = 0; i < 6; i++) probe(randomFen(t.material, rng));

    // No table of this input stays in use or on disk.
    setTablebasePath("");
    unlink(path.c_str());
    return 0;
}
