// An in-memory pasteboard for the clipboard writer's tests: it keeps the one item written last
// (promised or concrete) and counts changes like the real one.
#pragma once

#include "clipboard/PasteboardWriting.h"

namespace quillet::fakes {

class FakePasteboard : public PasteboardWriting {
public:
    void writePromised(const QStringList& itemTypes, std::shared_ptr<PromisedImageProvider> itemProvider) override {
        types = itemTypes;
        provider = std::move(itemProvider);
        data.clear();
        ++writes;
    }
    void writeData(const QList<QPair<QString, QByteArray>>& itemData) override {
        types.clear();
        provider.reset();
        data = itemData;
        for (const auto& entry : itemData) types << entry.first;
        ++writes;
    }
    qint64 changeCount() const override { return writes; }

    // What a program pasting `type` would get.
    std::optional<QByteArray> paste(const QString& type) const {
        if (provider) return types.contains(type) ? provider->provideData(type) : std::nullopt;
        for (const auto& entry : data) {
            if (entry.first == type) return entry.second;
        }
        return std::nullopt;
    }

    QStringList types;
    std::shared_ptr<PromisedImageProvider> provider;  // present while the item is a promise
    QList<QPair<QString, QByteArray>> data;           // the concrete item
    int writes = 0;
};

}  // namespace quillet::fakes
