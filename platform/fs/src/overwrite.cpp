#include "fs/overwrite.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "fs/open.h"
#include "fs/walk.h"

namespace vfs {
namespace {

// One pass: a repeating pattern of up to three bytes, or random data when
// the pattern is empty.
struct Pass {
    std::array<std::uint8_t, 3> bytes{};
    std::size_t length = 0;
};

constexpr Pass randomPass() {
    return Pass{};
}
constexpr Pass fill(std::uint8_t b) {
    return Pass{{b, b, b}, 1};
}
constexpr Pass fill3(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
    return Pass{{a, b, c}, 3};
}

const std::vector<Pass>& onePass() {
    static const std::vector<Pass> passes = {randomPass()};
    return passes;
}

// The Department of Defense 7-pass sequence.
const std::vector<Pass>& sevenPasses() {
    static const std::vector<Pass> passes = {fill(0xF6), fill(0x00), fill(0xFF),  randomPass(),
                                             fill(0x00), fill(0xFF), randomPass()};
    return passes;
}

// Gutmann's 35 passes: four random, the 27 patterns, four random.
const std::vector<Pass>& thirtyFivePasses() {
    static const std::vector<Pass> passes = [] {
        std::vector<Pass> p(4, randomPass());
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
        p.insert(p.end(), 4, randomPass());
        return p;
    }();
    return passes;
}

const std::vector<Pass>* passesFor(removefile_flags_t flags) {
    if (flags & REMOVEFILE_SECURE_35_PASS) return &thirtyFivePasses();
    if (flags & REMOVEFILE_SECURE_7_PASS) return &sevenPasses();
    if (flags & REMOVEFILE_SECURE_1_PASS) return &onePass();
    return nullptr;
}

// xorshift64*: a fast filler for the random passes, seeded by the kernel.
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

int writePass(int fd, off_t size, const Pass& pass, RandomBytes& random,
              std::vector<std::uint8_t>& chunk) {
    if (pass.length != 0)
        for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = pass.bytes[i % pass.length];
    for (off_t done = 0; done < size;) {
        std::size_t n = static_cast<std::size_t>(std::min<off_t>(size - done, chunk.size()));
        if (pass.length == 0) random.fill(chunk.data(), n);
        ssize_t w = pwrite(fd, chunk.data(), n, done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return w < 0 ? errno : EIO;
        done += w;
    }
    return fsync(fd) == 0 ? 0 : errno;
}

bool isOwnedLinkedFile(const struct stat& st, uid_t owner) {
    return S_ISREG(st.st_mode) && st.st_nlink > 1 && st.st_uid == owner;
}

// Overwrites the entry when it is a regular file of the owner's with other
// names; removefile takes care of every file with a single name.
int overwriteIfOwnedLinked(int folderFd, const char* name, removefile_flags_t flags, uid_t owner) {
    struct stat listed {};
    if (fstatat(folderFd, name, &listed, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? 0 : errno;
    if (!isOwnedLinkedFile(listed, owner)) return 0;
    int fd = openat(folderFd, name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return errno == ELOOP || errno == ENOENT ? 0 : errno;
    // Only the file that was looked at, should it have been swapped since.
    struct stat st {};
    int error = 0;
    if (fstat(fd, &st) != 0)
        error = errno;
    else if (isOwnedLinkedFile(st, owner) && st.st_dev == listed.st_dev &&
             st.st_ino == listed.st_ino)
        error = overwriteFileData(fd, st.st_size, flags);
    close(fd);
    return error;
}

}  // namespace

int secureOverwritePassCount(removefile_flags_t flags) {
    const std::vector<Pass>* passes = passesFor(flags);
    return passes == nullptr ? 0 : static_cast<int>(passes->size());
}

int overwriteFileData(int fd, off_t size, removefile_flags_t flags) {
    const std::vector<Pass>* passes = passesFor(flags);
    if (passes == nullptr || size <= 0) return 0;
    // A multiple of every pattern's length, so patterns run on across chunks.
    std::vector<std::uint8_t> chunk(3 * 21846);
    RandomBytes random;
    for (const Pass& pass : *passes) {
        int error = writePass(fd, size, pass, random, chunk);
        if (error != 0) return error;
    }
    return 0;
}

namespace {

// Overwrites the owner's files with other names inside an open folder.
int overwriteOwnedLinkedInside(int fd, removefile_flags_t flags, uid_t owner) {
    int first = 0;
    auto note = [&first](int error) {
        if (error != 0 && first == 0) first = error;
    };
    WalkCallbacks cb;
    cb.entry = [&](const WalkEntry& e) {
        if (e.info.kind == NodeKind::Folder) return true;
        if (e.info.kind == NodeKind::File)
            note(overwriteIfOwnedLinked(e.folderFd, std::string(e.name).c_str(), flags, owner));
        return false;
    };
    cb.error = [&](const WalkEntry&, int error) { note(error); };
    note(walkFolderFd(fd, WalkOrder::AsStored, cb, WalkLookup::KindOnly));
    return first;
}

}  // namespace

int removeFolderContentsForOwner(int folderFd, removefile_flags_t flags, uid_t owner) {
    int first =
        passesFor(flags) == nullptr ? 0 : overwriteOwnedLinkedInside(folderFd, flags, owner);
    int removal = removeFolderContents(folderFd, flags);
    return first != 0 ? first : removal;
}

int removefileForOwner(std::string_view machinePath, removefile_flags_t flags, uid_t owner) {
    if (passesFor(flags) == nullptr) return removefile(machinePath, flags);
    int first = 0;
    auto note = [&first](int error) {
        if (error != 0 && first == 0) first = error;
    };
    std::string leaf;
    int parentFd = openParentFolderNoLinks(machinePath, &leaf);
    if (parentFd >= 0) {
        struct stat st {};
        if (fstatat(parentFd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            // removefile reports it.
        } else if (!S_ISDIR(st.st_mode)) {
            note(overwriteIfOwnedLinked(parentFd, leaf.c_str(), flags, owner));
        } else if (flags & REMOVEFILE_RECURSIVE) {
            int fd =
                openat(parentFd, leaf.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd >= 0) {
                note(overwriteOwnedLinkedInside(fd, flags, owner));
                close(fd);
            }
        }
        close(parentFd);
    }
    int removal = removefile(machinePath, flags);
    return first != 0 ? first : removal;
}

}  // namespace vfs
