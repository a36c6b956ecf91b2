#include "platform/raster.h"

#include "platform/huge_pages.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define VANTREL_RASTER_SSSE3 1
#endif

namespace vantrel::platform {
namespace {

inline std::uint32_t load32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// 24-bit pixels p[0..n) as 0xFFRRGGBB into out; when `keyed`, pixels of colour `key` (low 24
// bits) leave out[] as it is. The plain loops are the reference the vector loops must equal.
void bgr24RowPlain(const std::uint8_t* p, std::uint32_t* out, int n, bool keyed,
                   std::uint32_t key) {
    int i = 0;
    // A 4-byte load takes one pixel plus the next byte, which the opaque top byte covers; the
    // last pixel is read bytewise so no load passes the row's end.
    for (; i + 1 < n; ++i, p += 3) {
        const std::uint32_t v = load32(p) | kOpaque;
        out[i] = keyed && (v & 0xFFFFFFu) == key ? out[i] : v;
    }
    if (i < n) {
        const std::uint32_t v =
            kOpaque | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
        out[i] = keyed && (v & 0xFFFFFFu) == key ? out[i] : v;
    }
}

#ifdef VANTREL_RASTER_SSSE3
// Four pixels per step: one 16-byte load (of which 12 bytes are used), a byte shuffle into
// 32-bit lanes, and for keyed rows a compare and select against the target.
__attribute__((target("ssse3"))) void bgr24RowSsse3(const std::uint8_t* p, std::uint32_t* out,
                                                    int n, bool keyed, std::uint32_t key) {
    const __m128i order = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(kOpaque));
    const __m128i keyPixel = _mm_set1_epi32(static_cast<int>(key | kOpaque));
    int i = 0;
    for (; i + 6 <= n; i += 4) { // 16 bytes readable from pixel i
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 3 * i));
        const __m128i pixels = _mm_or_si128(_mm_shuffle_epi8(v, order), opaque);
        __m128i* to = reinterpret_cast<__m128i*>(out + i);
        if (keyed) {
            // Runs of the key (the paper of a scan) leave the target untouched, not even
            // rewritten, so its cache lines stay clean.
            const __m128i same = _mm_cmpeq_epi32(pixels, keyPixel);
            const int mask = _mm_movemask_epi8(same);
            if (mask == 0) {
                _mm_storeu_si128(to, pixels);
            } else if (mask != 0xFFFF) {
                const __m128i kept = _mm_and_si128(same, _mm_loadu_si128(to));
                _mm_storeu_si128(to, _mm_or_si128(kept, _mm_andnot_si128(same, pixels)));
            }
        } else {
            _mm_storeu_si128(to, pixels);
        }
    }
    bgr24RowPlain(p + 3 * i, out + i, n - i, keyed, key);
}

// The same with eight pixels per step (two 12-byte groups, one per 128-bit lane).
__attribute__((target("avx2"))) void bgr24RowAvx2(const std::uint8_t* p, std::uint32_t* out, int n,
                                                  bool keyed, std::uint32_t key) {
    const __m256i order = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0,
                                           1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m256i opaque = _mm256_set1_epi32(static_cast<int>(kOpaque));
    const __m256i keyPixel = _mm256_set1_epi32(static_cast<int>(key | kOpaque));
    int i = 0;
    for (; i + 10 <= n; i += 8) { // 16 bytes readable from pixel i + 4
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 3 * i));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 3 * i + 12));
        const __m256i v = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
        const __m256i pixels = _mm256_or_si256(_mm256_shuffle_epi8(v, order), opaque);
        __m256i* to = reinterpret_cast<__m256i*>(out + i);
        if (keyed) {
            const __m256i same = _mm256_cmpeq_epi32(pixels, keyPixel);
            const int mask = _mm256_movemask_epi8(same);
            if (mask == 0) {
                _mm256_storeu_si256(to, pixels);
            } else if (mask != -1) {
                _mm256_storeu_si256(to, _mm256_blendv_epi8(pixels, _mm256_loadu_si256(to), same));
            }
        } else {
            _mm256_storeu_si256(to, pixels);
        }
    }
    bgr24RowSsse3(p + 3 * i, out + i, n - i, keyed, key);
}

