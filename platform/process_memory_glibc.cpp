#include "platform/process_memory.h"

#include <malloc.h>

void returnLargeBuffersAtOnce() {
    // A fixed threshold also stops glibc from raising it after each large free, which is
    // what lets freed buffers of up to 32 MiB pile up in the heaps.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
}
