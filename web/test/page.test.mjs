// The page's own logic without a browser: reading what the user pastes,
// reading the engine's reports, and the static server's answers.
//   node web/test/page.test.mjs
import { test } from "node:test";
import assert from "node:assert/strict";
import { mkdirSync, mkdtempSync, rmSync, symlinkSync, writeFileSync } from "node:fs";
import { request } from "node:http";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { readGameText } from "../src/gameText.js";
import { formatScore, parseInfo, pvToSan, whiteScore } from "../src/uci.js";
import { startServer } from "../serve.mjs";

test("scores are shown from White's side", () => {
    const info = parseInfo("info depth 14 seldepth 25 multipv 1 score cp -31 upperbound nodes 2548015 nps 1252095 time 2035 pv d2d4 d7d5");
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
    assert.deepEqual(readGameText(`  ${start}\n`), { ok: true, startFen: start, moves: [] });
    // Without its move counters (as in EPD).
    assert.equal(readGameText("4k3/8/8/8/8/8/8/4K2R w K -").startFen, "4k3/8/8/8/8/8/8/4K2R w K - 0 1");
    const game = readGameText("1. e4 e5 2. Nf3 Nc6 3. Bb5 a6 *");
    assert.equal(game.startFen, start);
    assert.deepEqual(game.moves.map((m) => m.san), ["e4", "e5", "Nf3", "Nc6", "Bb5", "a6"]);
    const setUp = readGameText('[SetUp "1"]\n[FEN "4k3/8/8/8/8/8/8/4K2R w K - 0 1"]\n\n1. O-O Kd7 *');
    assert.equal(setUp.startFen, "4k3/8/8/8/8/8/8/4K2R w K - 0 1");
    assert.deepEqual(setUp.moves.map((m) => m.san), ["O-O", "Kd7"]);

    for (const [text, message] of [
        ["", /Paste a FEN or a PGN/],
        ["   \n ", /Paste a FEN or a PGN/],
        ["rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNX w KQkq - 0 1", /FEN cannot be read: .*invalid piece/],
        ["8/8/8/8/8/8/8/8 w - - 0 1", /FEN cannot be read: missing white king/],
        ["rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR x KQkq - 0 1", /FEN cannot be read/],
        ["4k2R/8/8/8/8/8/8/4K3 w - - 0 1", /side not to move is in check/],
        ["1. e4 e5 2. Kxe8", /PGN cannot be read: .*Kxe8/],
        ["hello world", /PGN cannot be read/],
        ['[FEN "4k2R/8/8/8/8/8/8/4K3 w - - 0 1"]\n[SetUp "1"]\n\n1. Kd2 *', /PGN cannot be read|cannot be used/],
    ])
        assert.match(readGameText(text).error ?? "accepted", message, JSON.stringify(text));
});

function get(port, path) {
    return new Promise((resolve, reject) => {
        const req = request({ host: "127.0.0.1", port, path, method: "GET" }, (res) => {
            let body = "";
            res.on("data", (c) => (body += c));
            res.on("end", () => resolve({ status: res.statusCode, headers: res.headers, body }));
        });
        req.on("error", reject);
        req.end();
    });
}

test("the server sends the isolation headers and nothing outside its folder", async () => {
    const top = mkdtempSync(join(tmpdir(), "tarnwick-serve-"));
    const root = join(top, "dist");
    mkdirSync(root);
    writeFileSync(join(root, "index.html"), "<p>page</p>");
    writeFileSync(join(root, "tarnwick.wasm"), "\0asm");
    writeFileSync(join(top, "secret.txt"), "secret");
    symlinkSync(join(top, "secret.txt"), join(root, "link.txt"));
    const server = await startServer({ root, port: 0 });
    const port = server.address().port;
    try {
        const page = await get(port, "/");
        assert.equal(page.status, 200);
        assert.equal(page.body, "<p>page</p>");
        assert.equal(page.headers["cross-origin-opener-policy"], "same-origin");
        assert.equal(page.headers["cross-origin-embedder-policy"], "require-corp");
        assert.equal((await get(port, "/tarnwick.wasm")).headers["content-type"], "application/wasm");
        for (const path of ["/../secret.txt", "/%2e%2e/secret.txt", "/..%2fsecret.txt", "/link.txt", "/missing.js", "/%E0%A4%A"]) {
            const answer = await get(port, path);
            assert.equal(answer.status, 404, path);
            assert.ok(!answer.body.includes("secret"), path);
        }
    } finally {
        server.close();
        rmSync(top, { recursive: true, force: true });
    }
});