// Sixteen pixels per step: 48 bytes loaded under a byte mask (nothing past the row is touched),
// one byte permutation into 32-bit lanes, and for keyed rows a store under the mask of the
// pixels that differ from the key, so the target is never read and runs of the key are never
// written.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void
bgr24RowAvx512(const std::uint8_t* p, std::uint32_t* out, int n, bool keyed, std::uint32_t key) {
    alignas(64) static constexpr std::uint8_t kOrder[64] = {
        0,  1,  2,  0,  3,  4,  5,  0,  6,  7,  8,  0,  9,  10, 11, 0,  12, 13, 14, 0,  15, 16,
        17, 0,  18, 19, 20, 0,  21, 22, 23, 0,  24, 25, 26, 0,  27, 28, 29, 0,  30, 31, 32, 0,
        33, 34, 35, 0,  36, 37, 38, 0,  39, 40, 41, 0,  42, 43, 44, 0,  45, 46, 47, 0};
    const __m512i order = _mm512_load_si512(kOrder);
    const __m512i opaque = _mm512_set1_epi32(static_cast<int>(kOpaque));
    const __m512i keyPixel = _mm512_set1_epi32(static_cast<int>(key | kOpaque));
    constexpr __mmask64 k48Bytes = (__mmask64{1} << 48) - 1;
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m512i v = _mm512_maskz_loadu_epi8(k48Bytes, p + 3 * i);
        // (The zero-masking form: GCC 12 warns about the undefined merge source of the plain
        // intrinsic.)
        const __m512i pixels =
            _mm512_or_si512(_mm512_maskz_permutexvar_epi8(~__mmask64{0}, order, v), opaque);
        if (keyed) {
            _mm512_mask_storeu_epi32(out + i, _mm512_cmpneq_epi32_mask(pixels, keyPixel), pixels);
        } else {
            _mm512_storeu_si512(out + i, pixels);
        }
    }
    bgr24RowPlain(p + 3 * i, out + i, n - i, keyed, key);
}
#endif

VectorPath gVectorPath = VectorPath::Best;

void bgr24Row(const std::uint8_t* p, std::uint32_t* out, int n, bool keyed, std::uint32_t key) {
#ifdef VANTREL_RASTER_SSSE3
    static const bool avx512 = __builtin_cpu_supports("avx512f") &&
                               __builtin_cpu_supports("avx512bw") &&
                               __builtin_cpu_supports("avx512vbmi");
    static const bool avx2 = __builtin_cpu_supports("avx2");
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    const VectorPath path = gVectorPath;
    if (avx512 && path == VectorPath::Best) {
        bgr24RowAvx512(p, out, n, keyed, key);
        return;
    }
    if (avx2 && (path == VectorPath::Best || path == VectorPath::Avx2)) {
        bgr24RowAvx2(p, out, n, keyed, key);
        return;
    }
    if (ssse3 && path != VectorPath::Plain) {
        bgr24RowSsse3(p, out, n, keyed, key);
        return;
    }
#endif
    bgr24RowPlain(p, out, n, keyed, key);
}

// Reads source rows as 0xFFRRGGBB; indexed formats go through a full 256-entry table so that
// an index beyond the colour table reads as black without a test per pixel.
class RowReader {
public:
    explicit RowReader(const PixelSource& source)
        : s_(source) {
        lut_.fill(kOpaque);
        const std::size_t n = std::min<std::size_t>(source.palette.size(), lut_.size());
        for (std::size_t i = 0; i < n; ++i) {
            lut_[i] = source.palette[i] | kOpaque;
        }
    }

