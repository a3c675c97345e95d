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

# The engines, with their objects beside OUT (OUT.obj), never in it: OUT
# holds only what is served.  (Older builds left them in OUT/.obj.)
rm -rf "$out/.obj"
make -C "$root" -f web/wasm.mk OUT="$out" OBJDIR="$out.obj" -j"${JOBS:-2}" --no-print-directory

# The page, and what it takes from the packages.
cp "$web"/src/index.html "$web"/src/*.js "$web"/src/*.css "$web"/src/*.svg "$web"/src/*.png \
   "$web"/src/manifest.webmanifest "$out"/
mkdir -p "$out/vendor/chess.js" "$out/vendor/cm-chessboard"
cp "$web/node_modules/chess.js/dist/esm/chess.js" "$web/node_modules/chess.js/LICENSE" "$out/vendor/chess.js/"
rm -rf "$out/vendor/cm-chessboard"
mkdir -p "$out/vendor/cm-chessboard/assets/extensions/arrows"
cp -r "$web/node_modules/cm-chessboard/src" "$web/node_modules/cm-chessboard/LICENSE" "$out/vendor/cm-chessboard/"
cp "$web/node_modules/cm-chessboard/assets/chessboard.css" "$out/vendor/cm-chessboard/assets/"
cp "$web/node_modules/cm-chessboard/assets/extensions/arrows/arrows.css" \
   "$web/node_modules/cm-chessboard/assets/extensions/arrows/arrows.svg" \
   "$out/vendor/cm-chessboard/assets/extensions/arrows/"

# The service worker gets the list of the page's files and a name for this
# build (a hash of them all), so that a new build replaces the cache.
node --input-type=module - "$out" <<'EOF_NODE'
import { createHash } from "node:crypto";
import { readdirSync, readFileSync, writeFileSync } from "node:fs";
import { join, relative } from "node:path";
const out = process.argv[2];
const files = [];
const walk = (dir) => {
    for (const e of readdirSync(dir, { withFileTypes: true })) {
        if (e.name.startsWith(".")) continue;
        const path = join(dir, e.name);
        if (e.isDirectory()) walk(path);
        else if (path !== join(out, "sw.js") && !e.name.startsWith("LICENSE")) files.push(relative(out, path));
    }
};
walk(out);
files.sort();
const hash = createHash("sha256");
for (const f of files) hash.update(f).update(readFileSync(join(out, f)));
const worker = readFileSync(join(out, "sw.js"), "utf8")
    .replace("__BUILD__", hash.digest("hex").slice(0, 16))
    .replace("__FILES__", JSON.stringify(["./", ...files.filter((f) => f !== "index.html").map((f) => "./" + f)]));
writeFileSync(join(out, "sw.js"), worker);
EOF_NODE
echo "built $out"
