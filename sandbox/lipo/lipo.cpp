// The sandbox's "/usr/bin/lipo": lists the architectures of a Mach-O file
// and removes architectures from universal files, as the system's lipo does
// for the calls the executor makes:
//
//   lipo -info PATH...
//   lipo -remove NAME [-remove NAME...] PATH -output OUT
//
// Paths are machine paths under the sandbox's system root. Installed as
// ROOT/usr/bin/lipo it takes ROOT as the system root; elsewhere the root
// comes from VARNO_SYSTEM_ROOT. Like every stand-in it appends its effective
// user and argument vector to the root's tool journal.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "bundle/arch.h"
#include "bundle/macho.h"
#include "fs/open.h"
#include "host/root.h"

namespace {

// Shared with the other stand-ins of the sandbox.
constexpr const char* kJournal = "/private/var/log/varno-journal";
constexpr const char* kInstalledPath = "/usr/bin/lipo";

struct Config {
    bool info = false;
    std::vector<std::string> removes;
    std::optional<std::string> output;
    std::vector<std::string> inputs;
};

[[noreturn]] void fatal(const std::string& message) {
    fprintf(stderr, "lipo: %s\n", message.c_str());
    exit(1);
}

std::string errnoText() {
    return strerror(errno);
}

// Installed inside a root, the root is the folder above "/usr/bin/lipo".
void takeRootFromOwnLocation() {
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return;
    std::string path(self, static_cast<size_t>(n));
    std::string suffix = kInstalledPath;
    if (path.size() <= suffix.size() ||
        path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0)
        return;
    std::string root = path.substr(0, path.size() - suffix.size());
    if (setenv("VARNO_SYSTEM_ROOT", root.c_str(), 1) != 0) fatal("cannot set the system root");
}

std::string journalField(const std::string& root, const std::string& argument) {
    std::string value = argument;
    if (root != "/" && value.size() > root.size() && value.compare(0, root.size(), root) == 0 &&
        value[root.size()] == '/')
        value.erase(0, root.size());
    std::string out;
    for (char c : value) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

void appendToJournal(int argc, char** argv) {
    std::string root = host::systemRoot();
    std::string line = std::to_string(geteuid());
    for (int i = 0; i < argc; ++i) line += '\t' + journalField(root, argv[i]);
    line += '\n';
    std::string path = host::realPath(kJournal);
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) fatal("cannot open the journal " + path + ": " + errnoText());
    ssize_t written = write(fd, line.data(), line.size());
    if (written != static_cast<ssize_t>(line.size()))
        fatal("cannot append to the journal " + path + ": " + errnoText());
    if (close(fd) != 0) fatal("cannot close the journal " + path + ": " + errnoText());
}

Config parseArguments(int argc, char** argv) {
    Config c;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-info") {
            c.info = true;
        } else if (a == "-remove" || a == "-output") {
            if (i + 1 >= argc) fatal("missing argument to " + a + " option");
            std::string value = argv[++i];
            if (a == "-remove") {
                c.removes.push_back(value);
            } else {
                if (c.output) fatal("more than one -output option specified");
                c.output = value;
            }
        } else if (!a.empty() && a[0] == '-') {
            fatal("unknown flag: " + a);
        } else {
            c.inputs.push_back(a);
        }
    }
    if (c.info == !c.removes.empty())
        fatal("exactly one of -info or -remove <arch_type> must be specified");
    if (c.inputs.empty()) fatal("no input files specified");
    return c;
}

int openInput(const std::string& machinePath) {
    int fd = vfs::openMachinePath(machinePath, O_RDONLY | O_NONBLOCK);
    if (fd < 0) fatal("can't open input file: " + machinePath + " (" + errnoText() + ")");
    return fd;
}

int info(const Config& c) {
    for (const std::string& input : c.inputs) {
        int fd = openInput(input);
        auto file = bundle::readMachO(fd);
        close(fd);
        if (!file) fatal("can't figure out the architecture type of: " + input);
        std::string line;
        if (file->fat) {
            line = "Architectures in the fat file: " + input + " are: ";
            for (const bundle::Slice& s : file->slices)
                line += bundle::lipoName(s.cputype, s.cpusubtype) + " ";
        } else {
            const bundle::Slice& s = file->slices.front();
            line = "Non-fat file: " + input +
                   " is architecture: " + bundle::lipoName(s.cputype, s.cpusubtype);
        }
        line += '\n';
        fputs(line.c_str(), stdout);
    }
    return 0;
}

bool sameArch(const bundle::Slice& s, const bundle::ArchInfo& a) {
    return s.cputype == a.cputype &&
           (static_cast<std::uint32_t>(s.cpusubtype) & bundle::kCPUSubtypeMask) ==
               static_cast<std::uint32_t>(a.cpusubtype);
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool copyRange(int in, std::uint64_t offset, std::uint64_t size, int out) {
    std::vector<char> buf(1 << 20);
    while (size > 0) {
        size_t want = static_cast<size_t>(std::min<std::uint64_t>(size, buf.size()));
        ssize_t n = pread(in, buf.data(), want, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;  // the input shrank while it was copied
            return false;
        }
        if (!writeAll(out, buf.data(), static_cast<size_t>(n))) return false;
        offset += static_cast<std::uint64_t>(n);
        size -= static_cast<std::uint64_t>(n);
    }
    return true;
}

void putBE32(std::string& b, size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<size_t>(i)] = static_cast<char>(v >> (24 - 8 * i));
}

