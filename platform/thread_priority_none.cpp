#include "platform/thread_priority.h"

void lowerThisThreadsPriority() {}
