#!/usr/bin/env bash
# Fuzz for longer than the test suite does.  Builds the libFuzzer harnesses
# with clang++ in build-fuzz/ (if needed) and runs each for the given number
# of seconds (default 600), one after the other.  New inputs are kept in
# build-fuzz/corpus/<harness>/ and carried over to the next run; the seed
# corpus and regression inputs of tests/fuzz/ are read, never written.
# Findings (crash-*, leak-*, timeout-*, oom-* files) go to
# build-fuzz/findings/<harness>/; the harness run on such a file reproduces it.
#   tools/fuzz.sh [seconds] [harness...]      (harnesses: position commands tables)
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
root=$PWD
out=$root/build-fuzz
seconds=${1:-600}
shift $(( $# > 0 ? 1 : 0 ))
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(position commands tables)

command -v clang++ >/dev/null 2>&1 || { echo "clang++ is needed: sudo apt-get install clang libclang-rt-14-dev" >&2; exit 1; }
cmake -S tests/fuzz -B "$out" -DCMAKE_CXX_COMPILER=clang++ >/dev/null || exit 1
cmake --build "$out" -j2 >/dev/null || { echo "build failed: cmake --build $out" >&2; exit 1; }

status=0
for h in "${harnesses[@]}"; do
    [ -x "$out/fuzz_$h" ] || { echo "no harness '$h' (position, commands, tables)" >&2; exit 1; }
    mkdir -p "$out/corpus/$h" "$out/findings/$h" "$out/tmp"
    # Scratch files of the tables harness stay inside build-fuzz.
    export TMPDIR=$out/tmp
    options=(-close_fd_mask=3 -timeout=25 -max_total_time="$seconds" -print_final_stats=1
             -artifact_prefix="$out/findings/$h/")
    [ -f "tests/fuzz/$h.dict" ] && options+=(-dict="$root/tests/fuzz/$h.dict")
    # libFuzzer writes new inputs into the first directory only.
    dirs=("$out/corpus/$h" "$root/tests/fuzz/corpus/$h")
    [ -d "tests/fuzz/regressions/$h" ] && dirs+=("$root/tests/fuzz/regressions/$h")
    echo "== $h: $seconds s; new inputs in $out/corpus/$h, findings in $out/findings/$h"
    if "$out/fuzz_$h" "${options[@]}" "${dirs[@]}" >"$out/$h.log" 2>&1; then
        grep -E '^Done [0-9]+ runs' "$out/$h.log"
    else
        status=1
        tail -n 40 "$out/$h.log"
        echo "FINDING in $h (whole log: $out/$h.log):"
        ls -1 "$out/findings/$h"
        echo "Reproduce with: $out/fuzz_$h $out/findings/$h/<file>"
    fi
done
exit $status
