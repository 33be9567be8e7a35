#pragma once
// The process query: a description of every running process.

#include "plist/plist.h"

// "KVXAEQueryProcessesAuthExec": writes one result record listing every
// process but the executor itself. Ignores the request; returns 0.
int queryProcesses(const plist::Dictionary& parameters);
