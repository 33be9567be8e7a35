// Times the scan for localization folders (allLProjPaths, the walk the
// localization cleaning makes before it removes anything) against
// `find DIR -type d -name '*.lproj'` on the same tree, alternating the two,
// and prints the medians and their ratio.
//   bench_localizations [apps=2000] [localizations=40] [runs=7]
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

#include "../table.h"
#include "operations/CleanLocalizations.h"
#include "plist/plist.h"

namespace {

using Clock = std::chrono::steady_clock;

int runProgram(std::vector<std::string> args, bool quiet) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (quiet) {
            int null = open("/dev/null", O_WRONLY);
            if (null < 0 || dup2(null, 1) < 0) _exit(126);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Our scan with its "Scanning" line sent to /dev/null, like find's output.
double timeScan(const plist::Dictionary& request, size_t* found) {
    fflush(stdout);
    int saved = dup(1);
    int null = open("/dev/null", O_WRONLY);
    if (saved < 0 || null < 0 || dup2(null, 1) < 0) exit(1);
    auto start = Clock::now();
    std::vector<std::string> paths = allLProjPaths(request);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(null);
    *found = paths.size();
    return seconds;
}

double timeFind(const std::string& folder) {
    auto start = Clock::now();
    int status = runProgram({"/usr/bin/find", folder, "-type", "d", "-name", "*.lproj"}, true);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (status != 0) {
        fprintf(stderr, "find failed with status %d\n", status);
        exit(1);
    }
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    std::string apps = argc > 1 ? argv[1] : "2000";
    std::string localizations = argc > 2 ? argv[2] : "40";
    int runs = argc > 3 ? atoi(argv[3]) : 7;
    char root[] = "/tmp/varno-bench-lproj-XXXXXX";
    if (!mkdtemp(root)) return 1;
    printf("building %s bundles x %s localizations in %s\n", apps.c_str(), localizations.c_str(),
           root);
    if (runProgram({VARNO_SANDBOX_BUILDER, root, "--apps", apps, "--localizations", localizations},
                   false) != 0) {
        fprintf(stderr, "the sandbox builder failed\n");
        return 1;
    }
    setenv("VARNO_SYSTEM_ROOT", root, 1);
    plist::Dictionary request;
    request["UserApplications"] = plist::Value::boolean(true);
    std::string folder = std::string(root) + "/Applications";

    // One untimed pass of each so both start from a warm cache.
    size_t found = 0;
    timeScan(request, &found);
    timeFind(folder);
    std::vector<double> ours, peer, ratios;
    for (int r = 0; r < runs; ++r) {
        double o = timeScan(request, &found);
        double f = timeFind(folder);
        ours.push_back(o);
        peer.push_back(f);
        ratios.push_back(o / f);
        printf("run %d: allLProjPaths %.3f s (%zu folders), find %.3f s, ratio %.2f\n", r + 1, o,
               found, f, o / f);
    }
    printf("median: allLProjPaths %.3f s, find %.3f s, median ratio %.2f\n", median(ours),
           median(peer), median(ratios));
    bench::tableRow("localization scan (allLProjPaths)", "find -type d -name *.lproj",
                    median(ours), median(peer), median(ratios), bench::peakKiB(RUSAGE_SELF));
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    return 0;
}
