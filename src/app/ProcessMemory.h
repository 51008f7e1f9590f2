// How the process keeps its resident size near what it really uses. Screenshots, decodes and
// thumbnails come and go as buffers of megabytes; glibc's allocator raises its mmap threshold
// the first time such a buffer is freed and from then on keeps freed buffers inside the heap,
// where a browse through the history can leave hundreds of megabytes resident for good.
//
//   quillet::returnLargeBuffersToTheSystem();   // once, at start
//   quillet::returnFreedMemoryToTheSystem();    // when a burst of work has settled
#pragma once

namespace quillet {

// Fixes the mmap threshold at 256 KiB: every larger buffer is mapped on its own and given
// back to the system the moment it is freed. Does nothing where the C library has no such knob.
void returnLargeBuffersToTheSystem();

// Hands the free pages inside the heap back to the system: what PNG encoding, scaling and the
// clipboard's transfers freed in small pieces stays resident otherwise, spread over the heaps of
// every thread that did the work. Takes a millisecond or two; any thread.
void returnFreedMemoryToTheSystem();

}  // namespace quillet
