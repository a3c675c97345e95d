// The command handlers of the front end: position, go with its time
// allocation, setoption, bench and the developer commands, and the engine
// record `engine` they fill in.
#include <algorithm>
#include <chrono>
#include <climits>
#include <memory>
#include <sstream>
#include <type_traits>
#include <vector>

#include "uci.h"
#include "eval.h"
#include "search.h"
#include "syzygy.h"
#include "texel.h"

engineStruct engine;

namespace {
// False after a "position" command was rejected, until one is accepted: the
// game position then is not the one the GUI means, and nothing may be
// searched or shown for it.
bool gamePositionValid = true;

// Says so when there is no valid game position; true when there is one.
bool haveGamePosition() {
    if (!gamePositionValid)
        printLine("info string no valid position: the last 'position' command was rejected");
    return gamePositionValid;
}
}  // namespace

namespace {

// Compact the key history of a long game.  Only positions since the last
// capture or pawn move can repeat, so dropping the oldest entries loses
// nothing once the history is longer than any reversible stretch of play that
// matters; the search still finds room for its full line behind the game.
void trimKeyHistory(positionStruct* pos, int* dropped) {
    if (pos->historyLength < KEY_HISTORY_GAME_LIMIT) return;
    const int keep = KEY_HISTORY_GAME_LIMIT / 2;
    const int drop = pos->historyLength - keep;
    std::memmove(pos->keyHistory, pos->keyHistory + drop, keep * sizeof(U64));
    pos->historyLength = (int16_t)keep;
    if (dropped) *dropped += drop;
}

// A double step, or a FEN, names an en-passant square even when no pawn can
// take there.  The position is then the same as one reached another way
// without it (for the repetition rule, as for a GUI or a referee), so the
// square is dropped from the game's record and from its key: otherwise a
// position first reached by a double step would never count as repeated.
void dropImpossibleEnpassant(positionStruct* pos) {
    plyEntry& root = pos->plyStack[0];
    if (!root.enpassantSquare) return;
    generateMovesLegal(0, root.moveListStart, pos);
    for (const moveStruct* m = root.moveListStart; m < root.moveListEnd; m++)
        if (m->moveType == MT_ENPASSANT) return;
    pos->hashKey ^= hashCodeEnpassant[root.enpassantSquare & 7];
    root.enpassantSquare = 0;
    pos->keyHistory[pos->historyLength - 1] = pos->hashKey;
}

}  // namespace

