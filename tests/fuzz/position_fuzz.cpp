// Fuzzing harness: a game position as a GUI sets it up.
//
// Input: a FEN on the first line, then move words (blanks or line breaks
// between them).  The harness sends "position fen <FEN> moves <moves>" to
// the command handler, which checks the FEN and every move.  When a move is
// refused the whole command is, so the longest accepted beginning of the
// move list is sent as well: the search and the counts then run on a
// position reached by real moves.  On it: perft 1 and 2, both evaluations,
// the board display and a 300-node search, waited for.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace {

// How many of the moves the game takes, checked with the functions the
// command uses on a scratch copy of the game.
size_t acceptedMoves(const std::string& fen, const std::vector<std::string>& moves) {
    static GameRecord scratch;
    setPosition(fen, &scratch.position, &scratch.keys);
    size_t n = 0;
    int dropped = 0;
    while (n < moves.size() && makeGameMoveText(&scratch, moves[n], &dropped)) n++;
    return n;
}

std::string positionCommand(const std::string& fen, const std::vector<std::string>& moves, size_t count) {
    std::string line = "position fen " + fen + " moves";
    for (size_t i = 0; i < count; i++) line += " " + moves[i];
    return line;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::startQuietEngine();
    // Positions of up to four men are also probed in the tables.
    executeCommand("setoption name SyzygyPath value " + fuzz::localTables());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const size_t lineEnd = text.find('\n');
    const std::string first = text.substr(0, lineEnd);
    const std::string rest = lineEnd == std::string::npos ? "" : text.substr(lineEnd + 1);

    // Read as the command reads it: the FEN ends at the first word "moves"
    // (the first line may hold one), and every word after it is a move.
    std::vector<std::string> words = fuzz::wordsOf(first);
    if (std::find(words.begin(), words.end(), "moves") == words.end()) words.push_back("moves");
    for (const std::string& w : fuzz::wordsOf(rest)) words.push_back(w);
    std::string fen;
    size_t i = 0;
    for (; words[i] != "moves"; i++) fen += words[i] + " ";
    const std::vector<std::string> moves(words.begin() + (long)i + 1, words.end());

    const bool fenAccepted = validateFen(fen).empty();
    const size_t accepted = fenAccepted ? acceptedMoves(fen, moves) : 0;
    executeCommand(positionCommand(fen, moves, moves.size()));
    if (fenAccepted && accepted < moves.size()) executeCommand(positionCommand(fen, moves, accepted));

    executeCommand("perft 1");
    executeCommand("perft 2");
    executeCommand("eval");
    executeCommand("evil");
    executeCommand("showboard");
    executeCommand("go nodes 300");
    waitForSearchEnd();
    return 0;
}
