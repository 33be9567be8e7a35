#pragma once
// Selects the operation a request names and runs it.

#include "plist/plist.h"

// Every operation takes the whole parameters dictionary and returns a status.
using OperationFunction = int (*)(const plist::Dictionary& parameters);

// Sets AEDEBUG from the request, then runs the operation the identifier names.
// Returns its status, 0 for "KVXAESetuidrootAuthExec", 7 when nothing matches.
int callExecutionFunction(const plist::Dictionary& parameters);
