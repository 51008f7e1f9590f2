// Images the encoder and clipboard benchmarks share: a screen-like desktop painted with QPainter
// (flat window backgrounds, text, a gradient wallpaper, antialiased shapes) and a noisy
// photo-like image. Both are deterministic, so runs compare.
#pragma once

#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRandomGenerator>

namespace quillet::bench {

inline QImage screenLikeImage(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient wallpaper(0, 0, size.width(), size.height());
    wallpaper.setColorAt(0, QColor(30, 60, 110));
    wallpaper.setColorAt(1, QColor(180, 90, 140));
    painter.fillRect(image.rect(), wallpaper);
    painter.fillRect(QRect(0, size.height() - 40, size.width(), 40), QColor(32, 34, 40));  // panel
    QRandomGenerator random(7);
    painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 11));
    const int windows = 6;
    for (int w = 0; w < windows; ++w) {
        const QRect frame(size.width() * w / (windows + 1) / 2 + 40, size.height() * w / (windows + 2) / 2 + 40,
                          size.width() * 5 / 12, size.height() / 2);
        painter.fillRect(frame.translated(8, 8), QColor(0, 0, 0, 60));  // shadow
        painter.fillRect(frame, QColor(248, 248, 248));
        painter.fillRect(QRect(frame.topLeft(), QSize(frame.width(), 36)), QColor(225, 225, 230));
        for (int line = 0; line * 17 + 60 < frame.height() - 10; ++line) {
            QString text;
            for (int word = 0; word < 18; ++word) {
                const int length = 2 + int(random.bounded(9));
                for (int c = 0; c < length; ++c) text += QChar(u'a' + random.bounded(26));
                text += u' ';
            }
            painter.setPen(line % 7 == 0 ? QColor(20, 80, 200) : QColor(30, 30, 30));
            painter.drawText(frame.left() + 20, frame.top() + 60 + line * 17, text);
        }
        painter.fillRect(QRect(frame.right() - frame.width() / 6, frame.top() + 60, frame.width() / 7, frame.height() / 6),
                         QColor(int(random.bounded(256)), int(random.bounded(256)), int(random.bounded(256))));
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 40; ++i) {
        painter.setBrush(QColor(int(random.bounded(256)), int(random.bounded(256)), int(random.bounded(256))));
        painter.drawEllipse(QPointF(random.bounded(size.width()), random.bounded(size.height())), 30, 30);
    }
    return image;
}

inline QImage noisyPhotoImage(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    QRandomGenerator random(11);
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const int noise = int(random.bounded(32)) - 16;
            line[x] = qRgb(qBound(0, x * 255 / size.width() + noise, 255), qBound(0, y * 255 / size.height() + noise, 255),
                           qBound(0, 128 + (x + y) % 64 + noise, 255));
        }
    }
    return image;
}

}  // namespace quillet::bench