bool makeGameMoveText(positionStruct* pos, const std::string& text, int* dropped) {
    std::string word = text;
    if (word.size() == 5 && word[4] >= 'A' && word[4] <= 'Z') word[4] = (char)(word[4] - 'A' + 'a');
    if (word.size() < 4 || word.size() > 5) return false;
    generateMovesLegal(0, pos->plyStack[0].moveListStart, pos);
    for (moveStruct* m = pos->plyStack[0].moveListStart; m < pos->plyStack[0].moveListEnd; m++) {
        if (moveToLA(m, pos->sideToMove) != word) continue;
        moveStruct move = *m;
        move.score = 0;
        makeMove(pos, 0, move);
        plyEntry& root = pos->plyStack[0];
        const plyEntry& next = pos->plyStack[1];
        root.castlingRights = next.castlingRights;
        root.enpassantSquare = next.enpassantSquare;
        root.savedHashKey = next.savedHashKey;
        root.savedPawnHashKey = next.savedPawnHashKey;
        dropImpossibleEnpassant(pos);
        trimKeyHistory(pos, dropped);
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
        fen = fenStartPos;
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
    setPosition(fen, &GPSData);
    dropImpossibleEnpassant(&GPSData);
    int made = 0, dropped = 0;
    while (is >> word) {
        if (!makeGameMoveText(&GPSData, word, &dropped)) {
            printLine("info string illegal or unreadable move '" + word + "'; position rejected");
            return;
        }
        made++;
    }
    GPSData.hashKey = calcHashKey(0, &GPSData);
    GPSData.pawnHashKey = calcPawnHashKey(&GPSData);
    GPSData.keyHistory[GPSData.historyLength - 1] = GPSData.hashKey;
    GPSData.plyStack[0].inCheck = sideInCheck(&GPSData, GPSData.sideToMove);
    if (startpos)
        engine.movesPlayed = made;
    else {
        const int length = GPSData.historyLength + dropped;
        engine.movesPlayed = length < 2 ? MOVES_PLAYED_UNKNOWN : length + made;
    }
    gamePositionValid = true;
}

// Deeper counts would run for years; the limit keeps a typo from tying up
// the engine (and the ply stack is far deeper).
constexpr int PERFT_DEEPEST = 20;

void uciPerft(std::istringstream& is, int& perftDepth) {
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
    static positionStruct local;
    local = GPSData;
    local.plyStack[0].moveListStart = GMS;
    std::string board = boardToString(&local);
    board.pop_back();
    printLine(board);
    auto t0 = std::chrono::steady_clock::now();
    uint64_t n = (uint64_t)perft(0, perftDepth, &local);
    auto t1 = std::chrono::steady_clock::now();
    long long t = std::chrono::duration_cast<std::chrono::nanoseconds>(t1 - t0).count();
    std::ostringstream os;
    os << t << " ns and " << (double)t / 1e9 << " in seconds";
    printLine(os.str());
    std::ostringstream os2;
    os2 << "Perft results for depth: " << perftDepth << "  " << n << "  Nodes per sec: " << (double)n / ((double)t / 1e9);
    printLine(os2.str());
}

void uciShowBoard() {
    if (!haveGamePosition()) return;
    std::string board = boardToString(&GPSData);
    board.pop_back();
    printLine(board);
}

void uciHelp() {
    printLine("supported UCI commands 'uci' 'ucinewgame' 'position' 'go' 'ponderhit' 'stop 'quit' 'setoption' 'isready'");
    printLine("other commands 'perft depth', default depth=6, change board with 'position'; 'showboard' shows the current board");
    printLine("developer commands 'rtest' 'eval' 'evil' 'bench [depth]' 'texel' (see the README)");
}

// ---------------------------------------------------------------------------
// Search control
// ---------------------------------------------------------------------------

void allocateConfiguredHashTable(bool prefault) {
    // A table larger than the machine (or its container) can hold would be
    // mapped, then faulted in until the kernel kills the engine: cap it.
    const U64 wanted = hashBucketsForSize(engine.hashSizeMB);
    const U64 memory = hashMemoryLimit();
    const U64 capped = hashBucketsWithinMemory(wanted, memory);
    const U64 got = allocateHashTable(capped, prefault);
    if (got < wanted)
        printLine("info string not enough memory for " + std::to_string(engine.hashSizeMB) + " MB of hash; using " +
                  std::to_string(got * sizeof(hashBucket) >> 20) + " MB" +
                  (capped < wanted ? " (memory: " + std::to_string(memory >> 20) + " MB)" : ""));
}

void engineStartup() {
    allocateConfiguredHashTable(true);
    theWorkForce.setNofWorkers(engine.nofThreads);
}

void engineShutdown() {
    theWorkForce.setNofWorkers(0);
    theTexelWorkForce.removeWorkers();
    freeHashTable();
}

void commandInput::push(std::string line) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(std::move(line));
    }
    arrived_.notify_one();
}

std::string commandInput::next() {
    if (!held_.empty()) {
        std::string line = std::move(held_.front());
        held_.pop_front();
        return line;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_.wait(lock, [this] { return !lines_.empty(); });
    std::string line = std::move(lines_.front());
    lines_.pop_front();
    return line;
}

bool commandInput::poll(std::string& line, int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!arrived_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !lines_.empty(); })) return false;
    line = std::move(lines_.front());
    lines_.pop_front();
    return true;
}

void commandInput::hold(std::string line) { held_.push_back(std::move(line)); }

commandInput& theCommandInput() {
    // Never destroyed: a thread blocked on standard input may still hand a
    // line over while the program ends.
    static commandInput* const input = new commandInput;
    return *input;
}

namespace {

std::string firstWord(const std::string& line) {
    std::istringstream is(line);
    std::string word;
    is >> word;
    return word;
}

// Wait for the running search to end while the loop goes on answering: a GUI
// that sends "isready" expects "readyok" at once, also when the command
// before it waits for a search, and "stop" and "quit" end that search as
// they would at any other time.  Every other line waits its turn.
void waitForSearchAnswering() {
    commandInput& input = theCommandInput();
    while (theWorkForce.searching()) {
        std::string line;
        if (!input.poll(line, 1)) continue;
        const std::string word = firstWord(line);
        if (word == "isready") {
            printLine("readyok");
            continue;
        }
        if (word == "stop" || word == "quit") theWorkForce.commandStop();
        if (word != "stop") input.hold(line);
    }
    theWorkForce.waitForSearch();
}

}  // namespace

