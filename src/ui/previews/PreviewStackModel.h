// The rules behind the floating previews: which previews exist, on which display, in which
// order, where each one sits, and when each one goes away by itself. No windows and no timers: the preview stack
// owns those, asks for `nextDeadline()` and calls `expireDue()` when it is reached.
//
//   PreviewStackModel model(PreviewStackModel::defaultLifetime, [] { return steady_clock::now(); });
//   QUuid id = model.push(screen);     // expires 6 s from now...
//   model.hover(id, true);             // ...unless the pointer is over it
//
// Main thread only. Every operation ignores an id that no preview has.
#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QUuid>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace quillet {

class PreviewStackModel {
public:
    using Clock = std::chrono::steady_clock;
    using Instant = Clock::time_point;
    using Duration = Clock::duration;

    static constexpr Duration defaultLifetime = std::chrono::seconds(6);

    PreviewStackModel(Duration lifetime, std::function<Instant()> now);

    // A new preview on display `screen`, counting down from now.
    QUuid push(std::uint32_t screen);
    // Hovering holds a preview; leaving it starts a full new lifetime (unless pinned).
    void hover(const QUuid& id, bool hovering);
    void pin(const QUuid& id);
    void unpin(const QUuid& id);
    // Forgets the hover and starts a full new lifetime (unless pinned): used when the preview
    // is replaced by an edited image.
    void renew(const QUuid& id);
    // True when the drop was accepted and the preview is thereby used up (removed). A pinned
    // preview stays, and so does every preview after a refused drop.
    bool dragEnded(const QUuid& id, bool accepted);
    void close(const QUuid& id);

    bool isPinned(const QUuid& id) const;
    // Removes the previews whose deadline has come (a deadline equal to now counts) and returns
    // them, oldest first.
    QList<QUuid> expireDue();
    std::optional<Instant> nextDeadline() const;
    // The previews of one display, oldest first.
    QList<QUuid> previews(std::uint32_t screen) const;
    // The position of `id` within previews() of its own display, 0 for the oldest.
    std::optional<qsizetype> slot(const QUuid& id) const;
    std::optional<std::uint32_t> screen(const QUuid& id) const;
    bool isEmpty() const { return entries.empty(); }

    Duration lifetime() const { return lifetimeValue; }

    // Where a panel of height `height` goes in the visible frame `area`, above the panels of
    // `heightsBelow` (older previews of the same display), `margin` from the frame's bottom-left
    // corner and `spacing` apart: its top-left corner.
    static QPoint origin(const QRect& area, const QList<int>& heightsBelow, int height, int margin, int spacing);
    // How many of the oldest panels (`heightsOldestFirst`) must go so that they and a new panel
    // of `keepingHeight` fit in `available` points between two margins.
    static qsizetype overflowCount(int available, const QList<int>& heightsOldestFirst, int keepingHeight, int margin,
                                   int spacing);

private:
    struct Entry {
        QUuid id;
        std::uint32_t screen = 0;
        std::optional<Instant> deadline;
        bool isPinned = false;
        bool isHovered = false;
    };

    Entry* find(const QUuid& id);
    const Entry* find(const QUuid& id) const;
    // Keeps the rule "held (pinned or hovered) means no deadline" after every change.
    void updateDeadline(Entry& entry);

    Duration lifetimeValue;
    std::function<Instant()> now;
    std::vector<Entry> entries;  // oldest first
};

}  // namespace quillet
