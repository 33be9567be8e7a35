// Test helper: one authorization operation per run, so that a test can make
// each as the user it chooses.
//
//   auth_probe create                  the new authorization's form, in hex
//   auth_probe present HEX             status of accepting the form
//   auth_probe rights RIGHT            status of creating one with that right
//   auth_probe exec HEX TOOL [ARG...]  launch TOOL privileged with the form
//   auth_probe exec-raw HEX TOOL ...   the same without checking the form here
//   auth_probe tool [STATUS]           what a privileged tool sees; exits STATUS
//
// exec prints "exec <status>", relays its standard input to the tool through
// the stream, copies the tool's output, then prints "exit <code>" from wait().

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "internal.h"

extern char** environ;

using namespace auth;

namespace {

bool formFromHex(const char* hex, AuthorizationExternalForm* form) {
    std::optional<detail::Handle> handle = detail::handleFromHex(hex);
    if (!handle) return false;
    form->bytes = *handle;
    return true;
}

void copy(int from, int to) {
    char buf[4096];
    ssize_t n;
    while ((n = read(from, buf, sizeof buf)) > 0)
        if (write(to, buf, static_cast<size_t>(n)) != n) return;
}

int create() {
    AuthorizationRef ref;
    OSStatus status = AuthorizationCreate(nullptr, kAuthorizationFlagDefaults, &ref);
    if (status != 0) {
        printf("create %d\n", status);
        return 1;
    }
    AuthorizationExternalForm form;
    AuthorizationMakeExternalForm(*ref, &form);
    printf("%s\n", detail::hexOf(form.bytes).c_str());
    return 0;
}

int present(const char* hex) {
    AuthorizationExternalForm form;
    if (!formFromHex(hex, &form)) return 2;
    AuthorizationRef ref;
    printf("present %d\n", AuthorizationCreateFromExternalForm(form, &ref));
    return 0;
}

int rights(const char* right) {
    AuthorizationRights wanted = {{right, "", 0}};
    AuthorizationRef ref;
    printf("rights %d\n", AuthorizationCreate(&wanted, 3, &ref));
    return 0;
}

int exec(bool checkForm, int argc, char** argv) {
    AuthorizationExternalForm form;
    if (!formFromHex(argv[2], &form)) return 2;
    AuthorizationRef ref;
    if (checkForm) {
        if (OSStatus status = AuthorizationCreateFromExternalForm(form, &ref)) {
            printf("exec %d\n", status);
            return 0;
        }
    } else {
        ref.reset(new Authorization(form.bytes));
    }
    std::vector<std::string> args(argv + 4, argv + argc);
    FILE* stream = nullptr;
    OSStatus status = AuthorizationExecuteWithPrivileges(*ref, argv[3], 0, args, &stream);
    printf("exec %d\n", status);
    fflush(stdout);
    if (status != 0) return 0;
    copy(0, fileno(stream));
    shutdown(fileno(stream), SHUT_WR);
    copy(fileno(stream), 1);
    fclose(stream);
    int wstatus = 0;
    if (wait(&wstatus) < 0) return 3;
    printf("exit %d\n", WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1);
    return 0;
}

int tool(int argc, char** argv) {
    printf("uid=%d euid=%d gid=%d egid=%d groups=%d\n", getuid(), geteuid(), getgid(), getegid(),
           getgroups(0, nullptr));
    mode_t mask = umask(0);
    printf("umask=%03o\n", mask);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    std::sort(env.begin(), env.end());
    for (const std::string& entry : env) printf("env %s\n", entry.c_str());
    AuthorizationRef ref;
    printf("privref=%d\n", AuthorizationCopyPrivilegedReference(&ref, 0));
    fflush(stdout);
    copy(0, 1);
    return argc > 2 ? atoi(argv[2]) : 0;
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    std::string op = argc > 1 ? argv[1] : "";
    if (op == "create") return create();
    if (op == "present" && argc == 3) return present(argv[2]);
    if (op == "rights" && argc == 3) return rights(argv[2]);
    if ((op == "exec" || op == "exec-raw") && argc >= 4) return exec(op == "exec", argc, argv);
    if (op == "tool") return tool(argc, argv);
    fprintf(stderr, "usage: auth_probe create|present|rights|exec|exec-raw|tool ...\n");
    return 2;
}
