// Tells the user which system permission is missing. On X11 only one can be: listening to the
// keyboard needs the XInput 2 extension. Screen capture needs no permission here.
//
//   PermissionsNotice notice;
//   notice.inputMonitoringGranted = [&] { return eventTap.preflightListenAccess(); };
//   notice.showWindow();
#pragma once

#include "core/CapturePipeline.h"

#include <QPointer>

#include <functional>

class QMessageBox;

namespace quillet {

class PermissionsNotice : public PermissionsShowing {
public:
    ~PermissionsNotice() override;
    std::function<bool()> inputMonitoringGranted = [] { return true; };
    // Brings the one notice forward; it never blocks the event loop.
    void showWindow() override;

private:
    QPointer<QMessageBox> window;
};

}  // namespace quillet
