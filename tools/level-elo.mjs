#!/usr/bin/env node
// The approximate Elo of the page's levels: matches of Tarnwick at each level
// (web/src/levels.js: "go nodes N", nothing else changed) against Debian's
// stockfish held to a rating with UCI_LimitStrength and UCI_Elo, and matches
// of each level against the one below it (the levels must be monotone).
//
//   nice -n 19 node tools/level-elo.mjs --engine build/tarnwick [--stockfish /usr/games/stockfish]
//       [--levels 1,2,...] [--openings 20] [--ladder-openings 20] [--movetime 100]
//       [--opponent ELO] [--elo-only | --ladder-only]
//
// Every opening is played twice, with colours swapped, so a match has
// 2 x --openings games (40 by default).  Stockfish moves after --movetime ms;
// Tarnwick after its node limit.  A level first plays a probe of 8 games
// against a rating guessed from the level below; the match itself is then
// played against the rating the probe points to (within stockfish's range,
// 1350 to 2850), and only the match counts (--opponent ELO: no probe, that
// rating for every level given).  One game at a time: the result
// does not depend on the machine's load, since Tarnwick counts nodes and
// stockfish's weakened play depends little on its time.
//
// Printed per match: score, Elo difference with its 95% interval, and the
// level's Elo (the opponent's rating plus the difference).  Levels 1 to 7 in
// the README were measured before adjudication (below) was added; level 8
// and the ladder with it.
import { spawn } from "node:child_process";
import { dirname, join } from "node:path";
import { fileURLToPath, pathToFileURL } from "node:url";

const root = join(dirname(fileURLToPath(import.meta.url)), "..");
const { Chess } = await import(pathToFileURL(join(root, "web/node_modules/chess.js/dist/esm/chess.js")).href);
const { LEVELS } = await import(pathToFileURL(join(root, "web/src/levels.js")).href);

const option = (name, fallback) => {
    const i = process.argv.indexOf(`--${name}`);
    return i > 0 && i + 1 < process.argv.length ? process.argv[i + 1] : fallback;
};
const flag = (name) => process.argv.includes(`--${name}`);
const enginePath = option("engine", join(root, "build/tarnwick"));
const stockfishPath = option("stockfish", "/usr/games/stockfish");
const levels = option("levels", LEVELS.map((l) => l.level).join(",")).split(",").map(Number);
const openingCount = Number(option("openings", "20"));
const stockfishMs = Number(option("movetime", "100"));
const ladderOpenings = Number(option("ladder-openings", String(openingCount)));
const fixedOpponent = option("opponent", null);

// Short, common openings (UCI moves), so that games differ and neither side
// starts lost.
const OPENINGS = [
    "e2e4 e7e5 g1f3 b8c6", "e2e4 c7c5 g1f3 d7d6", "d2d4 d7d5 c2c4 e7e6", "d2d4 g8f6 c2c4 g7g6",
    "e2e4 e7e6 d2d4 d7d5", "e2e4 c7c6 d2d4 d7d5", "c2c4 e7e5 b1c3 g8f6", "g1f3 d7d5 g2g3 g8f6",
    "d2d4 g8f6 c2c4 e7e6", "e2e4 c7c5 b1c3 b8c6", "e2e4 e7e5 f1c4 g8f6", "d2d4 d7d5 g1f3 g8f6",
    "e2e4 d7d6 d2d4 g8f6", "c2c4 c7c5 g1f3 g8f6", "e2e4 g7g6 d2d4 f8g7", "d2d4 f7f5 g2g3 g8f6",
    "e2e4 e7e5 g1f3 g8f6", "d2d4 d7d5 c2c4 c7c6", "e2e4 c7c5 c2c3 g8f6", "b1c3 d7d5 e2e4 d5e4",
    "e2e4 d7d5 e4d5 d8d5", "d2d4 g8f6 g1f3 e7e6", "c2c4 g8f6 g2g3 e7e6", "e2e4 b8c6 d2d4 d7d5",
];

class Engine {
    constructor(path, name) {
        this.name = name;
        this.child = spawn(path, [], { stdio: ["pipe", "pipe", "ignore"] });
        this.buffer = "";
        this.waiters = [];
        this.child.stdout.on("data", (chunk) => {
            this.buffer += chunk;
            let i;
            while ((i = this.buffer.indexOf("\n")) >= 0) {
                const line = this.buffer.slice(0, i).trim();
                this.buffer = this.buffer.slice(i + 1);
                const w = this.waiters[0];
                if (w && w.test(line)) {
                    this.waiters.shift();
                    w.resolve(line);
                }
            }
        });
    }
    send(line) {
        this.child.stdin.write(line + "\n");
    }
    wait(test) {
        return new Promise((resolve) => this.waiters.push({ test, resolve }));
    }
    async ready() {
        const ok = this.wait((l) => l === "readyok");
        this.send("isready");
        await ok;
    }
    async start(options) {
        const ok = this.wait((l) => l === "uciok");
        this.send("uci");
        await ok;
        for (const [name, value] of Object.entries(options)) this.send(`setoption name ${name} value ${value}`);
        await this.ready();
    }
    async newGame() {
        this.send("ucinewgame");
        await this.ready();
    }
    // The move, and the last score the search reported (from the mover's
    // side, in centipawns; a mate as +-100000).
    async move(moves, goLine) {
        let score = null;
        const best = this.wait((l) => {
            const m = / score (cp|mate) (-?\d+)(?! (lower|upper)bound)/.exec(l);
            if (m) score = m[1] === "cp" ? Number(m[2]) : Math.sign(Number(m[2]) || -1) * 100000;
            return l.startsWith("bestmove");
        });
        this.send(`position startpos${moves.length ? " moves " + moves.join(" ") : ""}`);
        this.send(goLine);
        return { uci: (await best).split(/\s+/)[1], score };
    }
    quit() {
        this.send("quit");
        this.child.stdin.end();
    }
}

