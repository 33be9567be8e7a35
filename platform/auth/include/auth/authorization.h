#pragma once
// Authorization: rights checked by the privileged side, an external form a
// caller can hand to another process, and a privileged launch.
//
// An authorization is a random 32-byte handle; its external form is those 32
// bytes. Its record lives in a store folder under the system root. Rights are
// never taken from what a caller claims: the deciding side reads a root-owned
// rules file (or built-in defaults) and the real user ID the kernel reports.

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace auth {

using OSStatus = std::int32_t;
using AuthorizationFlags = std::uint32_t;

// The platform's status codes.
inline constexpr OSStatus errAuthorizationSuccess = 0;
inline constexpr OSStatus errAuthorizationInvalidSet = -60001;
inline constexpr OSStatus errAuthorizationInvalidRef = -60002;
inline constexpr OSStatus errAuthorizationInvalidTag = -60003;
inline constexpr OSStatus errAuthorizationInvalidPointer = -60004;
inline constexpr OSStatus errAuthorizationDenied = -60005;
inline constexpr OSStatus errAuthorizationCanceled = -60006;
inline constexpr OSStatus errAuthorizationInteractionNotAllowed = -60007;
inline constexpr OSStatus errAuthorizationInternal = -60008;
inline constexpr OSStatus errAuthorizationExternalizeNotAllowed = -60009;
inline constexpr OSStatus errAuthorizationInternalizeNotAllowed = -60010;
inline constexpr OSStatus errAuthorizationInvalidFlags = -60011;
inline constexpr OSStatus errAuthorizationToolExecuteFailure = -60031;
inline constexpr OSStatus errAuthorizationToolEnvironmentError = -60032;

// The platform's flag values.
inline constexpr AuthorizationFlags kAuthorizationFlagDefaults = 0;
inline constexpr AuthorizationFlags kAuthorizationFlagInteractionAllowed = 1 << 0;
inline constexpr AuthorizationFlags kAuthorizationFlagExtendRights = 1 << 1;
inline constexpr AuthorizationFlags kAuthorizationFlagPartialRights = 1 << 2;
inline constexpr AuthorizationFlags kAuthorizationFlagDestroyRights = 1 << 3;
inline constexpr AuthorizationFlags kAuthorizationFlagPreAuthorize = 1 << 4;

struct AuthorizationItem {
    std::string name;
    std::string value;  // usually empty (length 0)
    std::uint32_t flags = 0;
};
using AuthorizationRights = std::vector<AuthorizationItem>;

inline constexpr std::size_t kAuthorizationExternalFormLength = 32;
struct AuthorizationExternalForm {
    std::array<std::uint8_t, kAuthorizationExternalFormLength> bytes{};
};

class Authorization;  // opaque
struct AuthorizationDeleter {
    void operator()(Authorization* a) const;
};
using AuthorizationRef = std::unique_ptr<Authorization, AuthorizationDeleter>;

// Creates a new authorization for the calling user; with rights and
// kAuthorizationFlagExtendRights they are checked at once (and on refusal
// nothing is left behind). The store must exist; only a root process creates
// it: otherwise errAuthorizationInternal.
OSStatus AuthorizationCreate(const AuthorizationRights* rights, AuthorizationFlags flags,
                             AuthorizationRef* out);

// Decides the rights for the calling process's real user and groups (there
// is no prompt, so every call decides afresh whatever the flags). Granted: 0.
// Not granted: errAuthorizationDenied. Rules file refused:
// errAuthorizationInternal. Freed or expired: errAuthorizationInvalidRef.
OSStatus AuthorizationCopyRights(const Authorization& authorization,
                                 const AuthorizationRights& rights, AuthorizationFlags flags);

OSStatus AuthorizationMakeExternalForm(const Authorization& authorization,
                                       AuthorizationExternalForm* out);

// Accepts a form only when its record exists, is a regular file owned by the
// presenting process's real user (root may present any) and has not expired;
// otherwise errAuthorizationInvalidRef (errAuthorizationInternal when the
// store itself is missing its root ownership or mode).
OSStatus AuthorizationCreateFromExternalForm(const AuthorizationExternalForm& form,
                                             AuthorizationRef* out);

// Succeeds only in a process started by AuthorizationExecuteWithPrivileges:
// real and effective user root and the handle in kPrivilegedReferenceVariable
// (otherwise errAuthorizationInternal), naming a live record (otherwise
// errAuthorizationInvalidRef). The variable is then removed from the
// environment, so that tools this process starts do not inherit it.
OSStatus AuthorizationCopyPrivilegedReference(AuthorizationRef* out, AuthorizationFlags flags);

// Starts the tool as the superuser with the given arguments (argv[0] is made
// from the path). When communicationsPipe is given, *communicationsPipe is a
// stream connected to the child's standard input and standard output. The
// child is a direct child of the caller, so the caller may wait() for it.
//
// A root caller starts the tool itself; any other runs the set-user-ID
// "kvx-authtrampoline" found beside its own executable, which checks the
// authorization and the right "com.kvxlabs.Varno.authExec" again. The tool
// runs with real and effective user and group 0, umask 022, and only PATH
// (fixed), HOME, USER, LOGNAME, VARNO_SYSTEM_ROOT (the trusted root),
// VARNO_REQUIRE_SANDBOX (when the caller had it) and kPrivilegedReferenceVariable
// in its environment. Statuses: 0 once the tool is running (on failure no
// child is left to wait for); errAuthorizationInvalidFlags for options other
// than the defaults; errAuthorizationInvalidRef for a record that is gone,
// expired or another user's; errAuthorizationDenied without the right;
// errAuthorizationToolExecuteFailure when the path is not absolute, the
// trampoline is missing or the tool cannot be executed;
// errAuthorizationInternal when the trampoline is not set-user-ID root or
// lacks its "system-root" sidecar while the caller requires a sandbox;
// errAuthorizationToolEnvironmentError when the trampoline ended without
// a report.
OSStatus AuthorizationExecuteWithPrivileges(const Authorization& authorization,
                                            const std::string& pathToTool,
                                            AuthorizationFlags options,
                                            const std::vector<std::string>& arguments,
                                            FILE** communicationsPipe);

// Releases the reference; with kAuthorizationFlagDestroyRights its record is
// removed from the store too (a record already gone is no error).
OSStatus AuthorizationFree(AuthorizationRef authorization, AuthorizationFlags flags);

// The environment variable through which a privileged launch hands the
// authorization to the started tool. A privileged program that rebuilds its
// environment keeps this one.
inline constexpr const char* kPrivilegedReferenceVariable = "KVX_AUTHORIZATION_REFERENCE";

}  // namespace auth
