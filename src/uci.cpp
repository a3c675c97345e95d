// The command handlers of the protocol: the game position and the moves made
// on it, "go" with its limits, the options, and the commands that show the
// position.  This file owns the game position, the game's clock state and
// the option values, and hands them down to the search when it starts one.
#include "uci.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <sstream>
#include <type_traits>
#include <vector>

#include "bitboard.h"
#include "eval.h"
#include "input.h"
#include "movegen.h"
#include "perft.h"
#include "psqt.h"
#include "search.h"
#include "syzygy.h"
#include "threads.h"
#include "tt.h"
#include "util.h"

namespace {

// The game the GUI set up, the clock state the time allocation carries from
// move to move, and the options.
GameRecord game;
Position& gamePosition = game.position;
GameClock gameClock;
EngineOptions options;

// False after a "position" command was rejected, until one is accepted: the
// game position then is not the one the GUI means, and nothing may be
// searched or shown for it.
bool gamePositionValid = true;

// Says so when there is no valid game position; true when there is one.
bool haveGamePosition() {
    if (!gamePositionValid) printLine("info string no valid position: the last 'position' command was rejected");
    return gamePositionValid;
}

// Compact the key history of a long game.  Only positions since the last
// capture or pawn move can repeat, so dropping the oldest entries loses
// nothing once the history is longer than any reversible stretch of play that
// matters; the search still finds room for its full line behind the game.
void trimKeyHistory(KeyHistory* keys, int* dropped) {
    if (keys->length < KEY_HISTORY_GAME_LIMIT) return;
    const int keep = KEY_HISTORY_GAME_LIMIT / 2;
    const int drop = keys->length - keep;
    std::memmove(keys->keys, keys->keys + drop, keep * sizeof(uint64_t));
    keys->length = (int16_t)keep;
    if (dropped) *dropped += drop;
}

// A double step, or a FEN, names an en-passant square even when no pawn can
// take there.  The position is then the same as one reached another way
// without it (for the repetition rule, as for a GUI or a referee), so the
// square is dropped from the game's record and from its key: otherwise a
// position first reached by a double step would never count as repeated.
void dropImpossibleEnpassant(GameRecord* game) {
    Position* pos = &game->position;
    if (!pos->enpassantSquare) return;
    Move list[MAX_MOVES];
    for (const Move *m = list, *end = generateMovesLegal(pos, list); m < end; m++)
        if (m->moveType == MT_ENPASSANT) return;
    pos->hashKey ^= ZOBRIST_EN_PASSANT[pos->enpassantSquare & 7];
    pos->enpassantSquare = 0;
    game->keys.keys[game->keys.length - 1] = pos->hashKey;
}

}  // namespace

bool makeGameMoveText(GameRecord* game, const std::string& text, int* dropped) {
    std::string word = text;
    if (word.size() == 5 && word[4] >= 'A' && word[4] <= 'Z') word[4] = (char)(word[4] - 'A' + 'a');
    if (word.size() < 4 || word.size() > 5) return false;
    Position* pos = &game->position;
    Move list[MAX_MOVES];
    for (const Move *m = list, *end = generateMovesLegal(pos, list); m < end; m++) {
        if (moveToText(m, pos->sideToMove) != word) continue;
        Move move = *m;
        move.score = 0;
        BoardState saved;
        makeMove(pos, move, saved);
        pos->inCheck = sideInCheck(pos, pos->sideToMove);
        game->keys.push(pos->hashKey);
        dropImpossibleEnpassant(game);
        trimKeyHistory(&game->keys, dropped);
        return true;
    }
    return false;
}

