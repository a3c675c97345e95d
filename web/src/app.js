// The page: play against Tarnwick, or have it analyse a position or a game.
// chess.js keeps the rules (legal moves, the end of a game); the engine is
// asked only about positions chess.js accepts.
import { Chess, DEFAULT_POSITION } from "chess.js";
import { Chessboard, COLOR, INPUT_EVENT_TYPE } from "cm-chessboard/src/Chessboard.js";
import { Arrows, ARROW_TYPE } from "cm-chessboard/src/extensions/arrows/Arrows.js";
import { Markers, MARKER_TYPE } from "cm-chessboard/src/extensions/markers/Markers.js";
import { Engine } from "./engine.js";
import {
    deleteNode,
    indicesOf,
    mainLine,
    makeMainLine,
    moveNumber,
    newTree,
    nodeAt,
    onMainLine,
    pathTo,
    playAt,
    readGameText,
    writePgn,
} from "./gameText.js";
import { LEVELS, goForLevel } from "./levels.js";
import { classifyMove, drawGraph, winPercent } from "./review.js";
import { formatScore, moveToUci, parseInfo, pvToSan, uciToMove, whiteScore } from "./uci.js";

const $ = (id) => document.getElementById(id);
const here = (file) => new URL(file, import.meta.url).href;
const CHECK_MARKER = { class: "marker-check", slice: "markerCheck" };
const STORAGE_KEY = "tarnwick.page";

const board = new Chessboard($("board"), {
    position: DEFAULT_POSITION,
    assetsUrl: here("vendor/cm-chessboard/assets/"),
    style: { pieces: { file: here("pieces.svg") }, animationDuration: 150 },
    extensions: [
        { class: Markers, props: { sprite: here("markers.svg"), autoMarkers: MARKER_TYPE.frame } },
        { class: Arrows },
    ],
});
for (const use of document.querySelectorAll("#promotion use"))
    use.setAttribute("href", here("pieces.svg") + "#w" + use.dataset.piece);

const state = {
    mode: "play",
    engine: null,
    engineReady: false,
    threaded: false,
    // Play: the game, the user's colour, the level (0: full strength), the
    // engine's time per move.  A token tells an engine answer that still
    // counts from one that came after a take-back, a new game or a change
    // of mode.
    game: new Chess(),
    userColour: "w",
    level: 0,
    moveTime: 2000,
    playToken: 0,
    // Analyse: the tree of moves, its PGN tags, the node shown, and the
    // running analysis (its token).  `flipped`: Black at the bottom.
    root: newTree(DEFAULT_POSITION),
    tags: {},
    node: null,
    analysing: false,
    analysisToken: 0,
    flipped: false,
    // Evaluations of positions (by FEN) from the review: { score (White's
    // side), best (UCI), depth }.
    evals: new Map(),
    reviewing: false,
    reviewToken: 0,
    // A move to a promotion square, waiting for the user's choice of piece;
    // what a move made on the board does once the board has moved it.
    pendingPromotion: null,
    afterInput: null,
};
state.node = state.root;
// For the tests and for debugging: the state, the board, the position line
// of what the analysis board shows.
window.tarnwick = { state, board, positionLine: () => analysePositionLine() };

// ---------------------------------------------------------------------------
// Messages, the board and the move lists
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

// The board turns only when it has to: a turn already under way would be
// refused.
function orient(colour) {
    const wanted = colour === "w" ? COLOR.white : COLOR.black;
    if (board.getOrientation() !== wanted) board.setOrientation(wanted);
}

// The position on the board, the last move and a king in check marked.
function showPosition(fen, lastMove) {
    board.setPosition(fen, true);
    board.removeMarkers(MARKER_TYPE.square);
    board.removeMarkers(CHECK_MARKER);
    if (lastMove) {
        board.addMarker(MARKER_TYPE.square, lastMove.from);
        board.addMarker(MARKER_TYPE.square, lastMove.to);
    }
    const game = new Chess(fen);
    if (game.inCheck()) {
        const king = game
            .board()
            .flat()
            .find((s) => s && s.type === "k" && s.color === game.turn());
        if (king) board.addMarker(CHECK_MARKER, king.square);
    }
}

