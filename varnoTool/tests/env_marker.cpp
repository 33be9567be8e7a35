// Preloaded by the environment test: if it is ever loaded into a process
// running as root, that process took its library search from the caller.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

__attribute__((constructor)) static void reportLoad() {
    const char* file = std::getenv("VARNO_ENV_MARKER_FILE");
    if (file == nullptr || geteuid() != 0) return;
    int fd = open(file, O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0) return;
    char line[128];
    int n = std::snprintf(line, sizeof line, "loaded as euid 0 into pid %d\n", getpid());
    if (n > 0) (void)!write(fd, line, static_cast<size_t>(n));
    close(fd);
}