    void read(int y, int x0, int count, std::uint32_t* out) const {
        const std::uint8_t* r = s_.row(y);
        switch (s_.format) {
        case PixelSource::Format::Bgr24:
            bgr24Row(r + std::size_t(x0) * 3, out, count, false, 0);
            break;
        case PixelSource::Format::Bgrx32: {
            const std::uint8_t* p = r + std::size_t(x0) * 4;
            for (int i = 0; i < count; ++i) {
                out[i] = load32(p + std::size_t(i) * 4) | kOpaque;
            }
            break;
        }
        case PixelSource::Format::Indexed8:
            for (int i = 0; i < count; ++i) {
                out[i] = lut_[r[x0 + i]];
            }
            break;
        case PixelSource::Format::Indexed1:
            for (int i = 0; i < count; ++i) {
                const int x = x0 + i;
                out[i] = lut_[(r[x >> 3] >> (7 - (x & 7))) & 1];
            }
            break;
        }
    }

private:
    const PixelSource& s_;
    std::array<std::uint32_t, 256> lut_;
};

// The source columns (or rows) that make up one target column (or row).
struct Span {
    int first;
    int count;
};

// Maps target coordinates [from, to) of a dstLen-long axis onto a srcLen-long source axis.
// Nearest: the source pixel under the target pixel's centre. Average (only when shrinking): every
// source pixel whose start lies inside the target pixel, at least one.
std::vector<Span> axisMap(int srcLen, int dstLen, int from, int to, bool average) {
    std::vector<Span> map;
    map.reserve(std::size_t(to - from));
    const std::int64_t s = srcLen;
    const std::int64_t d = dstLen;
    for (std::int64_t i = from; i < to; ++i) {
        if (average && dstLen < srcLen) {
            const auto a = static_cast<int>(i * s / d);
            const auto b = static_cast<int>((i + 1) * s / d);
            map.push_back({a, std::max(b, a + 1) - a});
        } else {
            map.push_back({static_cast<int>(((2 * i + 1) * s) / (2 * d)), 1});
        }
    }
    return map;
}

inline std::uint32_t ternary(std::uint32_t index, std::uint32_t p, std::uint32_t s,
                             std::uint32_t d) {
    std::uint32_t r = 0;
    for (std::uint32_t m = 0; m < 8; ++m) {
        if (index >> m & 1) {
            r |= ((m & 4) ? p : ~p) & ((m & 2) ? s : ~s) & ((m & 1) ? d : ~d);
        }
    }
    return r;
}

// dst = rop(brush, src, dst) over n pixels, keeping the top byte opaque.
void combineRow(std::uint32_t index, std::uint32_t brush, const std::uint32_t* src,
                std::uint32_t* dst, int n) {
    switch (index) {
    case 0xCC:
        std::memcpy(dst, src, std::size_t(n) * 4);
        return;
    case 0x33:
        for (int i = 0; i < n; ++i) {
            dst[i] = ~src[i] | kOpaque;
        }
        return;
    case 0x66:
        for (int i = 0; i < n; ++i) {
            dst[i] = (src[i] ^ dst[i]) | kOpaque;
        }
        return;
    case 0xEE:
        for (int i = 0; i < n; ++i) {
            dst[i] |= src[i];
        }
        return;
    case 0x88:
        for (int i = 0; i < n; ++i) {
            dst[i] = (src[i] & dst[i]) | kOpaque;
        }
        return;
    default:
        for (int i = 0; i < n; ++i) {
            dst[i] = ternary(index, brush, src[i], dst[i]) | kOpaque;
        }
    }
}

// Produces stretched target rows: the source pixels of each target pixel, averaged when a span
// covers more than one.
class RowStretcher {
public:
    RowStretcher(const PixelSource& source, std::vector<Span> xs)
        : reader_(source)
        , xs_(std::move(xs)) {
        first_ = xs_.front().first;
        width_ = xs_.back().first + xs_.back().count - first_;
        row_.resize(std::size_t(width_));
        nearest_ = std::all_of(xs_.begin(), xs_.end(), [](Span s) { return s.count == 1; });
    }

