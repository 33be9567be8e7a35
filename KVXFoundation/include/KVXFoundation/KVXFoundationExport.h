#pragma once
// The library is built with hidden symbols; what callers may use is marked.

#define KVXFOUNDATION_EXPORT __attribute__((visibility("default")))
