// The engine as the page sees it: a worker that takes command lines and
// sends back the engine's lines.  One search runs at a time; a new one
// first stops the one before and waits for its "bestmove", so that every
// answer belongs to the search that asked for it.

export class Engine {
    #worker;
    #listeners = new Set();
    #search = null; // { onInfo, resolve }
    #queue = Promise.resolve();

    constructor(url = "engine-worker.js") {
        this.sent = []; // every command line, in order (for the tests and for debugging)
        this.#worker = new Worker(url);
        this.#worker.onmessage = (event) => this.#receive(String(event.data));
        this.#worker.onerror = (event) => this.#receive(`info string worker error: ${event.message}`);
    }

    send(line) {
        this.sent.push(line);
        this.#worker.postMessage(line);
    }

    // Call `listener` with every line; returns a function that stops it.
    onLine(listener) {
        this.#listeners.add(listener);
        return () => this.#listeners.delete(listener);
    }

    // The first line that `test` accepts, from now on.
    waitFor(test, timeoutMs = 60000) {
        return new Promise((resolve, reject) => {
            const timer = setTimeout(() => {
                stop();
                reject(new Error("the engine did not answer in time"));
            }, timeoutMs);
            const stop = this.onLine((line) => {
                if (!test(line)) return;
                clearTimeout(timer);
                stop();
                resolve(line);
            });
        });
    }

    // "uci", then "isready": resolves with the engine's name.
    async start() {
        let name = "";
        const stop = this.onLine((line) => {
            if (line.startsWith("id name ")) name = line.slice(8);
        });
        const ok = this.waitFor((line) => line === "uciok");
        this.send("uci");
        await ok;
        stop();
        await this.ready();
        return name;
    }

    async ready() {
        const ok = this.waitFor((line) => line === "readyok");
        this.send("isready");
        await ok;
    }

    // Set an option when no search runs, and wait until the engine has it.
    setOption(name, value) {
        return this.#serial(async () => {
            await this.#stopRunning();
            this.send(`setoption name ${name} value ${value}`);
            await this.ready();
        });
    }

    // A new game: the engine forgets what it learnt in the last one.
    newGame() {
        return this.#serial(async () => {
            await this.#stopRunning();
            this.send("ucinewgame");
            await this.ready();
        });
    }

    // Search a position ("position ..." line) with a "go ..." line; `onInfo`
    // gets every line of the search.  Resolves with the answer:
    // { bestmove, ponder } (bestmove "0000" or null when there is none).
    search(positionLine, goLine, onInfo = () => {}) {
        return this.#serial(async () => {
            await this.#stopRunning();
            const search = { onInfo };
            search.done = new Promise((resolve) => (search.resolve = resolve));
            this.#search = search;
            this.send(positionLine);
            this.send(goLine);
            return { done: search.done };
        }).then(({ done }) => done);
    }

    // Stop the running search, if any; resolves once its answer is in.
    stop() {
        return this.#serial(() => this.#stopRunning());
    }

    get searching() {
        return this.#search !== null;
    }

    async #stopRunning() {
        const search = this.#search;
        if (!search) return;
        this.send("stop");
        await search.done;
    }

    #serial(task) {
        const run = this.#queue.then(task);
        this.#queue = run.catch(() => {});
        return run;
    }

    #receive(line) {
        const search = this.#search;
        if (search) {
            if (line.startsWith("bestmove")) {
                this.#search = null;
                const words = line.split(/\s+/);
                search.resolve({ bestmove: words[1] || null, ponder: words[3] || null });
            } else if (line.startsWith("info")) {
                search.onInfo(line);
            }
        }
        for (const listener of [...this.#listeners]) listener(line);
    }
}
