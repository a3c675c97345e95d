// The page: play against Tarnwick, or have it analyse a position or a game.
// chess.js keeps the rules (legal moves, the end of a game); the engine is
// asked only about positions chess.js accepts.
import { Chess, DEFAULT_POSITION } from "chess.js";
import { Chessboard, COLOR, INPUT_EVENT_TYPE } from "cm-chessboard/src/Chessboard.js";
import { Arrows, ARROW_TYPE } from "cm-chessboard/src/extensions/arrows/Arrows.js";
import { Markers, MARKER_TYPE } from "cm-chessboard/src/extensions/markers/Markers.js";
import { Engine } from "./engine.js";
import { readGameText } from "./gameText.js";
import { formatScore, moveToUci, parseInfo, pvToSan, uciToMove, whiteScore } from "./uci.js";

const $ = (id) => document.getElementById(id);
const here = (file) => new URL(file, import.meta.url).href;

const board = new Chessboard($("board"), {
    position: DEFAULT_POSITION,
    assetsUrl: here("vendor/cm-chessboard/assets/"),
    style: { pieces: { file: here("pieces.svg") }, animationDuration: 150 },
    extensions: [
        { class: Markers, props: { sprite: here("markers.svg"), autoMarkers: MARKER_TYPE.frame } },
        { class: Arrows },
    ],
});
for (const use of document.querySelectorAll("#promotion use")) use.setAttribute("href", here("pieces.svg") + "#w" + use.dataset.piece);

const state = {
    mode: "play",
    engine: null,
    engineReady: false,
    // Play: the game, the user's colour, the engine's time per move.  A
    // token tells an engine answer that still counts from one that came
    // after a take-back, a new game or a change of mode.
    game: new Chess(),
    userColour: "w",
    moveTime: 2000,
    playToken: 0,
    // Analyse: a line of moves from a start position, the number of its
    // moves on the board, and the running analysis (its token).
    line: { startFen: DEFAULT_POSITION, moves: [] },
    index: 0,
    analysing: false,
    analysisToken: 0,
    // A move to a promotion square, waiting for the user's choice of piece;
    // what a move made on the board does once the board has moved it.
    pendingPromotion: null,
    afterInput: null,
};
window.tarnwick = { state, board };

// ---------------------------------------------------------------------------
// Messages and the move list
// ---------------------------------------------------------------------------
function showMessage(text) {
    $("message").textContent = text;
    $("message").hidden = false;
}
function clearMessage() {
    $("message").hidden = true;
    $("message").textContent = "";
}

function resultText(game) {
    if (game.isCheckmate()) return game.turn() === "w" ? "Checkmate: Black wins (0-1)" : "Checkmate: White wins (1-0)";
    if (game.isStalemate()) return "Stalemate: a draw (½-½)";
    if (game.isInsufficientMaterial()) return "Draw: neither side can mate (½-½)";
    if (game.isThreefoldRepetition()) return "Draw by threefold repetition (½-½)";
    if (game.isDrawByFiftyMoves()) return "Draw by the fifty-move rule (½-½)";
    return null;
}

// The moves in standard notation, numbered; in analysis each move leads to
// its position when clicked.
function renderMoves(moves, current, clickable) {
    const list = $("moves");
    list.replaceChildren();
    list.classList.toggle("clickable", clickable);
    moves.forEach((move, i) => {
        const [, colour, , , , number] = move.before.split(" ");
        if (colour === "w" || i === 0) {
            const n = document.createElement("span");
            n.className = "number";
            n.textContent = colour === "w" ? `${number}.` : `${number}...`;
            list.append(n);
        }
        const m = document.createElement("span");
        m.className = "move" + (i + 1 === current ? " current" : "");
        m.textContent = move.san;
        m.dataset.ply = String(i + 1);
        list.append(m, " ");
    });
}

function markLastMove(move) {
    board.removeMarkers(MARKER_TYPE.square);
    if (move) {
        board.addMarker(MARKER_TYPE.square, move.from);
        board.addMarker(MARKER_TYPE.square, move.to);
    }
}

// ---------------------------------------------------------------------------
// Moves made on the board (both modes)
// ---------------------------------------------------------------------------
function boardGame() {
    return state.mode === "play" ? state.game : lineGame(state.index);
}

