#pragma once

// Makes every allocation of a picture's size come from the system and go back to it as soon
// as it is freed. Pictures, decoder buffers and tiles come and go in sizes of megabytes on
// several threads; left to the allocator's own thresholds, what one thread frees stays
// reserved for it, and the process keeps the peak of all of them. Call once, before threads.
void returnLargeBuffersAtOnce();