// A player: an engine and the "go" line of its moves.
function tarnwickAt(level) {
    const entry = LEVELS.find((l) => l.level === level);
    return { engine: new Engine(enginePath, `level ${level}`), go: `go nodes ${entry.nodes}`, options: { Hash: 16 } };
}
function stockfishAt(elo) {
    return {
        engine: new Engine(stockfishPath, `stockfish ${elo}`),
        go: `go movetime ${stockfishMs}`,
        options: { Threads: 1, Hash: 16, UCI_LimitStrength: "true", UCI_Elo: elo },
    };
}

// Games are adjudicated as engine matches usually are, to save time: won
// when both engines' last two scores each give the same side 7 pawns or
// more, drawn when after 100 plies the last 8 scores are all within 0.15 of
// a pawn, or after 300 plies.
const RESIGN_CP = 700, DRAW_CP = 15;
function adjudicate(whiteScores, plies) {
    const last = whiteScores.slice(-4);
    if (last.length === 4 && last.every((s) => s >= RESIGN_CP)) return 1;
    if (last.length === 4 && last.every((s) => s <= -RESIGN_CP)) return 0;
    const quiet = whiteScores.slice(-8);
    if (plies >= 100 && quiet.length === 8 && quiet.every((s) => Math.abs(s) <= DRAW_CP)) return 0.5;
    if (plies >= 300) return 0.5;
    return null;
}

// One game; 1, 0.5 or 0 for `white`.
async function playGame(white, black, opening) {
    const game = new Chess();
    const moves = opening.split(" ");
    for (const m of moves) game.move({ from: m.slice(0, 2), to: m.slice(2, 4), promotion: m[4] });
    await white.engine.newGame();
    await black.engine.newGame();
    const whiteScores = [];
    while (!game.isGameOver()) {
        const side = game.turn() === "w" ? white : black;
        const { uci, score } = await side.engine.move(moves, side.go);
        whiteScores.push(score === null ? 0 : game.turn() === "w" ? score : -score);
        let played = null;
        try {
            played = game.move({ from: uci.slice(0, 2), to: uci.slice(2, 4), promotion: uci[4] });
        } catch {
            played = null;
        }
        if (!played) {
            console.log(`  ${side.engine.name} played an illegal move ${uci}: loses`);
            return game.turn() === "w" ? 0 : 1;
        }
        moves.push(uci);
        const verdict = game.isGameOver() ? null : adjudicate(whiteScores, moves.length);
        if (verdict !== null) return verdict;
    }
    if (game.isCheckmate()) return game.turn() === "w" ? 0 : 1;
    return 0.5;
}

// Score, Elo difference and the half width of its 95% interval.
function eloOf(results) {
    const n = results.length;
    const score = results.reduce((a, b) => a + b, 0) / n;
    const variance = results.reduce((a, r) => a + (r - score) ** 2, 0) / n;
    const se = Math.sqrt(variance / n);
    const elo = (s) => -400 * Math.log10(1 / Math.min(Math.max(s, 0.001), 0.999) - 1);
    const low = elo(score - 1.96 * se), high = elo(score + 1.96 * se);
    return { n, score, diff: elo(score), margin: (high - low) / 2 };
}

// A match of `a` against `b` over `openings` (each with both colours);
// results from a's side.
async function match(a, b, openings, label) {
    await a.engine.start(a.options);
    await b.engine.start(b.options);
    const results = [];
    for (const opening of openings) {
        for (const aWhite of [true, false]) {
            const r = aWhite ? await playGame(a, b, opening) : 1 - (await playGame(b, a, opening));
            results.push(r);
            console.log(`  ${label} game ${results.length}: ${a.engine.name} ${aWhite ? "white" : "black"} ${r}`);
        }
    }
    a.engine.quit();
    b.engine.quit();
    return eloOf(results);
}

const clampElo = (e) => Math.round(Math.min(2850, Math.max(1350, e)) / 50) * 50;
const openings = OPENINGS.slice(0, openingCount);
const show = (r) => `score ${(100 * r.score).toFixed(1)}% of ${r.n}, difference ${r.diff.toFixed(0)} ± ${r.margin.toFixed(0)}`;

if (!flag("ladder-only")) {
    let guess = 1350;
    for (const level of levels) {
        let opponent = clampElo(Number(fixedOpponent));
        if (!fixedOpponent) {
            const probe = await match(tarnwickAt(level), stockfishAt(clampElo(guess)), OPENINGS.slice(0, 4), `level ${level} probe`);
            opponent = clampElo(clampElo(guess) + probe.diff);
        }
        const r = await match(tarnwickAt(level), stockfishAt(opponent), openings, `level ${level}`);
        const elo = opponent + r.diff;
        console.log(`RESULT level ${level} (go nodes ${LEVELS.find((l) => l.level === level).nodes}) against stockfish UCI_Elo ${opponent}: ${show(r)}; Elo ${elo.toFixed(0)} ± ${r.margin.toFixed(0)}`);
        guess = elo + 150;
    }
}
if (!flag("elo-only")) {
    for (let i = 1; i < levels.length; i++) {
        const r = await match(tarnwickAt(levels[i]), tarnwickAt(levels[i - 1]), OPENINGS.slice(0, ladderOpenings), `level ${levels[i]} v ${levels[i - 1]}`);
        console.log(`RESULT level ${levels[i]} against level ${levels[i - 1]}: ${show(r)}${r.score > 0.5 ? "" : "  NOT MONOTONE"}`);
    }
}
