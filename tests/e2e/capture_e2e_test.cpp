// Screen capture end to end without a compositing manager: no window can be translucent, so
// everything the overlay shows it paints itself.
#include "e2e/harness/XSession.h"

QUILLET_E2E_SESSION({.monitors = {QRect(0, 0, 1280, 800), QRect(1280, 0, 1024, 768)}});

#include "e2e/CaptureE2ECases.h"
