// Reading the engine's lines: search reports ("info ... score ... pv ..."),
// scores from White's side, and principal variations in standard notation.
import { Chess } from "chess.js";

// The fields of an "info" line that reports a search (one with a depth), or
// null for any other line (currmove reports, strings, ...).
export function parseInfo(line) {
    const words = line.trim().split(/\s+/);
    if (words[0] !== "info" || words.includes("string")) return null;
    const info = { pv: [] };
    for (let i = 1; i < words.length; i++) {
        const word = words[i];
        const next = () => Number(words[++i]);
        switch (word) {
            case "depth":
                info.depth = next();
                break;
            case "seldepth":
                info.seldepth = next();
                break;
            case "nodes":
                info.nodes = next();
                break;
            case "nps":
                info.nps = next();
                break;
            case "time":
                info.time = next();
                break;
            case "multipv":
                info.multipv = next();
                break;
            case "score": {
                const kind = words[++i];
                const value = Number(words[++i]);
                if (kind === "cp") info.cp = value;
                else if (kind === "mate") info.mate = value;
                if (words[i + 1] === "lowerbound" || words[i + 1] === "upperbound") info.bound = words[++i];
                break;
            }
            case "pv":
                info.pv = words.slice(i + 1);
                i = words.length;
                break;
            default:
                break;
        }
    }
    return Number.isFinite(info.depth) ? info : null;
}

// The engine scores from the side to move; the page shows White's side.
export function whiteScore(info, sideToMove) {
    const sign = sideToMove === "b" ? -1 : 1;
    if (Number.isFinite(info.mate)) return { mate: sign * info.mate };
    if (Number.isFinite(info.cp)) return { cp: sign * info.cp };
    return null;
}

// "+0.34", "-1.20", "0.00"; "#3" (White mates in three), "#-2" (Black mates
// in two).
export function formatScore(score) {
    if (!score) return "";
    if ("mate" in score) return `#${score.mate}`;
    const pawns = score.cp / 100;
    return (pawns > 0 ? "+" : "") + pawns.toFixed(2);
}

// "e7e8q" as the board's move.
export function uciToMove(uci) {
    const m = /^([a-h][1-8])([a-h][1-8])([qrbn])?$/.exec(uci || "");
    return m ? { from: m[1], to: m[2], promotion: m[3] } : null;
}

// A move as the engine writes it.
export function moveToUci(move) {
    return move.from + move.to + (move.promotion || "");
}

// The moves of a line in standard notation, numbered from the position
// ("12. Nf3 Nc6 13. d4" or "12... Nc6 13. d4"); it ends before a move that
// is not legal where it stands.
export function pvToSan(fen, uciMoves) {
    const game = new Chess(fen);
    const parts = [];
    for (const uci of uciMoves) {
        const move = uciToMove(uci);
        if (!move) break;
        const number = Number(game.fen().split(" ")[5]);
        const white = game.turn() === "w";
        let san;
        try {
            san = game.move(move).san;
        } catch {
            break;
        }
        if (white) parts.push(`${number}. ${san}`);
        else parts.push(parts.length === 0 ? `${number}... ${san}` : san);
    }
    return parts.join(" ");
}
