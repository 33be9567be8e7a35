#pragma once
// Localization cleaning: deletes the localization folders (".lproj") of the
// languages the caller does not want from the applications and preference
// panes of the selected folders, never leaving a folder without any.

#include <string>
#include <string_view>
#include <vector>

#include "plist/plist.h"

// "KVXAECleanLocalizationsAuthExec". Always returns 0.
int cleanLocalizations(const plist::Dictionary& parameters);

// Every localization folder at any depth below the folders the request's
// location keys select, in the order of the walk.
std::vector<std::string> allLProjPaths(const plist::Dictionary& parameters);

// The folder's name without its extension, cut before the first "_": the
// language code that every regional variant of a language shares.
std::string formattedNameFromLProjPath(std::string_view path);

// True when the folder's formatted name is one of the removal names (exact,
// case-sensitive).
bool matchesForRemoval(std::string_view path, const std::vector<std::string>& removalNames);

// File URLs as the platform makes them from a path: "file://localhost" and the
// path with what URLs cannot carry percent-escaped; a folder's ends in "/".
std::string fileURLFromPath(std::string_view path, bool isDirectory);
// The path part of a URL, escapes kept.
std::string urlCopyPath(std::string_view url);
// True when the path parts of the two URLs are the same string.
bool urlEqualsURL(std::string_view a, std::string_view b);
