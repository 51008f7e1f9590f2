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
    // The full width whatever the path, so the window keeps its size when the folder changes
    // and a longer path later gets the same room as the first one.
    return {maximumPathWidth, QFontMetrics(font()).height()};
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
