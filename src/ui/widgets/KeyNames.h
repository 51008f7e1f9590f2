// The modifier keys as a PC keyboard prints them ("Ctrl", "Alt", "Super", "Shift"), for the
// settings window's pop-ups and the tray menu's shortcut column alike.
#pragma once

#include "core/Types.h"

#include <QString>

namespace quillet::KeyNames {

QString title(ModifierKey key);

}  // namespace quillet::KeyNames
