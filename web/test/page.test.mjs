// The page's own logic without a browser: reading what the user pastes,
// the tree of moves and its PGN, the review's marks, reading the engine's
// reports, and the static server's answers.
//   node web/test/page.test.mjs
import { test } from "node:test";
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import {
    chmodSync,
    chownSync,
    copyFileSync,
    mkdirSync,
    mkdtempSync,
    rmSync,
    symlinkSync,
    writeFileSync,
} from "node:fs";
import { request } from "node:http";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { fileURLToPath } from "node:url";
import { deleteNode, mainLine, makeMainLine, movetext, playAt, readGameText, writePgn } from "../src/gameText.js";
import { classifyMove } from "../src/review.js";
import { formatScore, parseInfo, pvToSan, whiteScore } from "../src/uci.js";
import { readArguments, startServer } from "../serve.mjs";

test("scores are shown from White's side", () => {
    const info = parseInfo(
        "info depth 14 seldepth 25 multipv 1 score cp -31 upperbound nodes 2548015 nps 1252095 time 2035 pv d2d4 d7d5",
    );
    assert.equal(info.depth, 14);
    assert.equal(info.bound, "upperbound");
    assert.deepEqual(info.pv, ["d2d4", "d7d5"]);
    assert.equal(formatScore(whiteScore(info, "w")), "-0.31");
    assert.equal(formatScore(whiteScore(info, "b")), "+0.31");
    assert.equal(formatScore(whiteScore(parseInfo("info depth 9 score mate 3 pv h5f7"), "b")), "#-3");
    assert.equal(formatScore(whiteScore(parseInfo("info depth 9 score mate -2 pv g1h1"), "b")), "#2");
    assert.equal(formatScore(whiteScore(parseInfo("info depth 1 score cp 0 pv e2e4"), "b")), "0.00");
    // Lines that are no search report.
    assert.equal(parseInfo("info string Number of threads set to : 2"), null);
    assert.equal(parseInfo("info currmove e2e4 currmovenumber 1"), null);
    assert.equal(parseInfo("bestmove e2e4"), null);
});

test("a principal variation is numbered from its position and ends before an illegal move", () => {
    const italian = "r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3";
    assert.equal(pvToSan(italian, ["f1b5", "a7a6", "b5c6", "d7c6", "e1g1"]), "3. Bb5 a6 4. Bxc6 dxc6 5. O-O");
    assert.equal(pvToSan(italian.replace(" w ", " b "), ["g8f6", "b1c3"]), "3... Nf6 4. Nc3");
    assert.equal(pvToSan(italian, ["f1b5", "e1g1"]), "3. Bb5");
    assert.equal(pvToSan("7k/P7/8/8/8/8/8/K7 w - - 0 1", ["a7a8q", "h8g7"]), "1. a8=Q+ Kg7");
    assert.equal(pvToSan(italian, ["nonsense"]), "");
});

test("pasted text: a FEN, a PGN, or a message", () => {
    const start = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
    const fen = readGameText(`  ${start}\n`);
    assert.equal(fen.startFen, start);
    assert.equal(fen.root.children.length, 0);
    // Without its move counters (as in EPD).
    assert.equal(readGameText("4k3/8/8/8/8/8/8/4K2R w K -").startFen, "4k3/8/8/8/8/8/8/4K2R w K - 0 1");
    const game = readGameText("1. e4 e5 2. Nf3 Nc6 3. Bb5 a6 *");
    assert.equal(game.startFen, start);
    assert.deepEqual(
        mainLine(game.root).map((m) => m.san),
        ["e4", "e5", "Nf3", "Nc6", "Bb5", "a6"],
    );
    const setUp = readGameText('[SetUp "1"]\n[FEN "4k3/8/8/8/8/8/8/4K2R w K - 0 1"]\n\n1. O-O Kd7 *');
    assert.equal(setUp.startFen, "4k3/8/8/8/8/8/8/4K2R w K - 0 1");
    assert.deepEqual(
        mainLine(setUp.root).map((m) => m.san),
        ["O-O", "Kd7"],
    );

    for (const [text, message] of [
        ["", /Paste a FEN or a PGN/],
        ["   \n ", /Paste a FEN or a PGN/],
        ["rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNX w KQkq - 0 1", /FEN cannot be read: .*invalid piece/],
        ["8/8/8/8/8/8/8/8 w - - 0 1", /FEN cannot be read: missing white king/],
        ["rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR x KQkq - 0 1", /FEN cannot be read/],
        ["4k2R/8/8/8/8/8/8/4K3 w - - 0 1", /side not to move is in check/],
        ["1. e4 e5 2. Kxe8", /PGN cannot be read: 2\. Kxe8 is not a legal move/],
        // Seven ranks: what is wrong with the FEN, not a PGN reader's message.
        ["rnbqkbnr/pppppppp/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", /FEN cannot be read: .*8 '\/'-delimited rows/],
        ["1. e4 (1. d4 e5", /'\(' without its '\)'/],
        ["hello world", /PGN cannot be read/],
        ['[FEN "4k2R/8/8/8/8/8/8/4K3 w - - 0 1"]\n[SetUp "1"]\n\n1. Kd2 *', /PGN cannot be read|cannot be used/],
    ])
        assert.match(readGameText(text).error ?? "accepted", message, JSON.stringify(text));
});

