// The command handlers: position, perft, showboard, help and the others.
#include "uci.h"

#include "eval.h"

#include <chrono>
#include <cstdio>
#include <sstream>

engineStruct engine;

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
               .count() /
           1000000;
}

void printLine(const std::string& line) {
    std::string s = line;
    s += '\n';
    std::fwrite(s.data(), 1, s.size(), stdout);
    std::fflush(stdout);
}

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
        trimKeyHistory(pos, dropped);
        return true;
    }
    return false;
}

void uciPosition(std::istringstream& is) {
    std::string word, fen;
    bool startpos;
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
        printLine("info string " + reason + "; position not changed");
        return;
    }
    setPosition(fen, &GPSData);
    int made = 0, dropped = 0;
    while (is >> word) {
        if (!makeGameMoveText(&GPSData, word, &dropped)) {
            printLine("info string illegal or unreadable move '" + word + "'; moves from here on ignored");
            break;
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
        engine.movesPlayed = length < 2 ? 1024 : length + made;
    }
}

void uciPerft(std::istringstream& is, int& perftDepth) {
    std::string word;
    if (is >> word) {
        char* end = nullptr;
        long v = std::strtol(word.c_str(), &end, 10);
        if (end == word.c_str() || *end != '\0') {
            printLine("info string perft needs a depth number, not '" + word + "'");
            return;
        }
        if (v < 1 || v > MAX_PLY) {
            printLine("info string perft depth must be between 1 and " + std::to_string(MAX_PLY));
            return;
        }
        perftDepth = (int)v;
    }
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
    std::string board = boardToString(&GPSData);
    board.pop_back();
    printLine(board);
}

void uciHelp() {
    printLine("supported UCI commands 'uci' 'ucinewgame' 'position' 'go' 'ponderhit' 'stop 'quit' 'setoption' 'isready'");
    printLine("other commands 'perft depth', default depth=6, change board with 'position'; 'showboard' shows the current board");
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

void uciEvil() {
    linkCommandCaches();
    evaluateN(0, &GPSData);
}

void uciEval() {
    linkCommandCaches();
    std::istringstream report(evaluationReport(&GPSData));
    std::string line;
    while (std::getline(report, line)) printLine(line);
}