void stopSearchAndWait() {
    if (theWorkForce.workers.empty()) return;
    if (theWorkForce.searching()) theWorkForce.commandStop();
    waitForSearchAnswering();
}

void waitForSearchEnd() {
    // A search that cannot end by itself (infinite or pondering) would make
    // the caller wait for ever: it is stopped first.
    if (theWorkForce.searching() && (engine.infinite || theWorkForce.pondering.load(std::memory_order_relaxed)))
        stopSearchAndWait();
    if (!theWorkForce.workers.empty()) waitForSearchAnswering();
}

void uciStop() { theWorkForce.commandStop(); }

void uciPonderhit() {
    if (theWorkForce.searchFinished.load(std::memory_order_relaxed))
        theWorkForce.commandStop();
    else
        theWorkForce.pondering.store(0, std::memory_order_relaxed);
}

void uciNewGame() {
    stopSearchAndWait();
    clearHashTableMT();
    for (worker* w : theWorkForce.workers) w->clearHistoryTables();
    engine.movesPlayed = 0;
    engine.newGame = 1;
    std::memset(GPSData.keyHistory, 0, sizeof GPSData.keyHistory);
    // The current position stays the last entry, so the history remains a
    // valid record for the repetition scan.
    GPSData.keyHistory[GPSData.historyLength - 1] = GPSData.hashKey;
    printLine("readyok");
}

namespace {

// Time allocation.  The soft target of a move is a share of the time per move:
// the clock plus the increments still to come, spread over the moves to go.
// The hard limit is a multiple of the target, capped by a share of the clock.

// More than this many threads count as many: they reach a depth sooner and
// are given a larger share.
constexpr int MANY_THREADS = 3;
// Share of the time per move in sudden death (no "movestogo"), with few and
// with many threads; and before a time control.
constexpr double SUDDEN_DEATH_SHARE = 0.66, SUDDEN_DEATH_SHARE_MANY = 0.72;
constexpr double CONTROL_SHARE = 0.73, CONTROL_SHARE_MANY = 0.8;
// Before a time control the opening (to this game ply) is played a little
// faster and the early middle game a little slower.
constexpr int OPENING_PLIES = 17, EARLY_MIDDLE_PLIES = 50;
constexpr double OPENING_SHARE = 0.9, EARLY_MIDDLE_SHARE = 1.1;
// In sudden death, the moves still to play as the game goes on: a game ply
// up to which a count holds, and the count; later in the game, the last one.
struct movesToGoByStage {
    int upToPly;
    int movesToGo;
};
constexpr movesToGoByStage SUDDEN_DEATH_MOVES[] = {{OPENING_PLIES, 40}, {EARLY_MIDDLE_PLIES, 22}, {80, 25}, {200, 20}};
constexpr int ENDGAME_MOVES_TO_GO = 15;
// A game set up from a FEN without its history: the stage is unknown, so
// plan for this many moves to go and take a larger share of each.
constexpr int UNKNOWN_STAGE_MOVES_TO_GO = 30;
constexpr double UNKNOWN_STAGE_SHARE = 1.4;
// In sudden death the increments still to come are counted for more moves
// than the moves to go: 1.37 times as many when the clock holds at most 100
// increments, rising by the step per increment to 1.75 times at 360 and more.
// Fixed at the first "go" of a game.
constexpr int64_t INCREMENT_RATIO_MIN = 100, INCREMENT_RATIO_MAX = 360;
constexpr float INCREMENT_STRETCH_MIN = 1.37f;
constexpr double INCREMENT_STRETCH_STEP = 0.0014615385;
// With pondering the opponent's time is used too, so each move may take more.
constexpr double PONDER_SHARE = 1.1;
// The hard limit: this many soft targets, but at most a share of the clock
// (a larger share for the last move before a time control).
constexpr double HARD_LIMIT_TARGETS = 5.0;
constexpr double HARD_LIMIT_CLOCK_SHARE = 0.5, LAST_MOVE_CLOCK_SHARE = 0.9;
// Short of time: when the clock holds no more than this many soft targets,
// both budgets are halved and the elapsed time counts this many times over
// at the end of each iteration.
constexpr int64_t SHORT_CLOCK_TARGETS = 3;
constexpr float SHORT_CLOCK_TIME_FACTOR = 5.0f;
// Four moves before a time control the hard limit is at least this long.
constexpr int64_t FOUR_TO_GO_MIN_HARD_MS = 40;
// With a fixed move time the soft target lies far beyond it, so that only
// the hard limit, the move time itself, ends the search.
constexpr int64_t MOVETIME_SOFT_MULTIPLE = 10;

int64_t clamp32(double v) { return (int64_t)std::min<double>(std::max<double>(v, (double)INT_MIN), (double)INT_MAX); }

}  // namespace

