#!/usr/bin/env bash
# Checks the names in src/ against the naming rules of the README's
# Conventions, written down for clang-tidy in the root .clang-tidy.
#   tools/check-names.sh [BUILD_DIR]
# Prints each name that breaks a rule with the name the rule asks for, and
# exits 1 if there is any; 0 when every name keeps the rules; 77 (which CTest
# counts as skipped) when clang-tidy is missing (Debian package clang-tidy);
# 2 when clang-tidy cannot read a source.  clang-tidy needs the compiler's
# command for each source: the script configures a build folder of its own,
# BUILD_DIR (build-names/ by default), that lists them, and checks each
# source as the plain tarnwick program compiles it.  CLANG_TIDY names the
# program to use instead.  webmain.cpp is left out: only Emscripten has its
# headers.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-names}

tidy=
for p in ${CLANG_TIDY:-} clang-tidy-14 clang-tidy; do
    if command -v "$p" >/dev/null 2>&1; then tidy=$p; break; fi
done
if [ -z "$tidy" ]; then
    echo "clang-tidy is missing (Debian package clang-tidy)" >&2
    exit 77
fi

if ! cmake -S "$root" -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DCMAKE_BUILD_TYPE=Release \
    -DTARNWICK_TESTS=OFF -DTARNWICK_BENCH=OFF -DTARNWICK_SANITIZERS=OFF >"$build.log" 2>&1; then
    cat "$build.log" >&2
    echo "could not configure $build" >&2
    exit 2
fi
rm -f "$build.log"

# Every source is compiled once for each x86-64 program; keep the commands of
# the plain tarnwick program only (its core library, its platform layer and
# processor check, and main.cpp), so that each source is read once.
# CMake writes one entry per "{" ... "}" block, one field to a line.
db=$build/names-db
mkdir -p "$db"
awk '
    /^\{/ { entry = ""; keep = 0 }
    { entry = entry $0 "\n" }
    /"command":.*CMakeFiles\/tarnwick(-core|-platform|-cpucheck)?\.dir\// { keep = 1 }
    /^\},?$/ {
        if (keep) { sub(/,\n$/, "\n", entry); kept[n++] = entry }
    }
    END {
        print "["
        for (i = 0; i < n; i++) {
            e = kept[i]
            sub(/\}\n$/, "}", e)
            printf "%s%s\n", e, (i < n - 1 ? "," : "")
        }
        print "]"
    }' "$build/compile_commands.json" >"$db/compile_commands.json"
mapfile -t sources < <(sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$db/compile_commands.json" |
    grep "^$root/src/" | LC_ALL=C sort -u)
if [ ${#sources[@]} -eq 0 ]; then
    echo "no sources of src/ in $db/compile_commands.json" >&2
    exit 2
fi

out=$build/names-check.txt
status=0
printf '%s\0' "${sources[@]}" |
    xargs -0 -n 1 -P 2 "$tidy" -p "$db" --quiet --header-filter="^$root/src/" >"$out" 2>"$out.err" || status=$?
if [ "$status" -ne 0 ]; then
    grep -h 'error:' "$out" "$out.err" >&2 || cat "$out.err" >&2
    echo "clang-tidy could not check the sources (status $status)" >&2
    exit 2
fi

# A finding is a warning line, the source line, a caret line and, when
# clang-tidy can name the fix, the name the rule asks for.  A header read by
# several sources is reported by each: every finding is listed once.
findings=$(awk -v root="$root/" '
    function flush() {
        if (pending != "") print pending (fix != "" ? " -> " fix : "")
        pending = ""; fix = ""; after = 0
    }
    / warning: invalid case style for / {
        flush()
        line = $0
        sub(/ \[readability-identifier-naming\]$/, "", line)
        sub(/ warning: invalid case style for/, "", line)
        if (index(line, root) == 1) line = substr(line, length(root) + 1)
        pending = line; after = 0; next
    }
    pending != "" {
        after++
        if (after == 3) {
            f = $0; gsub(/^ +| +$/, "", f)
            if (f ~ /^[A-Za-z_][A-Za-z0-9_]*$/) fix = f
            flush()
        }
    }
    END { flush() }' "$out" | LC_ALL=C sort -u -t: -k1,1 -k2,2n -k3,3n)
if [ -z "$findings" ]; then
    echo "${#sources[@]} sources of src/ and their headers: every name keeps the rules of .clang-tidy"
    exit 0
fi
echo "$findings"
echo "$(echo "$findings" | wc -l) names break the rules of .clang-tidy (the README's Conventions)" >&2
exit 1
