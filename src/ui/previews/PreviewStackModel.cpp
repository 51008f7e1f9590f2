#include "ui/previews/PreviewStackModel.h"

#include <algorithm>

namespace quillet {

PreviewStackModel::PreviewStackModel(Duration lifetime, std::function<Instant()> now)
    : lifetimeValue(lifetime), now(std::move(now)) {}

QUuid PreviewStackModel::push(std::uint32_t screen) {
    Entry entry;
    entry.id = QUuid::createUuid();
    entry.screen = screen;
    entry.deadline = now() + lifetimeValue;
    entries.push_back(entry);
    return entry.id;
}

void PreviewStackModel::hover(const QUuid& id, bool hovering) {
    if (Entry* entry = find(id)) {
        entry->isHovered = hovering;
        updateDeadline(*entry);
    }
}

void PreviewStackModel::pin(const QUuid& id) {
    if (Entry* entry = find(id)) {
        entry->isPinned = true;
        updateDeadline(*entry);
    }
}

void PreviewStackModel::unpin(const QUuid& id) {
    if (Entry* entry = find(id)) {
        entry->isPinned = false;
        updateDeadline(*entry);
    }
}

void PreviewStackModel::renew(const QUuid& id) {
    if (Entry* entry = find(id)) {
        entry->isHovered = false;
        updateDeadline(*entry);
    }
}

bool PreviewStackModel::dragEnded(const QUuid& id, bool accepted) {
    if (!accepted) return false;
    const Entry* entry = find(id);
    if (!entry || entry->isPinned) return false;
    close(id);
    return true;
}

void PreviewStackModel::close(const QUuid& id) {
    std::erase_if(entries, [&](const Entry& entry) { return entry.id == id; });
}

bool PreviewStackModel::isPinned(const QUuid& id) const {
    const Entry* entry = find(id);
    return entry && entry->isPinned;
}

QList<QUuid> PreviewStackModel::expireDue() {
    const Instant t = now();
    QList<QUuid> due;
    std::erase_if(entries, [&](const Entry& entry) {
        if (!entry.deadline || *entry.deadline > t) return false;
        due << entry.id;
        return true;
    });
    return due;
}

std::optional<PreviewStackModel::Instant> PreviewStackModel::nextDeadline() const {
    std::optional<Instant> earliest;
    for (const Entry& entry : entries) {
        if (entry.deadline && (!earliest || *entry.deadline < *earliest)) earliest = entry.deadline;
    }
    return earliest;
}

QList<QUuid> PreviewStackModel::previews(std::uint32_t screen) const {
    QList<QUuid> ids;
    for (const Entry& entry : entries) {
        if (entry.screen == screen) ids << entry.id;
    }
    return ids;
}

std::optional<qsizetype> PreviewStackModel::slot(const QUuid& id) const {
    const Entry* entry = find(id);
    if (!entry) return std::nullopt;
    return previews(entry->screen).indexOf(id);
}

std::optional<std::uint32_t> PreviewStackModel::screen(const QUuid& id) const {
    const Entry* entry = find(id);
    if (!entry) return std::nullopt;
    return entry->screen;
}

PreviewStackModel::Entry* PreviewStackModel::find(const QUuid& id) {
    auto found = std::find_if(entries.begin(), entries.end(), [&](const Entry& entry) { return entry.id == id; });
    return found == entries.end() ? nullptr : &*found;
}

const PreviewStackModel::Entry* PreviewStackModel::find(const QUuid& id) const {
    auto found = std::find_if(entries.begin(), entries.end(), [&](const Entry& entry) { return entry.id == id; });
    return found == entries.end() ? nullptr : &*found;
}

void PreviewStackModel::updateDeadline(Entry& entry) {
    if (entry.isPinned || entry.isHovered) {
        entry.deadline.reset();
    } else {
        entry.deadline = now() + lifetimeValue;
    }
}

QPoint PreviewStackModel::origin(const QRect& area, const QList<int>& heightsBelow, int height, int margin, int spacing) {
    int below = 0;
    for (int other : heightsBelow) below += other + spacing;
    return {area.x() + margin, area.y() + area.height() - margin - below - height};
}

qsizetype PreviewStackModel::overflowCount(int available, const QList<int>& heightsOldestFirst, int keepingHeight,
                                           int margin, int spacing) {
    int need = 2 * margin + keepingHeight;
    for (int height : heightsOldestFirst) need += height + spacing;
    qsizetype count = 0;
    for (int height : heightsOldestFirst) {
        if (available >= need) break;
        need -= height + spacing;
        ++count;
    }
    return count;
}

}  // namespace quillet
