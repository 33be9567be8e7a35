// Preloaded into the executor by its entry tests. VARNO_FAIL_CALL is
// "name:N": the N-th call of the C library function `name` fails with EPERM,
// every other call goes through. It is read at load time, before the
// executor rebuilds its environment.
#include <dlfcn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

char failing[32];
long failingCall = 0;  // 1 for the first call
long calls = 0;

bool fails(const char* call) {
    if (std::strcmp(failing, call) != 0 || ++calls != failingCall) return false;
    errno = EPERM;
    return true;
}

template <typename Function>
Function next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

__attribute__((constructor)) void readFailingCall() {
    const char* setting = getenv("VARNO_FAIL_CALL");
    const char* colon = setting == nullptr ? nullptr : std::strchr(setting, ':');
    if (colon == nullptr || colon - setting >= static_cast<long>(sizeof failing)) return;
    std::memcpy(failing, setting, static_cast<size_t>(colon - setting));
    failingCall = std::strtol(colon + 1, nullptr, 10);
}

}  // namespace

extern "C" {

int close_range(unsigned int first, unsigned int last, int flags) __THROW {
    if (fails("close_range")) return -1;
    return next<int (*)(unsigned int, unsigned int, int)>("close_range")(first, last, flags);
}

int clearenv() __THROW {
    if (fails("clearenv")) return -1;
    return next<int (*)()>("clearenv")();
}

int setenv(const char* name, const char* value, int replace) __THROW {
    if (fails("setenv")) return -1;
    return next<int (*)(const char*, const char*, int)>("setenv")(name, value, replace);
}

int unsetenv(const char* name) __THROW {
    if (fails("unsetenv")) return -1;
    return next<int (*)(const char*)>("unsetenv")(name);
}

int fchown(int fd, uid_t owner, gid_t group) __THROW {
    if (fails("fchown")) return -1;
    return next<int (*)(int, uid_t, gid_t)>("fchown")(fd, owner, group);
}

int fchmod(int fd, mode_t mode) __THROW {
    if (fails("fchmod")) return -1;
    return next<int (*)(int, mode_t)>("fchmod")(fd, mode);
}

}  // extern "C"
