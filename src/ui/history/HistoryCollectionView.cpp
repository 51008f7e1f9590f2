#include "ui/history/HistoryCollectionView.h"

#include "ui/history/HistoryItemDelegate.h"
#include "ui/history/HistoryListModel.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QScrollBar>
#include <QStyle>

#include <algorithm>

namespace quillet {

namespace {

// Keys by the letter printed on them: with a Russian layout the C key gives "С", W gives "Ц".
bool isLetterKey(const QKeyEvent* event, Qt::Key latin, char16_t cyrillic) {
    return event->key() == latin || event->key() == int(cyrillic) || event->key() == int(QChar(cyrillic).toLower().unicode());
}

bool isExactlyControl(const QKeyEvent* event) {
    return (event->modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier;
}

void call(const std::function<void()>& callback) {
    if (callback) callback();
}

}  // namespace

HistoryCollectionView::HistoryCollectionView(HistoryStoring& store, QWidget* parent)
    : QListView(parent), store(store), menu(this) {
    setViewMode(QListView::ListMode);
    setFlow(QListView::LeftToRight);
    setWrapping(true);
    setResizeMode(QListView::Adjust);
    setLayoutMode(QListView::SinglePass);
    setUniformItemSizes(true);
    setMovement(QListView::Static);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalScrollBar()->setSingleStep(24);
    setFrameShape(QFrame::NoFrame);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setDefaultDropAction(Qt::CopyAction);
    setSelectionRectVisible(false);
    // The cells carry their own gaps to the right and below; the rest of the inset is margin.
    setSpacing(0);
    centreColumns();
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    setItemDelegate(new HistoryItemDelegate(*this));
    setFocusPolicy(Qt::StrongFocus);

    menu.addAction(QStringLiteral("Копировать"), this, [this] { call(onCopy); });
    menu.addAction(QStringLiteral("Показать в файловом менеджере"), this, [this] { call(onShowInFileManager); });
    menu.addAction(QStringLiteral("Удалить"), this, [this] { call(onDelete); });

    scrollRest.setSingleShot(true);
    scrollRest.setInterval(std::chrono::milliseconds(60));
    connect(&scrollRest, &QTimer::timeout, this, &HistoryCollectionView::loadVisibleThumbnails);

    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (!index.isValid()) return;
        selectRow(index.row());
        call(onOpen);
    });
}

HistoryCollectionView::~HistoryCollectionView() { releaseCells(); }

void HistoryCollectionView::setHistoryModel(HistoryListModel* model) {
    listModel = model;
    setModel(model);
}

std::optional<int> HistoryCollectionView::selectedRow() const {
    if (!selectionModel()) return std::nullopt;
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    if (selected.isEmpty()) return std::nullopt;
    return selected.first().row();
}

void HistoryCollectionView::selectRow(int row) {
    if (!listModel || row < 0 || row >= listModel->rowCount()) return;
    const QModelIndex index = listModel->index(row);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
}

bool HistoryCollectionView::isOnScreen(const HistoryItem& cell) const {
    if (!listModel || cell.representedID().isNull()) return false;
    const std::optional<int> row = listModel->rowOf(cell.representedID());
    return row && visualRect(listModel->index(*row)).intersects(viewport()->rect());
}

HistoryItem* HistoryCollectionView::cellFor(const QModelIndex& index) {
    if (!listModel || !index.isValid()) return nullptr;
    const Screenshot& screenshot = listModel->at(index.row());
    for (HistoryItem* cell : visibleCells) {
        if (cell->representedID() == screenshot.id) return cell;
    }
    // A cell whose screenshot is off screen (or gone) serves this one; only when every cell is
    // in sight is a new one made.
    HistoryItem* reused = nullptr;
    for (HistoryItem* cell : visibleCells) {
        if (!isOnScreen(*cell)) {
            reused = cell;
            break;
        }
    }
    if (!reused) {
        reused = new HistoryItem(this);
        reused->onThumbnailChange = [this](const QUuid& id) { thumbnailChanged(id); };
        visibleCells.push_back(reused);
    }
    reused->fill(screenshot, locale);
    if (!scrollRest.isActive()) reused->startLoading(store);
    return reused;
}

void HistoryCollectionView::scrollContentsBy(int dx, int dy) {
    QListView::scrollContentsBy(dx, dy);
    scrollRest.start();
}

void HistoryCollectionView::loadVisibleThumbnails() {
    for (HistoryItem* cell : visibleCells) {
        if (isOnScreen(*cell)) cell->startLoading(store);
    }
}

void HistoryCollectionView::thumbnailChanged(const QUuid& id) {
    if (!listModel) return;
    if (const std::optional<int> row = listModel->rowOf(id)) viewport()->update(visualRect(listModel->index(*row)));
}

std::vector<const HistoryItem*> HistoryCollectionView::cells() const {
    return {visibleCells.begin(), visibleCells.end()};
}

void HistoryCollectionView::releaseCells() {
    for (HistoryItem* cell : visibleCells) {
        cell->prepareForReuse();
        delete cell;
    }
    visibleCells.clear();
}

void HistoryCollectionView::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && plain) {
        call(onOpen);
    } else if ((key == Qt::Key_Delete || key == Qt::Key_Backspace) && plain) {
        call(onDelete);
    } else if (isExactlyControl(event) && isLetterKey(event, Qt::Key_C, u'С')) {
        call(onCopy);  // consumed even with nothing selected
    } else if (isExactlyControl(event) && isLetterKey(event, Qt::Key_W, u'Ц')) {
        call(onCloseRequest);
    } else {
        QListView::keyPressEvent(event);
        return;
    }
    event->accept();
}

void HistoryCollectionView::resizeEvent(QResizeEvent* event) {
    centreColumns();
    QListView::resizeEvent(event);
}

// The columns that fit sit in the middle, with the room left over shared by both sides, and
// never less than the inset. The scroll bar's width is always kept free, so the columns do not
// jump when it appears.
void HistoryCollectionView::centreColumns() {
    const int pitch = HistoryItemDelegate::itemSize.width() + HistoryItemDelegate::interitemSpacing;
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    const int room = width() - 2 * frameWidth() - scrollBar - 2 * sectionInset + HistoryItemDelegate::interitemSpacing;
    const int columns = std::max(1, room / pitch);
    // A few pixels stay with the grid: the list wraps a row that fills its width exactly.
    const int spare = std::max(0, room - columns * pitch - 4);
    setViewportMargins(sectionInset + spare / 2, sectionInset,
                       sectionInset - HistoryItemDelegate::interitemSpacing + (spare - spare / 2), 0);
}

void HistoryCollectionView::contextMenuEvent(QContextMenuEvent* event) {
    QModelIndex index;
    QPoint where = event->globalPos();
    if (event->reason() == QContextMenuEvent::Mouse) {
        index = indexAt(event->pos());
    } else if (const std::optional<int> row = selectedRow()) {
        index = listModel->index(*row);
        where = viewport()->mapToGlobal(visualRect(index).center());
    }
    if (!index.isValid()) return;  // empty space has no menu
    selectRow(index.row());
    menu.popup(where);
}

}  // namespace quillet
