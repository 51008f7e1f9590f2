#include "ui/history/HistoryItemDelegate.h"

#include "ui/history/HistoryCollectionView.h"
#include "ui/history/HistoryItem.h"

#include <QPainter>
#include <QPainterPath>

namespace quillet {

namespace {

constexpr int thumbnailInset = 8;
constexpr int thumbnailHeight = 120;
constexpr int dateGap = 6;
constexpr int dateInset = 4;

QColor secondaryText(const QPalette& palette) {
    QColor colour = palette.color(QPalette::WindowText);
    colour.setAlphaF(0.55f);
    return colour;
}

// A framed picture sign, for a screenshot whose file gives no image.
void drawPlaceholder(QPainter* painter, const QRectF& area, const QPalette& palette) {
    const QColor ink = secondaryText(palette);
    QColor fill = ink;
    fill.setAlphaF(0.08f);
    painter->setPen(Qt::NoPen);
    painter->setBrush(fill);
    painter->drawRoundedRect(area, 4, 4);
    const QRectF sign(area.center() - QPointF(20, 15), QSizeF(40, 30));
    painter->setPen(QPen(ink, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter->setBrush(Qt::NoBrush);
    painter->drawRoundedRect(sign, 3, 3);
    QPainterPath hills;
    hills.moveTo(sign.left() + 4, sign.bottom() - 5);
    hills.lineTo(sign.left() + 15, sign.top() + 14);
    hills.lineTo(sign.left() + 23, sign.bottom() - 11);
    hills.lineTo(sign.left() + 28, sign.bottom() - 15);
    hills.lineTo(sign.right() - 4, sign.bottom() - 5);
    painter->drawPath(hills);
    painter->drawEllipse(QPointF(sign.right() - 10, sign.top() + 9), 3, 3);
}

}  // namespace

HistoryItemDelegate::HistoryItemDelegate(HistoryCollectionView& view) : QStyledItemDelegate(&view), view(view) {}

QSize HistoryItemDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
    return itemSize + QSize(interitemSpacing, lineSpacing);
}

void HistoryItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    HistoryItem* cell = view.cellFor(index);
    if (!cell) return;
    const QRectF bounds(option.rect.topLeft(), itemSize);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::SmoothPixmapTransform);

    if (option.state & QStyle::State_Selected) {
        QColor selected = option.palette.color(QPalette::Highlight);
        selected.setAlphaF(0.35f);
        painter->setPen(Qt::NoPen);
        painter->setBrush(selected);
        painter->drawRoundedRect(bounds, 8, 8);
    }

    const QRectF thumbnailArea(bounds.left() + thumbnailInset, bounds.top() + thumbnailInset,
                               bounds.width() - 2 * thumbnailInset, thumbnailHeight);
    switch (cell->thumbnailState()) {
    case HistoryItem::ThumbnailState::loaded: {
        const QImage& image = cell->thumbnail();
        QSizeF fitted = QSizeF(image.size()).scaled(thumbnailArea.size(), Qt::KeepAspectRatio);
        QRectF target(QPointF(), fitted);
        target.moveCenter(thumbnailArea.center());
        QPainterPath corners;
        corners.addRoundedRect(target, 4, 4);
        painter->setClipPath(corners);
        painter->drawImage(target, image);
        painter->setClipping(false);
        break;
    }
    case HistoryItem::ThumbnailState::missing:
        drawPlaceholder(painter, thumbnailArea, option.palette);
        break;
    case HistoryItem::ThumbnailState::none:
    case HistoryItem::ThumbnailState::waiting:
    case HistoryItem::ThumbnailState::loading:
        break;
    }

    QFont font = option.font;
    font.setPixelSize(11);
    painter->setFont(font);
    painter->setPen(secondaryText(option.palette));
    const QFontMetrics metrics(font);
    const QRectF dateArea(bounds.left() + dateInset, thumbnailArea.bottom() + dateGap,
                          bounds.width() - 2 * dateInset, metrics.height());
    painter->drawText(dateArea, Qt::AlignHCenter | Qt::AlignTop,
                      metrics.elidedText(cell->dateText(), Qt::ElideRight, int(dateArea.width())));
    painter->restore();
}

}  // namespace quillet
