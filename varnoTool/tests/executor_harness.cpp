#include "executor_harness.h"

#include <grp.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace executor_test {

std::string executorPath() { return host::testing::bundlePath("Contents/MacOS/varnoTool"); }

std::string rootAuthorizationForm() {
    auth::AuthorizationRef ref;
    if (auth::AuthorizationCreate(nullptr, auth::kAuthorizationFlagDefaults, &ref) != 0)
        throw std::runtime_error("cannot create an authorization");
    auth::AuthorizationExternalForm form;
    if (auth::AuthorizationMakeExternalForm(*ref, &form) != 0)
        throw std::runtime_error("cannot externalize an authorization");
    return std::string(form.bytes.begin(), form.bytes.end());
}

std::string frame(const std::string& form, const std::string& document) {
    std::uint64_t length = document.size();
    std::string out = form;
    out.append(reinterpret_cast<const char*>(&length), sizeof length);
    out += document;
    return out;
}

std::string frame(const std::string& form, const plist::Dictionary& request) {
    return frame(form, plist::writeXML(plist::Value(request)));
}

plist::Dictionary request(const std::string& identifier, bool debug) {
    plist::Dictionary d;
    d["KVXAEIdentifierAuthExecConfigurationKey"] = plist::Value(identifier);
    if (debug) d["KVXAEDebugAuthExecConfigurationKey"] = plist::Value::boolean(true);
    return d;
}

host::testing::RunResult runExecutor(const std::string& input,
                                     const std::vector<std::string>& extraArgs) {
    host::testing::RunOptions o;
    o.argv = {executorPath()};
    o.argv.insert(o.argv.end(), extraArgs.begin(), extraArgs.end());
    o.input = input;
    return host::testing::run(o);
}

const std::vector<std::string>& operationIdentifiers() {
    static const std::vector<std::string> identifiers = {
        "KVXAESetuidrootAuthExec",
        "KVXAEQuerySpotlightInfoAuthExec",
        "KVXAESetVolumeJournalStatusAuthExec",
        "KVXAESetVolumeOwnershipStatusAuthExec",
        "KVXAEVerifyRepairVolumeStructureAuthExec",
        "KVXAEUnmountVolumeAuthExec",
        "KVXAEMountVolumeAuthExec",
        "KVXAEVerifyRepairFilePermissionsAuthExec",
        "KVXAERebuildSpotlightVolumeIndexAuthExec",
        "KVXAEDisableSpotlightVolumeIndexingAuthExec",
        "KVXAEPrivatizeSpotlightVolumeAuthExec",
        "KVXAERebuildLaunchServicesDatabaseAuthExec",
        "KVXAERebuildDyldSharedCacheAuthExec",
        "KVXAESetNetworkParametersAuthExec",
        "KVXAEDisablePreferenceFilesAuthExec",
        "KVXAERestorePreferenceFilesAuthExec",
        "KVXAEUserSystemCleanCachesAuthExec",
        "KVXAEUserSystemCleanLogsAuthExec",
        "KVXAESetSystemStartupModeAuthExec",
        "KVXAEForceSecureEmptyTrashAuthExec",
        "KVXAESetFileVisibilityAuthExec",
        "KVXAESetPowerManagementSettingsAuthExec",
        "KVXAECleanLocalizationsAuthExec",
        "KVXAECleanBinariesAuthExec",
        "KVXAERebuildLocateDatabaseAuthExec",
        "KVXAERebuildWhatisDatabaseAuthExec",
        "KVXAEQueryProcessesAuthExec",
        "KVXAESetSwapVolumeAuthExec",
        "KVXAESetLoginWindowPlistAuthExec",
    };
    return identifiers;
}

std::string formOfUser(uid_t uid) {
    host::testing::RunOptions o;
    const char* program = std::getenv("VARNO_AUTH_FORM");
    if (program == nullptr) throw std::runtime_error("VARNO_AUTH_FORM is not set");
    o.argv = {program};
    o.uid = uid;
    host::testing::RunResult r = host::testing::run(o);
    if (r.exitStatus != 0 || r.out.size() != 32) throw std::runtime_error("no form: " + r.err);
    return r.out;
}

gid_t adminGroup() {
    struct group* g = getgrnam("sudo");
    return g ? g->gr_gid : 27;
}

InstalledExecutor::InstalledExecutor(const host::testing::SandboxRoot& sandbox, uid_t owner,
                                     mode_t mode) {
    host::testing::copyFile(executorPath(), tool);
    if (chown(tool.c_str(), owner, owner) != 0 || chmod(tool.c_str(), mode) != 0)
        throw std::runtime_error("cannot install the executor");
    std::string trampoline = dir.path() + "/kvx-authtrampoline";
    host::testing::copyFile(host::testing::bundlePath("Contents/MacOS/kvx-authtrampoline"),
                            trampoline);
    if (chown(trampoline.c_str(), 0, 0) != 0 || chmod(trampoline.c_str(), 04755) != 0)
        throw std::runtime_error("cannot install the trampoline");
    std::string sidecar = dir.path() + "/system-root";
    FILE* f = fopen(sidecar.c_str(), "w");
    if (f == nullptr) throw std::runtime_error("cannot write " + sidecar);
    fprintf(f, "%s\n", sandbox.path().c_str());
    fclose(f);
    chmod(sidecar.c_str(), 0644);
}

host::testing::RunResult InstalledExecutor::runAs(uid_t uid, std::vector<gid_t> groups,
                                                  const std::string& input) const {
    host::testing::RunOptions o;
    o.argv = {tool};
    o.uid = uid;
    o.groups = std::move(groups);
    o.input = input;
    return host::testing::run(o);
}

struct stat InstalledExecutor::status() const {
    struct stat st {};
    stat(tool.c_str(), &st);
    return st;
}

std::string captureStdoutImpl(void (*fn)(void*), void* context) {
    fflush(stdout);
    int file = memfd_create("stdout", 0);
    int saved = dup(1);
    dup2(file, 1);
    fn(context);
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::string out;
    char buf[4096];
    lseek(file, 0, SEEK_SET);
    ssize_t n;
    while ((n = read(file, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    close(file);
    return out;
}

}  // namespace executor_test
