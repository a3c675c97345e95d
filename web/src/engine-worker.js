// The engine's worker.  The page posts command lines (a string; several
// lines at once are split); every line the engine prints is posted back as
// a string.  The engine itself (tarnwick.js and tarnwick.wasm, built with
// Emscripten) runs its command loop and its search on threads of its own,
// so a line posted during a search is read at once: "stop" and "isready"
// are answered while the engine thinks.
/* global createTarnwick */
importScripts("tarnwick.js");

const waiting = [];
let send = (line) => waiting.push(line);

createTarnwick({
    // The engine's threads load the same script.
    mainScriptUrlOrBlob: new URL("tarnwick.js", self.location.href).href,
    print: (line) => postMessage(line),
    printErr: (line) => console.error("tarnwick:", line),
    // After "quit" the engine has stopped its threads; the worker ends.
    onEngineQuit: () => {
        postMessage("info string engine stopped");
        close();
    },
}).then(
    (engine) => {
        send = (line) => engine.ccall("uciCommand", null, ["string"], [line]);
        waiting.splice(0).forEach(send);
    },
    (error) => console.error("tarnwick: the engine could not be started:", error),
);

onmessage = (event) => {
    for (const line of String(event.data).split(/\r?\n/)) if (line.trim() !== "") send(line);
};
