#pragma once

// With QUILLMERE_TIMELINE set in the environment, writes
// "quillmere-timeline STAGE NS run=RUN_NS wait=WAIT_NS" on stderr: NS is the steady clock
// (CLOCK_MONOTONIC on Linux), so that a benchmark can lay the stages of a launch beside its own
// clock, and RUN_NS and WAIT_NS are the calling thread's time so far on a core and waiting for
// one (-1 where the system doesn't say). Without the variable, does nothing. Safe from any
// thread; a line is written whole.
void markStage(const char* stage);
