#include "ui/widgets/KeyNames.h"

namespace quillet::KeyNames {

QString title(ModifierKey key) {
    switch (key) {
    case ModifierKey::control: return QStringLiteral("Ctrl");
    case ModifierKey::option: return QStringLiteral("Alt");
    case ModifierKey::command: return QStringLiteral("Super");
    case ModifierKey::shift: return QStringLiteral("Shift");
    }
    return {};
}

}  // namespace quillet::KeyNames
