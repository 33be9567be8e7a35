#include "authorizer.h"

#include <QString>

#include "operationcatalog.h"

namespace varno {

Authorizer::~Authorizer() {
    if (ref_ && !keep_)
        auth::AuthorizationFree(std::move(ref_), auth::kAuthorizationFlagDestroyRights);
}

auth::OSStatus Authorizer::create() {
    const auth::AuthorizationRights rights{{kAuthExecRight, "", 0}};
    auth::OSStatus status = auth::AuthorizationCreate(
        &rights, auth::kAuthorizationFlagInteractionAllowed | auth::kAuthorizationFlagExtendRights,
        &ref_);
    if (status != auth::errAuthorizationSuccess) return status;
    auth::AuthorizationExternalForm form;
    status = auth::AuthorizationMakeExternalForm(*ref_, &form);
    if (status != auth::errAuthorizationSuccess) return status;
    form_ = QByteArray(reinterpret_cast<const char*>(form.bytes.data()),
                       static_cast<qsizetype>(form.bytes.size()));
    return status;
}

QString Authorizer::statusText(auth::OSStatus status) {
    switch (status) {
        case auth::errAuthorizationDenied:
            return QStringLiteral("the right was denied");
        case auth::errAuthorizationCanceled:
            return QStringLiteral("the request was cancelled");
        case auth::errAuthorizationInteractionNotAllowed:
            return QStringLiteral("interaction is not allowed");
        case auth::errAuthorizationInternal:
            return QStringLiteral(
                "the authorization store is missing or unusable (on a fresh system root, run "
                "\"Varno authorize > /dev/null\" once as root to set it up)");
        default:
            return QStringLiteral("error %1").arg(status);
    }
}

}  // namespace varno
