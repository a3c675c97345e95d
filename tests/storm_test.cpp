// Protocol storms: random sequences of commands, as a GUI at its worst sends
// them (searches of every kind, "stop", "ponderhit", "isready", options and
// new games, in bursts or a few milliseconds apart), ended by "quit" or by
// the end of input.  Whatever the order, every "go" gets exactly one
// "bestmove", legal in the position it was asked for (with a legal ponder
// move, if any), every "isready" one "readyok", and the program ends with
// status 0.  The same storm runs against the release program and, shorter,
// against the ThreadSanitizer build, whose exit status reports any race.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <sstream>
#include <thread>

#include "engine_process.h"
#include "test_support.h"
#include "uci.h"

#ifndef STORM_SEQUENCES
#define STORM_SEQUENCES 1000
#endif

namespace {

// Positions besides the start: a middle game, an ending, a promotion race,
// castling on both wings, a check.
const char* const FENS[] = {
    "r1bq1rk1/ppp1nppp/4n3/3p3Q/3P4/1BP1B3/PP1N2PP/R4RK1 w - - 1 16",
    "8/8/4k3/8/2KP4/8/8/r4R2 w - - 0 1",
    "8/1P4k1/8/8/8/8/6p1/K7 w - - 0 1",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
    "rnb1kbnr/pppp1ppp/8/4p3/5PPq/8/PPPPP2P/RNBQKBNR w KQkq - 1 3",
};

struct Go {
    std::string fen;                 // "" after a rejected position
    std::vector<std::string> moves;  // played from the FEN
};

// One storm against one program run: builds its input, then checks what came
// back.  `transcript` is kept for the failure message.
class Storm {
  public:
    Storm(const std::string& program, std::mt19937& rng) : program_(program), rng_(rng) {}

    // Appends one sequence of commands to the input.
    void addSequence() {
        const int commands = pick(4, 16);
        for (int i = 0; i < commands; i++) {
            const int r = pick(0, 99);
            if (r < 22)
                position();
            else if (r < 52)
                go();
            else if (r < 64)
                line("stop");
            else if (r < 70)
                line("ponderhit");
            else if (r < 80) {
                line("isready");
                readies_++;
            } else if (r < 85)
                line("ucinewgame");
            else if (r < 89)
                line("setoption name Threads value " + std::to_string(pick(1, 3)));
            else if (r < 92)
                line("setoption name Hash value " + std::to_string(pick(1, 8)));
            else if (r < 95)
                line(std::string("setoption name Ponder value ") + (pick(0, 1) ? "true" : "false"));
            else
                pause();
        }
    }

    // Runs the program on the input, in bursts with short pauses; returns a
    // failure description or "".
    std::string run(bool endWithQuit) {
        if (endWithQuit) line("quit");
        EngineProcess e(program_);
        e.send("setoption name Hash value 4");
        for (const std::string& chunk : chunks_) {
            if (chunk.empty())
                std::this_thread::sleep_for(std::chrono::milliseconds(pick(1, 6)));
            else
                e.write(chunk);
        }
        e.closeInput();
        const std::vector<std::string> out = e.readAll(120000);
        const int status = e.waitExit(120000);
        std::string failure = check(out);
        if (status != 0) failure += "exit status " + std::to_string(status) + "\n";
        return failure;
    }

    std::string transcript() const {
        std::string all;
        for (const std::string& c : chunks_) all += c.empty() ? "(pause)\n" : c;
        return all;
    }

  private:
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

    void line(const std::string& text) {
        if (chunks_.empty() || chunks_.back().empty()) chunks_.emplace_back();
        chunks_.back() += text + "\n";
    }
    void pause() { chunks_.emplace_back(); }

    void position() {
        if (pick(0, 19) == 0) {
            line("position fen 8/8/8 w - - 0 1");  // rejected: the next searches answer 0000
            current_ = Go{};
            return;
        }
        Go g;
        g.fen = pick(0, 2) == 0 ? START_FEN : FENS[pick(0, (int)(sizeof FENS / sizeof FENS[0]) - 1)];
        TestPosition board(g.fen);
        const int plies = pick(0, 10);
        for (int i = 0; i < plies; i++) {
            const std::vector<std::string> legal = legalMoves(board.get());
            if (legal.empty()) break;
            g.moves.push_back(legal[pick(0, (int)legal.size() - 1)]);
            makeGameMoveText(board.game(), g.moves.back(), nullptr);
        }
        std::string text = g.fen == START_FEN ? "position startpos" : "position fen " + g.fen;
        if (!g.moves.empty()) text += " moves";
        for (const std::string& m : g.moves) text += " " + m;
        line(text);
        current_ = g;
    }

