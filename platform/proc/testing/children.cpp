#include "proc/children.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace proc_testing {
namespace {

char stateLetter(const std::string& statPath) {
    std::ifstream in(statPath);
    std::string text;
    std::getline(in, text);
    std::size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() ? text[close + 2] : '?';
}

bool allThreadsWaiting(pid_t pid) {
    std::error_code error;
    std::string folder = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& thread : std::filesystem::directory_iterator(folder, error))
        if (stateLetter(thread.path().string() + "/stat") != 'S') return false;
    return !error;
}

}  // namespace

std::string childProgram() {
    return PROC_TEST_CHILD;
}

double processorShare(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(in, text);
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::vector<std::string> f{std::istream_iterator<std::string>(fields), {}};
    if (f.size() < 20) return -1;
    double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    struct timespec now {};
    clock_gettime(CLOCK_BOOTTIME, &now);
    double age = static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9 -
                 std::stod(f[19]) / ticks;
    return (std::stod(f[11]) + std::stod(f[12])) / ticks / age;
}

Child::Child(const Options& options) {
    std::vector<std::string> argv = options.argv;
    if (argv.empty()) argv.push_back(childProgram());
    std::vector<std::string> env = options.env;
    env.push_back("VARNO_CHILD_MODE=" + options.mode);
    std::vector<char*> args, envp;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = childProgram();

    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        // Descriptor 3 must stay open across exec, even when the pipe got it.
        if (ready[1] == 3 ? fcntl(3, F_SETFD, 0) != 0 : dup2(ready[1], 3) < 0) _exit(127);
        execve(program.c_str(), args.data(), envp.data());
        _exit(127);
    }
    close(ready[1]);
    char byte = 0;
    ssize_t n;
    while ((n = read(ready[0], &byte, 1)) < 0 && errno == EINTR) {
    }
    close(ready[0]);
    if (n != 1) {
        finish();
        throw std::runtime_error("the child did not start");
    }
    // A waiting child has signalled just before it waits; give it the moment
    // it needs to get there, so that its state is the one asked for.
    if (options.mode != "busy") {
        for (int i = 0; i < 2000 && !allThreadsWaiting(pid_); ++i) usleep(1000);
    }
}

Child::~Child() {
    if (!reaped_) finish();
}

void Child::stop() {
    if (kill(pid_, SIGSTOP) != 0) throw std::runtime_error("cannot stop the child");
    int status = 0;
    while (waitpid(pid_, &status, WUNTRACED) < 0 && errno == EINTR) {
    }
    if (!WIFSTOPPED(status)) throw std::runtime_error("the child did not stop");
}

void Child::finish() {
    if (reaped_) return;
    kill(pid_, SIGKILL);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
}

void Child::makeZombie() {
    if (kill(pid_, SIGKILL) != 0) throw std::runtime_error("cannot kill the child");
    siginfo_t info{};
    // WNOWAIT leaves the child a zombie.
    while (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) != 0) {
        if (errno != EINTR) throw std::runtime_error("cannot wait for the child");
    }
}

}  // namespace proc_testing
