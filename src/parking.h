// The hand-over between the thread that gives out work and a long-lived
// worker thread that sleeps between jobs.  `busy` and `quitFlag` change only
// under the mutex, and every change is announced on the condition variable;
// every wait re-tests its flag, so spurious wake-ups do no harm.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

struct ThreadParking {
    std::mutex mutex;
    std::condition_variable condition;
    uint8_t quitFlag = 0;
    uint8_t busy = 1;

    // Give the parked thread its work.
    void wake() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            busy = 1;
        }
        condition.notify_all();
    }
    // Wait until the thread has finished its work and parked again.
    void waitIdle() {
        std::unique_lock<std::mutex> lock(mutex);
        condition.wait(lock, [this] { return busy == 0; });
    }
    // Tell the thread to return the next time it wakes, and wake it.
    void requestQuit() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            quitFlag = 1;
            busy = 1;
        }
        condition.notify_all();
    }
    // Start the worker's thread on `body` and wait until it has parked; false
    // when the system cannot give another thread (its memory or address
    // space is spent, or its thread limit reached).
    template <class Body>
    bool tryStartThread(std::thread& thread, Body&& body) {
        try {
            thread = std::thread(std::forward<Body>(body));
        } catch (const std::system_error&) {
            return false;
        }
        waitIdle();
        return true;
    }
    // The same, for a worker the program cannot do without: when its thread
    // cannot be created, the program ends with a message.
    template <class Body>
    void startThread(std::thread& thread, Body&& body) {
        if (tryStartThread(thread, std::forward<Body>(body))) return;
        std::fputs("thread constructor failed\n", stderr);
        std::exit(1);
    }
    // End the worker's thread: it returns the next time it wakes.
    void endThread(std::thread& thread) {
        requestQuit();
        if (thread.joinable()) thread.join();
    }
    // Called by the worker thread: report idle and sleep until woken.  False
    // when it was woken to quit.
    bool park() {
        std::unique_lock<std::mutex> lock(mutex);
        busy = 0;
        condition.notify_all();
        condition.wait(lock, [this] { return busy == 1; });
        return !quitFlag;
    }
};
