#pragma once
// Reading the framed request from standard input.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "plist/plist.h"

// The largest request document accepted; the buffer is allocated before the
// read, so the caller's length must not decide how much memory root takes.
inline constexpr std::uint64_t kMaxRequestLength = 64ull * 1024 * 1024;

// Reads until `size` bytes have arrived or the input ends (a pipe delivers a
// large document in several reads). Returns the number of bytes read; errno
// holds the reason when it is short because a read failed.
std::size_t readFully(int fd, void* buffer, std::size_t size);

// Parses a request document: a property list whose root is a dictionary.
std::optional<plist::Dictionary> parseRequestDocument(const std::string& document);
