// Reads a synthetic executor stream (text lines, progress records, result
// records) from a pipe fed by cat, and compares three readers in one run:
// cat alone (the reader discards), the record-stream parser, and the parser
// with every result record parsed as a property list (what Varno does).
//   bench_records [megabytes=100] [rounds=5]
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../table.h"
#include "plist/plist.h"
#include "recordstreamparser.h"

namespace {

std::string makeStream(std::size_t bytes) {
    plist::Dictionary record;
    record["KVXAEDictionaryIdentifierAuthExecOutputIdentifier"] =
        plist::Value("KVXAEUserSystemCleanCachesAuthExec");
    record["KVXAETotalSizeRemovedAuthExecDictionaryOutputKey"] = plist::Value::integer(123456789);
    const std::string document = plist::writeXML(plist::Value(record));
    std::string stream;
    stream.reserve(bytes + 4096);
    for (unsigned i = 0; stream.size() < bytes; ++i) {
        stream += "\tRemoving /Library/Caches/com.example.app" + std::to_string(i) + "/Cache.db\n";
        if (i % 3 == 0)
            stream += "KVXAEProgressUpdateAuthExecOutputIdentifier(" + std::to_string(i % 100) +
                      ".00,100.00)\n";
        if (i % 10 == 0) stream += document;
    }
    return stream;
}

enum class Reader { Discard, Parser, ParserAndPlist };

// Runs cat on the file and reads its output; returns seconds and fills the
// item count.
double readThroughCat(const char* path, Reader reader, std::size_t* items) {
    int fds[2];
    if (pipe(fds) != 0) std::exit(1);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid < 0) std::exit(1);
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        execlp("cat", "cat", path, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::size_t count = 0;
    std::size_t records = 0;
    varno::RecordStreamParser parser([&](const varno::StreamItem& item) {
        ++count;
        if (reader == Reader::ParserAndPlist && item.kind == varno::StreamItem::Kind::Record) {
            if (plist::parse(item.bytes)) ++records;
        }
    });
    std::vector<char> buffer(1 << 16);
    for (;;) {
        ssize_t n = read(fds[0], buffer.data(), buffer.size());
        if (n < 0) std::exit(1);
        if (n == 0) break;
        if (reader != Reader::Discard) parser.feed(std::string_view(buffer.data(), n));
    }
    parser.finish();
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::exit(1);
    *items = count + records;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    char path[] = "/tmp/varno-records-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return 1;
    const std::string stream = makeStream(megabytes << 20);
    if (write(fd, stream.data(), stream.size()) != static_cast<ssize_t>(stream.size())) return 1;
    close(fd);

    std::vector<double> cat, parser, full, ratioParser, ratioFull;
    std::size_t items = 0;
    for (int r = 0; r < rounds; ++r) {
        const double c = readThroughCat(path, Reader::Discard, &items);
        const double p = readThroughCat(path, Reader::Parser, &items);
        const double f = readThroughCat(path, Reader::ParserAndPlist, &items);
        cat.push_back(c);
        parser.push_back(p);
        full.push_back(f);
        ratioParser.push_back(p / c);
        ratioFull.push_back(f / c);
    }
    unlink(path);
    const double mb = static_cast<double>(stream.size()) / (1 << 20);
    std::printf("record stream: %.1f MB through a pipe from cat, %d rounds (medians)\n", mb,
                rounds);
    std::printf("  cat, reader discards          %.3f s  %7.0f MB/s\n", median(cat),
                mb / median(cat));
    std::printf("  record-stream parser          %.3f s  %7.0f MB/s  ratio %.2f\n", median(parser),
                mb / median(parser), median(ratioParser));
    std::printf("  parser + records as plists    %.3f s  %7.0f MB/s  ratio %.2f\n", median(full),
                mb / median(full), median(ratioFull));
    bench::tableRow("record-stream parsing", "cat (reader discards)", median(parser), median(cat),
                    median(ratioParser), bench::peakKiB(RUSAGE_SELF));
    return 0;
}
