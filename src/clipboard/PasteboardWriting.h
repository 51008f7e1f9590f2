// The system clipboard as the clipboard writer sees it: one item at a time, either promised (its
// bytes produced when a program pastes) or concrete, and a change count that moves with every
// change of the contents, ours or another program's. The real one is QtPasteboard in
// platform/desktop; unit tests use FakePasteboard.
#pragma once

#include "clipboard/PromisedImageProvider.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <memory>

namespace quillet {

class PasteboardWriting {
public:
    virtual ~PasteboardWriting() = default;
    // Replaces the contents by one item offering `types`, whose bytes `provider` supplies when a
    // program pastes.
    virtual void writePromised(const QStringList& types, std::shared_ptr<PromisedImageProvider> provider) = 0;
    // Replaces the contents by one item carrying these bytes, type by type, in this order.
    virtual void writeData(const QList<QPair<QString, QByteArray>>& data) = 0;
    // Read right after a write, it identifies that write; any later change makes it differ.
    virtual qint64 changeCount() const = 0;
};

}  // namespace quillet
