// Runs a built Tarnwick program as a child process and talks to it through
// its standard input and output, the way a GUI does.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

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

inline bool startsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

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
