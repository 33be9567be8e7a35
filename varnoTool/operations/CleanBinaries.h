#pragma once
// Binary slimming: removes from the executables of applications and
// preference panes the code for processor families the machine does not run.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bundle/bundle.h"
#include "plist/plist.h"

// "KVXAECleanBinariesAuthExec". Always returns 0.
int cleanBinaries(const plist::Dictionary& parameters);

// The application bundles, then the preference-pane bundles, found at any
// depth in the folders the request's location keys select.
std::vector<bundle::Bundle> allBundlePaths(const plist::Dictionary& parameters);

// lipo's names for a CPU type's family, in the order they are removed.
std::vector<std::string> lipoStringsFromNXArchitectureConstant(std::int32_t cputype);

// The names lipo lists for the bundle's universal executable; nullopt when
// lipo fails or the executable is no universal file.
std::optional<std::vector<std::string>> lipoArchitecturesFromBundle(const bundle::Bundle& bundle);
// The names in the text of "lipo -info" for a universal file.
std::optional<std::vector<std::string>> lipoArchitecturesFromInfo(std::string_view output);

// Those of `names`, in their order, that lipo lists for the bundle.
std::vector<std::string> lipoArchitecturesInBundle(const std::vector<std::string>& names,
                                                   const bundle::Bundle& bundle);

bool containsArchitectureNX(const std::vector<std::int32_t>& cputypes, std::int32_t cputype);

// Strips a CPU type's family from the bundle's executable, whose CPU types
// (read before any stripping) are `cputypes`.
void removeArchitectureNX(const bundle::Bundle& bundle, const std::vector<std::int32_t>& cputypes,
                          std::int32_t cputype);
