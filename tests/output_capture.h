// What a piece of code writes to standard output or standard error.  The
// stream's file descriptor is pointed at a scratch file while the code runs,
// so everything reaches it: C stdio, iostreams, write(2), other threads.
// Both stdio and iostreams are flushed before and after, so that nothing
// written earlier lands in the capture and nothing written inside it is left
// behind in a buffer.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <utility>

class OutputCapture {
  public:
    // fd: STDOUT_FILENO or STDERR_FILENO.
    explicit OutputCapture(int fd) : fd_(fd) {
        std::string name = (std::filesystem::temp_directory_path() / "tarnwick-capture-XXXXXX").string();
        file_ = mkstemp(name.data());
        if (file_ < 0) {
            ADD_FAILURE() << "no scratch file for the output: " << std::strerror(errno);
            return;
        }
        unlink(name.c_str());
        flushAll();
        saved_ = dup(fd_);
        if (saved_ < 0 || dup2(file_, fd_) < 0) {
            ADD_FAILURE() << "cannot redirect descriptor " << fd_ << ": " << std::strerror(errno);
            restore();
        }
    }
    ~OutputCapture() { finish(); }
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;

    // Ends the capture (the stream writes where it did before) and returns
    // what was written meanwhile.  Later calls return "".
    std::string finish() {
        if (file_ < 0) return "";
        flushAll();
        restore();
        std::string text;
        char buffer[4096];
        for (off_t at = 0;;) {
            const ssize_t got = pread(file_, buffer, sizeof buffer, at);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            text.append(buffer, (size_t)got);
            at += got;
        }
        close(file_);
        file_ = -1;
        return text;
    }

  private:
    static void flushAll() {
        std::cout.flush();
        std::cerr.flush();
        std::fflush(nullptr);
    }
    void restore() {
        if (saved_ < 0) return;
        dup2(saved_, fd_);
        close(saved_);
        saved_ = -1;
    }

    int fd_;
    int file_ = -1;
    int saved_ = -1;
};

// What `run()` writes to standard output / standard error.
template <class Run>
std::string captureStdout(Run&& run) {
    OutputCapture capture(STDOUT_FILENO);
    std::forward<Run>(run)();
    return capture.finish();
}

template <class Run>
std::string captureStderr(Run&& run) {
    OutputCapture capture(STDERR_FILENO);
    std::forward<Run>(run)();
    return capture.finish();
}
