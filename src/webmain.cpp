// Tarnwick in a browser: the program entry of the WebAssembly builds.
//
// A page has no standard input.  Its worker script hands the engine one
// command line at a time, and whatever the engine prints (printLine writes
// whole lines to standard output) reaches the worker's print callback, line
// by line, which passes it on to the page.  There are two builds of it:
//
// - With threads (a page that is cross-origin isolated may share memory with
//   its workers): uciCommand() queues each line and returns at once; the
//   command loop runs on a thread of its own, exactly as in the console
//   program, so that "stop", "isready" and "quit" are answered while a
//   search runs.  The module's main thread must never wait for the engine:
//   it is the one that starts the search threads and delivers the output,
//   so everything that can block, start-up included, runs on the loop's
//   thread.
//
// - Without threads (TW_NO_THREADS, any other page): the worker keeps the
//   lines in a queue of its own, and the command loop runs on the worker's
//   only thread, built with Asyncify so that it can hand control back to
//   the worker's event loop and resume later.  It does so while it waits for
//   a line, and every few milliseconds during a search (at the search's
//   clock checks, serviceHostDuringSearch), when it reads the lines that
//   came meanwhile: "stop", "ponderhit" and "isready" act at once, every
//   other line runs after the search, in its order.
#include <emscripten.h>

#include <cstdio>
#include <string>

#include "commands.h"
#include "types.h"
#include "util.h"

#if defined(TW_NO_THREADS)

#include <deque>
#include <sstream>

#include "input.h"
#include "search.h"
#include "threads.h"

namespace {

// The worker's queue (Module.pendingLines) and its two waits: for a line,
// and for one turn of the event loop (through a message channel: a timer
// would be clamped to 4 ms once the calls nest).
EM_JS(int, pendingLineBytes, (), {
    const lines = Module["pendingLines"];
    return lines.length ? lengthBytesUTF8(lines[0]) : -1;
});
EM_JS(void, takePendingLine, (char* out, int size), { stringToUTF8(Module["pendingLines"].shift(), out, size); });
EM_ASYNC_JS(void, waitForPendingLine, (), { await Module["lineArrived"](); });
EM_ASYNC_JS(void, yieldToWorker, (), { await Module["yieldToWorker"](); });
EM_JS(void, engineQuit, (), {
    if (Module["onEngineQuit"]) Module["onEngineQuit"]();
});

// How often a search lets the worker in: often enough that "stop" is
// answered at once to a person, seldom enough that it costs no speed.
constexpr int64_t YIELD_EVERY_MS = 10;

// Lines read during a search that run after it.
std::deque<std::string> heldLines;
int64_t lastYieldMs = 0;

bool takeLine(std::string& line) {
    const int bytes = pendingLineBytes();
    if (bytes < 0) return false;
    line.assign((size_t)bytes + 1, '\0');
    takePendingLine(&line[0], bytes + 1);
    line.resize((size_t)bytes);
    return true;
}

std::string nextLine() {
    std::string line;
    if (!heldLines.empty()) {
        line = std::move(heldLines.front());
        heldLines.pop_front();
        return line;
    }
    while (!takeLine(line)) waitForPendingLine();
    return line;
}

// Lines this build answers itself: there is one thread, and tuning needs
// more (and a file).
bool answeredHere(const std::string& line) {
    std::istringstream is(line);
    std::string word, name, value;
    is >> word;
    if (word == "texel") {
        printLine("info string texel: not in the single-thread browser build");
        return true;
    }
    if (word != "setoption") return false;
    is >> word;  // "name"
    is >> name;
    if (name != "Threads") return false;
    while (is >> word && word != "value") {
    }
    is >> value;
    if (value == "1") return false;
    printLine("info string this engine runs on one thread (the page is not cross-origin isolated); Threads stays 1");
    return true;
}

}  // namespace

void serviceHostDuringSearch(bool holding) {
    const int64_t now = nowMs();
    if (!holding && now - lastYieldMs < YIELD_EVERY_MS) return;
    // Holding, only a new line can end the hold ("stop", "ponderhit").
    if (holding && pendingLineBytes() < 0)
        waitForPendingLine();
    else
        yieldToWorker();
    lastYieldMs = nowMs();
    std::string line;
    while (takeLine(line)) {
        const std::string word = firstWord(line);
        // Once the search is told to end, everything waits for its answer:
        // an "isready" after "stop" is answered after the "bestmove".  A
        // silent search is part of a command (bench), which, as in the
        // console program, reads nothing until it is done.
        const bool ending = threadPool.stopCommanded.load(std::memory_order_relaxed) ||
                            threadPool.answered.load(std::memory_order_acquire);
        if (ending || threadPool.silent) {
            heldLines.push_back(std::move(line));
        } else if (word == "isready") {
            printLine("readyok");
        } else if (word == "stop") {
            threadPool.commandStop();
        } else if (word == "ponderhit") {
            threadPool.ponderhit();
        } else if (word == "quit") {
            // Ends the engine after this search, whatever else was queued.
            threadPool.commandStop();
            heldLines.clear();
            heldLines.push_back(std::move(line));
        } else {
            heldLines.push_back(std::move(line));
        }
    }
}

int main() {
    static char outputBuffer[4096];
    std::setvbuf(stdout, outputBuffer, _IOLBF, sizeof outputBuffer);
    startEngine();
    printLine(std::string(TW_ENGINE_NAME) + TW_BUILD_SUFFIX);
    for (;;) {
        const std::string line = nextLine();
        if (answeredHere(line)) continue;
        if (!executeCommand(line)) break;
    }
    stopEngine();
    engineQuit();
    return 0;
}

#else  // threads

#include <thread>

#include "input.h"

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

#endif
