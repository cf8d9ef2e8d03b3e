// Process: starts a program with piped standard output and error, for process-level tests.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

class Process {
public:
    // Starts `argv[0]` with the given arguments and extra "NAME=value" environment entries.
    explicit Process(const std::vector<std::string>& argv,
                     const std::vector<std::string>& extraEnv = {});
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return mPid; }
    // Waits until the process has installed a handler for `signo` (its SigCgt mask in /proc).
    bool waitForHandler(int signo, std::chrono::milliseconds timeout);
    // Reads standard error until it contains `text` or the time-out passes.
    bool waitForStderr(const std::string& text, std::chrono::milliseconds timeout);
    // Waits for the process to end (killing it after the time-out) and drains both pipes.
    // Returns the exit status, or 128 + signal number for a process ended by a signal.
    int wait(std::chrono::milliseconds timeout);

    const std::string& out() const { return mOut; }
    const std::string& err() const { return mErr; }

private:
    void drain(int timeoutMs);
    pid_t mPid = -1;
    int mOutFd = -1;
    int mErrFd = -1;
    std::string mOut;
    std::string mErr;
};
