#pragma once

// The calling thread yields the cores to the process's other threads whenever they want
// them; alone, it runs at full speed. Where the system keeps no priority per thread it runs
// as it did.
void lowerThisThreadsPriority();
