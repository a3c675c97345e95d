// The page and the engine in a real browser: Debian's chromium, driven by
// playwright-core, on the built page served by web/serve.mjs: with the
// isolation headers (the engine with threads) and without them, as a plain
// static host serves it (the single-thread engine).
//   node web/test/browser.test.mjs --dist DIR --native PROGRAM --out DIR
// DIR is a folder built by web/build.sh; PROGRAM the native tarnwick-nop,
// whose bench the browser's must equal; the screenshots go to --out.
import { after, before, test } from "node:test";
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import { mkdirSync, mkdtempSync, readdirSync, rmSync } from "node:fs";
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

let server, plainServer, context, page, profile, url, plainUrl;
const problems = []; // console errors, page errors, failed requests

before(async () => {
    server = await startServer({ root: dist, port: 0 });
    url = `http://127.0.0.1:${server.address().port}/`;
    plainServer = await startServer({ root: dist, port: 0, isolation: false });
    plainUrl = `http://127.0.0.1:${plainServer.address().port}/`;
    profile = mkdtempSync(join(tmpdir(), "tarnwick-chromium-"));
    context = await chromium.launchPersistentContext(profile, {
        executablePath: browserPath,
        headless: true,
        args: CHROMIUM_ARGS,
        viewport: { width: 1120, height: 800 },
    });
    page = context.pages()[0] || (await context.newPage());
    // Errors, and the board's warning about turns asked for while one runs.
    page.on(
        "console",
        (m) => (m.type() === "error" || /setOrientation/.test(m.text())) && problems.push(`console: ${m.text()}`),
    );
    page.on("pageerror", (e) => problems.push(`page error: ${e.message}`));
    page.on("response", (r) => r.status() >= 400 && problems.push(`HTTP ${r.status()} for ${r.url()}`));
    page.on("requestfailed", (r) => problems.push(`request failed: ${r.url()}`));
});

after(async () => {
    if (page && !page.isClosed()) await page.screenshot({ path: join(out, "last.png") }).catch(() => {});
    await context?.close();
    server?.close();
    plainServer?.close();
    if (profile) rmSync(profile, { recursive: true, force: true, maxRetries: 5 });
});

// Send lines through the page's engine and collect what it prints until a
// line matches `until` (a regular expression's source).
function dialogue(lines, until, timeoutMs, on = page) {
    return on.evaluate(
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
        child.on("close", (code) =>
            code === 0 ? resolvePromise(text.split("\n")) : reject(new Error(`native bench exited ${code}`)),
        );
    });
}

const benchLines = (lines) => lines.filter((l) => /^bench position /.test(l)).map((l) => l.replace(/ time \d+/, ""));
const signature = (lines) => lines.find((l) => l.startsWith("Bench: "));

