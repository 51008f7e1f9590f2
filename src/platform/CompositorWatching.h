// Whether a compositing manager runs, that is whether our windows can be translucent, and a
// signal when one starts or stops. Panels that draw rounded translucent cards follow it.
//
//   connect(&compositor, &CompositorWatching::compositingChanged, panel, &Panel::setTranslucent);
//
// Main thread only.
#pragma once

#include <QObject>

namespace quillet {

class CompositorWatching : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual bool compositingManagerRunning() const = 0;

Q_SIGNALS:
    void compositingChanged(bool running);
};

}  // namespace quillet
