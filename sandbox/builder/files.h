#pragma once
// File-system steps of the builder. Every path here is a real path; each
// step checks its system calls and throws std::runtime_error naming the
// object and the reason.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace sandbox_builder {

// The folder that stands for the machine's "/".
class Root {
  public:
    explicit Root(std::string path) : path_(std::move(path)) {}
    const std::string& path() const { return path_; }
    std::string real(std::string_view machinePath) const {
        return path_ + std::string(machinePath);
    }

  private:
    std::string path_;
};

// Creates the folder (and missing parents, mode 0755) and gives the folder
// itself exactly `mode`, whatever the creation mask.
void makeFolder(const std::string& path, mode_t mode = 0755);

// Creates a new file with the content; an existing file is an error.
void writeFile(const std::string& path, std::string_view content, mode_t mode = 0644);

// Creates a new file of `size` bytes made by `fill`, which is called with a
// buffer to fill and the offset of that buffer in the file.
using FillFunction = void (*)(char* buffer, std::size_t size, std::uint64_t offset,
                              std::uint64_t seed);
void writeGeneratedFile(const std::string& path, std::uint64_t size, FillFunction fill,
                        std::uint64_t seed, mode_t mode = 0644);

void copyFile(const std::string& from, const std::string& to, mode_t mode);

// Copies a folder tree: folders and files keep their permission bits (never
// the set-user-ID or set-group-ID bits), links are copied as links; other
// kinds of files are left out.
void copyTree(const std::string& from, const std::string& to);

// A symbolic link at `path` holding `target` as given.
void makeSymlink(const std::string& target, const std::string& path);

// Hands the object to the user; a no-op unless the builder runs as root.
void giveTo(const std::string& path, uid_t uid, gid_t gid);

// True when the path names nothing (not even a dangling link).
bool isAbsent(const std::string& path);

}  // namespace sandbox_builder
