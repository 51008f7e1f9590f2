// One PNG encoding of a captured image, shared by every consumer of that image (clipboard,
// preview, history). Encoding starts on the thread pool the moment the future is made:
//
//   PNGFuture png(capture.image);
//   png.value().then(this, [](QByteArray bytes) { ... });   // asynchronous
//   QByteArray bytes = png.waitForValue();                    // blocks the calling thread
//
// Copies share one encoding. Safe from any thread, any number of times, before or after the
// encoding finished; a failed encoding reads as empty bytes.
#pragma once

#include <QByteArray>
#include <QFuture>
#include <QImage>

#include <functional>
#include <memory>
#include <optional>

namespace quillet {

class PNGFuture {
public:
    using Encoder = std::function<std::optional<QByteArray>(const QImage&)>;

    // Encodes with ImageCodec::encodePNG.
    explicit PNGFuture(const QImage& image);
    // Runs `encoder` on the thread pool; an absent result (or a throw) reads as empty bytes.
    PNGFuture(const QImage& image, Encoder encoder);
    // Complete from the start, holding `png`.
    static PNGFuture fromEncodedPNG(const QByteArray& png);

    // A future of its own for every call, so each caller can attach its own continuation.
    QFuture<QByteArray> value() const;
    // Blocks until the encoding is done. Only for threads that must answer synchronously: pool
    // threads and the clipboard's paste requests, never ordinary main-thread code.
    QByteArray waitForValue() const;
    bool isReady() const;

    // True for copies of one future (the same encoding).
    bool isSameAs(const PNGFuture& other) const { return state == other.state; }

private:
    struct State;
    PNGFuture() = default;
    std::shared_ptr<State> state;
};

}  // namespace quillet
