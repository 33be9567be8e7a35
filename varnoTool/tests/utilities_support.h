#pragma once
// Helpers for the utility tests: capturing what the executor writes to
// standard output, and resetting the run-wide state between cases.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>

#include "Protocol.h"
#include "Utilities.h"

namespace utilities_test {

// Runs fn with descriptor 1 sent to a temporary file; returns what was written.
inline std::string captureOutput(const std::function<void()>& fn) {
    fflush(stdout);
    char name[] = "/tmp/varno-capture-XXXXXX";
    int fd = mkstemp(name);
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    unlink(name);
    int saved = dup(1);
    if (saved < 0 || dup2(fd, 1) < 0) throw std::runtime_error("dup failed");
    fn();
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::string out;
    char buf[65536];
    ssize_t n;
    off_t at = 0;
    while ((n = pread(fd, buf, sizeof buf, at)) > 0) {
        out.append(buf, static_cast<size_t>(n));
        at += n;
    }
    close(fd);
    return out;
}

// The executor's run-wide state as a fresh process has it.
struct RunState {
    RunState() { reset(); }
    ~RunState() { reset(); }
    static void reset() {
        AEDEBUG = false;
        countTotalSizeRemoved = false;
        totalSizeRemoved = 0;
        forgetCountedFiles();
    }
};

}  // namespace utilities_test
