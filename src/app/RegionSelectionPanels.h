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

#include "app/RegionSelectionView.h"

#include <QList>
#include <QPointer>

class QScreen;

namespace quillet {

class RegionSelectionPanels {
public:
    RegionSelectionPanels() = default;
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
    QList<Entry> entries;
};

}  // namespace quillet
