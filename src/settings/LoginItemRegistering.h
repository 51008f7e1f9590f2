// The desktop's record of programs started at login, as far as Quillet needs it: whether this
// application is in it, and putting it in or taking it out, either of which can fail.
#pragma once

#include "core/Expected.h"

#include <QString>

namespace quillet {

enum class LoginItemStatus {
    enabled,
    requiresApproval,  // registered, but the system waits for the user to allow it
    notRegistered,
};

struct LoginItemError {
    QString description;  // what went wrong, for the log
    friend bool operator==(const LoginItemError&, const LoginItemError&) = default;
};

class LoginItemRegistering {
public:
    virtual ~LoginItemRegistering() = default;

    virtual LoginItemStatus status() const = 0;
    // Named so because `register` is a reserved word.
    virtual Expected<void, LoginItemError> registerItem() = 0;
    virtual Expected<void, LoginItemError> unregisterItem() = 0;
};

}  // namespace quillet
