// A stand-in for the executor that plays a scripted record stream, for tests
// of Varno that need exact control over what the executor writes and how it
// ends. Everything lives in the folder $FAKE_EXECUTOR_DIR:
//   <identifier>.stream   bytes to write to standard output, in pieces of
//                         $FAKE_EXECUTOR_CHUNK bytes (default 7), 1 ms apart
//   <identifier>.status   the exit status, or "kill" to die by SIGKILL after
//                         the stream (default 0)
// It records what it received as request-N.plist (the document), form-N
// (the 32 bytes) and root-N (its VARNO_SYSTEM_ROOT), N counting from 1.
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "plist/plist.h"

namespace {

bool readExactly(void* buffer, size_t size) {
    auto* p = static_cast<char*>(buffer);
    while (size > 0) {
        ssize_t n = read(0, p, size);
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::string slurp(const std::string& path, bool* found = nullptr) {
    std::ifstream in(path, std::ios::binary);
    if (found) *found = static_cast<bool>(in);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void spit(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

int main() {
    const char* dirEnv = std::getenv("FAKE_EXECUTOR_DIR");
    if (!dirEnv) return 99;
    const std::string dir = dirEnv;
    char form[32];
    std::uint64_t length = 0;
    if (!readExactly(form, sizeof form)) return 17;
    if (!readExactly(&length, sizeof length)) return 20;
    if (length > (1u << 24)) return 21;
    std::string document(length, '\0');
    if (!readExactly(document.data(), length)) return 21;

    int n = 1;
    while (access((dir + "/request-" + std::to_string(n) + ".plist").c_str(), F_OK) == 0) ++n;
    spit(dir + "/request-" + std::to_string(n) + ".plist", document);
    spit(dir + "/form-" + std::to_string(n), std::string(form, sizeof form));
    const char* root = std::getenv("VARNO_SYSTEM_ROOT");
    spit(dir + "/root-" + std::to_string(n), root ? root : "");

    auto request = plist::parse(document);
    if (!request) return 22;
    const plist::Value* id = request->find("KVXAEIdentifierAuthExecConfigurationKey");
    const std::string identifier = id && id->asString() ? *id->asString() : "";

    const std::string stream = slurp(dir + "/" + identifier + ".stream");
    const char* chunkEnv = std::getenv("FAKE_EXECUTOR_CHUNK");
    const size_t chunk = chunkEnv ? std::strtoul(chunkEnv, nullptr, 10) : 7;
    for (size_t at = 0; at < stream.size(); at += chunk) {
        const std::string piece = stream.substr(at, chunk);
        if (write(1, piece.data(), piece.size()) != static_cast<ssize_t>(piece.size())) return 98;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    bool found = false;
    const std::string status = slurp(dir + "/" + identifier + ".status", &found);
    if (status.rfind("kill", 0) == 0) raise(SIGKILL);
    return found ? std::atoi(status.c_str()) : 0;
}
