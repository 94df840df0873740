#include "render/decode/jpeg2000_decoder.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "render/decode/jpeg2000_codestream.h"
#include "render/decode/row_reducer.h"

namespace {

using jpeg2000_detail::Codestream;
using jpeg2000_detail::GridRect;
using jpeg2000_detail::kMaxComponents;

uint64_t ceilDiv(uint64_t a, uint64_t b) {
    return (a + b - 1) / b;
}
uint64_t ceilShift(uint64_t a, int32_t shift) {
    return (a + (uint64_t{1} << shift) - 1) >> shift;
}

// One axis of the picture on the reference grid: the image area, the tile grid, and the
// sample steps of the components we use.
struct Axis {
    uint32_t origin = 0;
    uint32_t end = 0;
    uint64_t tileOrigin = 0;
    uint64_t tileSize = 0;
    std::array<uint32_t, kMaxComponents> steps{};
};

// What the main header says about the picture, checked before anything is decoded.
struct Layout {
    Axis x, y;
    int32_t width = 0;
    int32_t height = 0;
    int32_t nativeLevels = 0;
    uint32_t components = 0;  // those we use
    bool singleTile = true;
};

// Sizes no Image can hold are OutOfMemory, anything else unusable is Failed.
DecodeStatus readLayout(const Codestream& codestream, Layout& layout) {
    const opj_image_t& header = codestream.header();
    if (header.x1 <= header.x0 || header.y1 <= header.y0 || header.numcomps == 0 ||
        header.comps == nullptr)
        return DecodeStatus::Failed;
    const uint64_t width = header.x1 - header.x0;
    const uint64_t height = header.y1 - header.y0;
    if (width > INT32_MAX || height > INT32_MAX)
        return DecodeStatus::OutOfMemory;
    layout.width = static_cast<int32_t>(width);
    layout.height = static_cast<int32_t>(height);
    layout.x.origin = header.x0;
    layout.x.end = header.x1;
    layout.y.origin = header.y0;
    layout.y.end = header.y1;
    layout.components = std::min<uint32_t>(header.numcomps, kMaxComponents);
    for (uint32_t c = 0; c < layout.components; ++c) {
        const opj_image_comp_t& comp = header.comps[c];
        if (comp.dx == 0 || comp.dy == 0 || comp.prec == 0 || comp.prec > 31)
            return DecodeStatus::Failed;
        layout.x.steps[c] = comp.dx;
        layout.y.steps[c] = comp.dy;
    }
    opj_codestream_info_v2_t* info = opj_get_cstr_info(codestream.codec());
    if (info == nullptr)
        return DecodeStatus::Failed;
    const opj_tccp_info_t* tccp = info->m_default_tile_info.tccp_info;
    bool ok = tccp != nullptr && info->nbcomps >= layout.components;
    uint32_t resolutions = UINT32_MAX;
    for (uint32_t c = 0; ok && c < layout.components; ++c)
        resolutions = std::min(resolutions, tccp[c].numresolutions);
    ok = ok && resolutions >= 1;
    layout.nativeLevels = ok ? static_cast<int32_t>(resolutions - 1) : 0;
    layout.x.tileOrigin = info->tx0;
    layout.x.tileSize = info->tdx;
    layout.y.tileOrigin = info->ty0;
    layout.y.tileSize = info->tdy;
    layout.singleTile = info->tw == 1 && info->th == 1;
    opj_destroy_cstr_info(&info);
    return ok ? DecodeStatus::Ok : DecodeStatus::Failed;
}

// Which sample of a component, at OpenJPEG's resolution `reduce`, each pixel of that level
// shows along one axis: the one at or before the pixel's top-left corner on the reference
// grid, clamped into the component. Sample numbers are absolute, as OpenJPEG counts them: a
// component spans ceil(ceil(origin / step) / 2^reduce) up to ceil(ceil(end / step) / 2^reduce).
struct AxisMap {
    uint64_t origin;
    uint64_t span;  // of one sample on the reference grid: step * 2^reduce
    int32_t reduce;
    uint64_t first;
    uint64_t end;

    AxisMap(uint32_t origin, uint32_t end, uint32_t step, int32_t reduce)
        : origin(origin),
          span(uint64_t{step} << reduce),
          reduce(reduce),
          first(ceilShift(ceilDiv(origin, step), reduce)),
          end(ceilShift(ceilDiv(end, step), reduce)) {}
    AxisMap(const Axis& axis, uint32_t component, int32_t reduce)
        : AxisMap(axis.origin, axis.end, axis.steps[component], reduce) {}

