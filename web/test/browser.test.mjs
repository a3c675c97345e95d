// The page and the engine in a real browser: Debian's chromium, driven by
// playwright-core, on the built page served by web/serve.mjs.
//   node web/test/browser.test.mjs --dist DIR --native PROGRAM --out DIR
// DIR is a folder built by web/build.sh; PROGRAM the native tarnwick-nop,
// whose bench the browser's must equal; the screenshots go to --out.
import { after, before, test } from "node:test";
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import { mkdirSync, mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join, resolve } from "node:path";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";
import { Chess } from "chess.js";
import { startServer } from "../serve.mjs";

const web = fileURLToPath(new URL("..", import.meta.url));
const option = (name, fallback) => {
    const i = process.argv.indexOf(`--${name}`);
    return i > 0 && i + 1 < process.argv.length ? process.argv[i + 1] : fallback;
};
const dist = resolve(option("dist", join(web, "dist")));
const native = option("native", process.env.TARNWICK_NOP_BIN);
const out = resolve(option("out", join(tmpdir(), "tarnwick-browser-test")));
const browserPath = process.env.CHROMIUM || "/usr/bin/chromium";
mkdirSync(out, { recursive: true });

// Chromium as the closed network here needs it: no sandbox (root), no GPU,
// nothing fetched in the background, a fresh profile.
const CHROMIUM_ARGS = [
    "--headless",
    "--no-sandbox",
    "--disable-gpu",
    "--disable-quic",
    "--no-first-run",
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-sync",
];

let server, context, page, profile, url;
const problems = []; // console errors, page errors, failed requests

before(async () => {
    server = await startServer({ root: dist, port: 0 });
    url = `http://127.0.0.1:${server.address().port}/`;
    profile = mkdtempSync(join(tmpdir(), "tarnwick-chromium-"));
    context = await chromium.launchPersistentContext(profile, {
        executablePath: browserPath,
        headless: true,
        args: CHROMIUM_ARGS,
        viewport: { width: 1120, height: 800 },
    });
    page = context.pages()[0] || (await context.newPage());
    page.on("console", (m) => m.type() === "error" && problems.push(`console: ${m.text()}`));
    page.on("pageerror", (e) => problems.push(`page error: ${e.message}`));
    page.on("response", (r) => r.status() >= 400 && problems.push(`HTTP ${r.status()} for ${r.url()}`));
    page.on("requestfailed", (r) => problems.push(`request failed: ${r.url()}`));
});

after(async () => {
    if (page && !page.isClosed()) await page.screenshot({ path: join(out, "last.png") }).catch(() => {});
    await context?.close();
    server?.close();
    if (profile) rmSync(profile, { recursive: true, force: true, maxRetries: 5 });
});

// Send lines through the page's engine and collect what it prints until a
// line matches `until` (a regular expression's source).
function dialogue(lines, until, timeoutMs) {
    return page.evaluate(
        async ({ lines, until, timeoutMs }) => {
            const engine = window.tarnwick.engine;
            const seen = [];
            const stop = engine.onLine((line) => seen.push(line));
            const done = engine.waitFor((line) => new RegExp(until).test(line), timeoutMs);
            for (const line of lines) engine.send(line);
            try {
                await done;
            } finally {
                stop();
            }
            return seen;
        },
        { lines, until, timeoutMs },
    );
}

function runNativeBench() {
    return new Promise((resolvePromise, reject) => {
        const child = spawn(native, ["bench"], { stdio: ["ignore", "pipe", "inherit"] });
        let text = "";
        child.stdout.on("data", (chunk) => (text += chunk));
        child.on("error", reject);
        child.on("close", (code) => (code === 0 ? resolvePromise(text.split("\n")) : reject(new Error(`native bench exited ${code}`))));
    });
}

const benchLines = (lines) => lines.filter((l) => /^bench position /.test(l)).map((l) => l.replace(/ time \d+/, ""));
const signature = (lines) => lines.find((l) => l.startsWith("Bench: "));

test("the page loads without errors, cross-origin isolated, and the worker answers uciok and readyok", async () => {
    await page.goto(url);
    await page.waitForFunction(() => /ready$/.test(document.getElementById("engine-state").textContent), null, { timeout: 30000 });
    assert.equal(await page.evaluate(() => window.crossOriginIsolated), true);
    const lines = await dialogue(["uci"], "^uciok$", 10000);
    assert.ok(lines.includes("id name Tarnwick 2.3 WASM"), lines.join("\n"));
    assert.ok(lines.includes("option name Hash type spin default 32 min 1 max 262144"), lines.join("\n"));
    assert.deepEqual(await dialogue(["isready"], "^readyok$", 10000), ["readyok"]);
    // No tables in a page: the option says so and changes nothing.
    assert.deepEqual(await dialogue(["setoption name SyzygyPath value /tables", "isready"], "^readyok$", 10000), [
        "info string no tablebases in the browser build; SyzygyPath ignored",
        "readyok",
    ]);
    assert.deepEqual(problems, []);
});

