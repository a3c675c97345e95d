#!/usr/bin/env bash
# Build the page: the npm packages it needs (npm ci, skipped when
# node_modules already matches package-lock.json), the engine as WebAssembly
# (web/wasm.mk, with Debian's em++), and the files to serve, all into one
# folder.
#   web/build.sh [OUT]        OUT: web/dist by default
set -euo pipefail
web=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$web")
out=${1:-$web/dist}
mkdir -p "$out"
out=$(cd "$out" && pwd)

# Debian's em++ runs its JavaScript optimizer with node, which finds Debian's
# node packages (acorn) only when told where they are.
if [ -d /usr/share/nodejs ]; then
    export NODE_PATH="/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}"
fi

# The pinned packages, installed afresh whenever package-lock.json changed
# since the last install (a copy of it is kept in node_modules).
stamp="$web/node_modules/.installed-lock.json"
if ! cmp -s "$web/package-lock.json" "$stamp" 2>/dev/null; then
    (cd "$web" && npm ci --no-audit --no-fund --loglevel=error)
    cp "$web/package-lock.json" "$stamp"
fi

# The engine.
make -C "$root" -f web/wasm.mk OUT="$out" -j"${JOBS:-2}" --no-print-directory

# The page, and what it takes from the packages.
cp "$web"/src/index.html "$web"/src/*.js "$web"/src/*.css "$web"/src/*.svg "$out"/
mkdir -p "$out/vendor/chess.js" "$out/vendor/cm-chessboard"
cp "$web/node_modules/chess.js/dist/esm/chess.js" "$web/node_modules/chess.js/LICENSE" "$out/vendor/chess.js/"
rm -rf "$out/vendor/cm-chessboard"
mkdir -p "$out/vendor/cm-chessboard/assets/extensions/arrows"
cp -r "$web/node_modules/cm-chessboard/src" "$web/node_modules/cm-chessboard/LICENSE" "$out/vendor/cm-chessboard/"
cp "$web/node_modules/cm-chessboard/assets/chessboard.css" "$out/vendor/cm-chessboard/assets/"
cp "$web/node_modules/cm-chessboard/assets/extensions/arrows/arrows.css" \
   "$web/node_modules/cm-chessboard/assets/extensions/arrows/arrows.svg" \
   "$out/vendor/cm-chessboard/assets/extensions/arrows/"
echo "built $out"