test("the page loads without errors, cross-origin isolated, and the worker answers uciok and readyok", async () => {
    await page.goto(url);
    await page.waitForFunction(
        () => / ready · threads$/.test(document.getElementById("engine-state").textContent),
        null,
        { timeout: 30000 },
    );
    assert.equal(await page.evaluate(() => window.crossOriginIsolated), true);
    assert.equal(await page.isVisible("#engine-note"), false);
    // The build left only the page's files to serve: no objects, nothing hidden.
    const built = [];
    const walk = (dir, prefix) => {
        for (const e of readdirSync(dir, { withFileTypes: true })) {
            built.push(prefix + e.name);
            if (e.isDirectory()) walk(join(dir, e.name), `${prefix}${e.name}/`);
        }
    };
    walk(dist, "");
    assert.deepEqual(
        built.filter((f) => /(^|\/)\.|\.(o|d)$/.test(f)),
        [],
    );
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

// The page as a plain static host serves it: no isolation headers, the
// single-thread engine.
async function openPlainPage() {
    const plain = await context.newPage();
    plain.on("pageerror", (e) => problems.push(`page error (plain): ${e.message}`));
    plain.on("console", (m) => m.type() === "error" && problems.push(`console (plain): ${m.text()}`));
    await plain.goto(plainUrl);
    await plain.waitForFunction(
        () => / ready · one thread$/.test(document.getElementById("engine-state").textContent),
        null,
        { timeout: 30000 },
    );
    return plain;
}

test(
    "bench in the browser gives the native program's nodes and best moves, with threads and on one thread",
    { skip: !native && "no --native program" },
    async () => {
        const plain = await openPlainPage();
        const nativeRun = runNativeBench();
        const threaded = await dialogue(["bench"], "^Bench: ", 150000);
        const single = await dialogue(["bench"], "^Bench: ", 150000, plain);
        const nat = await nativeRun;
        assert.equal(benchLines(nat).length, 42);
        assert.deepEqual(benchLines(threaded), benchLines(nat));
        assert.deepEqual(benchLines(single), benchLines(nat));
        const nodes = (line) => line.split(" ")[1];
        assert.equal(nodes(signature(threaded)), nodes(signature(nat)));
        assert.equal(nodes(signature(single)), nodes(signature(nat)));
        console.log(`threads: ${signature(threaded)}\none thread: ${signature(single)}\nnative:  ${signature(nat)}`);
        await plain.close();
    },
);

test("with two threads and a 256 MB table (the memory grows meanwhile) the engine still searches and reports", async () => {
    const setUp = await dialogue(
        ["setoption name Threads value 2", "setoption name Hash value 256", "isready"],
        "^readyok$",
        30000,
    );
    assert.ok(setUp.includes("info string Number of threads set to : 2"), setUp.join("\n"));
    assert.ok(setUp.includes("info string Size of Hashtable set to : 256"), setUp.join("\n"));
    assert.ok(!setUp.some((l) => /not enough memory/.test(l)), setUp.join("\n"));
    const search = await dialogue(["position startpos moves e2e4", "go depth 13"], "^bestmove", 60000);
    assert.ok(
        search.some((l) => / depth 13 .* pv [a-h][1-8]/.test(l)),
        search.join("\n"),
    );
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
    for (const [from, to] of [
        ["e2", "e4"],
        ["g1", "f3"],
    ]) {
        const before = await page.locator("#moves .move").count();
        await page.click(`#board [data-square="${from}"]`);
        await page.click(`#board [data-square="${to}"]`);
        const t0 = Date.now();
        await page.waitForFunction((n) => document.querySelectorAll("#moves .move").length === n, before + 2, {
            timeout: moveTime + 5000,
        });
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

    // A reload keeps the game; a change of colour asks first (declined
    // here: the dialog is dismissed), and the game stays.
    await page.reload();
    await page.waitForFunction(() => / ready/.test(document.getElementById("engine-state").textContent));
    assert.deepEqual(await page.locator("#moves .move").allTextContents(), sans);
    let asked = "";
    page.once("dialog", (dialog) => {
        asked = dialog.message();
        dialog.dismiss();
    });
    await page.selectOption("#play-colour", "b");
    assert.match(asked, /new game as Black/);
    assert.equal(await page.inputValue("#play-colour"), "w");
    assert.equal(await page.locator("#moves .move").count(), 4);

    // A level limits the engine's search by nodes only.
    await page.selectOption("#play-level", "3");
    await page.click('#board [data-square="b1"]');
    await page.click('#board [data-square="c3"]');
    await page.waitForFunction(() => document.querySelectorAll("#moves .move").length === 6, null, { timeout: 10000 });
    const go = await page.evaluate(() => window.tarnwick.engine.sent.filter((l) => l.startsWith("go")).pop());
    assert.equal(go, "go nodes 800");

    // The game, still in progress, on the analysis board.
    await page.click("#analyse-game");
    await page.waitForSelector("#analyse-panel:not([hidden])");
    assert.deepEqual((await page.locator("#moves .move").allTextContents()).slice(0, 5), [...sans, "Nc3"]);
    assert.equal(
        await page.textContent("#moves .move.current"),
        (await page.locator("#moves .move").allTextContents())[5],
    );
    await page.click("#mode-play");
    await page.selectOption("#play-level", "0");
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
    assert.equal(
        await page.evaluate(() => window.tarnwick.engine.sent.filter((l) => l.startsWith("position")).pop()),
        "position fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1 moves d2d4 d7d5 c2c4 e7e6 b1c3 g8f6",
    );
    assert.match(await page.textContent("#an-score"), /^[+-]?\d+\.\d\d|^#-?\d+/);
    assert.ok((await page.locator("#board .arrow").count()) >= 1, "an arrow for the best move");
    const shot = join(out, "analyse.png");
    await page.screenshot({ path: shot });
    console.log(
        `depths seen: ${depths.join(" ")}; readyok during the search after ${readyMs} ms; screenshot of analysis: ${shot}`,
    );

    await page.click("#analyse-toggle");
    await page.waitForFunction(
        () => /^Stopped at depth/.test(document.getElementById("analyse-status").textContent),
        null,
        { timeout: 5000 },
    );
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
        const shown = () => page.evaluate(() => window.tarnwick.positionLine());
        const lastPosition = await shown();
        const sent = await page.evaluate(() => window.tarnwick.engine.sent.slice());
        await page.fill("#game-text", text);
        await page.click("#load-game");
        await page.waitForSelector("#message:not([hidden])");
        assert.match(await page.textContent("#message"), message);
        assert.match(await page.textContent("#message"), /The board keeps the last position read/);
        // Analysing goes on from the last position read, never the bad one.
        await page.click("#analyse-toggle");
        await page.waitForTimeout(200);
        await page.click("#analyse-toggle");
        await page.waitForFunction(() => !window.tarnwick.engine.searching);
        const lines = await page.evaluate((n) => window.tarnwick.engine.sent.slice(n), sent.length);
        const positions = lines.filter((l) => l.startsWith("position "));
        assert.ok(positions.length > 0 && positions.every((l) => l === lastPosition), lines.join("\n"));
        // The message stays while the box still holds what it is about.
        assert.match(await page.textContent("#message"), message);
        assert.equal(await shown(), lastPosition);
    }
    const shot = join(out, "bad-fen.png");
    await page.fill("#game-text", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNX w KQkq - 0 1");
    await page.click("#load-game");
    await page.screenshot({ path: shot });
    console.log(`screenshot of the message: ${shot}`);
    assert.deepEqual(problems, []);
});

const OPERA =
    '[Event "Paris"]\n[White "Morphy"]\n[Black "Duke Karl / Count Isouard"]\n[Result "1-0"]\n\n' +
    "1. e4 e5 2. Nf3 d6 3. d4 Bg4 4. dxe5 Bxf3 5. Qxf3 dxe5 6. Bc4 Nf6 7. Qb3 Qe7 8. Nc3 c6 9. Bg5 b5 " +
    "10. Nxb5 cxb5 11. Bxb5+ Nbd7 12. O-O-O Rd8 13. Rxd7 Rxd7 14. Rd1 Qe6 15. Bxd7+ Nxd7 16. Qb8+ Nxb8 17. Rd8# 1-0";
const movesShown = () => page.locator("#moves .move").allTextContents();

test("a move off the main line makes a side line; the tree goes out as PGN and comes back the same", async () => {
    await page.click("#mode-analyse");
    await page.fill("#game-text", OPERA);
    await page.click("#load-game");
    assert.equal((await movesShown()).length, 33);
    // The last move mates: the king in check is marked.
    assert.equal(await page.locator("#board .marker-check").count(), 1);
    await page.locator("#moves .move").nth(9).click(); // 5... dxe5
    await page.click('#board [data-square="b1"]');
    await page.click('#board [data-square="c3"]');
    await page.waitForFunction(() => document.querySelector("#moves .move.current")?.textContent === "Nc3");
    assert.equal((await movesShown()).length, 34);
    assert.equal(await page.evaluate(() => window.tarnwick.state.node.parent.children.length), 2);
    assert.equal(await page.locator("#moves .variation .move").count(), 1);
    // The keys: up to the start, down to the end of the line shown.
    await page.keyboard.press("ArrowUp");
    assert.equal(await page.locator("#moves .move.current").count(), 0);
    await page.keyboard.press("End");
    assert.equal(await page.textContent("#moves .move.current"), "Rd8#");
    await page.locator("#moves .variation .move").click();
    assert.equal(await page.textContent("#moves .move.current"), "Nc3");
    // Back, and on along the main line.
    await page.keyboard.press("ArrowLeft");
    await page.keyboard.press("ArrowRight");
    assert.equal(await page.textContent("#moves .move.current"), "Bc4");
    await page.click("#copy-pgn");
    const pgn = await page.inputValue("#game-text");
    assert.match(pgn, /\[White "Morphy"\]/);
    assert.match(pgn, /6\. Bc4 \(6\. Nc3\) 6\.\.\. Nf6/);
    const before = await page.evaluate(() =>
        [...document.querySelectorAll("#moves .move")].map(
            (e) => e.textContent + (e.closest(".variation") ? "/v" : ""),
        ),
    );
    await page.click("#load-game");
    assert.deepEqual(
        await page.evaluate(() =>
            [...document.querySelectorAll("#moves .move")].map(
                (e) => e.textContent + (e.closest(".variation") ? "/v" : ""),
            ),
        ),
        before,
    );
    // The side line made the main line, then deleted.
    await page.locator("#moves .variation .move").click();
    await page.click("#main-line");
    assert.equal((await movesShown())[10], "Nc3");
    assert.equal(await page.locator("#moves .variation .move").first().textContent(), "Bc4");
    await page.click("#delete-move");
    assert.equal((await movesShown()).length, 33);
    assert.equal(await page.locator("#moves .variation").count(), 0);
    await page.click("#copy-fen");
    assert.equal(await page.inputValue("#game-text"), await page.evaluate(() => window.tarnwick.state.node.fen));

    // 4,000 plies: the list scrolls by itself, the page keeps its height,
    // and the current move is in the list's view.
    const shuffle = Array.from({ length: 1000 }, (_, i) => `${2 * i + 1}. Nf3 Nf6 ${2 * i + 2}. Ng1 Ng8`).join(" ");
    await page.fill("#game-text", shuffle + " *");
    await page.click("#load-game");
    assert.equal(await movesShown().then((m) => m.length), 4000);
    const { pageHeight, listScrolls, currentInView } = await page.evaluate(() => {
        const list = document.getElementById("moves");
        const current = list.querySelector(".current").getBoundingClientRect();
        const box = list.getBoundingClientRect();
        return {
            pageHeight: document.documentElement.scrollHeight,
            listScrolls: list.scrollHeight > list.clientHeight,
            currentInView: current.top >= box.top - 1 && current.bottom <= box.bottom + 1,
        };
    });
    assert.ok(pageHeight < 2000, `the page is ${pageHeight} px tall`);
    assert.ok(listScrolls && currentInView);
    assert.deepEqual(problems, []);
});

test("game review: a point per ply, the known blunder marked with the best move, counts per side; a stop ends it", async () => {
    // The Blackburne trap: 5. Nxf7 loses to the queen's raid.
    await page.fill(
        "#game-text",
        "1. e4 e5 2. Nf3 Nc6 3. Bc4 Nd4 4. Nxe5 Qg5 5. Nxf7 Qxg2 6. Rf1 Qxe4+ 7. Be2 Nf3# 0-1",
    );
    await page.click("#load-game");
    await page.selectOption("#review-time", "200");
    const t0 = Date.now();
    await page.click("#review-toggle");
    await page.waitForFunction(() => document.getElementById("analyse-status").textContent === "Review done", null, {
        timeout: 30000,
    });
    const ms = Date.now() - t0;
    assert.equal(await page.locator("#review-graph circle.graph-point:not(.unknown)").count(), 14);
    const marks = await page.locator("#review-marks li").allTextContents();
    assert.ok(
        marks.some((m) => /^5\. Nxf7\?\? blunder; best was /.test(m)),
        marks.join("\n"),
    );
    const white = Number(await page.textContent("#count-w-blunder"));
    assert.ok(white >= 1, `White's blunders: ${white}`);
    assert.equal(
        await page.locator("#moves .move.blunder").count(),
        Number(white) + Number(await page.textContent("#count-b-blunder")),
    );
    // A point of the graph leads to its move; the review is not searched again.
    const sent = await page.evaluate(() => window.tarnwick.engine.sent.length);
    await page.locator('#review-graph rect.graph-hit[data-ply="9"]').click();
    assert.equal(await page.textContent("#moves .move.current"), "Nxf7??");
    assert.match(await page.textContent("#eval-text"), /^-|#-/);
    await page.click("#review-toggle");
    await page.waitForFunction(() => document.getElementById("analyse-status").textContent === "Review done");
    assert.equal(await page.evaluate(() => window.tarnwick.engine.sent.length), sent);
    await page.screenshot({ path: join(out, "review.png") });

    // A longer review at 1 s a move, stopped after two positions.
    await page.fill("#game-text", OPERA);
    await page.click("#load-game");
    await page.selectOption("#review-time", "1000");
    await page.click("#review-toggle");
    await page.waitForFunction(() => Number(document.getElementById("review-progress").value) >= 2, null, {
        timeout: 15000,
    });
    const t1 = Date.now();
    await page.click("#review-toggle");
    await page.waitForFunction(() => document.getElementById("analyse-status").textContent === "Review stopped", null, {
        timeout: 3000,
    });
    assert.ok(Date.now() - t1 < 1500, `stopped after ${Date.now() - t1} ms`);
    assert.equal(await page.evaluate(() => window.tarnwick.engine.searching), false);
    console.log(`review of 14 positions at 0.2 s: ${ms} ms; marks: ${marks.join(", ")}`);
    assert.deepEqual(problems, []);
});

test("a reload keeps the analysis tree; a link with a FEN after '#' opens that position", async () => {
    const before = await page.evaluate(() => window.tarnwick.positionLine());
    await page.reload();
    await page.waitForFunction(() => / ready/.test(document.getElementById("engine-state").textContent));
    assert.equal(await page.evaluate(() => window.tarnwick.state.mode), "analyse");
    assert.equal(await page.evaluate(() => window.tarnwick.positionLine()), before);
    const fen = "r1bqkb1r/pppp1ppp/2n2n2/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR w KQkq - 4 4";
    await page.goto(`${url}#fen=${encodeURIComponent(fen)}`);
    await page.waitForFunction(() => / ready/.test(document.getElementById("engine-state").textContent));
    assert.equal(await page.evaluate(() => window.tarnwick.state.node.fen), fen);
    assert.equal(await page.evaluate(() => window.tarnwick.board.getPosition()), fen.split(" ")[0]);
    // Analysis finds the mate in one, from White's side; the depth of a
    // position settled at once is no number.
    await page.click("#analyse-toggle");
    await page.waitForFunction(() => document.getElementById("an-score").textContent === "#1", null, {
        timeout: 10000,
    });
    assert.notEqual(await page.textContent("#an-depth"), "127");
    await page.click("#analyse-toggle");
    assert.deepEqual(problems, []);
});

test("served without the isolation headers, the page runs the single-thread engine: it analyses, answers isready and stops", async () => {
    const plain = await openPlainPage();
    assert.equal(await plain.evaluate(() => window.crossOriginIsolated), false);
    assert.match(await plain.textContent("#engine-note"), /One engine thread: this page is not cross-origin isolated/);
    await plain.click("#mode-analyse");
    await plain.fill("#game-text", "1. e4 c5 2. Nf3 d6 3. d4 cxd4 4. Nxd4 Nf6 5. Nc3 a6 *");
    await plain.click("#load-game");
    await plain.click("#analyse-toggle");
    await plain.waitForFunction(() => parseInt(document.getElementById("an-depth").textContent, 10) >= 10, null, {
        timeout: 30000,
    });
    const t0 = Date.now();
    const answer = await dialogue(["isready"], "^readyok$", 5000, plain);
    const readyMs = Date.now() - t0;
    assert.ok(!answer.some((l) => l.startsWith("bestmove")), answer.join("\n"));
    assert.ok(readyMs < 1000, `readyok after ${readyMs} ms`);
    await plain.screenshot({ path: join(out, "single-thread.png") });
    const t1 = Date.now();
    await plain.click("#analyse-toggle");
    await plain.waitForFunction(() => !window.tarnwick.engine.searching, null, { timeout: 3000 });
    const stopMs = Date.now() - t1;
    // Stepping back from the final position of a game starts the analysis again.
    await plain.fill("#game-text", "1. f3 e5 2. g4 Qh4# 0-1");
    await plain.click("#load-game");
    await plain.click("#analyse-toggle");
    assert.match(await plain.textContent("#analyse-status"), /nothing to analyse/);
    await plain.keyboard.press("ArrowLeft");
    await plain.waitForFunction(() => document.getElementById("an-score").textContent.startsWith("#"), null, {
        timeout: 10000,
    });
    await plain.click("#analyse-toggle");
    console.log(`one thread: readyok during the search after ${readyMs} ms, stopped after ${stopMs} ms`);
    await plain.close();
    assert.deepEqual(problems, []);
});

test("phones: no sideways scrolling at 320 and 390 px, the engine's state in view, the step buttons under the board", async () => {
    const phone = await context.newPage();
    for (const width of [320, 390]) {
        await phone.setViewportSize({ width, height: width === 320 ? 640 : 844 });
        await phone.goto(url);
        await phone.waitForFunction(() => / ready/.test(document.getElementById("engine-state").textContent), null, {
            timeout: 30000,
        });
        for (const mode of ["play", "analyse"]) {
            await phone.click(`#mode-${mode}`);
            await phone.waitForTimeout(300);
            const { scrollWidth, stateFits, navBottom } = await phone.evaluate(() => {
                const state = document.getElementById("engine-state");
                return {
                    scrollWidth: document.documentElement.scrollWidth,
                    stateFits:
                        state.scrollWidth <= state.clientWidth + 1 && state.getBoundingClientRect().right <= innerWidth,
                    navBottom: document.querySelector(".nav").getBoundingClientRect().bottom,
                };
            });
            assert.ok(scrollWidth <= width, `${mode} at ${width} px: ${scrollWidth} px wide`);
            assert.ok(stateFits, `${mode} at ${width} px: the engine's state is cut`);
            assert.ok(
                navBottom <= (width === 320 ? 640 : 844),
                `${mode} at ${width} px: the step buttons end at ${navBottom}`,
            );
            await phone.screenshot({ path: join(out, `phone-${width}-${mode}.png`) });
        }
    }
    await phone.close();
    assert.deepEqual(problems, []);
});

test("opened from disk, the page says how to serve it and shows a board", async () => {
    const disk = await context.newPage();
    await disk.goto(`file://${join(dist, "index.html")}`);
    await disk.waitForSelector("#from-file:not([hidden])");
    assert.match(await disk.textContent("#from-file"), /python3 -m http\.server/);
    assert.equal(await disk.locator(".static-board span").count(), 64);
    await disk.screenshot({ path: join(out, "from-disk.png") });
    await disk.close();
});

test("offline after one visit: the service worker serves the page and the engine, which answers and searches", async () => {
    const offlineServer = await startServer({ root: dist, port: 0 });
    const offlineUrl = `http://127.0.0.1:${offlineServer.address().port}/`;
    const offlineProfile = mkdtempSync(join(tmpdir(), "tarnwick-offline-"));
    const offline = await chromium.launchPersistentContext(offlineProfile, {
        executablePath: browserPath,
        headless: true,
        args: CHROMIUM_ARGS,
    });
    try {
        const first = offline.pages()[0] || (await offline.newPage());
        await first.goto(offlineUrl);
        await first.waitForFunction(() => / ready/.test(document.getElementById("engine-state").textContent), null, {
            timeout: 30000,
        });
        // Every file of the page is in the cache once the worker is active.
        await first.evaluate(async () => {
            await navigator.serviceWorker.ready;
        });
        await first.waitForFunction(
            async () => {
                const names = await caches.keys();
                if (!names.length) return false;
                const keys = await (await caches.open(names[0])).keys();
                return (
                    keys.some((r) => r.url.endsWith("tarnwick-st.wasm")) &&
                    keys.some((r) => r.url.endsWith("tarnwick.wasm"))
                );
            },
            null,
            { timeout: 30000, polling: 200 },
        );
        // The network gone: the server closed, and the browser offline.
        offlineServer.closeAllConnections?.();
        await new Promise((resolve) => offlineServer.close(resolve));
        await offline.setOffline(true);
        await first.reload();
        await first.waitForFunction(() => / ready/.test(document.getElementById("engine-state").textContent), null, {
            timeout: 30000,
        });
        const lines = await dialogue(
            ["isready", "position startpos moves e2e4", "go depth 10"],
            "^bestmove",
            30000,
            first,
        );
        assert.ok(lines.includes("readyok"), lines.join("\n"));
        assert.match(lines[lines.length - 1], /^bestmove [a-h][1-8][a-h][1-8]/);
        await first.screenshot({ path: join(out, "offline.png") });
    } finally {
        await offline.close();
        offlineServer.close();
        rmSync(offlineProfile, { recursive: true, force: true, maxRetries: 5 });
    }
});
