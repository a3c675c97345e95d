// The hook that the processor check runs from (TW_RUN_BEFORE_CONSTRUCTORS)
// is called before the static constructors, on Linux and on Windows, and the
// platform layer tells it the program's name there.  A program of its own:
// the status says whether the order held.
#include <cstdio>
#include <cstring>

#include "platform.h"

namespace {

// Constant-initialised, so valid before any code of the program runs.
int step = 0;
int hookStep = -1;
int constructorStep = -1;
char nameAtStart[128] = "";

void atStart(const char* argv0) {
    hookStep = step++;
    platform::programName(argv0, nameAtStart, sizeof nameAtStart);
}

TW_RUN_BEFORE_CONSTRUCTORS(atStart)

struct ConstructedAtStart {
    ConstructedAtStart() { constructorStep = step++; }
} staticObject;

}  // namespace

int main() {
    std::printf("start hook at step %d, static constructor at step %d, program name \"%s\"\n", hookStep,
                constructorStep, nameAtStart);
    const bool ok = hookStep == 0 && constructorStep == 1 && std::strcmp(nameAtStart, "start_order_test") == 0;
    std::puts(ok ? "PASSED" : "FAILED");
    return ok ? 0 : 1;
}