// The fat file of the kept slices: the header, then each slice in the input's
// order at the next offset that its own alignment allows, zeros between.
bool writeFat(int in, const std::vector<bundle::Slice>& kept, int out) {
    size_t headerSize = bundle::kFatHeaderSize + kept.size() * bundle::kFatArchSize;
    std::string header(headerSize, '\0');
    putBE32(header, 0, bundle::kFatMagic);
    putBE32(header, 4, static_cast<std::uint32_t>(kept.size()));
    std::vector<std::uint64_t> offsets;
    std::uint64_t cursor = headerSize;
    for (size_t i = 0; i < kept.size(); ++i) {
        std::uint64_t step = std::uint64_t{1} << kept[i].align;
        std::uint64_t offset = (cursor + step - 1) / step * step;
        if (offset + kept[i].size > UINT32_MAX) {
            errno = EFBIG;  // the 32-bit fat header cannot hold it
            return false;
        }
        size_t r = bundle::kFatHeaderSize + i * bundle::kFatArchSize;
        putBE32(header, r, static_cast<std::uint32_t>(kept[i].cputype));
        putBE32(header, r + 4, static_cast<std::uint32_t>(kept[i].cpusubtype));
        putBE32(header, r + 8, static_cast<std::uint32_t>(offset));
        putBE32(header, r + 12, static_cast<std::uint32_t>(kept[i].size));
        putBE32(header, r + 16, kept[i].align);
        offsets.push_back(offset);
        cursor = offset + kept[i].size;
    }
    if (!writeAll(out, header.data(), header.size())) return false;
    std::uint64_t at = headerSize;
    for (size_t i = 0; i < kept.size(); ++i) {
        std::string padding(static_cast<size_t>(offsets[i] - at), '\0');
        if (!writeAll(out, padding.data(), padding.size())) return false;
        if (!copyRange(in, kept[i].offset, kept[i].size, out)) return false;
        at = offsets[i] + kept[i].size;
    }
    return true;
}

// A new file with a fresh name in the folder; -1 with errno on failure.
int createTemporary(int dir, std::string& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        char buf[32];
        snprintf(buf, sizeof buf, ".lipo.%d.%d", static_cast<int>(getpid()), rand());
        int fd = openat(dir, buf, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            name = buf;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

int remove(const Config& c) {
    if (c.inputs.size() != 1) fatal("only one input file can be specified with -remove");
    if (!c.output) fatal("no output file specified");
    const std::string& input = c.inputs.front();
    std::vector<bundle::ArchInfo> unwanted;
    for (const std::string& name : c.removes) {
        auto a = bundle::archInfoFromName(name);
        if (!a)
            fatal("unknown architecture flag: " + name +
                  " given to -remove operation");
        unwanted.push_back(*a);
    }

    int in = openInput(input);
    auto file = bundle::readMachO(in);
    if (!file) fatal("can't figure out the architecture type of: " + input);
    if (!file->fat)
        fatal("input file (" + input + ") must be a fat file when the -remove option is specified");
    for (size_t i = 0; i < unwanted.size(); ++i) {
        bool present =
            std::any_of(file->slices.begin(), file->slices.end(),
                        [&](const bundle::Slice& s) { return sameArch(s, unwanted[i]); });
        if (!present)
            fatal("-remove " + c.removes[i] + " specified but fat file: " + input +
                  " does not contain that architecture");
    }
    std::vector<bundle::Slice> kept;
    for (const bundle::Slice& s : file->slices) {
        bool drop = std::any_of(unwanted.begin(), unwanted.end(),
                                [&](const bundle::ArchInfo& a) { return sameArch(s, a); });
        if (!drop) kept.push_back(s);
    }
    if (kept.empty()) fatal("-remove's specified would result in an empty fat file");

    // Written beside the output and renamed over it, so the output path is
    // never half written and a link planted there is replaced, not followed.
    std::string leaf, temp;
    int dir = vfs::openParentFolder(*c.output, &leaf);
    int fd = dir < 0 ? -1 : createTemporary(dir, temp);
    if (fd < 0) fatal("can't create output file: " + *c.output + " (" + errnoText() + ")");
    struct stat st {};
    bool ok = fstat(in, &st) == 0 && writeFat(in, kept, fd) && fchmod(fd, st.st_mode & 0777) == 0 &&
              fsync(fd) == 0;
    std::string reason = errnoText();
    if (close(fd) != 0 && ok) {
        ok = false;
        reason = errnoText();
    }
    close(in);
    if (ok && renameat(dir, temp.c_str(), dir, leaf.c_str()) != 0) {
        ok = false;
        reason = errnoText();
    }
    if (!ok) {
        unlinkat(dir, temp.c_str(), 0);
        fatal("can't write output file: " + *c.output + " (" + reason + ")");
    }
    close(dir);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    takeRootFromOwnLocation();
    appendToJournal(argc, argv);
    Config c = parseArguments(argc, argv);
    return c.info ? info(c) : remove(c);
}
