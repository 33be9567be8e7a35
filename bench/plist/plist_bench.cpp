// Converts a ~20 MB property list between XML and binary with our library
// and with plistutil (libplist), each conversion in a fresh process, several
// rounds; prints median times, their ratios and each side's peak memory.
//
//   bench_plist [--runs N] [--megabytes M] [--plistutil PATH]
//   bench_plist --convert xml2bin|bin2xml IN OUT   (one conversion; internal)

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../table.h"
#include "plist/plist.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "bench_plist: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

std::string readFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) die("cannot open " + path);
    struct stat st;
    if (fstat(fd, &st) != 0) die("cannot stat " + path);
    std::string s(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t done = 0;
    while (done < s.size()) {
        const ssize_t n = read(fd, s.data() + done, s.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) die("cannot read " + path);
        done += static_cast<std::size_t>(n);
    }
    if (close(fd) != 0) die("cannot close " + path);
    return s;
}

void writeFile(const std::string& path, const std::string& s) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) die("cannot create " + path);
    std::size_t done = 0;
    while (done < s.size()) {
        const ssize_t n = write(fd, s.data() + done, s.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) die("cannot write " + path);
        done += static_cast<std::size_t>(n);
    }
    if (close(fd) != 0) die("cannot close " + path);
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Peak resident memory of this process so far, in KiB.
long peakKiB() {
    FILE* f = std::fopen("/proc/self/status", "re");
    if (!f) die("cannot open /proc/self/status");
    char line[256];
    long kib = 0;
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "VmHWM:", 6) == 0) kib = std::atol(line + 6);
    }
    if (std::fclose(f) != 0) die("cannot close /proc/self/status");
    return kib;
}

// One conversion as a worker process; prints the parse and write seconds
// and the peak memory (KiB) once the document is read.
int convert(const std::string& mode, const std::string& in, const std::string& out) {
    const long startPeak = peakKiB();
    const std::string bytes = readFile(in);
    const auto t0 = Clock::now();
    plist::ParseError error;
    const std::optional<plist::Value> v =
        mode == "xml2bin" ? plist::parseXML(bytes, &error) : plist::parseBinary(bytes, &error);
    if (!v) {
        std::fprintf(stderr, "bench_plist: %s: %s\n", in.c_str(), error.message.c_str());
        return 1;
    }
    const auto t1 = Clock::now();
    const long parsePeak = peakKiB();
    const std::string result = mode == "xml2bin" ? plist::writeBinary(*v) : plist::writeXML(*v);
    const auto t2 = Clock::now();
    writeFile(out, result);
    std::printf("%.6f %.6f %ld %ld\n", seconds(t1 - t0), seconds(t2 - t1), parsePeak, startPeak);
    return 0;
}

// Nested dictionaries of strings, numbers, dates and data, as preference and
// disk-information documents have them.
plist::Value makeDocument(std::size_t items) {
    plist::Dictionary all;
    for (std::size_t i = 0; i < items; ++i) {
        char key[32];
        std::snprintf(key, sizeof key, "item-%07zu", i);
        plist::Data checksum(20);
        for (std::size_t k = 0; k < checksum.size(); ++k)
            checksum[k] = static_cast<std::uint8_t>(i * 31 + k);
        const auto n = static_cast<std::int64_t>(i);
        all.emplace(
            key,
            plist::Value(plist::Dictionary{
                {"Name", plist::Value("Cache file " + std::to_string(i) + " & friends")},
                {"Path",
                 plist::Value("/Users/ann/Library/Caches/com.example.app" + std::to_string(i % 97) +
                              "/data-" + std::to_string(i) + ".db")},
                {"Size", plist::Value::integer(n * 7919 % 1000000007)},
                {"Ratio", plist::Value::real(static_cast<double>(i) / 7.0)},
                {"Modified", plist::Value(plist::Date{static_cast<double>(300000000 + n * 61)})},
                {"Enabled", plist::Value::boolean(i % 3 == 0)},
                {"Checksum", plist::Value(std::move(checksum))},
                {"Tags", plist::Value(plist::Array{plist::Value("cache"), plist::Value("user"),
                                                   plist::Value("t" + std::to_string(i % 13))})},
                {"Meta", plist::Value(plist::Dictionary{{"Version", plist::Value::integer(n % 5)},
                                                        {"Owner", plist::Value("ann")}})},
            }));
    }
    return plist::Value(plist::Dictionary{{"Items", plist::Value(std::move(all))},
                                          {"Version", plist::Value::integer(2)}});
}

struct Run {
    double wall = 0;
    long maxRssKiB = 0;
    std::string out;
};

Run spawn(const std::vector<std::string>& argv) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) die("pipe");
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0 ||
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1) != 0) {
        die("spawn actions");
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const auto start = Clock::now();
    pid_t pid;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0)
        die("spawn " + argv[0]);
    posix_spawn_file_actions_destroy(&actions);
    if (close(pipeFds[1]) != 0) die("close");
    Run r;
    char buf[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0) r.out.append(buf, static_cast<std::size_t>(n));
    }
    if (close(pipeFds[0]) != 0) die("close");
    int status = 0;
    struct rusage usage;
    if (wait4(pid, &status, 0, &usage) != pid) die("wait");
    r.wall = seconds(Clock::now() - start);
    r.maxRssKiB = usage.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "bench_plist: %s failed\n", argv[0].c_str());
        std::exit(1);
    }
    return r;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