    bool empty() const { return end <= first; }
    uint64_t sample(int64_t pixel) const {
        return std::clamp((origin + (static_cast<uint64_t>(pixel) << reduce)) / span, first,
                          end - 1);
    }
    // The reference-grid coordinates whose decode area starts at `sample`, or ends just after it.
    uint64_t gridStart(uint64_t sample) const { return sample * span; }
    uint64_t gridEnd(uint64_t sample) const { return sample * span + 1; }
};

bool componentsKept(const Layout& layout, int32_t reduce) {
    for (uint32_t c = 0; c < layout.components; ++c) {
        if (AxisMap(layout.x, c, reduce).empty() || AxisMap(layout.y, c, reduce).empty())
            return false;
    }
    return true;
}

// The reference-grid span whose decode gives every component's samples for the pixels from
// `from` up to `to` along one axis of level `reduce`.
std::pair<uint64_t, uint64_t> gridSpan(const Axis& axis, uint32_t components, int32_t reduce,
                                       int64_t from, int64_t to) {
    uint64_t start = UINT64_MAX, end = 0;
    for (uint32_t c = 0; c < components; ++c) {
        const AxisMap map(axis, c, reduce);
        start = std::min(start, map.gridStart(map.sample(from)));
        end = std::max(end, map.gridEnd(map.sample(to - 1)));
    }
    return {std::max<uint64_t>(start, axis.origin), std::min<uint64_t>(end, axis.end)};
}

GridRect windowFor(const Layout& layout, int32_t reduce, const PixelRect& area) {
    const auto [x0, x1] =
        gridSpan(layout.x, layout.components, reduce, area.x, int64_t{area.x} + area.width);
    const auto [y0, y1] =
        gridSpan(layout.y, layout.components, reduce, area.y, int64_t{area.y} + area.height);
    return {x0, y0, x1, y1};
}

// Tile edges along one axis, in pixels of level `reduce`: a tile begins at the first pixel
// whose samples all lie in it. Only tiles at least `minTile` pixels long at this level have
// edges; smaller ones, or steps so coarse that a pixel's samples may lie tiles apart, leave a
// band to cross them.
class TileEdges {
  public:
    TileEdges(const Axis& axis, uint32_t components, int32_t reduce, int64_t extent,
              int64_t minTile)
        : axis_(axis), components_(components), reduce_(reduce), extent_(extent) {
        uint32_t widest = 1;
        for (uint32_t c = 0; c < components; ++c)
            widest = std::max(widest, axis.steps[c]);
        const int64_t tile = static_cast<int64_t>(axis.tileSize >> reduce);
        on_ = axis.tileOrigin <= axis.origin && tile >= minTile && tile > 2 * int64_t{widest};
    }

    // The first edge after pixel p, or the level's extent.
    int64_t after(int64_t p) const {
        if (!on_)
            return extent_;
        const uint64_t corner = axis_.origin + (static_cast<uint64_t>(p) << reduce_);
        const uint64_t tile = (corner - axis_.tileOrigin) / axis_.tileSize;
        for (uint64_t k = tile; k <= tile + 1; ++k) {
            const uint64_t boundary = axis_.tileOrigin + k * axis_.tileSize;
            if (boundary <= axis_.origin || boundary >= axis_.end)
                continue;
            if (const int64_t edge = edgeOf(boundary); edge > p)
                return std::min(edge, extent_);
        }
        return extent_;
    }
    bool at(int64_t p) const { return p == 0 || p == extent_ || (on_ && after(p - 1) == p); }

  private:
    int64_t edgeOf(uint64_t boundary) const {
        int64_t edge = 0;
        const uint64_t unit = uint64_t{1} << reduce_;
        for (uint32_t c = 0; c < components_; ++c) {
            const uint64_t step = axis_.steps[c];
            const uint64_t first = ceilShift(ceilDiv(boundary, step), reduce_) * step * unit;
            edge = std::max(edge, static_cast<int64_t>(ceilDiv(first - axis_.origin, unit)));
        }
        return edge;
    }

    const Axis& axis_;
    uint32_t components_;
    int32_t reduce_;
    int64_t extent_;
    bool on_ = false;
};

// Brings one component's samples to 0..255 through a lookup-free shift or stretch.
struct Scale {
    int32_t offset = 0;  // added first: makes signed samples unsigned
    int32_t shift = 0;   // for precisions above 8 bits
    int32_t maxValue = 255;

