#include "operations/CleanLocalizations.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "Protocol.h"
#include "operations/BundleLocations.h"
#include "Utilities.h"

namespace {

constexpr const char* kIdentifier = contract::id::kCleanLocalizations.data();
constexpr const char* kLanguagesKey = contract::keys::kLanguages.data();
constexpr const char* kCodesResource = "LocalizationCodes.plist";
constexpr std::size_t kMaxCodeTableSize = 4 << 20;
constexpr std::string_view kFileScheme = "file://localhost";


// Characters a URL path carries as they are; everything else is escaped.
bool keptInURL(unsigned char c) {
    if (c <= 0x20 || c >= 0x7f) return false;
    return std::string_view("\"#%;<>?[\\]^`{|}").find(static_cast<char>(c)) ==
           std::string_view::npos;
}

// The code table from our own bundle; a table anyone else could have
// written is not used.
std::optional<plist::Dictionary> ownCodeTable() {
    int fd = openOwnResource(kCodesResource);
    if (fd < 0) {
        printf("\t***Error: cannot use the executor's own %s: %s (%d)\n", kCodesResource,
               strerror(errno), errno);
        return std::nullopt;
    }
    std::optional<std::string> data = readDescriptor(fd, kMaxCodeTableSize);
    close(fd);
    std::optional<plist::Value> value = data ? plist::parse(*data) : std::nullopt;
    if (!value || !value->asDictionary()) return std::nullopt;
    return *value->asDictionary();
}

// The language names the request selects, each followed by its code when the
// code table has one.
std::vector<std::string> removalNamesFromRequest(const plist::Dictionary& parameters) {
    const plist::Value* languages = requestValue(parameters, kLanguagesKey);
    const plist::Dictionary* selection = languages == nullptr ? nullptr : languages->asDictionary();
    std::optional<plist::Dictionary> codes = ownCodeTable();
    std::vector<std::string> names;
    if (selection == nullptr) return names;
    for (const auto& [language, value] : *selection) {
        if (value.asBoolean() != true) continue;
        names.push_back(language);
        if (!codes) continue;
        auto code = codes->find(language);
        if (code != codes->end() && code->second.asString() != nullptr)
            names.push_back(*code->second.asString());
    }
    return names;
}

std::string parentURL(const std::string& path) {
    return fileURLFromPath(removeLastPathComponent(path, true), true);
}

// The folders to delete: the selected localizations of each resource folder,
// unless that would leave the folder with none.
std::vector<std::string> foldersToDelete(const std::vector<std::string>& lprojs,
                                         const std::vector<std::string>& removalNames) {
    std::vector<std::string> deletions;
    std::size_t start = 0;
    while (start < lprojs.size()) {
        std::string parent = parentURL(lprojs[start]);
        std::size_t end = start + 1;
        while (end < lprojs.size() && urlEqualsURL(parentURL(lprojs[end]), parent)) ++end;
        std::vector<std::string> matching;
        for (std::size_t i = start; i < end; ++i) {
            if (matchesForRemoval(lprojs[i], removalNames)) matching.push_back(lprojs[i]);
        }
        if (matching.size() == end - start) {
            printText("*** Skipping languages in %s because all languages would be removed!\n",
                      plist::displayForm(urlCopyPath(parent)).c_str());
        } else {
            deletions.insert(deletions.end(), matching.begin(), matching.end());
        }
        start = end;
    }
    return deletions;
}

}  // namespace

std::string fileURLFromPath(std::string_view path, bool isDirectory) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string url(kFileScheme);
    for (char c : path) {
        auto byte = static_cast<unsigned char>(c);
        if (keptInURL(byte)) {
            url += c;
        } else {
            url += '%';
            url += kHex[byte >> 4];
            url += kHex[byte & 0xf];
        }
    }
    if (isDirectory && (url.empty() || url.back() != '/')) url += '/';
    return url;
}

std::string urlCopyPath(std::string_view url) {
    if (url.substr(0, kFileScheme.size()) == kFileScheme) url.remove_prefix(kFileScheme.size());
    return std::string(url.substr(0, url.find_first_of("?#")));
}

bool urlEqualsURL(std::string_view a, std::string_view b) {
    return stringsEqual(urlCopyPath(a), urlCopyPath(b));
}

std::string formattedNameFromLProjPath(std::string_view path) {
    std::string name = removePathExtension(lastPathComponent(path, true), true);
    return name.substr(0, name.find('_'));
}

bool matchesForRemoval(std::string_view path, const std::vector<std::string>& removalNames) {
    return arrayContainsString(&removalNames, formattedNameFromLProjPath(path));
}

std::vector<std::string> allLProjPaths(const plist::Dictionary& parameters) {
    std::vector<std::string> found;
    for (const std::string& folder : requestedBundleFolders(parameters)) {
        printText("\tScanning %s...\n", plist::displayForm(folder).c_str());
        std::vector<std::string> below;
        getDirectoryContentsRecursive(folder.c_str(), false, true, below);
        found.insert(found.end(), below.begin(), below.end());
    }
    return pathsMatchingExtension(&found, "lproj", true);
}

int cleanLocalizations(const plist::Dictionary& parameters) {
    countTotalSizeRemoved = true;
    std::vector<std::string> removalNames = removalNamesFromRequest(parameters);
    std::vector<std::string> deletions = foldersToDelete(allLProjPaths(parameters), removalNames);
    double total = static_cast<double>(deletions.size());
    writeProgressUpdate(0, total);
    for (std::size_t i = 0; i < deletions.size(); ++i) {
        removePath(deletions[i], true);
        writeProgressUpdate(static_cast<double>(i), total);
    }
    writeTotalSizeRemovedDictionaryWithID(kIdentifier);
    return 0;
}
