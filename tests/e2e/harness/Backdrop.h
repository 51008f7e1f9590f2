// A plain coloured window, for looking at what translucent pixels in front of it let through.
#pragma once

#include <QColor>
#include <QPalette>
#include <QRect>
#include <QWidget>

namespace quillet::e2e {

class Backdrop : public QWidget {
public:
    explicit Backdrop(QRect where) {
        setWindowFlag(Qt::FramelessWindowHint);
        setGeometry(where);
        setColour(Qt::white);
        show();
    }
    void setColour(QColor colour) {
        QPalette palette;
        palette.setColor(QPalette::Window, colour);
        setPalette(palette);
        setAutoFillBackground(true);
        update();
    }
};

}  // namespace quillet::e2e