bool sameAs(const plist::Value& expected, const std::string& path) {
    const std::optional<plist::Value> v = plist::parse(readFile(path));
    return v && *v == expected;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--convert") return convert(argv[2], argv[3], argv[4]);
    int runs = 5;
    double megabytes = 20;
    std::string peer = "/usr/bin/plistutil";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        if (opt == "--runs")
            runs = std::max(1, std::atoi(argv[i + 1]));
        else if (opt == "--megabytes")
            megabytes = std::atof(argv[i + 1]);
        else if (opt == "--plistutil")
            peer = argv[i + 1];
    }
    if (access(peer.c_str(), X_OK) != 0) die(peer + " (install libplist-utils)");

    char dirTemplate[] = "/tmp/plist-bench.XXXXXX";
    if (!mkdtemp(dirTemplate)) die("mkdtemp");
    const std::string dir = dirTemplate;
    char exe[4096];
    const ssize_t exeLength = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (exeLength <= 0) die("readlink /proc/self/exe");
    const std::string self(exe, static_cast<std::size_t>(exeLength));

    // Scale the item count to the wanted size from a small sample.
    const double perItem = static_cast<double>(plist::writeXML(makeDocument(1000)).size()) / 1000;
    const auto items = static_cast<std::size_t>(megabytes * 1e6 / perItem);
    const plist::Value doc = makeDocument(items);
    const std::string xml = plist::writeXML(doc), bin = plist::writeBinary(doc);
    writeFile(dir + "/doc.xml", xml);
    writeFile(dir + "/doc.bplist", bin);
    std::printf("document: %zu items, XML %.1f MB, binary %.1f MB, %d runs each\n", items,
                static_cast<double>(xml.size()) / 1e6, static_cast<double>(bin.size()) / 1e6, runs);

    struct Side {
        std::vector<double> wall, parse, write;
        long rss = 0, parseRss = 0, startRss = 0;
    };
    struct Direction {
        const char* name;
        std::string in, ours, theirs, format;
        Side us, peer;
    } dirs[] = {
        {"XML -> binary",
         dir + "/doc.xml",
         dir + "/ours.bplist",
         dir + "/peer.bplist",
         "bin",
         {},
         {}},
        {"binary -> XML", dir + "/doc.bplist", dir + "/ours.xml", dir + "/peer.xml", "xml", {}, {}},
    };
    for (int r = 0; r < runs; ++r) {
        for (auto& d : dirs) {
            const std::string mode = d.format == "bin" ? "xml2bin" : "bin2xml";
            // Alternate who goes first so caches favour neither side.
            for (int k = 0; k < 2; ++k) {
                if ((k == 0) == (r % 2 == 0)) {
                    const Run run = spawn({self, "--convert", mode, d.in, d.ours});
                    double parse = 0, write = 0;
                    long parsePeak = 0, startPeak = 0;
                    if (std::sscanf(run.out.c_str(), "%lf %lf %ld %ld", &parse, &write, &parsePeak,
                                    &startPeak) != 4) {
                        die("worker output");
                    }
                    d.us.parseRss = std::max(d.us.parseRss, parsePeak);
                    d.us.startRss = std::max(d.us.startRss, startPeak);
                    d.us.wall.push_back(run.wall);
                    d.us.parse.push_back(parse);
                    d.us.write.push_back(write);
                    d.us.rss = std::max(d.us.rss, run.maxRssKiB);
                } else {
                    const Run run = spawn({peer, "-i", d.in, "-o", d.theirs, "-f", d.format});
                    d.peer.wall.push_back(run.wall);
                    d.peer.rss = std::max(d.peer.rss, run.maxRssKiB);
                }
            }
        }
    }

    std::printf("\n%-15s %12s %12s %10s %14s %14s\n", "conversion", "ours (s)", "plistutil (s)",
                "ours/peer", "ours peak MB", "peer peak MB");
    for (const auto& d : dirs) {
        const double ours = median(d.us.wall), theirs = median(d.peer.wall);
        std::printf("%-15s %12.3f %12.3f %10.2f %14.1f %14.1f\n", d.name, ours, theirs,
                    ours / theirs, static_cast<double>(d.us.rss) / 1024,
                    static_cast<double>(d.peer.rss) / 1024);
    }
    std::printf(
        "\nours inside the process (median s): parse XML %.3f, write binary %.3f, "
        "parse binary %.3f, write XML %.3f\n",
        median(dirs[0].us.parse), median(dirs[0].us.write), median(dirs[1].us.parse),
        median(dirs[1].us.write));
    const auto ratio = [&](long kib) {
        return static_cast<double>(kib) * 1024 / static_cast<double>(xml.size());
    };
    std::printf(
        "our peak memory / XML size: reading XML %.2f, reading binary %.2f; "
        "whole conversion %.2f (XML -> binary), %.2f (binary -> XML); "
        "a worker starts at %.1f MB\n",
        ratio(dirs[0].us.parseRss), ratio(dirs[1].us.parseRss), ratio(dirs[0].us.rss),
        ratio(dirs[1].us.rss), static_cast<double>(dirs[0].us.startRss) / 1024);

    for (const auto& d : dirs) {
        std::vector<double> ratios;
        for (std::size_t i = 0; i < d.us.wall.size(); ++i) {
            ratios.push_back(d.us.wall[i] / d.peer.wall[i]);
        }
        const std::string measured = std::string("plist ") + d.name;
        bench::tableRow(measured.c_str(), "plistutil", median(d.us.wall), median(d.peer.wall),
                        median(ratios), d.us.rss);
    }

    bool agree = true;
    for (const auto& d : dirs) agree = sameAs(doc, d.ours) && sameAs(doc, d.theirs) && agree;
    std::printf("all four outputs read back equal to the document: %s\n", agree ? "yes" : "NO");

    for (const char* f :
         {"doc.xml", "doc.bplist", "ours.bplist", "peer.bplist", "ours.xml", "peer.xml"}) {
        unlink((dir + "/" + f).c_str());
    }
    if (rmdir(dir.c_str()) != 0) die("rmdir " + dir);
    return agree ? 0 : 1;
}
