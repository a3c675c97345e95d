// The levels of play.  A level limits only what the page asks the engine
// for ("go nodes N"): the engine itself is the same at every level.  Each
// level searches about four times the nodes of the one below (the last,
// twice); a node limit,
// unlike a time limit, plays the same on a fast and a slow machine, so a
// level's strength does not depend on the device.  Their approximate Elo
// (tools/level-elo.mjs, against Debian's stockfish) is in the README.
export const LEVELS = [
    { level: 1, nodes: 50 },
    { level: 2, nodes: 200 },
    { level: 3, nodes: 800 },
    { level: 4, nodes: 3000 },
    { level: 5, nodes: 12000 },
    { level: 6, nodes: 50000 },
    { level: 7, nodes: 200000 },
    { level: 8, nodes: 400000 },
];

// The "go" line of a move at `level` (0: full strength, `moveTime` ms).
export function goForLevel(level, moveTime) {
    const entry = LEVELS.find((l) => l.level === level);
    return entry ? `go nodes ${entry.nodes}` : `go movetime ${moveTime}`;
}
