// Damaged table files must never crash the engine or make it read outside a
// mapping: truncated copies of real tables, and one whose flags send the
// distance probe round in a circle, are probed under AddressSanitizer.
// (Randomly damaged files are the tables fuzzing harness's, tests/fuzz.)
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "movegen.h"
#include "output_capture.h"
#include "syzygy.h"
#include "tb_test_util.h"

// AddressSanitizer's reports go to standard output: the test captures
// standard error for the loader's messages.
extern "C" const char* __asan_default_options() { return "log_path=stdout"; }

namespace {

using namespace tbtest;

struct Target {
    const char* file;
    const char* material;
};

// Piece and pawn tables, WDL and DTZ, with value maps and many blocks.
const Target targets[] = {
    {"KRvKB.rtbw", "KRvKB"}, {"KRvKB.rtbz", "KRvKB"}, {"KPvK.rtbw", "KPvK"},
    {"KPvK.rtbz", "KPvK"},   {"KQvKQ.rtbw", "KQvKQ"}, {"KQvKQ.rtbz", "KQvKQ"},
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
}

std::vector<tb::Board> positionsOf(const std::string& material, int n, std::mt19937_64& rng) {
    std::vector<tb::Board> out;
    while ((int)out.size() < n) {
        const std::string fen = randomFen(material, rng);
        if (validateFen(fen).empty()) out.push_back(probePos(fen));
    }
    return out;
}

// The local tables copied to a scratch directory, one of them replaced by
// damaged bytes at a time.
class DamagedTables : public testing::Test {
  protected:
    TempDir tmp;
    std::mt19937_64 rng{777};

    void SetUp() override {
        ensureEngine();
        tb::readFilesToHeap = true;
        for (const std::string& name : tablesIn(localDir())) {
            tmp.copy(localDir(), name + ".rtbw");
            tmp.copy(localDir(), name + ".rtbz");
        }
    }

    // Probe every position with the damaged file in place; returns the
    // number of failed probes and what the loader wrote on stderr.
    int probeDamaged(const Target& t, const std::string& bytes, const std::vector<tb::Board>& positions,
                     std::string* messages) {
        const std::string path = tmp.path + "/" + t.file;
        const std::string original = readFile(path);
        writeFile(path, bytes);
        useTables(tmp.path);
        const bool dtz = std::string(t.file).find(".rtbz") != std::string::npos;
        int failed = 0;
        *messages = captureStderr([&] {
            for (const tb::Board& p : positions) {
                int success;
                if (dtz)
                    tb::probeDtz(&p, &success);
                else
                    tb::probeWdl(&p, &success);
                failed += success == 0;
            }
        });
        writeFile(path, original);
        return failed;
    }
};

TEST_F(DamagedTables, TruncatedFilesAreRejected) {
    for (const Target& t : targets) {
        const std::string bytes = readFile(localDir() + "/" + t.file);
        const std::vector<tb::Board> positions = positionsOf(t.material, 200, rng);
        const size_t n = bytes.size();
        // (The last 16 bytes of a file are a checksum that probing never
        // reads, so the shortest cut that matters is 17 bytes.)
        for (size_t length : {(size_t)0, (size_t)3, (size_t)5, (size_t)8, (size_t)11, (size_t)16, (size_t)40, n / 4,
                              n / 2, n - 64, n - 17}) {
            if (length >= n) continue;
            std::string messages;
            const int failed = probeDamaged(t, bytes.substr(0, length), positions, &messages);
            EXPECT_GT(failed, 0) << t.file << " cut to " << length;
            const char* expected = length == 0 ? "Could not mmap()" : "Corrupted table.";
            EXPECT_NE(messages.find(expected), std::string::npos) << t.file << " cut to " << length << ": " << messages;
        }
    }
}

// A symmetric pawn table is always read from its first side-to-move half.
// A distance sub-table whose flags claim the other half sends the probe one
// ply ahead, where every child would find the same claim and look ahead
// again, without end: the lookahead may happen once per probe, and a child
// that asks for it again fails the probe.
TEST(DamagedTableFlags, DtzLookaheadHappensOnce) {
    ensureEngine();
    TempDir tmp;
    const std::string pawns = localDir() + "/pawns";
    tmp.copy(pawns, "KPvKP.rtbw");
    std::string bytes = readFile(pawns + "/KPvKP.rtbz");
    // The flags bytes of the b-file and c-file sub-tables.
    ASSERT_EQ(bytes.at(1052), 2);
    ASSERT_EQ(bytes.at(2590), 2);
    useTables(pawns);
    const char* fen = "8/8/8/1p6/k6K/2P5/8/8 w - - 0 1";
    int success = 0;
    const tb::Board p = probePos(fen);
    const int sound = tb::probeDtz(&p, &success);
    ASSERT_NE(success, 0);
    bytes[1052] = bytes[2590] = 3;
    writeFile(tmp.path + "/KPvKP.rtbz", bytes);
    useTables(tmp.path);
    tb::probeDtz(&p, &success);
    EXPECT_EQ(success, 0);
    // The root probe cannot decide, so the engine searches instead.
    Position pos;
    setPosition(fen, &pos);
    Move line[ROOT_LINE_LENGTH];
    int length = -1;
    EXPECT_EQ(captureStdout([&] { length = probeRootTablebase(&pos, line); }), "");
    EXPECT_EQ(length, 0);
    // The sound file still answers.
    useTables(pawns);
    EXPECT_EQ(tb::probeDtz(&p, &success), sound);
    EXPECT_NE(success, 0);
}

}  // namespace
