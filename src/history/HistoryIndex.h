// The record kept in the history folder's index file: every stored screenshot, newest first.
// Its file form is fixed: one compact JSON object with sorted keys, version 1,
//
//   {"items":[{"createdAt":"2025-03-07T11:05:09Z","fileName":"Quillet 2025-03-07 в 14.05.09.png",
//              "id":"…","kind":"region","pixelSize":[1920,1080]}],"version":1}
//
// A file of any other version is treated as unreadable, so the store rebuilds it.
#pragma once

#include "core/Types.h"

#include <QByteArray>
#include <QList>

namespace quillet {

struct HistoryIndex {
    static constexpr std::int64_t currentVersion = 1;

    std::int64_t version = currentVersion;
    QList<Screenshot> items;

    QByteArray encoded() const;
    // Fails for anything but a well-formed version 1 index.
    static Decoded<HistoryIndex> decode(const QByteArray& bytes);

    friend bool operator==(const HistoryIndex&, const HistoryIndex&) = default;
};

}  // namespace quillet
