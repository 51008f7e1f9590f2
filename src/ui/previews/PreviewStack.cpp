#include "ui/previews/PreviewStack.h"

#include "core/Async.h"
#include "history/HistoryFileName.h"
#include "ui/previews/PreviewPanel.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QPainter>
#include <QScreen>
#include <QSet>
#include <QUrl>

#include <cmath>

namespace quillet {

namespace {

using namespace std::chrono_literals;

// A preview keeps its thumbnail and the PNG (which copying again and dragging out serve), never
// the full pixels: a few previews of 4K captures would otherwise hold a frame each.
CapturedImage withoutPixels(const CapturedImage& image) {
    return CapturedImage{QImage(), image.screenID, image.kind};
}

// Paths arrive as plain paths; a file URL is accepted too.
QString localPath(const QString& pathOrURL) {
    if (pathOrURL.startsWith(QLatin1String("file:"))) return QUrl(pathOrURL).toLocalFile();
    return pathOrURL;
}

}  // namespace

PreviewStack::PreviewStack(ClipboardWriting& clipboard, Desktop desktop, const QString& dragRoot, QObject* parent)
    : QObject(parent),
      revealInFileManager([&files = desktop.fileManager](const QString& path) { files.reveal(path); }),
      clipboard(clipboard),
      desktop(desktop),
      model(PreviewStackModel::defaultLifetime, [] { return PreviewStackModel::Clock::now(); }),
      dragFiles(dragRoot) {
    expiryTimer.setSingleShot(true);
    expiryTimer.setTimerType(Qt::PreciseTimer);
    connect(&expiryTimer, &QTimer::timeout, this, &PreviewStack::expire);
    dragFiles.discardAll();
    // Cards turn round and translucent, or square and opaque, as a compositing manager comes
    // and goes.
    connect(&desktop.compositor, &CompositorWatching::compositingChanged, this, [this](bool running) {
        for (const Item& item : std::as_const(items)) {
            if (item.panel) item.panel->setRoundedCard(running);
        }
    });
}

PreviewStack::~PreviewStack() {
    for (const Item& item : std::as_const(items)) delete item.panel.data();
}

void PreviewStack::warmUp() {
    QImage tiny(8, 8, QImage::Format_ARGB32_Premultiplied);
    tiny.fill(Qt::gray);
    auto* panel = new PreviewPanel(thumbnail(tiny), desktop.compositor.compositingManagerRunning());
    panel->content()->grab();  // loads fonts and glyphs and paints once, off screen
    panel->closeNow();
}

QImage PreviewStack::thumbnail(const QImage& image) {
    const int longer = std::max(image.width(), image.height());
    if (longer <= thumbnailMaxPixels) return image;
    const double scale = double(thumbnailMaxPixels) / longer;
    const auto side = [scale](int length) { return std::max(1, static_cast<int>(std::lround(length * scale))); };
    const QImage scaled = image.scaled(side(image.width()), side(image.height()), Qt::IgnoreAspectRatio,
                                       Qt::SmoothTransformation);
    if (scaled.isNull()) return image;
    return scaled.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QString PreviewStack::fileName(const QDateTime& takenAt) {
    return HistoryFileName::make(takenAt, QTimeZone::systemTimeZone());
}

PreviewPanel* PreviewStack::panel(const QUuid& id) const {
    auto found = items.constFind(id);
    return found == items.constEnd() ? nullptr : found->panel.data();
}

// ---- showing -------------------------------------------------------------------------------------

QUuid PreviewStack::show(const CapturedImage& image, const PNGFuture& png) {
    const QUuid id = model.push(image.screenID);
    PreviewPanel* panel = makePanel(id);
    items.insert(id, Item{panel, withoutPixels(image), png, QDateTime::currentDateTime(), std::nullopt, std::nullopt});
    requestThumbnail(panel, image.image);
    evictOverflow(image.screenID, id);
    place(id, false);
    panel->fadeIn(fadeInDuration);
    scheduleExpiry();
    return id;
}

void PreviewStack::attach(const Screenshot& screenshot, const QString& fileURL, const QUuid& previewID) {
    auto item = items.find(previewID);
    if (item == items.end()) return;
    item->screenshot = screenshot;
    item->recordedFileURL = localPath(fileURL);
    if (item->panel) item->panel->setEditEnabled(static_cast<bool>(onEdit));
}

void PreviewStack::showNotSaved(const QString& message, const QUuid& previewID) {
    auto item = items.find(previewID);
    if (item == items.end() || !item->panel) return;
    item->panel->showWarning(message);
}

QUuid PreviewStack::showEdited(const CapturedImage& image, const PNGFuture& png, const QUuid& sourceID) {
    auto found = std::find_if(items.begin(), items.end(),
                              [&](const Item& item) { return item.screenshot && item.screenshot->id == sourceID; });
    if (found == items.end()) return show(image, png);
    const QUuid id = found.key();

    PreviewPanel* old = found->panel;
    PreviewPanel* panel = makePanel(id);
    if (old) {
        panel->move(old->pos());
        panel->show();
        old->clearCallbacks();
        old->closeNow();
    } else {
        panel->fadeIn(fadeInDuration);
    }
    dragFiles.discard(id);

    const std::uint32_t screenID = found->captured.screenID;
    *found = Item{panel, withoutPixels(CapturedImage{image.image, screenID, image.kind}), png,
                  QDateTime::currentDateTime(), std::nullopt, std::nullopt};
    requestThumbnail(panel, image.image);
    // The old panel may have been on its way to its place.
    place(id, true);

    model.renew(id);
    panel->setPinned(model.isPinned(id));
    scheduleExpiry();
    return id;
}

bool PreviewStack::eventFilter(QObject* watched, QEvent* event) {
    // A top-level widget hears of its show before its native window is mapped.
    if (event->type() == QEvent::Show) {
        if (auto* panel = qobject_cast<PreviewPanel*>(watched)) desktop.styling.preparePanel(panel->windowHandle());
    }
    return QObject::eventFilter(watched, event);
}

PreviewPanel* PreviewStack::makePanel(const QUuid& id) {
    auto* panel = new PreviewPanel(QImage(), desktop.compositor.compositingManagerRunning());
    // Before every map, not only the first: a window manager drops a window's states when it is
    // unmapped (a capture withdraws our windows for its grab), and Qt maps it again with its own
    // states only, which would put the card in the task bar.
    panel->installEventFilter(this);
    PreviewActions& actions = panel->actions();
    const QPointer<PreviewStack> self(this);
    actions.onHover = [self, id](bool hovering) {
        if (self) self->hoverChanged(id, hovering);
    };
    actions.onCopy = [self, id] {
        if (self) self->copy(id);
    };
    actions.onEdit = [self, id] {
        if (self) self->edit(id);
    };
    actions.onClose = [self, id] {
        if (self) self->close(id);
    };
    actions.onTogglePin = [self, id] {
        if (self) self->togglePin(id);
    };
    actions.onShowInFileManager = [self, id] {
        if (self) self->showInFileManager(id);
    };
    actions.onDragEnded = [self, id](bool accepted) {
        if (self) self->dragEnded(id, accepted);
    };
    actions.historyFileExists = [self, id] { return self && self->existingHistoryFile(id).has_value(); };
    actions.dragFile = [self, id]() -> std::optional<QString> {
        if (!self) return std::nullopt;
        return self->fileForDrag(id);
    };
    return panel;
}

void PreviewStack::requestThumbnail(PreviewPanel* panel, const QImage& image) {
    // Scaling a large capture takes a few milliseconds: the card shows at once and the picture
    // follows. A panel that is gone by then is simply skipped.
    // The stack, not the panel, is the continuation's context: a panel may be deleted while the
    // pool thread that finished the thumbnail is handing the result over, and Qt 6.4 reads the
    // context at that moment. The panel itself is only looked at on the main thread.
    runInBackground([image] { return thumbnail(image); }).then(this, [panel = QPointer<PreviewPanel>(panel)](QImage small) {
        if (panel) panel->setThumbnail(small);
    });
}

// ---- placement -----------------------------------------------------------------------------------

QScreen* PreviewStack::screenFor(std::uint32_t screenID) const {
    if (QScreen* screen = desktop.displays.screenWithID(screenID)) return screen;
    return QGuiApplication::primaryScreen();
}

int PreviewStack::panelHeight(const QUuid& id) const {
    const PreviewPanel* panel = this->panel(id);
    return panel ? panel->height() : 0;
}

void PreviewStack::place(const QUuid& id, bool animated) {
    auto item = items.constFind(id);
    if (item == items.constEnd() || !item->panel) return;
    const QScreen* screen = screenFor(item->captured.screenID);
    if (!screen) return;  // no display at all: the panel stays where it is
    const QRect area = desktop.workArea.visibleFrame(screen);
    QList<int> heights;
    for (const QUuid& other : model.previews(item->captured.screenID)) {
        if (other == id) break;
        if (items.contains(other)) heights << panelHeight(other);
    }
    PreviewPanel* panel = item->panel;
    const QPoint topLeft = PreviewStackModel::origin(area, heights, panel->height(), outerMargin, spacing);
    panel->moveTo(topLeft, animated ? relayoutDuration : 0ms);
}

void PreviewStack::layout(std::uint32_t screenID, bool animated) {
    for (const QUuid& id : model.previews(screenID)) place(id, animated);
}

void PreviewStack::evictOverflow(std::uint32_t screenID, const QUuid& keeping) {
    const QScreen* screen = screenFor(screenID);
    if (!screen) return;
    const int available = desktop.workArea.visibleFrame(screen).height();
    QList<QUuid> others = model.previews(screenID);
    others.removeAll(keeping);
    QList<int> heights;
    for (const QUuid& other : std::as_const(others)) heights << panelHeight(other);

    // Pinned previews are not spared: a capture the user just took matters more.
    const qsizetype count =
        PreviewStackModel::overflowCount(available, heights, panelHeight(keeping), outerMargin, spacing);
    const QList<QUuid> evicted = others.first(count);
    for (const QUuid& oldest : evicted) model.close(oldest);
    dismiss(evicted);
}

void PreviewStack::dismiss(const QList<QUuid>& ids, std::optional<std::chrono::milliseconds> keepDragFileFor) {
    QSet<std::uint32_t> screens;
    for (const QUuid& id : ids) {
        auto found = items.find(id);
        if (found == items.end()) continue;
        const Item item = *found;
        items.erase(found);
        screens.insert(item.captured.screenID);
        if (keepDragFileFor) {
            // The destination may read the file some time after the drop.
            QTimer::singleShot(*keepDragFileFor, this, [this, id] { dragFiles.discard(id); });
        } else {
            dragFiles.discard(id);
        }
        if (item.panel) {
            item.panel->clearCallbacks();
            item.panel->fadeOutAndClose(fadeOutDuration);
        }
    }
    for (std::uint32_t screen : std::as_const(screens)) layout(screen, true);
}

// ---- expiry --------------------------------------------------------------------------------------

void PreviewStack::scheduleExpiry() {
    expiryTimer.stop();
    const auto deadline = model.nextDeadline();
    if (!deadline) return;
    const auto remaining = *deadline - PreviewStackModel::Clock::now();
    // Rounded up, so the timer never wakes before the deadline.
    const auto wait = std::max(0ms, std::chrono::ceil<std::chrono::milliseconds>(remaining));
    expiryTimer.start(wait);
}

void PreviewStack::expire() {
    dismiss(model.expireDue());
    scheduleExpiry();
}

// ---- what the user does on a panel -----------------------------------------------------------

void PreviewStack::hoverChanged(const QUuid& id, bool hovering) {
    model.hover(id, hovering);
    scheduleExpiry();
}

void PreviewStack::copy(const QUuid& id) {
    auto item = items.constFind(id);
    if (item == items.constEnd()) return;
    clipboard.put(item->captured, item->png);
    if (item->panel) item->panel->setCopyTitle(QStringLiteral("Скопировано"));
}

void PreviewStack::edit(const QUuid& id) {
    auto item = items.constFind(id);
    // A capture that is not stored yet has nothing the editor could open.
    if (item == items.constEnd() || !item->screenshot || !onEdit) return;
    const auto open = onEdit;
    open(*item->screenshot);
}

void PreviewStack::close(const QUuid& id) {
    model.close(id);
    dismiss({id});
    scheduleExpiry();
}

void PreviewStack::togglePin(const QUuid& id) {
    if (model.isPinned(id)) {
        model.unpin(id);
    } else {
        model.pin(id);
    }
    if (PreviewPanel* panel = this->panel(id)) panel->setPinned(model.isPinned(id));
    scheduleExpiry();
}

void PreviewStack::showInFileManager(const QUuid& id) {
    const auto file = existingHistoryFile(id);
    if (file && revealInFileManager) revealInFileManager(*file);
}

void PreviewStack::dragEnded(const QUuid& id, bool accepted) {
    if (!model.dragEnded(id, accepted)) return;
    dismiss({id}, draggedFileLifetime);
    scheduleExpiry();
}

std::optional<QString> PreviewStack::storedFileCandidate(const Item& item) const {
    std::optional<QString> candidate;
    if (item.screenshot && historyFileURL) {
        candidate = localPath(historyFileURL(*item.screenshot));
    } else {
        candidate = item.recordedFileURL;
    }
    if (candidate && candidate->isEmpty()) candidate.reset();
    return candidate;
}

std::optional<QString> PreviewStack::existingHistoryFile(const QUuid& id) const {
    auto item = items.constFind(id);
    if (item == items.constEnd()) return std::nullopt;
    auto candidate = storedFileCandidate(*item);
    if (!candidate || !QFileInfo(*candidate).isFile()) return std::nullopt;
    return candidate;
}

std::optional<QString> PreviewStack::fileForDrag(const QUuid& id) {
    auto item = items.constFind(id);
    if (item == items.constEnd()) return std::nullopt;
    const QString name = item->screenshot ? item->screenshot->fileName : fileName(item->takenAt);
    const PNGFuture png = item->png;
    return dragFiles.file(id, storedFileCandidate(*item), name, [png] { return png.waitForValue(); });
}

}  // namespace quillet
