#include "platform/loader/PlatformLoader.h"

#include "platform/x11/X11Platform.h"

namespace quillet {

std::unique_ptr<PlatformServices> loadPlatform(const PlatformChoice& choice) {
    switch (choice.backend) {
    case PlatformBackend::x11: return makeX11Platform();
    case PlatformBackend::none: return nullptr;
    }
    return nullptr;
}

}  // namespace quillet
