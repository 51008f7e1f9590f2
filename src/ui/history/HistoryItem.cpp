#include "ui/history/HistoryItem.h"

#include <QCoreApplication>
#include <QPointer>

#include <QRegularExpression>

namespace quillet {

HistoryItem::HistoryItem(QObject* parent) : QObject(parent) {}

HistoryItem::~HistoryItem() { loadTask.cancel(); }

void HistoryItem::fill(const Screenshot& screenshot, const QLocale& locale) {
    prepareForReuse();
    shown = screenshot;
    represented = screenshot.id;
    date = mediumDateText(screenshot.createdAt, locale);
    state = ThumbnailState::waiting;
}

void HistoryItem::startLoading(HistoryStoring& store) {
    if (state != ThumbnailState::waiting) return;
    state = ThumbnailState::loading;
    const Screenshot screenshot = shown;
    // Each load has a token of its own, so cancelling this one never touches the next.
    loadTask = CancellationToken();
    const CancellationToken token = loadTask;
    const QUuid id = screenshot.id;
    // The application, not the cell, is the continuation's context: a cell may be deleted (the
    // window closing) while a pool thread hands the thumbnail over, and Qt 6.4 reads the context
    // on that thread. The cell itself is only looked at on the main thread.
    store.thumbnail(screenshot, thumbnailMaxPixel, token)
        .then(QCoreApplication::instance(), [cell = QPointer<HistoryItem>(this), id, token](const std::optional<QImage>& result) {
            if (cell) cell->thumbnailArrived(id, token, result);
        });
}

void HistoryItem::thumbnailArrived(const QUuid& id, const CancellationToken& token,
                                   const std::optional<QImage>& result) {
    // The cell may show another screenshot by now; then this image is not ours to show.
    if (token.isCancelled() || represented != id) return;
    if (result && !result->isNull()) {
        image = *result;
        state = ThumbnailState::loaded;
    } else {
        image = QImage();
        state = ThumbnailState::missing;
    }
    if (onThumbnailChange) onThumbnailChange(id);
}

void HistoryItem::prepareForReuse() {
    loadTask.cancel();
    represented = QUuid();
    shown = Screenshot();
    image = QImage();
    state = ThumbnailState::none;
    date.clear();
}

QString HistoryItem::accessibleText() const { return QStringLiteral("Снимок, ") + date; }

QString HistoryItem::mediumDateText(const QDateTime& when, const QLocale& locale) {
    // Qt knows a long and a short style; the medium one is the long date without the weekday
    // and with abbreviated month names, and the long time without its zone.
    QString datePattern = locale.dateFormat(QLocale::LongFormat);
    static const QRegularExpression weekday(QStringLiteral("d{4}[,.]?\\s*"));
    datePattern.remove(weekday);
    datePattern.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    QString timePattern = locale.timeFormat(QLocale::LongFormat);
    static const QRegularExpression zone(QStringLiteral("\\s*\\(?t+\\)?"));
    timePattern.remove(zone);
    const QDateTime local = when.toLocalTime();
    return locale.toString(local.date(), datePattern.trimmed()) + QStringLiteral(", ") +
           locale.toString(local.time(), timePattern.trimmed());
}

}  // namespace quillet
