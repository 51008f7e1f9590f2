// The file a preview offers when it is dragged out. Usually that is the PNG already stored in
// the history; until it exists (or when it is gone) a temporary copy of the PNG bytes is
// written under <root>/<preview UUID>/<name>, one per preview, and removed again on request.
//
//   DragFileResolver files(DragFileResolver::standardRoot());
//   files.discardAll();                                   // leftovers of an earlier run
//   std::optional<QString> path = files.file(id, stored, "Quillet ….png", [&] { return png.waitForValue(); });
//
// The root is a folder of the user's own: it is written into only when we own it and nobody else
// may enter it, and cleaned only when we own it. Clean-up works through descriptors of the
// folders it opened and never follows a symbolic link, so nothing outside the root is removed.
//
// Main thread only. Every file-system failure answers "no file" and is otherwise silent.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QUuid>

#include <functional>
#include <optional>

namespace quillet {

class DragFileResolver {
public:
    explicit DragFileResolver(QString temporaryRoot);

    // "org.quillet.Quillet-drag" in $XDG_RUNTIME_DIR; without one, in the temporary directory
    // with the uid appended ("org.quillet.Quillet-drag-1000").
    static QString standardRoot();

    // The stored file `preferred` when it exists; else this preview's earlier copy when it
    // still exists; else a new copy named `name` of the bytes `png` answers (it may block
    // until they are encoded). No file for empty bytes or when writing fails.
    std::optional<QString> file(const QUuid& id, const std::optional<QString>& preferred, const QString& name,
                                const std::function<QByteArray()>& png);
    // Removes the preview's copy with its folder; a preview without a copy touches nothing.
    void discard(const QUuid& id);
    // Forgets every copy and removes the whole root folder, when it is ours.
    void discardAll();

    const QString& temporaryRoot() const { return root; }

private:
    QString root;
    QHash<QUuid, QString> copies;
};

}  // namespace quillet
