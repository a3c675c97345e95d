#!/usr/bin/env node
// A small static server for the page, with the headers that the engine's
// threads need: a page may share memory (SharedArrayBuffer) with its
// workers only when it is cross-origin isolated.  Any static server will do
// for the page (it then runs its single-thread engine); this one also
// answers repeat requests with 304, and sends a content security policy.
//   node web/serve.mjs [FOLDER] [--port N] [--host ADDRESS] [--no-isolation]
// FOLDER is web/dist by default; the port 8080, the address 127.0.0.1 (only
// this machine; give --host 0.0.0.0 to serve others too).  --no-isolation
// leaves out the two isolation headers, as a plain static host would.
import { createHash } from "node:crypto";
import { createServer } from "node:http";
import { createReadStream, openSync, closeSync, fstatSync, readFileSync, realpathSync, statSync } from "node:fs";
import { extname, join, resolve, sep } from "node:path";
import { fileURLToPath } from "node:url";

export const ISOLATION_HEADERS = {
    "Cross-Origin-Opener-Policy": "same-origin",
    "Cross-Origin-Embedder-Policy": "require-corp",
};

const TYPES = {
    ".html": "text/html; charset=utf-8",
    ".js": "text/javascript; charset=utf-8",
    ".mjs": "text/javascript; charset=utf-8",
    ".css": "text/css; charset=utf-8",
    ".svg": "image/svg+xml",
    ".wasm": "application/wasm",
    ".json": "application/json",
    ".webmanifest": "application/manifest+json",
    ".png": "image/png",
    ".txt": "text/plain; charset=utf-8",
};

// What the page may load: its own files only.  Scripts: its own, the
// WebAssembly compiled from them ('wasm-unsafe-eval'), and the inline
// scripts of the HTML page served (by their hashes: the import map).
// Styles may be set inline, as the board sets the size of its pieces.
function securityPolicy(inlineHashes = []) {
    const scripts = ["'self'", "'wasm-unsafe-eval'", ...inlineHashes.map((h) => `'sha256-${h}'`)].join(" ");
    return [
        "default-src 'self'",
        `script-src ${scripts}`,
        "worker-src 'self'",
        "style-src 'self' 'unsafe-inline'",
        "img-src 'self' data:",
        "connect-src 'self'",
        "manifest-src 'self'",
        "object-src 'none'",
        "base-uri 'none'",
        "form-action 'none'",
        "frame-ancestors 'none'",
    ].join("; ");
}

// The hashes of the inline scripts of an HTML file.
function inlineScriptHashes(html) {
    const hashes = [];
    for (const m of html.matchAll(/<script(?![^>]*\bsrc=)[^>]*>([\s\S]*?)<\/script>/gi))
        hashes.push(createHash("sha256").update(m[1]).digest("base64"));
    return hashes;
}

// The file a request names, or null when it names nothing inside the root
// (a path that climbs out of it, directly or through a link, is refused, and
// so is any name starting with a dot: nothing hidden is served).
function fileFor(root, urlPath) {
    let path;
    try {
        path = decodeURIComponent(urlPath.split("?")[0].split("#")[0]);
    } catch {
        return null;
    }
    if (path.includes("\0") || path.split(/[/\\]/).some((part) => part.startsWith("."))) return null;
    let file = resolve(root, "." + path);
    try {
        if (statSync(file).isDirectory()) file = join(file, "index.html");
        file = realpathSync(file);
    } catch {
        return null;
    }
    return file === root || file.startsWith(root + sep) ? file : null;
}

