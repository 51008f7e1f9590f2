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

    // What the store reads: the entries decoded one by one, so one bad entry, or a file cut off
    // half way, loses only what is really unreadable. Each entry is parsed on its own, so the
    // memory it takes follows the entries kept, not the length of the text.
    struct Salvaged {
        QList<Screenshot> items;  // every well-formed entry, in file order
        // Anything was wrong: a bad entry, a cut-off or garbled file, a missing key, another
        // version (whose entries are not trusted and not kept).
        bool damaged = false;
    };
    static Salvaged salvage(const QByteArray& bytes);

    friend bool operator==(const HistoryIndex&, const HistoryIndex&) = default;
};

}  // namespace quillet
