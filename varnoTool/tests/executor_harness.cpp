#include "executor_harness.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
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
