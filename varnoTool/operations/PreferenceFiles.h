#pragma once
// Preference files: takes suspect preference files out of use by moving them
// into a holding folder in the user's application support folder, and puts
// them back later.

#include "plist/plist.h"

// "KVXAEDisablePreferenceFilesAuthExec". Never replaces a file already held.
// Always returns 0; each file's outcome is in the result record.
int disablePreferenceFiles(const plist::Dictionary& parameters);

// "KVXAERestorePreferenceFilesAuthExec". Replaces the file of the same name
// in the preferences folder. Always returns 0.
int restorePreferenceFiles(const plist::Dictionary& parameters);
