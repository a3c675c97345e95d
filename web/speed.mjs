#!/usr/bin/env node
// Speed of the engines in Chromium against the native program, in nodes per
// second: bench (one thread), and a fixed-time search from the start
// position with one and with two threads, for the engine with threads (the
// page served with the isolation headers) and for the single-thread engine
// (the same page served without them).  Each measurement is taken
// `--runs` times, alternating browser and native, and the best is kept (the
// machine's other load only ever slows a run down).
//   node web/speed.mjs --dist build/web-dist --native build/tarnwick-nop [--runs 3] [--movetime 10000]
import { spawn } from "node:child_process";
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join, resolve } from "node:path";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";
import { startServer } from "./serve.mjs";

const option = (name, fallback) => {
    const i = process.argv.indexOf(`--${name}`);
    return i > 0 && i + 1 < process.argv.length ? process.argv[i + 1] : fallback;
};
const dist = resolve(option("dist", fileURLToPath(new URL("dist", import.meta.url))));
const native = option("native", "build/tarnwick-nop");
const runs = Number(option("runs", "3"));
const movetime = Number(option("movetime", "10000"));

// The commands of each measurement, and how its speed is read.
const benchNps = (lines) => Number(/ (\d+) nps$/.exec(lines.find((l) => l.startsWith("Bench: ")))[1]);
const searchNps = (lines) => {
    const last = lines.filter((l) => / nodes \d+ .*time \d+/.test(l)).pop();
    const nodes = Number(/ nodes (\d+)/.exec(last)[1]);
    const time = Number(/ time (\d+)/.exec(last)[1]);
    return Math.round((nodes * 1000) / time);
};
const search = (threads) => ({
    name: `go movetime ${movetime}, Threads ${threads}`,
    commands: [`setoption name Threads value ${threads}`, "ucinewgame", "position startpos", `go movetime ${movetime}`],
    end: /^bestmove/,
    nps: searchNps,
});
const bench = { name: "bench", commands: ["bench"], end: /^Bench: /, nps: benchNps };
const measurements = [
    { ...bench, engine: "threads" },
    { ...search(1), engine: "threads" },
    { ...search(2), engine: "threads" },
    { ...bench, engine: "single" },
    { ...search(1), engine: "single" },
];

function runNative(commands, end) {
    return new Promise((resolvePromise, reject) => {
        const child = spawn(native, [], { stdio: ["pipe", "pipe", "inherit"] });
        let text = "";
        child.stdout.on("data", (chunk) => {
            text += chunk;
            if (text.split("\n").some((l) => end.test(l))) child.stdin.end("quit\n");
        });
        child.on("error", reject);
        child.on("close", () => resolvePromise(text.split("\n")));
        child.stdin.write(commands.join("\n") + "\n");
    });
}

const servers = {
    threads: await startServer({ root: dist, port: 0 }),
    single: await startServer({ root: dist, port: 0, isolation: false }),
};
const profile = mkdtempSync(join(tmpdir(), "tarnwick-speed-"));
const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    headless: true,
    args: [
        "--headless",
        "--no-sandbox",
        "--disable-gpu",
        "--disable-quic",
        "--no-first-run",
        "--disable-background-networking",
        "--disable-component-update",
        "--disable-sync",
    ],
});
const pages = {};
for (const [engine, server] of Object.entries(servers)) {
    pages[engine] = await context.newPage();
    await pages[engine].goto(`http://127.0.0.1:${server.address().port}/`);
    await pages[engine].waitForFunction(() => window.tarnwick?.state.engineReady, null, { timeout: 30000 });
}

function runBrowser(page, commands, end) {
    return page.evaluate(
        async ({ commands, end }) => {
            const engine = window.tarnwick.engine;
            const lines = [];
            const stop = engine.onLine((l) => lines.push(l));
            const done = engine.waitFor((l) => new RegExp(end).test(l), 300000);
            commands.forEach((c) => engine.send(c));
            await done;
            stop();
            return lines;
        },
        { commands, end: end.source },
    );
}

console.log(`Chromium against ${native}, best of ${runs} runs each`);
for (const m of measurements) {
    let web = 0,
        nat = 0;
    for (let i = 0; i < runs; i++) {
        web = Math.max(web, m.nps(await runBrowser(pages[m.engine], m.commands, m.end)));
        nat = Math.max(nat, m.nps(await runNative(m.commands, m.end)));
    }
    console.log(
        `${m.engine.padEnd(8)} ${m.name.padEnd(34)} browser ${String(web).padStart(9)} nps   native ${String(nat).padStart(9)} nps   ratio ${(web / nat).toFixed(2)}`,
    );
}
await context.close();
for (const server of Object.values(servers)) server.close();
rmSync(profile, { recursive: true, force: true, maxRetries: 5 });
