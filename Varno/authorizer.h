#pragma once
// The caller's side of authorization: a fresh authorization holding the
// right to run the executor, and its 32-byte external form.

#include <QByteArray>

#include "auth/authorization.h"

namespace varno {

class Authorizer {
  public:
    Authorizer() = default;
    ~Authorizer();
    Authorizer(const Authorizer&) = delete;
    Authorizer& operator=(const Authorizer&) = delete;

    // Creates the authorization and obtains "com.kvxlabs.Varno.authExec".
    // Returns the authorization's status (0 when granted).
    auth::OSStatus create();
    QByteArray externalForm() const { return form_; }
    // Leaves the authorization's record in place when this object goes, for
    // a form handed to another program; otherwise it is destroyed with it.
    void keep() { keep_ = true; }

    static QString statusText(auth::OSStatus status);

  private:
    auth::AuthorizationRef ref_;
    QByteArray form_;
    bool keep_ = false;
};

}  // namespace varno
