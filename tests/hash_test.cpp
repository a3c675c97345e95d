// The transposition table's memory: the background thread that brings the
// pages of a new table in.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "tarnwick.h"

namespace {

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

TEST(HashMemory, BackgroundPagingKeepsTheTableAndEndsInHugePages) {
    // Entries stored while the pages are still being brought in survive it:
    // the helper thread never writes the table.
    allocateHashTable(hashBucketsForSize(64));
    advanceHashAge();
    for (U64 k = 1; k <= 2000; k++) hashStore(k * 0x9e3779b97f4a7c15ULL, (uint32_t)k, 7, 3, boundLower);
    waitForHashTablePages();
    int found = 0;
    for (U64 k = 1; k <= 2000; k++) found += hashEntryMove(hashProbe(k * 0x9e3779b97f4a7c15ULL)) == (uint32_t)k;
    EXPECT_EQ(found, 2000);
    EXPECT_EQ((uintptr_t)hashTable % (2 << 20), 0u);

    // Once it is done, the table sits in huge pages where the kernel has them.
    std::ifstream thp("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string modes((std::istreambuf_iterator<char>(thp)), std::istreambuf_iterator<char>());
    const long kb = anonHugeKb(hashTable);
    if (modes.empty() || modes.find("[never]") != std::string::npos || kb < 0) {
        std::printf("transparent huge pages unavailable; not checked\n");
    } else {
        EXPECT_GE(kb, 32 * 1024) << "of a 64 MB table";
    }

    // Freeing a large table that is still being paged in does not wait for it.
    const auto t0 = std::chrono::steady_clock::now();
    allocateHashTable(hashBucketsForSize(1024));
    freeHashTable();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500));
    allocateHashTable(16384);
}

}  // namespace
