#include "fs/remove.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "fs/open.h"
#include "fs/walk.h"

namespace vfs {
namespace {

// One overwrite pass: a repeating pattern of up to three bytes, or random
// data when the pattern is empty.
struct Pass {
    std::array<std::uint8_t, 3> bytes{};
    std::size_t length = 0;
};

constexpr Pass rnd() {
    return Pass{};
}
constexpr Pass fill(std::uint8_t b) {
    return Pass{{b, b, b}, 1};
}
constexpr Pass fill3(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
    return Pass{{a, b, c}, 3};
}

// Department of Defense 7-pass sequence.
const std::vector<Pass>& sevenPasses() {
    static const std::vector<Pass> passes = {fill(0xF6), fill(0x00), fill(0xFF), rnd(),
                                             fill(0x00), fill(0xFF), rnd()};
    return passes;
}

// Gutmann's 35-pass sequence: four random passes, the 27 patterns, four random.
const std::vector<Pass>& thirtyFivePasses() {
    static const std::vector<Pass> passes = [] {
        std::vector<Pass> p(4, rnd());
        p.push_back(fill(0x55));
        p.push_back(fill(0xAA));
        p.push_back(fill3(0x92, 0x49, 0x24));
        p.push_back(fill3(0x49, 0x24, 0x92));
        p.push_back(fill3(0x24, 0x92, 0x49));
        for (int i = 0; i < 16; ++i) p.push_back(fill(static_cast<std::uint8_t>(i * 0x11)));
        p.push_back(fill3(0x92, 0x49, 0x24));
        p.push_back(fill3(0x49, 0x24, 0x92));
        p.push_back(fill3(0x24, 0x92, 0x49));
        p.push_back(fill3(0x6D, 0xB6, 0xDB));
        p.push_back(fill3(0xB6, 0xDB, 0x6D));
        p.push_back(fill3(0xDB, 0x6D, 0xB6));
        for (int i = 0; i < 4; ++i) p.push_back(rnd());
        return p;
    }();
    return passes;
}

const std::vector<Pass>* passesFor(removefile_flags_t flags) {
    static const std::vector<Pass> onePass = {rnd()};
    if (flags & REMOVEFILE_SECURE_35_PASS) return &thirtyFivePasses();
    if (flags & REMOVEFILE_SECURE_7_PASS) return &sevenPasses();
    if (flags & REMOVEFILE_SECURE_1_PASS) return &onePass;
    return nullptr;
}

// xorshift64*: fast filler for the random passes, seeded from the kernel.
class RandomBytes {
  public:
    RandomBytes() {
        if (getrandom(&state_, sizeof state_, 0) != sizeof state_ || state_ == 0)
            state_ = 0x9E3779B97F4A7C15ull ^ static_cast<std::uint64_t>(getpid());
    }
    void fill(std::uint8_t* out, std::size_t n) {
        for (std::size_t i = 0; i < n; i += 8) {
            state_ ^= state_ >> 12;
            state_ ^= state_ << 25;
            state_ ^= state_ >> 27;
            std::uint64_t v = state_ * 0x2545F4914F6CDD1Dull;
            for (std::size_t k = 0; k < 8 && i + k < n; ++k)
                out[i + k] = static_cast<std::uint8_t>(v >> (8 * k));
        }
    }

  private:
    std::uint64_t state_ = 0;
};

int writePass(int fd, off_t size, const Pass& pass, RandomBytes& random) {
    constexpr std::size_t kChunk = 3 * 21846;  // a multiple of every pattern length
    std::vector<std::uint8_t> chunk(kChunk);
    if (pass.length != 0) {
        for (std::size_t i = 0; i < kChunk; ++i) chunk[i] = pass.bytes[i % pass.length];
    }
    for (off_t done = 0; done < size;) {
        std::size_t n = static_cast<std::size_t>(std::min<off_t>(size - done, kChunk));
        if (pass.length == 0) random.fill(chunk.data(), n);
        ssize_t w = pwrite(fd, chunk.data(), n, done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return w < 0 ? errno : EIO;
        done += w;
    }
    return fsync(fd) == 0 ? 0 : errno;
}

// Overwrites a regular file's data in place. Only a file that is what was
// listed and has no other name is touched.
int overwrite(int folderFd, const char* name, const FSCatalogInfo& listed,
              const std::vector<Pass>& passes) {
    if (listed.kind != NodeKind::File) return 0;
    int fd = openat(folderFd, name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return errno == ELOOP ? 0 : errno;
    struct stat st {};
    int error = 0;
    if (fstat(fd, &st) != 0) {
        error = errno;
    } else if (S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_dev == listed.device &&
               st.st_ino == listed.inode) {
        RandomBytes random;
        for (const Pass& pass : passes) {
            error = writePass(fd, st.st_size, pass, random);
            if (error != 0) break;
        }
    }
    close(fd);
    return error;
}

class Remover {
  public:
    explicit Remover(removefile_flags_t flags) : passes_(passesFor(flags)) {}

    int firstError() const { return firstError_; }

    void note(int error) {
        if (error != 0 && firstError_ == 0) firstError_ = error;
    }

    void removeFile(int folderFd, const char* name, const FSCatalogInfo& info) {
        if (passes_ != nullptr) note(overwrite(folderFd, name, info, *passes_));
        if (unlinkat(folderFd, name, 0) != 0 && errno != ENOENT) note(errno);
    }

    void removeContents(int folderFd) {
        WalkCallbacks cb;
        cb.entry = [this](const WalkEntry& e) {
            if (e.info.isFolder()) return true;
            removeFile(e.folderFd, std::string(e.name).c_str(), e.info);
            return false;
        };
        cb.leave = [this](const WalkEntry& e) {
            if (unlinkat(e.folderFd, std::string(e.name).c_str(), AT_REMOVEDIR) != 0 &&
                errno != ENOENT)
                note(errno);
        };
        cb.error = [this](const WalkEntry&, int error) { note(error); };
        note(walkFolderFd(folderFd, WalkOrder::ByName, cb));
    }

  private:
    const std::vector<Pass>* passes_;
    int firstError_ = 0;
};

}  // namespace

int removefile(std::string_view machinePath, removefile_flags_t flags) {
    std::string leaf;
    int parentFd = openParentFolder(machinePath, &leaf);
    if (parentFd < 0) return errno;
    Remover remover(flags);
    struct stat st {};
    if (fstatat(parentFd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        remover.note(errno);
    } else if (!S_ISDIR(st.st_mode)) {
        remover.removeFile(parentFd, leaf.c_str(), catalogInfoFromStat(st));
    } else {
        bool keep = (flags & REMOVEFILE_KEEP_PARENT) != 0;
        if (flags & REMOVEFILE_RECURSIVE) {
            int fd =
                openat(parentFd, leaf.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0 && (errno == ELOOP || errno == ENOTDIR) &&
                fstatat(parentFd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                !S_ISDIR(st.st_mode)) {
                // Swapped for a link or file since it was looked at.
                remover.removeFile(parentFd, leaf.c_str(), catalogInfoFromStat(st));
                keep = true;
            } else if (fd < 0) {
                remover.note(errno);
            } else {
                remover.removeContents(fd);
                close(fd);
            }
        }
        if (!keep && unlinkat(parentFd, leaf.c_str(), AT_REMOVEDIR) != 0) remover.note(errno);
    }
    close(parentFd);
    return remover.firstError();
}

}  // namespace vfs
