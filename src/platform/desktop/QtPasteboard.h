// The clipboard through QClipboard, on any display server Qt talks to. A promise is a QMimeData whose retrieveData()
// asks the provider for the bytes only when a program pastes; concrete data is a plain
// QMimeData, which Qt hands to a running clipboard manager when the application exits.
//
//   QtPasteboard pasteboard(QGuiApplication::clipboard(), ownsSelection);
//   ClipboardWriter clipboard(pasteboard);
//
// Main thread only. Paste requests arrive on the main thread and wait there for the bytes,
// which are encoded on the thread pool: the capture's PNG, and the item's one TIFF, made at the
// first TIFF request and served to every later one.
#pragma once

#include "clipboard/PasteboardWriting.h"

#include <QMimeData>
#include <QObject>

#include <functional>

class QClipboard;

namespace quillet {

// One promised item: offers `types` and produces their bytes on request.
class PromisedMimeData : public QMimeData {
    Q_OBJECT
public:
    PromisedMimeData(QStringList types, std::shared_ptr<PromisedImageProvider> provider);

    QStringList formats() const override { return types; }
    bool hasFormat(const QString& mimeType) const override { return types.contains(mimeType); }

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    QStringList types;
    std::shared_ptr<PromisedImageProvider> provider;
};

class QtPasteboard : public QObject, public PasteboardWriting {
    Q_OBJECT
public:
    // `stillOwnsSelection` asks the display server whether our last write still holds the
    // clipboard; without it only Qt's change signal tells.
    explicit QtPasteboard(QClipboard* clipboard, std::function<bool()> stillOwnsSelection = {},
                          QObject* parent = nullptr);

    void writePromised(const QStringList& types, std::shared_ptr<PromisedImageProvider> provider) override;
    void writeData(const QList<QPair<QString, QByteArray>>& data) override;
    // This process's own count of clipboard changes: one per write of ours, one more when
    // another program (or another part of Quillet) replaces the contents.
    qint64 changeCount() const override;

private:
    void write(QMimeData* data);
    void clipboardChanged();

    QClipboard* clipboard;
    std::function<bool()> stillOwnsSelection;
    mutable qint64 changes = 0;
    mutable bool ownsLastWrite = false;
    bool writing = false;
};

}  // namespace quillet