test("bench in the browser gives the native program's nodes and best moves", { skip: !native && "no --native program" }, async () => {
    const nativeRun = runNativeBench();
    const web = await dialogue(["bench"], "^Bench: ", 150000);
    const nat = await nativeRun;
    assert.deepEqual(benchLines(web), benchLines(nat));
    assert.equal(benchLines(web).length, 42);
    const nodes = (line) => line.split(" ")[1];
    assert.equal(nodes(signature(web)), nodes(signature(nat)));
    console.log(`browser: ${signature(web)}\nnative:  ${signature(nat)}`);
});

test("with two threads and a 256 MB table (the memory grows meanwhile) the engine still searches and reports", async () => {
    const setUp = await dialogue(["setoption name Threads value 2", "setoption name Hash value 256", "isready"], "^readyok$", 30000);
    assert.ok(setUp.includes("info string Number of threads set to : 2"), setUp.join("\n"));
    assert.ok(setUp.includes("info string Size of Hashtable set to : 256"), setUp.join("\n"));
    assert.ok(!setUp.some((l) => /not enough memory/.test(l)), setUp.join("\n"));
    const search = await dialogue(["position startpos moves e2e4", "go depth 13"], "^bestmove", 60000);
    assert.ok(search.some((l) => / depth 13 .* pv [a-h][1-8]/.test(l)), search.join("\n"));
    assert.match(search[search.length - 1], /^bestmove [a-h][1-8][a-h][1-8]/);
    await dialogue(["setoption name Hash value 32", "setoption name Threads value 1", "isready"], "^readyok$", 30000);
    assert.deepEqual(problems, []);
});

test("two moves played by clicking squares each get a legal reply within the set time", async () => {
    const moveTime = 1000;
    await page.selectOption("#play-colour", "w");
    await page.selectOption("#play-time", String(moveTime));
    await page.click("#new-game");
    await page.waitForFunction(() => document.getElementById("play-status").textContent === "Your move");
    const replies = [];
    for (const [from, to] of [["e2", "e4"], ["g1", "f3"]]) {
        const before = await page.locator("#moves .move").count();
        await page.click(`#board [data-square="${from}"]`);
        await page.click(`#board [data-square="${to}"]`);
        const t0 = Date.now();
        await page.waitForFunction((n) => document.querySelectorAll("#moves .move").length === n, before + 2, { timeout: moveTime + 5000 });
        replies.push(Date.now() - t0);
        await page.waitForFunction(() => document.getElementById("play-status").textContent === "Your move");
    }
    const sans = await page.locator("#moves .move").allTextContents();
    assert.equal(sans.length, 4);
    assert.equal(sans[0], "e4");
    assert.equal(sans[2], "Nf3");
    const game = new Chess();
    for (const san of sans) game.move(san); // throws on an illegal move
    assert.equal(await page.evaluate(() => window.tarnwick.state.game.fen()), game.fen());
    // The engine answers after its move time; the page adds little.
    for (const ms of replies) assert.ok(ms < moveTime + 1500, `reply after ${ms} ms`);
    const shot = join(out, "play.png");
    await page.waitForTimeout(400); // the reply's animation
    await page.screenshot({ path: shot });
    console.log(`replies after ${replies.join(" and ")} ms; screenshot of play: ${shot}`);
    assert.deepEqual(problems, []);
});

