// Creating, passing on and releasing authorizations, and asking for rights.

#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "internal.h"

namespace auth {
namespace {

constexpr AuthorizationFlags kRightsFlags =
    kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights |
    kAuthorizationFlagPartialRights | kAuthorizationFlagPreAuthorize;

bool randomHandle(detail::Handle* handle) {
    size_t got = 0;
    while (got < handle->size()) {
        ssize_t n = getrandom(handle->data() + got, handle->size() - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

OSStatus rightsFor(const AuthorizationRights& rights) {
    std::optional<detail::Credentials> who = detail::callerCredentials();
    if (!who) return errAuthorizationInternal;
    return detail::decideRights(rights, *who);
}

}  // namespace

void AuthorizationDeleter::operator()(Authorization* a) const {
    delete a;
}

OSStatus AuthorizationCreate(const AuthorizationRights* rights, AuthorizationFlags flags,
                             AuthorizationRef* out) {
    if (out == nullptr) return errAuthorizationInvalidPointer;
    if ((flags & ~kRightsFlags) != 0) return errAuthorizationInvalidFlags;
    detail::Handle handle{};
    if (!randomHandle(&handle)) return errAuthorizationInternal;
    if (OSStatus status = detail::createRecord(handle)) return status;
    if (rights != nullptr && (flags & kAuthorizationFlagExtendRights) != 0) {
        if (OSStatus status = rightsFor(*rights)) {
            detail::removeRecord(handle);
            return status;
        }
    }
    out->reset(new Authorization(handle));
    return errAuthorizationSuccess;
}

OSStatus AuthorizationCopyRights(const Authorization& authorization,
                                 const AuthorizationRights& rights, AuthorizationFlags flags) {
    if ((flags & ~kRightsFlags) != 0) return errAuthorizationInvalidFlags;
    // A freed or expired authorization grants nothing.
    if (OSStatus status = detail::checkRecord(authorization.handle, getuid())) return status;
    return rightsFor(rights);
}

OSStatus AuthorizationMakeExternalForm(const Authorization& authorization,
                                       AuthorizationExternalForm* out) {
    if (out == nullptr) return errAuthorizationInvalidPointer;
    out->bytes = authorization.handle;
    return errAuthorizationSuccess;
}

OSStatus AuthorizationCreateFromExternalForm(const AuthorizationExternalForm& form,
                                             AuthorizationRef* out) {
    if (out == nullptr) return errAuthorizationInvalidPointer;
    if (OSStatus status = detail::checkRecord(form.bytes, getuid())) return status;
    out->reset(new Authorization(form.bytes));
    return errAuthorizationSuccess;
}

OSStatus AuthorizationCopyPrivilegedReference(AuthorizationRef* out, AuthorizationFlags flags) {
    if (out == nullptr) return errAuthorizationInvalidPointer;
    if (flags != kAuthorizationFlagDefaults) return errAuthorizationInvalidFlags;
    // Only a privileged launch makes a process whose real and effective user
    // are both root and which carries the handle; a set-user-ID process never
    // sees the variable (secure_getenv).
    if (getuid() != 0 || geteuid() != 0) return errAuthorizationInternal;
    const char* hex = secure_getenv(kPrivilegedReferenceVariable);
    std::optional<detail::Handle> handle =
        hex != nullptr ? detail::handleFromHex(hex) : std::nullopt;
    if (!handle) return errAuthorizationInternal;
    if (OSStatus status = detail::checkRecord(*handle, 0)) return status;
    // Tools this process starts in turn do not inherit the handle.
    unsetenv(kPrivilegedReferenceVariable);
    out->reset(new Authorization(*handle));
    return errAuthorizationSuccess;
}

OSStatus AuthorizationFree(AuthorizationRef authorization, AuthorizationFlags flags) {
    if (!authorization) return errAuthorizationInvalidRef;
    if ((flags & ~kAuthorizationFlagDestroyRights) != 0) return errAuthorizationInvalidFlags;
    if ((flags & kAuthorizationFlagDestroyRights) != 0)
        return detail::removeRecord(authorization->handle);
    return errAuthorizationSuccess;
}

}  // namespace auth