void allocateTime(engineStruct& eng, int side) {
    const int64_t T = eng.timeLeft[side];
    const int64_t I = eng.increment[side];
    const int P = eng.movesPlayed;
    const int64_t O = eng.moveOverhead;
    const bool many = eng.nofThreads > MANY_THREADS;
    double f;
    int m;
    double r;
    if (!eng.movesToGoGiven) {
        f = many ? SUDDEN_DEATH_SHARE_MANY : SUDDEN_DEATH_SHARE;
        if (P == MOVES_PLAYED_UNKNOWN) {
            m = UNKNOWN_STAGE_MOVES_TO_GO;
            f *= UNKNOWN_STAGE_SHARE;
        } else {
            m = ENDGAME_MOVES_TO_GO;
            for (const movesToGoByStage& stage : SUDDEN_DEATH_MOVES) {
                if (P <= stage.upToPly) {
                    m = stage.movesToGo;
                    break;
                }
            }
        }
        eng.movesToGo = m;
        r = HARD_LIMIT_CLOCK_SHARE;
    } else {
        f = many ? CONTROL_SHARE_MANY : CONTROL_SHARE;
        if (P <= OPENING_PLIES)
            f *= OPENING_SHARE;
        else if (P <= EARLY_MIDDLE_PLIES)
            f *= EARLY_MIDDLE_SHARE;
        // A count of moves to go below one would divide by zero; it means the
        // time control is about to end, so plan as for the last move.
        if (eng.movesToGo < 1) eng.movesToGo = 1;
        m = eng.movesToGo;
        r = m == 1 ? LAST_MOVE_CLOCK_SHARE : HARD_LIMIT_CLOCK_SHARE;
    }
    if (eng.newGame) {
        int64_t q = T / std::max<int64_t>(I, 1);
        q = std::min<int64_t>(std::max<int64_t>(q, INCREMENT_RATIO_MIN), INCREMENT_RATIO_MAX);
        eng.incrementFactor = INCREMENT_STRETCH_MIN + (float)((double)(q - INCREMENT_RATIO_MIN) * INCREMENT_STRETCH_STEP);
        eng.newGame = 0;
    }
    if (eng.ponderEnabled) f *= PONDER_SHARE;
    eng.timeFactor = 1.0f;
    const int64_t mPrime = eng.movesToGoGiven ? m : (int64_t)((float)m * eng.incrementFactor);
    const int64_t total = (mPrime - 1) * I + T;
    const int64_t avail = T - O;
    int64_t timeNormal = clamp32(std::max(f * (double)(total / m), 1.0));
    int64_t timeMax =
        m == 1 ? total - O : clamp32(std::min(HARD_LIMIT_TARGETS * (double)timeNormal, r * (double)avail));
    if (!eng.movesToGoGiven) {
        if (avail / timeNormal <= SHORT_CLOCK_TARGETS) {
            eng.timeFactor = SHORT_CLOCK_TIME_FACTOR;
            timeNormal /= 2;
            timeMax /= 2;
        }
    } else if (m == 4 && timeMax < FOUR_TO_GO_MIN_HARD_MS) {
        timeMax = FOUR_TO_GO_MIN_HARD_MS;
    }
    if (eng.moveTime != 0) {
        timeNormal = MOVETIME_SOFT_MULTIPLE * (int64_t)eng.moveTime;
        timeMax = eng.moveTime;
    } else {
        timeMax = std::max(timeNormal + 1, std::min(timeMax, avail));
    }
    eng.timeNormal = (int32_t)std::min<int64_t>(std::max<int64_t>(timeNormal, INT_MIN), INT_MAX);
    eng.timeMax = (int32_t)std::min<int64_t>(std::max<int64_t>(timeMax, INT_MIN), INT_MAX);
}

