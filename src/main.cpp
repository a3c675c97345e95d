// Tarnwick: program entry.  The banner, the engine's start-up, then the
// command loop on standard input (or one command from the arguments).
//
// Standard input is read by a thread of its own, which hands every line to
// the loop's queue; the loop can so keep answering "isready", "stop" and
// "quit" while a command waits for a running search.
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

#include "commands.h"
#include "input.h"
#include "platform.h"
#include "types.h"
#include "util.h"

int main(int argc, char** argv) {
    // Line-buffered output: a line written without printLine (which flushes
    // its own), such as the tablebase count, still reaches a GUI reading a
    // pipe at once.  A stream's buffer may only be set before anything is
    // written to it, so this comes first.
    static char outputBuffer[4096];
    std::setvbuf(stdout, outputBuffer, _IOLBF, sizeof outputBuffer);

    printLine(std::string(TW_ENGINE_NAME) + TW_BUILD_SUFFIX);
    printLine("by " TW_AUTHOR);
    printLine("");
    printLine("enter 'help' to see the commands");

    startEngine();

    if (argc > 1) {
        // One command from the program's arguments, then the program ends.
        std::string line;
        for (int i = 1; i < argc; i++) line += std::string(argv[i]) + " ";
        executeCommand(line);
    } else {
        // The end of input counts as "quit".  The reader is left blocked on
        // its input when the program ends.
        CommandInput& input = theCommandInput();
        std::thread([&input] {
            std::string line;
            while (std::getline(std::cin, line)) input.push(line);
            input.push("quit");
        }).detach();
        while (executeCommand(input.next())) {
        }
    }
    stopEngine();
    platform::endProgram(0);
}
