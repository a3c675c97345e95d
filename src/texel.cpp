// Texel error of the static evaluation, measured by a pool of tuning threads.
//
// Each line of the tuning file holds a FEN, the word "c9" and the result of
// the game the position comes from, as in
//     8/8/4p3/5k2/8/5K2/8/8 b - - c9 "1/2-1/2";
// The evaluation E (centipawns, White's view) is turned into an expected
// score 1 / (1 + 10^(-1.55 E / 400)) and the command reports the mean of
// (result - expected)^2 over all positions.  A good evaluation predicts game
// results well, so a lower error means better weights.
#include "texel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "util.h"

std::vector<TexelPosition> texelPositions;
TexelThreadPool texelThreads;

const char* const TEXEL_FILE = "lichess-good.epd";

// ---------------------------------------------------------------------------
// Reading the tuning file
// ---------------------------------------------------------------------------
double texelExpectedScore(int e) { return 1.0 / (1.0 + std::pow(10.0, -1.55 * (double)e / 400.0)); }

double texelResult(std::string_view word) {
    // The usual form is quoted, "1-0"; or "1/2-1/2"; or "0-1";: the result
    // starts at the second character.
    if (word.size() >= 4) {
        if (word.compare(1, 3, "1-0") == 0) return 1.0;
        if (word.compare(1, 3, "1/2") == 0) return 0.5;
    }
    // Some tools write the result without quotes.  Read that as what it says
    // rather than as a loss for White.
    if (word.size() >= 3) {
        if (word.compare(0, 3, "1-0") == 0) return 1.0;
        if (word.compare(0, 3, "1/2") == 0) return 0.5;
    }
    return 0.0;
}

bool texelSplitLine(std::string_view line, TexelPosition& out) {
    // Words are separated by blanks; tabs, the carriage return of a file with
    // DOS line ends and other control characters separate words too.
    auto isBlank = [](char c) { return (unsigned char)c <= ' '; };
    std::string fen;
    fen.reserve(line.size());
    size_t i = 0;
    const size_t n = line.size();
    bool c9 = false;
    while (i < n) {
        while (i < n && isBlank(line[i])) i++;
        if (i == n) break;
        size_t j = i;
        while (j < n && !isBlank(line[j])) j++;
        if (!c9) {
            if (j - i == 2 && line[i] == 'c' && line[i + 1] == '9') {
                c9 = true;
            } else {
                fen.append(line, i, j - i);
                fen += ' ';
            }
        } else {
            // The first word after "c9" is the result; the rest is ignored.
            if (fen.empty()) return false;
            out.fen = std::move(fen);
            out.result = texelResult(line.substr(i, j - i));
            return true;
        }
        i = j;
    }
    return false;
}

bool texelReadFile(std::istream& in, std::vector<TexelPosition>& out, size_t& skipped) {
    // The whole file is read at once and cut into lines in place.
    std::string data;
    char chunk[1 << 16];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) data.append(chunk, (size_t)in.gcount());
    // A read error (a directory of that name, a failing disk) is no file of
    // positions: nothing of it is used.
    if (in.bad()) return false;

    std::vector<TexelPosition> read;
    skipped = 0;
    TexelPosition p;
    for (size_t start = 0; start < data.size();) {
        size_t end = data.find('\n', start);
        if (end == std::string::npos) end = data.size();
        if (texelSplitLine(std::string_view(data).substr(start, end - start), p))
            read.push_back(std::move(p));
        else
            skipped++;
        start = end + 1;
    }

    // Every FEN is checked before it is used: the evaluation trusts its
    // position, and a board with a missing king or too many men would make
    // it read outside its tables.  The check costs as much as setting up the
    // position, so a large file is checked on all cores.
    std::vector<uint8_t> usable(read.size());
    auto check = [&read, &usable](size_t first, size_t last) {
        for (size_t k = first; k < last; k++) usable[k] = validateFen(read[k].fen).empty();
    };
    const size_t cores = std::max(1u, std::min(16u, std::thread::hardware_concurrency()));
    const size_t parts = std::min(cores, read.size() / 1000 + 1);
    const size_t per = read.size() / parts;
    std::vector<std::thread> helpers;
    for (size_t t = 1; t < parts; t++) {
        const size_t first = t * per, last = t == parts - 1 ? read.size() : first + per;
        try {
            helpers.emplace_back(check, first, last);
        } catch (const std::system_error&) {
            check(first, last);
        }
    }
    check(0, parts > 1 ? per : read.size());
    for (std::thread& h : helpers) h.join();

    out.reserve(out.size() + read.size());
    for (size_t k = 0; k < read.size(); k++) {
        if (usable[k])
            out.push_back(std::move(read[k]));
        else
            skipped++;
    }
    return true;
}

