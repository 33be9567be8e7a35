#include "autostart.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

#include "bundle/bundle.h"
#include "fs/open.h"
#include "fs/walk.h"
#include "homefiles.h"
#include "host/root.h"

namespace lsfl::detail {
namespace {

constexpr std::size_t kMaxDesktopEntrySize = 64 * 1024;
constexpr std::string_view kDesktopSuffix = ".desktop";

bool hasControlCharacter(std::string_view text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

// A string value as desktop entries escape it.
std::string escapedValue(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') out += '\\';
        out += c;
    }
    return out;
}

std::string unescapedValue(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        switch (char c = text[++i]) {
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case '\\':
                out += '\\';
                break;
            default:
                out += '\\';
                out += c;
        }
    }
    return out;
}

// One argument of an Exec line: always quoted, with the four characters that
// stay special inside quotes escaped.
std::string quotedArgument(std::string_view argument) {
    std::string out = "\"";
    for (char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

// The Exec value of a command line: a literal "%" is doubled (it would start
// a field code), then the value is escaped as any string value is.
std::string execValue(std::string_view commandLine) {
    std::string doubled;
    for (char c : commandLine) {
        if (c == '%') doubled += '%';
        doubled += c;
    }
    return escapedValue(doubled);
}

bool isExecutableFile(const std::string& machinePath) {
    int fd = vfs::openMachinePath(machinePath, O_PATH);
    if (fd < 0) return false;
    struct stat st {};
    bool executable = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0111) != 0;
    close(fd);
    return executable;
}

// Runs a program. Some desktops look the program up before they turn "%%"
// back into "%", and find none; a path with "%" is run through the shell.
std::string runCommand(const std::string& realPath) {
    if (realPath.find('%') == std::string::npos) return quotedArgument(realPath);
    return "/bin/sh -c " + quotedArgument("exec \"$0\"") + " " + quotedArgument(realPath);
}

std::string launchCommand(const std::string& path) {
    if (std::optional<bundle::Bundle> app = bundle::Bundle::create(path)) {
        if (std::optional<std::string> executable = app->executablePath())
            return runCommand(host::realPath(*executable));
    } else if (isExecutableFile(path)) {
        return runCommand(host::realPath(path));
    }
    return "xdg-open " + quotedArgument(host::realPath(path));
}

// "Varno" for "/Applications/Varno.app/".
std::string displayName(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    std::string_view name = path.substr(path.rfind('/') + 1);
    if (name.size() > 4 && name.substr(name.size() - 4) == ".app") name.remove_suffix(4);
    return name.empty() ? std::string(path) : std::string(name);
}

std::string desktopFileName(const LSSharedFileListItem& item) {
    std::string stem;
    for (char c : displayName(item.path)) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '.' || c == '_' || c == '-';
        stem += plain ? c : '_';
        if (stem.size() == 64) break;
    }
    return "kvx-" + std::to_string(item.uniqueID) + "-" + stem + std::string(kDesktopSuffix);
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimmedLeft(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    return text;
}

// Keys lose the blanks around them; values keep trailing blanks, which may
// belong to a path.
std::string_view trimmed(std::string_view text) {
    text = trimmedLeft(text);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace

std::string autostartFolder(const std::string& home) {
    return home + "/" + kAutostartFolder;
}

std::optional<AutostartEntry> parseDesktopEntry(std::string_view text) {
    AutostartEntry entry;
    bool inMainGroup = false;
    bool haveID = false;
    bool havePath = false;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = trimmedLeft(text.substr(0, end));
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            inMainGroup = trimmed(line) == "[Desktop Entry]";
            continue;
        }
        std::size_t equals = line.find('=');
        if (!inMainGroup || equals == std::string_view::npos) continue;
        std::string_view key = trimmed(line.substr(0, equals));
        std::string_view value = trimmedLeft(line.substr(equals + 1));
        if (key == "Hidden") {
            entry.hidden = trimmed(value) == "true";
        } else if (key == kItemIDKey) {
            std::string_view number = trimmed(value);
            const char* last = number.data() + number.size();
            auto [at, ec] = std::from_chars(number.data(), last, entry.uniqueID);
            haveID = ec == std::errc() && at == last && entry.uniqueID != 0;
        } else if (key == kItemPathKey) {
            entry.path = unescapedValue(value);
            havePath = !entry.path.empty() && entry.path.front() == '/';
        }
    }
    if (!haveID || !havePath) return std::nullopt;
    return entry;
}

std::optional<std::vector<AutostartEntry>> scanAutostart(const std::string& home) {
    const std::string folderPath = autostartFolder(home);
    int folder = openFolder(folderPath);
    if (folder < 0) {
        if (errno == ENOENT) return std::vector<AutostartEntry>{};
        return std::nullopt;
    }
    std::optional<std::vector<std::string>> names = vfs::contentsOfDirectory(folderPath);
    if (!names) {
        int error = errno;
        close(folder);
        errno = error;
        return std::nullopt;
    }
    std::vector<AutostartEntry> entries;
    for (const std::string& name : *names) {
        if (name.size() <= kDesktopSuffix.size() ||
            name.compare(name.size() - kDesktopSuffix.size(), kDesktopSuffix.size(),
                         kDesktopSuffix) != 0)
            continue;
        // Links, other files and oversized entries are not ours.
        std::optional<std::string> text = readSmallFile(folder, name, kMaxDesktopEntrySize);
        if (!text) continue;
        if (std::optional<AutostartEntry> entry = parseDesktopEntry(*text)) {
            entry->fileName = name;
            entries.push_back(std::move(*entry));
        }
    }
    close(folder);
    return entries;
}

std::optional<std::string> desktopEntryText(const LSSharedFileListItem& item) {
    if (hasControlCharacter(item.path)) return std::nullopt;
    std::string text = "[Desktop Entry]\nType=Application\n";
    text += "Name=" + escapedValue(displayName(item.path)) + "\n";
    text += "Exec=" + execValue(launchCommand(item.path)) + "\n";
    text += std::string(kItemIDKey) + "=" + std::to_string(item.uniqueID) + "\n";
    text += std::string(kItemPathKey) + "=" + escapedValue(item.path) + "\n";
    return text;
}

int writeAutostartEntry(const std::string& home, const LSSharedFileListItem& item,
                        std::string* fileName) {
    std::optional<std::string> text = desktopEntryText(item);
    if (!text) return EINVAL;
    int folder = openFolderCreating(home, kAutostartFolder);
    if (folder < 0) return errno;
    std::string name = desktopFileName(item);
    int error = replaceFile(folder, name, *text, 0644);
    close(folder);
    if (error == 0) *fileName = std::move(name);
    return error;
}

int removeAutostartEntry(const std::string& home, const std::string& fileName) {
    int folder = openFolder(autostartFolder(home));
    if (folder < 0) return errno == ENOENT ? 0 : errno;
    int error = (unlinkat(folder, fileName.c_str(), 0) == 0 || errno == ENOENT) ? 0 : errno;
    close(folder);
    return error;
}

}  // namespace lsfl::detail
