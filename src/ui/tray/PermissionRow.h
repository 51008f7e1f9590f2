// One row of the permissions guide: the permission's title and what it is for on the left,
// "Выдать" or "✓ Выдано" on the right, and below, once "Выдать" was pressed, what the user
// can do about it (Linux has no system pane to send the user to).
//
//   auto* row = new PermissionRow(title, explanation, hint, parent);
//   row->onGrant = [&] { ... };
//   row->setGranted(true);
//
// Main thread only.
#pragma once

#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;

namespace quillet {

class PermissionRow : public QWidget {
    Q_OBJECT
public:
    PermissionRow(const QString& title, const QString& explanation, const QString& hint, QWidget* parent = nullptr);

    std::function<void()> onGrant;

    void setGranted(bool granted);
    // Shows what the user can do instead of a system pane; hidden again once granted.
    void showHint();

    bool isGrantedShown() const;
    bool isHintShown() const;
    QPushButton* grantButton() const { return button; }

private:
    QPushButton* button = nullptr;
    QLabel* grantedLabel = nullptr;
    QLabel* hintLabel = nullptr;
};

}  // namespace quillet