export function startServer({ root, port = 8080, host = "127.0.0.1", isolation = true }) {
    const base = realpathSync(resolve(root));
    const server = createServer((req, res) => {
        const headers = {
            ...(isolation ? ISOLATION_HEADERS : {}),
            "Cache-Control": "no-cache",
            "X-Content-Type-Options": "nosniff",
            "Referrer-Policy": "no-referrer",
            "Content-Security-Policy": securityPolicy(),
        };
        const fail = (status, text) => {
            if (res.headersSent) {
                res.destroy();
                return;
            }
            res.writeHead(status, { ...headers, "Content-Type": "text/plain; charset=utf-8" }).end(text + "\n");
        };
        if (req.method !== "GET" && req.method !== "HEAD") {
            res.writeHead(405, { ...headers, Allow: "GET, HEAD" }).end();
            return;
        }
        const file = fileFor(base, req.url || "/");
        if (!file) return fail(404, "not found");
        // Opened before anything is answered: a file that cannot be read
        // gets 403 (no permission) or 404, never a half-sent answer.
        let fd, stat;
        try {
            fd = openSync(file, "r");
            stat = fstatSync(fd);
            if (!stat.isFile()) throw Object.assign(new Error("not a file"), { code: "ENOENT" });
        } catch (error) {
            if (fd !== undefined) closeSync(fd);
            return fail(
                error.code === "EACCES" || error.code === "EPERM" ? 403 : 404,
                error.code === "EACCES" ? "forbidden" : "not found",
            );
        }
        const etag = `"${stat.size.toString(16)}-${Math.floor(stat.mtimeMs).toString(16)}"`;
        const modified = new Date(Math.floor(stat.mtimeMs / 1000) * 1000);
        const type = TYPES[extname(file).toLowerCase()] || "application/octet-stream";
        if (type.startsWith("text/html")) {
            try {
                headers["Content-Security-Policy"] = securityPolicy(inlineScriptHashes(readFileSync(fd, "utf8")));
            } catch {
                closeSync(fd);
                return fail(404, "not found");
            }
        }
        Object.assign(headers, { ETag: etag, "Last-Modified": modified.toUTCString() });
        const match = req.headers["if-none-match"];
        const since = Date.parse(req.headers["if-modified-since"] || "");
        if (match ? match.split(/\s*,\s*/).includes(etag) : !Number.isNaN(since) && modified.getTime() <= since) {
            closeSync(fd);
            res.writeHead(304, headers).end();
            return;
        }
        res.writeHead(200, { ...headers, "Content-Type": type, "Content-Length": stat.size });
        if (req.method === "HEAD") {
            closeSync(fd);
            res.end();
            return;
        }
        const stream = createReadStream(file, { fd, start: 0 });
        // A read that fails half-way (the disk, a file cut short) ends this
        // answer only.
        stream.on("error", () => res.destroy());
        stream.pipe(res);
    });
    // A broken connection ends that connection only.
    server.on("clientError", (_error, socket) => socket.destroy());
    return new Promise((resolvePromise, reject) => {
        server.once("error", reject);
        server.listen(port, host, () => resolvePromise(server));
    });
}

// The command line: { root, port, host, isolation }, or { error }.
export function readArguments(args, defaultRoot) {
    const settings = { root: defaultRoot, port: 8080, host: "127.0.0.1", isolation: true };
    for (let i = 0; i < args.length; i++) {
        const arg = args[i];
        if (arg === "--port" || arg === "--host") {
            const value = args[++i];
            if (value === undefined || value.startsWith("--")) return { error: `${arg} needs a value` };
            if (arg === "--host") settings.host = value;
            else if (!/^\d+$/.test(value) || Number(value) > 65535)
                return { error: "--port needs a number from 0 to 65535" };
            else settings.port = Number(value);
        } else if (arg === "--no-isolation") {
            settings.isolation = false;
        } else if (arg.startsWith("--")) {
            return { error: `unknown option ${arg} (options: --port N, --host ADDRESS, --no-isolation)` };
        } else {
            settings.root = arg;
        }
    }
    return settings;
}

if (process.argv[1] && resolve(process.argv[1]) === fileURLToPath(import.meta.url)) {
    const settings = readArguments(process.argv.slice(2), join(fileURLToPath(new URL(".", import.meta.url)), "dist"));
    if (settings.error) {
        console.error(`serve.mjs: ${settings.error}`);
        process.exit(2);
    }
    let isFolder = false;
    try {
        isFolder = statSync(settings.root).isDirectory();
    } catch {
        isFolder = false;
    }
    if (!isFolder) {
        console.error(`serve.mjs: no folder ${resolve(settings.root)} (build the page first: web/build.sh)`);
        process.exit(1);
    }
    startServer(settings).then(
        (server) =>
            console.log(`serving ${resolve(settings.root)} at http://${settings.host}:${server.address().port}/`),
        (error) => {
            console.error(`serve.mjs: ${error.message}`);
            process.exit(1);
        },
    );
}
