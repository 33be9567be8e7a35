#pragma once
// Cache and log cleaning: deletes the groups of cached data and log files the
// request selects, from the fixed places the system and its services use.

#include "plist/plist.h"

// "KVXAEUserSystemCleanCachesAuthExec". Always returns 0.
int userSystemCleanCaches(const plist::Dictionary& parameters);

// "KVXAEUserSystemCleanLogsAuthExec". Always returns 0.
int userSystemCleanLogs(const plist::Dictionary& parameters);
