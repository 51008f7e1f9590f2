#include "clipboard/ClipboardWriter.h"

namespace quillet {

ClipboardWriter::ClipboardWriter(PasteboardWriting& pasteboard) : pasteboard(pasteboard) {}

void ClipboardWriter::put(const CapturedImage&, const PNGFuture& png) {
    auto provider = std::make_shared<PromisedImageProvider>(png, onProviderRequest);
    pasteboard.writePromised(PasteboardType::promised(), provider);
    current = Current{std::move(provider), pasteboard.changeCount()};
}

void ClipboardWriter::resolvePendingPromises() {
    // Another program's copy stays; `current` is simply stale from then on.
    if (!holdsPromise()) return;
    QList<QPair<QString, QByteArray>> data;
    for (const QString& type : PasteboardType::promised()) {
        if (std::optional<QByteArray> bytes = current->provider->data(type)) data.append({type, *bytes});
    }
    pasteboard.writeData(data);
    current.reset();
}

bool ClipboardWriter::holdsPromise() const { return current && pasteboard.changeCount() == current->changeCount; }

}  // namespace quillet
