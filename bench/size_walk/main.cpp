// Times the executor's size walk and recursive folder listing against the
// system's own tools on the same tree, in the same run:
//   sizeAtFSRef(root)                          vs  du -sb ROOT
//   getDirectoryContentsRecursive(folders)     vs  find ROOT -mindepth 1 -type d
// Each measurement runs in its own child process so that its peak memory
// can be read from wait4; the page cache is warmed first.
//
// Usage: bench_size_walk [files] [runs] [scratch-folder]
//   defaults: 200000 files in files/10 folders, 7 runs, $TMPDIR or /tmp.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "../table.h"
#include "Utilities.h"
#include "fs/remove.h"

namespace {

struct Sample {
    double seconds = 0;
    long peakKiB = 0;
};

// Runs fn in a child; its time (wall clock, fork included) and peak memory.
Sample measure(const std::function<void()>& fn) {
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid < 0) {
        perror("fork");
        exit(1);
    }
    if (pid == 0) {
        fn();
        _exit(0);
    }
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "measured child failed\n");
        exit(1);
    }
    Sample s;
    s.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    s.peakKiB = usage.ru_maxrss;
    return s;
}

void runTool(const std::vector<std::string>& argv) {
    int null = open("/dev/null", O_WRONLY);
    if (null < 0 || dup2(null, 1) < 0) _exit(2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(3);
}

void writeFile(const std::string& path, size_t size) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        perror(path.c_str());
        exit(1);
    }
    std::string data(size, 'x');
    if (write(fd, data.data(), size) != static_cast<ssize_t>(size)) exit(1);
    close(fd);
}

// `files` files in files/10 folders: top folders holding 99 subfolders each,
// ten files in every folder, sizes 0 to 511 bytes.
void makeTree(const std::string& root, long files) {
    long folders = files / 10;
    long tops = std::max(1L, folders / 100);
    long made = 0, fileNumber = 0;
    char name[64];
    for (long t = 0; t < tops && made < folders; ++t) {
        snprintf(name, sizeof name, "/t%04ld", t);
        std::string top = root + name;
        mkdir(top.c_str(), 0755);
        ++made;
        std::vector<std::string> here = {top};
        for (long s = 0; s < 99 && made < folders; ++s, ++made) {
            snprintf(name, sizeof name, "/s%02ld", s);
            here.push_back(top + name);
            mkdir(here.back().c_str(), 0755);
        }
        for (const std::string& folder : here) {
            for (int f = 0; f < 10 && fileNumber < files; ++f, ++fileNumber) {
                snprintf(name, sizeof name, "/f%d.dat", f);
                writeFile(folder + name, static_cast<size_t>(fileNumber * 37 % 512));
            }
        }
    }
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Comparison {
    const char* name;
    const char* measured;
    const char* peerName;
    std::function<void()> ours;
    std::function<void()> peer;
};

}  // namespace

int main(int argc, char** argv) {
    long files = argc > 1 ? atol(argv[1]) : 200000;
    int runs = argc > 2 ? atoi(argv[2]) : 7;
    const char* tmp = argc > 3 ? argv[3] : (getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp");
    std::string sandbox = std::string(tmp) + "/varno-bench-XXXXXX";
    if (mkdtemp(sandbox.data()) == nullptr) {
        perror("mkdtemp");
        return 1;
    }
    setenv("VARNO_SYSTEM_ROOT", sandbox.c_str(), 1);
    const std::string machineTree = "/tree";
    const std::string realTree = sandbox + machineTree;
    mkdir(realTree.c_str(), 0755);
    printf("tree: %ld files in %ld folders under %s\n", files, files / 10, realTree.c_str());
    makeTree(realTree, files);

    std::uint64_t ourSize = 0;
    {
        FSRef ref;
        posixStringToFSRef(ref, machineTree, true);
        ourSize = sizeAtFSRef(ref);
    }
    std::vector<std::string> folders;
    getDirectoryContentsRecursive(machineTree.c_str(), false, true, folders);
    // du -sb counts the folders' own sizes too; take them off to compare.
    unsigned long long duSize = 0;
    std::string command = "du -sb '" + realTree + "'";
    if (FILE* p = popen(command.c_str(), "r")) {
        if (fscanf(p, "%llu", &duSize) != 1) duSize = 0;
        pclose(p);
    }
    unsigned long long folderBytes = 0;
    folders.push_back(machineTree);
    for (const std::string& folder : folders) {
        struct stat st {};
        if (stat((sandbox + folder).c_str(), &st) == 0)
            folderBytes += static_cast<unsigned long long>(st.st_size);
    }
    printf(
        "sizeAtFSRef %llu bytes; du -sb %llu less %llu for folders = %llu (%s); folders listed: "
        "%zu\n",
        static_cast<unsigned long long>(ourSize), duSize, folderBytes, duSize - folderBytes,
        duSize - folderBytes == ourSize ? "same" : "DIFFERENT", folders.size() - 1);
    // The measured children start as copies of this process: keep it small.
    std::vector<std::string>().swap(folders);

    std::vector<Comparison> comparisons = {
        {"sizeAtFSRef vs du -sb", "size walk (sizeAtFSRef)", "du -sb",
         [&] {
             FSRef ref;
             posixStringToFSRef(ref, machineTree, true);
             volatile std::uint64_t size = sizeAtFSRef(ref);
             (void)size;
         },
         [&] {
             runTool({"du", "-sb", realTree});
         }},
        {"getDirectoryContentsRecursive vs find -type d",
         "folder walk (getDirectoryContentsRecursive)", "find -type d",
         [&] {
             std::vector<std::string> paths;
             getDirectoryContentsRecursive(machineTree.c_str(), false, true, paths);
         },
         [&] {
             runTool({"find", realTree, "-mindepth", "1", "-type", "d"});
         }},
    };
    for (const Comparison& c : comparisons) {
        measure(c.ours);  // warm the caches
        measure(c.peer);
        std::vector<double> ratios, ours, peers;
        long ourPeak = 0, peerPeak = 0;
        for (int i = 0; i < runs; ++i) {
            // Alternate who goes first so drift in the machine's load is shared.
            Sample a, b;
            if (i % 2 == 0) {
                a = measure(c.ours);
                b = measure(c.peer);
            } else {
                b = measure(c.peer);
                a = measure(c.ours);
            }
            ours.push_back(a.seconds);
            peers.push_back(b.seconds);
            ratios.push_back(a.seconds / b.seconds);
            ourPeak = std::max(ourPeak, a.peakKiB);
            peerPeak = std::max(peerPeak, b.peakKiB);
        }
        printf(
            "%-48s ours %.3fs  peer %.3fs  median ratio %.2f  peak memory ours %ld KiB, peer "
            "%ld KiB\n",
            c.name, median(ours), median(peers), median(ratios), ourPeak, peerPeak);
        bench::tableRow(c.measured, c.peerName, median(ours), median(peers), median(ratios),
                        ourPeak);
    }
    vfs::removefile(machineTree, vfs::REMOVEFILE_RECURSIVE);
    rmdir(sandbox.c_str());
    return 0;
}
