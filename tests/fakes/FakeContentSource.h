// A content source whose displays, windows and snapshot are plain fields; fetches and grabs are
// recorded, and a grab is filled with `grabColour` (or drawn by `paint`). And a frozen frame
// for the region overlay: one image per display, given by the test; thaws are counted.
#pragma once

#include "capture/ContentSourcing.h"
#include "capture/ScreenFreezing.h"

#include <QColor>

#include <mutex>
#include <type_traits>

namespace quillet::fakes {

class FakeContentSource : public ContentSourcing {
public:
    struct Grab {
        QList<GrabArea> areas;
        QList<qint64> excluded;
    };

    qint64 processID() override { return ownPID; }
    QList<ShareableDisplay> displays() override { return locked([&] { return displayList; }); }
    std::uint32_t mainDisplayID() override { return locked([&] { return mainID; }); }
    std::optional<QList<WindowInfo>> windowList() override { return locked([&] { return windows; }); }
    Expected<ShareableContent, CaptureError> fetchContent() override {
        std::lock_guard lock(mutex);
        ++fetches;
        if (fetchFails) return unexpected(CaptureError::grabFailed);
        return snapshot;
    }
    Expected<QList<QImage>, CaptureError> grab(const QList<GrabArea>& areas, const QList<qint64>& excluded) override {
        std::lock_guard lock(mutex);
        grabs.push_back(Grab{areas, excluded});
        if (grabFails) return unexpected(CaptureError::grabFailed);
        QList<QImage> images;
        for (const GrabArea& area : areas) {
            QImage image(area.pixelSize, QImage::Format_RGB32);
            image.fill(grabColour);
            images << (paint ? paint(area) : image);
        }
        return images;
    }
    void setOnDisplaysChange(std::function<void()> handler) override {
        locked([&] { displaysChanged = std::move(handler); });
    }

    // What the platform would do after a display was added or removed.
    void changeDisplays(const QList<ShareableDisplay>& displays) {
        std::function<void()> handler;
        {
            std::lock_guard lock(mutex);
            displayList = displays;
            snapshot.displays = displays;
            handler = displaysChanged;
        }
        if (handler) handler();
    }

    int fetchCount() { return locked([&] { return fetches; }); }
    std::vector<Grab> grabList() { return locked([&] { return grabs; }); }

    // Set up by the test before the capturer runs.
    qint64 ownPID = 4242;
    QList<ShareableDisplay> displayList;
    std::uint32_t mainID = 0;
    std::optional<QList<WindowInfo>> windows = QList<WindowInfo>{};
    ShareableContent snapshot;
    bool fetchFails = false;
    bool grabFails = false;
    QColor grabColour = QColor(10, 20, 30);
    std::function<QImage(const GrabArea&)> paint;  // when set, makes every grabbed image

private:
    // Grabs and fetches run on pool threads while the test reads what they recorded.
    template <class F>
    std::invoke_result_t<F> locked(F read) {
        std::lock_guard lock(mutex);
        return read();
    }
    std::mutex mutex;
    int fetches = 0;
    std::vector<Grab> grabs;
    std::function<void()> displaysChanged;
};

class FakeScreenFreezer : public ScreenFreezing {
public:
    QList<FrozenDisplay> freeze() override { return frames; }
    void thaw() override { ++thaws; }

    QList<FrozenDisplay> frames;
    int thaws = 0;
};

}  // namespace quillet::fakes