// The move list keeps the current move in view, scrolling only itself.
function keepCurrentInView() {
    const list = $("moves");
    const current = list.querySelector(".current");
    if (!current) {
        list.scrollTop = 0;
        return;
    }
    const top = current.offsetTop - list.offsetTop;
    if (top < list.scrollTop) list.scrollTop = top;
    else if (top + current.offsetHeight > list.scrollTop + list.clientHeight)
        list.scrollTop = top + current.offsetHeight - list.clientHeight;
}

const MARK_SYMBOL = { inaccuracy: "?!", mistake: "?", blunder: "??" };

// A move of the list: its number when needed, its SAN, its review mark.
function moveElement(node, forceNumber, list, onMain) {
    const parts = [];
    const n = moveNumber(node);
    if (node.colour === "w" || forceNumber) {
        const number = document.createElement("span");
        number.className = "number";
        number.textContent = node.colour === "w" ? `${n}.` : `${n}...`;
        parts.push(number);
    }
    const move = document.createElement("span");
    move.className = "move" + (node === state.node ? " current" : "");
    move.textContent = node.san;
    const mark = state.mode === "analyse" && onMain ? markOf(node) : null;
    if (mark) {
        move.textContent += MARK_SYMBOL[mark.kind];
        move.classList.add(mark.kind);
    }
    move.dataset.node = String(list.length);
    list.push(node);
    parts.push(move, " ");
    return parts;
}

// The tree: the main line inline, each side line on a line of its own,
// indented under its move (a side line's own side lines inside it).
function renderTree(root, clickable) {
    const container = $("moves");
    const nodes = [];
    container.replaceChildren();
    container.classList.toggle("clickable", clickable);
    const writeLine = (parent, into, depth, forceNumber) => {
        let number = forceNumber;
        let target = into;
        for (let node = parent; node.children.length; node = node.children[0]) {
            const [main, ...others] = node.children;
            target.append(...moveElement(main, number, nodes, depth === 0));
            number = false;
            if (others.length) {
                for (const side of others) {
                    const block = document.createElement("div");
                    block.className = "variation";
                    block.append(...moveElement(side, true, nodes, false));
                    writeLine(side, block, depth + 1, false);
                    into.append(block);
                }
                // The main line goes on after its side lines.
                target = document.createElement("span");
                target.className = "line";
                into.append(target);
                number = true;
            }
        }
    };
    writeLine(root, container, 0, true);
    state.listed = nodes;
    keepCurrentInView();
}

// ---------------------------------------------------------------------------
// Moves made on the board (both modes)
// ---------------------------------------------------------------------------
function boardGame() {
    return state.mode === "play" ? state.game : new Chess(state.node.fen);
}

