#pragma once
// Small system settings: emptying the user's trash folders (securely if
// asked), showing and hiding files, the login window's preferences, a custom
// power-management profile, and the kernel's boot arguments.

#include <cstdint>

#include "fs/remove.h"
#include "plist/plist.h"

// "KVXAEForceSecureEmptyTrashAuthExec": empties "~/.Trash" and the user's
// folder in each volume's ".Trashes". Returns 0, or -1 when the deletion
// method is no whole 32-bit number (nothing is deleted then).
int forceSecureEmptyTrash(const plist::Dictionary& parameters);

// The removefile option of a trash deletion method (0 for plain deletion).
vfs::removefile_flags_t deletionOption(std::int32_t method);

// "KVXAESetFileVisibilityAuthExec": runs the bundle's SetFile on each file.
// Returns 0, or 22, 12 or 13 when the executor's own path cannot be had.
int setFileVisibility(const plist::Dictionary& parameters);

// "KVXAESetLoginWindowPlistAuthExec": replaces the login window's
// preferences. Returns 0, or 20 when they cannot be written.
int setLoginWindowPlist(const plist::Dictionary& parameters);

// "KVXAESetPowerManagementSettingsAuthExec": stores the profile of one power
// source and applies it with pmset. Returns 0, or -1 for a request it cannot
// carry out (nothing is changed then).
int setPowerManagementProfile(const plist::Dictionary& parameters);

// "KVXAESetSystemStartupModeAuthExec": replaces the executor with nvram
// setting "boot-args". Returns -1 only when nvram cannot be started or the
// request holds no value.
int setSystemStartupMode(const plist::Dictionary& parameters);
