#pragma once
// Spotlight's exclusion list: the paths the search index leaves out (private
// volumes and folders), standing in for the metadata framework's
// _MDCopyExclusionList and _MDSetExclusion.
//
// The list is kept on the startup volume as the "Exclusions" array of
// kSpotlightVolumeConfiguration under the system root. Each change reads the
// whole file and replaces it whole and atomically, under an exclusive lock,
// so other keys of the file survive and concurrent changes are not lost.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

inline constexpr const char* kSpotlightStoreFolder = "/.Spotlight-V100";
inline constexpr const char* kSpotlightVolumeConfiguration =
    "/.Spotlight-V100/VolumeConfiguration.plist";
inline constexpr const char* kSpotlightExclusionsKey = "Exclusions";

// The excluded paths exactly as they were added, in the list's order;
// nullopt when there is no list or it cannot be read.
std::optional<std::vector<std::string>> _MDCopyExclusionList();

// Adds the path to the list (exclude true; nothing changes when it is there
// already) or removes every entry equal to it (exclude false). Paths are
// compared exactly: "/Volumes/X/" is not "/Volumes/X". Returns 0, or an errno
// value; a file that cannot be read as a property list (EINVAL) is left as
// it is rather than replaced.
int _MDSetExclusion(std::string_view path, bool exclude);

}  // namespace host
