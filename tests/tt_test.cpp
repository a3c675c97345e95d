// The transposition table's memory: how large a table the machine can hold,
// the container limits that bound it, and the background thread that brings
// the pages of a new table in.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform.h"
#include "tt.h"

namespace {

constexpr uint64_t MiB = 1ULL << 20;
constexpr uint64_t GiB = 1ULL << 30;

uint64_t tableBytes(uint64_t buckets) { return buckets * sizeof(HashBucket); }

TEST(HashMemory, TableIsCappedToWhatTheMachineHolds) {
    // The largest request on a 24 GB machine: 16 GB, leaving 8 GB; a request
    // that fits is left alone.  Rounding up can push a request over (20000 MB
    // would take 32 GB).  However small the machine, the smallest table remains.
    EXPECT_EQ(ttBucketsWithinMemory(ttBucketsForSize(256), 24 * GiB), ttBucketsForSize(256));
    EXPECT_EQ(tableBytes(ttBucketsWithinMemory(ttBucketsForSize(262144), 24 * GiB)), 16 * GiB);
    EXPECT_EQ(tableBytes(ttBucketsWithinMemory(ttBucketsForSize(20000), 24 * GiB)), 16 * GiB);
    EXPECT_EQ(ttBucketsWithinMemory(ttBucketsForSize(1024), 1 * MiB), 16384u);

    // Over a wide range of machines, the table never takes more than three
    // quarters of the memory, and is not halved more than needed.
    for (uint64_t mem = 300 * MiB; mem < 4096 * GiB; mem = mem * 5 / 4) {
        const uint64_t wanted = ttBucketsForSize(262144);
        const uint64_t got = ttBucketsWithinMemory(wanted, mem);
        EXPECT_LE(tableBytes(got), mem / 4 * 3) << mem;
        if (got < wanted) {
            EXPECT_GT(tableBytes(got * 2), mem - std::max(mem / 4, 256 * MiB)) << mem;
        }
    }
}

// A fake /proc/self/cgroup and cgroup tree in a scratch directory.
struct FakeCgroups {
    std::string dir;
    FakeCgroups() {
        std::string name = (std::filesystem::temp_directory_path() / "tarnwick-cgroup-XXXXXX").string();
        dir = mkdtemp(&name[0]) ? name : "";
    }
    ~FakeCgroups() {
        if (!dir.empty()) std::filesystem::remove_all(dir);
    }
    void write(const std::string& path, const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(dir + path).parent_path());
        std::ofstream(dir + path) << text;
    }
    uint64_t limit(uint64_t physical) {
        return platform::cgroupMemoryLimit(physical, dir + "/self-cgroup", dir + "/cg");
    }
};

TEST(HashMemory, ContainerLimitsBoundTheMemory) {
    {  // Unified hierarchy: the tightest limit on the way up counts; "max" is none.
        FakeCgroups f;
        ASSERT_FALSE(f.dir.empty());
        f.write("/self-cgroup", "0::/games/engine.scope\n");
        f.write("/cg/games/engine.scope/memory.max", "max\n");
        f.write("/cg/games/memory.max", "2147483648\n");
        EXPECT_EQ(f.limit(24 * GiB), 2 * GiB);
        EXPECT_EQ(f.limit(1 * GiB), 1 * GiB);  // physical memory below the limit
    }
    {  // A container that sees its own group as the root of the mount.
        FakeCgroups f;
        f.write("/self-cgroup", "0::/\n");
        f.write("/cg/memory.max", "1073741824\n");
        EXPECT_EQ(f.limit(24 * GiB), 1 * GiB);
    }
    {  // The older hierarchy, "no limit" being a huge number; other controllers ignored.
        FakeCgroups f;
        f.write("/self-cgroup", "9:cpu,cpuacct:/other\n4:memory:/process_api/abc\n0::/\n");
        f.write("/cg/cpu,cpuacct/other/memory.limit_in_bytes", "1048576\n");
        f.write("/cg/memory/process_api/abc/memory.limit_in_bytes", "9223372036854771712\n");
        f.write("/cg/memory/process_api/memory.limit_in_bytes", "3221225472\n");
        EXPECT_EQ(f.limit(24 * GiB), 3 * GiB);
    }
    const uint64_t physical = (uint64_t)sysconf(_SC_PHYS_PAGES) * (uint64_t)sysconf(_SC_PAGE_SIZE);
    EXPECT_EQ(platform::physicalMemory(), physical);
    EXPECT_GT(memoryLimit(), 0u);
    EXPECT_LE(memoryLimit(), physical);
}

// Huge pages of the mapping that holds `p`, from /proc/self/smaps (-1 when unknown).
long anonHugeKb(const void* p) {
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    bool inside = false;
    while (std::getline(smaps, line)) {
        unsigned long lo, hi;
        if (std::sscanf(line.c_str(), "%lx-%lx ", &lo, &hi) == 2) inside = (uintptr_t)p >= lo && (uintptr_t)p < hi;
        long kb;
        if (inside && std::sscanf(line.c_str(), "AnonHugePages: %ld kB", &kb) == 1) return kb;
    }
    return -1;
}

TEST(HashMemory, TableBeingPagedInIsClearedKeptAndEndsInHugePages) {
    // Entries all over a table of which only the first pages are in yet:
    // "ucinewgame" clears what is in and drops the rest.
    auto key = [](uint64_t k) { return k * 0x9e3779b97f4a7c15ULL; };  // one bucket each
    ttAllocate(ttBucketsForSize(256));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // some pages come in
    ttNewSearch();                                               // and the helper pauses
    for (uint64_t k = 1; k <= 20000; k++) ttStore(key(k), (uint32_t)k, 1, 2, BOUND_EXACT);
    ttClear(1);
    int left = 0;
    for (uint64_t k = 1; k <= 20000; k++) left += ttProbe(key(k)) != 0;
    EXPECT_EQ(left, 0);
    EXPECT_EQ(ttBuckets[ttMask + 1].key[3].load(), 0u);  // the spare bucket

    // Entries stored while the pages come in survive it (the helper never
    // writes the table), and the table ends in huge pages where the kernel
    // has them.
    ttNewSearch();
    for (uint64_t k = 1; k <= 20000; k++) ttStore(key(k), (uint32_t)k, 1, 2, BOUND_EXACT);
    ttSearchEnded();
    ttWaitForPages();
    int found = 0;
    for (uint64_t k = 1; k <= 20000; k++) found += ttEntryMove(ttProbe(key(k))) == (uint32_t)k;
    EXPECT_EQ(found, 20000);
    // The huge pages are counted now, while the table is in place, and
    // judged last: the machine may have none to give.
    std::ifstream thp("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string modes((std::istreambuf_iterator<char>(thp)), std::istreambuf_iterator<char>());
    const long kb = anonHugeKb(ttBuckets);
    const char* noHugePages = modes.empty()                                ? "this kernel has no transparent huge pages"
                              : modes.find("[never]") != std::string::npos ? "transparent huge pages are set to never"
                              : kb < 0                                     ? "/proc/self/smaps does not count them"
                                                                           : nullptr;

    // Freeing a large table that is still being paged in does not wait for it.
    const auto t0 = std::chrono::steady_clock::now();
    ttAllocate(ttBucketsForSize(1024));
    ttFree();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500));
    ttAllocate(16384);

    if (noHugePages) GTEST_SKIP() << "huge pages of the table not checked: " << noHugePages;
    EXPECT_GE(kb, 128 * 1024) << "of a 256 MB table";
}

}  // namespace