void uciPosition(std::istringstream& is) {
    std::string word, fen;
    bool startpos;
    gamePositionValid = false;
    if (!(is >> word)) {
        printLine("info string position needs 'startpos' or 'fen'");
        return;
    }
    if (word == "startpos") {
        fen = START_FEN;
        startpos = true;
        is >> word;  // "moves"
    } else if (word == "fen") {
        startpos = false;
        while (is >> word && word != "moves") fen += word + " ";
    } else {
        printLine("info string position needs 'startpos' or 'fen', not '" + word + "'");
        return;
    }
    const std::string reason = validateFen(fen);
    if (!reason.empty()) {
        printLine("info string " + reason + "; position rejected");
        return;
    }
    setPosition(fen, &gamePosition, &game.keys);
    dropImpossibleEnpassant(&game);
    int made = 0, dropped = 0;
    while (is >> word) {
        if (!makeGameMoveText(&game, word, &dropped)) {
            printLine("info string illegal or unreadable move '" + word + "'; position rejected");
            return;
        }
        made++;
    }
    gamePosition.hashKey = computeKey(&gamePosition);
    gamePosition.pawnHashKey = computePawnKey(&gamePosition);
    game.keys.keys[game.keys.length - 1] = gamePosition.hashKey;
    gamePosition.inCheck = sideInCheck(&gamePosition, gamePosition.sideToMove);
    if (startpos)
        gameClock.movesPlayed = made;
    else {
        const int length = game.keys.length + dropped;
        gameClock.movesPlayed = length < 2 ? MOVES_PLAYED_UNKNOWN : length + made;
    }
    gamePositionValid = true;
}

// Deeper counts would run for years; the limit keeps a typo from tying up
// the engine (and the ply stack is far deeper).
constexpr int PERFT_DEEPEST = 20;

void uciPerft(std::istringstream& is) {
    static int perftDepth = 6;
    std::string word;
    if (is >> word) {
        long long v = 0;
        if (!parseInteger(word, LLONG_MIN, LLONG_MAX, v)) {
            printLine("info string perft needs a depth number, not '" + word + "'");
            return;
        }
        if (v < 1 || v > PERFT_DEEPEST) {
            printLine("info string perft depth must be between 1 and " + std::to_string(PERFT_DEEPEST));
            return;
        }
        perftDepth = (int)v;
    }
    if (!haveGamePosition()) return;
    Position local = gamePosition;
    std::string board = boardToString(&local);
    board.pop_back();
    printLine(board);
    auto t0 = std::chrono::steady_clock::now();
    uint64_t n = (uint64_t)perft(&local, perftDepth);
    auto t1 = std::chrono::steady_clock::now();
    long long t = std::chrono::duration_cast<std::chrono::nanoseconds>(t1 - t0).count();
    std::ostringstream os;
    os << t << " ns and " << (double)t / 1e9 << " in seconds";
    printLine(os.str());
    std::ostringstream os2;
    os2 << "Perft results for depth: " << perftDepth << "  " << n
        << "  Nodes per sec: " << (double)n / ((double)t / 1e9);
    printLine(os2.str());
}

void uciShowBoard() {
    if (!haveGamePosition()) return;
    std::string board = boardToString(&gamePosition);
    board.pop_back();
    printLine(board);
}

void uciHelp() {
    printLine(
        "supported UCI commands 'uci' 'ucinewgame' 'position' 'go' 'ponderhit' 'stop' 'quit' 'setoption' 'isready'");
    printLine(
        "other commands 'perft depth', default depth=6, change board with 'position'; 'showboard' shows the current "
        "board");
    printLine("developer commands 'rtest' 'eval' 'evil' 'bench [depth]' 'texel' (see the README)");
}

// ---------------------------------------------------------------------------
// Start-up, shut-down and search control
// ---------------------------------------------------------------------------
void initEngineTables() { initBitboards(); }

const EngineOptions& engineOptions() { return options; }

void engineStartup() {
    initEngineTables();
    setPosition(START_FEN, &gamePosition, &game.keys);
    ttAllocateMB(options.hashMB, true, 0);
    options.threads = threadPool.setThreads(options.threads);
}

void engineShutdown() {
    threadPool.setThreads(0);
    ttFree();
}