    explicit Scale(const opj_image_comp_t& comp)
        : offset(comp.sgnd ? 1 << (comp.prec - 1) : 0),
          shift(comp.prec > 8 ? static_cast<int32_t>(comp.prec) - 8 : 0),
          maxValue(comp.prec < 8 ? (1 << comp.prec) - 1 : 255) {}

    uint8_t operator()(int32_t sample) const {
        int64_t v = (int64_t{sample} + offset) >> shift;
        v = std::clamp<int64_t>(v, 0, maxValue);
        return static_cast<uint8_t>(maxValue == 255 ? v : (v * 255 + maxValue / 2) / maxValue);
    }
};

// One decoded component, indexed by the pixels of a piece: where each of its columns and rows
// finds its sample in the component's data.
struct Plane {
    const int32_t* data = nullptr;
    std::vector<uint32_t> columns;
    std::vector<size_t> rows;
    Scale scale;

    explicit Plane(const opj_image_comp_t& comp) : data(comp.data), scale(comp) {}

    uint8_t at(size_t row, uint32_t x) const { return scale(data[rows[row] + columns[x]]); }
};

// The indices of `count` pixels from `from` into a decoded window starting at sample
// `windowFirst` and `windowCount` samples long; false when the window misses one.
bool indexAxis(const AxisMap& map, int64_t from, int32_t count, uint64_t windowFirst,
               uint64_t windowCount, auto&& put) {
    if (map.empty() || map.sample(from) < windowFirst ||
        map.sample(from + count - 1) - windowFirst >= windowCount)
        return false;
    for (int32_t i = 0; i < count; ++i)
        put(i, map.sample(from + i) - windowFirst);
    return true;
}

// OpenJPEG keeps a reduced window's component origin at full resolution; its samples at the
// reduced resolution start at that origin divided by 2^factor, rounded up.
bool makePlane(const Layout& layout, int32_t reduce, const opj_image_comp_t& comp,
               const PixelRect& piece, Plane& plane) {
    if (comp.data == nullptr || comp.w == 0 || comp.h == 0 || comp.dx == 0 || comp.dy == 0 ||
        comp.prec == 0 || comp.prec > 31 || comp.factor != static_cast<uint32_t>(reduce))
        return false;
    plane.columns.resize(static_cast<size_t>(piece.width));
    plane.rows.resize(static_cast<size_t>(piece.height));
    const AxisMap columns(layout.x.origin, layout.x.end, comp.dx, reduce);
    const AxisMap rows(layout.y.origin, layout.y.end, comp.dy, reduce);
    return indexAxis(columns, piece.x, piece.width, ceilShift(comp.x0, reduce), comp.w,
                     [&](int32_t i, uint64_t k) { plane.columns[i] = static_cast<uint32_t>(k); }) &&
           indexAxis(rows, piece.y, piece.height, ceilShift(comp.y0, reduce), comp.h,
                     [&](int32_t i, uint64_t k) { plane.rows[i] = k * comp.w; });
}

uint8_t clampByte(float v) {
    return static_cast<uint8_t>(std::clamp(v + 0.5f, 0.0f, 255.0f));
}

void yccToRgb(uint8_t& c0, uint8_t& c1, uint8_t& c2) {
    const float y = c0, cb = c1 - 128.0f, cr = c2 - 128.0f;
    c0 = clampByte(y + 1.402f * cr);
    c1 = clampByte(y - 0.344136f * cb - 0.714136f * cr);
    c2 = clampByte(y + 1.772f * cb);
}

// How the decoded components make a pixel.
struct Colour {
    uint32_t count = 0;
    bool cmyk = false;
    bool alpha = false;
    bool ycc = false;
    friend bool operator==(const Colour&, const Colour&) = default;
};

// Chroma stored at a coarser grid than luma is YCbCr even when the file does not say so.
Colour colourOf(const opj_image_t& image) {
    Colour colour;
    colour.count = std::min<uint32_t>(image.numcomps, kMaxComponents);
    colour.cmyk = image.color_space == OPJ_CLRSPC_CMYK && colour.count == 4;
    colour.alpha = (colour.count == 2 || colour.count == 4) && !colour.cmyk;
    const opj_image_comp_t* c = image.comps;
    colour.ycc =
        image.numcomps >= 3 &&
        (image.color_space == OPJ_CLRSPC_SYCC || image.color_space == OPJ_CLRSPC_EYCC ||
         (image.color_space == OPJ_CLRSPC_UNSPECIFIED &&
          (c[1].dx > c[0].dx || c[1].dy > c[0].dy || c[2].dx > c[0].dx || c[2].dy > c[0].dy)));
    return colour;
}

void convertRow(const std::vector<Plane>& planes, const Colour& colour, size_t row, int32_t width,
                uint32_t* pixel) {
    for (int32_t x = 0; x < width; ++x) {
        uint8_t r = planes[0].at(row, x), g = r, b = r, a = 255;
        if (colour.count >= 3) {
            g = planes[1].at(row, x);
            b = planes[2].at(row, x);
            if (colour.ycc)
                yccToRgb(r, g, b);
        }
        if (colour.cmyk) {
            const int k = 255 - planes[3].at(row, x);
            r = static_cast<uint8_t>((255 - r) * k / 255);
            g = static_cast<uint8_t>((255 - g) * k / 255);
            b = static_cast<uint8_t>((255 - b) * k / 255);
        } else if (colour.alpha) {
            a = planes[colour.count - 1].at(row, x);
        }
        // QImage's 32-bit formats hold a native 0xAARRGGBB word per pixel.
        pixel[x] = uint32_t{a} << 24 | uint32_t{r} << 16 | uint32_t{g} << 8 | b;
    }
}

// Budgets for OpenJPEG's own 32-bit samples. A decode area takes several times its samples'
// size (sparse arrays, code-block buffers) and is cut into bands of kDefaultBandBytes: a
// band then takes about 30 MB and 100 to 200 ms. Whole tiles, the whole picture being one,
// take little more than their samples and decode fastest, so they go at once up to a larger
// budget.
constexpr size_t kDefaultBandBytes = size_t{8} << 20;
constexpr size_t kWholeToBand = 3;
// A single row of samples beyond this is no picture we decode.
constexpr size_t kMaxRowBytes = size_t{64} << 20;
// Tiles smaller than these at the decoded level are crossed by a band rather than cut at.
constexpr int64_t kMinTileColumns = 256;
constexpr int64_t kMinTileRows = 16;
std::atomic<size_t> bandBytes{kDefaultBandBytes};

// OpenJPEG's samples for one row of `width` pixels, an upper bound.
uint64_t rowSampleBytes(const Layout& layout, int64_t width) {
    uint64_t bytes = 0;
    for (uint32_t c = 0; c < layout.components; ++c)
        bytes += (ceilDiv(static_cast<uint64_t>(width), layout.x.steps[c]) + 1) * 4;
    return bytes;
}

// Decodes `area` of level `reduce`, which OpenJPEG makes by itself, into out (created here),
// reducing it by a further 2^shift as its rows arrive. The area goes in bands of rows, each
// cut at the tile columns into pieces; bands of whole tiles follow the tile rows. stop is
// checked before each piece. A single-tile codestream keeps one codec for all pieces, which
// OpenJPEG allows and which spares re-reading the tile; a tiled one opens a codec per piece.
DecodeStatus decodeArea(std::span<const uint8_t> data, Codestream& first, const Layout& layout,
                        int32_t reduce, const PixelRect& area, int32_t shift, Image& out,
                        std::stop_token stop) {
    const TileEdges columnEdges(layout.x, layout.components, reduce,
                                levelExtent(layout.width, reduce), kMinTileColumns);
    const TileEdges rowEdges(layout.y, layout.components, reduce,
                             levelExtent(layout.height, reduce), kMinTileRows);
    const int64_t right = int64_t{area.x} + area.width;
    const int64_t bottom = int64_t{area.y} + area.height;
    std::vector<int64_t> columns{area.x};
    int64_t widest = 0;
    while (columns.back() < right) {
        columns.push_back(std::min(columnEdges.after(columns.back()), right));
        widest = std::max(widest, columns.back() - columns[columns.size() - 2]);
    }
    const bool wholeColumns = columnEdges.at(area.x) && columnEdges.at(right);
    // Reduced rows wait in `staging` until a band's pieces are all converted.
    const uint64_t rowBytes = std::max(rowSampleBytes(layout, widest),
                                       shift > 0 ? uint64_t{4} * area.width : uint64_t{0});
    if (rowBytes > kMaxRowBytes)
        return DecodeStatus::OutOfMemory;
    const uint64_t budget = bandBytes.load(std::memory_order_relaxed);
    const uint64_t wholeBudget = budget * kWholeToBand;
    const auto bandRows = static_cast<int64_t>(std::max<uint64_t>(budget / rowBytes, 1));
    if (reduce > 0 && !opj_set_decoded_resolution_factor(first.codec(), reduce))
        return DecodeStatus::Failed;

    Image result;
    std::optional<RowReducer> reducer;
    std::vector<uint32_t> staging;
    Colour colour;
    std::unique_ptr<Codestream> fresh;
    Codestream* codestream = &first;
    GridRect window;
    int64_t pieces = 0;
    for (int64_t top = area.y; top < bottom;) {
        int64_t end = std::min(rowEdges.after(top), bottom);
        if (wholeColumns && rowEdges.at(top) && rowEdges.at(end) &&
            rowBytes * static_cast<uint64_t>(end - top) <= wholeBudget) {
            while (end < bottom) {
                const int64_t next = std::min(rowEdges.after(end), bottom);
                if (!rowEdges.at(next) ||
                    rowBytes * static_cast<uint64_t>(next - top) > wholeBudget)
                    break;
                end = next;
            }
        } else {
            end = std::min(end, top + bandRows);
        }
        if (shift > 0)
            staging.resize(std::max(staging.size(), static_cast<size_t>(end - top) * area.width));
        for (size_t i = 0; i + 1 < columns.size(); ++i) {
            if (stop.stop_requested())
                return DecodeStatus::Cancelled;
            const PixelRect piece{static_cast<int32_t>(columns[i]), static_cast<int32_t>(top),
                                  static_cast<int32_t>(columns[i + 1] - columns[i]),
                                  static_cast<int32_t>(end - top)};
            if (pieces++ > 0 && !layout.singleTile) {
                first.release();
                fresh = std::make_unique<Codestream>(data);
                if (fresh->open() != DecodeStatus::Ok ||
                    (reduce > 0 && !opj_set_decoded_resolution_factor(fresh->codec(), reduce)))
                    return DecodeStatus::Failed;
                codestream = fresh.get();
            }
            window = windowFor(layout, reduce, piece);
            const opj_image_t* image = codestream->decode(window);
            if (image == nullptr)
                return DecodeStatus::Failed;
            if (result.empty()) {
                colour = colourOf(*image);
                if (colour.count == 0 ||
                    !result.create(levelExtent(area.width, shift), levelExtent(area.height, shift),
                                   colour.alpha))
                    return DecodeStatus::Failed;
                if (shift > 0)
                    reducer.emplace(result, area.width, area.height, shift);
            } else if (colourOf(*image) != colour) {
                return DecodeStatus::Failed;
            }
            std::vector<Plane> planes;
            for (uint32_t c = 0; c < colour.count; ++c) {
                planes.emplace_back(image->comps[c]);
                if (!makePlane(layout, reduce, image->comps[c], piece, planes.back()))
                    return DecodeStatus::Failed;
            }
            const int32_t left = piece.x - area.x;
            for (int32_t y = 0; y < piece.height; ++y) {
                uint32_t* row =
                    shift > 0
                        ? staging.data() + static_cast<size_t>(y) * area.width + left
                        : reinterpret_cast<uint32_t*>(result.row(piece.y - area.y + y)) + left;
                convertRow(planes, colour, static_cast<size_t>(y), piece.width, row);
            }
        }
        if (reducer) {
            for (int64_t y = 0; y < end - top; ++y)
                reducer->addRow(staging.data() + static_cast<size_t>(y) * area.width);
        }
        top = end;
    }
    // A tiled codestream's decode area stops reading at its last tile, short of the end.
    const bool readAll =
        layout.singleTile ||
        (pieces == 1 && window.x0 == layout.x.origin && window.y0 == layout.y.origin &&
         window.x1 == layout.x.end && window.y1 == layout.y.end);
    if (readAll && !codestream->finish())
        return DecodeStatus::Failed;
    out.swap(result);
    return DecodeStatus::Ok;
}

DecodeStatus openLayout(Codestream& codestream, Layout& layout) {
    if (const DecodeStatus status = codestream.open(); status != DecodeStatus::Ok)
        return status;
    return readLayout(codestream, layout);
}

bool exceedsPictureBytes(int64_t width, int64_t height) {
    return static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4 >
           Image::maxPictureBytes();
}

// OpenJPEG sets up every code-block of a tile it decodes, whatever the level or area, so the
// 32-bit samples of the largest tile at full resolution are bounded like a picture's bytes.
bool tileTooLarge(const Layout& layout) {
    const uint64_t width = std::min<uint64_t>(layout.x.tileSize, layout.width);
    const uint64_t height = std::min<uint64_t>(layout.y.tileSize, layout.height);
    uint64_t samples = 0;
    for (uint32_t c = 0; c < layout.components; ++c)
        samples +=
            (ceilDiv(width, layout.x.steps[c]) + 1) * (ceilDiv(height, layout.y.steps[c]) + 1);
    return samples * sizeof(OPJ_INT32) > Image::maxPictureBytes();
}

}  // namespace