function userMayMove() {
    if (state.pendingPromotion) return false;
    if (state.mode === "analyse") return true;
    return (
        state.engineReady &&
        !resultText(state.game) &&
        state.game.turn() === state.userColour &&
        !state.engine.searching
    );
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
            const moves = game
                .moves({ square: event.squareFrom, verbose: true })
                .filter((m) => m.to === event.squareTo);
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

// Make the user's move in the game or the tree; returns what shows it and
// carries on.  In the tree a move the node has already is followed; any
// other starts a side line there (the main line is kept).
function userMove(move) {
    if (state.mode === "play") {
        state.game.move(move);
        return afterPlayMove;
    }
    const child = playAt(state.node, move);
    return () => goTo(child);
}

function showCurrentMode() {
    if (state.mode === "play") showPlay();
    else showAnalyse();
}

// ---------------------------------------------------------------------------
// Saved between visits: the game, the tree, the settings
// ---------------------------------------------------------------------------
function save() {
    try {
        const moves = state.game.history({ verbose: true }).map(moveToUci);
        localStorage.setItem(
            STORAGE_KEY,
            JSON.stringify({
                mode: state.mode,
                play: { moves, userColour: state.userColour, level: state.level, moveTime: state.moveTime },
                analyse: { pgn: writePgn(state.root, state.tags), at: indicesOf(state.node), flipped: state.flipped },
            }),
        );
    } catch {
        // Storage full or switched off: the page works on without it.
    }
}

function restore() {
    let saved = null;
    try {
        saved = JSON.parse(localStorage.getItem(STORAGE_KEY) || "null");
    } catch {
        saved = null;
    }
    if (saved?.play) {
        const game = new Chess();
        try {
            for (const uci of saved.play.moves || []) game.move(uciToMove(uci));
        } catch {
            // A stored game that no longer reads: it stops at its last legal move.
        }
        state.game = game;
        state.userColour = saved.play.userColour === "b" ? "b" : "w";
        state.level = LEVELS.some((l) => l.level === saved.play.level) ? saved.play.level : 0;
        if ([...$("play-time").options].some((o) => Number(o.value) === saved.play.moveTime))
            state.moveTime = saved.play.moveTime;
    }
    if (saved?.analyse?.pgn) {
        const read = readGameText(saved.analyse.pgn);
        if (read.ok) {
            state.root = read.root;
            state.tags = read.tags;
            state.node = nodeAt(read.root, saved.analyse.at);
        }
        state.flipped = Boolean(saved.analyse.flipped);
    }
    if (openLink()) return "analyse";
    return saved?.mode === "analyse" ? "analyse" : "play";
}

// A link with a position or a game after '#' ("#fen=..." or "#pgn=...",
// URL-encoded) opens it on the analysis board; true when it did.
function openLink() {
    const fragment = new URLSearchParams(location.hash.slice(1));
    const linked = fragment.get("pgn") ?? fragment.get("fen");
    if (!linked) return false;
    const read = readGameText(linked);
    if (!read.ok) {
        showMessage(`The link's position cannot be opened. ${read.error}`);
        return false;
    }
    state.root = read.root;
    state.tags = read.tags;
    state.node = fragment.has("pgn") ? mainLine(read.root).pop() || read.root : read.root;
    state.evals.clear();
    return true;
}

window.addEventListener("hashchange", async () => {
    await stopReview();
    if (openLink()) setMode("analyse", true);
});

// ---------------------------------------------------------------------------
// Play
// ---------------------------------------------------------------------------
function playPositionLine() {
    const moves = state.game.history({ verbose: true }).map(moveToUci);
    return moves.length ? `position startpos moves ${moves.join(" ")}` : "position startpos";
}

// The game as a tree (its moves the main line).
function gameTree() {
    const root = newTree(DEFAULT_POSITION);
    let node = root;
    for (const move of state.game.history({ verbose: true })) node = playAt(node, move.san);
    return { root, node };
}

function showPlay() {
    const history = state.game.history({ verbose: true });
    showPosition(state.game.fen(), history[history.length - 1]);
    const { root, node } = gameTree();
    const shown = state.node;
    state.node = node;
    renderTree(root, false);
    state.node = shown;
    const result = resultText(state.game);
    let status;
    if (!state.engineReady) status = "Waiting for the engine…";
    else if (result) status = result;
    else if (state.game.turn() === state.userColour) status = "Your move";
    else status = "Tarnwick is thinking…";
    $("play-status").textContent = status;
    // Something to take back once the user has moved.
    $("take-back").disabled = history.length < (state.userColour === "w" ? 1 : 2);
    $("play-time").disabled = state.level !== 0;
    save();
}

function gameInProgress() {
    return state.game.history().length > 0 && !resultText(state.game);
}

function afterPlayMove() {
    showPlay();
    if (!resultText(state.game) && state.game.turn() !== state.userColour) engineMove();
}

async function engineMove() {
    if (!state.engineReady || state.mode !== "play") return;
    const token = ++state.playToken;
    $("play-status").textContent = "Tarnwick is thinking…";
    const answer = await state.engine.search(playPositionLine(), goForLevel(state.level, state.moveTime));
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
    await state.engine?.newGame();
    orient(state.userColour);
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

// The game on the analysis board: a new tree, the last move shown.
function analyseGame() {
    const { root, node } = gameTree();
    state.root = root;
    state.tags = {
        White: state.userColour === "w" ? "You" : "Tarnwick",
        Black: state.userColour === "w" ? "Tarnwick" : "You",
    };
    state.node = node;
    state.evals.clear();
    state.flipped = state.userColour === "b";
    setMode("analyse");
}

$("new-game").addEventListener("click", () => {
    if (gameInProgress() && !confirm("Start a new game? The game in progress ends.")) return;
    newGame();
});
$("take-back").addEventListener("click", takeBack);
$("analyse-game").addEventListener("click", analyseGame);
$("play-time").addEventListener("change", () => {
    state.moveTime = Number($("play-time").value);
    save();
});
for (const { level } of LEVELS) $("play-level").append(new Option(`Level ${level}`, String(level)));
$("play-level").addEventListener("change", () => {
    state.level = Number($("play-level").value);
    showPlay();
});
$("play-colour").addEventListener("change", () => {
    if (
        gameInProgress() &&
        !confirm(
            `Start a new game as ${$("play-colour").value === "w" ? "White" : "Black"}? The game in progress ends.`,
        )
    ) {
        $("play-colour").value = state.userColour;
        return;
    }
    newGame();
});

// ---------------------------------------------------------------------------
// Analyse
// ---------------------------------------------------------------------------
function analysePositionLine(node = state.node) {
    const moves = pathTo(node).map((n) => n.uci);
    return `position fen ${state.root.fen}` + (moves.length ? ` moves ${moves.join(" ")}` : "");
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

// The bar beside the board: White's share is White's winning chances; a
// mate (or a won tablebase ending) fills it.
function showEvalBar(score) {
    const fill = $("eval-fill");
    const text = $("eval-text");
    if (!score) {
        fill.style.height = "50%";
        text.textContent = "";
        return;
    }
    const white = winPercent(score);
    fill.style.height = `${white.toFixed(1)}%`;
    // The figure sits at the bottom: on White's share, or on Black's when
    // White's is too thin to hold it.
    text.classList.toggle("on-dark", white < 8);
    text.textContent =
        "mate" in score
            ? formatScore(score)
            : (Math.abs(score.cp) >= 1000 ? Math.round(score.cp / 100) : (score.cp / 100).toFixed(1))
                  .toString()
                  .replace("-0.0", "0.0");
}

function showInfo(line, fen) {
    const info = parseInfo(line);
    if (!info) return;
    if (info.nps !== undefined) $("an-nps").textContent = formatSpeed(info.nps);
    if (info.pv.length === 0) return;
    // A position the engine settles without a search (a mate on the board
    // in one, a tablebase result) reports no real depth.
    $("an-depth").textContent =
        info.depth >= 100 ? "—" : info.seldepth ? `${info.depth}/${info.seldepth}` : String(info.depth);
    const score = whiteScore(info, fen.split(" ")[1]);
    $("an-score").textContent = formatScore(score) + (info.bound ? " ?" : "");
    if (!info.bound) showEvalBar(score);
    $("an-pv").textContent = pvToSan(fen, info.pv);
    const best = uciToMove(info.pv[0]);
    board.removeArrows();
    if (best) board.addArrow(ARROW_TYPE.info, best.from, best.to);
}

// Analysis is switched on or off by the user; at a position where the game
// is over it waits, and it starts again on a position with moves.
async function runAnalysis() {
    const token = ++state.analysisToken;
    clearAnalysis();
    const node = state.node;
    const game = new Chess(node.fen);
    const result = resultText(game);
    if (result && game.moves().length === 0) {
        await state.engine.stop();
        if (token === state.analysisToken) $("analyse-status").textContent = `${result}: nothing to analyse`;
        return;
    }
    $("analyse-status").textContent = "Analysing… (Stop ends it)";
    await state.engine.search(analysePositionLine(node), "go infinite", (line) => {
        if (token === state.analysisToken) showInfo(line, node.fen);
    });
    if (token !== state.analysisToken) return;
    state.analysing = false;
    showAnalyseButtons();
    $("analyse-status").textContent = `Stopped at depth ${$("an-depth").textContent}`;
}

function showAnalyseButtons() {
    $("analyse-toggle").textContent = state.analysing ? "Stop" : "Analyse";
    const atStart = !state.node.parent;
    $("nav-first").disabled = $("nav-prev").disabled = atStart || state.mode !== "analyse";
    $("nav-next").disabled = $("nav-last").disabled = !state.node.children.length || state.mode !== "analyse";
    $("main-line").disabled = onMainLine(state.node);
    $("delete-move").disabled = atStart;
    $("review-toggle").textContent = state.reviewing ? "Stop review" : "Review game";
}

function showAnalyse() {
    showPosition(state.node.fen, state.node.parent ? state.node : null);
    orient(state.flipped ? "b" : "w");
    renderTree(state.root, true);
    showAnalyseButtons();
    const cached = state.evals.get(state.node.fen);
    if (!state.analysing && !state.reviewing) {
        const result = resultText(new Chess(state.node.fen));
        $("analyse-status").textContent = result || "";
        showEvalBar(cached ? cached.score : null);
    }
    showReviewGraph();
    save();
}

// Show `node` of the tree; a running analysis moves along.
function goTo(node) {
    if (!node) return;
    state.node = node;
    showAnalyse();
    if (state.analysing && !state.reviewing) runAnalysis();
    else if (!state.analysing) clearAnalysis();
}

async function loadGame() {
    const read = readGameText($("game-text").value);
    if (!read.ok) {
        // The board keeps what it showed, and so does every analysis.
        showMessage(`${read.error} The board keeps the last position read.`);
        return;
    }
    clearMessage();
    await stopReview();
    state.analysisToken++;
    state.analysing = false;
    await state.engine?.stop();
    state.root = read.root;
    state.tags = read.tags;
    state.node = mainLine(read.root).pop() || read.root;
    state.evals.clear();
    clearAnalysis();
    showAnalyse();
}

async function toggleAnalysis() {
    if (!state.engineReady || state.reviewing) return;
    if (state.analysing) {
        state.analysing = false;
        state.analysisToken++;
        showAnalyseButtons();
        await state.engine.stop();
        $("analyse-status").textContent = `Stopped at depth ${$("an-depth").textContent}`;
        return;
    }
    state.analysing = true;
    showAnalyseButtons();
    runAnalysis();
}

// Copies `text`, or leaves it selected in the box when the browser does not
// let the page write to the clipboard.
async function copyText(text, what) {
    $("game-text").value = text;
    try {
        await navigator.clipboard.writeText(text);
        $("analyse-status").textContent = `${what} copied`;
    } catch {
        $("game-text").select();
        $("analyse-status").textContent = `${what} is in the box above: copy it from there`;
    }
}

$("load-game").addEventListener("click", loadGame);
$("analyse-toggle").addEventListener("click", toggleAnalysis);
$("copy-fen").addEventListener("click", () => copyText(state.node.fen, "FEN"));
$("copy-pgn").addEventListener("click", () => copyText(writePgn(state.root, state.tags), "PGN"));
$("nav-first").addEventListener("click", () => goTo(state.root));
$("nav-prev").addEventListener("click", () => goTo(state.node.parent));
$("nav-next").addEventListener("click", () => goTo(state.node.children[0]));
$("nav-last").addEventListener("click", () => {
    let node = state.node;
    while (node.children.length) node = node.children[0];
    goTo(node);
});
$("flip").addEventListener("click", () => {
    if (state.mode === "play") {
        orient(board.getOrientation() === COLOR.white ? "b" : "w");
        return;
    }
    state.flipped = !state.flipped;
    orient(state.flipped ? "b" : "w");
    save();
});
$("main-line").addEventListener("click", () => {
    makeMainLine(state.node);
    showAnalyse();
});
$("delete-move").addEventListener("click", () => {
    if (!state.node.parent) return;
    goTo(deleteNode(state.node));
});
$("moves").addEventListener("click", (event) => {
    const index = event.target.dataset?.node;
    if (state.mode === "analyse" && index !== undefined) goTo(state.listed[Number(index)]);
});
document.addEventListener("keydown", (event) => {
    if (state.mode !== "analyse" || event.target.closest("textarea, input, select")) return;
    const last = () => {
        let node = state.node;
        while (node.children.length) node = node.children[0];
        return node;
    };
    const target = {
        ArrowLeft: () => state.node.parent,
        ArrowRight: () => state.node.children[0],
        ArrowUp: () => state.root,
        Home: () => state.root,
        ArrowDown: last,
        End: last,
    }[event.key];
    if (!target) return;
    event.preventDefault();
    goTo(target());
});

// ---------------------------------------------------------------------------
// Game review
// ---------------------------------------------------------------------------
// The mark of a move of the main line from the review, if both positions
// around it are evaluated: { kind, best (SAN) } or null.
function markOf(node) {
    const before = state.evals.get(node.parent.fen);
    const after = state.evals.get(node.fen);
    if (!before || !after) return null;
    const kind = classifyMove(before.score, after.score, node.colour);
    if (!kind || before.best === node.uci) return null;
    let best = before.best;
    try {
        best = new Chess(node.parent.fen).move(uciToMove(before.best)).san;
    } catch {
        // An answer without a move: left as the engine wrote it.
    }
    return { kind, best };
}

// The evaluation of a position the game cannot go on from.
function finalEval(fen) {
    const game = new Chess(fen);
    if (game.isCheckmate())
        return { score: { mate: 0, winner: game.turn() === "w" ? "b" : "w" }, best: null, depth: 0 };
    if (game.isGameOver()) return { score: { cp: 0 }, best: null, depth: 0 };
    return null;
}

async function review() {
    if (!state.engineReady || state.reviewing) return;
    const token = ++state.reviewToken;
    state.analysisToken++;
    state.analysing = false;
    await state.engine.stop();
    state.reviewing = true;
    showAnalyseButtons();
    const moveTime = Number($("review-time").value);
    const positions = [state.root, ...mainLine(state.root)];
    const progress = $("review-progress");
    progress.hidden = false;
    progress.max = positions.length;
    $("analyse-status").textContent = "Reviewing…";
    for (let i = 0; i < positions.length; i++) {
        if (token !== state.reviewToken) break;
        progress.value = i;
        const node = positions[i];
        if (state.evals.has(node.fen)) continue;
        const final = finalEval(node.fen);
        if (final) {
            state.evals.set(node.fen, final);
            continue;
        }
        let last = null;
        const answer = await state.engine.search(analysePositionLine(node), `go movetime ${moveTime}`, (line) => {
            const info = parseInfo(line);
            if (info && info.pv.length && !info.bound) last = info;
        });
        // A search cut short by "stop" is not kept: its depth is not the
        // review's.
        if (token !== state.reviewToken) break;
        if (!last) continue;
        state.evals.set(node.fen, {
            score: whiteScore(last, node.fen.split(" ")[1]),
            best: answer.bestmove,
            depth: last.depth,
        });
        if (i % 4 === 0 || i === positions.length - 1) showReviewGraph();
    }
    const finished = token === state.reviewToken;
    state.reviewing = false;
    progress.hidden = true;
    showAnalyse();
    $("analyse-status").textContent = finished ? "Review done" : "Review stopped";
}

async function stopReview() {
    if (!state.reviewing) return;
    state.reviewToken++;
    await state.engine?.stop();
}

// The graph, the counts and the list of marked moves.
function showReviewGraph() {
    const line = mainLine(state.root);
    const evaluated = line.filter((n) => state.evals.has(n.fen));
    $("review-result").hidden = evaluated.length === 0;
    if (!evaluated.length) return;
    drawGraph(
        $("review-graph"),
        line.map((n) => state.evals.get(n.fen)?.score ?? null),
        line.indexOf(state.node),
    );
    const counts = { w: { inaccuracy: 0, mistake: 0, blunder: 0 }, b: { inaccuracy: 0, mistake: 0, blunder: 0 } };
    const marks = $("review-marks");
    marks.replaceChildren();
    line.forEach((node, i) => {
        const mark = markOf(node);
        if (!mark) return;
        counts[node.colour][mark.kind]++;
        const item = document.createElement("li");
        item.className = mark.kind;
        item.dataset.ply = String(i + 1);
        const n = moveNumber(node);
        item.textContent = `${n}${node.colour === "w" ? "." : "..."} ${node.san}${MARK_SYMBOL[mark.kind]} ${mark.kind}; best was ${mark.best}`;
        marks.append(item);
    });
    for (const side of ["w", "b"])
        for (const kind of ["inaccuracy", "mistake", "blunder"])
            $(`count-${side}-${kind}`).textContent = String(counts[side][kind]);
}

$("review-toggle").addEventListener("click", () => (state.reviewing ? stopReview() : review()));
const goToPly = (ply) => {
    const node = mainLine(state.root)[ply - 1];
    if (node) goTo(node);
};
$("review-graph").addEventListener("click", (event) => {
    const ply = event.target.closest("[data-ply]")?.dataset.ply;
    if (ply) goToPly(Number(ply));
});
$("review-marks").addEventListener("click", (event) => {
    const ply = event.target.closest("[data-ply]")?.dataset.ply;
    if (ply) goToPly(Number(ply));
});

// ---------------------------------------------------------------------------
// Modes, options and the engine
// ---------------------------------------------------------------------------
async function setMode(mode, force = false) {
    if (mode === state.mode && !force) {
        if (mode === "analyse") showAnalyse();
        return;
    }
    state.playToken++;
    state.analysisToken++;
    state.reviewToken++;
    state.analysing = false;
    state.reviewing = false;
    state.pendingPromotion = null;
    $("promotion").hidden = true;
    clearMessage();
    state.mode = mode;
    document.body.dataset.mode = mode;
    $("mode-play").setAttribute("aria-selected", String(mode === "play"));
    $("mode-analyse").setAttribute("aria-selected", String(mode === "analyse"));
    $("play-panel").hidden = mode !== "play";
    $("analyse-panel").hidden = mode !== "analyse";
    board.removeArrows();
    await state.engine?.stop();
    if (mode === "play") {
        orient(state.userColour);
        showEvalBar(null);
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

// The engine with threads needs a cross-origin isolated page (one served
// with the two isolation headers); anywhere else the page runs the engine on
// one thread.
async function startEngine() {
    state.threaded = window.crossOriginIsolated === true && typeof SharedArrayBuffer === "function";
    const engine = new Engine(here(`engine-worker.js?engine=${state.threaded ? "threads" : "single"}`));
    state.engine = engine;
    window.tarnwick.engine = engine;
    if (!state.threaded) {
        $("engine-note").hidden = false;
        $("engine-note").textContent =
            "One engine thread: this page is not cross-origin isolated (its server sends no COOP/COEP headers), " +
            "and only such a page may share memory with threads.";
        $("threads").disabled = true;
    }
    engine.onLine((line) => {
        if (/position rejected|no valid position/.test(line))
            showMessage(`The engine cannot use this position: ${line.replace(/^info string /, "")}`);
    });
    try {
        const name = await engine.start();
        state.engineReady = true;
        $("engine-state").textContent = `${name} ready · ${state.threaded ? "threads" : "one thread"}`;
    } catch (error) {
        $("engine-state").textContent = "Engine unavailable";
        showMessage(`The engine did not start: ${error.message}`);
        return;
    }
    if (state.mode === "play") afterPlayMove();
    else showAnalyse();
}

// Offline after the first visit: a service worker keeps the page's files.
if ("serviceWorker" in navigator && /^https?:$/.test(location.protocol)) {
    navigator.serviceWorker.register("sw.js").catch((error) => console.warn("no offline copy:", error.message));
}

board.enableMoveInput(onBoardInput);
const firstMode = restore();
$("play-colour").value = state.userColour;
$("play-level").value = String(state.level);
$("play-time").value = String(state.moveTime);
state.mode = null;
setMode(firstMode, true);
startEngine();
