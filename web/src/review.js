// Game review: how much a move changed the mover's winning chances, and
// the graph of the evaluation through a game.
//
// Winning chances from a score in centipawns (White's side), between -1 and
// 1:  W(cp) = 2 / (1 + exp(-0.00368208 * cp)) - 1, with cp held within
// +-1000; a mate counts as +-1.  A move that lowers its side's winning
// chances by 0.1 or more is an inaccuracy, by 0.2 a mistake, by 0.3 a
// blunder.
const K = 0.00368208;

// Winning chances for White, -1 to 1, of a score { cp } or { mate } (mate 0:
// the side to move is mated, `winner` says who won).
export function winningChances(score) {
    if (!score) return 0;
    if (Number.isFinite(score.mate)) {
        if (score.mate > 0) return 1;
        if (score.mate < 0) return -1;
        return score.winner === "w" ? 1 : -1;
    }
    const cp = Math.max(-1000, Math.min(1000, score.cp));
    return 2 / (1 + Math.exp(-K * cp)) - 1;
}

// The same as White's percentage, 0 to 100 (the evaluation bar, the graph).
export const winPercent = (score) => 50 + 50 * winningChances(score);

export const THRESHOLDS = [
    ["blunder", 0.3],
    ["mistake", 0.2],
    ["inaccuracy", 0.1],
];

// The mark of a move by `colour` from the score before it to the score after
// it (both from White's side): "inaccuracy", "mistake", "blunder" or null.
export function classifyMove(before, after, colour) {
    const sign = colour === "w" ? 1 : -1;
    const drop = sign * (winningChances(before) - winningChances(after));
    for (const [kind, threshold] of THRESHOLDS) if (drop >= threshold - 1e-9) return kind;
    return null;
}

const SVG = "http://www.w3.org/2000/svg";
const element = (name, attributes) => {
    const e = document.createElementNS(SVG, name);
    for (const [k, v] of Object.entries(attributes)) e.setAttribute(k, String(v));
    return e;
};

// The graph of White's winning percentage after each move (`scores`: one
// per ply, null where not evaluated yet), a point per ply; `current`: the
// index of the move shown (-1: none).
export function drawGraph(svg, scores, current) {
    const width = Math.max(100, scores.length * 8);
    const height = 100;
    const x = (i) => (scores.length <= 1 ? width / 2 : (i * width) / (scores.length - 1));
    const y = (score) => height - winPercent(score);
    svg.setAttribute("viewBox", `0 0 ${width} ${height}`);
    svg.setAttribute("preserveAspectRatio", "none");
    svg.replaceChildren();
    svg.append(element("rect", { x: 0, y: 0, width, height, class: "graph-black" }));
    const known = scores.map((s, i) => [i, s]).filter(([, s]) => s);
    if (known.length) {
        const top = known.map(([i, s]) => `${x(i).toFixed(1)},${y(s).toFixed(1)}`).join(" ");
        const first = x(known[0][0]).toFixed(1),
            last = x(known[known.length - 1][0]).toFixed(1);
        svg.append(element("polygon", { points: `${first},${height} ${top} ${last},${height}`, class: "graph-white" }));
        svg.append(element("polyline", { points: top, class: "graph-line" }));
    }
    svg.append(element("line", { x1: 0, x2: width, y1: height / 2, y2: height / 2, class: "graph-mid" }));
    if (current >= 0)
        svg.append(element("line", { x1: x(current), x2: x(current), y1: 0, y2: height, class: "graph-current" }));
    // A point per ply, each a target that leads to its move.
    scores.forEach((s, i) => {
        const band = element("rect", {
            x: x(i) - width / Math.max(1, scores.length) / 2,
            y: 0,
            width: width / Math.max(1, scores.length),
            height,
            class: "graph-hit",
            "data-ply": i + 1,
        });
        const point = element("circle", {
            cx: x(i),
            cy: s ? y(s) : height / 2,
            r: 1.6,
            class: "graph-point" + (s ? "" : " unknown"),
            "data-ply": i + 1,
        });
        svg.append(band, point);
    });
}
