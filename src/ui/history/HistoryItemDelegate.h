// Draws one cell of the history grid from the visible cell the grid keeps for its row: the
// thumbnail scaled to fit above, the date below, a rounded highlight when selected, and a
// placeholder when the screenshot's file gives no image.
//
// Main thread only.
#pragma once

#include <QStyledItemDelegate>

namespace quillet {

class HistoryCollectionView;

class HistoryItemDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    // A cell, and the gaps that follow it to the right (8) and below (12).
    static constexpr QSize itemSize{200, 172};
    static constexpr int interitemSpacing = 8;
    static constexpr int lineSpacing = 12;

    explicit HistoryItemDelegate(HistoryCollectionView& view);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    HistoryCollectionView& view;
};

}  // namespace quillet
