// The names of the history's own files: "Quillet " + the creation time as
// "yyyy-MM-dd в HH.mm.ss" in the store's time zone + ".png", and " (n)" before the extension
// when that name is taken. The store names new screenshots with it, expiry recognises its own
// files by it (files of any other name are never expired), the transfer and the store pick free
// names with it, and a preview names the file it offers before the history has stored one.
//
//   HistoryFileName::make(createdAt, zone)        // "Quillet 2025-03-07 в 14.05.09.png"
//   HistoryFileName::isOwn(u"Quillet 2025-03-07 в 14.05.09 (2).png")   // true
//   HistoryFileName::firstFree(name, [&](const QString& n) { return taken(n); });
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringView>
#include <QTimeZone>

#include <functional>
#include <optional>

namespace quillet::HistoryFileName {

// The whole name of one of our own files must match this (anchored at both ends).
inline constexpr QStringView pattern{u"Quillet \\d{4}-\\d{2}-\\d{2} в \\d{2}\\.\\d{2}\\.\\d{2}( \\(\\d+\\))?\\.png"};

// The fields of one of our own names. The digits are taken as written: "2025-13-45" is still
// our name (the pattern does not judge dates), so they are numbers, not a QDate.
struct Parts {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    // The n of " (n)"; absent for the first file of a second. Saturates for absurd lengths.
    std::optional<qint64> copy;
};

// "Quillet 2025-03-07 в 14.05.09", the stem before the extension and any " (n)".
QString base(const QDateTime& createdAt, const QTimeZone& zone);
// base + ".png".
QString make(const QDateTime& createdAt, const QTimeZone& zone);
// Exactly when the whole name matches `pattern`; written out because expiry looks at every
// item of a long history.
std::optional<Parts> parse(QStringView name);
inline bool isOwn(QStringView name) { return parse(name).has_value(); }
// `name` when not taken; otherwise stem + " (k)" + extension for the first k = 2, 3, … that is
// not taken (stem and extension split at the last dot).
QString firstFree(const QString& name, const std::function<bool(const QString&)>& taken);

}  // namespace quillet::HistoryFileName
