// The command loop's dispatch, and the developer commands that need more
// than one part of the engine.
#include "commands.h"

#include <sstream>

#include "bench.h"
#include "perft.h"
#include "texel.h"
#include "threads.h"
#include "tt.h"
#include "uci.h"
#include "util.h"

void startEngine() { engineStartup(); }

void stopEngine() {
    engineShutdown();
    endTexelThreads();
}

namespace {

// "rtest": the perft regression check.
void rtestCommand() {
    stopSearchAndWait();
    perftCheck();
}

// "texel": the Texel error of the evaluation over the tuning file.  The
// tables are filled afresh first, and the transposition table is made again
// without bringing its pages in: the tuning threads never touch it, and the
// next search faults them in instead of competing with them now.
void texelCommand() {
    // A running search must not read the tables while they are rebuilt.
    stopSearchAndWait();
    initEngineTables();
    ttAllocateMB(engineOptions().hashMB, false, threadPool.memoryBytes());
    measureTexelError();
}

}  // namespace

bool executeCommand(const std::string& text) { return executeCommand(CommandLine{text, theCommandInput().stamp()}); }

bool executeCommand(const CommandLine& command) {
    std::string line = command.text;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    std::istringstream is(line);
    std::string word;
    is >> word;
    if (word == "quit" || word == "stop")
        uciStop(command.arrival);
    else if (word == "position")
        uciPosition(is);
    else if (word == "go")
        uciGo(is, command.arrival);
    else if (word == "ponderhit")
        uciPonderhit();
    else if (word == "isready")
        uciIsReady();
    else if (word == "ucinewgame")
        uciNewGame();
    else if (word == "uci")
        uciIdentify();
    else if (word == "setoption")
        uciSetOption(is);
    else if (word == "rtest")
        rtestCommand();
    else if (word == "perft")
        uciPerft(is);
    else if (word == "texel")
        texelCommand();
    else if (word == "showboard")
        uciShowBoard();
    else if (word == "evil")
        uciSilentEval();
    else if (word == "help")
        uciHelp();
    else if (word == "bench")
        benchCommand(is);
    else if (word == "eval")
        uciEval();
    else
        printLine("Unknown command");
    return word != "quit";
}
