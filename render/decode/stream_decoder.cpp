#include "render/decode/stream_decoder.h"

#include <memory>

#include "render/decode/levels.h"
#include "render/decode/stream_bmp.h"
#include "render/decode/stream_png.h"
#include "render/decode/stream_source.h"
#include "render/decode/stream_tiff.h"

namespace {

using stream_detail::LevelWriter;
using stream_detail::StreamSource;

std::unique_ptr<StreamSource> sourceFor(std::span<const uint8_t> data) {
    if (auto source = stream_detail::pngStreamSource(data))
        return source;
    if (auto source = stream_detail::bmpStreamSource(data))
        return source;
    return stream_detail::tiffStreamSource(data);
}

// The pipeline both entry points share: the whole level is the part that covers it.
std::optional<DecodeStatus> stream(std::span<const uint8_t> data, int32_t level,
                                   const PixelRect* part, Image& out, const std::stop_token& stop) {
    std::unique_ptr<StreamSource> source = sourceFor(data);
    if (!source)
        return std::nullopt;
    Image image;
    std::optional<DecodeStatus> status =
        level < 0 || level > kMaxLevel ? DecodeStatus::Failed : source->open(data);
    if (status == DecodeStatus::Ok) {
        LevelWriter writer;
        status = writer.start(source->width(), source->height(), level, part, source->alpha());
        if (status == DecodeStatus::Ok)
            status = source->read(writer, stop);
        if (status == DecodeStatus::Ok)
            writer.finish(image);
    }
    if (!status)
        return std::nullopt;
    out.destroy();
    if (*status == DecodeStatus::Ok)
        out.swap(image);
    return status;
}

}  // namespace

std::optional<DecodeStatus> readStreamedHeader(std::span<const uint8_t> data,
                                               PictureHeader& header) {
    const std::unique_ptr<StreamSource> source = sourceFor(data);
    if (!source)
        return std::nullopt;
    const std::optional<DecodeStatus> status = source->open(data);
    if (status == DecodeStatus::Ok)
        header = {source->width(), source->height(), 0, true, true};
    return status;
}

std::optional<DecodeStatus> decodeStreamedLevel(std::span<const uint8_t> data, int32_t level,
                                                Image& out, std::stop_token stop) {
    return stream(data, level, nullptr, out, stop);
}

std::optional<DecodeStatus> decodeStreamedRegion(std::span<const uint8_t> data, int32_t level,
                                                 const PixelRect& region, Image& out,
                                                 std::stop_token stop) {
    return stream(data, level, &region, out, stop);
}