test("side lines: a move off the line keeps the main line; PGN out and in again gives the same tree", () => {
    const opera =
        "1. e4 e5 2. Nf3 d6 3. d4 Bg4 4. dxe5 Bxf3 5. Qxf3 dxe5 6. Bc4 Nf6 7. Qb3 Qe7 8. Nc3 c6 9. Bg5 b5 " +
        "10. Nxb5 cxb5 11. Bxb5+ Nbd7 12. O-O-O Rd8 13. Rxd7 Rxd7 14. Rd1 Qe6 15. Bxd7+ Nxd7 16. Qb8+ Nxb8 17. Rd8# 1-0";
    const { root } = readGameText(opera);
    const line = mainLine(root);
    assert.equal(line.length, 33);
    // Ply 10 (5... dxe5), then 6. Nc3 instead of 6. Bc4.
    const side = playAt(line[9], "Nc3");
    assert.equal(mainLine(root).length, 33);
    assert.deepEqual(
        line[9].children.map((n) => n.san),
        ["Bc4", "Nc3"],
    );
    assert.equal(playAt(line[9], { from: "f1", to: "c4" }), line[10], "the line's own move is followed");
    playAt(side, "Nf6");
    assert.match(movetext(root), /6\. Bc4 \(6\. Nc3 Nf6\) 6\.\.\. Nf6/);
    // Comments, side lines in side lines and annotation glyphs come back.
    line[0].comment = "the king's pawn";
    playAt(line[9], "Qd3");
    const pgn = writePgn(root, { White: "Morphy" });
    assert.match(pgn, /\[White "Morphy"\]/);
    const again = readGameText(pgn);
    assert.ok(again.ok, again.error);
    assert.equal(movetext(again.root), movetext(root));
    const nested = readGameText("1. e4 $1 {a} e5 (1... c5 2. Nf3 (2. c3 d5) d6 $2) (1... e6) 2. Nf3?! *");
    assert.equal(movetext(readGameText(writePgn(nested.root)).root), movetext(nested.root));
    assert.equal(
        movetext(nested.root),
        "1. e4 $1 {a} 1... e5 (1... c5 2. Nf3 (2. c3 d5) 2... d6 $2) (1... e6) 2. Nf3 $6",
    );
    // A side line made the main line, and deleted again.
    const c5 = nested.root.children[0].children[1];
    makeMainLine(c5.children[1].children[0]);
    assert.deepEqual(
        mainLine(nested.root).map((n) => n.san),
        ["e4", "c5", "c3", "d5"],
    );
    assert.equal(deleteNode(c5), nested.root.children[0]);
    assert.deepEqual(
        mainLine(nested.root).map((n) => n.san),
        ["e4", "e5", "Nf3"],
    );
    // A game from a set-up position with Black to move numbers its moves.
    const setUp = readGameText("4k3/8/8/8/8/8/8/4K2R b K - 0 1").root;
    playAt(playAt(setUp, "Kd7"), "O-O");
    assert.match(writePgn(setUp), /\[FEN "4k3\/8\/8\/8\/8\/8\/8\/4K2R b K - 0 1"\]\n\n1\.\.\. Kd7 2\. O-O \*/);
});

test("review marks: the drop of the mover's winning chances, 0.1, 0.2 and 0.3", () => {
    assert.equal(classifyMove({ cp: 30 }, { cp: 0 }, "w"), null);
    assert.equal(classifyMove({ cp: 0 }, { cp: -60 }, "w"), "inaccuracy");
    assert.equal(classifyMove({ cp: 0 }, { cp: -120 }, "w"), "mistake");
    assert.equal(classifyMove({ cp: 0 }, { cp: -200 }, "w"), "blunder");
    // Black's moves count from Black's side.
    assert.equal(classifyMove({ cp: 0 }, { cp: 200 }, "b"), "blunder");
    assert.equal(classifyMove({ cp: 0 }, { cp: -200 }, "b"), null);
    // Far ahead, a pawn more or less changes nothing; a mate let slip does.
    assert.equal(classifyMove({ cp: 900 }, { cp: 700 }, "w"), null);
    assert.equal(classifyMove({ mate: 2 }, { cp: 50 }, "w"), "blunder");
    assert.equal(classifyMove({ cp: 0 }, { mate: 0, winner: "b" }, "w"), "blunder");
});

function get(port, path, headers = {}) {
    return new Promise((resolve, reject) => {
        const req = request({ host: "127.0.0.1", port, path, method: "GET", headers }, (res) => {
            let body = "";
            res.on("data", (c) => (body += c));
            res.on("end", () => resolve({ status: res.statusCode, headers: res.headers, body }));
        });
        req.on("error", reject);
        req.end();
    });
}

