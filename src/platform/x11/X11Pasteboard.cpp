#include "platform/x11/X11Pasteboard.h"

#include <QClipboard>
#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace quillet {

namespace {

template <class T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

xcb_connection_t* x11Connection() {
    if (auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        return x11->connection();
    }
    return nullptr;
}

}  // namespace

PromisedMimeData::PromisedMimeData(QStringList types, std::shared_ptr<PromisedImageProvider> provider)
    : types(std::move(types)), provider(std::move(provider)) {}

QVariant PromisedMimeData::retrieveData(const QString& mimeType, QMetaType) const {
    if (!types.contains(mimeType)) return {};
    std::optional<QByteArray> bytes = provider->provideData(mimeType);
    if (!bytes) return {};
    return *bytes;
}

X11Pasteboard::X11Pasteboard(QClipboard* clipboard, QObject* parent) : QObject(parent), clipboard(clipboard) {
    connect(clipboard, &QClipboard::changed, this, [this](QClipboard::Mode mode) {
        if (mode == QClipboard::Clipboard) clipboardChanged();
    });
}

void X11Pasteboard::writePromised(const QStringList& types, std::shared_ptr<PromisedImageProvider> provider) {
    write(new PromisedMimeData(types, std::move(provider)));
}

void X11Pasteboard::writeData(const QList<QPair<QString, QByteArray>>& data) {
    auto* mimeData = new QMimeData;
    for (const auto& [type, bytes] : data) mimeData->setData(type, bytes);
    write(mimeData);
}

void X11Pasteboard::write(QMimeData* data) {
    // Our own write is counted here once, whether or not Qt reports it through changed().
    writing = true;
    clipboard->setMimeData(data, QClipboard::Clipboard);
    writing = false;
    ++changes;
    ownsLastWrite = true;
}

void X11Pasteboard::clipboardChanged() {
    if (writing) return;
    ++changes;
    ownsLastWrite = false;
}

qint64 X11Pasteboard::changeCount() const {
    // Another program's copy reaches Qt as a SelectionClear event that the event loop may not
    // have delivered yet (at quit it never will), so the X server is asked who owns it now.
    if (ownsLastWrite && !serverShowsOurOwner()) {
        ownsLastWrite = false;
        ++changes;
    }
    return changes;
}

bool X11Pasteboard::serverShowsOurOwner() const {
    xcb_connection_t* connection = x11Connection();
    if (!connection) return true;  // not on X11 (unit tests): only changed() can tell
    static const char name[] = "CLIPBOARD";
    Reply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, std::strlen(name), name), nullptr), &std::free);
    if (!atom || atom->atom == XCB_ATOM_NONE) return false;
    Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr), &std::free);
    if (!owner || owner->owner == XCB_NONE) return false;
    // Qt owns selections through a window of its own connection: its id carries our client's
    // resource id base.
    const xcb_setup_t* setup = xcb_get_setup(connection);
    return (owner->owner & ~setup->resource_id_mask) == setup->resource_id_base;
}

}  // namespace quillet
