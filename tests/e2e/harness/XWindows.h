// What end-to-end tests ask of the desktop besides the session itself: where the X server puts
// a window, plain windows in one colour, what a paste gives, and a clipboard writer that puts
// the bare image on the real clipboard.
#pragma once

#include "core/CapturePipeline.h"
#include "e2e/harness/XSession.h"

#include <QGuiApplication>
#include <QClipboard>
#include <QPainter>
#include <QRegularExpression>
#include <QWidget>

#include <cstdint>

namespace quillet::e2e {

struct XWindowState {
    QRect rect;  // the contents, in root coordinates
    bool viewable = false;
    std::uint32_t parent = 0;  // the window manager's frame, for a managed window
};

// What the X server says about a window, not what Qt believes.
inline XWindowState xWindow(std::uint64_t id) {
    const QString info = QString::fromUtf8(
        XSession::current()
            .run(QStringLiteral("xwininfo"), {QStringLiteral("-stats"), QStringLiteral("-tree"), QStringLiteral("-id"), QString::number(id)})
            .out);
    const auto number = [&](const QString& name) {
        return QRegularExpression(QRegularExpression::escape(name) + QStringLiteral(":\\s*(-?\\d+)")).match(info).captured(1).toInt();
    };
    const QString parent = QRegularExpression(QStringLiteral("Parent window id: (0x[0-9a-f]+)")).match(info).captured(1);
    return {QRect(number(QStringLiteral("Absolute upper-left X")), number(QStringLiteral("Absolute upper-left Y")),
                  number(QStringLiteral("Width")), number(QStringLiteral("Height"))),
            info.contains(QStringLiteral("IsViewable")), parent.toUInt(nullptr, 16)};
}

inline std::uint32_t activeWindow() { return XSession::current().xdotool({QStringLiteral("getactivewindow")}).out.trimmed().toUInt(); }

// What a program pasting `target` gets, as an image; null when nobody answers.
inline QImage pastedImage(const QString& target = QStringLiteral("image/png")) {
    const RunResult pasted = XSession::current().xclipOut(target);
    return pasted.ok() ? QImage::fromData(pasted.out) : QImage();
}

// A frameless window in one flat colour.
class FlatWindow : public QWidget {
public:
    FlatWindow(QRect geometry, QColor colour, Qt::WindowFlags extra = {}) : colour(colour) {
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint | extra);
        setWindowTitle(QStringLiteral("flat"));
        setGeometry(geometry);
    }
    void setColour(QColor now) {
        colour = now;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), colour); }

private:
    QColor colour;
};

// Puts the capture on the real clipboard as a plain image and counts the puts.
class PlainClipboard : public ClipboardWriting {
public:
    void put(const CapturedImage& image, const PNGFuture&) override {
        QGuiApplication::clipboard()->setImage(image.image);
        ++puts;
    }
    void resolvePendingPromises() override {}
    int puts = 0;
};

}  // namespace quillet::e2e
