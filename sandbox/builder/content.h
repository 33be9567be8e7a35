#pragma once
// Optional content: what a machine that has been in use for a while holds -
// caches, rotated logs, applications with many localizations - for the demo
// and the benchmarks.

#include <cstdint>
#include <vector>

#include "files.h"
#include "layout.h"

namespace sandbox_builder {

struct ContentOptions {
    bool mix = false;                          // caches, logs and applications together
    std::uint64_t size = 32ull * 1024 * 1024;  // bytes of the whole mix
    int apps = -1;           // application bundles; -1: the mix's own number, none without it
    int localizations = -1;  // per bundle; -1: a varied number per bundle
    std::uint64_t seed = 1;
    std::vector<Account> users;
};

void fillContent(const Root& root, const ContentOptions& options);

// How many localizations one bundle can have at most.
int maxLocalizations();

}  // namespace sandbox_builder
