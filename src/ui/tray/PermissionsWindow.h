// The window "Разрешения Quillet": a line on why Quillet asks, one row for each permission,
// and a note on restarting. It only shows; the guide decides what each row says.
//
//   auto* window = new PermissionsWindow;
//   window->row(Permission::inputMonitoring)->setGranted(true);
//
// Main thread only. Deletes itself when closed.
#pragma once

#include "ui/tray/PermissionRow.h"
#include "ui/tray/PermissionsChecking.h"

#include <QWidget>

#include <map>

namespace quillet {

class PermissionsWindow : public QWidget {
    Q_OBJECT
public:
    explicit PermissionsWindow(QWidget* parent = nullptr);

    PermissionRow* row(Permission permission) const { return rows.at(permission); }

private:
    std::map<Permission, PermissionRow*> rows;
};

}  // namespace quillet
