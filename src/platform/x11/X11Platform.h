// The X11 back-end: every platform service of an X11 session, built once at start after the
// QApplication exists (several services use Qt's own X connection).
//
//   std::unique_ptr<PlatformServices> platform = makeX11Platform();
//
// Main thread only.
#pragma once

#include "platform/PlatformServices.h"

#include <memory>

namespace quillet {

std::unique_ptr<PlatformServices> makeX11Platform();

}  // namespace quillet
