#include "ui/history/HistoryWindowController.h"

#include "core/Async.h"
#include "core/Logging.h"
#include "core/PNGFuture.h"
#include "ui/history/HistoryCollectionView.h"
#include "ui/history/HistoryListModel.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace quillet {

namespace {

// What a copy reads: the file's bytes and the image they hold, or nothing when the file is
// missing, empty or not a PNG.
struct StoredPNG {
    QByteArray bytes;
    QImage image;
};

std::optional<StoredPNG> readStoredPNG(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    StoredPNG png{file.readAll(), {}};
    // The bytes go to the clipboard as image/png unchanged, so they must really be PNG.
    png.image = QImage::fromData(png.bytes, "PNG");
    if (png.image.isNull()) return std::nullopt;
    return png;
}

}  // namespace

HistoryWindowController::HistoryWindowController(Services services, QObject* parent)
    : QObject(parent), services(services) {}

HistoryWindowController::~HistoryWindowController() {
    stopObservingStore();
    delete window.data();
}

const QList<Screenshot>& HistoryWindowController::items() const {
    static const QList<Screenshot> none;
    return model ? model->items() : none;
}

QMessageBox* HistoryWindowController::failureAlert() const { return alert.data(); }

void HistoryWindowController::show() {
    if (window) {
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        window->show();
        window->raise();
        window->activateWindow();
        return;
    }
    opening = Signposts::begin(Signposts::openHistory);
    closePending = false;
    build();
    observeStore();
    window->show();
    window->raise();
    window->activateWindow();
    // The first load of the folder announces itself through the change signal; asking after
    // it finished also covers a store that was loaded before the window opened.
    runOnMainThread(this, [this] {
        if (!window) return;
        services.store.load().then(this, [this] {
            if (window) reload();
        });
    });
}

void HistoryWindowController::build() {
    window = new QWidget(nullptr, Qt::Window);
    window->setWindowTitle(QStringLiteral("История"));
    window->resize(initialSize);
    window->setMinimumSize(minimumSize);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), initialSize);
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }

    model = new HistoryListModel(window);
    model->fileURL = [store = &services.store](const Screenshot& screenshot) { return store->fileURL(screenshot); };
    grid = new HistoryCollectionView(services.store, window);
    grid->setHistoryModel(model);
    grid->onOpen = [this] { openSelected(); };
    grid->onCopy = [this] { copySelected(); };
    grid->onDelete = [this] { deleteSelected(); };
    grid->onShowInFileManager = [this] { showSelectedInFileManager(); };
    grid->onCloseRequest = [this] { close(); };

    empty = new QLabel(QStringLiteral("Здесь появятся ваши снимки"), window);
    empty->setAlignment(Qt::AlignCenter);
    QPalette secondary = empty->palette();
    QColor text = secondary.color(QPalette::WindowText);
    text.setAlphaF(0.55f);
    secondary.setColor(QPalette::WindowText, text);
    empty->setPalette(secondary);
    empty->setAttribute(Qt::WA_TransparentForMouseEvents);

    auto* layout = new QGridLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(grid, 0, 0);
    layout->addWidget(empty, 0, 0, Qt::AlignCenter);

    model->setItems(services.store.all());
    updateEmptyLabel();
    grid->setFocus();

    window->installEventFilter(this);
    grid->viewport()->installEventFilter(this);
}

// The one place that listens to the store: every change announcement runs a reload.
void HistoryWindowController::observeStore() {
    changeObserver = connect(&services.store, &HistoryStoring::historyDidChange, this, &HistoryWindowController::reload,
                             Qt::QueuedConnection);
}

void HistoryWindowController::stopObservingStore() { disconnect(changeObserver); }

void HistoryWindowController::reload() {
    if (!model) return;
    QList<Screenshot> current = services.store.all();
    if (!deleting.isEmpty()) {
        current.removeIf([this](const Screenshot& screenshot) { return deleting.contains(screenshot.id); });
    }
    if (current == model->items()) return;
    const std::optional<Screenshot> kept = selected();
    model->setItems(current);
    if (kept) {
        if (const std::optional<int> row = model->rowOf(kept->id)) grid->selectRow(*row);
    }
    updateEmptyLabel();
}

void HistoryWindowController::updateEmptyLabel() {
    if (empty) empty->setVisible(model->rowCount() == 0);
}

