#include "platform/desktop/QtPasteboard.h"

#include <QClipboard>
#include <QGuiApplication>

#include <memory>

namespace quillet {

PromisedMimeData::PromisedMimeData(QStringList types, std::shared_ptr<PromisedImageProvider> provider)
    : types(std::move(types)), provider(std::move(provider)) {}

QVariant PromisedMimeData::retrieveData(const QString& mimeType, QMetaType) const {
    if (!types.contains(mimeType)) return {};
    std::optional<QByteArray> bytes = provider->provideData(mimeType);
    if (!bytes) return {};
    return *bytes;
}

QtPasteboard::QtPasteboard(QClipboard* clipboard, std::function<bool()> stillOwnsSelection, QObject* parent)
    : QObject(parent), clipboard(clipboard), stillOwnsSelection(std::move(stillOwnsSelection)) {
    connect(clipboard, &QClipboard::changed, this, [this](QClipboard::Mode mode) {
        if (mode == QClipboard::Clipboard) clipboardChanged();
    });
}

void QtPasteboard::writePromised(const QStringList& types, std::shared_ptr<PromisedImageProvider> provider) {
    write(new PromisedMimeData(types, std::move(provider)));
}

void QtPasteboard::writeData(const QList<QPair<QString, QByteArray>>& data) {
    auto* mimeData = new QMimeData;
    for (const auto& [type, bytes] : data) mimeData->setData(type, bytes);
    write(mimeData);
}

void QtPasteboard::write(QMimeData* data) {
    // Our own write is counted here once, whether or not Qt reports it through changed().
    writing = true;
    clipboard->setMimeData(data, QClipboard::Clipboard);
    writing = false;
    ++changes;
    ownsLastWrite = true;
}

void QtPasteboard::clipboardChanged() {
    if (writing) return;
    ++changes;
    ownsLastWrite = false;
}

qint64 QtPasteboard::changeCount() const {
    // Another program's copy may reach Qt through an event that the event loop has not
    // delivered yet (at quit it never will), so the display server is asked who owns it now.
    if (ownsLastWrite && stillOwnsSelection && !stillOwnsSelection()) {
        ownsLastWrite = false;
        ++changes;
    }
    return changes;
}

}  // namespace quillet
