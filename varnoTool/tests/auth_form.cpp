// Creates an authorization for the calling user and writes its 32-byte
// external form to standard output; the tests present it from other users.
#include <unistd.h>

#include <cstdio>

#include "auth/authorization.h"

int main() {
    auth::AuthorizationRef ref;
    auth::OSStatus status = auth::AuthorizationCreate(nullptr, auth::kAuthorizationFlagDefaults, &ref);
    if (status != 0) {
        fprintf(stderr, "AuthorizationCreate: %d\n", status);
        return 1;
    }
    auth::AuthorizationExternalForm form;
    if (auth::AuthorizationMakeExternalForm(*ref, &form) != 0) return 1;
    if (write(1, form.bytes.data(), form.bytes.size()) != static_cast<ssize_t>(form.bytes.size()))
        return 1;
    // Freeing the reference keeps the record: another process presents it.
    return 0;
}
