#include "ui/settings/FolderPathLabel.h"

#include <QFontMetrics>

namespace quillet {

FolderPathLabel::FolderPathLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setMaximumWidth(maximumPathWidth);
}

void FolderPathLabel::setPath(const QString& path) {
    fullPath = path;
    setToolTip(path);
    elide();
    updateGeometry();
}

QSize FolderPathLabel::sizeHint() const {
    const QFontMetrics metrics(font());
    // One pixel more than the advance, or the last letter can be elided by rounding.
    const int width = std::min(metrics.horizontalAdvance(fullPath) + 1, maximumPathWidth);
    return {width, metrics.height()};
}

QSize FolderPathLabel::minimumSizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(QStringLiteral("/…/")), metrics.height()};
}

void FolderPathLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void FolderPathLabel::elide() {
    setText(QFontMetrics(font()).elidedText(fullPath, Qt::ElideMiddle, width()));
}

}  // namespace quillet
