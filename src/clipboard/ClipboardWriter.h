// Puts captures on the clipboard at once, as a promise: the item offers PNG and TIFF, and the
// bytes are produced only when a program pastes (waiting for the capture's PNGFuture if it is
// still encoding). At quit, resolvePendingPromises() turns a promise that is still ours into
// concrete bytes, so the image stays pasteable after the process is gone.
//
//   ClipboardWriter clipboard(pasteboard);
//   clipboard.put(capture, png);            // returns at once
//   clipboard.resolvePendingPromises();     // at quit
//
// Main thread only.
#pragma once

#include "clipboard/PasteboardWriting.h"
#include "clipboard/PromisedImageProvider.h"
#include "core/CapturePipeline.h"

#include <functional>
#include <memory>
#include <optional>

namespace quillet {

class ClipboardWriter : public ClipboardWriting {
public:
    explicit ClipboardWriter(PasteboardWriting& pasteboard);

    // Only the future is used; the image itself is not read.
    void put(const CapturedImage& image, const PNGFuture& png) override;
    // Does nothing when nothing is owed or another program has copied since the last put.
    void resolvePendingPromises() override;

    // True while the clipboard still holds the last promise put there, its bytes still owed.
    bool holdsPromise() const;

    // Handed to every provider made from now on and called at the start of each paste request.
    // Empty in the application; a hook for watching pastes happen.
    std::function<void()> onProviderRequest;

private:
    struct Current {
        std::shared_ptr<PromisedImageProvider> provider;
        qint64 changeCount = 0;
    };

    PasteboardWriting& pasteboard;
    std::optional<Current> current;
};

}  // namespace quillet
