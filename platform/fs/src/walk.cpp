#include "fs/walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fs/open.h"

namespace vfs {
namespace {

// Levels deeper than this give up their descriptor and are reopened
// through ".." on the way back up.
constexpr std::size_t kMaxOpenLevels = 48;
constexpr std::size_t kDirentBufferSize = 64 * 1024;

struct Item {
    std::string name;
    FSCatalogInfo info;
};

struct Level {
    int fd = -1;
    bool ownsFd = true;
    dev_t device = 0;
    ino_t inode = 0;
    std::vector<Item> items;
    std::size_t next = 0;
    std::size_t pathLength = 0;  // of this folder's relative path
    Item self;                   // this folder's entry in its parent
};

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// The kind from a listing's type field, without a lookup; nullopt when the
// file system does not say.
std::optional<FSCatalogInfo> infoFromType(unsigned char type) {
    FSCatalogInfo info;
    switch (type) {
        case DT_DIR:
            info.kind = NodeKind::Folder;
            info.nodeFlags = kFSNodeIsDirectoryMask;
            return info;
        case DT_LNK:
            info.kind = NodeKind::SymbolicLink;
            info.fileType = kSymLinkFileType;
            return info;
        case DT_REG:
            info.kind = NodeKind::File;
            return info;
        case DT_UNKNOWN:
            return std::nullopt;
        default:
            info.kind = NodeKind::Other;
            return info;
    }
}

class Walker {
  public:
    Walker(WalkOrder order, WalkLookup lookup, const WalkCallbacks& callbacks)
        : order_(order), lookup_(lookup), cb_(callbacks), buffer_(kDirentBufferSize) {}

    ~Walker() {
        for (Level& level : stack_)
            if (level.ownsFd && level.fd >= 0) close(level.fd);
    }

    int run(int startFd) {
        Level root;
        root.fd = startFd;
        root.ownsFd = false;
        struct stat st {};
        if (fstat(startFd, &st) != 0) return errno;
        root.device = st.st_dev;
        root.inode = st.st_ino;
        if (lseek(startFd, 0, SEEK_SET) < 0) return errno;
        int error = read(root, 0);
        if (error != 0) return error;
        stack_.push_back(std::move(root));
        while (!stack_.empty()) {
            Level& top = stack_.back();
            if (top.next < top.items.size()) {
                error = visit(top.items[top.next++]);
            } else {
                error = ascend();
            }
            if (error != 0) return error;
        }
        return 0;
    }

  private:
    void setPath(std::size_t base, std::string_view name) {
        path_.resize(base);
        if (base != 0) path_ += '/';
        path_ += name;
    }

    WalkEntry makeEntry(const Level& level, const Item& item) {
        setPath(level.pathLength, item.name);
        WalkEntry e;
        e.folderFd = level.fd;
        e.name = item.name;
        e.relativePath = path_;
        e.info = item.info;
        e.depth = stack_.empty() ? 0 : stack_.size() - 1;
        return e;
    }

