#pragma once
// What a benchmark writes to the executor's standard input for one request,
// as the main application does: a fresh authorization's external form, the
// request's length and the request document.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "auth/authorization.h"
#include "contract/executor.h"
#include "plist/plist.h"

namespace bench {

// nullopt, said on standard error, when no authorization can be made (the
// benchmarks run as root).
inline std::optional<std::string> executorInput(std::string_view identifier,
                                                plist::Dictionary request = {}) {
    auth::AuthorizationRef ref;
    auth::AuthorizationExternalForm form;
    if (auth::AuthorizationCreate(nullptr, 0, &ref) != 0 ||
        auth::AuthorizationMakeExternalForm(*ref, &form) != 0) {
        std::fprintf(stderr, "cannot create an authorization (run as root)\n");
        return std::nullopt;
    }
    request[std::string(contract::kIdentifierKey)] = plist::Value(std::string(identifier));
    const std::string document = plist::writeXML(plist::Value(request));
    const std::uint64_t length = document.size();
    std::string input(form.bytes.begin(), form.bytes.end());
    input.append(reinterpret_cast<const char*>(&length), sizeof length);
    input += document;
    return input;
}

}  // namespace bench
