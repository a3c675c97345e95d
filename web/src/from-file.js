// Opened from disk (file://), a browser runs none of the page's modules, and
// the engine could not be loaded either: the page says how to serve it, and
// shows the starting position on a board drawn here.
if (location.protocol === "file:") {
    const note = document.getElementById("from-file");
    note.hidden = false;
    note.innerHTML =
        "Opened from disk, this page cannot run: a browser loads its modules and its engine only over HTTP. " +
        "Serve its folder with any static server, for example <code>python3 -m http.server 8000</code> in this folder " +
        "(then open http://localhost:8000/), or <code>node web/serve.mjs</code> from Tarnwick's source for its threads.";
    document.getElementById("engine-state").textContent = "No engine (opened from disk)";
    // Nothing here works without the page's code: only the board is shown.
    document.body.dataset.mode = "play";
    for (const id of ["play-panel", "flip"]) document.getElementById(id).hidden = true;
    document.querySelector(".settings").hidden = true;
    const rows = ["rnbqkbnr", "pppppppp", "8", "8", "8", "8", "PPPPPPPP", "RNBQKBNR"];
    const glyph = { k: "♚", q: "♛", r: "♜", b: "♝", n: "♞", p: "♟" };
    const board = document.createElement("div");
    board.className = "static-board";
    rows.forEach((row, r) => {
        const cells = row === "8" ? "........" : row;
        [...cells].forEach((c, f) => {
            const square = document.createElement("span");
            square.className = (r + f) % 2 ? "dark" : "light";
            if (c !== ".") {
                square.textContent = glyph[c.toLowerCase()];
                square.classList.add(c === c.toUpperCase() ? "white" : "black");
            }
            board.append(square);
        });
    });
    document.getElementById("board").append(board);
}