function userMayMove() {
    if (!state.engineReady || state.pendingPromotion) return false;
    if (state.mode === "analyse") return true;
    return !resultText(state.game) && state.game.turn() === state.userColour && !state.engine.searching;
}

function onBoardInput(event) {
    switch (event.type) {
        case INPUT_EVENT_TYPE.moveInputStarted: {
            if (!userMayMove()) return false;
            const moves = boardGame().moves({ square: event.squareFrom, verbose: true });
            if (moves.length === 0) return false;
            board.addLegalMovesMarkers(moves);
            return true;
        }
        case INPUT_EVENT_TYPE.validateMoveInput: {
            board.removeLegalMovesMarkers();
            const game = boardGame();
            const moves = game.moves({ square: event.squareFrom, verbose: true }).filter((m) => m.to === event.squareTo);
            if (moves.length === 0) return false;
            if (moves.some((m) => m.promotion)) {
                askPromotion(event.squareFrom, event.squareTo, game.turn());
                return false;
            }
            // The board moves the piece itself once this returns; the rest
            // (castling's rook, an en-passant capture, the engine's turn)
            // follows when it has.
            state.afterInput = userMove({ from: event.squareFrom, to: event.squareTo });
            return true;
        }
        case INPUT_EVENT_TYPE.moveInputFinished: {
            const after = state.afterInput;
            state.afterInput = null;
            if (after) after();
            return undefined;
        }
        case INPUT_EVENT_TYPE.moveInputCanceled:
            board.removeLegalMovesMarkers();
            return undefined;
        default:
            return undefined;
    }
}

function askPromotion(from, to, colour) {
    state.pendingPromotion = { from, to };
    for (const use of document.querySelectorAll("#promotion use"))
        use.setAttribute("href", here("pieces.svg") + "#" + colour + use.dataset.piece);
    $("promotion").hidden = false;
}

$("promotion").addEventListener("click", (event) => {
    const button = event.target.closest("button");
    if (!button || !state.pendingPromotion) return;
    const move = { ...state.pendingPromotion, promotion: button.dataset.piece || undefined };
    state.pendingPromotion = null;
    $("promotion").hidden = true;
    if (move.promotion) userMove(move)();
    else showCurrentMode();
});

// Make the user's move in the game or the line; returns what shows it and
// carries on.
function userMove(move) {
    if (state.mode === "play") {
        state.game.move(move);
        return afterPlayMove;
    }
    const played = lineGame(state.index).move(move);
    const next = state.line.moves[state.index];
    // The line's own next move is followed; another move starts a new line
    // from here.
    if (!(next && next.san === played.san)) state.line.moves = state.line.moves.slice(0, state.index).concat([played]);
    const index = state.index + 1;
    return () => goTo(index);
}

function showCurrentMode() {
    if (state.mode === "play") showPlay();
    else showAnalyse();
}

// ---------------------------------------------------------------------------
// Play
// ---------------------------------------------------------------------------
function playPositionLine() {
    const moves = state.game.history({ verbose: true }).map(moveToUci);
    return moves.length ? `position startpos moves ${moves.join(" ")}` : "position startpos";
}

function showPlay() {
    const history = state.game.history({ verbose: true });
    board.setPosition(state.game.fen(), true);
    markLastMove(history[history.length - 1]);
    renderMoves(history, history.length, false);
    const result = resultText(state.game);
    let status;
    if (!state.engineReady) status = "Waiting for the engine…";
    else if (result) status = result;
    else if (state.game.turn() === state.userColour) status = "Your move";
    else status = "Tarnwick is thinking…";
    $("play-status").textContent = status;
    // Something to take back once the user has moved.
    $("take-back").disabled = history.length < (state.userColour === "w" ? 1 : 2);
}

function afterPlayMove() {
    showPlay();
    if (!resultText(state.game) && state.game.turn() !== state.userColour) engineMove();
}

async function engineMove() {
    if (!state.engineReady || state.mode !== "play") return;
    const token = ++state.playToken;
    $("play-status").textContent = "Tarnwick is thinking…";
    const answer = await state.engine.search(playPositionLine(), `go movetime ${state.moveTime}`);
    if (token !== state.playToken || state.mode !== "play") return;
    let played = null;
    try {
        played = state.game.move(uciToMove(answer.bestmove));
    } catch {
        played = null;
    }
    if (!played) {
        showMessage(`The engine answered "${answer.bestmove}", which is no legal move here.`);
        showPlay();
        return;
    }
    afterPlayMove();
}

