#pragma once

#include <cstddef>
#include <thread>

// Faults in the pages of a freshly allocated buffer on a thread of its own while the caller
// fills it from the front. Left to the writer, a picture-sized buffer is faulted in one page
// at a time on the decoding thread, which costs a large JPEG's decode about a tenth of its
// time. The pages' contents are never touched, so the writer may already be writing them.
// Where the kernel can't do this (before Linux 5.14, other systems) nothing happens.
class PageWarmer {
  public:
    PageWarmer(void* data, size_t bytes);
    ~PageWarmer() {  // waits for the warming to end
        if (thread_.joinable())
            thread_.join();
    }
    PageWarmer(const PageWarmer&) = delete;
    PageWarmer& operator=(const PageWarmer&) = delete;

    // Buffers smaller than this are faulted in faster than a thread starts.
    static constexpr size_t kMinBytes = size_t{2} << 20;

  private:
    std::thread thread_;
};
