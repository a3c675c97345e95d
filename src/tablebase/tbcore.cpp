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

int TB_LARGEST = 0;
bool read_files_to_heap = false;
std::mutex TB_MUTEX;
int TBnum_piece = 0, TBnum_pawn = 0;
TBHashEntry TB_hash[1 << TBHASHBITS][HSHMAX];
DTZTableEntry DTZ_table[DTZ_ENTRIES];

uint32_t binomial[5][64];
uint32_t pawnidx[5][24];
uint32_t pfactor[5][4];

const uint64_t material_multiplier[2][5] = {
    {0xa3ec1abc71e90863ULL, 0x985deb9fc49333f9ULL, 0xaadc1a2be446234dULL, 0xd2fb81862830191fULL,
     0xec0ade190c0f6003ULL},
    {0xd6e4e47d24962951ULL, 0xfd7866b439b94495ULL, 0xd5a4c95928f2fbe3ULL, 0xbaeb854cd3259441ULL,
     0xa24f0f571bb202e7ULL},
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

constexpr bool off_diagonal(int sq) { return (sq >> 3) != (sq & 7); }
constexpr bool above_diagonal(int sq) { return (sq >> 3) > (sq & 7); }

constexpr SquareTable make_triangle() {
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
        if (r == 0) c = f == 0 ? 6 : f - 1;         // a1 6, b1 0, c1 1, d1 2
        else if (r == 1) c = f == 1 ? 7 : f + 1;    // b2 7, c2 3, d2 4
        else if (r == 2) c = f == 2 ? 8 : 5;        // c3 8, d3 5
        else c = 9;                                 // d4
        t.v[sq] = (uint8_t)c;
    }
    return t;
}

constexpr SquareTable make_diag() {
    SquareTable t{};
    for (int i = 0; i < 8; i++) {
        t.v[i * 9] = (uint8_t)i;            // a1 .. h8
        t.v[7 + i * 7] = (uint8_t)(8 + i);  // h1 .. a8
    }
    return t;
}

constexpr SquareTable make_flipdiag() {
    SquareTable t{};
    for (int sq = 0; sq < 64; sq++) t.v[sq] = (uint8_t)(((sq & 7) << 3) | (sq >> 3));
    return t;
}

constexpr SquareTable make_lower() {
    SquareTable t{};
    int n = 0;
    for (int sq = 0; sq < 64; sq++)
        if ((sq & 7) > (sq >> 3)) t.v[sq] = (uint8_t)n++;
    for (int i = 0; i < 8; i++) t.v[i * 9] = (uint8_t)(28 + i);
    for (int sq = 0; sq < 64; sq++)
        if (above_diagonal(sq)) t.v[sq] = t.v[((sq & 7) << 3) | (sq >> 3)];
    return t;
}

constexpr SquareTable make_flap() {
    SquareTable t{};
    for (int sq = 8; sq < 56; sq++) {
        int f = sq & 7;
        if (f > 3) f = 7 - f;
        t.v[sq] = (uint8_t)(6 * f + (sq >> 3) - 1);
    }
    return t;
}

