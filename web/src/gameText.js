// Games as the page keeps them: a tree of moves (the main line and its side
// lines), read from what the user pastes (a FEN, or a PGN with its side
// lines and comments) and written back as PGN.  What the page cannot read
// gets a message and never reaches the engine.
import { Chess, validateFen } from "chess.js";

// ---------------------------------------------------------------------------
// The tree
// ---------------------------------------------------------------------------
// A node is a position: the root the start, every other one the position
// after its move.  children[0] continues the line the node is on; the others
// start side lines.  { fen, san, uci, from, to, promotion, colour, parent,
// children, comment, nags }
export function newTree(startFen) {
    return { fen: new Chess(startFen).fen(), parent: null, children: [], comment: "", nags: [] };
}

function childFor(parent, move) {
    return {
        fen: move.after,
        san: move.san,
        uci: move.from + move.to + (move.promotion || ""),
        from: move.from,
        to: move.to,
        promotion: move.promotion,
        colour: move.color,
        parent,
        children: [],
        comment: "",
        nags: [],
    };
}

// Play `move` (SAN, or { from, to, promotion }) at `node`: the child that
// has it already, or a new one after the others (a side line, unless the
// node had none).  Null when the move is not legal there.
export function playAt(node, move) {
    let played;
    try {
        played = new Chess(node.fen).move(move);
    } catch {
        return null;
    }
    const uci = played.from + played.to + (played.promotion || "");
    const known = node.children.find((c) => c.uci === uci);
    if (known) return known;
    const child = childFor(node, played);
    node.children.push(child);
    return child;
}

export function rootOf(node) {
    while (node.parent) node = node.parent;
    return node;
}

// The moves from the root to `node`.
export function pathTo(node) {
    const path = [];
    for (; node.parent; node = node.parent) path.unshift(node);
    return path;
}

// The node reached from the root by child indices (as saved), as far as
// they lead.
export function nodeAt(root, indices) {
    let node = root;
    for (const i of indices || []) {
        if (!node.children[i]) break;
        node = node.children[i];
    }
    return node;
}
export function indicesOf(node) {
    return pathTo(node).map((n) => n.parent.children.indexOf(n));
}

// The main line: the root's first children, one after the other.
export function mainLine(root) {
    const line = [];
    for (let n = root.children[0]; n; n = n.children[0]) line.push(n);
    return line;
}

// Is `node` on the main line?
export function onMainLine(node) {
    for (; node.parent; node = node.parent) if (node.parent.children[0] !== node) return false;
    return true;
}

// The line through `node` becomes the main line: at every branch on the way
// to it, its branch moves to the front.
export function makeMainLine(node) {
    for (; node.parent; node = node.parent) {
        const siblings = node.parent.children;
        siblings.splice(siblings.indexOf(node), 1);
        siblings.unshift(node);
    }
}

// Deletes `node` and what follows it; returns its parent.
export function deleteNode(node) {
    const parent = node.parent;
    if (!parent) return node;
    parent.children.splice(parent.children.indexOf(node), 1);
    return parent;
}

// The number of the move that leads to `node` ("12" for 12. or 12...).
export function moveNumber(node) {
    const fields = node.parent.fen.split(" ");
    return Number(fields[5]);
}

// ---------------------------------------------------------------------------
// PGN out
// ---------------------------------------------------------------------------
const cleanComment = (text) => text.replace(/[{}]/g, "").trim();

// The movetext of the tree, side lines in parentheses, comments in braces.
export function movetext(root) {
    const out = [];
    if (root.comment) out.push(`{${cleanComment(root.comment)}}`);
    // Writes `node` (with its number when needed) and its comment.
    const writeMove = (node, forceNumber) => {
        const n = moveNumber(node);
        if (node.colour === "w") out.push(`${n}.`);
        else if (forceNumber) out.push(`${n}...`);
        out.push(node.san + node.nags.map((g) => ` $${g}`).join(""));
        if (node.comment) out.push(`{${cleanComment(node.comment)}}`);
    };
    // The line from `first` on, first's siblings after it written as side
    // lines.
    const writeLine = (parent, forceNumber) => {
        let number = forceNumber;
        for (let node = parent; node.children.length; node = node.children[0]) {
            const [main, ...others] = node.children;
            writeMove(main, number);
            number = Boolean(main.comment);
            for (const side of others) {
                out.push("(");
                writeMove(side, true);
                writeLine(side, Boolean(side.comment));
                out.push(")");
                number = true;
            }
        }
    };
    writeLine(root, true);
    return out.join(" ").replace(/\( /g, "(").replace(/ \)/g, ")");
}

