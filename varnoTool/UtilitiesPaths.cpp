// Strings, paths, the system version and home folders.

#include <cstdio>
#include <cstdlib>

#include "Protocol.h"
#include "Utilities.h"
#include "fs/errors.h"
#include "fs/walk.h"
#include "host/system.h"

namespace {

// The length of the well-formed UTF-8 sequence at s[i], or 0.
size_t utf8SequenceLength(std::string_view s, size_t i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = byte(i);
    if (c < 0x80) return 1;
    size_t length;
    std::uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + length > s.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (byte(i + k) & 0x3F);
    }
    if ((length == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
        return 0;
    return length;
}

// A path without its trailing slashes; "/" stays "/".
std::string_view withoutTrailingSlashes(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    return path;
}

// The offset of the last component's first character.
size_t lastComponentStart(std::string_view trimmed) {
    size_t slash = trimmed.rfind('/');
    return slash == std::string_view::npos ? 0 : slash + 1;
}

// The offset of the extension's period in the last component, or npos. A
// leading period (a hidden name) does not start an extension.
size_t extensionDot(std::string_view trimmed) {
    size_t start = lastComponentStart(trimmed);
    size_t dot = trimmed.rfind('.');
    if (dot == std::string_view::npos || dot <= start || dot + 1 == trimmed.size())
        return std::string_view::npos;
    return dot;
}

std::string homeFolderOrExit() {
    std::optional<std::string> home = host::currentUserHomeFolder();
    if (!home) {
        printf("\t***Error %d getting user's home directory.\n", vfs::fnfErr);
        exit(vfs::fnfErr);
    }
    return *home;
}

}  // namespace

std::optional<std::string> utf8StringFromCFString(std::optional<std::string_view> string) {
    if (!string) return std::nullopt;
    std::string out;
    out.reserve(string->size());
    for (size_t i = 0; i < string->size();) {
        size_t n = utf8SequenceLength(*string, i);
        if (n == 0) {
            out += '?';
            ++i;
        } else {
            out.append(*string, i, n);
            i += n;
        }
    }
    return out;
}

std::optional<std::string> cfStringFromUTF8String(const char* utf8) {
    if (utf8 == nullptr) return std::nullopt;
    std::string_view s(utf8);
    for (size_t i = 0; i < s.size();) {
        size_t n = utf8SequenceLength(s, i);
        if (n == 0) return std::nullopt;
        i += n;
    }
    return std::string(s);
}

std::string lastPathComponent(std::string_view path, bool) {
    std::string_view p = withoutTrailingSlashes(path);
    if (p == "/") return "/";
    return std::string(p.substr(lastComponentStart(p)));
}

std::string appendPathComponent(std::string_view path, std::string_view component, bool) {
    std::string out(path);
    if (!out.empty() && out.back() != '/') out += '/';
    out += component;
    return std::string(withoutTrailingSlashes(out));
}

std::string removePathExtension(std::string_view path, bool) {
    std::string_view p = withoutTrailingSlashes(path);
    size_t dot = extensionDot(p);
    return std::string(dot == std::string_view::npos ? p : p.substr(0, dot));
}

std::string removeLastPathComponent(std::string_view path, bool) {
    std::string_view p = withoutTrailingSlashes(path);
    if (p == "/") return "/";
    size_t slash = p.rfind('/');
    if (slash == std::string_view::npos) return ".";
    if (slash == 0) return "/";
    return std::string(withoutTrailingSlashes(p.substr(0, slash)));
}

std::optional<std::string> pathExtension(std::string_view path, bool) {
    std::string_view p = withoutTrailingSlashes(path);
    size_t dot = extensionDot(p);
    if (dot == std::string_view::npos) return std::nullopt;
    return std::string(p.substr(dot + 1));
}

bool stringContainsSubstring(std::string_view string, std::string_view substring) {
    return string.find(substring) != std::string_view::npos;
}

bool arrayContainsString(const std::vector<std::string>* array, std::string_view string) {
    if (array == nullptr) return false;
    for (const std::string& element : *array)
        if (element == string) return true;
    return false;
}

std::vector<std::string> pathsMatchingExtension(const std::vector<std::string>* paths,
                                                std::string_view extension, bool isDirectory) {
    std::vector<std::string> out;
    if (paths == nullptr) return out;
    for (const std::string& path : *paths) {
        std::optional<std::string> ext = pathExtension(path, isDirectory);
        if (ext && *ext == extension) out.push_back(path);
    }
    return out;
}

std::int32_t systemVersionSInt32() {
    return host::systemVersion();
}

std::optional<std::string> expandTildeInPath(const std::optional<std::string>& path,
                                             const std::optional<std::string>& userName) {
    if (!path) {
        wstrnl("\t*** Error: expandTildeInPath() thePath zero.");
        return std::nullopt;
    }
    std::string_view rest = *path;
    if (rest.size() >= 2 && rest.substr(0, 2) == "~/") rest.remove_prefix(2);
    std::string base = userName ? host::homeFolderForUserName(*userName) : homeFolderOrExit();
    return appendPathComponent(base, rest, true);
}

std::optional<std::string> utf8StringByExpandingTildeInPath(
    const std::optional<std::string>& path, const std::optional<std::string>& userName) {
    if (!path) return std::nullopt;
    std::optional<std::string> expanded = expandTildeInPath(path, userName);
    if (!expanded) return std::nullopt;
    return utf8StringFromCFString(*expanded);
}

std::vector<std::string> allUserNames() {
    std::vector<std::string> names;
    for (std::string& name : directoryContentNames("/Users/"))
        if (name != "Shared" && name[0] != '.') names.push_back(std::move(name));
    return names;
}

std::vector<std::string> firefoxProfileFolderPaths(const std::optional<std::string>& userName) {
    std::vector<std::string> paths;
    std::optional<std::string> folder =
        expandTildeInPath(std::string("~/Library/Application Support/Firefox/Profiles"), userName);
    if (!folder) return paths;
    for (const std::string& name : directoryContentNames(*folder))
        if (name[0] != '.') paths.push_back(appendPathComponent(*folder, name, true));
    return paths;
}
