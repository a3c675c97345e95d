// The engine's worker.  The page posts command lines (a string; several
// lines at once are split); every line the engine prints is posted back as
// a string.  Two builds of the engine (tarnwick.js and tarnwick-st.js, with
// Emscripten) answer "stop" and "isready" while they think:
//
// - "engine-worker.js?engine=threads": the engine runs its command loop and
//   its search on threads of its own, so a line posted during a search is
//   read at once.  It needs shared memory, which a browser gives only to a
//   cross-origin isolated page.
// - "engine-worker.js?engine=single": everything runs on this worker's one
//   thread.  Lines wait in `pendingLines`; the engine takes them when it is
//   idle, and during a search it leaves its work every few milliseconds,
//   lets this worker receive what the page posted, and reads the queue.
const single = new URL(self.location.href).searchParams.get("engine") === "single";
importScripts(single ? "tarnwick-st.js" : "tarnwick.js");

const print = (line) => postMessage(line);
const printErr = (line) => console.error("tarnwick:", line);
// After "quit" the engine has stopped; the worker ends.
const onEngineQuit = () => {
    postMessage("info string engine stopped");
    close();
};
const failed = (error) => {
    console.error("tarnwick: the engine could not be started:", error);
    postMessage(`info string engine failed: ${error && error.message ? error.message : error}`);
};

let send;
if (single) {
    const pendingLines = [];
    let lineArrived = null;
    const channel = new MessageChannel();
    let turnDone = null;
    channel.port1.onmessage = () => turnDone();
    send = (line) => {
        pendingLines.push(line);
        if (lineArrived) {
            const wake = lineArrived;
            lineArrived = null;
            wake();
        }
    };
    /* global createTarnwickSingle */
    createTarnwickSingle({
        print,
        printErr,
        onEngineQuit,
        pendingLines,
        // The engine waits for a line.
        lineArrived: () =>
            pendingLines.length ? Promise.resolve() : new Promise((resolve) => (lineArrived = resolve)),
        // One turn of the event loop: messages from the page are received.
        yieldToWorker: () =>
            new Promise((resolve) => {
                turnDone = resolve;
                channel.port2.postMessage(0);
            }),
    }).catch(failed);
} else {
    const waiting = [];
    send = (line) => waiting.push(line);
    /* global createTarnwick */
    createTarnwick({
        // The engine's threads load the same script.
        mainScriptUrlOrBlob: new URL("tarnwick.js", self.location.href).href,
        print,
        printErr,
        onEngineQuit,
    }).then((engine) => {
        send = (line) => engine.ccall("uciCommand", null, ["string"], [line]);
        waiting.splice(0).forEach(send);
    }, failed);
}

onmessage = (event) => {
    for (const line of String(event.data).split(/\r?\n/)) if (line.trim() !== "") send(line);
};