// The whole PGN, with the tags a reader needs.
export function writePgn(root, tags = {}) {
    const start = new Chess().fen();
    const all = { Event: "?", Site: "?", Date: "????.??.??", Round: "?", White: "?", Black: "?", Result: "*", ...tags };
    if (root.fen !== start) Object.assign(all, { SetUp: "1", FEN: root.fen });
    const head = Object.entries(all).map(([k, v]) => `[${k} "${String(v).replace(/["\\]/g, "")}"]`);
    return `${head.join("\n")}\n\n${[movetext(root), all.Result].filter(Boolean).join(" ")}\n`;
}

// ---------------------------------------------------------------------------
// What the user pastes
// ---------------------------------------------------------------------------
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

// A FEN's first field: ranks of pieces and digits split by slashes (a wrong
// number of ranks is still read as a FEN, to say what is wrong with it).
function looksLikeFen(text) {
    return /^[A-Za-z0-9]*(\/[A-Za-z0-9]*)+(\s|$)/.test(text) && !/\d+\.\s*[a-zA-Z]/.test(text);
}

const RESULTS = new Set(["1-0", "0-1", "1/2-1/2", "*"]);
const SUFFIX_NAGS = { "!": 1, "?": 2, "!!": 3, "??": 4, "!?": 5, "?!": 6 };

// The tokens of PGN movetext: comments, parentheses, NAGs, moves (numbers
// and results dropped).
function tokens(text) {
    const out = [];
    const re = /\{([^}]*)\}|;([^\n]*)|(\()|(\))|\$(\d+)|(\d+\.+)|(1-0|0-1|1\/2-1\/2|\*)|([^\s{}();$]+)/g;
    for (const m of text.matchAll(re)) {
        if (m[1] !== undefined || m[2] !== undefined) out.push({ comment: (m[1] ?? m[2]).trim() });
        else if (m[3]) out.push({ open: true });
        else if (m[4]) out.push({ close: true });
        else if (m[5]) out.push({ nag: Number(m[5]) });
        else if (m[6] || m[7]) continue;
        else out.push({ move: m[8] });
    }
    return out;
}

// The tags and the movetext of a PGN.
function splitPgn(text) {
    const tags = {};
    let rest = text;
    for (;;) {
        const m = /^\s*\[\s*(\w+)\s+"((?:[^"\\]|\\.)*)"\s*\]/.exec(rest);
        if (!m) break;
        tags[m[1]] = m[2].replace(/\\(.)/g, "$1");
        rest = rest.slice(m[0].length);
    }
    return { tags, movetext: rest };
}

function readPgn(text) {
    const { tags, movetext: moves } = splitPgn(text);
    let startFen = new Chess().fen();
    if (tags.FEN) {
        const problem = fenProblem(tags.FEN);
        if (problem) return { ok: false, error: `The game's starting position cannot be used: ${problem}.` };
        startFen = tags.FEN;
    }
    const root = newTree(startFen);
    let last = root; // the node the next move is played at is last
    const stack = [];
    let count = 0;
    for (const token of tokens(moves)) {
        if (token.comment !== undefined) {
            if (token.comment) last.comment = last.comment ? `${last.comment} ${token.comment}` : token.comment;
        } else if (token.nag !== undefined) {
            if (last !== root) last.nags.push(token.nag);
        } else if (token.open) {
            // A side line: instead of the last move, from the position
            // before it.
            if (last === root) return { ok: false, error: "This PGN cannot be read: a side line before any move." };
            stack.push(last);
            last = last.parent;
        } else if (token.close) {
            if (!stack.length) return { ok: false, error: "This PGN cannot be read: a ')' without its '('." };
            last = stack.pop();
        } else {
            const suffix = /[!?]+$/.exec(token.move);
            const san = token.move.replace(/[!?]+$/, "");
            if (RESULTS.has(san)) continue;
            const next = playAt(last, san);
            if (!next) {
                const number = moveNumber({ parent: last });
                const where = last.fen.split(" ")[1] === "w" ? `${number}.` : `${number}...`;
                return { ok: false, error: `This PGN cannot be read: ${where} ${san} is not a legal move there.` };
            }
            if (suffix && SUFFIX_NAGS[suffix[0]] && !next.nags.includes(SUFFIX_NAGS[suffix[0]]))
                next.nags.push(SUFFIX_NAGS[suffix[0]]);
            last = next;
            count++;
        }
    }
    if (stack.length) return { ok: false, error: "This PGN cannot be read: a '(' without its ')'." };
    if (count === 0 && !/^\s*\[/.test(text)) return { ok: false, error: "This is neither a FEN nor a PGN with moves." };
    return { ok: true, startFen: root.fen, root, tags };
}

// { ok: true, startFen, root (the tree), tags } or
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
        const root = newTree(fen);
        return { ok: true, startFen: root.fen, root, tags: {} };
    }
    return readPgn(text);
}
