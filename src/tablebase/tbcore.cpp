// Tablebase files: registry, mapping, header parsing, index encoding and the
// decompression of stored values.  See tbcore.h for the overall picture.
#include "tablebase/tbcore.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform.h"

namespace tb {

int largestMen = 0;
bool readFilesToHeap = false;
std::mutex loadMutex;
int pieceTableCount = 0, pawnTableCount = 0;
RegistrySlot registry[1 << REGISTRY_INDEX_BITS][REGISTRY_BUCKET_SLOTS];
DtzCacheSlot dtzCache[DTZ_ENTRIES];

const uint64_t MATERIAL_MULTIPLIER[2][5] = {
    {0xa3ec1abc71e90863ULL, 0x985deb9fc49333f9ULL, 0xaadc1a2be446234dULL, 0xd2fb81862830191fULL, 0xec0ade190c0f6003ULL},
    {0xd6e4e47d24962951ULL, 0xfd7866b439b94495ULL, 0xd5a4c95928f2fbe3ULL, 0xbaeb854cd3259441ULL, 0xa24f0f571bb202e7ULL},
};

namespace {

constexpr uint32_t WDL_MAGIC = 0x5d23e871;
constexpr uint32_t DTZ_MAGIC = 0xa50c66d7;

// ---------------------------------------------------------------------------
// Square tables of the indexing scheme.  The leading men are brought into the
// a1-d1-d4 triangle by mirroring files, ranks and the long diagonal; pawns are
// brought onto files a-d.
// ---------------------------------------------------------------------------
struct SquareTable {
    uint8_t v[64];
};

constexpr bool offDiagonal(int sq) { return (sq >> 3) != (sq & 7); }
constexpr bool aboveDiagonal(int sq) { return (sq >> 3) > (sq & 7); }

constexpr SquareTable makeTriangle() {
    // Classes of the ten squares of the a1-d1-d4 triangle, by (file, rank).
    SquareTable t{};
    for (int sq = 0; sq < 64; sq++) {
        int f = sq & 7, r = sq >> 3;
        if (f > 3) f = 7 - f;
        if (r > 3) r = 7 - r;
        if (r > f) {
            int x = f;
            f = r;
            r = x;
        }
        int c = 0;
        if (r == 0)
            c = f == 0 ? 6 : f - 1;  // a1 6, b1 0, c1 1, d1 2
        else if (r == 1)
            c = f == 1 ? 7 : f + 1;  // b2 7, c2 3, d2 4
        else if (r == 2)
            c = f == 2 ? 8 : 5;  // c3 8, d3 5
        else
            c = 9;  // d4
        t.v[sq] = (uint8_t)c;
    }
    return t;
}

constexpr SquareTable makeDiag() {
    SquareTable t{};
    for (int i = 0; i < 8; i++) {
        t.v[i * 9] = (uint8_t)i;            // a1 .. h8
        t.v[7 + i * 7] = (uint8_t)(8 + i);  // h1 .. a8
    }
    return t;
}

constexpr SquareTable makeFlipdiag() {
    SquareTable t{};
    for (int sq = 0; sq < 64; sq++) t.v[sq] = (uint8_t)(((sq & 7) << 3) | (sq >> 3));
    return t;
}

constexpr SquareTable makeLower() {
    SquareTable t{};
    int n = 0;
    for (int sq = 0; sq < 64; sq++)
        if ((sq & 7) > (sq >> 3)) t.v[sq] = (uint8_t)n++;
    for (int i = 0; i < 8; i++) t.v[i * 9] = (uint8_t)(28 + i);
    for (int sq = 0; sq < 64; sq++)
        if (aboveDiagonal(sq)) t.v[sq] = t.v[((sq & 7) << 3) | (sq >> 3)];
    return t;
}

constexpr SquareTable makeFlap() {
    SquareTable t{};
    for (int sq = 8; sq < 56; sq++) {
        int f = sq & 7;
        if (f > 3) f = 7 - f;
        t.v[sq] = (uint8_t)(6 * f + (sq >> 3) - 1);
    }
    return t;
}

constexpr SquareTable makePtwist() {
    // Rows a..h of rank 2; each higher rank counts two lower on files a-d
    // and h-e alike.
    const uint8_t rank2[8] = {47, 35, 23, 11, 10, 22, 34, 46};
    SquareTable t{};
    for (int r = 1; r < 7; r++)
        for (int f = 0; f < 8; f++) t.v[8 * r + f] = (uint8_t)(rank2[f] - 2 * (r - 1));
    return t;
}

struct KKTable {
    int16_t v[10][64];
};

constexpr KKTable makeKkIdx() {
    // Canonical square of each triangle class.
    const int first[10] = {1, 2, 3, 10, 11, 19, 0, 9, 18, 27};
    KKTable t{};
    for (int c = 0; c < 10; c++)
        for (int s = 0; s < 64; s++) t.v[c][s] = -1;
    auto touches = [](int a, int b) {
        int df = (a & 7) - (b & 7), dr = (a >> 3) - (b >> 3);
        if (df < 0) df = -df;
        if (dr < 0) dr = -dr;
        return df <= 1 && dr <= 1;
    };
    int n = 0;
    for (int c = 0; c < 10; c++) {
        const int k = first[c];
        for (int s = 0; s < 64; s++) {
            if (touches(k, s)) continue;
            if (c >= 6 && !((s & 7) > (s >> 3))) continue;  // only below the diagonal
            t.v[c][s] = (int16_t)n++;
        }
    }
    for (int c = 6; c < 10; c++) {
        const int k = first[c];
        for (int s = 0; s < 64; s += 9)
            if (!touches(k, s)) t.v[c][s] = (int16_t)n++;
    }
    return t;
}

constexpr SquareTable TRIANGLE = makeTriangle();
constexpr SquareTable DIAG = makeDiag();
constexpr SquareTable FLIPDIAG = makeFlipdiag();
constexpr SquareTable LOWER = makeLower();
constexpr SquareTable FLAP_TABLE = makeFlap();
constexpr SquareTable PTWIST = makePtwist();
constexpr KKTable KKIDX = makeKkIdx();

static_assert(TRIANGLE.v[1] == 0 && TRIANGLE.v[27] == 9 && TRIANGLE.v[63] == 6, "triangle classes");
static_assert(LOWER.v[1] == 0 && LOWER.v[7] == 6 && LOWER.v[10] == 7 && LOWER.v[63] == 35, "lower numbering");
static_assert(PTWIST.v[8] == 47 && PTWIST.v[52] == 0 && PTWIST.v[55] == 36, "pawn twist");
static_assert(FLAP_TABLE.v[8] == 0 && FLAP_TABLE.v[9] == 6 && FLAP_TABLE.v[55] == 5, "pawn files");

constexpr uint32_t PIVOT_FACTOR[3] = {31332, 28056, 462};

// BINOMIAL[k][n] is C(n, k + 1), the number of ways to place k + 1 like men
// on n free squares.
struct BinomialTable {
    uint32_t v[5][64];
};

constexpr BinomialTable makeBinomial() {
    BinomialTable t{};
    for (int k = 0; k < 5; k++)
        for (int n = 0; n < 64; n++) {
            uint64_t c = 1;
            if (n < k + 1)
                c = 0;
            else
                for (int i = 0; i <= k; i++) c = c * (uint64_t)(n - i) / (uint64_t)(i + 1);
            t.v[k][n] = (uint32_t)c;
        }
    return t;
}

constexpr BinomialTable BINOMIAL_TABLE = makeBinomial();
// A constant table, held by reference.
// NOLINTNEXTLINE(readability-identifier-naming)
constexpr const uint32_t (&BINOMIAL)[5][64] = BINOMIAL_TABLE.v;

// The leading pawns of a pawn table, i + 1 of them with the leading one on
// file f (a-d), whose sub-table is file f's own: PAWN_INDEX[i][6 * f + r] is
// the first index of the placements whose leading pawn stands on rank r + 2,
// PAWN_FACTOR[i][f] the number of placements on file f.
struct PawnIndexTables {
    uint32_t index[5][24];
    uint32_t factor[5][4];
};

constexpr PawnIndexTables makePawnIndex() {
    PawnIndexTables t{};
    for (int i = 0; i < 5; i++) {
        for (int file = 0; file < 4; file++) {
            uint32_t s = 0;
            for (int r = 0; r < 6; r++) {
                const int j = 6 * file + r;
                t.index[i][j] = s;
                const int sq = 8 * (r + 1) + file;
                s += i == 0 ? 1 : BINOMIAL[i - 1][PTWIST.v[sq]];
            }
            t.factor[i][file] = s;
        }
    }
    return t;
}

constexpr PawnIndexTables PAWN_INDEX_TABLES = makePawnIndex();
// A constant table, held by reference.
// NOLINTNEXTLINE(readability-identifier-naming)
constexpr const uint32_t (&PAWN_INDEX)[5][24] = PAWN_INDEX_TABLES.index;
// A constant table, held by reference.
// NOLINTNEXTLINE(readability-identifier-naming)
constexpr const uint32_t (&PAWN_FACTOR)[5][4] = PAWN_INDEX_TABLES.factor;

static_assert(BINOMIAL[0][63] == 63 && BINOMIAL[1][4] == 6 && BINOMIAL[4][63] == 7028847, "binomials");
static_assert(PAWN_FACTOR[0][0] == 6 && PAWN_INDEX[0][23] == 5, "one leading pawn: one index per square of its file");

// ---------------------------------------------------------------------------
// Little helpers for reading the files byte by byte (no alignment assumed).
// ---------------------------------------------------------------------------
inline uint32_t readLe16(const uint8_t* p) { return (uint32_t)p[0] | ((uint32_t)p[1] << 8); }
inline uint32_t readLe32(const uint8_t* p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
inline uint32_t readBe32(const uint8_t* p) {
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | (uint32_t)p[3];
}

// ---------------------------------------------------------------------------
// Paths and files
// ---------------------------------------------------------------------------
std::string pathString;
std::vector<std::string> paths;

PieceWdlTable pieceTables[TBMAX_PIECE];
PawnWdlTable pawnTables[TBMAX_PAWN];

// Only a regular file can be a table.  A FIFO, a device or a directory that
// happens to carry a table's name is passed over (platform::ReadOnlyFile
// opens nothing else, and never waits on a FIFO).
bool openTb(const char* name, const char* suffix, platform::ReadOnlyFile& file, std::string* opened = nullptr) {
    for (const std::string& dir : paths) {
        const std::string path = dir + "/" + name + suffix;
        if (!file.open(path)) continue;
        if (opened) *opened = path;
        return true;
    }
    return false;
}

// Every file mapped since the tables were last set up, with its stamp at the
// time.  A file that is truncated in place while it is mapped cannot be read
// any more (the system stops the program at the first read past the new
// end), so the engine looks for changed files when a game starts.  WDL files
// are mapped by any search thread, DTZ files by the main one: hence the lock.
struct MappedFile {
    std::string path;
    platform::FileStamp stamp;
};
std::mutex mappedFilesMutex;
std::vector<MappedFile> mappedFiles;

enum MapStatus { MAP_OK, MAP_NOT_FOUND, MAP_FAILED_TO_MAP };

const uint8_t* mapFile(const char* name, const char* suffix, uint64_t* size, MapStatus* status) {
    *size = 0;
    platform::ReadOnlyFile file;
    std::string path;
    if (!openTb(name, suffix, file, &path)) {
        *status = MAP_NOT_FOUND;
        return nullptr;
    }
    // A mapping that cannot be made (an empty or unreadable file, no address
    // space left) costs the engine this table, not the game.
    const uint8_t* data = nullptr;
    if (file.size() > 0 && readFilesToHeap) {
        uint8_t* copy = new uint8_t[(size_t)file.size()];
        if (file.readAll(copy))
            data = copy;
        else
            delete[] copy;
    } else if (file.size() > 0) {
        data = file.mapAll();
    }
    if (!data) {
        std::fprintf(stderr, "Could not mmap() %s%s.\n", name, suffix);
        *status = MAP_FAILED_TO_MAP;
        return nullptr;
    }
    *size = file.size();
    *status = MAP_OK;
    std::lock_guard<std::mutex> lock(mappedFilesMutex);
    mappedFiles.push_back({path, file.stamp()});
    return data;
}

void unmapFile(const uint8_t* data, uint64_t size) {
    if (!data) return;
    if (readFilesToHeap) {
        delete[] data;
        return;
    }
    platform::unmapFile(data, size);
}

void clearSubtable(SubTable& st) {
    st.pairs[0].reset();
    st.pairs[1].reset();
    std::memset(st.pieces, 0, sizeof st.pieces);
    std::memset(st.norm, 0, sizeof st.norm);
    std::memset(st.run, 0, sizeof st.run);
    std::memset(st.factor, 0, sizeof st.factor);
    st.flags = 0;
    st.map = nullptr;
    std::memset(st.mapIndex, 0, sizeof st.mapIndex);
    std::memset(st.mapLength, 0, sizeof st.mapLength);
}

void clearHead(WdlTable& e) {
    e.data = nullptr;
    e.key = 0;
    e.mapSize = 0;
    e.loaded.store(0, std::memory_order_relaxed);
    e.men = e.symmetric = e.pawnTable = e.failed = e.encoding = 0;
    e.pawnCount[0] = e.pawnCount[1] = 0;
    std::memset(e.count, 0, sizeof e.count);
}

void freeWdlEntry(WdlTable& e, SubTable* st, int files) {
    unmapFile(e.data, e.mapSize);
    for (int f = 0; f < files; f++) clearSubtable(st[f]);
    clearHead(e);
}

uint64_t keyOfCounts(const uint8_t* count, bool mirror) {
    // Codes Q R B N P in the order of MATERIAL_MULTIPLIER.
    static const int codes[5] = {TB_QUEEN, TB_ROOK, TB_BISHOP, TB_KNIGHT, TB_PAWN};
    uint64_t key = 0;
    for (int i = 0; i < 5; i++) {
        key += (uint64_t)count[codes[i]] * MATERIAL_MULTIPLIER[mirror ? 1 : 0][i];
        key += (uint64_t)count[codes[i] | TB_BLACK] * MATERIAL_MULTIPLIER[mirror ? 0 : 1][i];
    }
    return key;
}

void addToHash(WdlTable* entry, uint64_t key) {
    RegistrySlot* bucket = registry[key >> (64 - REGISTRY_INDEX_BITS)];
    int i = 0;
    while (i < REGISTRY_BUCKET_SLOTS && bucket[i].ptr) i++;
    if (i == REGISTRY_BUCKET_SLOTS) {
        std::fprintf(stderr, "REGISTRY_BUCKET_SLOTS too low!\n");
        std::exit(1);
    }
    bucket[i].key.store(key, std::memory_order_relaxed);
    bucket[i].ptr = entry;
}

int pieceCode(char c) {
    switch (c) {
    case 'P': return TB_PAWN;
    case 'N': return TB_KNIGHT;
    case 'B': return TB_BISHOP;
    case 'R': return TB_ROOK;
    case 'Q': return TB_QUEEN;
    case 'K': return TB_KING;
    default: return 0;
    }
}

void initTb(const char* name) {
    {
        platform::ReadOnlyFile file;
        if (!openTb(name, ".rtbw", file)) return;
    }

    uint8_t count[16] = {};
    int colour = 0;
    for (const char* s = name; *s; s++) {
        if (*s == 'v')
            colour = TB_BLACK;
        else
            count[pieceCode(*s) | colour]++;
    }
    const uint64_t key = keyOfCounts(count, false);
    const uint64_t mirrored = keyOfCounts(count, true);

    WdlTable* entry;
    const bool pawns = count[TB_PAWN] || count[TB_PAWN | TB_BLACK];
    if (pawns) {
        if (pawnTableCount == TBMAX_PAWN) {
            std::fprintf(stderr, "TBMAX_PAWN limit too low!\n");
            std::exit(1);
        }
        entry = &pawnTables[pawnTableCount++];
    } else {
        if (pieceTableCount == TBMAX_PIECE) {
            std::fprintf(stderr, "TBMAX_PIECE limit too low!\n");
            std::exit(1);
        }
        entry = &pieceTables[pieceTableCount++];
    }
    clearHead(*entry);
    entry->key = key;
    std::memcpy(entry->count, count, sizeof count);
    int men = 0;
    for (int c = 0; c < 16; c++) men += count[c];
    entry->men = (uint8_t)men;
    entry->symmetric = key == mirrored;
    entry->pawnTable = pawns;
    if (men > largestMen) largestMen = men;

    if (!pawns) {
        int unique = 0, smallest = 16;
        for (int c = 0; c < 16; c++) {
            if (count[c] == 1) unique++;
            if (count[c] >= 2 && count[c] < smallest) smallest = count[c];
        }
        entry->encoding = (uint8_t)(unique >= 3 ? 0 : unique == 2 ? 2 : 1 + smallest);
    } else {
        int white = count[TB_PAWN], black = count[TB_PAWN | TB_BLACK];
        if (black > 0 && (white == 0 || black < white)) {
            entry->pawnCount[0] = (uint8_t)black;
            entry->pawnCount[1] = (uint8_t)white;
        } else {
            entry->pawnCount[0] = (uint8_t)white;
            entry->pawnCount[1] = (uint8_t)black;
        }
    }

    addToHash(entry, key);
    if (!entry->symmetric) addToHash(entry, mirrored);
}

// ---------------------------------------------------------------------------
// File parsing
// ---------------------------------------------------------------------------

// Symbol lengths: a pair symbol expands to the values of its left and right
// symbols.  A symbol may only refer to symbols whose expansion is already
// finite; a cycle, a reference out of the table or an expansion longer than a
// byte can count marks the file as corrupted.
bool calcSymlen(PairsData* d, int s, uint8_t* state, int depth) {
    if (depth > 256) return false;
    const uint8_t* w = d->symbolPattern + 3 * s;
    const int s2 = (w[2] << 4) | (w[1] >> 4);
    if (s2 == 0x0fff) {
        d->symbolLength[s] = 0;
    } else {
        const int s1 = ((w[1] & 0x0f) << 8) | w[0];
        if (s1 >= d->numSymbols || s2 >= d->numSymbols) return false;
        state[s] = 1;
        for (int t : {s1, s2}) {
            if (state[t] == 1) return false;
            if (state[t] == 0 && !calcSymlen(d, t, state, depth + 1)) return false;
        }
        const int len = d->symbolLength[s1] + d->symbolLength[s2] + 1;
        if (len > 255) return false;
        d->symbolLength[s] = (uint8_t)len;
    }
    state[s] = 2;
    return true;
}

// One compression header at data[*pos].  On success *pos is moved past it and
// sizes[] holds the bytes of the index table, the size table and the blocks.
std::unique_ptr<PairsData> setupPairs(const uint8_t* data, uint64_t fileSize, uint64_t* pos, uint64_t tableSize,
                                      bool wdl, uint64_t sizes[3]) {
    sizes[0] = sizes[1] = sizes[2] = 0;
    const uint64_t at = *pos;
    if (at + 2 > fileSize) return nullptr;
    const uint8_t* h = data + at;
    auto d = std::make_unique<PairsData>();
    d->tableSize = tableSize;
    if (h[0] & 0x80) {
        d->indexBits = 0;
        d->minLen = wdl ? h[1] : 0;
        *pos = at + 2;
        return d;
    }
    if (at + 12 > fileSize) return nullptr;
    d->blockSize = h[1];
    d->indexBits = h[2];
    const uint64_t extra = h[3];
    d->realBlocks = readLe32(h + 4);
    d->maxLen = h[8];
    d->minLen = h[9];
    if (d->blockSize < 2 || d->blockSize > 30) return nullptr;
    if (d->indexBits < 1 || d->indexBits > 40) return nullptr;
    if (d->minLen < 1 || d->maxLen < d->minLen || d->maxLen > 32) return nullptr;
    const int hlen = d->maxLen - d->minLen + 1;
    if (at + 12 + 2 * (uint64_t)hlen > fileSize) return nullptr;
    d->numSymbols = (int)readLe16(h + 10 + 2 * hlen);
    if (d->numSymbols < 1 || d->numSymbols > 0x0fff) return nullptr;
    const uint64_t end = at + 12 + 2 * (uint64_t)hlen + 3 * (uint64_t)d->numSymbols + (d->numSymbols & 1);
    if (end > fileSize) return nullptr;
    d->symbolPattern = h + 12 + 2 * hlen;

    // Canonical codes: the longest codes are the smallest numbers.  Limits
    // are kept left-aligned in 32 bits, in 64-bit words because the limit of
    // a length without codes can reach 2^32.
    int64_t base[32];
    int off[32];
    for (int i = 0; i < hlen; i++) off[i] = (int)readLe16(h + 10 + 2 * i);
    base[hlen - 1] = 0;
    for (int i = hlen - 2; i >= 0; i--) {
        base[i] = (base[i + 1] + off[i] - off[i + 1]) / 2;
        if (base[i] < 0) return nullptr;
    }
    for (int i = 0; i < hlen; i++) {
        const int len = d->minLen + i;
        d->base[len] = (uint64_t)base[i] << (32 - len);
        d->offset[len] = off[i];
    }

    d->symbolLength = std::make_unique<uint8_t[]>((size_t)d->numSymbols);
    std::vector<uint8_t> state((size_t)d->numSymbols, 0);
    for (int s = 0; s < d->numSymbols; s++)
        if (state[s] == 0 && !calcSymlen(d.get(), s, state.data(), 0)) return nullptr;

    d->numIndices = (tableSize >> d->indexBits) + ((tableSize & ((1ULL << d->indexBits) - 1)) != 0);
    d->numSizes = d->realBlocks + extra;
    sizes[0] = 6 * d->numIndices;
    sizes[1] = 2 * d->numSizes;
    sizes[2] = d->realBlocks << d->blockSize;
    *pos = end;
    return d;
}

// Index layout of one side of one sub-table from its descriptor: checks that
// the piece codes are exactly the men of the table with every code in one
// run, then sets the group sizes and factors.  Returns the sub-table size, 0
// when the descriptor cannot belong to this table.
uint64_t setupLayout(const WdlTable& info, SubTable& st, int side, int order, int order2, int file) {
    const int men = info.men;
    const uint8_t* pc = st.pieces[side];
    uint8_t* norm = st.norm[side];
    uint8_t* run = st.run[side];
    uint64_t* factor = st.factor[side];
    std::memset(norm, 0, TBPIECES);
    std::memset(run, 0, TBPIECES);

    uint8_t seen[16] = {};
    for (int i = 0; i < men;) {
        const int code = pc[i];
        if (code == 0 || code == 7 || code == 8 || code == 15 || seen[code]) return 0;
        seen[code] = 1;
        int j = i;
        while (j < men && pc[j] == code) j++;
        if (j - i != info.count[code]) return 0;
        run[i] = (uint8_t)(j - i);
        i = j;
    }

    // The leading group, whose placement is encoded together (the kings and
    // pieces of the encoding, or the leading pawns), and in a pawn table the
    // other colour's pawns; the remaining men follow in runs.
    uint64_t leadFactor;
    int otherPawns = 0;  // the other colour's pawns of a pawn table
    int start;           // the first man after these groups
    if (!info.pawnTable) {
        if (info.encoding > 2) return 0;
        norm[0] = info.encoding == 0 ? 3 : 2;
        leadFactor = PIVOT_FACTOR[info.encoding];
        start = norm[0];
    } else {
        const int leadPawns = info.pawnCount[0];
        otherPawns = info.pawnCount[1];
        const int lead = pc[0];
        if ((lead & 7) != TB_PAWN || run[0] != leadPawns || leadPawns < 1 || leadPawns > 5) return 0;
        if (otherPawns && (leadPawns >= men || pc[leadPawns] != (lead ^ TB_BLACK) || run[leadPawns] != otherPawns))
            return 0;
        norm[0] = (uint8_t)leadPawns;
        if (otherPawns) norm[leadPawns] = (uint8_t)otherPawns;
        leadFactor = PAWN_FACTOR[leadPawns - 1][file];
        start = leadPawns + otherPawns;
    }
    for (int i = start; i < men;) {
        int j = i;
        while (j < men && pc[j] == pc[i]) j++;
        norm[i] = (uint8_t)(j - i);
        i = j;
    }

    // The factors in the order the descriptor gives: the leading group at
    // position `order`, the other colour's pawns at `order2`, the runs at the
    // other positions.
    uint64_t f = 1;
    int n = 64 - start;
    bool leadDone = false, otherDone = otherPawns == 0;
    for (int k = 0, i = start; i < men || k == order || (info.pawnTable && k == order2); k++) {
        if (k == order) {
            factor[0] = f;
            f *= leadFactor;
            leadDone = true;
        } else if (info.pawnTable && k == order2) {
            if (otherPawns == 0) return 0;
            factor[norm[0]] = f;
            f *= BINOMIAL[otherPawns - 1][48 - norm[0]];
            otherDone = true;
        } else {
            if (norm[i] > 5 || n < norm[i]) return 0;
            factor[i] = f;
            f *= BINOMIAL[norm[i] - 1][n];
            n -= norm[i];
            i += norm[i];
        }
    }
    return leadDone && otherDone ? f : 0;
}

// Parse a whole WDL or DTZ file into its sub-tables.  Every part must lie
// inside the file.
bool parseTables(const uint8_t* data, uint64_t size, const WdlTable& info, SubTable* st, bool wdl) {
    const int files = info.pawnTable ? 4 : 1;
    const int men = info.men;
    if (size < 6 || men < 2 || men > TBPIECES) return false;
    const uint8_t flags = data[4];
    if (((flags & 2) != 0) != (info.pawnTable != 0)) return false;
    const int sides = wdl && (flags & 1) ? 2 : 1;
    const bool twoOrders = info.pawnTable && info.pawnCount[1] > 0;

    uint64_t pos = 5;
    int order[4][2], order2[4][2];
    for (int f = 0; f < files; f++) {
        if (pos + 1 + twoOrders + men > size) return false;
        order[f][0] = data[pos] & 0x0f;
        order[f][1] = data[pos] >> 4;
        if (twoOrders) {
            order2[f][0] = data[pos + 1] & 0x0f;
            order2[f][1] = data[pos + 1] >> 4;
        } else {
            order2[f][0] = order2[f][1] = 0x0f;
        }
        pos += 1 + twoOrders;
        for (int i = 0; i < men; i++) {
            st[f].pieces[0][i] = data[pos + i] & 0x0f;
            st[f].pieces[1][i] = data[pos + i] >> 4;
        }
        pos += men;
    }
    pos += pos & 1;

    uint64_t tableSize[4][2] = {};
    for (int f = 0; f < files; f++)
        for (int s = 0; s < sides; s++) {
            // Every file must lead with the pawns named by file a.
            if (info.pawnTable && st[f].pieces[s][0] != st[0].pieces[0][0]) return false;
            tableSize[f][s] = setupLayout(info, st[f], s, order[f][s], order2[f][s], f);
            if (tableSize[f][s] == 0) return false;
        }

    uint64_t part[4][2][3] = {};
    for (int f = 0; f < files; f++)
        for (int s = 0; s < sides; s++) {
            if (!wdl) st[f].flags = pos < size ? data[pos] : 0;
            st[f].pairs[s] = setupPairs(data, size, &pos, tableSize[f][s], wdl, part[f][s]);
            if (!st[f].pairs[s]) return false;
        }

    if (!wdl) {
        // Value maps: four runs per file, each a length byte and its values.
        for (int f = 0; f < files; f++) {
            if (!(st[f].flags & 2)) continue;
            st[f].map = data + pos;
            uint64_t at = 0;
            for (int i = 0; i < 4; i++) {
                if (pos + at >= size) return false;
                const uint8_t len = data[pos + at];
                st[f].mapIndex[i] = (uint16_t)(at + 1);
                st[f].mapLength[i] = len;
                at += 1 + (uint64_t)len;
            }
            pos += at;
            if (pos > size) return false;
        }
        pos += pos & 1;
    }

    for (int f = 0; f < files; f++)
        for (int s = 0; s < sides; s++) {
            st[f].pairs[s]->indexTable = data + pos;
            pos += part[f][s][0];
            if (pos > size) return false;
        }
    for (int f = 0; f < files; f++)
        for (int s = 0; s < sides; s++) {
            st[f].pairs[s]->sizeTable = data + pos;
            pos += part[f][s][1];
            if (pos > size) return false;
        }
    for (int f = 0; f < files; f++)
        for (int s = 0; s < sides; s++) {
            if (part[f][s][2] == 0) continue;
            pos = (pos + 63) & ~(uint64_t)63;
            st[f].pairs[s]->blocks = data + pos;
            pos += part[f][s][2];
            if (pos > size) return false;
        }
    return true;
}

}  // namespace

const uint8_t (&FLAP)[64] = FLAP_TABLE.v;
const uint8_t FILE_TO_FILE[8] = {0, 1, 2, 3, 3, 2, 1, 0};
const int16_t (&KK_INDEX)[10][64] = KKIDX.v;

// ---------------------------------------------------------------------------
// Registry
// ---------------------------------------------------------------------------
bool mappedFilesChanged() {
    std::lock_guard<std::mutex> lock(mappedFilesMutex);
    for (const MappedFile& f : mappedFiles) {
        platform::FileStamp now;
        if (!platform::stampOf(f.path, &now) || now != f.stamp) return true;
    }
    return false;
}

void initTablebases(const char* path) {
    // Let go of the tables of the previous path (none the first time).
    pathString.clear();
    paths.clear();
    for (int i = 0; i < pieceTableCount; i++) freeWdlEntry(pieceTables[i], &pieceTables[i].st, 1);
    for (int i = 0; i < pawnTableCount; i++) freeWdlEntry(pawnTables[i], pawnTables[i].st, 4);
    for (int i = 0; i < DTZ_ENTRIES; i++)
        if (dtzCache[i].entry) freeDtzTable(dtzCache[i].entry);
    pieceTableCount = pawnTableCount = largestMen = 0;
    for (auto& bucket : registry)
        for (auto& slot : bucket) {
            slot.key.store(0, std::memory_order_relaxed);
            slot.ptr = nullptr;
        }
    for (auto& slot : dtzCache) slot = DtzCacheSlot{};
    {
        std::lock_guard<std::mutex> lock(mappedFilesMutex);
        mappedFiles.clear();
    }

    if (!path || !*path || std::strcmp(path, "<empty>") == 0) return;

    pathString = path;
    size_t start = 0;
    while (start <= pathString.size()) {
        size_t end = pathString.find(platform::PATH_LIST_SEPARATOR, start);
        if (end == std::string::npos) end = pathString.size();
        if (end > start) paths.push_back(pathString.substr(start, end - start));
        start = end + 1;
    }

    constexpr char pieceLetters[] = {'K', 'Q', 'R', 'B', 'N', 'P'};
    char name[16];
    for (int i = 1; i < 6; i++) {
        std::snprintf(name, sizeof name, "K%cvK", pieceLetters[i]);
        initTb(name);
    }
    for (int i = 1; i < 6; i++)
        for (int j = i; j < 6; j++) {
            std::snprintf(name, sizeof name, "K%cvK%c", pieceLetters[i], pieceLetters[j]);
            initTb(name);
        }
    for (int i = 1; i < 6; i++)
        for (int j = i; j < 6; j++) {
            std::snprintf(name, sizeof name, "K%c%cvK", pieceLetters[i], pieceLetters[j]);
            initTb(name);
        }
    for (int i = 1; i < 6; i++)
        for (int j = i; j < 6; j++)
            for (int k = 1; k < 6; k++) {
                std::snprintf(name, sizeof name, "K%c%cvK%c", pieceLetters[i], pieceLetters[j], pieceLetters[k]);
                initTb(name);
            }
    for (int i = 1; i < 6; i++)
        for (int j = i; j < 6; j++)
            for (int k = j; k < 6; k++) {
                std::snprintf(name, sizeof name, "K%c%c%cvK", pieceLetters[i], pieceLetters[j], pieceLetters[k]);
                initTb(name);
            }
    for (int i = 1; i < 6; i++)
        for (int j = i; j < 6; j++)
            for (int k = i; k < 6; k++)
                for (int l = (i == k) ? j : k; l < 6; l++) {
                    std::snprintf(name, sizeof name, "K%c%cvK%c%c", pieceLetters[i], pieceLetters[j], pieceLetters[k],
                                  pieceLetters[l]);
                    initTb(name);
                }
    for (int i = 1; i < 6; i++)
        for (int j = i; j < 6; j++)
            for (int k = j; k < 6; k++)
                for (int l = 1; l < 6; l++) {
                    std::snprintf(name, sizeof name, "K%c%c%cvK%c", pieceLetters[i], pieceLetters[j], pieceLetters[k],
                                  pieceLetters[l]);
                    initTb(name);
                }
    for (int i = 1; i < 6; i++)
        for (int j = i; j < 6; j++)
            for (int k = j; k < 6; k++)
                for (int l = k; l < 6; l++) {
                    std::snprintf(name, sizeof name, "K%c%c%c%cvK", pieceLetters[i], pieceLetters[j], pieceLetters[k],
                                  pieceLetters[l]);
                    initTb(name);
                }

    std::printf("Found %d tablebases.\n", pieceTableCount + pawnTableCount);
    std::fflush(stdout);
}

int registrySlots() {
    int n = 0;
    for (auto& bucket : registry)
        for (auto& slot : bucket)
            if (slot.ptr && slot.key.load(std::memory_order_relaxed)) n++;
    return n;
}

void dropRegistryEntry(const WdlTable* entry) {
    for (uint64_t key : {keyOfCounts(entry->count, false), keyOfCounts(entry->count, true)}) {
        RegistrySlot* bucket = registry[key >> (64 - REGISTRY_INDEX_BITS)];
        for (int i = 0; i < REGISTRY_BUCKET_SLOTS; i++)
            if (bucket[i].ptr == entry) bucket[i].key.store(0, std::memory_order_relaxed);
    }
}

bool loadWdlTable(WdlTable* entry, const char* name) {
    uint64_t size;
    MapStatus status;
    const uint8_t* data = mapFile(name, ".rtbw", &size, &status);
    if (!data) {
        if (status == MAP_NOT_FOUND) std::fprintf(stderr, "Could not find %s.rtbw\n", name);
        return false;
    }
    SubTable* st = entry->pawnTable ? static_cast<PawnWdlTable*>(entry)->st : &static_cast<PieceWdlTable*>(entry)->st;
    const int files = entry->pawnTable ? 4 : 1;
    if (size < 4 || readLe32(data) != WDL_MAGIC || !parseTables(data, size, *entry, st, true)) {
        std::fprintf(stderr, "Corrupted table.\n");
        for (int f = 0; f < files; f++) clearSubtable(st[f]);
        unmapFile(data, size);
        return false;
    }
    entry->data = data;
    entry->mapSize = size;
    return true;
}

DtzTable* loadDtzTable(const WdlTable* info, const char* name, uint64_t key1) {
    uint64_t size;
    MapStatus status;
    const uint8_t* data = mapFile(name, ".rtbz", &size, &status);
    if (!data) return nullptr;
    DtzTable* e = new DtzTable;
    if (size < 4 || readLe32(data) != DTZ_MAGIC || !parseTables(data, size, *info, e->st, false)) {
        std::fprintf(stderr, "Corrupted table.\n");
        delete e;
        unmapFile(data, size);
        return nullptr;
    }
    e->data = data;
    e->mapSize = size;
    e->key = key1;
    e->men = info->men;
    e->symmetric = info->symmetric;
    e->pawnTable = info->pawnTable;
    e->encoding = info->encoding;
    e->pawnCount[0] = info->pawnCount[0];
    e->pawnCount[1] = info->pawnCount[1];
    return e;
}

void freeDtzTable(DtzTable* entry) {
    unmapFile(entry->data, entry->mapSize);
    delete entry;
}

// ---------------------------------------------------------------------------
// Index encoding
// ---------------------------------------------------------------------------
namespace {

inline void sortAscending(int* p, int n) {
    for (int i = 1; i < n; i++) {
        int v = p[i], j = i;
        while (j > 0 && p[j - 1] > v) {
            p[j] = p[j - 1];
            j--;
        }
        p[j] = v;
    }
}

// Groups of equal men after the leading ones: each group's squares as a
// combination of the squares the earlier men leave free.
inline bool encodeGroups(const uint8_t* norm, int* p, const uint64_t* factor, int start, int men, uint64_t* idx) {
    for (int i = start; i < men;) {
        const int t = norm[i];
        if (t < 1 || t > 5 || i + t > men) return false;
        sortAscending(p + i, t);
        uint64_t s = 0;
        for (int m = i; m < i + t; m++) {
            int j = 0;
            for (int l = 0; l < i; l++) j += p[m] > p[l];
            s += BINOMIAL[m - i][p[m] - j];
        }
        *idx += s * factor[i];
        i += t;
    }
    return true;
}

}  // namespace

bool encodePiece(int encoding, const uint8_t* norm, int* p, const uint64_t* factor, int men, uint64_t* index) {
    if (men < 3 || men > TBPIECES) return false;
    if (p[0] & 4)
        for (int i = 0; i < men; i++) p[i] ^= 7;
    if (p[0] & 0x20)
        for (int i = 0; i < men; i++) p[i] ^= 0x38;
    const int lead = encoding == 0 ? 3 : 2;
    for (int i = 0; i < lead; i++) {
        if (!offDiagonal(p[i])) continue;
        if (aboveDiagonal(p[i]))
            for (int j = 0; j < men; j++) p[j] = FLIPDIAG.v[p[j]];
        break;
    }

    uint64_t idx;
    if (encoding == 0) {
        const int i = p[1] > p[0];
        const int j = (p[2] > p[0]) + (p[2] > p[1]);
        if (offDiagonal(p[0]))
            idx = (uint64_t)TRIANGLE.v[p[0]] * 3906 + (uint64_t)(p[1] - i) * 62 + (uint64_t)(p[2] - j);
        else if (offDiagonal(p[1]))
            idx = 23436 + (uint64_t)DIAG.v[p[0]] * 1736 + (uint64_t)LOWER.v[p[1]] * 62 + (uint64_t)(p[2] - j);
        else if (offDiagonal(p[2]))
            idx = 30380 + (uint64_t)DIAG.v[p[0]] * 196 + (uint64_t)(DIAG.v[p[1]] - i) * 28 + LOWER.v[p[2]];
        else
            idx = 31164 + (uint64_t)DIAG.v[p[0]] * 42 + (uint64_t)(DIAG.v[p[1]] - i) * 6 + (uint64_t)(DIAG.v[p[2]] - j);
    } else if (encoding == 2) {
        const int v = KKIDX.v[TRIANGLE.v[p[0]]][p[1]];
        if (v < 0) return false;  // touching kings: not a position
        idx = (uint64_t)v;
    } else {
        return false;
    }
    idx *= factor[0];
    if (!encodeGroups(norm, p, factor, lead, men, &idx)) return false;
    *index = idx;
    return true;
}

bool encodePawn(const uint8_t* pawnCount, const uint8_t* norm, int* p, const uint64_t* factor, int men,
                uint64_t* index) {
    if (men < 3 || men > TBPIECES) return false;
    if (p[0] & 4)
        for (int i = 0; i < men; i++) p[i] ^= 7;
    const int k = norm[0];
    if (k < 1 || k > 5 || k != pawnCount[0] || k > men) return false;
    // The other leading pawns by descending twist.
    for (int i = 2; i < k; i++) {
        int v = p[i], j = i;
        while (j > 1 && PTWIST.v[p[j - 1]] < PTWIST.v[v]) {
            p[j] = p[j - 1];
            j--;
        }
        p[j] = v;
    }
    uint64_t idx = PAWN_INDEX[k - 1][FLAP_TABLE.v[p[0]]];
    for (int i = k - 1; i > 0; i--) idx += BINOMIAL[k - 1 - i][PTWIST.v[p[i]]];
    idx *= factor[0];

    int i = k;
    if (pawnCount[1]) {
        const int t = norm[k];
        if (t != pawnCount[1] || k + t > men) return false;
        sortAscending(p + k, t);
        uint64_t s = 0;
        for (int m = k; m < k + t; m++) {
            int j = 0;
            for (int l = 0; l < k; l++) j += p[m] > p[l];
            const int sq = p[m] - j - 8;
            if (sq < 0 || sq >= 64) return false;
            s += BINOMIAL[m - k][sq];
        }
        idx += s * factor[k];
        i += t;
    }
    if (!encodeGroups(norm, p, factor, i, men, &idx)) return false;
    *index = idx;
    return true;
}

// ---------------------------------------------------------------------------
// Decompression
// ---------------------------------------------------------------------------
int decompressPairs(const PairsData* d, uint64_t index) {
    if (!d->indexBits) return d->minLen;
    if (index >= d->tableSize) return -1;

    const uint64_t mainIdx = index >> d->indexBits;
    if (mainIdx >= d->numIndices) return -1;
    int64_t lit = (int64_t)(index & ((1ULL << d->indexBits) - 1)) - ((int64_t)1 << (d->indexBits - 1));
    const uint8_t* entry = d->indexTable + 6 * mainIdx;
    uint64_t block = readLe32(entry);
    lit += readLe16(entry + 4);
    if (block >= d->numSizes) return -1;

    // Walk to the block that holds the value.
    while (lit < 0) {
        if (block == 0) return -1;
        block--;
        lit += (int64_t)readLe16(d->sizeTable + 2 * block) + 1;
    }
    for (;;) {
        const int64_t inBlock = readLe16(d->sizeTable + 2 * block);
        if (lit <= inBlock) break;
        lit -= inBlock + 1;
        if (++block >= d->numSizes) return -1;
    }
    if (block >= d->realBlocks) return -1;

    // The block is a stream of big-endian 32-bit words; codes are read from
    // the top of a 64-bit window.  Reading past the block yields zeros, and
    // consuming past it means the block does not hold the value.
    const uint64_t blockBytes = 1ULL << d->blockSize;
    const uint8_t* ptr = d->blocks + (block << d->blockSize);
    const uint8_t* const end = ptr + blockBytes;
    const uint64_t blockBits = 8 * blockBytes;
    uint64_t window = 0, consumed = 0;
    int bits = 0;
    auto refill = [&]() {
        while (bits <= 32) {
            uint32_t w = 0;
            if (ptr < end) {
                w = readBe32(ptr);
                ptr += 4;
            }
            window |= (uint64_t)w << (32 - bits);
            bits += 32;
        }
    };
    refill();

    const uint8_t* symlen = d->symbolLength.get();
    int sym;
    for (;;) {
        const uint64_t code = window >> 32;
        int len = d->minLen;
        while (code < d->base[len]) len++;  // base[maxLen] is 0
        const uint64_t s = (uint64_t)d->offset[len] + ((code - d->base[len]) >> (32 - len));
        if (s >= (uint64_t)d->numSymbols) return -1;
        sym = (int)s;
        if (lit <= symlen[sym]) break;
        lit -= (int64_t)symlen[sym] + 1;
        window <<= len;
        bits -= len;
        consumed += (uint64_t)len;
        if (consumed > blockBits) return -1;
        refill();
    }

    // Descend the pair tree to the value.
    while (symlen[sym] != 0) {
        const uint8_t* w = d->symbolPattern + 3 * sym;
        const int s1 = ((w[1] & 0x0f) << 8) | w[0];
        if (lit <= symlen[s1]) {
            sym = s1;
        } else {
            lit -= (int64_t)symlen[s1] + 1;
            sym = (w[2] << 4) | (w[1] >> 4);
        }
    }
    return d->symbolPattern[3 * sym];
}

}  // namespace tb
