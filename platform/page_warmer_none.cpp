#include "platform/page_warmer.h"

// No way to fault pages in ahead here: the writer faults them in as it fills the buffer.
PageWarmer::PageWarmer(void* /*data*/, size_t /*bytes*/) {}