test("a PGN is stepped through; analysis shows the depth rising, answers isready meanwhile and ends on stop", async () => {
    await page.click("#mode-analyse");
    await page.fill("#game-text", '[Event "test"]\n\n1. d4 d5 2. c4 e6 3. Nc3 Nf6 4. Bg5 Be7 *');
    await page.click("#load-game");
    assert.equal(await page.textContent("#moves .move.current"), "Be7");
    for (let i = 0; i < 2; i++) await page.click("#nav-prev");
    assert.equal(await page.textContent("#moves .move.current"), "Nf6");
    const game = new Chess();
    for (const san of ["d4", "d5", "c4", "e6", "Nc3", "Nf6"]) game.move(san);
    assert.equal(await page.evaluate(() => window.tarnwick.board.getPosition()), game.fen().split(" ")[0]);
    await page.click("#analyse-toggle");
    const depths = [];
    const t0 = Date.now();
    while (Date.now() - t0 < 30000) {
        const depth = parseInt(await page.textContent("#an-depth"), 10);
        if (depth && depth !== depths[depths.length - 1]) depths.push(depth);
        if (depths.length >= 3 && depths[depths.length - 1] >= 12) break;
        await page.waitForTimeout(100);
    }
    assert.ok(depths.length >= 3, `depths seen: ${depths}`);
    for (let i = 1; i < depths.length; i++) assert.ok(depths[i] > depths[i - 1], `depths seen: ${depths}`);
    // The search runs on while the engine answers.
    assert.equal(await page.evaluate(() => window.tarnwick.engine.searching), true);
    const t1 = Date.now();
    const answer = await dialogue(["isready"], "^readyok$", 5000);
    const readyMs = Date.now() - t1;
    assert.ok(!answer.some((line) => line.startsWith("bestmove")), answer.join("\n"));
    assert.ok(readyMs < 1000, `readyok after ${readyMs} ms`);
    assert.equal(await page.evaluate(() => window.tarnwick.engine.searching), true);
    const pv = await page.textContent("#an-pv");
    assert.match(pv, /^4\. [NBRQK]?[a-h]?[1-8]?x?[a-h][1-8]/);
    assert.equal(await page.evaluate(() => window.tarnwick.engine.sent.filter((l) => l.startsWith("position")).pop()),
        "position fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1 moves d2d4 d7d5 c2c4 e7e6 b1c3 g8f6");
    assert.match(await page.textContent("#an-score"), /^[+-]?\d+\.\d\d|^#-?\d+/);
    assert.ok((await page.locator("#board .arrow").count()) >= 1, "an arrow for the best move");
    const shot = join(out, "analyse.png");
    await page.screenshot({ path: shot });
    console.log(`depths seen: ${depths.join(" ")}; readyok during the search after ${readyMs} ms; screenshot of analysis: ${shot}`);

    await page.click("#analyse-toggle");
    await page.waitForFunction(() => /^Stopped at depth/.test(document.getElementById("analyse-status").textContent), null, { timeout: 5000 });
    assert.equal(await page.evaluate(() => window.tarnwick.engine.searching), false);
    const stopped = await page.textContent("#an-depth");
    await page.waitForTimeout(500);
    assert.equal(await page.textContent("#an-depth"), stopped);
    assert.deepEqual(problems, []);
});

test("a FEN or a PGN the page cannot read gets a message and never reaches the engine", async () => {
    for (const [text, message] of [
        ["rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNX w KQkq - 0 1", /This FEN cannot be read/],
        ["4k2R/8/8/8/8/8/8/4K3 w - - 0 1", /side not to move is in check/],
        ["1. e4 e5 2. Kxe8", /This PGN cannot be read/],
    ]) {
        // The position line of what the page shows before the bad text.
        const shown = () =>
            page.evaluate(() => {
                const { line, index } = window.tarnwick.state;
                const moves = line.moves.slice(0, index).map((m) => m.from + m.to + (m.promotion || ""));
                return `position fen ${line.startFen}` + (moves.length ? ` moves ${moves.join(" ")}` : "");
            });
        const lastPosition = await shown();
        const sent = await page.evaluate(() => window.tarnwick.engine.sent.slice());
        await page.fill("#game-text", text);
        await page.click("#load-game");
        await page.waitForSelector("#message:not([hidden])");
        assert.match(await page.textContent("#message"), message);
        // Analysing goes on from the last position read, never the bad one.
        await page.click("#analyse-toggle");
        await page.waitForTimeout(200);
        await page.click("#analyse-toggle");
        await page.waitForFunction(() => !window.tarnwick.engine.searching);
        const lines = await page.evaluate((n) => window.tarnwick.engine.sent.slice(n), sent.length);
        const positions = lines.filter((l) => l.startsWith("position "));
        assert.ok(positions.length > 0 && positions.every((l) => l === lastPosition), lines.join("\n"));
        assert.equal(await shown(), lastPosition);
    }
    const shot = join(out, "bad-fen.png");
    await page.fill("#game-text", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNX w KQkq - 0 1");
    await page.click("#load-game");
    await page.screenshot({ path: shot });
    console.log(`screenshot of the message: ${shot}`);
    assert.deepEqual(problems, []);
});
