#!/usr/bin/env bash
# The processor check of the x86-64 programs on processors that lack their
# instructions, emulated by qemu-x86_64: tarnwick-bmi on a Westmere (POPCNT,
# no BMI1, BMI2 or AVX2) and tarnwick on a Core 2 (no POPCNT) print the one
# line that names the program to use, on the error output, and end with
# status 1 before any of their own code runs (no banner); tarnwick-nop runs
# on the Core 2, and tarnwick-bmi on qemu's fullest processor.
#   cpu_check_program_test.sh native <dir of the programs>
#   cpu_check_program_test.sh wine <dir of the .exe programs> <Wine's wine64 loader>
# The Windows programs run in Wine's loader, emulated as a whole (Wine would
# start itself again natively unless WINELOADERNOEXEC is set); WINEPREFIX
# names a prepared prefix.
set -u
mode=$1 dir=$2 loader=${3:-}
fail() { echo "FAILED: $*"; exit 1; }
command -v qemu-x86_64 >/dev/null 2>&1 || fail "qemu-x86_64 is not installed (Debian package qemu-user)"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

case $mode in
native) suffix= ;;
wine)
    suffix=.exe
    [ -x "$loader" ] || fail "no Wine loader $loader (Debian package wine64)"
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINELOADERNOEXEC=1
    unset DISPLAY WAYLAND_DISPLAY
    : "${WINEPREFIX:?WINEPREFIX must name the prepared prefix}"
    ;;
*) fail "unknown mode $mode" ;;
esac

# on <cpu> <program> <arguments...>: the program run on that processor;
# standard output to $tmp/out, the error output to $tmp/err, the status in $status.
on() {
    local cpu=$1 program=$dir/$2$suffix
    shift 2
    [ -f "$program" ] || fail "no program $program"
    if [ "$mode" = wine ]; then
        timeout 300 qemu-x86_64 -cpu "$cpu" "$loader" "$program" "$@" </dev/null >"$tmp/out" 2>"$tmp/err"
    else
        timeout 300 qemu-x86_64 -cpu "$cpu" "$program" "$@" </dev/null >"$tmp/out" 2>"$tmp/err"
    fi
    status=$?
    tr -d '\r' <"$tmp/out" >"$tmp/out.txt"
    # qemu's own warnings about features it cannot emulate are not the program's.
    tr -d '\r' <"$tmp/err" | grep -v '^qemu-x86_64: warning' >"$tmp/err.txt"
}

refused() {
    local cpu=$1 program=$2 message=$3
    on "$cpu" "$program" uci
    [ "$status" = 1 ] || fail "$program on $cpu: status $status, not 1"
    [ "$(cat "$tmp/err.txt")" = "$message" ] || fail "$program on $cpu says: $(cat "$tmp/err.txt")"
    [ ! -s "$tmp/out.txt" ] || fail "$program on $cpu started: $(head -n 3 "$tmp/out.txt")"
    echo "$program on $cpu: $message"
}
refused Westmere tarnwick-bmi "tarnwick-bmi: this CPU lacks BMI1, BMI2 and AVX2: use tarnwick or tarnwick-nop"
refused core2duo tarnwick "tarnwick: this CPU lacks POPCNT: use tarnwick-nop"

runs() {
    local cpu=$1 program=$2
    on "$cpu" "$program" bench 3
    [ "$status" = 0 ] && grep -q '^Bench: ' "$tmp/out.txt" ||
        fail "$program on $cpu: status $status, $(cat "$tmp/err.txt" "$tmp/out.txt" | tail -n 3)"
    echo "$program on $cpu: $(grep '^Bench: ' "$tmp/out.txt")"
}
runs core2duo tarnwick-nop
runs max tarnwick-bmi
echo "PASSED: the processor check of the $mode programs"
