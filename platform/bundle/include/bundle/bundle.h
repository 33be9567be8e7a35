#pragma once
// A bundle: a folder such as "Foo.app" or "Bar.prefPane" with its
// "Contents/Info.plist" and its executable in "Contents/MacOS/".

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace bundle {

class Bundle {
  public:
    // A bundle object for a folder (machine path); nullopt when the path names
    // no folder. As with the platform, any folder makes a bundle: whether it
    // has an executable is a separate question.
    static std::optional<Bundle> create(const std::string& machinePath);

    const std::string& path() const { return path_; }

    // The machine path of the executable: "Contents/MacOS/" and the name that
    // "CFBundleExecutable" of "Contents/Info.plist" gives, when that names a
    // regular file. nullopt when there is no such key or file, or the name
    // would lead out of "Contents/MacOS/".
    std::optional<std::string> executablePath() const;

    // The CPU types the executable holds, in the order its headers list them,
    // each once; empty when there is no executable or it is no Mach-O file.
    std::vector<std::int32_t> executableArchitectures() const;

  private:
    explicit Bundle(std::string path, std::optional<std::string> executableName)
        : path_(std::move(path)), executableName_(std::move(executableName)) {}

    std::string path_;
    std::optional<std::string> executableName_;
};

// The CPU types a Mach-O file holds (machine path), each once, in file order;
// empty for anything else.
std::vector<std::int32_t> executableArchitecturesAtPath(const std::string& machinePath);

}  // namespace bundle
