#!/usr/bin/env bash
# Lays out the sources: the C++ (src/, tests/, bench/) by the root
# .clang-format, the page's JavaScript (web/) by web/.prettierrc.yaml.
#   tools/format.sh [--check] [cpp|web]
# Without --check every file is laid out in place; with it nothing changes:
# the script prints where a file departs from the layout and exits 1 if any
# does.  cpp or web takes one of the two; both by default.
# The C++ layout is that of clang-format 14 (Debian 12's package
# clang-format); other versions break some lines differently, so --check
# runs only with 14.  The JavaScript is laid out by the Prettier that
# web/package-lock.json pins (npm ci in web/, or web/build.sh, installs it).
# A part whose tool is missing is left out with a note; when every part
# asked for is left out, the exit code is 77, by which CTest counts a test as
# skipped.  CLANG_FORMAT names the clang-format program to use instead.
set -euo pipefail
cd "$(dirname "$0")/.."
check=false
parts=()
for arg in "$@"; do
    case $arg in
    --check) check=true ;;
    cpp | web) parts+=("$arg") ;;
    *) echo "usage: $0 [--check] [cpp|web]" >&2; exit 2 ;;
    esac
done
[ ${#parts[@]} -gt 0 ] || parts=(cpp web)

find_clang_format() {
    local p
    for p in ${CLANG_FORMAT:-} clang-format-14 clang-format; do
        command -v "$p" >/dev/null 2>&1 && { echo "$p"; return 0; }
    done
    return 1
}
# Each part returns 0 (laid out), 1 (a file departs) or 77 (left out).
cpp() {
    local program version
    if ! program=$(find_clang_format); then
        echo "C++ left out: clang-format is missing (Debian package clang-format)" >&2
        return 77
    fi
    version=$("$program" --version | sed -n 's/.*version \([0-9][0-9]*\)\..*/\1/p')
    if [ "${version:-0}" -lt 14 ]; then
        echo "C++ left out: $program is version ${version:-unknown}; the layout needs clang-format 14" >&2
        return 77
    fi
    if $check && [ "$version" != 14 ]; then
        echo "C++ left out: $program is version $version; the layout is checked with clang-format 14 only" >&2
        return 77
    fi

    local files report status=0
    mapfile -t files < <(find src tests bench -type f \( -name '*.cpp' -o -name '*.h' \) | LC_ALL=C sort)
    if ! $check; then
        printf '%s\0' "${files[@]}" | xargs -0 -n 16 -P 2 "$program" -i --style=file
        echo "C++: ${#files[@]} files laid out"
        return 0
    fi
    # Each departure is reported as "file:line:col: error: code should be
    # clang-formatted" with the line; the files are counted at the end.
    report=$(mktemp)
    printf '%s\0' "${files[@]}" | xargs -0 -n 16 -P 2 "$program" --dry-run -Werror --style=file 2>"$report" ||
        status=$?
    if [ "$status" -eq 0 ] && ! [ -s "$report" ]; then
        rm -f "$report"
        echo "C++: ${#files[@]} files laid out as .clang-format says"
        return 0
    fi
    head -n 200 "$report" >&2
    [ "$(wc -l <"$report")" -le 200 ] || echo "... (more)" >&2
    echo "C++ not laid out as .clang-format says (tools/format.sh cpp mends it), departures per file:" >&2
    grep -o '^[^:]*\.\(cpp\|h\):[0-9]*:[0-9]*: error' "$report" | cut -d: -f1 | sort | uniq -c >&2 || cat "$report" >&2
    rm -f "$report"
    return 1
}

web() {
    local prettier=web/node_modules/prettier/bin/prettier.cjs
    if ! [ -f "$prettier" ]; then
        echo "JavaScript left out: Prettier is not installed (npm ci in web/)" >&2
        return 77
    fi
    if ! command -v node >/dev/null 2>&1; then
        echo "JavaScript left out: node is missing (Debian package nodejs)" >&2
        return 77
    fi
    if ! $check; then
        (cd web && node node_modules/prettier/bin/prettier.cjs --write --log-level warn .) && echo "JavaScript laid out"
        return
    fi
    if (cd web && node node_modules/prettier/bin/prettier.cjs --check .); then
        return 0
    fi
    echo "JavaScript not laid out as web/.prettierrc.yaml says (tools/format.sh web mends it)" >&2
    return 1
}

worst=77
for part in "${parts[@]}"; do
    status=0
    "$part" || status=$?
    case $status in
    0) [ "$worst" = 77 ] && worst=0 ;;
    77) ;;
    *) worst=1 ;;
    esac
done
exit "$worst"
