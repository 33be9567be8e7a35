#include "Request.h"

#include <unistd.h>

#include <cerrno>

std::size_t readFully(int fd, void* buffer, std::size_t size) {
    auto* p = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = read(fd, p + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::optional<plist::Dictionary> parseRequestDocument(const std::string& document) {
    auto value = plist::parse(document);
    if (!value) return std::nullopt;
    auto* dictionary = value->asDictionary();
    if (dictionary == nullptr) return std::nullopt;
    return std::move(*dictionary);
}
