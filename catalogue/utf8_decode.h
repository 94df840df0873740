#pragma once

#include <cstddef>
#include <string_view>

// Decodes the UTF-8 sequence that starts at text[pos] (pos < text.size()). Returns its length
// in bytes and stores the code point, or returns 0 when the bytes there are not a valid,
// shortest-form sequence of a code point outside the surrogates. Never reads past text.
size_t decodeUtf8(std::string_view text, size_t pos, char32_t& codePoint);
