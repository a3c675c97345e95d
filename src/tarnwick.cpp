// Tarnwick: program entry and the command loop.
//
// The loop is the only reader of standard input and the only writer of the
// game position, the engine options and the thread pool.  A search runs on
// the pool's threads while the loop goes on reading, so "stop", "ponderhit",
// "isready" and "quit" are answered during a search.
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include "search.h"
#include "tarnwick.h"
#include "uci.h"

int main(int argc, char** argv) {
    printLine(std::string(TW_ENGINE_NAME) + TW_BUILD_SUFFIX);
    printLine("by " TW_AUTHOR);
    printLine("");
    printLine("enter 'help' to see the commands");

    std::string fen = fenStartPos;
    int perftDepth = 6;

    initBitboardConstants();
    initHashCodeTables();
    setPosition(fen, &GPSData);
    engineStartup();

    static char outputBuffer[4096];
    std::setvbuf(stdout, outputBuffer, _IOLBF, sizeof outputBuffer);

    std::string line;
    const bool fromArguments = argc > 1;
    if (fromArguments)
        for (int i = 1; i < argc; i++) line += std::string(argv[i]) + " ";

    for (;;) {
        if (!fromArguments && !std::getline(std::cin, line)) line = "quit";
        std::istringstream is(line);
        std::string word;
        is >> word;

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

        if (fromArguments || word == "quit") break;
    }
    engineShutdown();
    return 0;
}