async function newGame() {
    clearMessage();
    state.playToken++;
    await state.engine?.stop();
    state.game = new Chess();
    state.userColour = $("play-colour").value;
    state.moveTime = Number($("play-time").value);
    await state.engine?.newGame();
    board.setOrientation(state.userColour === "w" ? COLOR.white : COLOR.black);
    afterPlayMove();
}

async function takeBack() {
    clearMessage();
    state.playToken++;
    await state.engine?.stop();
    // Back to the user's last turn (the engine's reply, if any, goes too).
    state.game.undo();
    if (state.game.turn() !== state.userColour) state.game.undo();
    // Back at the start with Black, the engine opens again.
    afterPlayMove();
}

$("new-game").addEventListener("click", newGame);
$("take-back").addEventListener("click", takeBack);
$("play-time").addEventListener("change", () => (state.moveTime = Number($("play-time").value)));
$("play-colour").addEventListener("change", newGame);

// ---------------------------------------------------------------------------
// Analyse
// ---------------------------------------------------------------------------
function lineGame(index) {
    const game = new Chess(state.line.startFen);
    for (const move of state.line.moves.slice(0, index)) game.move(move.san);
    return game;
}

function analysePositionLine() {
    const moves = state.line.moves.slice(0, state.index).map(moveToUci);
    return `position fen ${state.line.startFen}` + (moves.length ? ` moves ${moves.join(" ")}` : "");
}

function clearAnalysis() {
    $("an-score").textContent = "–";
    $("an-depth").textContent = "–";
    $("an-nps").textContent = "–";
    $("an-pv").textContent = "";
    board.removeArrows();
}

function formatSpeed(nps) {
    if (!Number.isFinite(nps)) return "–";
    if (nps >= 1e6) return `${(nps / 1e6).toFixed(2)} Mn/s`;
    return `${Math.round(nps / 1e3)} kn/s`;
}

function showInfo(line, fen) {
    const info = parseInfo(line);
    if (!info) return;
    if (info.nps !== undefined) $("an-nps").textContent = formatSpeed(info.nps);
    if (info.pv.length === 0) return;
    $("an-depth").textContent = info.seldepth ? `${info.depth}/${info.seldepth}` : String(info.depth);
    $("an-score").textContent = formatScore(whiteScore(info, fen.split(" ")[1])) + (info.bound ? " ?" : "");
    $("an-pv").textContent = pvToSan(fen, info.pv);
    const best = uciToMove(info.pv[0]);
    board.removeArrows();
    if (best) board.addArrow(ARROW_TYPE.info, best.from, best.to);
}

async function runAnalysis() {
    const token = ++state.analysisToken;
    clearAnalysis();
    const game = lineGame(state.index);
    const fen = game.fen();
    const result = resultText(game);
    if (result && game.moves().length === 0) {
        $("analyse-status").textContent = `${result}: nothing to analyse`;
        state.analysing = false;
        showAnalyseButtons();
        return;
    }
    $("analyse-status").textContent = "Analysing… (Stop ends it)";
    await state.engine.search(analysePositionLine(), "go infinite", (line) => {
        if (token === state.analysisToken) showInfo(line, fen);
    });
    if (token !== state.analysisToken) return;
    state.analysing = false;
    showAnalyseButtons();
    $("analyse-status").textContent = `Stopped at depth ${$("an-depth").textContent}`;
}

function showAnalyseButtons() {
    $("analyse-toggle").textContent = state.analysing ? "Stop" : "Analyse";
    $("nav-first").disabled = $("nav-prev").disabled = state.index === 0;
    $("nav-next").disabled = $("nav-last").disabled = state.index >= state.line.moves.length;
}

function showAnalyse() {
    const game = lineGame(state.index);
    board.setPosition(game.fen(), true);
    board.setOrientation(COLOR.white);
    markLastMove(state.line.moves[state.index - 1]);
    renderMoves(state.line.moves, state.index, true);
    showAnalyseButtons();
    if (!state.analysing) {
        const result = resultText(game);
        $("analyse-status").textContent = result || "";
    }
}

// Put the line at `index` moves; a running analysis moves along.
function goTo(index) {
    state.index = Math.max(0, Math.min(index, state.line.moves.length));
    showAnalyse();
    if (state.analysing) runAnalysis();
    else clearAnalysis();
}

