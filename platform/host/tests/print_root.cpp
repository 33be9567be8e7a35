// Prints the system root this process sees; the tests run it set-user-ID.
#include <cstdio>

#include "host/root.h"

int main(int argc, char** argv) {
    std::printf("%s\n", host::systemRoot().c_str());
    // With an argument: where that machine path is found.
    if (argc > 1) std::printf("%s\n", host::realPath(argv[1]).c_str());
    return 0;
}
