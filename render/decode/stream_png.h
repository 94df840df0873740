#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "render/decode/stream_source.h"

namespace stream_detail {

// A source that streams data when it is a PNG, not yet opened; null for other bytes.
std::unique_ptr<StreamSource> pngStreamSource(std::span<const uint8_t> data);

}  // namespace stream_detail
