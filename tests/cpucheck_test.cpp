// The start-up processor check: which program may run where, and the line
// that names the program to use instead.
#include <gtest/gtest.h>

#include <string>

#include "cpucheck.h"

namespace {

constexpr unsigned BMI_FEATURES = CPU_POPCNT | CPU_BMI1 | CPU_BMI2 | CPU_AVX2;

// The message for `required` on a processor with `present`, or "" when the
// program may run.
std::string verdict(const char* program, unsigned required, unsigned present, size_t size = 256) {
    char out[256] = "untouched";
    if (!cpuMismatchMessage(program, required, present, out, size)) return std::string(out) == "untouched" ? "" : "wrote";
    return out;
}

TEST(CpuCheck, EachProgramRunsWhereItsInstructionsAreOrNamesAnother) {
    for (unsigned present : {0u, unsigned(CPU_POPCNT), BMI_FEATURES, BMI_FEATURES | 0x100u}) EXPECT_EQ(verdict("tarnwick-nop", 0, present), "");
    EXPECT_EQ(verdict("tarnwick", CPU_POPCNT, BMI_FEATURES), "");
    EXPECT_EQ(verdict("tarnwick-bmi", BMI_FEATURES, BMI_FEATURES), "");
    // A processor with POPCNT and BMI1 only, or AVX2 that the system does
    // not enable, can run tarnwick; without POPCNT only tarnwick-nop is left.
    EXPECT_EQ(verdict("tarnwick-bmi", BMI_FEATURES, CPU_POPCNT | CPU_BMI1),
              "tarnwick-bmi: this CPU lacks BMI2 and AVX2: use tarnwick or tarnwick-nop");
    EXPECT_EQ(verdict("tarnwick-bmi", BMI_FEATURES, CPU_POPCNT | CPU_BMI1 | CPU_BMI2),
              "tarnwick-bmi: this CPU lacks AVX2: use tarnwick or tarnwick-nop");
    EXPECT_EQ(verdict("tarnwick-bmi", BMI_FEATURES, 0), "tarnwick-bmi: this CPU lacks POPCNT, BMI1, BMI2 and AVX2: use tarnwick-nop");
    EXPECT_EQ(verdict("tarnwick", CPU_POPCNT, CPU_BMI1 | CPU_BMI2), "tarnwick: this CPU lacks POPCNT: use tarnwick-nop");
    // A small buffer gets the start of the line, terminated.
    EXPECT_EQ(verdict("tarnwick", CPU_POPCNT, 0, 12), "tarnwick: t");
}

// The CPUID bits read at start-up agree with the compiler's own reading of
// the processor this test runs on.
TEST(CpuCheck, FeaturesOfThisProcessor) {
    __builtin_cpu_init();
    const unsigned present = cpuFeaturesPresent();
    EXPECT_EQ((present & CPU_POPCNT) != 0, __builtin_cpu_supports("popcnt") != 0);
    EXPECT_EQ((present & CPU_BMI1) != 0, __builtin_cpu_supports("bmi") != 0);
    EXPECT_EQ((present & CPU_BMI2) != 0, __builtin_cpu_supports("bmi2") != 0);
    EXPECT_EQ((present & CPU_AVX2) != 0, __builtin_cpu_supports("avx2") != 0);
}

}  // namespace
