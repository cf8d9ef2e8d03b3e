// StderrCapture: collects what the process writes to standard error (the log's mirror) while
// it is alive.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

class StderrCapture {
public:
    StderrCapture() {
        char name[] = "/tmp/voltrin-logtest-XXXXXX";
        mFd = mkstemp(name);
        mPath = name;
        fflush(stderr);
        mSaved = dup(STDERR_FILENO);
        dup2(mFd, STDERR_FILENO);
    }
    ~StderrCapture() {
        restore();
        close(mFd);
        unlink(mPath.c_str());
    }
    std::string text() {
        restore();
        std::ifstream in(mPath);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

private:
    void restore() {
        if (mSaved >= 0) {
            fflush(stderr);
            dup2(mSaved, STDERR_FILENO);
            close(mSaved);
            mSaved = -1;
        }
    }
    int mFd = -1;
    int mSaved = -1;
    std::string mPath;
};
