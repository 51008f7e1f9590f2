// An in-memory pasteboard for the clipboard writer's tests: it keeps the one item written last
// (promised or concrete), counts changes like the real one, and lets a test play another program
// that copies something.
#pragma once

#include "clipboard/PasteboardWriting.h"

namespace quillet::fakes {

class FakePasteboard : public PasteboardWriting {
public:
    void writePromised(const QStringList& itemTypes, std::shared_ptr<PromisedImageProvider> itemProvider) override {
        types = itemTypes;
        provider = std::move(itemProvider);
        data.clear();
        ++changes;
        ++writes;
    }
    void writeData(const QList<QPair<QString, QByteArray>>& itemData) override {
        types.clear();
        provider.reset();
        data = itemData;
        for (const auto& entry : itemData) types << entry.first;
        ++changes;
        ++writes;
    }
    qint64 changeCount() const override { return changes; }

    // Another program copies text.
    void copyFromAnotherProgram(const QString& text) {
        writeData({{QStringLiteral("text/plain"), text.toUtf8()}});
        --writes;  // not ours
    }

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
    qint64 changes = 0;
    int writes = 0;  // writes by the writer under test
};

}  // namespace quillet::fakes
