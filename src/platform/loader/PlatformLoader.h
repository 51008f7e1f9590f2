// Builds the back-end that choosePlatform() picked. The only place that knows every back-end;
// the rest of the program sees PlatformServices.
//
//   const PlatformChoice choice = choosePlatform(lookup);
//   QApplication app(argc, argv);
//   std::unique_ptr<PlatformServices> platform = loadPlatform(choice);   // nullptr: none
//
// Main thread only, after the QApplication exists.
#pragma once

#include "platform/PlatformChoice.h"
#include "platform/PlatformServices.h"

#include <memory>

namespace quillet {

std::unique_ptr<PlatformServices> loadPlatform(const PlatformChoice& choice);

}  // namespace quillet
