// Times the process query - the executor run with "KVXAEQueryProcessesAuthExec"
// in a sandbox root - against ps listing the same columns, round by round,
// with extra sleeping processes running, and prints the median ratio.
//   bench_processes [rounds=15] [extra=500]     (as root)
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../executor_input.h"
#include "../table.h"
#include "plist/plist.h"

namespace {

const char* const kPsColumns = "pid,comm,args,pcpu,nlwp,euid,pmem,vsz,rss,pri,min_flt,maj_flt";

// Runs the program with the input on standard input; returns its output
// (when asked for) and the seconds it took. Exits on failure.
double timedRun(const std::vector<const char*>& argv, const std::string& input,
                std::string* output) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) exit(1);
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid < 0) exit(1);
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        close(in[0]);
        close(in[1]);
        close(out[0]);
        close(out[1]);
        std::vector<char*> args;
        for (const char* a : argv) args.push_back(const_cast<char*>(a));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    if (!input.empty() &&
        write(in[1], input.data(), input.size()) != static_cast<ssize_t>(input.size()))
        exit(1);
    close(in[1]);
    char buffer[65536];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0)
        if (output) output->append(buffer, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "%s failed with status %d\n", argv[0], status);
        exit(1);
    }
    return seconds;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? atoi(argv[1]) : 15;
    int extra = argc > 2 ? atoi(argv[2]) : 500;
    if (rounds < 1 || extra < 0) return 2;

    char root[] = "/tmp/varno-bench-XXXXXX";
    if (!mkdtemp(root)) return 1;
    setenv("VARNO_SYSTEM_ROOT", root, 1);
    std::string core = std::string(root) + "/System/Library/CoreServices";
    std::filesystem::create_directories(core);
    std::ofstream(core + "/SystemVersion.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
           "\t<key>ProductVersion</key>\n\t<string>10.6.8</string>\n</dict>\n</plist>\n";

    const std::optional<std::string> prepared = bench::executorInput(contract::id::kQueryProcesses);
    if (!prepared) return 1;
    const std::string& input = *prepared;

    // The extra processes die with this one, whatever happens to it.
    std::vector<pid_t> sleepers;
    for (int i = 0; i < extra; ++i) {
        pid_t pid = fork();
        if (pid < 0) break;
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            std::string seconds = std::to_string(3600 + i);
            execl("/bin/sleep", "sleep", seconds.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        sleepers.push_back(pid);
    }
    usleep(500 * 1000);

    std::vector<const char*> query = {VARNO_TOOL_PATH};
    std::vector<const char*> ps = {"ps", "-eo", kPsColumns};
    std::string records, listing;
    timedRun(query, input, &records);
    timedRun(ps, "", &listing);
    std::optional<plist::Value> record = plist::parse(records.substr(records.find("<?xml")));
    const plist::Value* list =
        record ? record->find("KVXAEQueryProcessesAuthExecDictionaryOutputKey") : nullptr;
    size_t listed = list && list->asArray() ? list->asArray()->size() : 0;
    size_t psLines = static_cast<size_t>(std::count(listing.begin(), listing.end(), '\n'));

    std::vector<double> tool, peer, ratios;
    for (int r = 0; r < rounds; ++r) {
        double t = timedRun(query, input, nullptr);
        double p = timedRun(ps, "", nullptr);
        tool.push_back(t);
        peer.push_back(p);
        ratios.push_back(t / p);
    }
    printf("process query: %d rounds, %zu extra sleeping processes\n", rounds, sleepers.size());
    printf("  processes listed: varnoTool %zu, ps %zu (less its header)\n", listed, psLines - 1);
    printf("  varnoTool KVXAEQueryProcessesAuthExec  median %.1f ms\n", median(tool) * 1e3);
    printf("  ps -eo %s  median %.1f ms\n", kPsColumns, median(peer) * 1e3);
    printf("  ratio (median of rounds)  %.2f\n", median(ratios));
    bench::tableRow("process query (queryProcesses)", "ps -eo ...", median(tool), median(peer),
                    median(ratios), bench::peakKiB(RUSAGE_CHILDREN));

    for (pid_t pid : sleepers) kill(pid, SIGKILL);
    for (pid_t pid : sleepers) waitpid(pid, nullptr, 0);
    std::filesystem::remove_all(root);
    return 0;
}
