// Prints the system root this process sees; the tests run it set-user-ID.
#include <cstdio>

#include "host/root.h"

int main() {
    std::printf("%s\n", host::systemRoot().c_str());
    return 0;
}
