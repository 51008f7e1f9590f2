// What the user does to a preview card, reported to whoever owns the panel (the preview stack).
// Every callback is optional; a panel on its way out has them all cleared.
#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace quillet {

struct PreviewActions {
    std::function<void(bool)> onHover;
    std::function<void()> onCopy;
    std::function<void()> onEdit;
    std::function<void()> onClose;
    std::function<void()> onTogglePin;
    std::function<void()> onShowInFileManager;
    std::function<void(bool)> onDragEnded;  // true: the destination took the file
    // The file a drag offers; nullopt starts no drag.
    std::function<std::optional<QString>()> dragFile;
    // Whether the stored file exists, asked each time the pointer enters the card.
    std::function<bool()> historyFileExists;
};

}  // namespace quillet
