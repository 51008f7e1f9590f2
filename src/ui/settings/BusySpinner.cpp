#include "ui/settings/BusySpinner.h"

#include <QPainter>

namespace quillet {

BusySpinner::BusySpinner(QWidget* parent) : QWidget(parent) {
    setFixedSize(sizeHint());
    QSizePolicy policy = sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    setSizePolicy(policy);
    timer.setInterval(50);
    connect(&timer, &QTimer::timeout, this, [this] {
        angle = (angle + 30) % 360;
        update();
    });
    hide();
}

void BusySpinner::start() {
    show();
    timer.start();
}

void BusySpinner::stop() {
    timer.stop();
    hide();
}

void BusySpinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(palette().color(QPalette::WindowText), 2, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(pen);
    const QRectF ring = QRectF(rect()).adjusted(2, 2, -2, -2);
    // Qt counts arcs in sixteenths of a degree, counter-clockwise; the arc turns clockwise.
    painter.drawArc(ring, -angle * 16, 270 * 16);
}

}  // namespace quillet
