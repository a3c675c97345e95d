// A position or a game pasted by the user: a FEN, or a PGN (its main line).
// What the page cannot read gets a message and never reaches the engine.
import { Chess, DEFAULT_POSITION, validateFen } from "chess.js";

// True when the side that is not to move stands in check: the side to move
// could take the king, which no game reaches.  chess.js accepts such a
// position; the engine would refuse it.
function opponentInCheck(game) {
    const mover = game.turn();
    const other = mover === "w" ? "b" : "w";
    for (const row of game.board())
        for (const square of row)
            if (square && square.type === "k" && square.color === other) return game.isAttacked(square.square, mover);
    return false;
}

function fenProblem(fen) {
    const check = validateFen(fen);
    if (!check.ok) return check.error.replace(/^Invalid FEN: /, "");
    if (opponentInCheck(new Chess(fen))) return "the side not to move is in check";
    return null;
}

// A FEN has eight ranks split by slashes; anything else is read as a PGN.
function looksLikeFen(text) {
    return /^[^\s[\]]*\/[^\s]*\/[^\s]*\/[^\s]*\/[^\s]*\/[^\s]*\/[^\s]*\/[^\s]*(\s|$)/.test(text) && !/\d+\.\s*[a-zA-Z]/.test(text);
}

// { ok: true, startFen, moves: [verbose moves of chess.js] } or
// { ok: false, error: "a message for the user" }.
export function readGameText(input) {
    const text = String(input ?? "").trim();
    if (text === "") return { ok: false, error: "Paste a FEN or a PGN first." };
    if (looksLikeFen(text)) {
        // Move counters are often left out; they are filled in as "0 1".
        let fen = text.replace(/\s+/g, " ");
        const fields = fen.split(" ");
        if (fields.length === 4) fen += " 0 1";
        else if (fields.length === 5) fen += " 1";
        const problem = fenProblem(fen);
        if (problem) return { ok: false, error: `This FEN cannot be read: ${problem}.` };
        return { ok: true, startFen: new Chess(fen).fen(), moves: [] };
    }
    const game = new Chess();
    try {
        game.loadPgn(text);
    } catch (error) {
        const reason = String(error && error.message ? error.message : error).split("\n")[0];
        return { ok: false, error: `This PGN cannot be read: ${reason}` };
    }
    const moves = game.history({ verbose: true });
    const startFen = moves.length > 0 ? moves[0].before : game.fen();
    if (moves.length === 0 && game.fen() === DEFAULT_POSITION && !/^\s*\[/.test(text))
        return { ok: false, error: "This is neither a FEN nor a PGN with moves." };
    const problem = fenProblem(startFen);
    if (problem) return { ok: false, error: `The game's starting position cannot be used: ${problem}.` };
    return { ok: true, startFen, moves };
}
