// One cell of the history grid as it is on screen: which screenshot it shows now, its date
// text, and that screenshot's thumbnail, loaded off the main thread. There are only about as
// many cells as fit in the window; the grid hands a cell that scrolled away to the next
// screenshot, and a thumbnail that arrives after its cell moved on is dropped.
//
//   cell->fill(screenshot, locale);   // shows the date at once
//   cell->startLoading(store);        // the thumbnail follows from the thread pool
//   cell->prepareForReuse();          // calls the load off and forgets the image
//
// Main thread only.
#pragma once

#include "core/Async.h"
#include "core/Types.h"
#include "history/HistoryStoring.h"

#include <QImage>
#include <QLocale>
#include <QObject>
#include <QUuid>

#include <functional>

namespace quillet {

class HistoryItem : public QObject {
    Q_OBJECT
public:
    static constexpr int thumbnailMaxPixel = 360;

    enum class ThumbnailState { none, waiting, loading, loaded, missing };

    explicit HistoryItem(QObject* parent = nullptr);
    ~HistoryItem() override;

    // Shows `screenshot` from now on; its thumbnail waits for startLoading().
    void fill(const Screenshot& screenshot, const QLocale& locale);
    // Asks the store for the thumbnail of the screenshot shown; only once per fill.
    void startLoading(HistoryStoring& store);
    // Calls off the running load and forgets the screenshot and its image.
    void prepareForReuse();

    // Told when the thumbnail of the screenshot this cell shows arrived (or proved missing).
    std::function<void(const QUuid&)> onThumbnailChange;

    const QUuid& representedID() const { return represented; }
    const Screenshot& screenshot() const { return shown; }
    ThumbnailState thumbnailState() const { return state; }
    const QImage& thumbnail() const { return image; }
    const QString& dateText() const { return date; }
    // "Снимок, 7 мар. 2025 г., 14:05:09", for screen readers.
    QString accessibleText() const;

    // The creation time in the locale's medium date and time style ("7 мар. 2025 г., 14:05:09"
    // in Russian, "Mar 7, 2025, 2:05:09 PM" in American English), in local time.
    static QString mediumDateText(const QDateTime& when, const QLocale& locale);

private:
    void thumbnailArrived(const QUuid& id, const CancellationToken& token, const std::optional<QImage>& result);

    Screenshot shown;
    QUuid represented;
    QImage image;
    ThumbnailState state = ThumbnailState::none;
    QString date;
    CancellationToken loadTask;
};

}  // namespace quillet
