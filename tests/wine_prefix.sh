#!/usr/bin/env bash
# The Wine prefix that the tests of the Windows programs share, in the build
# directory (CTest fixture).
#   wine_prefix.sh setup     create the prefix when it is missing, then start
#                            a wine server that outlives the single runs
#   wine_prefix.sh cleanup   stop the server and the prefix's programs
# WINEPREFIX names the prefix.  The first run on a machine creates it (about
# ten seconds); the Mono and Gecko installers, which would ask for a download,
# are turned off by WINEDLLOVERRIDES, and no window is opened.
set -u
: "${WINEPREFIX:?WINEPREFIX must name the prefix}"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
fail() { echo "FAILED: $*"; exit 1; }
for tool in wine wineserver wineboot; do
    command -v "$tool" >/dev/null 2>&1 || fail "$tool is not installed (Debian packages wine and wine64)"
done

case ${1:-} in
setup)
    # The server started here, with its output going nowhere, serves every
    # run of the tests.  A server that a test's own run started would hand
    # its output pipe down to the prefix's background programs, and CTest
    # would wait for them.
    mkdir -p "$WINEPREFIX" || fail "cannot make $WINEPREFIX"
    wineserver -k >/dev/null 2>&1
    wineserver -p900 </dev/null >/dev/null 2>&1 || fail "wineserver does not start"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        timeout 300 wineboot --init </dev/null >"$WINEPREFIX.log" 2>&1 || { cat "$WINEPREFIX.log"; fail "wineboot --init"; }
    fi
    timeout 120 wine cmd /c exit </dev/null >/dev/null 2>&1 || fail "wine does not run in $WINEPREFIX"
    [ -d "$WINEPREFIX/drive_c/windows" ] || fail "no C: drive in $WINEPREFIX"
    echo "PASSED: Wine prefix $WINEPREFIX ready ($(wine --version 2>/dev/null))"
    ;;
cleanup)
    wineserver -k >/dev/null 2>&1
    echo "PASSED: wine server of $WINEPREFIX stopped"
    ;;
*)
    fail "usage: wine_prefix.sh setup|cleanup"
    ;;
esac
