// Mouse, key and hover events sent straight to a widget, the way the window tests drive them.
#pragma once
#include <QApplication>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

namespace quillet::test {

// `button` is held from a press until its release; a move with Qt::NoButton is a bare hover.
inline void mouse(QWidget* widget, QEvent::Type type, QPointF at, Qt::MouseButton button = Qt::LeftButton) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, at, widget->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : button, held,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// Presses at `from`, moves in `steps` even steps to `to` and releases there.
inline void drag(QWidget* widget, QPointF from, QPointF to, int steps = 1) {
    mouse(widget, QEvent::MouseButtonPress, from);
    for (int i = 1; i <= steps; ++i) mouse(widget, QEvent::MouseMove, from + (to - from) * i / steps);
    mouse(widget, QEvent::MouseButtonRelease, to);
}

// Whether the widget accepted the key.
inline bool key(QWidget* widget, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                quint32 nativeModifiers = 0) {
    QKeyEvent event(QEvent::KeyPress, key, modifiers, 0, 0, nativeModifiers);
    QApplication::sendEvent(widget, &event);
    return event.isAccepted();
}

inline void enter(QWidget* widget) {
    QEnterEvent event(QPointF(5, 5), QPointF(5, 5), widget->mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(widget, &event);
}

inline void leave(QWidget* widget) {
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(widget, &event);
}

}  // namespace quillet::test