async function loadGame() {
    const read = readGameText($("game-text").value);
    if (!read.ok) {
        showMessage(read.error);
        return;
    }
    clearMessage();
    state.analysisToken++;
    state.analysing = false;
    await state.engine?.stop();
    state.line = { startFen: read.startFen, moves: read.moves };
    state.index = read.moves.length;
    clearAnalysis();
    showAnalyse();
}

async function toggleAnalysis() {
    if (!state.engineReady) return;
    if (state.analysing) {
        state.analysing = false;
        showAnalyseButtons();
        await state.engine.stop();
        return;
    }
    clearMessage();
    state.analysing = true;
    showAnalyseButtons();
    runAnalysis();
}

$("load-game").addEventListener("click", loadGame);
$("analyse-toggle").addEventListener("click", toggleAnalysis);
$("nav-first").addEventListener("click", () => goTo(0));
$("nav-prev").addEventListener("click", () => goTo(state.index - 1));
$("nav-next").addEventListener("click", () => goTo(state.index + 1));
$("nav-last").addEventListener("click", () => goTo(state.line.moves.length));
$("moves").addEventListener("click", (event) => {
    const ply = event.target.dataset?.ply;
    if (state.mode === "analyse" && ply) goTo(Number(ply));
});
document.addEventListener("keydown", (event) => {
    if (state.mode !== "analyse" || event.target.closest("textarea, input, select")) return;
    if (event.key === "ArrowLeft") goTo(state.index - 1);
    else if (event.key === "ArrowRight") goTo(state.index + 1);
});

// ---------------------------------------------------------------------------
// Modes, options and the engine
// ---------------------------------------------------------------------------
async function setMode(mode) {
    if (mode === state.mode) return;
    state.playToken++;
    state.analysisToken++;
    state.analysing = false;
    state.pendingPromotion = null;
    $("promotion").hidden = true;
    clearMessage();
    state.mode = mode;
    $("mode-play").setAttribute("aria-selected", String(mode === "play"));
    $("mode-analyse").setAttribute("aria-selected", String(mode === "analyse"));
    $("play-panel").hidden = mode !== "play";
    $("analyse-panel").hidden = mode !== "analyse";
    board.removeArrows();
    await state.engine?.stop();
    if (mode === "play") {
        board.setOrientation(state.userColour === "w" ? COLOR.white : COLOR.black);
        afterPlayMove();
    } else {
        clearAnalysis();
        showAnalyse();
    }
}

$("mode-play").addEventListener("click", () => setMode("play"));
$("mode-analyse").addEventListener("click", () => setMode("analyse"));

// One search thread per core the browser reports, up to eight.
const cores = Math.max(1, Math.min(8, navigator.hardwareConcurrency || 1));
for (let n = 1; n <= cores; n++) $("threads").append(new Option(String(n), String(n)));
$("threads").addEventListener("change", async () => {
    if (!state.engineReady) return;
    const wasThinking = state.mode === "play" && state.engine.searching;
    state.playToken++;
    await state.engine.setOption("Threads", $("threads").value);
    if (state.mode === "analyse" && state.analysing) runAnalysis();
    if (wasThinking) engineMove();
});

async function startEngine() {
    if (!window.crossOriginIsolated) {
        $("engine-state").textContent = "Engine unavailable";
        showMessage(
            "The engine needs a page served with the headers Cross-Origin-Opener-Policy: same-origin and " +
                "Cross-Origin-Embedder-Policy: require-corp (web/serve.mjs sends them).",
        );
        return;
    }
    const engine = new Engine(here("engine-worker.js"));
    state.engine = engine;
    window.tarnwick.engine = engine;
    engine.onLine((line) => {
        if (/position rejected|no valid position/.test(line)) showMessage(`The engine cannot use this position: ${line.replace(/^info string /, "")}`);
    });
    try {
        const name = await engine.start();
        state.engineReady = true;
        $("engine-state").textContent = `${name} ready`;
    } catch (error) {
        $("engine-state").textContent = "Engine unavailable";
        showMessage(`The engine did not start: ${error.message}`);
        return;
    }
    if (state.mode === "play") afterPlayMove();
    else showAnalyse();
}

board.enableMoveInput(onBoardInput);
showPlay();
showAnalyseButtons();
startEngine();