namespace {

// Caches of the command loop for "evil" and "eval"; the search threads own
// theirs.  GPSData is linked to them right before each call, since a copy of
// the game position must not keep pointing at them.
pawnHashEntry commandPawnHash[PAWN_HASH_ENTRIES];
evalCacheEntry commandEvalCache[EVAL_CACHE_ENTRIES];

void linkCommandCaches() {
    GPSData.pawnHashTable = commandPawnHash;
    GPSData.evalCache = commandEvalCache;
}

}  // namespace

void uciGo(std::istringstream& is) {
    waitForSearchEnd();

    engine.startTimeMs = nowMs();
    theWorkForce.pondering.store(0, std::memory_order_relaxed);
    engine.timeLeft[0] = engine.timeLeft[1] = 900000;
    engine.increment[0] = engine.increment[1] = 0;
    engine.movesToGo = 30;
    engine.depthLimit = 0;
    engine.nodesLimit = 0;
    engine.mateLimit = 0;
    engine.moveTime = 0;
    engine.timeCheckInterval = 4096;
    engine.infinite = 0;
    engine.movesToGoGiven = 0;

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
            theWorkForce.pondering.store(1, std::memory_order_relaxed);
        else if (word == "infinite")
            engine.infinite = 1;
        else if (word == "wtime")
            number(0, INT_MAX, engine.timeLeft[0]);
        else if (word == "btime")
            number(0, INT_MAX, engine.timeLeft[1]);
        else if (word == "winc")
            number(0, INT_MAX, engine.increment[0]);
        else if (word == "binc")
            number(0, INT_MAX, engine.increment[1]);
        else if (word == "movestogo")
            engine.movesToGoGiven = number(0, INT_MAX, engine.movesToGo) ? 1 : engine.movesToGoGiven;
        else if (word == "depth")
            number(1, MAX_PLY - 1, engine.depthLimit);
        else if (word == "nodes")
            number(1, LLONG_MAX, engine.nodesLimit);
        else if (word == "mate")
            number(1, MAX_PLY - 1, engine.mateLimit);
        else if (word == "movetime")
            number(1, INT_MAX, engine.moveTime);
    }
    // With a node limit the counter is gathered more often, so that small
    // limits are met closely.
    if (engine.nodesLimit)
        engine.timeCheckInterval = (int32_t)std::max<U64>(1, std::min<U64>(4096, engine.nodesLimit / 64));
    allocateTime(engine, GPSData.sideToMove);
    // Without a valid position the search only answers "bestmove 0000" (when
    // the GUI asks for it, for a ponder or infinite search).
    theWorkForce.noPosition = !haveGamePosition();
    theWorkForce.startSearch();
}

// ---------------------------------------------------------------------------
// Options
// ---------------------------------------------------------------------------
void uciIdentify() {
    printLine(std::string("id name ") + TW_ENGINE_NAME + TW_BUILD_SUFFIX);
    printLine("id author " TW_AUTHOR);
    printLine("option name Hash type spin default " + std::to_string(DEFAULT_HASH_MB) + " min 1 max 262144");
    printLine("option name Threads type spin default 1 min 1 max 256");
    printLine("option name Ponder type check default false");
    printLine("option name MoveOverhead type spin default 100 min 1 max 60000");
    printLine("option name SyzygyPath type string default <empty>");
    printLine("option name SyzygyProbeDepth type spin default 0 min 0 max 127");
    printLine("uciok");
}

namespace {

// The number at the start of an option value (the rest of the text is
// ignored); each option pulls it into its own range.
bool optionNumber(const std::string& text, long long& value) {
    return parseInteger(text, LLONG_MIN, LLONG_MAX, value);
}

long long clampValue(long long v, long long lo, long long hi) { return v < lo ? lo : (v > hi ? hi : v); }

}  // namespace