constexpr SquareTable make_ptwist() {
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

constexpr KKTable make_kk_idx() {
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

constexpr SquareTable TRIANGLE = make_triangle();
constexpr SquareTable DIAG = make_diag();
constexpr SquareTable FLIPDIAG = make_flipdiag();
constexpr SquareTable LOWER = make_lower();
constexpr SquareTable FLAP = make_flap();
constexpr SquareTable PTWIST = make_ptwist();
constexpr KKTable KKIDX = make_kk_idx();

static_assert(TRIANGLE.v[1] == 0 && TRIANGLE.v[27] == 9 && TRIANGLE.v[63] == 6, "triangle classes");
static_assert(LOWER.v[1] == 0 && LOWER.v[7] == 6 && LOWER.v[10] == 7 && LOWER.v[63] == 35, "lower numbering");
static_assert(PTWIST.v[8] == 47 && PTWIST.v[52] == 0 && PTWIST.v[55] == 36, "pawn twist");
static_assert(FLAP.v[8] == 0 && FLAP.v[9] == 6 && FLAP.v[55] == 5, "pawn files");

constexpr uint32_t pivfac[3] = {31332, 28056, 462};

// ---------------------------------------------------------------------------
// Little helpers for reading the files byte by byte (no alignment assumed).
// ---------------------------------------------------------------------------
inline uint32_t read_le16(const uint8_t* p) { return (uint32_t)p[0] | ((uint32_t)p[1] << 8); }
inline uint32_t read_le32(const uint8_t* p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
inline uint32_t read_be32(const uint8_t* p) {
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | (uint32_t)p[3];
}

// ---------------------------------------------------------------------------
// Paths and files
// ---------------------------------------------------------------------------
bool initialized = false;
std::string path_string;
std::vector<std::string> paths;

TBEntry_piece TB_piece[TBMAX_PIECE];
TBEntry_pawn TB_pawn[TBMAX_PAWN];

// Only a regular file can be a table.  A FIFO, a device or a directory that
// happens to carry a table's name is passed over (platform::ReadOnlyFile
// opens nothing else, and never waits on a FIFO).
bool open_tb(const char* name, const char* suffix, platform::ReadOnlyFile& file) {
    for (const std::string& dir : paths)
        if (file.open(dir + "/" + name + suffix)) return true;
    return false;
}

enum MapStatus { MAP_OK, MAP_NOT_FOUND, MAP_FAILED_TO_MAP };

const uint8_t* map_file(const char* name, const char* suffix, uint64_t* size, MapStatus* status) {
    *size = 0;
    platform::ReadOnlyFile file;
    if (!open_tb(name, suffix, file)) {
        *status = MAP_NOT_FOUND;
        return nullptr;
    }
    // A mapping that cannot be made (an empty or unreadable file, no address
    // space left) costs the engine this table, not the game.
    const uint8_t* data = nullptr;
    if (file.size() > 0 && read_files_to_heap) {
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
    return data;
}

void unmap_file(const uint8_t* data, uint64_t size) {
    if (!data) return;
    if (read_files_to_heap) {
        delete[] data;
        return;
    }
    platform::unmapFile(data, size);
}

void clear_subtable(SubTable& st) {
    st.pairs[0].reset();
    st.pairs[1].reset();
    std::memset(st.pieces, 0, sizeof st.pieces);
    std::memset(st.norm, 0, sizeof st.norm);
    std::memset(st.run, 0, sizeof st.run);
    std::memset(st.factor, 0, sizeof st.factor);
    st.flags = 0;
    st.map = nullptr;
    std::memset(st.map_index, 0, sizeof st.map_index);
    std::memset(st.map_length, 0, sizeof st.map_length);
}

void clear_head(TBEntry& e) {
    e.data = nullptr;
    e.key = 0;
    e.map_size = 0;
    e.loaded.store(0, std::memory_order_relaxed);
    e.men = e.symmetric = e.pawn_table = e.failed = e.encoding = 0;
    e.pawn_count[0] = e.pawn_count[1] = 0;
    std::memset(e.count, 0, sizeof e.count);
}

void free_wdl_entry(TBEntry& e, SubTable* st, int files) {
    unmap_file(e.data, e.map_size);
    for (int f = 0; f < files; f++) clear_subtable(st[f]);
    clear_head(e);
}

uint64_t key_of_counts(const uint8_t* count, bool mirror) {
    // Codes Q R B N P in the order of material_multiplier.
    static const int codes[5] = {TB_QUEEN, TB_ROOK, TB_BISHOP, TB_KNIGHT, TB_PAWN};
    uint64_t key = 0;
    for (int i = 0; i < 5; i++) {
        key += (uint64_t)count[codes[i]] * material_multiplier[mirror ? 1 : 0][i];
        key += (uint64_t)count[codes[i] | TB_BLACK] * material_multiplier[mirror ? 0 : 1][i];
    }
    return key;
}

void add_to_hash(TBEntry* entry, uint64_t key) {
    TBHashEntry* bucket = TB_hash[key >> (64 - TBHASHBITS)];
    int i = 0;
    while (i < HSHMAX && bucket[i].ptr) i++;
    if (i == HSHMAX) {
        std::fprintf(stderr, "HSHMAX too low!\n");
        std::exit(1);
    }
    bucket[i].key.store(key, std::memory_order_relaxed);
    bucket[i].ptr = entry;
}

int piece_code(char c) {
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

void init_tb(const char* name) {
    {
        platform::ReadOnlyFile file;
        if (!open_tb(name, ".rtbw", file)) return;
    }

    uint8_t count[16] = {};
    int colour = 0;
    for (const char* s = name; *s; s++) {
        if (*s == 'v')
            colour = TB_BLACK;
        else
            count[piece_code(*s) | colour]++;
    }
    const uint64_t key = key_of_counts(count, false);
    const uint64_t mirrored = key_of_counts(count, true);

    TBEntry* entry;
    const bool pawns = count[TB_PAWN] || count[TB_PAWN | TB_BLACK];
    if (pawns) {
        if (TBnum_pawn == TBMAX_PAWN) {
            std::fprintf(stderr, "TBMAX_PAWN limit too low!\n");
            std::exit(1);
        }
        entry = &TB_pawn[TBnum_pawn++];
    } else {
        if (TBnum_piece == TBMAX_PIECE) {
            std::fprintf(stderr, "TBMAX_PIECE limit too low!\n");
            std::exit(1);
        }
        entry = &TB_piece[TBnum_piece++];
    }
    clear_head(*entry);
    entry->key = key;
    std::memcpy(entry->count, count, sizeof count);
    int men = 0;
    for (int c = 0; c < 16; c++) men += count[c];
    entry->men = (uint8_t)men;
    entry->symmetric = key == mirrored;
    entry->pawn_table = pawns;
    if (men > TB_LARGEST) TB_LARGEST = men;

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
            entry->pawn_count[0] = (uint8_t)black;
            entry->pawn_count[1] = (uint8_t)white;
        } else {
            entry->pawn_count[0] = (uint8_t)white;
            entry->pawn_count[1] = (uint8_t)black;
        }
    }

    add_to_hash(entry, key);
    if (!entry->symmetric) add_to_hash(entry, mirrored);
}

void init_indices() {
    for (int k = 0; k < 5; k++)
        for (int n = 0; n < 64; n++) {
            // C(n, k + 1)
            uint64_t c = 1;
            if (n < k + 1)
                c = 0;
            else
                for (int i = 0; i <= k; i++) c = c * (uint64_t)(n - i) / (uint64_t)(i + 1);
            binomial[k][n] = (uint32_t)c;
        }
    for (int i = 0; i < 5; i++) {
        for (int file = 0; file < 4; file++) {
            uint32_t s = 0;
            for (int r = 0; r < 6; r++) {
                const int j = 6 * file + r;
                pawnidx[i][j] = s;
                const int sq = 8 * (r + 1) + file;
                s += i == 0 ? 1 : binomial[i - 1][PTWIST.v[sq]];
            }
            pfactor[i][file] = s;
        }
    }
}

// ---------------------------------------------------------------------------
// File parsing
// ---------------------------------------------------------------------------

// Symbol lengths: a pair symbol expands to the values of its left and right
// symbols.  A symbol may only refer to symbols whose expansion is already
// finite; a cycle, a reference out of the table or an expansion longer than a
// byte can count marks the file as corrupted.
bool calc_symlen(PairsData* d, int s, uint8_t* state, int depth) {
    if (depth > 256) return false;
    const uint8_t* w = d->symbol_pattern + 3 * s;
    const int s2 = (w[2] << 4) | (w[1] >> 4);
    if (s2 == 0x0fff) {
        d->symbol_length[s] = 0;
    } else {
        const int s1 = ((w[1] & 0x0f) << 8) | w[0];
        if (s1 >= d->num_symbols || s2 >= d->num_symbols) return false;
        state[s] = 1;
        for (int t : {s1, s2}) {
            if (state[t] == 1) return false;
            if (state[t] == 0 && !calc_symlen(d, t, state, depth + 1)) return false;
        }
        const int len = d->symbol_length[s1] + d->symbol_length[s2] + 1;
        if (len > 255) return false;
        d->symbol_length[s] = (uint8_t)len;
    }
    state[s] = 2;
    return true;
}

// One compression header at data[*pos].  On success *pos is moved past it and
// sizes[] holds the bytes of the index table, the size table and the blocks.
std::unique_ptr<PairsData> setup_pairs(const uint8_t* data, uint64_t file_size, uint64_t* pos, uint64_t table_size,
                                       bool wdl, uint64_t sizes[3]) {
    sizes[0] = sizes[1] = sizes[2] = 0;
    const uint64_t at = *pos;
    if (at + 2 > file_size) return nullptr;
    const uint8_t* h = data + at;
    auto d = std::make_unique<PairsData>();
    d->table_size = table_size;
    if (h[0] & 0x80) {
        d->index_bits = 0;
        d->min_len = wdl ? h[1] : 0;
        *pos = at + 2;
        return d;
    }
    if (at + 12 > file_size) return nullptr;
    d->block_size = h[1];
    d->index_bits = h[2];
    const uint64_t extra = h[3];
    d->real_blocks = read_le32(h + 4);
    d->max_len = h[8];
    d->min_len = h[9];
    if (d->block_size < 2 || d->block_size > 30) return nullptr;
    if (d->index_bits < 1 || d->index_bits > 40) return nullptr;
    if (d->min_len < 1 || d->max_len < d->min_len || d->max_len > 32) return nullptr;
    const int hlen = d->max_len - d->min_len + 1;
    if (at + 12 + 2 * (uint64_t)hlen > file_size) return nullptr;
    d->num_symbols = (int)read_le16(h + 10 + 2 * hlen);
    if (d->num_symbols < 1 || d->num_symbols > 0x0fff) return nullptr;
    const uint64_t end = at + 12 + 2 * (uint64_t)hlen + 3 * (uint64_t)d->num_symbols + (d->num_symbols & 1);
    if (end > file_size) return nullptr;
    d->symbol_pattern = h + 12 + 2 * hlen;

    // Canonical codes: the longest codes are the smallest numbers.  Limits
    // are kept left-aligned in 32 bits, in 64-bit words because the limit of
    // a length without codes can reach 2^32.
    int64_t base[32];
    int off[32];
    for (int i = 0; i < hlen; i++) off[i] = (int)read_le16(h + 10 + 2 * i);
    base[hlen - 1] = 0;
    for (int i = hlen - 2; i >= 0; i--) {
        base[i] = (base[i + 1] + off[i] - off[i + 1]) / 2;
        if (base[i] < 0) return nullptr;
    }
    for (int i = 0; i < hlen; i++) {
        const int len = d->min_len + i;
        d->base[len] = (uint64_t)base[i] << (32 - len);
        d->offset[len] = off[i];
    }

    d->symbol_length = std::make_unique<uint8_t[]>((size_t)d->num_symbols);
    std::vector<uint8_t> state((size_t)d->num_symbols, 0);
    for (int s = 0; s < d->num_symbols; s++)
        if (state[s] == 0 && !calc_symlen(d.get(), s, state.data(), 0)) return nullptr;

    d->num_indices = (table_size >> d->index_bits) + ((table_size & ((1ULL << d->index_bits) - 1)) != 0);
    d->num_sizes = d->real_blocks + extra;
    sizes[0] = 6 * d->num_indices;
    sizes[1] = 2 * d->num_sizes;
    sizes[2] = d->real_blocks << d->block_size;
    *pos = end;
    return d;
}

// Index layout of one side of one sub-table from its descriptor: checks that
// the piece codes are exactly the men of the table with every code in one
// run, then sets the group sizes and factors.  Returns the sub-table size, 0
// when the descriptor cannot belong to this table.
uint64_t setup_layout(const TBEntry& info, SubTable& st, int side, int order, int order2, int file) {
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
    uint64_t lead_factor;
    int k1 = 0;  // the other colour's pawns of a pawn table
    int start;   // the first man after these groups
    if (!info.pawn_table) {
        if (info.encoding > 2) return 0;
        norm[0] = info.encoding == 0 ? 3 : 2;
        lead_factor = pivfac[info.encoding];
        start = norm[0];
    } else {
        const int k0 = info.pawn_count[0];
        k1 = info.pawn_count[1];
        const int lead = pc[0];
        if ((lead & 7) != TB_PAWN || run[0] != k0 || k0 < 1 || k0 > 5) return 0;
        if (k1 && (k0 >= men || pc[k0] != (lead ^ TB_BLACK) || run[k0] != k1)) return 0;
        norm[0] = (uint8_t)k0;
        if (k1) norm[k0] = (uint8_t)k1;
        lead_factor = pfactor[k0 - 1][file];
        start = k0 + k1;
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
    bool lead_done = false, other_done = k1 == 0;
    for (int k = 0, i = start; i < men || k == order || (info.pawn_table && k == order2); k++) {
        if (k == order) {
            factor[0] = f;
            f *= lead_factor;
            lead_done = true;
        } else if (info.pawn_table && k == order2) {
            if (k1 == 0) return 0;
            factor[norm[0]] = f;
            f *= binomial[k1 - 1][48 - norm[0]];
            other_done = true;
        } else {
            if (norm[i] > 5 || n < norm[i]) return 0;
            factor[i] = f;
            f *= binomial[norm[i] - 1][n];
            n -= norm[i];
            i += norm[i];
        }
    }
    return lead_done && other_done ? f : 0;
}

// Parse a whole WDL or DTZ file into its sub-tables.  Every part must lie
// inside the file.
bool parse_tables(const uint8_t* data, uint64_t size, const TBEntry& info, SubTable* st, bool wdl) {
    const int files = info.pawn_table ? 4 : 1;
    const int men = info.men;
    if (size < 6 || men < 2 || men > TBPIECES) return false;
    const uint8_t flags = data[4];
    if (((flags & 2) != 0) != (info.pawn_table != 0)) return false;
    const int sides = wdl && (flags & 1) ? 2 : 1;
    const bool two_orders = info.pawn_table && info.pawn_count[1] > 0;

    uint64_t pos = 5;
    int order[4][2], order2[4][2];
    for (int f = 0; f < files; f++) {
        if (pos + 1 + two_orders + men > size) return false;
        order[f][0] = data[pos] & 0x0f;
        order[f][1] = data[pos] >> 4;
        if (two_orders) {
            order2[f][0] = data[pos + 1] & 0x0f;
            order2[f][1] = data[pos + 1] >> 4;
        } else {
            order2[f][0] = order2[f][1] = 0x0f;
        }
        pos += 1 + two_orders;
        for (int i = 0; i < men; i++) {
            st[f].pieces[0][i] = data[pos + i] & 0x0f;
            st[f].pieces[1][i] = data[pos + i] >> 4;
        }
        pos += men;
    }
    pos += pos & 1;

    uint64_t table_size[4][2] = {};
    for (int f = 0; f < files; f++)
        for (int s = 0; s < sides; s++) {
            // Every file must lead with the pawns named by file a.
            if (info.pawn_table && st[f].pieces[s][0] != st[0].pieces[0][0]) return false;
            table_size[f][s] = setup_layout(info, st[f], s, order[f][s], order2[f][s], f);
            if (table_size[f][s] == 0) return false;
        }

    uint64_t part[4][2][3] = {};
    for (int f = 0; f < files; f++)
        for (int s = 0; s < sides; s++) {
            if (!wdl) st[f].flags = pos < size ? data[pos] : 0;
            st[f].pairs[s] = setup_pairs(data, size, &pos, table_size[f][s], wdl, part[f][s]);
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
                st[f].map_index[i] = (uint16_t)(at + 1);
                st[f].map_length[i] = len;
                at += 1 + (uint64_t)len;
            }
            pos += at;
            if (pos > size) return false;
        }
        pos += pos & 1;
    }

    for (int f = 0; f < files; f++)
        for (int s = 0; s < sides; s++) {
            st[f].pairs[s]->index_table = data + pos;
            pos += part[f][s][0];
            if (pos > size) return false;
        }
    for (int f = 0; f < files; f++)
        for (int s = 0; s < sides; s++) {
            st[f].pairs[s]->size_table = data + pos;
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

const uint8_t (&triangle)[64] = TRIANGLE.v;
const uint8_t (&diag)[64] = DIAG.v;
const uint8_t (&flipdiag)[64] = FLIPDIAG.v;
const uint8_t (&lower)[64] = LOWER.v;
const uint8_t (&flap)[64] = FLAP.v;
const uint8_t (&ptwist)[64] = PTWIST.v;
const uint8_t file_to_file[8] = {0, 1, 2, 3, 3, 2, 1, 0};
const int16_t (&KK_idx)[10][64] = KKIDX.v;

// ---------------------------------------------------------------------------
// Registry
// ---------------------------------------------------------------------------
void init_tablebases(const char* path) {
    if (!initialized) {
        init_indices();
        initialized = true;
    } else {
        path_string.clear();
        paths.clear();
        for (int i = 0; i < TBnum_piece; i++) free_wdl_entry(TB_piece[i], &TB_piece[i].st, 1);
        for (int i = 0; i < TBnum_pawn; i++) free_wdl_entry(TB_pawn[i], TB_pawn[i].st, 4);
        for (int i = 0; i < DTZ_ENTRIES; i++)
            if (DTZ_table[i].entry) free_dtz_entry(DTZ_table[i].entry);
    }
    TBnum_piece = TBnum_pawn = TB_LARGEST = 0;
    for (auto& bucket : TB_hash)
        for (auto& slot : bucket) {
            slot.key.store(0, std::memory_order_relaxed);
            slot.ptr = nullptr;
        }
    for (auto& slot : DTZ_table) slot = DTZTableEntry{};

    if (!path || !*path || std::strcmp(path, "<empty>") == 0) return;

    path_string = path;
    size_t start = 0;
    while (start <= path_string.size()) {
        size_t end = path_string.find(platform::pathListSeparator, start);
        if (end == std::string::npos) end = path_string.size();
        if (end > start) paths.push_back(path_string.substr(start, end - start));
        start = end + 1;
    }

    static const char pchr[] = {'K', 'Q', 'R', 'B', 'N', 'P'};
    char name[16];
    for (int i = 1; i < 6; i++) {
        std::snprintf(name, sizeof name, "K%cvK", pchr[i]);
        init_tb(name);
    }
    for (int i = 1; i < 6; i++)
        for (int j = i; j < 6; j++) {
            std::snprintf(name, sizeof name, "K%cvK%c", pchr[i], pchr[j]);
            init_tb(name);
        }
    for (int i = 1; i < 6; i++)
        for (int j = i; j < 6; j++) {
            std::snprintf(name, sizeof name, "K%c%cvK", pchr[i], pchr[j]);
            init_tb(name);
        }
    for (int i = 1; i < 6; i++)
        for (int j = i; j < 6; j++)
            for (int k = 1; k < 6; k++) {
                std::snprintf(name, sizeof name, "K%c%cvK%c", pchr[i], pchr[j], pchr[k]);
                init_tb(name);
            }
    for (int i = 1; i < 6; i++)
        for (int j = i; j < 6; j++)
            for (int k = j; k < 6; k++) {
                std::snprintf(name, sizeof name, "K%c%c%cvK", pchr[i], pchr[j], pchr[k]);
                init_tb(name);
            }
    for (int i = 1; i < 6; i++)
        for (int j = i; j < 6; j++)
            for (int k = i; k < 6; k++)
                for (int l = (i == k) ? j : k; l < 6; l++) {
                    std::snprintf(name, sizeof name, "K%c%cvK%c%c", pchr[i], pchr[j], pchr[k], pchr[l]);
                    init_tb(name);
                }
    for (int i = 1; i < 6; i++)
        for (int j = i; j < 6; j++)
            for (int k = j; k < 6; k++)
                for (int l = 1; l < 6; l++) {
                    std::snprintf(name, sizeof name, "K%c%c%cvK%c", pchr[i], pchr[j], pchr[k], pchr[l]);
                    init_tb(name);
                }
    for (int i = 1; i < 6; i++)
        for (int j = i; j < 6; j++)
            for (int k = j; k < 6; k++)
                for (int l = k; l < 6; l++) {
                    std::snprintf(name, sizeof name, "K%c%c%c%cvK", pchr[i], pchr[j], pchr[k], pchr[l]);
                    init_tb(name);
                }

    std::printf("Found %d tablebases.\n", TBnum_piece + TBnum_pawn);
    std::fflush(stdout);
}

int registry_slots() {
    int n = 0;
    for (auto& bucket : TB_hash)
        for (auto& slot : bucket)
            if (slot.ptr && slot.key.load(std::memory_order_relaxed)) n++;
    return n;
}

void drop_registry_entry(const TBEntry* entry) {
    for (uint64_t key : {key_of_counts(entry->count, false), key_of_counts(entry->count, true)}) {
        TBHashEntry* bucket = TB_hash[key >> (64 - TBHASHBITS)];
        for (int i = 0; i < HSHMAX; i++)
            if (bucket[i].ptr == entry) bucket[i].key.store(0, std::memory_order_relaxed);
    }
}

bool load_wdl_entry(TBEntry* entry, const char* name) {
    uint64_t size;
    MapStatus status;
    const uint8_t* data = map_file(name, ".rtbw", &size, &status);
    if (!data) {
        if (status == MAP_NOT_FOUND) std::fprintf(stderr, "Could not find %s.rtbw\n", name);
        return false;
    }
    SubTable* st = entry->pawn_table ? static_cast<TBEntry_pawn*>(entry)->st : &static_cast<TBEntry_piece*>(entry)->st;
    const int files = entry->pawn_table ? 4 : 1;
    if (size < 4 || read_le32(data) != WDL_MAGIC || !parse_tables(data, size, *entry, st, true)) {
        std::fprintf(stderr, "Corrupted table.\n");
        for (int f = 0; f < files; f++) clear_subtable(st[f]);
        unmap_file(data, size);
        return false;
    }
    entry->data = data;
    entry->map_size = size;
    return true;
}

DTZEntry* load_dtz_entry(const TBEntry* info, const char* name, uint64_t key1) {
    uint64_t size;
    MapStatus status;
    const uint8_t* data = map_file(name, ".rtbz", &size, &status);
    if (!data) return nullptr;
    DTZEntry* e = new DTZEntry;
    if (size < 4 || read_le32(data) != DTZ_MAGIC || !parse_tables(data, size, *info, e->st, false)) {
        std::fprintf(stderr, "Corrupted table.\n");
        delete e;
        unmap_file(data, size);
        return nullptr;
    }
    e->data = data;
    e->map_size = size;
    e->key = key1;
    e->men = info->men;
    e->symmetric = info->symmetric;
    e->pawn_table = info->pawn_table;
    e->encoding = info->encoding;
    e->pawn_count[0] = info->pawn_count[0];
    e->pawn_count[1] = info->pawn_count[1];
    return e;
}

void free_dtz_entry(DTZEntry* entry) {
    unmap_file(entry->data, entry->map_size);
    delete entry;
}

// ---------------------------------------------------------------------------
// Index encoding
// ---------------------------------------------------------------------------
namespace {

inline void sort_ascending(int* p, int n) {
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
inline bool encode_groups(const uint8_t* norm, int* p, const uint64_t* factor, int start, int men, uint64_t* idx) {
    for (int i = start; i < men;) {
        const int t = norm[i];
        if (t < 1 || t > 5 || i + t > men) return false;
        sort_ascending(p + i, t);
        uint64_t s = 0;
        for (int m = i; m < i + t; m++) {
            int j = 0;
            for (int l = 0; l < i; l++) j += p[m] > p[l];
            s += binomial[m - i][p[m] - j];
        }
        *idx += s * factor[i];
        i += t;
    }
    return true;
}

}  // namespace

bool encode_piece(int encoding, const uint8_t* norm, int* p, const uint64_t* factor, int men, uint64_t* index) {
    if (men < 3 || men > TBPIECES) return false;
    if (p[0] & 4)
        for (int i = 0; i < men; i++) p[i] ^= 7;
    if (p[0] & 0x20)
        for (int i = 0; i < men; i++) p[i] ^= 0x38;
    const int lead = encoding == 0 ? 3 : 2;
    for (int i = 0; i < lead; i++) {
        if (!off_diagonal(p[i])) continue;
        if (above_diagonal(p[i]))
            for (int j = 0; j < men; j++) p[j] = FLIPDIAG.v[p[j]];
        break;
    }

    uint64_t idx;
    if (encoding == 0) {
        const int i = p[1] > p[0];
        const int j = (p[2] > p[0]) + (p[2] > p[1]);
        if (off_diagonal(p[0]))
            idx = (uint64_t)TRIANGLE.v[p[0]] * 3906 + (uint64_t)(p[1] - i) * 62 + (uint64_t)(p[2] - j);
        else if (off_diagonal(p[1]))
            idx = 23436 + (uint64_t)DIAG.v[p[0]] * 1736 + (uint64_t)LOWER.v[p[1]] * 62 + (uint64_t)(p[2] - j);
        else if (off_diagonal(p[2]))
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
    if (!encode_groups(norm, p, factor, lead, men, &idx)) return false;
    *index = idx;
    return true;
}

bool encode_pawn(const uint8_t* pawn_count, const uint8_t* norm, int* p, const uint64_t* factor, int men,
                 uint64_t* index) {
    if (men < 3 || men > TBPIECES) return false;
    if (p[0] & 4)
        for (int i = 0; i < men; i++) p[i] ^= 7;
    const int k = norm[0];
    if (k < 1 || k > 5 || k != pawn_count[0] || k > men) return false;
    // The other leading pawns by descending twist.
    for (int i = 2; i < k; i++) {
        int v = p[i], j = i;
        while (j > 1 && PTWIST.v[p[j - 1]] < PTWIST.v[v]) {
            p[j] = p[j - 1];
            j--;
        }
        p[j] = v;
    }
    uint64_t idx = pawnidx[k - 1][FLAP.v[p[0]]];
    for (int i = k - 1; i > 0; i--) idx += binomial[k - 1 - i][PTWIST.v[p[i]]];
    idx *= factor[0];

    int i = k;
    if (pawn_count[1]) {
        const int t = norm[k];
        if (t != pawn_count[1] || k + t > men) return false;
        sort_ascending(p + k, t);
        uint64_t s = 0;
        for (int m = k; m < k + t; m++) {
            int j = 0;
            for (int l = 0; l < k; l++) j += p[m] > p[l];
            const int sq = p[m] - j - 8;
            if (sq < 0 || sq >= 64) return false;
            s += binomial[m - k][sq];
        }
        idx += s * factor[k];
        i += t;
    }
    if (!encode_groups(norm, p, factor, i, men, &idx)) return false;
    *index = idx;
    return true;
}

// ---------------------------------------------------------------------------
// Decompression
// ---------------------------------------------------------------------------
int decompress_pairs(const PairsData* d, uint64_t index) {
    if (!d->index_bits) return d->min_len;
    if (index >= d->table_size) return -1;

    const uint64_t main_idx = index >> d->index_bits;
    if (main_idx >= d->num_indices) return -1;
    int64_t lit = (int64_t)(index & ((1ULL << d->index_bits) - 1)) - ((int64_t)1 << (d->index_bits - 1));
    const uint8_t* entry = d->index_table + 6 * main_idx;
    uint64_t block = read_le32(entry);
    lit += read_le16(entry + 4);
    if (block >= d->num_sizes) return -1;

    // Walk to the block that holds the value.
    while (lit < 0) {
        if (block == 0) return -1;
        block--;
        lit += (int64_t)read_le16(d->size_table + 2 * block) + 1;
    }
    for (;;) {
        const int64_t in_block = read_le16(d->size_table + 2 * block);
        if (lit <= in_block) break;
        lit -= in_block + 1;
        if (++block >= d->num_sizes) return -1;
    }
    if (block >= d->real_blocks) return -1;

    // The block is a stream of big-endian 32-bit words; codes are read from
    // the top of a 64-bit window.  Reading past the block yields zeros, and
    // consuming past it means the block does not hold the value.
    const uint64_t block_bytes = 1ULL << d->block_size;
    const uint8_t* ptr = d->blocks + (block << d->block_size);
    const uint8_t* const end = ptr + block_bytes;
    const uint64_t block_bits = 8 * block_bytes;
    uint64_t window = 0, consumed = 0;
    int bits = 0;
    auto refill = [&]() {
        while (bits <= 32) {
            uint32_t w = 0;
            if (ptr < end) {
                w = read_be32(ptr);
                ptr += 4;
            }
            window |= (uint64_t)w << (32 - bits);
            bits += 32;
        }
    };
    refill();

    const uint8_t* symlen = d->symbol_length.get();
    int sym;
    for (;;) {
        const uint64_t code = window >> 32;
        int len = d->min_len;
        while (code < d->base[len]) len++;  // base[max_len] is 0
        const uint64_t s = (uint64_t)d->offset[len] + ((code - d->base[len]) >> (32 - len));
        if (s >= (uint64_t)d->num_symbols) return -1;
        sym = (int)s;
        if (lit <= symlen[sym]) break;
        lit -= (int64_t)symlen[sym] + 1;
        window <<= len;
        bits -= len;
        consumed += (uint64_t)len;
        if (consumed > block_bits) return -1;
        refill();
    }

    // Descend the pair tree to the value.
    while (symlen[sym] != 0) {
        const uint8_t* w = d->symbol_pattern + 3 * sym;
        const int s1 = ((w[1] & 0x0f) << 8) | w[0];
        if (lit <= symlen[s1]) {
            sym = s1;
        } else {
            lit -= (int64_t)symlen[s1] + 1;
            sym = (w[2] << 4) | (w[1] >> 4);
        }
    }
    return d->symbol_pattern[3 * sym];
}

}  // namespace tb
