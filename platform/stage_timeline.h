#pragma once

// With QUILLMERE_TIMELINE set in the environment, writes "quillmere-timeline STAGE NS" on
// stderr, NS being the steady clock (CLOCK_MONOTONIC on Linux) in nanoseconds, so that a
// benchmark can lay the stages of a launch beside its own clock. Without it, does nothing.
// Safe from any thread; a line is written whole.
void markStage(const char* stage);
