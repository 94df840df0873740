#pragma once

#include <string>
#include <vector>

// Starts a program (looked up in PATH when it has no slash) with these exact argument bytes,
// in a new session, without a shell and without waiting for it: the program is reparented
// away from the viewer at once, so it never becomes a zombie the viewer has to reap. Returns
// false when no process could be started; a program that turns out not to exist fails
// silently in the started process.
bool spawnDetached(const std::vector<std::string>& argv);
