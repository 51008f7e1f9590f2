// One PNG encoding of a captured image, shared by every consumer of that image (clipboard,
// preview, history). Encoding starts on the thread pool the moment the future is made:
//
//   PNGFuture png(capture.image);
//   png.value().then(this, [](QByteArray bytes) { ... });   // asynchronous
//   QByteArray bytes = png.waitForValue();                    // blocks the calling thread
//
// Copies share one encoding. Safe from any thread; a failed encoding reads as empty bytes.
#pragma once

#include <QByteArray>
#include <QFuture>
#include <QImage>

#include <memory>

namespace quillet {

class PNGFuture {
public:
    explicit PNGFuture(const QImage& image);
    static PNGFuture fromEncodedPNG(const QByteArray& png);

    QFuture<QByteArray> value() const { return state->future; }
    QByteArray waitForValue() const;
    bool isReady() const { return state->future.isFinished(); }

    // True for copies of one future (the same encoding).
    bool isSameAs(const PNGFuture& other) const { return state == other.state; }

private:
    struct State {
        QFuture<QByteArray> future;
    };
    explicit PNGFuture(QFuture<QByteArray> future);
    std::shared_ptr<const State> state;
};

}  // namespace quillet
