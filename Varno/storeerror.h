#pragma once
// Why a store could not give or change what was asked of it. The kind is
// for choosing what to do (an exit status); the message is the person's.

#include <QString>

namespace varno {

struct StoreError {
    enum class Kind {
        None,
        NoSuchQueue,
        NoSuchConfiguration,  // the queue has no configuration of that number
        NoSuchSchedule,
        AlreadyExists,
        Unreadable,  // the domain, or an entry the change needs, cannot be used
        WriteFailed,
    };

    Kind kind = Kind::None;
    QString message;

    // The name or number the person gave does not fit what is stored; the
    // domain itself is fine.
    bool isUsageError() const {
        return kind == Kind::NoSuchQueue || kind == Kind::NoSuchConfiguration ||
               kind == Kind::NoSuchSchedule || kind == Kind::AlreadyExists;
    }
};

}  // namespace varno
