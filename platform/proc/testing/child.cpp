// A child for the process tests. VARNO_CHILD_MODE chooses what it does:
// "sleep" (the default) waits, "busy" keeps one processor busy, "threads"
// waits in four threads. When descriptor 3 is open it writes one byte there
// once it is in that state, so the test knows when to look.
#include <pthread.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

void* waitForever(void*) {
    for (;;) pause();
    return nullptr;
}

void ready() {
    if (write(3, "r", 1) == 1) close(3);
}

}  // namespace

int main() {
    const char* mode = getenv("VARNO_CHILD_MODE");
    if (mode != nullptr && strcmp(mode, "busy") == 0) {
        ready();
        volatile unsigned long spins = 0;
        for (;;) spins = spins + 1;
    }
    if (mode != nullptr && strcmp(mode, "threads") == 0) {
        for (int i = 0; i < 3; ++i) {
            pthread_t thread;
            if (pthread_create(&thread, nullptr, waitForever, nullptr) != 0) return 1;
        }
    }
    ready();
    waitForever(nullptr);
}