void uciSetOption(std::istringstream& is) {
    std::string word, name, value;
    is >> word;  // "name"
    while (is >> word && word != "value") name += (name.empty() ? "" : " ") + word;
    while (is >> word) value += (value.empty() ? "" : " ") + word;

    long long v = 0;
    const bool numeric = name == "Hash" || name == "Threads" || name == "MoveOverhead" || name == "SyzygyProbeDepth";
    if (numeric && !optionNumber(value, v)) {
        printLine("info string " + name + " needs a number, not '" + value + "'; unchanged");
        return;
    }
    if (name == "Hash") {
        v = clampValue(v, 1, 262144);
        stopSearchAndWait();
        engine.hashSizeMB = (int32_t)v;
        allocateConfiguredHashTable(true);
        printLine("info string Size of Hashtable set to : " + std::to_string(v));
    } else if (name == "Threads") {
        v = clampValue(v, 1, 256);
        waitForSearchEnd();
        engine.nofThreads = (int32_t)v;
        theWorkForce.setNofWorkers((int)v);
        printLine("info string Number of threads set to : " + std::to_string(v));
    } else if (name == "MoveOverhead") {
        v = clampValue(v, 1, 60000);
        engine.moveOverhead = (int32_t)v;
        printLine("info string MoveOverhead set to : " + std::to_string(v));
    } else if (name == "Ponder") {
        engine.ponderEnabled = value == "true";
        printLine(std::string("info string Ponder set to : ") + (engine.ponderEnabled ? "1" : "0"));
    } else if (name == "SyzygyPath") {
#if defined(__EMSCRIPTEN__)
        // A page has no directory of tables to read (the option stays
        // listed, since GUIs send it unasked).
        printLine("info string no tablebases in the browser build; SyzygyPath ignored");
#else
        stopSearchAndWait();
        engine.syzygyPath = value;
        syzygySetPath(value);
        printLine("info string Syzygy tablebases used from directory : " + value);
#endif
    } else if (name == "SyzygyProbeDepth") {
        v = clampValue(v, 0, 127);
        engine.syzygyProbeDepth.store((int32_t)v, std::memory_order_relaxed);
        printLine("info string SyzygyProbeDepth set to: " + std::to_string(v));
    } else {
        printLine("info string unknown option '" + name + "'; ignored");
    }
}

void uciRtest() {
    stopSearchAndWait();
    perftCheck();
}

void uciTexel() {
    // A running search must not read the tables while they are rebuilt.
    stopSearchAndWait();
    initBitboardConstants();
    initHashCodeTables();
    // The tuning threads never touch the table, so its pages are left to be
    // faulted in by the next search rather than competing with them now.
    allocateConfiguredHashTable(false);
    measureTexelError();
}

