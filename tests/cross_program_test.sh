#!/usr/bin/env bash
# A program built for another system, run under Wine (Windows) or qemu-user
# (ARM64 Linux), against the native program of the same build: the same
# "uci" reply, the same bench (every position's nodes and best move, and the
# signature), the perft regression file found beside the program, the same
# root moves and scores from the tablebases with SyzygyPath written the
# system's way, and a dialogue with CR LF line ends.
#   cross_program_test.sh wine|qemu-aarch64 <program> <native program> <source dir> [shared table dirs]
# The shared table directories are separated by ':'; the first that holds the
# five-man tables is used.
# Under Wine, WINEPREFIX names a prepared prefix (wine_prefix.sh setup).
set -u
runner=$1 program=$2 native=$3 src=$4 shared=
IFS=: read -r -a shared_dirs <<<"${5:-}"
for dir in "${shared_dirs[@]}"; do
    if [ -r "$dir/KRPvKR.rtbw" ]; then shared=$(cd "$dir" && pwd); break; fi
done
fail() { echo "FAILED: $*"; exit 1; }
[ -f "$program" ] || fail "no program $program"

case $runner in
wine)
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY WAYLAND_DISPLAY
    : "${WINEPREFIX:?WINEPREFIX must name the prepared prefix}"
    command -v wine >/dev/null 2>&1 || fail "wine is not installed (Debian packages wine and wine64)"
    run() { wine "$@"; }
    # A path as a Windows program sees it (Z: is the root of the file system).
    system_path() { winepath -w "$1" 2>/dev/null; }
    separator=';'
    # The scratch files, and the working directory of the runs, on drive C:
    # (the prefix's drive_c), so that a path into the source tree must name
    # its drive.
    tmp=$(mktemp -d -p "$WINEPREFIX/drive_c") || fail "no scratch directory in $WINEPREFIX"
    ;;
qemu-aarch64)
    command -v qemu-aarch64 >/dev/null 2>&1 || fail "qemu-aarch64 is not installed (Debian package qemu-user)"
    run() { qemu-aarch64 "$@"; }
    system_path() { echo "$1"; }
    separator=':'
    tmp=$(mktemp -d)
    ;;
*) fail "unknown runner $runner" ;;
esac
trap 'rm -rf "$tmp"' EXIT
name=$(basename "$program")
# say <line>: a result, with the seconds its step took.
last=$SECONDS
say() { echo "$* ($((SECONDS - last)) s)"; last=$SECONDS; }

# Output without carriage returns: Windows programs end their lines with CR LF.
untimed() { tr -d '\r' | grep -E '^(bench position|Bench:)' | sed -E 's/ time [0-9]+//; s/ [0-9]+ nps$//'; }

# converse <end of line> <commands> <program...>: sends the commands one a
# line and, after "uci", "isready" and "go", waits for the answer ("uciok",
# "readyok", "bestmove") before the next one, as a GUI does; prints all the
# program said, without CRs.  The end of input ends the program.
converse() {
    local eol=$1 commands=$2 wait line
    shift 2
    coproc ENGINE { "$@" 2>&1; }
    local pid=$ENGINE_PID to from
    # Copies of the coprocess's pipes, kept open after it has ended.
    exec {to}>&"${ENGINE[1]}" {from}<&"${ENGINE[0]}"
    eval "exec ${ENGINE[1]}>&- ${ENGINE[0]}<&-"
    while IFS= read -r command; do
        printf '%s%s' "$command" "$eol" >&$to
        case $command in
        uci) wait=uciok ;;
        isready) wait=readyok ;;
        go*) wait=bestmove ;;
        *) continue ;;
        esac
        while :; do
            IFS= read -r -t 300 line <&$from || { echo "(no $wait within 300 s)"; break; }
            line=${line%$'\r'}
            echo "$line"
            [[ $line == "$wait"* ]] && break
        done
    done <<<"$commands"
    exec {to}>&-
    tr -d '\r' <&$from
    exec {from}<&-
    wait "$pid" 2>/dev/null
}

# 1. The reply to "uci": name, author and options.
run "$program" uci </dev/null | tr -d '\r' >"$tmp/uci.txt"
"$native" uci </dev/null >"$tmp/uci-native.txt"
grep -qx uciok "$tmp/uci.txt" || { cat "$tmp/uci.txt"; fail "no uciok"; }
diff "$tmp/uci-native.txt" "$tmp/uci.txt" || fail "the uci reply differs from $(basename "$native")'s"
say "uci:     $(grep '^id name' "$tmp/uci.txt")"

# 2. bench: the same search, position by position.
run "$program" bench </dev/null | untimed >"$tmp/bench.txt"
"$native" bench </dev/null | untimed >"$tmp/bench-native.txt"
[ "$(grep -c '^bench position' "$tmp/bench.txt")" -gt 0 ] || fail "no bench positions"
diff "$tmp/bench-native.txt" "$tmp/bench.txt" || fail "bench differs from $(basename "$native")'s"
say "bench:   $(tail -n 1 "$tmp/bench.txt"), $(grep -c '^bench position' "$tmp/bench.txt") positions as native"

