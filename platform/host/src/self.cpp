#include "host/self.h"

#include <unistd.h>

#include <vector>

namespace host {

std::optional<std::string> executablePath() {
    std::vector<char> buffer(1024);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n <= 0) return std::nullopt;
        // A full buffer may hold a cut name: read again with more room.
        if (static_cast<std::size_t>(n) < buffer.size())
            return std::string(buffer.data(), static_cast<std::size_t>(n));
        if (buffer.size() >= (1u << 16)) return std::nullopt;
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace host
