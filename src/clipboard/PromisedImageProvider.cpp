#include "clipboard/PromisedImageProvider.h"

#include "core/ImageCodec.h"

namespace quillet {

QStringList PasteboardType::promised() { return {QString(png), QString(tiff)}; }

PromisedImageProvider::PromisedImageProvider(PNGFuture png, std::function<void()> onRequest)
    : png(std::move(png)), onRequest(std::move(onRequest)) {}

std::optional<QByteArray> PromisedImageProvider::data(const QString& type) const {
    if (type == PasteboardType::png) return png.waitForValue();
    if (type == PasteboardType::tiff) {
        const std::optional<QImage> image = ImageCodec::decode(png.waitForValue());
        if (!image) return std::nullopt;
        return ImageCodec::encodeTIFF(*image);
    }
    return std::nullopt;
}

std::optional<QByteArray> PromisedImageProvider::provideData(const QString& type) const {
    if (onRequest) onRequest();
    return data(type);
}

}  // namespace quillet
