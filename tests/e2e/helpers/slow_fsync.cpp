// Loaded into the real application with LD_PRELOAD by the exit test: every fsync takes
// QUILLET_SLOW_FSYNC_MS milliseconds longer, as on a slow or busy disk, so a history write is
// certainly still under way when the test asks the application to quit.
#include <dlfcn.h>
#include <time.h>

#include <cstdlib>

extern "C" int fsync(int fd) {
    using Real = int (*)(int);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "fsync"));
    if (const char* value = std::getenv("QUILLET_SLOW_FSYNC_MS")) {
        const long ms = std::atol(value);
        timespec pause{ms / 1000, (ms % 1000) * 1000000};
        while (nanosleep(&pause, &pause) != 0) {
        }
    }
    return real(fd);
}
