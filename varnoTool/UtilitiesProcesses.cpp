// The process list of the executor's utilities.

#include "UtilitiesProcesses.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

// Broken preconditions are a caller's bug: stop at once, naming the check,
// whatever the build type.
[[noreturn]] void assertionFailed(const char* expression, const char* function, int line) {
    fprintf(stderr, "Assertion failed: (%s), function %s, file %s, line %d.\n", expression,
            function, __FILE__, line);
    abort();
}

#define REQUIRE(expression) \
    ((expression) ? static_cast<void>(0) : assertionFailed(#expression, __func__, __LINE__))

}  // namespace

int getBSDProcessList(proc::kinfo_proc** procList, std::size_t* procCount) {
    static const int name[] = {proc::CTL_KERN, proc::KERN_PROC, proc::KERN_PROC_ALL, 0};
    REQUIRE(procList != NULL);
    REQUIRE(*procList == NULL);
    REQUIRE(procCount != NULL);

    *procCount = 0;
    proc::kinfo_proc* result = nullptr;
    std::size_t length = 0;
    int err = 0;
    bool done = false;
    do {
        length = 0;
        err = proc::sysctl(name, 3, nullptr, &length, nullptr, 0) == -1 ? errno : 0;
        if (err == 0) {
            result = static_cast<proc::kinfo_proc*>(malloc(length));
            if (result == nullptr) err = ENOMEM;
        }
        if (err == 0) {
            err = proc::sysctl(name, 3, result, &length, nullptr, 0) == -1 ? errno : 0;
            if (err == 0) {
                done = true;
            } else if (err == ENOMEM) {
                // The table grew since the size query: ask again.
                free(result);
                result = nullptr;
                err = 0;
            }
        }
    } while (err == 0 && !done);

    if (err != 0 && result != nullptr) {
        free(result);
        result = nullptr;
    }
    *procList = result;
    if (err == 0) *procCount = length / sizeof(proc::kinfo_proc);
    REQUIRE((err == 0) == (*procList != NULL));
    return err;
}
