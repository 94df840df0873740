#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Natural order of native path bytes, the same on every machine and in every locale:
// - runs of ASCII digits compare by numeric value, whatever their length ("b9" < "b10");
// - other characters compare by their simple Unicode case folding, so letters ignore case
//   ("a" < "B" < "c", "É" == "é" at this level); a digit run ranks where the digit
//   characters would, so "." and " " come before numbers and letters after them;
// - bytes that are not valid UTF-8 compare by byte value, after every valid character;
// - among names equal so far, the first digit run with more leading zeros comes first, and
//   a final plain byte comparison decides the rest, so the order is total.
// Returns a negative value, zero or a positive value; zero only for identical bytes.
int naturalCompare(std::string_view a, std::string_view b);

// A byte string made once per name whose plain byte order is naturalCompare's order:
// naturalKey(a) < naturalKey(b) (std::string's comparison) exactly when naturalCompare(a, b) < 0,
// and the keys are equal only for identical bytes. appendNaturalKey appends it to key.
std::string naturalKey(std::string_view text);
void appendNaturalKey(std::string_view text, std::string& key);

// The positions 0 to count - 1 ordered so that their names ascend by naturalCompare, sorting by
// one key per name rather than decoding both names in every comparison. nameAt may be called
// more than once per position; its views must stay valid until the call returns. count is
// below 2^32.
std::vector<uint32_t> naturalOrder(size_t count,
                                   const std::function<std::string_view(size_t)>& nameAt);

// Strict less-than of naturalCompare over whole native paths.
bool pathLessNatural(const std::filesystem::path& a, const std::filesystem::path& b);

// The simple case folding of one code point (its lower-case partner for the Latin, Greek,
// Cyrillic, Armenian and full-width letters); other code points map to themselves.
char32_t foldCase(char32_t codePoint);
