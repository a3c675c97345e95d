// Announced mates must be real: the built program searches positions of
// data/mates.epd to a fixed depth, and every "info score mate m" line it
// prints is checked against the shortest mate of the position.  Mates of up
// to three moves are checked by exhaustive search with the engine's own move
// generator; longer ones against the file's stored distance.  A mate
// announced longer than the shortest is allowed; a shorter one never is.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "engine_process.h"
#include "mate_solver.h"

namespace {

constexpr int SOLVER_MOVES = 3;  // longest mate proven by the solver
constexpr int SEARCH_DEPTH = 12;

struct MatePosition {
    std::string id;
    std::string fen;
    int dm;  // > 0: the side to move mates in dm; < 0: it is mated in -dm
};

// Lines: FEN dm k; id "name";  ('#' starts a comment line).
std::vector<MatePosition> loadPositions() {
    std::vector<MatePosition> out;
    std::ifstream in(TARNWICK_SOURCE_DIR "/data/mates.epd");
    static const std::regex line(R"re(^(\S+ [wb] \S+ \S+(?: \d+ \d+)?) dm (-?\d+); id "(\w+)";\s*$)re");
    std::string text;
    std::smatch m;
    while (std::getline(in, text))
        if (std::regex_match(text, m, line)) out.push_back({m[3], m[1], std::stoi(m[2])});
    return out;
}

void PrintTo(const MatePosition& p, std::ostream* os) { *os << p.fen << " dm " << p.dm; }

// Half-moves to the final checkmate of a stored distance.
int storedPlies(int dm) { return dm > 0 ? 2 * dm - 1 : -2 * dm; }

std::string shortestText(int dm) {
    return dm > 0 ? "mates in " + std::to_string(dm) : "is mated in " + std::to_string(-dm);
}

class AnnouncedMate : public testing::TestWithParam<MatePosition> {};

TEST_P(AnnouncedMate, IsNeverShorterThanTheRealMate) {
    const MatePosition& p = GetParam();
    initMateSolverTables();
    ASSERT_EQ(validateFen(p.fen), "");
    EngineProcess engine(TARNWICK_BIN);
    ASSERT_TRUE(engine.running());
    engine.send("setoption name Hash value 16");
    engine.send("position fen " + p.fen);
    engine.send("go depth " + std::to_string(SEARCH_DEPTH));
    const auto lines = engine.readUntil("bestmove", 60000);
    ASSERT_FALSE(lines.empty());
    ASSERT_EQ(lines.back().compare(0, 9, "bestmove "), 0) << "no bestmove within a minute";

    static const std::regex mateLine(R"(^info score mate (-?\d+) )");
    std::smatch m;
    for (const auto& line : lines) {
        if (!std::regex_search(line, m, mateLine) || m[1] == "0") continue;
        const int claim = std::stoi(m[1]);
        const int plies = matePliesOfReport(claim);
        const int moves = claim > 0 ? (plies + 1) / 2 : plies / 2;
        if (moves <= SOLVER_MOVES) {
            MateSolver solver(p.fen);
            EXPECT_TRUE(solver.reportHolds(claim))
                << p.fen << "\n  announced: " << line << "\n  but "
                << (claim > 0 ? "the side to move has no mate in " : "the opponent has no forced mate in ") << moves
                << " (data/mates.epd: the side to move " << shortestText(p.dm) << ")";
        } else {
            EXPECT_TRUE((claim > 0) == (p.dm > 0) && plies >= storedPlies(p.dm))
                << p.fen << "\n  announced: " << line << "\n  but data/mates.epd: the side to move "
                << shortestText(p.dm);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Positions, AnnouncedMate, testing::ValuesIn(loadPositions()),
                         [](const testing::TestParamInfo<MatePosition>& info) { return info.param.id; });

// The stored distances are the yardstick for the longer mates and the
// solver's for the short ones; the two must agree where both reach.
TEST(MateSolver, AgreesWithTheStoredShortMates) {
    const auto positions = loadPositions();
    ASSERT_GE(positions.size(), 10u) << "data/mates.epd missing or unreadable";
    for (const auto& p : positions) {
        MateSolver solver(p.fen);
        if (p.dm > 0) {
            const int k = solver.shortestMate(std::min(p.dm, SOLVER_MOVES));
            EXPECT_EQ(k, p.dm <= SOLVER_MOVES ? p.dm : 0) << p.fen;
        } else {
            const int k = solver.shortestMated(std::min(-p.dm, SOLVER_MOVES));
            EXPECT_EQ(k, -p.dm <= SOLVER_MOVES ? -p.dm : -1) << p.fen;
        }
    }
}

}  // namespace
