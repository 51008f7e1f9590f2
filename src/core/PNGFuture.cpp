#include "core/PNGFuture.h"

#include "core/Async.h"
#include "core/ImageCodec.h"

namespace quillet {

PNGFuture::PNGFuture(const QImage& image)
    : PNGFuture(runInBackground([image] { return ImageCodec::encodePNG(image).value_or(QByteArray()); })) {}

PNGFuture::PNGFuture(QFuture<QByteArray> future) : state(std::make_shared<const State>(State{std::move(future)})) {}

PNGFuture PNGFuture::fromEncodedPNG(const QByteArray& png) { return PNGFuture(readyFuture(QByteArray(png))); }

QByteArray PNGFuture::waitForValue() const {
    // QFuture::result() blocks until the encoding is done (running it here if it has not started).
    return state->future.result();
}

}  // namespace quillet