    void go() {
        static const char* const kinds[] = {"depth", "nodes", "movetime", "clock", "infinite", "ponder", "mate"};
        const std::string kind = kinds[pick(0, 6)];
        std::string text = "go";
        if (kind == "depth") text += " depth " + std::to_string(pick(1, 4));
        if (kind == "nodes") text += " nodes " + std::to_string(pick(1, 3000));
        if (kind == "movetime") text += " movetime " + std::to_string(pick(1, 12));
        if (kind == "mate") text += " mate " + std::to_string(pick(1, 2)) + " movetime 20";
        if (kind == "ponder") text += " ponder";
        if (kind == "clock" || kind == "ponder") {
            const std::string t = std::to_string(pick(10, 300));
            text += " wtime " + t + " btime " + t;
            if (pick(0, 1)) text += " winc 5 binc 5";
        }
        if (kind == "infinite") text += " infinite";
        line(text);
        gos_.push_back(current_);
    }

    std::string check(const std::vector<std::string>& out) {
        std::ostringstream failure;
        size_t answered = 0;
        int readies = 0;
        for (const std::string& l : out) {
            if (l == "readyok") readies++;
            if (l == "Unknown command") failure << "'Unknown command'\n";
            if (!startsWith(l, "bestmove ")) continue;
            if (answered >= gos_.size()) {
                failure << "a bestmove beyond the " << gos_.size() << " searches: " << l << "\n";
                continue;
            }
            const std::string problem = checkAnswer(gos_[answered], l);
            if (!problem.empty()) failure << "search " << answered + 1 << ": " << problem << "\n";
            answered++;
        }
        if (answered != gos_.size()) failure << answered << " bestmoves for " << gos_.size() << " searches\n";
        if (readies != readies_) failure << readies << " readyok for " << readies_ << " isready\n";
        return failure.str();
    }

    static std::string checkAnswer(const Go& g, const std::string& line) {
        std::istringstream words(line);
        std::string bestmove, move, ponder, reply;
        words >> bestmove >> move >> ponder >> reply;
        if (g.fen.empty()) return move == "0000" && ponder.empty() ? "" : "'" + line + "' without a position";
        TestPosition board(g.fen);
        for (const std::string& m : g.moves) makeGameMoveText(board.game(), m, nullptr);
        if (legalMoves(board.get()).empty()) return move == "0000" ? "" : "'" + line + "' with no legal move";
        if (!makeGameMoveText(board.game(), move, nullptr)) return "illegal '" + line + "'";
        if (!ponder.empty() && (ponder != "ponder" || !makeGameMoveText(board.game(), reply, nullptr)))
            return "illegal ponder move in '" + line + "'";
        return "";
    }

    std::string program_;
    std::mt19937& rng_;
    std::vector<std::string> chunks_;  // "" marks a pause
    std::vector<Go> gos_;
    Go current_{START_FEN, {}};
    int readies_ = 0;
};

// `sequences` sequences over program runs of up to ten sequences each.
void storm(const std::string& program, int sequences) {
    unsigned seed = (unsigned)std::chrono::steady_clock::now().time_since_epoch().count();
    if (const char* s = std::getenv("TARNWICK_STORM_SEED")) seed = (unsigned)std::strtoul(s, nullptr, 10);
    std::mt19937 rng(seed);
    int done = 0, runs = 0;
    while (done < sequences) {
        Storm s(program, rng);
        const int count = std::min(sequences - done, (int)(rng() % 10) + 1);
        for (int i = 0; i < count; i++) s.addSequence();
        const std::string failure = s.run(rng() % 2 == 0);
        ASSERT_EQ(failure, "") << "seed " << seed << ", run " << runs + 1 << ", input:\n" << s.transcript();
        done += count;
        runs++;
    }
    std::printf("%d sequences in %d runs (seed %u)\n", done, runs, seed);
}

TEST(Storm, EveryGoAnsweredOnceEveryIsreadyAnsweredCleanExit) { storm(STORM_PROGRAM, STORM_SEQUENCES); }

}  // namespace