bool isJpeg2000(std::span<const uint8_t> data) {
    return jpeg2000_detail::startsWithJp2Signature(data) ||
           jpeg2000_detail::startsWithJ2kSignature(data);
}

void setJpeg2000BandBytes(size_t bytes) {
    bandBytes.store(bytes == 0 ? kDefaultBandBytes : bytes, std::memory_order_relaxed);
}

DecodeStatus decodeJpeg2000(std::span<const uint8_t> data, Image& out) {
    return decodeJpeg2000Level(data, 0, out);
}

DecodeStatus readJpeg2000Header(std::span<const uint8_t> data, PictureHeader& header) {
    Codestream codestream(data);
    Layout layout;
    if (const DecodeStatus status = openLayout(codestream, layout); status != DecodeStatus::Ok)
        return status;
    header.width = layout.width;
    header.height = layout.height;
    header.nativeLevels = layout.nativeLevels;
    header.regions = true;
    return DecodeStatus::Ok;
}

DecodeStatus decodeJpeg2000Level(std::span<const uint8_t> data, int32_t level, Image& out,
                                 std::stop_token stop) {
    out.destroy();
    if (level < 0 || level > kMaxLevel)
        return DecodeStatus::Failed;
    Codestream codestream(data);
    Layout layout;
    if (const DecodeStatus status = openLayout(codestream, layout); status != DecodeStatus::Ok)
        return status;
    if (exceedsPictureBytes(levelExtent(layout.width, level), levelExtent(layout.height, level)) ||
        tileTooLarge(layout))
        return DecodeStatus::OutOfMemory;
    // A component too small to keep a sample at OpenJPEG's deepest levels leaves the rest to
    // the row reducer.
    int32_t reduce = std::min(level, layout.nativeLevels);
    while (reduce > 0 && !componentsKept(layout, reduce))
        --reduce;
    if (!componentsKept(layout, reduce))
        return DecodeStatus::Failed;
    const PixelRect area{0, 0, levelExtent(layout.width, reduce),
                         levelExtent(layout.height, reduce)};
    const DecodeStatus status =
        decodeArea(data, codestream, layout, reduce, area, level - reduce, out, stop);
    if (status == DecodeStatus::Ok)
        out.setFullSize(layout.width, layout.height);
    return status;
}

