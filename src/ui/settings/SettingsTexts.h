// The Russian words of the settings window that depend on a value: the titles of the pop-up
// items, the phrase that counts screenshots, and what a folder or move error means to the user.
//
//   countPhrase(21)                                  // "21 снимок"
//   explanation(HistoryError::notEnoughSpace())      // "Не хватает места на диске."
#pragma once

#include "core/Types.h"
#include "history/HistoryError.h"

#include <QString>

namespace quillet::SettingsTexts {

// The key as printed on a PC keyboard: "Ctrl", "Alt", "Super", "Shift".
QString keyTitle(ModifierKey key);
// "Любая", "Левая", "Правая".
QString sideTitle(KeySide side);
// "7 дней", "Всегда"; a day count outside the regular choices is "45 дн.".
QString retentionTitle(const RetentionPolicy& policy, bool regularChoice);

// The number and the fitting plural of "снимок": "1 снимок", "3 снимка", "11 снимков".
QString countPhrase(qint64 count);
// "Будет удалено 5 снимков. Удалить?"
QString deletionQuestion(qint64 count);

// One sentence about why a folder cannot take the history or why a move failed.
QString explanation(const HistoryError& error);

}  // namespace quillet::SettingsTexts
