#include "operations/BundleLocations.h"

#include "Protocol.h"
#include "Utilities.h"

namespace {

struct Location {
    const char* key;
    const char* folder;
    bool inHome;  // expanded with expandTildeInPath
};

const Location kLocations[] = {
    {"LocalApplications", "~/Applications/", true},
    {"LocalPreferencePanes", "~/Library/PreferencePanes/", true},
    {"UserApplications", "/Applications/", false},
    {"UserDeveloperApplications", "/Developer/Applications/", false},
    {"UserPreferencePanes", "/Library/PreferencePanes/", false},
    {"SystemCoreServices", "/System/Library/CoreServices/", false},
    {"SystemPreferencePanes", "/System/Library/PreferencePanes/", false},
};

}  // namespace

std::vector<std::string> requestedBundleFolders(const plist::Dictionary& parameters) {
    std::vector<std::string> folders;
    for (const Location& location : kLocations) {
        if (!boolFromConfigAndKey(&parameters, location.key)) continue;
        std::optional<std::string> folder =
            location.inHome ? expandTildeInPath(std::string(location.folder), std::nullopt)
                            : std::optional<std::string>(location.folder);
        if (folder) folders.push_back(*folder);
    }
    return folders;
}