    // Reads a folder's entries into level.items; in AsStored order files are
    // delivered right away and only folders are kept.
    int read(Level& level, std::size_t depth) {
        for (;;) {
            ssize_t n = getdents64(level.fd, buffer_.data(), buffer_.size());
            if (n < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            if (n == 0) break;
            for (ssize_t off = 0; off < n;) {
                auto* d = reinterpret_cast<struct dirent64*>(buffer_.data() + off);
                off += d->d_reclen;
                if (isDotOrDotDot(d->d_name)) continue;
                std::optional<FSCatalogInfo> known;
                if (lookup_ == WalkLookup::KindOnly ||
                    (order_ == WalkOrder::AsStored && d->d_type == DT_DIR))
                    known = infoFromType(d->d_type);
                if (known) {
                    deliverOrKeep(level, Item{d->d_name, *known}, depth);
                    continue;
                }
                struct stat st {};
                if (fstatat(level.fd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                    int error = errno;
                    if (error == ENOENT) continue;  // removed since it was listed
                    if (cb_.error) {
                        Item gone{d->d_name, FSCatalogInfo{}};
                        WalkEntry e = makeEntry(level, gone);
                        e.depth = depth;
                        cb_.error(e, error);
                    }
                    continue;
                }
                deliverOrKeep(level, Item{d->d_name, catalogInfoFromStat(st)}, depth);
            }
        }
        if (order_ == WalkOrder::ByName) {
            std::sort(level.items.begin(), level.items.end(),
                      [](const Item& a, const Item& b) { return a.name < b.name; });
        }
        return 0;
    }

    // In AsStored order a file is delivered at once; everything else is kept
    // for after the read.
    void deliverOrKeep(Level& level, Item item, std::size_t depth) {
        if (order_ == WalkOrder::AsStored && !item.info.isFolder()) {
            if (cb_.entry) {
                WalkEntry e = makeEntry(level, item);
                e.depth = depth;
                cb_.entry(e);
            }
            return;
        }
        level.items.push_back(std::move(item));
    }

    int visit(const Item& item) {
        Level& top = stack_.back();
        WalkEntry e = makeEntry(top, item);
        bool descend = cb_.entry ? cb_.entry(e) : true;
        if (!item.info.isFolder() || !descend) return 0;
        int fd = openat(top.fd, item.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            int error = errno;
            struct stat st {};
            if ((error == ENOTDIR || error == ELOOP) &&
                fstatat(top.fd, item.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                !S_ISDIR(st.st_mode)) {
                // Replaced by a link or a file since it was listed: it is
                // that now, and is delivered as such.
                Item now{item.name, catalogInfoFromStat(st)};
                WalkEntry again = makeEntry(top, now);
                if (cb_.entry) cb_.entry(again);
                return 0;
            }
            if (cb_.error) cb_.error(e, error);
            return 0;
        }
        Level child;
        child.fd = fd;
        struct stat st {};
        if (fstat(fd, &st) != 0) {
            int error = errno;
            close(fd);
            if (cb_.error) cb_.error(e, error);
            return 0;
        }
        child.device = st.st_dev;
        child.inode = st.st_ino;
        child.pathLength = path_.size();
        child.self = item;
        child.self.info.device = st.st_dev;
        child.self.info.inode = st.st_ino;
        if (cb_.enter) cb_.enter(e, fd);
        std::size_t depth = stack_.size();
        int error = read(child, depth);
        if (error != 0 && cb_.error) {
            WalkEntry again = makeEntry(top, child.self);
            cb_.error(again, error);
        }
        stack_.push_back(std::move(child));
        if (stack_.size() > kMaxOpenLevels) {
            Level& old = stack_[stack_.size() - 1 - kMaxOpenLevels];
            if (old.ownsFd && old.fd >= 0) {
                close(old.fd);
                old.fd = -1;
            }
        }
        return 0;
    }

    int ascend() {
        Level done = std::move(stack_.back());
        stack_.pop_back();
        if (stack_.empty()) return 0;  // the start folder stays open: it is the caller's
        Level& parent = stack_.back();
        if (parent.fd < 0) {
            int fd = openat(done.fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            struct stat st {};
            bool same = fd >= 0 && fstat(fd, &st) == 0 && st.st_dev == parent.device &&
                        st.st_ino == parent.inode;
            if (!same) {
                if (fd >= 0) close(fd);
                close(done.fd);
                return ESTALE;
            }
            parent.fd = fd;
        }
        // The folder is closed only after leave(): removing a folder that is
        // still open defers freeing it, which is much faster on some disks.
        WalkEntry e = makeEntry(parent, done.self);
        if (cb_.leave) cb_.leave(e);
        close(done.fd);
        return 0;
    }

    WalkOrder order_;
    WalkLookup lookup_;
    const WalkCallbacks& cb_;
    std::vector<char> buffer_;
    std::vector<Level> stack_;
    std::string path_;
};

}  // namespace

int walkFolderFd(int folderFd, WalkOrder order, const WalkCallbacks& callbacks, WalkLookup lookup) {
    Walker walker(order, lookup, callbacks);
    return walker.run(folderFd);
}

OSErr FSWalkFolder(const FSRef& folder, WalkOrder order, const WalkCallbacks& callbacks,
                   WalkLookup lookup) {
    if (!folder.isValid()) return nsvErr;
    int fd = openMachinePath(folder.path(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd < 0) {
        int error = errno;
        return error == ENOTDIR || error == ELOOP ? errFSNotAFolder : osErrFromErrno(error);
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_dev != folder.device() || st.st_ino != folder.inode()) {
        close(fd);
        return fnfErr;
    }
    int error = walkFolderFd(fd, order, callbacks, lookup);
    close(fd);
    return osErrFromErrno(error);
}

std::optional<std::vector<std::string>> contentsOfDirectory(std::string_view machinePath) {
    int fd = openMachinePath(machinePath, O_RDONLY | O_DIRECTORY);
    if (fd < 0) return std::nullopt;
    std::vector<std::string> names;
    std::vector<char> buffer(kDirentBufferSize);
    for (;;) {
        ssize_t n = getdents64(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int error = errno;
            close(fd);
            errno = error;
            return std::nullopt;
        }
        if (n == 0) break;
        for (ssize_t off = 0; off < n;) {
            auto* d = reinterpret_cast<struct dirent64*>(buffer.data() + off);
            off += d->d_reclen;
            if (!isDotOrDotDot(d->d_name)) names.emplace_back(d->d_name);
        }
    }
    close(fd);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace vfs
