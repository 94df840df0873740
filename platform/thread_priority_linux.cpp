#include "platform/thread_priority.h"

#include <sys/resource.h>
#include <unistd.h>

void lowerThisThreadsPriority() {
    // Linux keeps a nice value per thread.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
}
