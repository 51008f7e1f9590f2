// The bytes behind one promised clipboard item: PNG straight from the capture's PNGFuture, TIFF
// made from that PNG only when some program asks for it. The pasteboard calls provideData()
// when a program pastes; the writer calls data() when it makes the promise concrete at quit.
//
//   auto provider = std::make_shared<PromisedImageProvider>(png, [] {});
//   std::optional<QByteArray> bytes = provider->provideData(PasteboardType::png);
//
// The TIFF is made once, on the thread pool, at the first request for it; every request serves
// those same bytes. Requests block until their bytes are done (as PNGFuture::waitForValue()
// does), so a paste arrives complete; any thread.
#pragma once

#include "core/PNGFuture.h"

#include <QByteArray>
#include <QLatin1StringView>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace quillet {

// The clipboard's image types, in the order they are offered.
namespace PasteboardType {
inline constexpr QLatin1StringView png{"image/png"};
inline constexpr QLatin1StringView tiff{"image/tiff"};
QStringList promised();
}  // namespace PasteboardType

class PromisedImageProvider {
public:
    // From PNG bytes to TIFF bytes; absent when the PNG does not decode.
    using TIFFEncoder = std::function<std::optional<QByteArray>(const QByteArray& png)>;

    // `onRequest` runs at the start of every paste request; it may be empty.
    PromisedImageProvider(PNGFuture png, std::function<void()> onRequest);
    PromisedImageProvider(PNGFuture png, std::function<void()> onRequest, TIFFEncoder tiffEncoder);

    // PNG: the future's bytes (empty when the encoding failed). TIFF: the PNG decoded and encoded
    // again, absent when there is no PNG to decode. Any other type: absent.
    std::optional<QByteArray> data(const QString& type) const;
    // A paste request: onRequest, then data(type).
    std::optional<QByteArray> provideData(const QString& type) const;

    // Decodes the PNG and encodes it with ImageCodec::encodeTIFF.
    static std::optional<QByteArray> tiffFromPNG(const QByteArray& png);

    const PNGFuture png;

private:
    struct TIFF;
    std::optional<QByteArray> tiffBytes() const;

    std::function<void()> onRequest;
    std::shared_ptr<TIFF> tiff;
};

}  // namespace quillet
