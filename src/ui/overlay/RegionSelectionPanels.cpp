#include "ui/overlay/RegionSelectionPanels.h"

#include <QScreen>

namespace quillet {

RegionSelectionPanels::RegionSelectionPanels(Qt::WindowFlags windowFlags) : windowFlags(windowFlags) {}

RegionSelectionPanels::~RegionSelectionPanels() {
    for (const Entry& entry : entries) {
        if (entry.view) entry.view->deleteLater();
    }
}

RegionSelectionView* RegionSelectionPanels::panel(QScreen* screen) {
    for (qsizetype i = entries.size() - 1; i >= 0; --i) {
        if (!entries[i].screen || !entries[i].view) {
            if (entries[i].view) entries[i].view->deleteLater();
            entries.removeAt(i);
        }
    }
    for (const Entry& entry : entries) {
        if (entry.screen == screen) return entry.view;
    }
    auto* view = new RegionSelectionView;
    // Out of the window manager's hands (the platform's overlay flags): mapped at once, exactly
    // over the display, above panels and full-screen windows, in no task bar, and never given
    // the input focus.
    view->setWindowFlags(windowFlags | Qt::NoDropShadowWindowHint);
    view->setAttribute(Qt::WA_ShowWithoutActivating);
    view->setWindowTitle(QStringLiteral("Quillet"));
    view->setGeometry(screen->geometry());
    entries << Entry{screen, view};
    return view;
}

}  // namespace quillet
