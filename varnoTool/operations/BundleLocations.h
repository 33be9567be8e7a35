#pragma once
// The folders the localization and binary cleaning scan, each turned on by
// the request key of its name.

#include <string>
#include <vector>

#include "plist/plist.h"

// The folders the request turns on, in the order they are scanned; those
// in the home folder expanded.
std::vector<std::string> requestedBundleFolders(const plist::Dictionary& parameters);
