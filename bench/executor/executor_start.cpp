// Times N runs of the executor with the "KVXAESetuidrootAuthExec" request
// (process start, authorization, parse, dispatch) against N runs of /bin/true,
// in one sandbox root, and prints the median-of-rounds ratio.
//   bench_executor_start [runs=1000] [rounds=5]     (as root)
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "../executor_input.h"
#include "../table.h"
#include "plist/plist.h"

namespace {

double runMany(const char* program, const std::string& input, int runs) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < runs; ++i) {
        int in[2];
        if (pipe(in) != 0) exit(1);
        pid_t pid = fork();
        if (pid == 0) {
            dup2(in[0], 0);
            close(in[0]);
            close(in[1]);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            execl(program, program, static_cast<char*>(nullptr));
            _exit(127);
        }
        close(in[0]);
        if (!input.empty()) (void)!write(in[1], input.data(), input.size());
        close(in[1]);
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            fprintf(stderr, "%s failed with status %d\n", program, status);
            exit(1);
        }
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? atoi(argv[1]) : 1000;
    int rounds = argc > 2 ? atoi(argv[2]) : 5;
    char root[] = "/tmp/varno-bench-XXXXXX";
    if (!mkdtemp(root)) return 1;
    setenv("VARNO_SYSTEM_ROOT", root, 1);

    const std::optional<std::string> prepared = bench::executorInput(contract::id::kSetuidroot);
    if (!prepared) return 1;
    const std::string& input = *prepared;

    std::vector<double> ratios, tool, truth;
    for (int r = 0; r < rounds; ++r) {
        double t = runMany(VARNO_TOOL_PATH, input, runs);
        double b = runMany("/bin/true", "", runs);
        tool.push_back(t);
        truth.push_back(b);
        ratios.push_back(t / b);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    printf("executor start: %d runs x %d rounds\n", runs, rounds);
    printf("  varnoTool KVXAESetuidrootAuthExec  median %.3f s  (%.1f us/run)\n", median(tool),
           median(tool) / runs * 1e6);
    printf("  /bin/true                          median %.3f s  (%.1f us/run)\n", median(truth),
           median(truth) / runs * 1e6);
    printf("  ratio (median of rounds)           %.2f\n", median(ratios));
    // The children's peak is the executor's: /bin/true is far smaller.
    bench::tableRow("executor start (KVXAESetuidrootAuthExec)", "/bin/true", median(tool) / runs,
                    median(truth) / runs, median(ratios), bench::peakKiB(RUSAGE_CHILDREN));
    std::filesystem::remove_all(root);
    return 0;
}