// ---------------------------------------------------------------------------
// Bench: a fixed-depth search of built-in positions, the engine's signature
// ---------------------------------------------------------------------------
namespace {

// Openings, middle games, endgames and tactical positions.
const char* const benchPositions[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
    "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
    "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1",
    "rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8",
    "r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - - 0 10",
    "r1bq1rk1/pp2bppp/2n1pn2/2pp4/3P4/2PBPN2/PP1N1PPP/R1BQ1RK1 w - - 0 8",
    "2rq1rk1/pb1nbppp/1p2pn2/2pp4/2PP4/1PN1PN2/PB2BPPP/2RQ1RK1 w - - 0 11",
    "r1b2rk1/2q1bppp/p2ppn2/1p6/3NP3/1BN1B3/PPP1QPPP/R4RK1 w - - 0 12",
    "2r3k1/pp3ppp/2n1b3/3p4/3P4/2N1B3/PP3PPP/2R3K1 w - - 0 20",
    "4rrk1/pp1n3p/3q2pQ/2p1pb2/2PP4/2P3N1/P2B2PP/4RRK1 b - - 7 19",
    "r3r1k1/2p2ppp/p1p1bn2/8/1q2P3/2NPQN2/PPP3PP/R4RK1 b - - 2 15",
    "r1bbk1nr/pp3p1p/2n5/1N4p1/2Np1B2/8/PPP2PPP/2KR1B1R w kq - 0 13",
    "r1bq1rk1/ppp1nppp/4n3/3p3Q/3P4/1BP1B3/PP1N2PP/R4RK1 w - - 1 16",
    "4r1k1/r1q2ppp/ppp2n2/4P3/5Rb1/1N1BQ3/PPP3PP/R5K1 w - - 1 17",
    "2rqkb1r/ppp2p2/2npb1p1/1N1Nn2p/2P1PP2/8/PP2B1PP/R1BQK2R b KQ - 0 11",
    "r1bq1r1k/b1p1npp1/p2p3p/1p6/3PP3/1B2NN2/PP3PPP/R2Q1RK1 w - - 1 16",
    "3r1rk1/p5pp/bpp1pp2/8/q1PP1P2/b3P3/P2NQRPP/1R2B1K1 b - - 6 22",
    "r1q2rk1/2p1bppp/2Pp4/p6b/Q1PNp3/4B3/PP1R1PPP/2K4R w - - 2 18",
    "4k2r/1pb2ppp/1p2p3/1R1p4/3P4/2r1PN2/P4PPP/1R4K1 b - - 3 22",
    "3q2k1/pb3p1p/4pbp1/2r5/PpN2N2/1P2P2P/5PP1/Q2R2K1 b - - 4 26",
    "6k1/6p1/6Pp/ppp5/3pn2P/1P3K2/1PP2P2/3N4 b - - 0 1",
    "3b4/5kp1/1p1p1p1p/pP1PpP1P/P1P1P3/3KN3/8/8 w - - 0 1",
    "2K5/p7/7P/5pR1/8/5k2/r7/8 w - - 0 1",
    "8/6pk/1p6/8/PP3p1p/5P2/4KP1q/3Q4 w - - 0 1",
    "7k/3p2pp/4q3/8/4Q3/5Kp1/P6b/8 w - - 0 1",
    "8/2p5/8/2kPKp1p/2p4P/2P5/3P4/8 w - - 0 1",
    "8/3p4/p1bk3p/Pp6/1Kp1PpPp/2P2P1P/2P5/5B2 b - - 0 1",
    "5k2/7R/4P2p/5K2/p1r2P1p/8/8/8 b - - 0 1",
    "6k1/6p1/P6p/r1N5/5p2/7P/1b3PP1/4R1K1 w - - 0 1",
    "1r3k2/4q3/2Pp3b/3Bp3/2Q2p2/1p1P2P1/1P2KP2/3N4 w - - 0 1",
    "6k1/4pp1p/3p2p1/P1pPb3/R7/1r2P1PP/3B1P2/6K1 w - - 0 1",
    "8/3p3B/5p2/5P2/p7/PP5b/k7/6K1 w - - 0 1",
    "8/8/8/8/5kp1/P7/8/1K1N4 w - - 0 1",
    "8/8/8/5N2/8/p7/8/2NK3k w - - 0 1",
    "8/3k4/8/8/8/4B3/4KB2/2B5 w - - 0 1",
    "8/8/3P3k/8/1p6/8/1P6/1K3n2 b - - 0 1",
    "6k1/3b3r/1p1p4/p1n2p2/1PPNpP1q/P3Q1p1/1R1RB1P1/5K2 b - - 0 1",
    "r2r1n2/pp2bk2/2p1p2p/3q4/3PN1QP/2P3R1/P4PP1/5RK1 w - - 0 1",
    "2rr3k/pp3pp1/1nnqbN1p/3pN3/2pP4/2P3Q1/PPB4P/R4RK1 w - - 0 1",
    "r1b1kb1r/3q1ppp/pBp1pn2/8/Np3P2/5B2/PPP3PP/R2Q1RK1 w kq - 0 1",
    "5rk1/1ppb3p/p1pb4/6q1/3P1p1r/2P1R2P/PP1BQ1P1/5RKN w - - 0 1",
};

}  // namespace

