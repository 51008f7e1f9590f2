// The region overlay's panels, one per display, kept from one region capture to the next. A
// hidden panel keeps its window and its backing store, so opening the overlay again costs one
// paint instead of two new full-screen windows and their buffers (fresh memory is the slowest
// part of opening it).
//
//   auto panels = std::make_shared<RegionSelectionPanels>();
//   makeRegionSelection = [&capturer, panels] {
//       return std::make_shared<RegionSelectionController>(capturer, panels);
//   };
//
// Main thread only.
#pragma once

#include "ui/overlay/RegionSelectionView.h"

#include <QList>
#include <QPointer>

class QScreen;

namespace quillet {

class RegionSelectionPanels {
public:
    // `windowFlags`: the platform's flags for overlay windows (WindowStyling::overlayFlags).
    explicit RegionSelectionPanels(Qt::WindowFlags windowFlags = Qt::Window | Qt::FramelessWindowHint |
                                                                 Qt::WindowStaysOnTopHint);
    ~RegionSelectionPanels();
    RegionSelectionPanels(const RegionSelectionPanels&) = delete;
    RegionSelectionPanels& operator=(const RegionSelectionPanels&) = delete;

    // The panel for `screen`, made the first time and kept; the panels of displays that went
    // away are let go.
    RegionSelectionView* panel(QScreen* screen);

private:
    struct Entry {
        QPointer<QScreen> screen;
        QPointer<RegionSelectionView> view;
    };
    Qt::WindowFlags windowFlags;
    QList<Entry> entries;
};

}  // namespace quillet
