#include "render/decode/jpeg_decoder.h"

// jpeglib.h needs FILE and size_t declared before it.
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <bit>
#include <csetjmp>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/page_warmer.h"
#include "render/decode/render_log.h"
#include "render/decode/row_reducer.h"

namespace {

// Rows read between two looks at the stop token: a few milliseconds of work at any width.
constexpr int32_t kBatchRows = 16;
// iMCU rows skipped between two looks at the stop token while seeking to a region.
constexpr int32_t kSkipIMcuRows = 32;
// The deepest level DCT scaling makes (1/8).
constexpr int32_t kScaledLevels = 3;
// As decodePicture does: every scan sweeps the whole frame, so a small file of thousands of
// empty scans would keep the decoder busy for minutes.
constexpr int kMaxScans = 100;
// libjpeg's own memory beside the coefficient buffer: strip buffers for the widest picture
// (about 34 bytes a column) and fixed tables.
constexpr size_t kLibraryWorkingBytes = size_t{64} << 20;

void silentOutput(j_common_ptr) {}

// libjpeg state whose errors jump back into guarded() instead of exiting. The object lives in
// a frame that no jump ever leaves, so its destructor always runs; the frames a jump does
// leave hold nothing with a destructor (see guarded).
class Decompressor {
  public:
    explicit Decompressor(std::stop_token stop) : stop_(std::move(stop)) {
        info.err = jpeg_std_error(&errors_);
        errors_.error_exit = errorExit;
        errors_.output_message = silentOutput;  // warnings are counted, not printed
        progress_.progress_monitor = progressMonitor;
        info.client_data = this;
    }
    ~Decompressor() { jpeg_destroy_decompress(&info); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    // Runs step, a lambda holding no objects with destructors, with libjpeg's errors caught.
    // False when the library failed or the stop token ended the step; status() tells which.
    template <typename Step>
    bool guarded(const Step& step) {
        if (setjmp(jump_) != 0)
            return false;
        step();
        return true;
    }

    DecodeStatus status() const {
        if (cancelled_)
            return DecodeStatus::Cancelled;
        if (errors_.msg_code == JERR_OUT_OF_MEMORY || errors_.msg_code == JERR_NO_BACKING_STORE)
            return DecodeStatus::OutOfMemory;
        return DecodeStatus::Failed;
    }

    // Reads the header.
    DecodeStatus open(std::span<const uint8_t> data) {
        if (data.empty())
            return DecodeStatus::Failed;
        if (!guarded([&] {
                jpeg_create_decompress(&info);
                info.progress = &progress_;
                info.mem->max_memory_to_use =
                    static_cast<long>(Image::maxPictureBytes() + kLibraryWorkingBytes);
                jpeg_mem_src(&info, data.data(), static_cast<unsigned long>(data.size()));
                jpeg_read_header(&info, TRUE);
                multipleScans_ = jpeg_has_multiple_scans(&info);
            }))
            return report("jpeg header");
        return DecodeStatus::Ok;
    }

    // Whether the output and, for a picture scanned more than once, the whole-picture
    // coefficient buffer libjpeg keeps (at any scale) fit the bound together, from the header
    // alone: both are held at once.
    bool fits(int32_t outWidth, int32_t outHeight) const {
        const uint64_t output =
            static_cast<uint64_t>(outWidth) * static_cast<uint64_t>(outHeight) * 4;
        return output + coefficientBytes() <= Image::maxPictureBytes();
    }

    // Sets DCT scaling to 1/2^level and the output to the holder's pixels (CMYK is converted
    // afterwards, see cmyk()), then starts decompressing; a multi-scan picture is read whole
    // here. The defaults (islow DCT, fancy upsampling) are TurboJPEG's, so the pixels match.
    DecodeStatus start(int32_t level) {
        info.scale_num = 1;
        info.scale_denom = 1u << level;
        info.dct_method = JDCT_ISLOW;
        info.do_fancy_upsampling = TRUE;
        cmyk_ = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
        // RGB32 is a native 0xFFRRGGBB word, so its byte order follows the machine's.
        info.out_color_space = cmyk_                                        ? JCS_CMYK
                               : std::endian::native == std::endian::little ? JCS_EXT_BGRX
                                                                            : JCS_EXT_XRGB;
        if (!guarded([&] { jpeg_start_decompress(&info); }))
            return report("jpeg start");
        if (info.output_components != 4)
            return DecodeStatus::Failed;
        return DecodeStatus::Ok;
    }

    // Reads the next count rows into rows.
    DecodeStatus read(JSAMPROW* rows, int32_t count) {
        bool short_ = false;
        if (!guarded([&] {
                for (int32_t got = 0; got < count;) {
                    const JDIMENSION n = jpeg_read_scanlines(&info, rows + got,
                                                             static_cast<JDIMENSION>(count - got));
                    if (n == 0) {
                        short_ = true;
                        return;
                    }
                    got += static_cast<int32_t>(n);
                }
            }))
            return report("jpeg rows");
        return short_ ? DecodeStatus::Failed : DecodeStatus::Ok;
    }

    // Skips count rows from the current one, a chunk of whole iMCU rows at a time.
    DecodeStatus skip(int32_t count, int32_t iMcuRows) {
        const int32_t chunk = kSkipIMcuRows * iMcuRows;
        while (count > 0) {
            if (stop_.stop_requested())
                return DecodeStatus::Cancelled;
            const int32_t rows = std::min(count, chunk);
            if (!guarded([&] { jpeg_skip_scanlines(&info, static_cast<JDIMENSION>(rows)); }))
                return report("jpeg skip");
            count -= rows;
        }
        return DecodeStatus::Ok;
    }

    // Each component's blocks, rounded up to whole iMCUs, at 128 bytes a block.
    size_t coefficientBytes() const {
        if (!multipleScans_)
            return 0;
        size_t bytes = 0;
        for (int c = 0; c < info.num_components; ++c) {
            const jpeg_component_info& comp = info.comp_info[c];
            const auto roundUp = [](size_t n, size_t m) { return (n + m - 1) / m * m; };
            bytes += roundUp(comp.width_in_blocks, static_cast<size_t>(comp.h_samp_factor)) *
                     roundUp(comp.height_in_blocks, static_cast<size_t>(comp.v_samp_factor)) *
                     DCTSIZE2 * sizeof(JCOEF);
        }
        return bytes;
    }

    bool cmyk() const { return cmyk_; }
    bool stopRequested() const { return stop_.stop_requested(); }

    jpeg_decompress_struct info{};

  private:
    static Decompressor& self(j_common_ptr common) {
        return *static_cast<Decompressor*>(common->client_data);
    }
    [[noreturn]] static void errorExit(j_common_ptr common) {
        Decompressor& d = self(common);
        (*common->err->format_message)(common, d.message_);
        std::longjmp(d.jump_, 1);
    }
    // Called as scans are read and rows made: ends a decode no longer wanted and a file of
    // absurdly many scans.
    static void progressMonitor(j_common_ptr common) {
        Decompressor& d = self(common);
        if (d.stop_.stop_requested()) {
            d.cancelled_ = true;
            std::longjmp(d.jump_, 1);
        }
        if (d.info.input_scan_number > kMaxScans) {
            std::snprintf(d.message_, sizeof d.message_, "more than %d scans", kMaxScans);
            std::longjmp(d.jump_, 1);
        }
    }

    DecodeStatus report(const char* step) const {
        if (!cancelled_)
            qCDebug(lcRender) << step << "failed:" << message_;
        return status();
    }

    jpeg_error_mgr errors_{};
    jpeg_progress_mgr progress_{};
    std::jmp_buf jump_{};
    std::stop_token stop_;
    bool cancelled_ = false;
    bool multipleScans_ = false;
    bool cmyk_ = false;
    char message_[JMSG_LENGTH_MAX] = {};
};

// CMYK rows to RGB32 in place, as Qt's reader converts them: the stored values are Adobe's
// inverted CMYK, so each colour is the inverted ink times the inverted black.
void cmykToRgb(uint8_t* row, int32_t count) {
    for (int32_t x = 0; x < count; ++x, row += 4) {
        const uint32_t k = row[3];
        const uint32_t pixel =
            0xFF000000u | (k * row[0] / 255) << 16 | (k * row[1] / 255) << 8 | k * row[2] / 255;
        std::memcpy(row, &pixel, 4);
    }
}

}  // namespace

DecodeStatus readJpegHeader(std::span<const uint8_t> data, PictureHeader& header) {
    Decompressor jpeg{std::stop_token{}};
    if (const DecodeStatus status = jpeg.open(data); status != DecodeStatus::Ok)
        return status;
    header.width = static_cast<int32_t>(jpeg.info.image_width);
    header.height = static_cast<int32_t>(jpeg.info.image_height);
    header.nativeLevels = kScaledLevels;
    header.regions = true;
    return DecodeStatus::Ok;
}

std::optional<uint64_t> jpegCoefficientBytes(std::span<const uint8_t> data) {
    Decompressor jpeg{std::stop_token{}};
    if (jpeg.open(data) != DecodeStatus::Ok)
        return std::nullopt;
    return jpeg.coefficientBytes();
}

DecodeStatus decodeJpegLevel(std::span<const uint8_t> data, int32_t level, Image& out,
                             std::stop_token stop) {
    out.destroy();
    if (level < 0 || level > kMaxLevel)
        return DecodeStatus::Failed;
    Decompressor jpeg(stop);
    if (const DecodeStatus status = jpeg.open(data); status != DecodeStatus::Ok)
        return status;
    const auto width = static_cast<int32_t>(jpeg.info.image_width);
    const auto height = static_cast<int32_t>(jpeg.info.image_height);
    const int32_t levelWidth = levelExtent(width, level);
    const int32_t levelHeight = levelExtent(height, level);
    if (!jpeg.fits(levelWidth, levelHeight))
        return DecodeStatus::OutOfMemory;
    if (stop.stop_requested())
        return DecodeStatus::Cancelled;
    Image image;
    if (!image.create(levelWidth, levelHeight, false))
        return DecodeStatus::OutOfMemory;
    const int32_t scaled = std::min(level, kScaledLevels);
    if (const DecodeStatus status = jpeg.start(scaled); status != DecodeStatus::Ok)
        return status;
    const auto scaledWidth = static_cast<int32_t>(jpeg.info.output_width);
    const auto scaledHeight = static_cast<int32_t>(jpeg.info.output_height);
    if (scaledWidth != levelExtent(width, scaled) || scaledHeight != levelExtent(height, scaled))
        return DecodeStatus::Failed;

    // Beyond 1/8 the rows pass through a batch buffer into the reducer; up to it they are
    // written straight into the picture.
    const int32_t shift = level - scaled;
    std::vector<uint32_t> batch;  // pixels, so the reducer reads them as the words they are
    std::optional<RowReducer> reducer;
    if (shift > 0) {
        batch.resize(static_cast<size_t>(scaledWidth) * kBatchRows);
        reducer.emplace(image, scaledWidth, scaledHeight, shift);
    }
    const PageWarmer warmer(image.row(0), static_cast<size_t>(image.pitch()) * levelHeight);
    JSAMPROW rows[kBatchRows];
    while (jpeg.info.output_scanline < jpeg.info.output_height) {
        if (stop.stop_requested())
            return DecodeStatus::Cancelled;
        const auto first = static_cast<int32_t>(jpeg.info.output_scanline);
        const int32_t count = std::min(kBatchRows, scaledHeight - first);
        for (int32_t i = 0; i < count; ++i)
            rows[i] = shift > 0 ? reinterpret_cast<JSAMPROW>(batch.data() +
                                                             static_cast<size_t>(i) * scaledWidth)
                                : image.row(first + i);
        if (const DecodeStatus status = jpeg.read(rows, count); status != DecodeStatus::Ok)
            return status;
        for (int32_t i = 0; i < count; ++i) {
            if (jpeg.cmyk())
                cmykToRgb(rows[i], scaledWidth);
            if (reducer)
                reducer->addRow(reinterpret_cast<const uint32_t*>(rows[i]));
        }
    }
    jpeg_abort_decompress(&jpeg.info);
    image.setFullSize(width, height);
    out.swap(image);
    return DecodeStatus::Ok;
}

DecodeStatus decodeJpegRegion(std::span<const uint8_t> data, int32_t level, const PixelRect& region,
                              Image& out, std::stop_token stop) {
    out.destroy();
    if (level < 0 || level > kScaledLevels)
        return DecodeStatus::Failed;
    Decompressor jpeg(stop);
    if (const DecodeStatus status = jpeg.open(data); status != DecodeStatus::Ok)
        return status;
    const auto width = static_cast<int32_t>(jpeg.info.image_width);
    const auto height = static_cast<int32_t>(jpeg.info.image_height);
    const int32_t levelWidth = levelExtent(width, level);
    const int32_t levelHeight = levelExtent(height, level);
    const int32_t left = std::clamp(region.x, 0, levelWidth);
    const int32_t top = std::clamp(region.y, 0, levelHeight);
    const auto right = static_cast<int32_t>(std::clamp(
        int64_t{region.x} + std::max(region.width, 0), int64_t{left}, int64_t{levelWidth}));
    const auto bottom = static_cast<int32_t>(std::clamp(
        int64_t{region.y} + std::max(region.height, 0), int64_t{top}, int64_t{levelHeight}));
    if (right == left || bottom == top)
        return DecodeStatus::Failed;
    if (!jpeg.fits(right - left, bottom - top))
        return DecodeStatus::OutOfMemory;
    if (stop.stop_requested())
        return DecodeStatus::Cancelled;
    Image image;
    if (!image.create(right - left, bottom - top, false))
        return DecodeStatus::OutOfMemory;
    if (const DecodeStatus status = jpeg.start(level); status != DecodeStatus::Ok)
        return status;
    if (static_cast<int32_t>(jpeg.info.output_width) != levelWidth ||
        static_cast<int32_t>(jpeg.info.output_height) != levelHeight)
        return DecodeStatus::Failed;

    // Fancy upsampling treats the crop's sides as the picture's edges, so one iMCU more on
    // each side is decoded and dropped: the kept pixels then equal the whole level's. Rows
    // are skipped to one iMCU row ahead of the region, so however the library resumes after a
    // skip, the region's first rows are made as in a whole decode.
    const int32_t iMcuWidth = jpeg.info.max_h_samp_factor * jpeg.info.min_DCT_scaled_size;
    const int32_t iMcuRows = jpeg.info.max_v_samp_factor * jpeg.info.min_DCT_scaled_size;
    auto cropLeft = static_cast<JDIMENSION>(std::max(0, left - iMcuWidth));
    auto cropWidth = static_cast<JDIMENSION>(std::min(levelWidth, right + iMcuWidth)) - cropLeft;
    if (!jpeg.guarded([&] { jpeg_crop_scanline(&jpeg.info, &cropLeft, &cropWidth); }))
        return jpeg.status();
    const int32_t firstRow = std::max(0, (top / iMcuRows - 1) * iMcuRows);
    if (const DecodeStatus status = jpeg.skip(firstRow, iMcuRows); status != DecodeStatus::Ok)
        return status;

    const auto stride = static_cast<size_t>(jpeg.info.output_width) * 4;
    const auto column = static_cast<size_t>(left) - cropLeft;
    std::vector<uint8_t> batch(stride * kBatchRows);
    const PageWarmer warmer(image.row(0), static_cast<size_t>(image.pitch()) * image.height());
    JSAMPROW rows[kBatchRows];
    while (static_cast<int32_t>(jpeg.info.output_scanline) < bottom) {
        if (stop.stop_requested())
            return DecodeStatus::Cancelled;
        const auto first = static_cast<int32_t>(jpeg.info.output_scanline);
        const int32_t count = std::min(kBatchRows, bottom - first);
        for (int32_t i = 0; i < count; ++i)
            rows[i] = batch.data() + static_cast<size_t>(i) * stride;
        if (const DecodeStatus status = jpeg.read(rows, count); status != DecodeStatus::Ok)
            return status;
        for (int32_t i = std::max(0, top - first); i < count; ++i) {
            uint8_t* wanted = rows[i] + column * 4;
            if (jpeg.cmyk())
                cmykToRgb(wanted, right - left);
            std::memcpy(image.row(first + i - top), wanted, static_cast<size_t>(right - left) * 4);
        }
    }
    jpeg_abort_decompress(&jpeg.info);  // the rows below the region are never read
    out.swap(image);
    return DecodeStatus::Ok;
}
