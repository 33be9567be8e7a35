#include "operations/DatabaseRebuilds.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Protocol.h"
#include "Utilities.h"
#include "host/root.h"

namespace {

constexpr const char* kDyldTool = "/usr/bin/update_dyld_shared_cache";
constexpr const char* kLaunchServicesTool =
    "/System/Library/Frameworks/CoreServices.framework/Frameworks/LaunchServices.framework/"
    "Support/lsregister";
constexpr const char* kSudo = "/usr/bin/sudo";
constexpr const char* kLocateTool = "/usr/libexec/locate.updatedb";
constexpr const char* kWhatisTool = "/usr/libexec/makewhatis";

// Runs "sudo locate.updatedb" as the shell would run that command line, but
// without a shell: nothing in the environment can change what a root shell
// does with it. Interrupt and quit are ignored while waiting, as a shell
// command run by system() would have them. Returns the wait status.
int runAndWait(const char* tool, const std::vector<std::string>& argv) {
    std::string realPath = host::realPath(tool);
    std::vector<std::string> strings = argv;
    std::vector<char*> args;
    for (std::string& s : strings) args.push_back(s.data());
    args.push_back(nullptr);

    struct sigaction ignore = {};
    struct sigaction savedInterrupt = {};
    struct sigaction savedQuit = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    if (sigaction(SIGINT, &ignore, &savedInterrupt) != 0) return -1;
    if (sigaction(SIGQUIT, &ignore, &savedQuit) != 0) {
        sigaction(SIGINT, &savedInterrupt, nullptr);
        return -1;
    }
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        sigaction(SIGINT, &savedInterrupt, nullptr);
        sigaction(SIGQUIT, &savedQuit, nullptr);
        signal(SIGPIPE, SIG_DFL);
        execv(realPath.c_str(), args.data());
        _exit(127);  // what a shell reports for a command it cannot run
    }
    int status = -1;
    if (pid > 0) {
        while (waitpid(pid, &status, 0) < 0) {
            if (errno != EINTR) {
                status = -1;
                break;
            }
        }
    }
    sigaction(SIGINT, &savedInterrupt, nullptr);
    sigaction(SIGQUIT, &savedQuit, nullptr);
    return status;
}

}  // namespace

int rebuildDyldSharedCache(const plist::Dictionary& parameters) {
    std::vector<std::string> argv = {"update_dyld_shared_cache", "-root", "/", "-debug",
                                     "-sort_by_name"};
    if (boolFromConfigAndKey(&parameters, "ForceUpdate")) argv.push_back("-force");
    if (boolFromConfigAndKey(&parameters, "PPC")) argv.insert(argv.end(), {"-arch", "ppc"});
    if (boolFromConfigAndKey(&parameters, "i386")) argv.insert(argv.end(), {"-arch", "i386"});
    if (boolFromConfigAndKey(&parameters, "x86_64")) argv.insert(argv.end(), {"-arch", "x86_64"});
    return forkToTask(kDyldTool, argv);
}

int rebuildLaunchServicesDatabase(const plist::Dictionary& parameters) {
    std::vector<std::string> argv = {"lsregister", "-kill", "-r",      "-v",
                                     "-domain",    "local", "-domain", "user"};
    if (boolFromConfigAndKey(&parameters, "SystemDomain"))
        argv.insert(argv.end(), {"-domain", "system"});
    if (boolFromConfigAndKey(&parameters, "ForceUpdate")) argv.push_back("-f");
    return forkToTask(kLaunchServicesTool, argv);
}

int rebuildLocateDatabase(const plist::Dictionary&) {
    // Real identities too, so that sudo sees the superuser asking.
    if (setgid(0) != 0 || setuid(0) != 0) {
        printf("\t*** Error setting user and group to 0: %s (%d)\n", strerror(errno), errno);
        return -1;
    }
    return runAndWait(kSudo, {kSudo, kLocateTool});
}

int rebuildWhatisDatabase(const plist::Dictionary&) {
    return forkToTask(kWhatisTool, {"makewhatis", "-v"});
}
