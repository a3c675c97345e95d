#!/usr/bin/env node
// A small static server for the page, with the headers that the engine's
// threads need: a page may share memory (SharedArrayBuffer) with its
// workers only when it is cross-origin isolated.
//   node web/serve.mjs [FOLDER] [--port N] [--host ADDRESS]
// FOLDER is web/dist by default; the port 8080, the address 127.0.0.1 (only
// this machine; give --host 0.0.0.0 to serve others too).
import { createServer } from "node:http";
import { createReadStream, realpathSync, statSync } from "node:fs";
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
    ".png": "image/png",
    ".txt": "text/plain; charset=utf-8",
};

// The file a request names, or null when it names nothing inside the root
// (a path that climbs out of it, directly or through a link, is refused).
function fileFor(root, urlPath) {
    let path;
    try {
        path = decodeURIComponent(urlPath.split("?")[0].split("#")[0]);
    } catch {
        return null;
    }
    if (path.includes("\0")) return null;
    let file = resolve(root, "." + path);
    try {
        if (statSync(file).isDirectory()) file = join(file, "index.html");
        file = realpathSync(file);
        if (!statSync(file).isFile()) return null;
    } catch {
        return null;
    }
    return file === root || file.startsWith(root + sep) ? file : null;
}

export function startServer({ root, port = 8080, host = "127.0.0.1" }) {
    const base = realpathSync(resolve(root));
    const server = createServer((req, res) => {
        const headers = { ...ISOLATION_HEADERS, "Cache-Control": "no-cache" };
        if (req.method !== "GET" && req.method !== "HEAD") {
            res.writeHead(405, { ...headers, Allow: "GET, HEAD" }).end();
            return;
        }
        const file = fileFor(base, req.url || "/");
        if (!file) {
            res.writeHead(404, { ...headers, "Content-Type": "text/plain; charset=utf-8" }).end("not found\n");
            return;
        }
        res.writeHead(200, {
            ...headers,
            "Content-Type": TYPES[extname(file).toLowerCase()] || "application/octet-stream",
            "Content-Length": statSync(file).size,
        });
        if (req.method === "HEAD") res.end();
        else createReadStream(file).pipe(res);
    });
    return new Promise((resolvePromise, reject) => {
        server.once("error", reject);
        server.listen(port, host, () => resolvePromise(server));
    });
}

if (process.argv[1] && resolve(process.argv[1]) === fileURLToPath(import.meta.url)) {
    const args = process.argv.slice(2);
    let root = join(fileURLToPath(new URL(".", import.meta.url)), "dist");
    let port = 8080;
    let host = "127.0.0.1";
    for (let i = 0; i < args.length; i++) {
        if (args[i] === "--port") port = Number(args[++i]);
        else if (args[i] === "--host") host = args[++i];
        else root = args[i];
    }
    if (!Number.isInteger(port) || port < 0 || port > 65535) {
        console.error("serve.mjs: --port needs a number from 0 to 65535");
        process.exit(2);
    }
    startServer({ root, port, host }).then(
        (server) => console.log(`serving ${resolve(root)} at http://${host}:${server.address().port}/`),
        (error) => {
            console.error(`serve.mjs: ${error.message}`);
            process.exit(1);
        },
    );
}
