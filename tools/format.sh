#!/usr/bin/env bash
# Lays out the C++ sources (src/, tests/, bench/) by the root .clang-format.
#   tools/format.sh            formats every file in place
#   tools/format.sh --check    changes nothing: prints where a file departs
#                              from the layout and exits 1 if any does
# The layout is that of clang-format 14 (Debian 12's package clang-format);
# other versions break some lines differently, so --check runs only with 14
# and otherwise exits 77, the code by which CTest counts a test as skipped,
# as it does when clang-format is missing.  CLANG_FORMAT names the program
# to use instead.
set -euo pipefail
cd "$(dirname "$0")/.."
check=false
case ${1:-} in
--check) check=true ;;
"") ;;
*) echo "usage: $0 [--check]" >&2; exit 2 ;;
esac

find_clang_format() {
    local p
    for p in ${CLANG_FORMAT:-} clang-format-14 clang-format; do
        command -v "$p" >/dev/null 2>&1 && { echo "$p"; return 0; }
    done
    return 1
}
if ! program=$(find_clang_format); then
    echo "clang-format is missing (Debian package clang-format)" >&2
    exit 77
fi
version=$("$program" --version | sed -n 's/.*version \([0-9][0-9]*\)\..*/\1/p')
if [ "${version:-0}" -lt 14 ]; then
    echo "$program is version ${version:-unknown}; the layout needs clang-format 14" >&2
    exit 77
fi
if $check && [ "$version" != 14 ]; then
    echo "$program is version $version; the layout is checked with clang-format 14 only" >&2
    exit 77
fi

mapfile -t files < <(find src tests bench -type f \( -name '*.cpp' -o -name '*.h' \) | LC_ALL=C sort)
if ! $check; then
    printf '%s\0' "${files[@]}" | xargs -0 -n 16 -P 2 "$program" -i --style=file
    exit 0
fi

# Each departure is reported as "file:line:col: error: code should be
# clang-formatted" with the line; the files are listed at the end.
report=$(mktemp)
trap 'rm -f "$report"' EXIT
status=0
printf '%s\0' "${files[@]}" | xargs -0 -n 16 -P 2 "$program" --dry-run -Werror --style=file 2>"$report" || status=$?
if [ "$status" -eq 0 ] && ! [ -s "$report" ]; then
    echo "${#files[@]} files laid out as .clang-format says"
    exit 0
fi
head -n 200 "$report" >&2
[ "$(wc -l <"$report")" -gt 200 ] && echo "... (more)" >&2
echo >&2
echo "Not laid out as .clang-format says (tools/format.sh mends them):" >&2
grep -o '^[^:]*\.\(cpp\|h\):[0-9]*:[0-9]*: error' "$report" | cut -d: -f1 | sort | uniq -c >&2
exit 1
