#pragma once

#include <cstdint>
#include <optional>

// The letter, 'A' to 'Z', that a US keyboard prints on the key with this native scan code, or
// nothing for another key. Lets letter shortcuts stay where users learnt them when a layout of
// another script (Cyrillic, Greek, Hebrew, Arabic, ...) is active.
std::optional<char> usLetterAtScanCode(uint32_t nativeScanCode);
