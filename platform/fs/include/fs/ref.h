#pragma once
// File-system references and catalog lookups, standing in for the File
// Manager's FSRef and FSGetCatalogInfo.
//
// A reference names one object: its machine path and the object's identity
// (device and inode) at the time it was made. A reference made from a path
// that names nothing is invalid, and every lookup on it fails with nsvErr. A
// lookup on a valid reference whose object is gone, or was replaced by
// another, fails with fnfErr. References never follow a link in the last
// component: a reference to a symbolic link names the link.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "fs/errors.h"

namespace vfs {

// The node flag bit that marks a folder.
inline constexpr std::uint16_t kFSNodeIsDirectoryMask = 0x0010;
// The Finder file type that marks a symbolic link ('slnk').
inline constexpr std::uint32_t kSymLinkFileType = 0x736C6E6B;

enum class NodeKind { File, Folder, SymbolicLink, Other };

struct FSCatalogInfo {
    NodeKind kind = NodeKind::File;
    std::uint16_t nodeFlags = 0;        // kFSNodeIsDirectoryMask for a folder
    std::uint64_t dataLogicalSize = 0;  // regular file: its length; link: its target's length
    std::uint32_t fileType = 0;         // kSymLinkFileType for a link, else 0
    dev_t device = 0;
    ino_t inode = 0;
    nlink_t linkCount = 1;  // hard links to the node

    bool isFolder() const { return (nodeFlags & kFSNodeIsDirectoryMask) != 0; }
};

// Catalog information from an lstat result, with the semantics above: folders
// and special files have no data size; there are no resource forks.
FSCatalogInfo catalogInfoFromStat(const struct stat& st);

class FSRef {
  public:
    FSRef() = default;  // invalid

    bool isValid() const { return valid_; }
    // The machine path the reference was made from, normalized; "" when invalid.
    const std::string& path() const { return path_; }
    dev_t device() const { return device_; }
    ino_t inode() const { return inode_; }

    bool operator==(const FSRef&) const = default;

  private:
    friend OSErr FSPathMakeRef(std::string_view machinePath, FSRef* ref);
    std::string path_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    bool valid_ = false;
};

// Makes a reference for a machine path; on failure *ref is invalid and the
// File Manager code of the failure is returned (fnfErr for a path that names
// nothing).
OSErr FSPathMakeRef(std::string_view machinePath, FSRef* ref);

// Looks up the reference's object. nsvErr for an invalid reference, fnfErr
// when the object is gone or was replaced.
OSErr FSGetCatalogInfo(const FSRef& ref, FSCatalogInfo* info);

// The machine path of the reference into a buffer of bufferSize bytes
// (terminating zero included): pathTooLongErr when it does not fit, nsvErr
// for an invalid reference.
OSErr FSRefMakePath(const FSRef& ref, std::string* path, std::size_t bufferSize);

// There are no alias files here: always answers "not an alias".
OSErr FSIsAliasFile(const FSRef& ref, bool* isAlias, bool* isFolder);

// lstat of a machine path through the system root. 0 or an errno value.
int lstatMachinePath(std::string_view machinePath, struct stat* st);

}  // namespace vfs
