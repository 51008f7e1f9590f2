#include "app/ProcessMemory.h"

#include <cstdlib>  // defines __GLIBC__ where the C library is glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace quillet {

void returnLargeBuffersToTheSystem() {
#if defined(__GLIBC__)
    // Setting the threshold explicitly also turns off its dynamic growth.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
}

void returnFreedMemoryToTheSystem() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

}  // namespace quillet
