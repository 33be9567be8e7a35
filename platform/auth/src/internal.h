#pragma once
// Shared by the library and the set-user-ID trampoline: the record store, the
// rules, and the environment of a privileged run.

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "auth/authorization.h"

namespace auth::detail {

using Handle = std::array<std::uint8_t, kAuthorizationExternalFormLength>;

// Records live here (a machine path, under the system root): root-owned,
// mode 1733, so anyone may add a record but nobody else can list the names.
inline constexpr const char* kStorePath = "/private/var/db/kvx-auth";
// The root-owned rules; built-in defaults when absent.
inline constexpr const char* kRulesPath = "/private/etc/kvx-authorization.plist";
// A record is good for half a day: long enough for any queue the main
// application runs on one authorization, short enough that a record left
// behind by a crash soon stops counting.
inline constexpr std::int64_t kLifetimeSeconds = 12 * 60 * 60;
// A creation time further ahead than this is refused (clock steps aside).
inline constexpr std::int64_t kClockSkewSeconds = 5 * 60;

// The right a privileged launch needs.
inline constexpr const char* kExecuteRight = "com.kvxlabs.Varno.authExec";
// The file beside the calling program that performs privileged launches.
inline constexpr const char* kTrampolineName = "kvx-authtrampoline";
// The trampoline reports a refusal as a 4-byte status on this descriptor;
// on success the descriptor closes with the exec of the tool.
inline constexpr int kStatusDescriptor = 3;

std::string hexOf(const Handle& handle);
std::optional<Handle> handleFromHex(std::string_view hex);

// Creates the record of a new handle for the calling user. A root process
// creates the store when it is missing; anyone else needs it to exist.
OSStatus createRecord(const Handle& handle);
// A record counts when it is a regular file owned by presenter (any owner
// when presenter is 0), not linked elsewhere, not writable by others, and
// not expired.
OSStatus checkRecord(const Handle& handle, uid_t presenter);
OSStatus removeRecord(const Handle& handle);

// Who asks, as the kernel sees the process: real user, real group and
// supplementary groups.
struct Credentials {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
};
std::optional<Credentials> callerCredentials();

// 0 when every right is granted; errAuthorizationDenied when one is not;
// errAuthorizationInternal when the rules file is present but refused.
OSStatus decideRights(const AuthorizationRights& rights, const Credentials& who);

// The whole environment of a tool run as root: a fixed PATH, root's own
// HOME/USER/LOGNAME, the system root when it is not "/", the handle, and
// VARNO_REQUIRE_SANDBOX when asked (it can only make the tool refuse to run).
std::vector<std::string> privilegedEnvironment(const std::string& systemRoot, const Handle& handle,
                                               bool requireSandbox);

}  // namespace auth::detail

namespace auth {
class Authorization {
  public:
    explicit Authorization(const detail::Handle& h) : handle(h) {}
    detail::Handle handle;
};
}  // namespace auth
