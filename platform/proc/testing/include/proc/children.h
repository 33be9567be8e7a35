#pragma once
// Real child processes in known states for the process tests: started with
// chosen arguments and environment, and always killed and reaped at the end.

#include <sys/types.h>

#include <string>
#include <vector>

namespace proc_testing {

// The child program (see child.cpp for its modes).
std::string childProgram();

// The share of one processor a process has had over its life, from
// /proc/PID/stat, read here without the process layer: on a busy machine a
// busy child gets less than a processor, and tests compare against this.
double processorShare(pid_t pid);

class Child {
  public:
    struct Options {
        std::vector<std::string> argv = {};  // as the child sees it; empty: the program's path
        std::vector<std::string> env = {};   // "NAME=value"; the mode is added
        std::string mode = "sleep";          // "sleep", "busy" or "threads"
    };

    // Starts the child and returns once it is in its mode's state.
    explicit Child(const Options& options);
    Child() : Child(Options{}) {}
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    // Stops the child (SIGSTOP) and waits until it is stopped.
    void stop();
    // Kills the child and reaps it: its ID names no process afterwards.
    void finish();
    // Kills the child and waits until it is a zombie, without reaping it.
    void makeZombie();

  private:
    pid_t pid_ = -1;
    bool reaped_ = false;
};

}  // namespace proc_testing