namespace {

// The arrival number (input.h) of the latest "stop" or "quit": a "go" that
// arrived before it is stopped as soon as it starts.  A GUI that sends "go
// infinite" and then "stop" means that search, even when the engine has not
// started it yet because an earlier search was still ending.
uint64_t lastStopArrival = 0;

void noteStop(uint64_t arrival) {
    if (arrival > lastStopArrival) lastStopArrival = arrival;
    if (!threadPool.workers.empty()) threadPool.commandStop();
}

// Wait for the running search to end while the loop goes on answering: a GUI
// that sends "isready" expects "readyok" at once, also when the command
// before it waits for a search, and "stop" and "quit" end that search as
// they would at any other time.  Every other line waits its turn.
void waitForSearchAnswering() {
    CommandInput& input = theCommandInput();
    // A "stop" or "quit" came while waiting: the searches asked for before it
    // (the running one, the waiting command's, held ones) are all to end,
    // and an "isready" after it waits for their answers in order.
    bool stopped = false;
    while (threadPool.searching()) {
        if (input.quitArrival() != 0 && !stopped) {
            noteStop(input.quitArrival());
            stopped = true;
        }
        CommandLine line;
        if (!input.poll(line, 1)) continue;
        const std::string word = firstWord(line.text);
        if (word == "stop" || word == "quit") {
            noteStop(line.arrival);
            stopped = true;
            if (word == "quit") input.hold(std::move(line));
        } else if (word == "isready" && !stopped && !threadPool.stopCommanded.load(std::memory_order_relaxed) &&
                   !threadPool.answered.load(std::memory_order_acquire)) {
            // A search still under way: the GUI may not wait for it.  (One
            // that has answered or been stopped ends within milliseconds,
            // and the reply then follows the waiting command.)
            printLine("readyok");
        } else {
            input.hold(std::move(line));
        }
    }
    threadPool.waitForSearch();
}

}  // namespace

void stopSearchAndWait() {
    if (threadPool.workers.empty()) return;
    if (threadPool.searching()) threadPool.commandStop();
    waitForSearchAnswering();
}

void waitForSearchEnd() {
    // A search that cannot end by itself (infinite or pondering) would make
    // the caller wait for ever: it is stopped first.
    if (threadPool.searchingWithoutEnd()) stopSearchAndWait();
    if (!threadPool.workers.empty()) waitForSearchAnswering();
}

void uciStop(uint64_t arrival) { noteStop(arrival); }

void uciPonderhit() { threadPool.ponderhit(); }

void uciIsReady() {
    if (threadPool.searching()) {
        // After "stop" (or a "ponderhit" that ended the search) the GUI takes
        // the next "bestmove" for the answer to that search: it must come
        // before "readyok", and it takes only milliseconds.  A search nobody
        // stopped goes on, and "readyok" comes at once.
        if (threadPool.stopCommanded.load(std::memory_order_relaxed)) threadPool.waitForSearch();
    } else {
        // "isready" is how a GUI waits for the engine to be set up: the
        // table's pages are brought in now (for a bounded time), so that
        // the first search does not pay for them.
        ttSettle();
    }
    printLine("readyok");
}

void uciNewGame() {
    // A timed search finishes first (cut short, its move would come too
    // early or never be played); an infinite or ponder search is stopped.
    waitForSearchEnd();
#if !defined(__EMSCRIPTEN__)
    if (reloadChangedTablebases(options.syzygyPath))
        printLine("info string tablebase files changed on disk; tables set up again");
#endif
    ttClear(options.threads);
    threadPool.clearHistories();
    gameClock.movesPlayed = 0;
    gameClock.newGame = true;
    std::memset(game.keys.keys, 0, sizeof game.keys.keys);
    // The current position stays the last entry, so the history remains a
    // valid record for the repetition scan.
    game.keys.keys[game.keys.length - 1] = gamePosition.hashKey;
}

namespace {

// Caches of the command loop for "evil" and "eval"; the search threads own
// theirs.
PawnHashEntry commandPawnHash[PAWN_HASH_ENTRIES];
EvalCacheEntry commandEvalCache[EVAL_CACHE_ENTRIES];
const EvalCaches COMMAND_CACHES = {commandPawnHash, commandEvalCache};

}  // namespace

