// The three things Quillet needs the system to allow, and the question whether each is allowed
// right now. The guide answers it for the running application; the tray menu only asks.
//
//   if (!permissions.allGranted()) ... show "Выдать разрешения…" ...
//
// Main thread only. Asking never prompts the user.
#pragma once

#include <array>

namespace quillet {

// In the order the guide lists them.
enum class Permission { screenRecording, inputMonitoring, removableVolumes };

inline constexpr std::array<Permission, 3> allPermissions = {Permission::screenRecording, Permission::inputMonitoring,
                                                            Permission::removableVolumes};

class PermissionsChecking {
public:
    virtual ~PermissionsChecking() = default;
    virtual bool isGranted(Permission permission) const = 0;

    bool allGranted() const {
        for (const Permission permission : allPermissions) {
            if (!isGranted(permission)) return false;
        }
        return true;
    }
};

}  // namespace quillet