DecodeStatus decodeJpeg2000Region(std::span<const uint8_t> data, int32_t level,
                                  const PixelRect& region, Image& out, std::stop_token stop) {
    out.destroy();
    Codestream codestream(data);
    Layout layout;
    if (const DecodeStatus status = openLayout(codestream, layout); status != DecodeStatus::Ok)
        return status;
    if (level < 0 || level > layout.nativeLevels || level > kMaxLevel ||
        !componentsKept(layout, level))
        return DecodeStatus::Failed;
    const int64_t left = std::max<int64_t>(region.x, 0);
    const int64_t top = std::max<int64_t>(region.y, 0);
    const int64_t right =
        std::min<int64_t>(int64_t{region.x} + region.width, levelExtent(layout.width, level));
    const int64_t bottom =
        std::min<int64_t>(int64_t{region.y} + region.height, levelExtent(layout.height, level));
    if (right <= left || bottom <= top)
        return DecodeStatus::Failed;
    if (exceedsPictureBytes(right - left, bottom - top) || tileTooLarge(layout))
        return DecodeStatus::OutOfMemory;
    const PixelRect area{static_cast<int32_t>(left), static_cast<int32_t>(top),
                         static_cast<int32_t>(right - left), static_cast<int32_t>(bottom - top)};
    return decodeArea(data, codestream, layout, level, area, 0, out, stop);
}
