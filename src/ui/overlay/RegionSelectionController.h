// The region overlay of one region capture: one borderless panel per display, above everything
// (panels and full-screen windows included), showing that display frozen as it was when the
// capture was asked for. The user drags a rectangle or clicks a window on any display; Escape,
// a right click or a cancel from the coordinator ends it with nothing, and whatever ends it on
// one display closes the panels on all of them.
//
//   auto controller = std::make_shared<RegionSelectionController>(capturer, panels);
//   controller->show(capturer.onScreenWindows(ownPID));
//   controller->selection().then(this, [](std::optional<RegionSelection> choice) { ... });
//
// The panels take the keyboard with a grab rather than the input focus, so the window that was
// active before stays active and gets its keys back the moment the overlay closes. Main thread
// only.
#pragma once

#include "ui/overlay/RegionSelectionPanels.h"
#include "ui/overlay/RegionSelectionView.h"
#include "capture/ScreenFreezing.h"
#include "platform/DisplayIdentifying.h"
#include "core/Async.h"
#include "core/CapturePipeline.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

namespace quillet {

class RegionSelectionController : public QObject, public RegionSelecting {
    Q_OBJECT
public:
    // Without `panels` the controller makes panels of its own, which go with it.
    RegionSelectionController(ScreenFreezing& freezer, DisplayIdentifying& displays,
                              std::shared_ptr<RegionSelectionPanels> panels = {}, QObject* parent = nullptr);
    ~RegionSelectionController() override;

    void show(const QList<CapturableWindow>& windowsUnderCursor) override;
    // An outcome that came before this was called is kept for it.
    QFuture<std::optional<RegionSelection>> selection() override;
    void finish(std::optional<RegionSelection> result) override;
    void whenFirstFramePainted(std::function<void()> painted) override;

    // The open panels, in the order of the displays; empty once finished.
    QList<RegionSelectionView*> panels() const;
    bool isOpen() const { return !windows.isEmpty(); }

private:
    void grabKeyboard();
    void putAway();

    ScreenFreezing& freezer;
    DisplayIdentifying& displays;
    std::shared_ptr<RegionSelectionPanels> panelStore;
    QList<QPointer<RegionSelectionView>> windows;
    QPointer<RegionSelectionView> keyPanel;
    SharedPromise<std::optional<RegionSelection>> outcome;
    QTimer grabRetry;  // another client may hold the keyboard for a moment (an open menu)
    int grabAttempts = 0;
};

}  // namespace quillet
