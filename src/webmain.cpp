// Tarnwick in a browser: the program entry of the WebAssembly build.
//
// A page has no standard input.  Its worker script hands the engine one
// command line at a time through uciCommand(), which queues the line and
// returns at once; the command loop runs on a thread of its own, exactly as
// in the console program, so that "stop", "isready" and "quit" are answered
// while a search runs.  Whatever the engine prints (printLine writes whole
// lines to standard output) reaches the worker's print callback, line by
// line, on the module's main thread, which passes it on to the page.
//
// The module's main thread must never wait for the engine: it is the one
// that starts the search threads and delivers the output, so everything
// that can block, start-up included, runs on the loop's thread.
#include <emscripten.h>

#include <cstdio>
#include <string>
#include <thread>

#include "commands.h"
#include "input.h"
#include "types.h"
#include "util.h"

namespace {

void commandLoop() {
    startEngine();
    printLine(std::string(TW_ENGINE_NAME) + TW_BUILD_SUFFIX);

    CommandInput& input = theCommandInput();
    while (executeCommand(input.next())) {
    }
    stopEngine();
    // The worker script may now let its worker end.
    MAIN_THREAD_ASYNC_EM_ASM({
        if (Module["onEngineQuit"]) Module["onEngineQuit"]();
    });
}

}  // namespace

// One command line from the page (without its line end).
extern "C" EMSCRIPTEN_KEEPALIVE void uciCommand(const char* line) { theCommandInput().push(line ? line : ""); }

int main() {
    static char outputBuffer[4096];
    std::setvbuf(stdout, outputBuffer, _IOLBF, sizeof outputBuffer);
    std::thread(commandLoop).detach();
    // The runtime stays alive after main returns; the module's thread goes
    // back to its event loop, where the engine's output and thread starts
    // are served.
    return 0;
}
