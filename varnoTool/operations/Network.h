#pragma once
// Network parameters: the TCP buffer and acknowledgement settings of the
// kernel, applied at once and kept in "/private/etc/sysctl.conf" so that the
// system applies them again at every start.

#include "plist/plist.h"

// "KVXAESetNetworkParametersAuthExec". Sets the five kernel variables and
// keeps (or, for the system's defaults, removes) this suite's block at the
// end of "/private/etc/sysctl.conf". A key missing from the request takes
// the running system's default. Returns 0 when the file was written; 4 for
// a value out of range (nothing changed) or a file that could not be read or
// written (the kernel variables are set, the file stays as it was).
int setNetworkParameters(const plist::Dictionary& parameters);
