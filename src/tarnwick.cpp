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
#include <thread>

#include "platform.h"
#include "search.h"
#include "tarnwick.h"
#include "uci.h"

int main(int argc, char** argv) {
    printLine(std::string(TW_ENGINE_NAME) + TW_BUILD_SUFFIX);
    printLine("by " TW_AUTHOR);
    printLine("");
    printLine("enter 'help' to see the commands");

    initBitboardConstants();
    initHashCodeTables();
    setPosition(fenStartPos, &GPSData);
    engineStartup();

    static char outputBuffer[4096];
    std::setvbuf(stdout, outputBuffer, _IOLBF, sizeof outputBuffer);

    if (argc > 1) {
        // One command from the program's arguments, then the program ends.
        std::string line;
        for (int i = 1; i < argc; i++) line += std::string(argv[i]) + " ";
        uciExecute(line);
    } else {
        // Standard input is read by a thread of its own, so that the loop
        // can answer while a command waits for a search; the end of input
        // counts as "quit".  The reader is left blocked on its input when
        // the program ends.
        commandInput& input = theCommandInput();
        std::thread([&input] {
            std::string line;
            while (std::getline(std::cin, line)) input.push(line);
            input.push("quit");
        }).detach();
        while (uciExecute(input.next())) {
        }
    }
    engineShutdown();
    platform::endProgram(0);
}
