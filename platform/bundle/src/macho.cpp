#include "bundle/macho.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fs/open.h"

namespace bundle {
namespace {

constexpr std::uint32_t kMagic32 = 0xfeedface;
constexpr std::uint32_t kCigam32 = 0xcefaedfe;
constexpr std::uint32_t kMagic64 = 0xfeedfacf;
constexpr std::uint32_t kCigam64 = 0xcffaedfe;
constexpr std::size_t kHeaderSize32 = 28;
constexpr std::size_t kHeaderSize64 = 32;

std::uint32_t be32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

std::uint32_t le32(const unsigned char* p) {
    return (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) |
           std::uint32_t{p[0]};
}

// The thin Mach-O header at `offset`, which must lie inside `limit` bytes.
std::optional<Slice> parseThin(const ReadAt& read, std::uint64_t offset, std::uint64_t limit) {
    unsigned char h[kHeaderSize64];
    if (limit < kHeaderSize32 || !read(offset, h, kHeaderSize32)) return std::nullopt;
    std::uint32_t magic = be32(h);
    bool bigEndian = magic == kMagic32 || magic == kMagic64;
    bool is64 = magic == kMagic64 || magic == kCigam64;
    if (!bigEndian && magic != kCigam32 && magic != kCigam64) return std::nullopt;
    std::size_t headerSize = is64 ? kHeaderSize64 : kHeaderSize32;
    if (limit < headerSize) return std::nullopt;
    auto field = [&](std::size_t at) { return bigEndian ? be32(h + at) : le32(h + at); };
    // The load commands follow the header and must fit in what is left.
    std::uint64_t sizeofcmds = field(20);
    if (sizeofcmds > limit - headerSize) return std::nullopt;
    Slice s;
    s.cputype = static_cast<std::int32_t>(field(4));
    s.cpusubtype = static_cast<std::int32_t>(field(8));
    s.offset = offset;
    s.size = limit;
    return s;
}

std::optional<MachOFile> parseFat(const ReadAt& read, std::uint64_t fileSize) {
    unsigned char h[kFatHeaderSize];
    if (!read(0, h, sizeof h)) return std::nullopt;
    std::uint32_t count = be32(h + 4);
    if (count == 0 || count > kMaxFatArchs) return std::nullopt;
    std::uint64_t headerEnd = kFatHeaderSize + std::uint64_t{count} * kFatArchSize;
    if (headerEnd > fileSize) return std::nullopt;

    unsigned char records[kMaxFatArchs * kFatArchSize];
    if (!read(kFatHeaderSize, records, count * kFatArchSize)) return std::nullopt;
    MachOFile file;
    file.fat = true;
    for (std::uint32_t i = 0; i < count; ++i) {
        const unsigned char* r = records + i * kFatArchSize;
        Slice s;
        s.cputype = static_cast<std::int32_t>(be32(r));
        s.cpusubtype = static_cast<std::int32_t>(be32(r + 4));
        s.offset = be32(r + 8);
        s.size = be32(r + 12);
        s.align = be32(r + 16);
        if (s.align > kMaxSliceAlign) return std::nullopt;
        if (s.offset % (std::uint64_t{1} << s.align) != 0) return std::nullopt;
        if (s.offset < headerEnd || s.size > fileSize || s.offset > fileSize - s.size)
            return std::nullopt;
        file.slices.push_back(s);
    }

    // No two slices may share bytes or name the same architecture.
    std::vector<Slice> byOffset = file.slices;
    std::sort(byOffset.begin(), byOffset.end(),
              [](const Slice& a, const Slice& b) { return a.offset < b.offset; });
    for (std::size_t i = 1; i < byOffset.size(); ++i) {
        if (byOffset[i - 1].offset + byOffset[i - 1].size > byOffset[i].offset) return std::nullopt;
    }
    for (std::size_t i = 0; i < file.slices.size(); ++i) {
        for (std::size_t j = i + 1; j < file.slices.size(); ++j) {
            const Slice& a = file.slices[i];
            const Slice& b = file.slices[j];
            if (a.cputype == b.cputype && ((static_cast<std::uint32_t>(a.cpusubtype) ^
                                            static_cast<std::uint32_t>(b.cpusubtype)) &
                                           kCPUSubtypeMask) == 0)
                return std::nullopt;
        }
    }

    // Each slice must itself be a Mach-O file of the CPU type announced for it.
    for (const Slice& s : file.slices) {
        auto inner = parseThin(read, s.offset, s.size);
        if (!inner || inner->cputype != s.cputype) return std::nullopt;
    }
    return file;
}

}  // namespace

std::optional<MachOFile> parseMachO(std::uint64_t fileSize, const ReadAt& read) {
    unsigned char magic[4];
    if (fileSize < sizeof magic || !read(0, magic, sizeof magic)) return std::nullopt;
    if (be32(magic) == kFatMagic) return parseFat(read, fileSize);
    auto thin = parseThin(read, 0, fileSize);
    if (!thin) return std::nullopt;
    MachOFile file;
    file.slices.push_back(*thin);
    return file;
}

std::optional<MachOFile> parseMachO(std::string_view bytes) {
    return parseMachO(bytes.size(), [bytes](std::uint64_t offset, void* out, std::size_t size) {
        if (offset > bytes.size() || size > bytes.size() - offset) return false;
        std::memcpy(out, bytes.data() + offset, size);
        return true;
    });
}

std::optional<MachOFile> readMachO(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) return std::nullopt;
    auto fileSize = static_cast<std::uint64_t>(st.st_size);
    return parseMachO(fileSize, [fd, fileSize](std::uint64_t offset, void* out, std::size_t size) {
        if (offset > fileSize || size > fileSize - offset) return false;
        auto* p = static_cast<char*>(out);
        while (size > 0) {
            ssize_t n = pread(fd, p, size, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;  // the file shrank under us
            p += n;
            offset += static_cast<std::uint64_t>(n);
            size -= static_cast<std::size_t>(n);
        }
        return true;
    });
}

std::optional<MachOFile> readMachOAtPath(const std::string& machinePath) {
    // Non-blocking so that a FIFO planted in place of an executable cannot
    // stall the reader; fstat then refuses it.
    int fd = vfs::openMachinePath(machinePath, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    auto file = readMachO(fd);
    close(fd);
    return file;
}

}  // namespace bundle