void texelShare(size_t n, int i, size_t& first, size_t& count) {
    const size_t per = n / TEXEL_THREADS;
    first = (size_t)i * per;
    count = i < TEXEL_THREADS - 1 ? per : n - first;
}

// ---------------------------------------------------------------------------
// Tuning threads
// ---------------------------------------------------------------------------
TexelThread::TexelThread(int i) : index(i), pos(&position) {
    // The evaluation reads a pawn table and an evaluation cache; each
    // thread has its own, so the threads share nothing they write.  The thread clears them itself when it gets its
    // first work, so that the threads clear theirs on all cores at once: the first touch of fresh memory costs more
    // than evaluating a small share.  (Zero pages that the kernel hands out lazily are no bargain either: the first
    // pass would read an entry, then write it, and fault twice.)
    pawnHashTable_.reset(new PawnHashEntry[PAWN_HASH_ENTRIES]);
    evalCache_.reset(new EvalCacheEntry[EVAL_CACHE_ENTRIES]);
    caches = {pawnHashTable_.get(), evalCache_.get()};
    startThread(thread, [this] { idleLoop(); });
}

TexelThread::~TexelThread() { endThread(thread); }

void TexelThread::idleLoop() {
    printLine("Lets go");
    while (park()) sumSquaredErrors();
}

void TexelThread::sumSquaredErrors() {
    if (!tablesCleared_) {
        std::memset(static_cast<void*>(pawnHashTable_.get()), 0, PAWN_HASH_ENTRIES * sizeof(PawnHashEntry));
        std::memset(static_cast<void*>(evalCache_.get()), 0, EVAL_CACHE_ENTRIES * sizeof(EvalCacheEntry));
        tablesCleared_ = true;
    }
    double sum = 0.0;
    for (const TexelPosition& p : positions) {
        setPosition(p.fen, pos);
        int e = evaluate(pos, caches);
        if (pos->sideToMove == BLACK) e = -e;
        const double d = p.result - texelExpectedScore((int16_t)e);
        sum += d * d;
    }
    errorSum = sum;
}

void TexelThreadPool::removeWorkers() {
    for (TexelThread* w : workers) w->waitIdle();
    while (!workers.empty()) {
        delete workers.back();
        workers.pop_back();
    }
}

void TexelThreadPool::createWorkers(int n) {
    removeWorkers();
    for (int i = 0; i < n; i++) workers.push_back(new TexelThread(i));
}

void TexelThreadPool::sharePositions() {
    const size_t n = texelPositions.size();
    for (size_t i = 0; i < workers.size(); i++) {
        size_t first, count;
        texelShare(n, (int)i, first, count);
        workers[i]->positions.assign(texelPositions.begin() + first, texelPositions.begin() + first + count);
    }
}

double TexelThreadPool::meanSquaredError() {
    for (TexelThread* w : workers) w->wake();
    double sum = 0.0;
    for (TexelThread* w : workers) {
        w->waitIdle();
        sum += w->errorSum;
    }
    return sum / (double)texelPositions.size();
}

// ---------------------------------------------------------------------------
// The measurement of the "texel" command
// ---------------------------------------------------------------------------
void measureTexelError() {
    std::ifstream in(TEXEL_FILE);
    size_t skipped = 0;
    if (!in || !texelReadFile(in, texelPositions, skipped)) {
        printLine("There seems to be a problem with the tuning file. tuning not executed");
        return;
    }
    in.close();

    texelThreads.createWorkers(TEXEL_THREADS);
    texelThreads.sharePositions();
    printLine("Starting texel tuning....");

    if (texelPositions.empty()) {
        // The mean over no positions is 0 / 0: say so instead.
        printLine(std::string("info string ") + TEXEL_FILE + " holds no usable position; there is no error to report");
    } else {
        const double e0 = texelThreads.meanSquaredError();
        std::ostringstream start;
        start << "Starting error " << e0;
        printLine(start.str());
        printLine("");
        printLine(" Improving: 1");
        const double e1 = texelThreads.meanSquaredError();
        std::ostringstream end;
        end << "Ending error " << e1 << " Minimum error " << e0;
        printLine(end.str());
    }
    if (skipped)
        printLine("info string skipped " + std::to_string(skipped) + (skipped == 1 ? " line" : " lines") + " of " +
                  TEXEL_FILE + " that hold" + (skipped == 1 ? "s" : "") + " no usable position");
}

void endTexelThreads() { texelThreads.removeWorkers(); }