    void make(Span ys, std::uint32_t* out) {
        if (nearest_ && ys.count == 1) {
            reader_.read(ys.first, first_, width_, row_.data());
            for (std::size_t i = 0; i < xs_.size(); ++i) {
                out[i] = row_[std::size_t(xs_[i].first - first_)];
            }
            return;
        }
        sums_.assign(std::size_t(width_) * 3, 0);
        for (int y = ys.first; y < ys.first + ys.count; ++y) {
            reader_.read(y, first_, width_, row_.data());
            for (int x = 0; x < width_; ++x) {
                const std::uint32_t p = row_[std::size_t(x)];
                sums_[std::size_t(x) * 3] += p & 0xFF;
                sums_[std::size_t(x) * 3 + 1] += p >> 8 & 0xFF;
                sums_[std::size_t(x) * 3 + 2] += p >> 16 & 0xFF;
            }
        }
        for (std::size_t i = 0; i < xs_.size(); ++i) {
            std::uint64_t b = 0, g = 0, r = 0;
            for (int x = xs_[i].first - first_; x < xs_[i].first - first_ + xs_[i].count; ++x) {
                b += sums_[std::size_t(x) * 3];
                g += sums_[std::size_t(x) * 3 + 1];
                r += sums_[std::size_t(x) * 3 + 2];
            }
            const std::uint64_t n = std::uint64_t(xs_[i].count) * std::uint64_t(ys.count);
            out[i] = kOpaque | std::uint32_t((r + n / 2) / n) << 16 |
                     std::uint32_t((g + n / 2) / n) << 8 | std::uint32_t((b + n / 2) / n);
        }
    }

private:
    RowReader reader_;
    std::vector<Span> xs_;
    int first_ = 0;
    int width_ = 0;
    bool nearest_ = true;
    std::vector<std::uint32_t> row_;
    std::vector<std::uint32_t> sums_;
};

bool usable(const Raster& target, PixelRect dest, const PixelSource& source) {
    return !target.empty() && dest.width > 0 && dest.height > 0 && source.width > 0 &&
           source.height > 0 && source.top != nullptr;
}

} // namespace

void useVectorPath(VectorPath path) {
    gVectorPath = path;
}

Raster::Raster(int width, int height, std::uint32_t fill) {
    if (width <= 0 || height <= 0) {
        return;
    }
    width_ = width;
    height_ = height;
    const std::size_t n = std::size_t(width) * std::size_t(height);
    pixels_ = std::make_unique_for_overwrite<std::uint32_t[]>(n);
    adviseHugePages(pixels_.get(), n * sizeof(std::uint32_t));
    std::fill_n(pixels_.get(), n, fill);
}

void Raster::fill(PixelRect rect, std::uint32_t pixel) {
    const PixelRect c = clip(rect, width_, height_);
    for (int y = c.y; y < c.y + c.height; ++y) {
        std::fill_n(row(y) + c.x, c.width, pixel);
    }
}

PixelSource Raster::source() const {
    return {.format = PixelSource::Format::Bgrx32,
            .width = width_,
            .height = height_,
            .top = reinterpret_cast<const std::uint8_t*>(pixels_.get()),
            .stride = static_cast<std::ptrdiff_t>(strideBytes())};
}

PixelRect clip(PixelRect rect, int width, int height) {
    const std::int64_t x0 = std::max<std::int64_t>(rect.x, 0);
    const std::int64_t y0 = std::max<std::int64_t>(rect.y, 0);
    const std::int64_t x1 = std::min<std::int64_t>(std::int64_t{rect.x} + rect.width, width);
    const std::int64_t y1 = std::min<std::int64_t>(std::int64_t{rect.y} + rect.height, height);
    if (x1 <= x0 || y1 <= y0) {
        return {};
    }
    return {int(x0), int(y0), int(x1 - x0), int(y1 - y0)};
}

void fetchRow(const PixelSource& source, int y, int x0, int count, std::uint32_t* out) {
    RowReader(source).read(y, x0, count, out);
}