// The server started by the program itself, as an ordinary user when the
// tests run as root (for whom no file is unreadable); its first line (or its
// error) and the process.
function serveProgram(args, asUser, program = fileURLToPath(new URL("../serve.mjs", import.meta.url))) {
    const options = { stdio: ["ignore", "pipe", "pipe"] };
    if (asUser) Object.assign(options, { uid: 65534, gid: 65534 });
    const child = spawn(process.execPath, [program, ...args], options);
    return new Promise((resolve) => {
        let out = "";
        const done = () => resolve({ child, out });
        child.stdout.on("data", (c) => {
            out += c;
            if (out.includes("\n")) done();
        });
        child.stderr.on("data", (c) => (out += c));
        child.on("close", (code) => {
            out += `exit ${code}`;
            done();
        });
    });
}

test("the server: isolation headers, nothing outside its folder or hidden, 304 for what did not change, 403 for what it cannot read", async () => {
    const top = mkdtempSync(join(tmpdir(), "tarnwick-serve-"));
    const root = join(top, "dist");
    mkdirSync(join(root, ".obj"), { recursive: true });
    writeFileSync(join(root, "index.html"), '<script type="importmap">{}</script><p>page</p>');
    writeFileSync(join(root, "tarnwick.wasm"), "\0asm");
    writeFileSync(join(root, ".obj", "app.o"), "object");
    writeFileSync(join(top, "secret.txt"), "secret");
    symlinkSync(join(top, "secret.txt"), join(root, "link.txt"));
    const server = await startServer({ root, port: 0 });
    const port = server.address().port;
    try {
        const page = await get(port, "/");
        assert.equal(page.status, 200);
        assert.equal(page.headers["cross-origin-opener-policy"], "same-origin");
        assert.equal(page.headers["cross-origin-embedder-policy"], "require-corp");
        assert.equal(page.headers["x-content-type-options"], "nosniff");
        // The page's import map is allowed by its hash; WebAssembly and workers from the page's own origin.
        assert.match(
            page.headers["content-security-policy"],
            /script-src 'self' 'wasm-unsafe-eval' 'sha256-[A-Za-z0-9+/=]+'/,
        );
        assert.match(page.headers["content-security-policy"], /worker-src 'self'/);
        assert.equal((await get(port, "/tarnwick.wasm")).headers["content-type"], "application/wasm");
        // A repeat request: 304 by ETag and by date, 200 when it changed.
        const wasm = await get(port, "/tarnwick.wasm");
        assert.equal((await get(port, "/tarnwick.wasm", { "If-None-Match": wasm.headers.etag })).status, 304);
        assert.equal(
            (await get(port, "/tarnwick.wasm", { "If-Modified-Since": wasm.headers["last-modified"] })).status,
            304,
        );
        assert.equal((await get(port, "/tarnwick.wasm", { "If-None-Match": '"other"' })).status, 200);
        for (const path of [
            "/../secret.txt",
            "/%2e%2e/secret.txt",
            "/..%2fsecret.txt",
            "/link.txt",
            "/missing.js",
            "/%E0%A4%A",
            "/.obj/app.o",
            "/.obj/",
        ]) {
            const answer = await get(port, path);
            assert.equal(answer.status, 404, path);
            assert.ok(!/secret|object/.test(answer.body), path);
        }
    } finally {
        server.close();
    }

    // A file the server may not read: 403, and the server goes on.
    writeFileSync(join(root, "locked.js"), "locked");
    chmodSync(join(root, "locked.js"), 0o000);
    // The ordinary user runs a copy of the server, where it may read it.
    const asRoot = process.getuid?.() === 0;
    copyFileSync(fileURLToPath(new URL("../serve.mjs", import.meta.url)), join(top, "serve.mjs"));
    if (asRoot)
        for (const path of [top, root, join(top, "serve.mjs"), join(root, "tarnwick.wasm")])
            chownSync(path, 65534, 65534);
    const { child, out } = await serveProgram([root, "--port", "0"], asRoot, join(top, "serve.mjs"));
    try {
        const port2 = Number(/:(\d+)\//.exec(out)?.[1]);
        assert.ok(port2 > 0, out);
        assert.equal((await get(port2, "/locked.js")).status, 403);
        assert.equal((await get(port2, "/tarnwick.wasm")).status, 200);
    } finally {
        child.kill();
        rmSync(top, { recursive: true, force: true });
    }
});

test("the server's command line: one-line messages for a missing folder and bad arguments", async () => {
    assert.deepEqual(readArguments(["--host"], "d"), { error: "--host needs a value" });
    assert.deepEqual(readArguments(["--port", "x"], "d"), { error: "--port needs a number from 0 to 65535" });
    assert.match(readArguments(["--verbose"], "d").error, /unknown option --verbose/);
    assert.deepEqual(readArguments(["f", "--port", "90", "--no-isolation"], "d"), {
        root: "f",
        port: 90,
        host: "127.0.0.1",
        isolation: false,
    });
    for (const [args, message] of [
        [
            ["/no/such/folder"],
            /^serve\.mjs: no folder \/no\/such\/folder \(build the page first: web\/build\.sh\)\nexit 1$/,
        ],
        [["--host"], /^serve\.mjs: --host needs a value\nexit 2$/],
    ]) {
        const { out } = await serveProgram(args, false);
        assert.match(out, message);
    }
});