void uciBench(std::istringstream& is) {
    int depth = 13;
    std::string word;
    if (is >> word) {
        long long v = 0;
        if (!parseInteger(word, LLONG_MIN, LLONG_MAX, v) || v < 1 || v > 64) {
            printLine("info string bench needs a depth from 1 to 64, not '" + word + "'");
            return;
        }
        depth = (int)v;
    }
    stopSearchAndWait();

    // Everything the bench changes is put back afterwards.
    std::unique_ptr<positionStruct> savedGame(new positionStruct(GPSData));
    const int savedThreads = engine.nofThreads;
    const int32_t savedMovesPlayed = engine.movesPlayed;
    const uint8_t savedNewGame = engine.newGame;
    const float savedIncrementFactor = engine.incrementFactor;
    const uint8_t savedPonderEnabled = engine.ponderEnabled;

    if (savedThreads != 1 || theWorkForce.workers.size() != 1) {
        engine.nofThreads = 1;
        theWorkForce.setNofWorkers(1);
    }
    allocateHashTable(hashBucketsForSize(16));
    waitForHashTablePages();
    theWorkForce.silent = true;
    theWorkForce.noPosition = false;
    engine.ponderEnabled = 0;

    U64 totalNodes = 0;
    int64_t totalMs = 0;
    const int count = (int)(sizeof benchPositions / sizeof benchPositions[0]);
    for (int i = 0; i < count; i++) {
        setPosition(benchPositions[i], &GPSData);
        clearHashTableMT();
        theWorkForce.workers[0]->clearHistoryTables();
        engine.depthLimit = depth;
        engine.nodesLimit = 0;
        engine.mateLimit = 0;
        engine.moveTime = 0;
        engine.infinite = 0;
        engine.timeCheckInterval = 4096;
        engine.timeNormal = INT_MAX;
        engine.timeMax = INT_MAX;
        engine.timeFactor = 1.0f;
        theWorkForce.pondering.store(0, std::memory_order_relaxed);
        engine.startTimeMs = nowMs();
        theWorkForce.startSearch();
        theWorkForce.waitForSearch();
        const int64_t ms = nowMs() - engine.startTimeMs;
        const positionStruct& p = theWorkForce.workers[0]->position;
        const U64 nodes = p.nodeCount + p.quiescenceNodeCount;
        totalNodes += nodes;
        totalMs += ms;
        printLine("bench position " + std::to_string(i + 1) + " of " + std::to_string(count) + ": nodes " +
                  std::to_string(nodes) + " time " + std::to_string(ms) + " bestmove " +
                  moveToLA(&theWorkForce.lastBestMove, GPSData.sideToMove));
    }
    printLine("Bench: " + std::to_string(totalNodes) + " nodes " +
              std::to_string(totalNodes * 1000 / (U64)std::max<int64_t>(totalMs, 1)) + " nps");

    theWorkForce.silent = false;
    std::memcpy(static_cast<void*>(&GPSData), savedGame.get(), sizeof(positionStruct));
    engine.movesPlayed = savedMovesPlayed;
    engine.newGame = savedNewGame;
    engine.incrementFactor = savedIncrementFactor;
    engine.ponderEnabled = savedPonderEnabled;
    engine.depthLimit = 0;
    allocateConfiguredHashTable(true);
    if (savedThreads != 1) {
        engine.nofThreads = savedThreads;
        theWorkForce.setNofWorkers(savedThreads);
    }
}

void uciEvil() {
    if (!haveGamePosition()) return;
    linkCommandCaches();
    evaluateN(0, &GPSData);
}

void uciEval() {
    if (!haveGamePosition()) return;
    linkCommandCaches();
    std::istringstream report(evaluationReport(&GPSData));
    std::string line;
    while (std::getline(report, line)) printLine(line);
}

bool uciExecute(const std::string& text) {
    std::string line = text;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    std::istringstream is(line);
    std::string word;
    is >> word;
    static int perftDepth = 6;

    if (word == "quit" || word == "stop")
        uciStop();
    else if (word == "position")
        uciPosition(is);
    else if (word == "go")
        uciGo(is);
    else if (word == "ponderhit")
        uciPonderhit();
    else if (word == "ucinewgame")
        uciNewGame();
    else if (word == "uci")
        uciIdentify();
    else if (word == "setoption")
        uciSetOption(is);
    else if (word == "isready")
        printLine("readyok");
    else if (word == "rtest")
        uciRtest();
    else if (word == "perft")
        uciPerft(is, perftDepth);
    else if (word == "texel")
        uciTexel();
    else if (word == "showboard")
        uciShowBoard();
    else if (word == "evil")
        uciEvil();
    else if (word == "help")
        uciHelp();
    else if (word == "bench")
        uciBench(is);
    else if (word == "eval")
        uciEval();
    else
        printLine("Unknown command");
    return word != "quit";
}
