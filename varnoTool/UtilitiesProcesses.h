#pragma once
// The whole kernel process table in one buffer.

#include <cstddef>

#include "proc/sysctl.h"

// Reads every entry of the process table into a new buffer (free it with
// free()), retrying while the table grows between the size query and the
// read. Returns 0 with *procList and *procCount set, or an errno value with
// *procList null. procList and procCount must be given and *procList must be
// null: anything else stops the process.
int getBSDProcessList(proc::kinfo_proc** procList, std::size_t* procCount);
