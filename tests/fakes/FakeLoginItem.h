// A login item that remembers its status, counts the calls and fails when told to.
#pragma once

#include "settings/LoginItemRegistering.h"

#include <optional>

namespace quillet::fakes {

class FakeLoginItem : public LoginItemRegistering {
public:
    LoginItemStatus status() const override { return current; }
    Expected<void, LoginItemError> registerItem() override {
        ++registrations;
        if (failure) return unexpected(*failure);
        current = LoginItemStatus::enabled;
        return {};
    }
    Expected<void, LoginItemError> unregisterItem() override {
        ++unregistrations;
        if (failure) return unexpected(*failure);
        current = LoginItemStatus::notRegistered;
        return {};
    }

    LoginItemStatus current = LoginItemStatus::notRegistered;
    std::optional<LoginItemError> failure;  // every register and unregister fails with it
    int registrations = 0;
    int unregistrations = 0;
};

}  // namespace quillet::fakes