void uciGo(std::istringstream& is, uint64_t arrival) {
    waitForSearchEnd();

    const int64_t startMs = nowMs();
    SearchLimits limits;

    std::vector<std::string> words;
    for (std::string word; is >> word;) words.push_back(word);
    for (size_t i = 0; i < words.size(); i++) {
        const std::string& word = words[i];
        // The number after a limit word, pulled into the range of its field.
        // A limit without a number is reported and left at its default; the
        // word after it is read as the next limit.
        auto number = [&](long long lo, long long hi, auto& field) {
            long long v = 0;
            if (i + 1 < words.size() && parseInteger(words[i + 1], lo, hi, v)) {
                field = (std::remove_reference_t<decltype(field)>)v;
                i++;
                return true;
            }
            printLine("info string go: '" + word + "' needs a number");
            return false;
        };
        if (word == "ponder")
            limits.ponder = true;
        else if (word == "infinite")
            limits.infinite = true;
        else if (word == "wtime")
            number(0, INT_MAX, limits.timeLeft[0]);
        else if (word == "btime")
            number(0, INT_MAX, limits.timeLeft[1]);
        else if (word == "winc")
            number(0, INT_MAX, limits.increment[0]);
        else if (word == "binc")
            number(0, INT_MAX, limits.increment[1]);
        else if (word == "movestogo")
            limits.movesToGoGiven = number(0, INT_MAX, limits.movesToGo) || limits.movesToGoGiven;
        else if (word == "depth")
            number(1, MAX_PLY - 1, limits.depth);
        else if (word == "nodes")
            number(1, LLONG_MAX, limits.nodes);
        else if (word == "mate")
            number(1, MAX_PLY - 1, limits.mate);
        else if (word == "movetime")
            number(1, INT_MAX, limits.moveTime);
    }
    TimeBudget budget = allocateTime(limits, gamePosition.sideToMove, gameClock, options);
    budget.startMs = startMs;
    // Without a valid position the search only answers "bestmove 0000" (when
    // the GUI asks for it, for a ponder or infinite search).
    threadPool.startSearch(haveGamePosition() ? &gamePosition : nullptr, &game.keys, limits, budget);
    // Stopped before it could start: it answers at once.
    const uint64_t quitAt = theCommandInput().quitArrival();
    if (arrival < lastStopArrival || (quitAt != 0 && arrival < quitAt)) threadPool.commandStop();
}

// ---------------------------------------------------------------------------
// Options
// ---------------------------------------------------------------------------
namespace {

// Each option is declared once, in UCI_OPTIONS below: its name, its kind, the
// field of EngineOptions that holds its value (the field's initializer in
// options.h is the default the "uci" reply advertises), the range of a spin
// option, and what a new value sets off.  The "uci" reply and "setoption"
// are both made from the table.
enum class OptionKind { SPIN, CHECK, STRING };

struct UciOption {
    const char* name;
    OptionKind kind;
    // Where the value lives, by kind (the other two are null).
    int32_t EngineOptions::*number;    // SPIN
    bool EngineOptions::*flag;         // CHECK
    std::string EngineOptions::*text;  // STRING
    // A spin option's range: the "uci" reply advertises it, and "setoption"
    // pulls any number into it.
    int32_t min, max;
    // Called once the new value is stored: acts on it and prints the reply.
    void (*changed)();
};

constexpr UciOption spinOption(const char* name, int32_t EngineOptions::*value, int32_t min, int32_t max,
                               void (*changed)()) {
    return {name, OptionKind::SPIN, value, nullptr, nullptr, min, max, changed};
}

constexpr UciOption checkOption(const char* name, bool EngineOptions::*value, void (*changed)()) {
    return {name, OptionKind::CHECK, nullptr, value, nullptr, 0, 0, changed};
}

constexpr UciOption stringOption(const char* name, std::string EngineOptions::*value, void (*changed)()) {
    return {name, OptionKind::STRING, nullptr, nullptr, value, 0, 0, changed};
}

void hashChanged() {
    // A new table replaces the old one: no search may be probing it.
    stopSearchAndWait();
    ttAllocateMB(options.hashMB, true, threadPool.memoryBytes());
    printLine("info string Size of Hashtable set to : " + std::to_string(options.hashMB));
}

void threadsChanged() {
    const int wanted = options.threads;
    waitForSearchEnd();
    // Each thread has tables of its own (a few MB): beside the table, the
    // memory (or the address space a limit allows) may hold fewer.
    const int got = threadPool.setThreads(wanted);
    options.threads = (int32_t)got;
    if (got < wanted)
        printLine("info string not enough memory for " + std::to_string(wanted) + " threads; using " +
                  std::to_string(got) + " (memory: " + std::to_string(memoryLimit() >> 20) +
                  " MB, hash: " + std::to_string(ttTableBytes() >> 20) + " MB)");
    printLine("info string Number of threads set to : " + std::to_string(got));
}

void ponderChanged() { printLine(std::string("info string Ponder set to : ") + (options.ponder ? "1" : "0")); }

void moveOverheadChanged() { printLine("info string MoveOverhead set to : " + std::to_string(options.moveOverhead)); }

void syzygyPathChanged() {
#if defined(__EMSCRIPTEN__)
    // A page has no directory of tables to read (the option stays listed,
    // since GUIs send it unasked).
    printLine("info string no tablebases in the browser build; SyzygyPath ignored");
#else
    // The tables are replaced: no search may be probing them.
    stopSearchAndWait();
    setTablebasePath(options.syzygyPath);
    printLine("info string Syzygy tablebases used from directory : " + options.syzygyPath);
#endif
}

void syzygyProbeDepthChanged() {
    searchControl.tablebaseProbeDepth.store(options.syzygyProbeDepth, std::memory_order_relaxed);
    printLine("info string SyzygyProbeDepth set to: " + std::to_string(options.syzygyProbeDepth));
}

// In the order of the "uci" reply.  The largest Hash is 256 GB; Threads stops
// at 256, and at what the memory holds (threadsChanged).
constexpr UciOption UCI_OPTIONS[] = {
    spinOption("Hash", &EngineOptions::hashMB, 1, 262144, hashChanged),
    spinOption("Threads", &EngineOptions::threads, 1, 256, threadsChanged),
    checkOption("Ponder", &EngineOptions::ponder, ponderChanged),
    spinOption("MoveOverhead", &EngineOptions::moveOverhead, 1, 60000, moveOverheadChanged),
    stringOption("SyzygyPath", &EngineOptions::syzygyPath, syzygyPathChanged),
    spinOption("SyzygyProbeDepth", &EngineOptions::syzygyProbeDepth, 0, 127, syzygyProbeDepthChanged),
};

// The option's line of the "uci" reply, with the default of a fresh
// EngineOptions.
std::string optionLine(const UciOption& o) {
    static const EngineOptions defaults;
    std::string line = std::string("option name ") + o.name;
    switch (o.kind) {
    case OptionKind::SPIN:
        return line + " type spin default " + std::to_string(defaults.*o.number) + " min " + std::to_string(o.min) +
               " max " + std::to_string(o.max);
    case OptionKind::CHECK: return line + " type check default " + (defaults.*o.flag ? "true" : "false");
    case OptionKind::STRING: {
        const std::string& text = defaults.*o.text;
        return line + " type string default " + (text.empty() ? "<empty>" : text);
    }
    }
    return line;
}

const UciOption* findOption(const std::string& name) {
    for (const UciOption& o : UCI_OPTIONS)
        if (name == o.name) return &o;
    return nullptr;
}

}  // namespace

