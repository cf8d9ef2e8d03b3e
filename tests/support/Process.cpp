// Process: posix_spawn with two pipes and a poll loop that collects their output.
#include "Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <stdexcept>

extern char** environ;

Process::Process(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv) {
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);

    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> env;
    for (char** e = environ; *e; ++e)
        env.push_back(*e);
    for (const auto& e : extraEnv)
        env.push_back(const_cast<char*>(e.c_str()));
    env.push_back(nullptr);

    const int rc = posix_spawn(&mPid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    mOutFd = outPipe[0];
    mErrFd = errPipe[0];
    if (rc != 0)
        throw std::runtime_error("posix_spawn failed for " + argv[0]);
}

Process::~Process() {
    if (mPid > 0) {
        kill(mPid, SIGKILL);
        waitpid(mPid, nullptr, 0);
    }
    if (mOutFd >= 0)
        close(mOutFd);
    if (mErrFd >= 0)
        close(mErrFd);
}

// Reads whatever is available within `timeoutMs`; returns early once both pipes are at EOF.
void Process::drain(int timeoutMs) {
    pollfd fds[2] = {{mOutFd, POLLIN, 0}, {mErrFd, POLLIN, 0}};
    if (poll(fds, 2, timeoutMs) <= 0)
        return;
    char buf[4096];
    if (fds[0].revents) {
        const ssize_t n = read(mOutFd, buf, sizeof(buf));
        if (n > 0)
            mOut.append(buf, static_cast<size_t>(n));
        else {
            close(mOutFd);
            mOutFd = -1;
        }
    }
    if (fds[1].revents) {
        const ssize_t n = read(mErrFd, buf, sizeof(buf));
        if (n > 0)
            mErr.append(buf, static_cast<size_t>(n));
        else {
            close(mErrFd);
            mErrFd = -1;
        }
    }
}

bool Process::waitForHandler(int signo, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const std::string path = "/proc/" + std::to_string(mPid) + "/status";
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(path);
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("SigCgt:", 0) == 0) {
                const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
                if (mask & (1ULL << (signo - 1)))
                    return true;
            }
        }
        drain(10);
    }
    return false;
}

bool Process::waitForStderr(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (mErr.find(text) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || (mOutFd < 0 && mErrFd < 0))
            return false;
        drain(static_cast<int>(left.count()));
    }
    return true;
}

int Process::wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(mPid, &status, WNOHANG);
        if (r == mPid)
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(mPid, SIGKILL);
            waitpid(mPid, &status, 0);
            break;
        }
        drain(20);
    }
    mPid = -1;
    while (mOutFd >= 0 || mErrFd >= 0)
        drain(1000);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
