// Times the executor emptying a folder (the cache cleaning's temporary items
// group: size accounting on, one top-level entry so the pacing pause counts
// once) against rm -rf of an identical copy, in the same run.
//   bench_removal [files=100000] [rounds=5] [scratch-folder]    (as root)
// The files lie in files/100 folders, 100 to a folder, 0 to 511 bytes each.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
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

struct Sample {
    double seconds = 0;
    long peakKiB = 0;
};

// Starts argv with `input` on standard input and its output discarded;
// its wall-clock time and peak memory.
Sample run(const std::vector<std::string>& argv, const std::string& input) {
    int in[2];
    if (pipe(in) != 0) exit(1);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid < 0) exit(1);
    if (pid == 0) {
        dup2(in[0], 0);
        close(in[0]);
        close(in[1]);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    if (!input.empty()) (void)!write(in[1], input.data(), input.size());
    close(in[1]);
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "%s failed with status %d\n", argv[0].c_str(), status);
        exit(1);
    }
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            usage.ru_maxrss};
}

void makeTree(const std::string& top, long files) {
    if (mkdir(top.c_str(), 0755) != 0) {
        perror(top.c_str());
        exit(1);
    }
    const std::string data(512, 'x');
    char name[64];
    for (long n = 0; n < files; ++n) {
        snprintf(name, sizeof name, "/d%04ld", n / 100);
        std::string folder = top + name;
        if (n % 100 == 0) mkdir(folder.c_str(), 0755);
        snprintf(name, sizeof name, "/f%02ld", n % 100);
        int fd = open((folder + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const std::size_t size = static_cast<std::size_t>(n * 37 % 512);
        if (fd < 0 || write(fd, data.data(), size) != static_cast<ssize_t>(size)) exit(1);
        close(fd);
    }
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);  // rounds are long: show each as it ends
    const long files = argc > 1 ? atol(argv[1]) : 100000;
    const int rounds = argc > 2 ? atoi(argv[2]) : 5;
    const char* tmp = argc > 3 ? argv[3] : (getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp");
    std::string root = std::string(tmp) + "/varno-bench-XXXXXX";
    if (mkdtemp(root.data()) == nullptr) {
        perror("mkdtemp");
        return 1;
    }
    setenv("VARNO_SYSTEM_ROOT", root.c_str(), 1);
    const std::string emptied = root + "/private/tmp";
    const std::string peer = root + "/peer";
    std::filesystem::create_directories(emptied);
    std::filesystem::create_directories(peer);

    plist::Dictionary request;
    request["SystemTemporaryItems"] = plist::Value::boolean(true);
    const std::optional<std::string> prepared =
        bench::executorInput(contract::id::kUserSystemCleanCaches, request);
    if (!prepared) return 1;
    const std::string& input = *prepared;

    printf("removal: %ld files in %ld folders, %d rounds, under %s\n", files, (files + 99) / 100,
           rounds, root.c_str());
    std::vector<double> ours, theirs, ratios;
    long peak = 0;
    for (int r = 0; r < rounds; ++r) {
        makeTree(emptied + "/big", files);
        makeTree(peer + "/big", files);
        sync();
        // Alternate who goes first so drift in the machine's load is shared.
        Sample a, b;
        if (r % 2 == 0) {
            a = run({VARNO_TOOL_PATH}, input);
            b = run({"rm", "-rf", peer + "/big"}, "");
        } else {
            b = run({"rm", "-rf", peer + "/big"}, "");
            a = run({VARNO_TOOL_PATH}, input);
        }
        if (std::filesystem::exists(emptied + "/big") || std::filesystem::exists(peer + "/big")) {
            fprintf(stderr, "a tree was not removed\n");
            return 1;
        }
        printf("  round %d: executor %.3f s (%ld KiB), rm -rf %.3f s\n", r + 1, a.seconds,
               a.peakKiB, b.seconds);
        ours.push_back(a.seconds);
        theirs.push_back(b.seconds);
        ratios.push_back(a.seconds / b.seconds);
        peak = std::max(peak, a.peakKiB);
    }
    printf("  ratio (median of rounds) %.2f\n", median(ratios));
    bench::tableRow("folder emptying (removeContentsOfDirectory)", "rm -rf", median(ours),
                    median(theirs), median(ratios), peak);
    std::filesystem::remove_all(root);
    return 0;
}
