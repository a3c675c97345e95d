#!/usr/bin/env bash
# One fuzzing test: a harness runs for a bounded time over a scratch copy of
# its seed corpus and regression inputs (the source tree is never written),
# after running each regression input once on its own.  Prints libFuzzer's
# summary; on a finding, the report and the file that reproduces it.
#   run_fuzz.sh <harness> <seconds> <seed dir> <regression dir> <work dir> [dictionary]
set -u
harness=$1 seconds=$2 seeds=$3 regressions=$4 work=$5 dict=${6:-}
name=$(basename "$harness")

rm -rf "$work"
mkdir -p "$work/corpus" "$work/findings" "$work/tmp" || exit 1
# Scratch files of the tables harness stay in the work directory.
export TMPDIR=$work/tmp
# The engine's output goes to /dev/null; the table loader's complaints about
# damaged files (standard error) too.  libFuzzer and the sanitizers keep
# their own copy of standard error for their reports.
options=(-close_fd_mask=3 -timeout=25 -artifact_prefix="$work/findings/")

shopt -s nullglob
inputs=("$regressions"/*)
if [ ${#inputs[@]} -gt 0 ]; then
    if ! "$harness" "${options[@]}" "${inputs[@]}" >"$work/regressions.log" 2>&1; then
        cat "$work/regressions.log"
        echo "FAILED: $name on a regression input (see above)"
        exit 1
    fi
    echo "$name: ${#inputs[@]} regression input(s) run, no finding"
fi

for f in "$seeds"/* "${inputs[@]}"; do cp "$f" "$work/corpus/" || exit 1; done
[ -n "$dict" ] && options+=(-dict="$dict")
"$harness" "${options[@]}" -max_total_time="$seconds" -print_final_stats=1 "$work/corpus" >"$work/fuzz.log" 2>&1
status=$?
findings=("$work/findings"/*)
if [ $status -ne 0 ] || [ ${#findings[@]} -gt 0 ]; then
    tail -n 100 "$work/fuzz.log"
    echo "FAILED: $name exited with status $status (whole log: $work/fuzz.log)"
    for f in "${findings[@]}"; do echo "Reproduce with: $harness $f"; done
    echo "(the next run of this test clears $work: copy the finding elsewhere)"
    exit 1
fi
# "Done N runs in S second(s)" and the coverage reached.
grep -E '^Done [0-9]+ runs' "$work/fuzz.log" | sed "s/^/$name: /"
grep -E '^#[0-9]+[[:space:]]+DONE' "$work/fuzz.log" | tail -n 1 | sed "s/^/$name: /"
echo "$name: corpus $(ls "$work/corpus" | wc -l) inputs (log: $work/fuzz.log)"
