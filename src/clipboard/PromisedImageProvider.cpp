#include "clipboard/PromisedImageProvider.h"

#include "core/Async.h"
#include "core/ImageCodec.h"

#include <QFuture>

#include <mutex>

namespace quillet {

// The one TIFF encoding of the item, started by the first request for it.
struct PromisedImageProvider::TIFF {
    std::mutex mutex;
    TIFFEncoder encoder;
    std::optional<QFuture<std::optional<QByteArray>>> work;
};

QStringList PasteboardType::promised() { return {QString(png), QString(tiff)}; }

PromisedImageProvider::PromisedImageProvider(PNGFuture png, std::function<void()> onRequest)
    : PromisedImageProvider(std::move(png), std::move(onRequest), &PromisedImageProvider::tiffFromPNG) {}

PromisedImageProvider::PromisedImageProvider(PNGFuture png, std::function<void()> onRequest, TIFFEncoder tiffEncoder)
    : png(std::move(png)), onRequest(std::move(onRequest)), tiff(std::make_shared<TIFF>()) {
    tiff->encoder = std::move(tiffEncoder);
}

std::optional<QByteArray> PromisedImageProvider::tiffFromPNG(const QByteArray& png) {
    const std::optional<QImage> image = ImageCodec::decode(png);
    if (!image) return std::nullopt;
    return ImageCodec::encodeTIFF(*image);
}

std::optional<QByteArray> PromisedImageProvider::data(const QString& type) const {
    if (type == PasteboardType::png) return png.waitForValue();
    if (type == PasteboardType::tiff) return tiffBytes();
    return std::nullopt;
}

std::optional<QByteArray> PromisedImageProvider::tiffBytes() const {
    QFuture<std::optional<QByteArray>> work;
    {
        std::lock_guard lock(tiff->mutex);
        if (!tiff->work) {
            // A pool thread waits for the PNG and converts it; the requests only wait for the
            // result. The task holds copies, never the provider, which may go before it ends.
            tiff->work = runInBackground([png = png, encoder = tiff->encoder]() -> std::optional<QByteArray> {
                try {
                    return encoder(png.waitForValue());
                } catch (...) {
                    return std::nullopt;  // out of memory for a huge image: no TIFF, no hang
                }
            });
        }
        work = *tiff->work;
    }
    // Like PNGFuture::waitForValue(): a task no pool thread has picked up yet runs right here,
    // so a busy pool cannot keep a paste waiting on itself.
    work.waitForFinished();
    return work.result();
}

std::optional<QByteArray> PromisedImageProvider::provideData(const QString& type) const {
    if (onRequest) onRequest();
    return data(type);
}

}  // namespace quillet
