// Endgame tablebase files: the registry of the tables found on disk, mapping
// and parsing the win/draw/loss (.rtbw) and distance-to-zero (.rtbz) files,
// and turning a list of squares into a table index and a stored value.
//
// The files come from outside the engine, so nothing read from them is
// trusted: every offset, size, symbol and block number is checked against the
// mapping before it is used, and a file that does not hold together is
// reported as "Corrupted table." and never probed.  A failed probe only means
// the search goes on without the tablebase answer.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace tb {

// Fixed limits.  The enumeration of names in initTablebases tries 254
// signatures without pawns and 256 with pawns (every table of up to six men),
// and their keys fill no registry bucket beyond five slots, so none of these
// can be exceeded by any set of files.  The registry is a hash table of
// 2^REGISTRY_INDEX_BITS buckets, indexed by the top bits of a material key,
// of REGISTRY_BUCKET_SLOTS slots each.
constexpr int TBMAX_PIECE = 254;
constexpr int TBMAX_PAWN = 256;
constexpr int REGISTRY_BUCKET_SLOTS = 5;
constexpr int REGISTRY_INDEX_BITS = 10;
constexpr int DTZ_ENTRIES = 64;
constexpr int TBPIECES = 6;

// Piece codes inside the tablebase code: P 1, N 2, B 3, R 4, Q 5, K 6, black +8.
enum : int { TB_PAWN = 1, TB_KNIGHT, TB_BISHOP, TB_ROOK, TB_QUEEN, TB_KING, TB_BLACK = 8 };

// Compression state of one sub-table: canonical Huffman codes of up to 32
// bits over "pair" symbols, each of which expands to a run of stored values.
struct PairsData {
    const uint8_t* indexTable = nullptr;      // 6 bytes per entry: block (u32), offset (u16)
    const uint8_t* sizeTable = nullptr;       // u16 per block: values in the block - 1
    const uint8_t* blocks = nullptr;          // the compressed blocks
    const uint8_t* symbolPattern = nullptr;   // 3 bytes per symbol
    std::unique_ptr<uint8_t[]> symbolLength;  // values a symbol expands to, - 1
    uint64_t tableSize = 0;                   // number of indices of the sub-table
    uint64_t numIndices = 0;                  // index-table entries
    uint64_t numSizes = 0;                    // size-table entries (real blocks + extra)
    uint64_t realBlocks = 0;                  // blocks present in the data part
    int numSymbols = 0;
    int blockSize = 0;  // log2 of the block length in bytes
    int indexBits = 0;  // 0: the sub-table holds the single value minLen
    int minLen = 0;
    int maxLen = 0;
    int offset[33] = {};     // first symbol of each code length
    uint64_t base[33] = {};  // smallest 32-bit code of each length (may be 2^32)
};

// Per-side index layout and compression of one piece table, or of one
// leading-pawn file of a pawn table.
struct SubTable {
    std::unique_ptr<PairsData> pairs[2];
    uint8_t pieces[2][TBPIECES] = {};  // piece code of each index position
    uint8_t norm[2][TBPIECES] = {};    // group sizes, at each group's first position
    uint8_t run[2][TBPIECES] = {};     // men of one code filled from this position
    uint64_t factor[2][TBPIECES] = {};
    // Distance-to-zero files only.
    uint8_t flags = 0;
    const uint8_t* map = nullptr;  // value maps of this file
    uint16_t mapIndex[4] = {};     // start of run i within the maps
    uint8_t mapLength[4] = {};     // length of run i
};

struct WdlTable {
    const uint8_t* data = nullptr;  // the read-only mapping, once loaded
    uint64_t key = 0;               // material key of the signature as named
    uint64_t mapSize = 0;
    std::atomic<uint8_t> loaded{0};
    uint8_t men = 0;
    uint8_t symmetric = 0;
    uint8_t pawnTable = 0;
    uint8_t failed = 0;         // the file could not be used (written under loadMutex)
    uint8_t encoding = 0;       // piece tables: index scheme of the leading men
    uint8_t pawnCount[2] = {};  // pawn tables: leading colour's pawns, the other's
    uint8_t count[16] = {};     // men of each tablebase piece code, as named
};