void stretchBlt(Raster& target, PixelRect dest, const PixelSource& source, std::uint32_t rasterOp,
                StretchMode mode, std::uint32_t brush) {
    if (!usable(target, dest, source)) {
        return;
    }
    const PixelRect vis = clip(dest, target.width(), target.height());
    if (vis.width == 0) {
        return;
    }
    const std::uint32_t index = rasterOp >> 16 & 0xFF;
    const bool average = mode == StretchMode::Halftone;
    const int x0 = vis.x - dest.x;
    std::vector<std::uint32_t> row(std::size_t(vis.width));

    if (dest.width == source.width && dest.height == source.height) {
        // Natural size: an exact copy of each row, read straight into the target for SRCCOPY.
        RowReader reader(source);
        for (int y = vis.y; y < vis.y + vis.height; ++y) {
            std::uint32_t* out = target.row(y) + vis.x;
            if (index == 0xCC) {
                reader.read(y - dest.y, x0, vis.width, out);
            } else {
                reader.read(y - dest.y, x0, vis.width, row.data());
                combineRow(index, brush, row.data(), out, vis.width);
            }
        }
        return;
    }
    RowStretcher stretcher(source, axisMap(source.width, dest.width, x0, x0 + vis.width, average));
    const auto ys =
        axisMap(source.height, dest.height, vis.y - dest.y, vis.y - dest.y + vis.height, average);
    for (int i = 0; i < vis.height; ++i) {
        stretcher.make(ys[std::size_t(i)], row.data());
        combineRow(index, brush, row.data(), target.row(vis.y + i) + vis.x, vis.width);
    }
}

void transparentBlt(Raster& target, PixelRect dest, const PixelSource& source,
                    std::uint32_t keyPixel, StretchMode mode) {
    if (!usable(target, dest, source)) {
        return;
    }
    const PixelRect vis = clip(dest, target.width(), target.height());
    if (vis.width == 0) {
        return;
    }
    const std::uint32_t key = keyPixel & 0xFFFFFFu;
    const int x0 = vis.x - dest.x;

    if (dest.width == source.width && dest.height == source.height &&
        source.format == PixelSource::Format::Bgr24) {
        // The common case of the scan workflows: a 24-bit page drawn 1:1 with one colour left out.
        for (int y = vis.y; y < vis.y + vis.height; ++y) {
            bgr24Row(source.row(y - dest.y) + std::size_t(x0) * 3, target.row(y) + vis.x, vis.width,
                     true, key);
        }
        return;
    }

    const bool average = mode == StretchMode::Halftone;
    const auto xsNear = axisMap(source.width, dest.width, x0, x0 + vis.width, false);
    const auto ysNear =
        axisMap(source.height, dest.height, vis.y - dest.y, vis.y - dest.y + vis.height, false);
    const bool averaging = average && (dest.width < source.width || dest.height < source.height);
    RowStretcher maskRows(source, xsNear);
    std::optional<RowStretcher> colourRows;
    std::vector<Span> ysColour;
    if (averaging) {
        colourRows.emplace(source, axisMap(source.width, dest.width, x0, x0 + vis.width, true));
        ysColour =
            axisMap(source.height, dest.height, vis.y - dest.y, vis.y - dest.y + vis.height, true);
    }
    std::vector<std::uint32_t> near(std::size_t(vis.width));
    std::vector<std::uint32_t> colour(std::size_t(vis.width));
    for (int i = 0; i < vis.height; ++i) {
        maskRows.make(ysNear[std::size_t(i)], near.data());
        const std::uint32_t* drawn = near.data();
        if (colourRows) {
            colourRows->make(ysColour[std::size_t(i)], colour.data());
            drawn = colour.data();
        }
        std::uint32_t* out = target.row(vis.y + i) + vis.x;
        for (int x = 0; x < vis.width; ++x) {
            if ((near[std::size_t(x)] & 0xFFFFFFu) != key) {
                out[x] = drawn[x];
            }
        }
    }
}

} // namespace vantrel::platform