void uciIdentify() {
    printLine(std::string("id name ") + TW_ENGINE_NAME + TW_BUILD_SUFFIX);
    printLine("id author " TW_AUTHOR);
    for (const UciOption& o : UCI_OPTIONS) printLine(optionLine(o));
    printLine("uciok");
}

void uciSetOption(std::istringstream& is) {
    std::string word, name, value;
    is >> word;  // "name"
    while (is >> word && word != "value") name += (name.empty() ? "" : " ") + word;
    while (is >> word) value += (value.empty() ? "" : " ") + word;

    const UciOption* o = findOption(name);
    if (!o) {
        printLine("info string unknown option '" + name + "'; ignored");
        return;
    }
    switch (o->kind) {
    case OptionKind::SPIN: {
        // The number at the start of the value (the rest of the text is
        // ignored), pulled into the option's range.
        long long v = 0;
        if (!parseInteger(value, LLONG_MIN, LLONG_MAX, v)) {
            printLine("info string " + name + " needs a number, not '" + value + "'; unchanged");
            return;
        }
        options.*o->number = (int32_t)std::clamp<long long>(v, o->min, o->max);
        break;
    }
    case OptionKind::CHECK: options.*o->flag = value == "true"; break;
    case OptionKind::STRING: options.*o->text = value; break;
    }
    o->changed();
}

void uciSilentEval() {
    if (!haveGamePosition()) return;
    evaluate(&gamePosition, COMMAND_CACHES);
}

void uciEval() {
    if (!haveGamePosition()) return;
    std::istringstream report(evaluationReport(&gamePosition));
    std::string line;
    while (std::getline(report, line)) printLine(line);
}