struct PieceWdlTable : WdlTable {
    SubTable st;
};

struct PawnWdlTable : WdlTable {
    SubTable st[4];  // by leading-pawn file a..d
};

// A loaded distance-to-zero file (one side to move per file).
struct DtzTable {
    const uint8_t* data = nullptr;
    uint64_t key = 0;
    uint64_t mapSize = 0;
    uint8_t men = 0, symmetric = 0, pawnTable = 0, encoding = 0;
    uint8_t pawnCount[2] = {};
    SubTable st[4];  // piece tables use st[0]
};

struct RegistrySlot {
    std::atomic<uint64_t> key{0};
    WdlTable* ptr = nullptr;
};

struct DtzCacheSlot {
    uint64_t key1 = 0, key2 = 0;
    DtzTable* entry = nullptr;
};

// Registry and caches.
extern int largestMen;
extern std::mutex loadMutex;
extern int pieceTableCount, pawnTableCount;
extern RegistrySlot registry[1 << REGISTRY_INDEX_BITS][REGISTRY_BUCKET_SLOTS];
extern DtzCacheSlot dtzCache[DTZ_ENTRIES];

// Index tables.
extern const uint8_t (&FLAP)[64];  // NOLINT(readability-identifier-naming): a constant table
extern const uint8_t FILE_TO_FILE[8];
extern const int16_t (&KK_INDEX)[10][64];  // NOLINT(readability-identifier-naming): a constant table

extern const uint64_t MATERIAL_MULTIPLIER[2][5];  // [colour][Q R B N P]

// Tests of damaged files set this before any table is loaded: files are then
// read into heap blocks of their exact size instead of being mapped, so that
// a bounds checker sees any read past a file's end (a mapping hides such
// reads in the slack of its last page).
extern bool readFilesToHeap;

// (Re)initialise from a list of directories separated by ':' (';' on
// Windows: platform::PATH_LIST_SEPARATOR).  An empty list or "<empty>"
// leaves no table registered.  Must not run during a search.
void initTablebases(const char* path);

// Has a file mapped since initTablebases changed on disk (rewritten,
// truncated, replaced or removed)?  The tables must then be set up again
// before they are read: a mapping of a file truncated in place cannot be
// read past its new end.
bool mappedFilesChanged();

// Lazy load of a registered WDL entry, called with loadMutex held; `name` is
// the table name in the orientation of the entry's own key.
bool loadWdlTable(WdlTable* entry, const char* name);
// Load a DTZ file for a registered entry; null when missing or corrupted.
DtzTable* loadDtzTable(const WdlTable* entry, const char* name, uint64_t key1);
void freeDtzTable(DtzTable* entry);
// Forget a signature whose file turned out unusable (both registry keys).
void dropRegistryEntry(const WdlTable* entry);

// Registry lookup of a material key (null when not registered).
inline WdlTable* findTable(uint64_t key) {
    RegistrySlot* bucket = registry[key >> (64 - REGISTRY_INDEX_BITS)];
    for (int i = 0; i < REGISTRY_BUCKET_SLOTS; i++)
        if (bucket[i].key.load(std::memory_order_relaxed) == key) return bucket[i].ptr;
    return nullptr;
}

// Number of occupied registry slots (two for a signature that differs from
// its mirror image, one for a symmetric one).
int registrySlots();

// Index of a position's men, squares in p[] as filled for the table; returns
// false when the squares cannot belong to the table (never for sound input).
bool encodePiece(int encoding, const uint8_t* norm, int* p, const uint64_t* factor, int men, uint64_t* index);
bool encodePawn(const uint8_t* pawnCount, const uint8_t* norm, int* p, const uint64_t* factor, int men,
                uint64_t* index);

// The stored byte at an index of a sub-table, or -1 when the compressed data
// does not decode within its bounds.
int decompressPairs(const PairsData* d, uint64_t index);

}  // namespace tb