# 3. rtest, started from another directory: the regression file is found
# beside the program, through the program's own path (a program built for
# another system knows no place in the source tree).
mkdir -p "$tmp/bin" "$tmp/elsewhere"
cp "$program" "$tmp/bin/" && cp "$src/data/perft.txt" "$tmp/bin/"
records=$(grep -c ';' "$src/data/perft.txt")
(cd "$tmp/elsewhere" && run "../bin/$name" rtest </dev/null) | tr -d '\r' >"$tmp/rtest.txt"
grep -qx 'Results of the perft checks is OK: 1' "$tmp/rtest.txt" || { cat "$tmp/rtest.txt"; fail "rtest"; }
[ "$(grep -c '^1; ' "$tmp/rtest.txt")" = "$records" ] || { cat "$tmp/rtest.txt"; fail "rtest did not check the $records records"; }
say "rtest:   OK, $records records of the file beside the program"

# 4. Tablebases.  The first entry of SyzygyPath is a directory holding
# directories named like table files: they are passed over and the tables
# come from the next entries (absolute paths, as the system writes them).
mkdir -p "$tmp/elsewhere/decoy/KQvK.rtbw" "$tmp/elsewhere/decoy/KQvK.rtbz" "$tmp/elsewhere/decoy/KQvKQ.rtbw"
native_path=$src/data/syzygy
path="decoy$separator$(system_path "$src/data/syzygy")"
positions=("8/8/8/8/8/2k5/8/KQ6 w - - 0 1" "8/5k2/8/8/2KQ4/8/8/q7 w - - 0 1")
if [ -n "$shared" ]; then
    native_path+=":$shared"
    path+="$separator$(system_path "$shared")"
    positions+=("8/8/4k3/8/3KP3/8/1R6/5r2 w - - 0 1")
else
    echo "tables:  no shared five-man tables; the repository's only"
fi
# The root move and score of a search: "<bestmove> <last score> <tbhits>".
root() { awk '/^info.* score / { s = $0; sub(/.* score /, "", s); sub(/ depth .*/, "", s); t = / tbhits [1-9]/ }
              /^bestmove/ { print $2, s, (t ? "tables" : "search") }'; }
for fen in "${positions[@]}"; do
    commands=$(printf '%s\n' "setoption name SyzygyPath value $path" isready "position fen $fen" "go depth 5")
    native_commands=$(printf '%s\n' "setoption name SyzygyPath value $native_path" isready "position fen $fen" "go depth 5")
    got=$(cd "$tmp/elsewhere" && converse $'\n' "$commands" run "../bin/$name" | root)
    want=$(converse $'\n' "$native_commands" "$native" | root)
    [[ $want == *tables ]] || fail "the native program did not answer $fen from the tables: $want"
    [ "$got" = "$want" ] || fail "$fen: $got, native $want (SyzygyPath $path)"
    say "tables:  $fen: $got"
done

# 5. A dialogue with CR LF line ends, as Windows GUIs write them.
commands=$(printf '%s\n' uci "setoption name Hash value 32" isready ucinewgame "position startpos moves e2e4 e7e5" "go depth 6" isready)
got=$(converse $'\r\n' "$commands" run "$program")
want=$(converse $'\n' "$commands" "$native")
# Everything but the info lines (which carry times) as the native program
# says it to the same commands with LF line ends.
grep -qx uciok <<<"$got" && grep -q '^bestmove ' <<<"$got" || { echo "$got"; fail "no uciok or bestmove to CR LF input"; }
diff <(grep -v '^info' <<<"$want") <(grep -v '^info' <<<"$got") || fail "the CR LF dialogue differs from the native one"
say "CR LF:   $(grep -c . <<<"$got") lines as native, $(grep '^bestmove' <<<"$got")"

# 6. Windows: a large table is made, waited for and cleared for a new game
# without a stall.  (A clear used to write zeros over the whole table on one
# thread, which under Wine faulted in 2 GB page by page for 10 s and more.)
if [ "$runner" = wine ]; then
    coproc BIG { run "$program" 2>&1; }
    big_pid=$BIG_PID
    exec {big_to}>&"${BIG[1]}" {big_from}<&"${BIG[0]}"
    # ready_ms <line...>: milliseconds from sending the lines and "isready"
    # to "readyok".
    ready_ms() {
        local start line
        start=$(date +%s%N)
        printf '%s\r\n' "$@" isready >&$big_to
        while IFS= read -r -t 120 line <&$big_from; do
            [ "${line%$'\r'}" = readyok ] && { echo $((($(date +%s%N) - start) / 1000000)); return; }
        done
        echo 999999
    }
    made=$(ready_ms "setoption name Hash value 2048")
    cleared=$(ready_ms ucinewgame)
    printf 'quit\r\n' >&$big_to
    exec {big_to}>&- {big_from}<&-
    wait "$big_pid" 2>/dev/null
    [ "$cleared" -lt 3000 ] || fail "readyok after ucinewgame with a 2 GB table took $cleared ms"
    say "hash:    2048 MB ready in $made ms, again after ucinewgame in $cleared ms"
fi

echo "PASSED: $name under $runner ($SECONDS s)"
