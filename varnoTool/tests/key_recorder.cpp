// The executor's dispatcher with every parameter lookup appended to the file
// named by its argument, one key a line. Reads the bare request document on
// standard input. Built for the tests only; the installed executor sets no
// such hook.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>

#include "Dispatch.h"
#include "Protocol.h"
#include "Request.h"

namespace {

int lookups = -1;

// Written at once: an operation may replace this process with a tool.
void record(std::string_view key) {
    std::string line(key);
    line += '\n';
    (void)!write(lookups, line.data(), line.size());
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) return 64;
    lookups = open(argv[1], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (lookups < 0) return 66;
    std::string document{std::istreambuf_iterator<char>(std::cin), {}};
    auto parameters = parseRequestDocument(document);
    if (!parameters) return 65;
    setvbuf(stdout, nullptr, _IONBF, 0);
    protocol_seams::keyLookedUp = record;
    return callExecutionFunction(*parameters);
}
