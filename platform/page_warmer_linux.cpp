#include "platform/page_warmer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <system_error>

PageWarmer::PageWarmer(void* data, size_t bytes) {
#if defined(MADV_POPULATE_WRITE)
    if (data == nullptr || bytes < kMinBytes)
        return;
    // Only whole pages inside the buffer: its first and last page may hold other data.
    const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = (reinterpret_cast<uintptr_t>(data) + page - 1) & ~(page - 1);
    const auto end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(page - 1);
    if (end <= begin)
        return;
    try {
        thread_ = std::thread([begin, end] {
            // Fails harmlessly (EINVAL) on kernels without it: the writer then faults them.
            madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
        });
    } catch (const std::system_error&) {
        // No thread: the writer faults the pages in itself, as it would anyway.
    }
#else
    // Headers older than the call: the writer faults the pages in.
    (void)data;
    (void)bytes;
#endif
}
