// The history grid: fixed cells, newest first, flowing left to right and wrapping, in one
// scroll area. It turns keys, double clicks and right clicks into the window's actions and
// keeps one HistoryItem per visible cell, handing cells that scrolled out of sight to the rows
// that scrolled in, so memory follows the window's size and not the history's.
//
//   view->setModel(&model);
//   view->onCopy = [this] { copySelected(); };
//
// Keys: Return and Enter open, Delete and Backspace delete, exactly Ctrl+C copies, Ctrl+W
// closes. Main thread only.
#pragma once

#include "history/HistoryStoring.h"
#include "ui/history/HistoryItem.h"

#include <QListView>
#include <QMenu>
#include <QTimer>

#include <chrono>

#include <functional>
#include <optional>
#include <vector>

namespace quillet {

class HistoryListModel;

class HistoryCollectionView : public QListView {
    Q_OBJECT
public:
    // The space kept clear around the whole grid.
    static constexpr int sectionInset = 16;

    HistoryCollectionView(HistoryStoring& store, QWidget* parent = nullptr);
    ~HistoryCollectionView() override;

    void setHistoryModel(HistoryListModel* model);

    std::function<void()> onOpen;
    std::function<void()> onCopy;
    std::function<void()> onDelete;
    std::function<void()> onShowInFileManager;
    std::function<void()> onCloseRequest;

    std::optional<int> selectedRow() const;
    void selectRow(int row);

    // Thumbnails of cells that scroll into sight are asked for only once scrolling has rested
    // this long, so a fast scroll never competes with decoding for the processor.
    void setScrollRestDelay(std::chrono::milliseconds delay) { scrollRest.setInterval(delay); }

    // The cell that shows `index`'s screenshot, filled on the spot when it has none yet.
    HistoryItem* cellFor(const QModelIndex& index);
    // Every cell made so far (about as many as have been visible at once).
    std::vector<const HistoryItem*> cells() const;
    // Drops every cell and its thumbnail (the window closes).
    void releaseCells();

    QMenu& contextMenu() { return menu; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    bool isOnScreen(const HistoryItem& cell) const;
    void centreColumns();
    void thumbnailChanged(const QUuid& id);
    void loadVisibleThumbnails();

    HistoryStoring& store;
    HistoryListModel* listModel = nullptr;
    std::vector<HistoryItem*> visibleCells;  // children of this view
    QMenu menu;
    QLocale locale;
    QTimer scrollRest;
};

}  // namespace quillet