std::optional<Screenshot> HistoryWindowController::selected() const {
    if (!grid) return std::nullopt;
    const std::optional<int> row = grid->selectedRow();
    if (!row) return std::nullopt;
    return model->at(*row);
}

void HistoryWindowController::openSelected() {
    const std::optional<Screenshot> screenshot = selected();
    if (screenshot && onOpenInEditor) onOpenInEditor(*screenshot);
}

void HistoryWindowController::copySelected() {
    const std::optional<Screenshot> screenshot = selected();
    if (!screenshot) return;
    const QString path = services.store.fileURL(*screenshot);
    runInBackground([path] { return readStoredPNG(path); }).then(this, [this](const std::optional<StoredPNG>& png) {
        if (!png) {
            services.sounds.beep();
            return;
        }
        services.clipboard.put(CapturedImage{png->image, services.desktop.mainDisplayID(), CaptureKind::region},
                               PNGFuture::fromEncodedPNG(png->bytes));
    });
}

void HistoryWindowController::showSelectedInFileManager() {
    if (const std::optional<Screenshot> screenshot = selected()) {
        services.fileManager.reveal(services.store.fileURL(*screenshot));
    }
}

void HistoryWindowController::deleteSelected() {
    if (!grid) return;
    const std::optional<int> row = grid->selectedRow();
    if (!row) return;
    const Screenshot screenshot = model->at(*row);
    deleting.insert(screenshot.id);
    model->removeItem(*row);
    updateEmptyLabel();
    if (model->rowCount() > 0) grid->selectRow(std::min(*row, model->rowCount() - 1));

    const QUuid id = screenshot.id;
    runOnMainThread(this, [this, id] {
        services.store.deleteScreenshot(id).then(this, [this, id](const HistoryResult& result) {
            deleteFinished(id, result);
        });
    });
}

void HistoryWindowController::deleteFinished(const QUuid& id, const HistoryResult& result) {
    deleting.remove(id);
    if (!result) {
        qCCritical(lcHistoryWindow).noquote() << QStringLiteral("Снимок не удалён: ") + describe(result.error());
    }
    // The store keeps a screenshot whose file could not be removed, so this brings it back.
    reload();
    if (!result) showDeleteFailure();
    notifyClosedWhenIdle();
}

void HistoryWindowController::showDeleteFailure() {
    auto* box = new QMessageBox(window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(QStringLiteral("История"));
    box->setText(QStringLiteral("Снимок не удалён"));
    box->setInformativeText(QStringLiteral(
        "Не удалось удалить файл снимка, поэтому он остался в истории. Возможно, у приложения нет прав "
        "на папку или диск только для чтения."));
    box->addButton(QStringLiteral("Понятно"), QMessageBox::AcceptRole);
    alert = box;
    // A sheet on the open window; without one, an alert of its own. Never a nested loop.
    if (window) {
        box->open();
    } else {
        box->setWindowModality(Qt::ApplicationModal);
        box->show();
    }
}

void HistoryWindowController::close() {
    if (window) window->close();
}

bool HistoryWindowController::eventFilter(QObject* watched, QEvent* event) {
    if (window && watched == window.data() && event->type() == QEvent::Close) {
        // Torn down after the close was handled, never inside it.
        runOnMainThread(this, [this] { tearDown(); });
    } else if (grid && watched == grid->viewport() && event->type() == QEvent::Paint && opening) {
        // Ends once the first frame has been painted.
        runOnMainThread(this, [this] {
            if (!opening) return;
            opening->end();
            opening.reset();
        });
    }
    return QObject::eventFilter(watched, event);
}

void HistoryWindowController::tearDown() {
    if (!window || window->isVisible()) return;
    stopObservingStore();
    grid->releaseCells();
    QWidget* closing = window;
    window = nullptr;
    grid = nullptr;
    empty = nullptr;
    model = nullptr;
    opening.reset();
    closing->removeEventFilter(this);
    closing->deleteLater();
    services.store.releaseThumbnailMemory();
    closePending = true;
    notifyClosedWhenIdle();
}

void HistoryWindowController::notifyClosedWhenIdle() {
    if (!closePending || window || !deleting.isEmpty()) return;
    closePending = false;
    if (onClose) onClose();
}

}  // namespace quillet
