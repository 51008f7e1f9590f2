// Screen capture end to end with picom compositing the desktop: the same cases as
// capture_e2e_test.cpp, where a withdrawn window lingers for a frame and the flash fades.
#include "e2e/harness/XSession.h"

QUILLET_E2E_SESSION({.monitors = {QRect(0, 0, 1280, 800), QRect(1280, 0, 1024, 768)}, .compositor = true});

#include "e2e/CaptureE2ECases.h"
