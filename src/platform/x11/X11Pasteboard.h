// The CLIPBOARD selection through QClipboard. A promise is a QMimeData whose retrieveData()
// asks the provider for the bytes only when a program pastes; concrete data is a plain
// QMimeData, which Qt hands to a running clipboard manager when the application exits.
//
//   X11Pasteboard pasteboard(QGuiApplication::clipboard());
//   ClipboardWriter clipboard(pasteboard);
//
// Main thread only. Paste requests arrive on the main thread and wait there for the bytes,
// which are encoded on the thread pool: the capture's PNG, and the item's one TIFF, made at the
// first TIFF request and served to every later one.
#pragma once

#include "clipboard/PasteboardWriting.h"

#include <QMimeData>
#include <QObject>

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

class X11Pasteboard : public QObject, public PasteboardWriting {
    Q_OBJECT
public:
    explicit X11Pasteboard(QClipboard* clipboard, QObject* parent = nullptr);

    void writePromised(const QStringList& types, std::shared_ptr<PromisedImageProvider> provider) override;
    void writeData(const QList<QPair<QString, QByteArray>>& data) override;
    // This process's own count of clipboard changes: one per write of ours, one more when
    // another program (or another part of Quillet) replaces the contents.
    qint64 changeCount() const override;

private:
    void write(QMimeData* data);
    void clipboardChanged();
    bool serverShowsOurOwner() const;

    QClipboard* clipboard;
    mutable qint64 changes = 0;
    mutable bool ownsLastWrite = false;
    bool writing = false;
};

}  // namespace quillet
