// Runs a built Tarnwick program as a child process and talks to it through
// its standard input and output, the way a GUI does.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

// What the scheduler has to say about a process (/proc/<pid>/task/*/schedstat):
// the processor time its threads have used, and for each thread the time it
// was ready to run but waited for a processor that other programs held.  On
// a busy machine the waits grow; a slow engine does not make them grow.
struct CpuAccount {
    double ranMs = 0;                        // all threads together
    std::map<std::string, double> waitedMs;  // by thread
};

inline CpuAccount cpuAccount(pid_t pid) {
    CpuAccount account;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (!dir) return account;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        FILE* f = fopen((tasks + "/" + entry->d_name + "/schedstat").c_str(), "r");
        if (!f) continue;
        unsigned long long ranNs = 0, waitedNs = 0;
        if (fscanf(f, "%llu %llu", &ranNs, &waitedNs) == 2) {
            account.ranMs += ranNs / 1e6;
            account.waitedMs[entry->d_name] = waitedNs / 1e6;
        }
        fclose(f);
    }
    closedir(dir);
    return account;
}

// The longest that any one thread waited for a processor between two
// accounts.  Threads wait side by side, so the longest wait, not their sum,
// is what a reply was held up by.
inline double longestWaitMs(const CpuAccount& before, const CpuAccount& after) {
    double longest = 0;
    for (const auto& [thread, waited] : after.waitedMs) {
        const auto earlier = before.waitedMs.find(thread);
        longest = std::max(longest, waited - (earlier == before.waitedMs.end() ? 0 : earlier->second));
    }
    return longest;
}

class EngineProcess {
  public:
    explicit EngineProcess(const std::string& program, const std::vector<std::string>& args = {},
                           const std::string& workDir = "") {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            close(in[0]);
            close(in[1]);
            close(out[0]);
            close(out[1]);
            if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(127);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(program.c_str()));
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        toChild_ = in[1];
        fromChild_ = out[0];
        signal(SIGPIPE, SIG_IGN);
    }

    ~EngineProcess() {
        closeInput();
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (fromChild_ >= 0) close(fromChild_);
    }

    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    void send(const std::string& line) { write(line + "\n"); }

    void write(const std::string& text) {
        size_t done = 0;
        while (toChild_ >= 0 && done < text.size()) {
            ssize_t n = ::write(toChild_, text.data() + done, text.size() - done);
            if (n <= 0) break;
            done += (size_t)n;
        }
    }

    void closeInput() {
        if (toChild_ >= 0) close(toChild_);
        toChild_ = -1;
    }

    // The next output line, or false when none arrives within the time.
    bool readLine(std::string& line, int timeoutMs = 10000) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            size_t nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                return true;
            }
            if (eof_) return false;
            int left = (int)std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                  std::chrono::steady_clock::now())
                           .count();
            if (left <= 0) return false;
            pollfd p{fromChild_, POLLIN, 0};
            if (poll(&p, 1, left) <= 0) continue;
            char chunk[65536];
            ssize_t n = read(fromChild_, chunk, sizeof chunk);
            if (n <= 0)
                eof_ = true;
            else
                buffer_.append(chunk, (size_t)n);
        }
    }

    // The next line, or "<no line>".
    std::string next(int timeoutMs = 10000) {
        std::string line;
        return readLine(line, timeoutMs) ? line : "<no line>";
    }

    // Send a command and read exactly one reply line.
    std::string ask(const std::string& command) {
        send(command);
        return next();
    }

    // Lines up to and including the first one that starts with `prefix`.
    std::vector<std::string> readUntil(const std::string& prefix, int timeoutMs = 10000) {
        std::vector<std::string> lines;
        std::string line;
        while (readLine(line, timeoutMs)) {
            lines.push_back(line);
            if (line.compare(0, prefix.size(), prefix) == 0) break;
        }
        return lines;
    }

    // True once the program has closed its output and every line was read.
    bool ended() const { return eof_ && buffer_.find('\n') == std::string::npos; }

    // Every remaining line until the program closes its output.
    std::vector<std::string> readAll(int timeoutMs = 30000) {
        std::vector<std::string> lines;
        std::string line;
        while (readLine(line, timeoutMs)) lines.push_back(line);
        return lines;
    }

    // Exit status once the program has ended (-1 on timeout or signal).
    int waitExit(int timeoutMs = 30000) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                reaped_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            usleep(2000);
        }
        return -1;
    }

  private:
    pid_t pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
    bool eof_ = false;
    bool reaped_ = false;
    std::string buffer_;
};

// Time since a command was sent to an engine, less the time that the engine
// and this test spent waiting for a processor held by other programs: what
// the engine itself took to answer.  On an idle machine it is the wall-clock
// time; on a busy one, a reply that came late only because the engine was
// not given a processor does not count against it.
class EngineStopwatch {
  public:
    explicit EngineStopwatch(const EngineProcess& engine)
        : pid_(engine.pid()), start_(std::chrono::steady_clock::now()), engine_(cpuAccount(pid_)),
          self_(cpuAccount(getpid())) {}

    long wallMs() const {
        return (long)std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_)
            .count();
    }
    // The engine's longest wait for a processor, and this test's.
    long waitedMs() const {
        return (long)(longestWaitMs(engine_, cpuAccount(pid_)) + longestWaitMs(self_, cpuAccount(getpid())));
    }
    // Wall-clock time less the waits, never below zero.
    long ms() const {
        const long wall = wallMs(), waited = waitedMs();
        return waited < wall ? wall - waited : 0;
    }
    // The processor time the engine used meanwhile.
    double ranMs() const { return cpuAccount(pid_).ranMs - engine_.ranMs; }

  private:
    pid_t pid_;
    std::chrono::steady_clock::time_point start_;
    CpuAccount engine_, self_;
};

// Lines up to and including the first that starts with `prefix`, waiting at
// most `engineMs` of the engine's own time (EngineStopwatch): on a busy
// machine a slowed engine is given longer, up to `wallCapMs` of wall-clock
// time, while one that has stopped answering is not.
inline std::vector<std::string> readUntilPatiently(EngineProcess& e, const std::string& prefix, int engineMs,
                                                   int wallCapMs) {
    EngineStopwatch watch(e);
    std::vector<std::string> lines;
    std::string line;
    while (!e.ended() && watch.ms() < engineMs && watch.wallMs() < wallCapMs) {
        if (!e.readLine(line, 20)) continue;
        lines.push_back(line);
        if (line.compare(0, prefix.size(), prefix) == 0) break;
    }
    return lines;
}

inline bool startsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

// Run a program with the given standard input to its end; all output lines.
inline std::vector<std::string> runProgram(const std::string& program, const std::string& input,
                                           const std::vector<std::string>& args = {}, int* exitStatus = nullptr) {
    EngineProcess p(program, args);
    p.write(input);
    p.closeInput();
    auto lines = p.readAll();
    int status = p.waitExit();
    if (exitStatus) *exitStatus = status;
    return lines;
}
