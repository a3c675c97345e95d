// The processor check of every Tarnwick program.
//
// This file is compiled for plain x86-64 in every program, never with the
// program's own -mpopcnt/-mbmi2/-mavx2: the compiler is free to use those
// instructions anywhere in code built with them, static initialisers
// included, so the check must live apart from that code and run before it.
// It runs before the initialisers of any library and of the program itself
// (TW_RUN_BEFORE_CONSTRUCTORS: from .preinit_array on Linux, from the C
// runtime's initialiser table on Windows).  Nothing in it may depend on
// initialised C++ state: no streams, no allocation; the platform layer, also
// built for plain x86-64, names the program and writes the message.
#include "cpucheck.h"

#include <cpuid.h>

#include "platform.h"

unsigned cpuFeaturesPresent() {
    unsigned eax, ebx, ecx, edx, features = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return 0;
    if (ecx & bit_POPCNT) features |= CPU_POPCNT;
    // AVX2 code needs the YMM state saved by the operating system as well as
    // the instructions: OSXSAVE set and XCR0 bits 1 (SSE) and 2 (AVX) on.
    bool ymmSaved = false;
    if ((ecx & bit_OSXSAVE) && (ecx & bit_AVX)) {
        unsigned lo, hi;
        __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
        ymmSaved = (lo & 6) == 6;
    }
    if (__get_cpuid_max(0, nullptr) >= 7) {
        __cpuid_count(7, 0, eax, ebx, ecx, edx);
        if (ebx & bit_BMI) features |= CPU_BMI1;
        if (ebx & bit_BMI2) features |= CPU_BMI2;
        if ((ebx & bit_AVX2) && ymmSaved) features |= CPU_AVX2;
    }
    return features;
}

namespace {

void append(char* out, size_t size, size_t& used, const char* text) {
    for (; *text && used + 1 < size; text++) out[used++] = *text;
    out[used] = '\0';
}

}  // namespace

bool cpuMismatchMessage(const char* program, unsigned required, unsigned present, char* out, size_t size) {
    const unsigned missing = required & ~present;
    if (!missing || size == 0) return false;
    static const struct {
        unsigned bit;
        const char* name;
    } featureNames[] = {{CPU_POPCNT, "POPCNT"}, {CPU_BMI1, "BMI1"}, {CPU_BMI2, "BMI2"}, {CPU_AVX2, "AVX2"}};
    size_t used = 0;
    out[0] = '\0';
    append(out, size, used, program);
    append(out, size, used, ": this CPU lacks ");
    int left = 0;
    for (const auto& n : featureNames) left += (missing & n.bit) != 0;
    for (const auto& n : featureNames) {
        if (!(missing & n.bit)) continue;
        append(out, size, used, n.name);
        left--;
        append(out, size, used, left > 1 ? ", " : left == 1 ? " and " : "");
    }
    // The fastest of the three programs that this processor can run.
    append(out, size, used, (present & CPU_POPCNT) ? ": use tarnwick or tarnwick-nop" : ": use tarnwick-nop");
    return true;
}

#if defined(TW_CPU_CHECK)

namespace {

#if defined(TW_PEXT)
constexpr unsigned REQUIRED_FEATURES = CPU_POPCNT | CPU_BMI1 | CPU_BMI2 | CPU_AVX2;
constexpr const char* PROGRAM_NAME = "tarnwick-bmi";
#elif defined(TW_NOPOPCNT)
constexpr unsigned REQUIRED_FEATURES = 0;
constexpr const char* PROGRAM_NAME = "tarnwick-nop";
#else
constexpr unsigned REQUIRED_FEATURES = CPU_POPCNT;
constexpr const char* PROGRAM_NAME = "tarnwick";
#endif

// The message names the program as it was started, without its directory.
void checkProcessor(const char* argv0) {
    char program[128];
    platform::programName(argv0, program, sizeof program);
    char message[256];
    if (!cpuMismatchMessage(program[0] ? program : PROGRAM_NAME, REQUIRED_FEATURES, cpuFeaturesPresent(), message,
                            sizeof message))
        return;
    platform::failAtStart(message);
}

TW_RUN_BEFORE_CONSTRUCTORS(checkProcessor)

}  // namespace

#endif
