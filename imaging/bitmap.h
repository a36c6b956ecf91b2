#pragma once
// The per-pixel bitmap object of the scan workflows. It holds one uncompressed device-independent
// bitmap (1, 4, 8, 16, 24 or 32 bits per pixel, rows bottom-up) filled from the bytes of a BMP
// file, reads and writes single pixels as colour values 0x00BBGGRR, and hands the image back as a
// complete BMP file. No operation throws: each empties errorText() on entry, and on failure stores
// the reason there and returns its failure value (false, -1, 0 or an empty buffer).
//
// getPixel/setPixel keep that contract on every call but are inline and allocation-free: the
// header is decoded once at load. forEachPixel() runs a whole-image (or column-block) pass that
// gives exactly the pixels the equivalent getPixel/setPixel loop would, without per-call checks.
//
// Choices made where the BMP rules leave room: pixel data shorter than the rows the header
// declares, a negative width and a stride too small for the bit count are refused at load, so no
// access can leave the block; a palette index at or beyond the colour count reads as black
// (0x000000); a top-down image (negative height) loads, fails every pixel access with the
// coordinate message, and getData() returns it as stored (negative height, rows top-down).

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace vantrel::imaging {

// 0x00BBGGRR: red in the low byte, then green, then blue; the top byte is ignored on input.
using Colour = std::uint32_t;

class Bitmap {
public:
    // Create: an object with no image and an empty errorText().
    Bitmap() = default;
    static std::unique_ptr<Bitmap> create() { return std::make_unique<Bitmap>(); }
    // Destroy: the destructor frees the image and the cached palettes.
    ~Bitmap() = default;
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;

    // Replaces the image with the BMP file in `file`. An empty span means "no buffer" and fails
    // without touching the current image; any later failure leaves the object without an image.
    // The 7-byte text "version" shows the component's change history through the dialog seam.
    bool loadData(std::span<const std::uint8_t> file);

    // The image as a complete BMP file (14-byte file header, 40-byte info header, colour table,
    // rows); empty on failure. The caller owns the result.
    std::vector<std::uint8_t> getData();
    // The same bytes as getData(), handed over without copying the image: the object is left
    // without an image (as after a failed load), so a page-sized pass needs one buffer, not two.
    std::vector<std::uint8_t> takeData();

    std::int32_t getWidth();  // biWidth, or -1
    std::int32_t getHeight(); // biHeight, or -1

    inline Colour getPixel(std::int32_t x, std::int32_t y);
    inline bool setPixel(std::int32_t x, std::int32_t y, Colour colour);

    // Runs `f(Colour) -> Colour` over the columns [x0, x1) of every row, top row first, and
    // writes a pixel back (as setPixel would) only when f returns a different colour. The result
    // equals the per-pixel loop `c = getPixel(x, y); n = f(c); if (n != c) setPixel(x, y, n)` in
    // any visiting order. Returns false (with errorText() set) when there is no image, the range
    // is not within 0..width or the image is top-down (nothing is changed then), or when a write
    // failed as setPixel would have (the pass still visits every pixel).
    template <class F>
    bool forEachPixel(std::int32_t x0, std::int32_t x1, F&& f);
    template <class F>
    bool forEachPixel(F&& f) {
        return forEachPixel(0, width_, std::forward<F>(f));
    }

    // For 24- and 32-bit images: runs `f(std::uint8_t* first, std::size_t count, std::size_t
    // step)` once per row, top row first, over the columns [x0, x1); `first` is the blue byte of
    // pixel x0 and pixels lie `step` bytes apart, stored blue, green, red. A pixel pass written
    // on these runs needs no colour conversion per pixel. Returns false and visits nothing for
    // other bit counts, or failing as forEachPixel does.
    template <class F>
    bool forEachDirectRun(std::int32_t x0, std::int32_t x1, F&& f);

    // NUL-terminated, at most 255 bytes, UTF-8; empty after a successful operation.
    const char* errorText() const { return errorText_.data(); }

    // The failure texts (one table for the component).
    static constexpr const char* kNoImage = "位图尚未创建，没有可用数据";
    static constexpr const char* kOutOfRange = "像素点坐标越界";
    static constexpr const char* kBadIndex = "颜色索引无效";
    static constexpr const char* kNoColourTable = "当前位图格式不使用颜色表";
    static constexpr const char* kUnsupported = "不被支持的位图数据或无法识别的文件格式";
    static constexpr const char* kNoBuffer = "缓冲区无效或大小不够";

private:
    struct Rgb {
        std::uint8_t r, g, b;
    };
    // A cached logical palette for one bit depth plus a one-entry memo of the last lookup, so a
    // run of setPixel calls with the same colour costs one comparison.
    struct Palette {
        std::vector<Rgb> entries;
        bool made = false;
        Colour lastColour = 0;
        std::int64_t lastIndex = -1;
    };

    // Only a stored failure is cleared: a store on every pixel access would make the compiler
    // reload every member after it (a char store may alias anything).
    void clearError() {
        if (errorText_[0] != '\0') [[unlikely]] {
            errorText_[0] = '\0';
        }
    }
    void fail(const char* message);
    void discardImage();
    // The failure of a pixel access outside the access extents: no image, or out of range.
    void failAccess();
    std::uint8_t* row(std::int32_t y) const {
        return pixels_ + static_cast<std::size_t>(height_ - 1 - y) * stride_;
    }
    inline Colour tableColour(std::uint32_t index) const;
    inline Colour readAt(const std::uint8_t* rowBytes, std::int32_t x) const;
    inline bool writeAt(std::uint8_t* rowBytes, std::int32_t x, Colour colour);
    // Pixels are taken in batches: the colours of a batch gathered into an array, `f` applied
    // to the array, the results scattered back. Each of the three loops is simple enough for the
    // compiler to vectorise, which one loop doing all three per pixel is not.
    template <std::size_t Step, class F>
    static void directPass(std::uint8_t* p, std::size_t count, F& f) {
        constexpr std::size_t kBatch = 64;
        Colour c[kBatch];
        while (count > 0) {
            const std::size_t n = count < kBatch ? count : kBatch;
            if (n == kBatch) {
                batch<Step, kBatch>(p, c, f);
            } else {
                batch<Step, 1>(p, c, f, n);
            }
            p += n * Step;
            count -= n;
        }
    }
    template <std::size_t Step, std::size_t N, class F>
    static void batch(std::uint8_t* p, Colour* c, F& f, std::size_t n = N) {
        for (std::size_t i = 0; i < (N > 1 ? N : n); ++i) {
            const std::uint8_t* q = p + Step * i;
            c[i] = Colour{q[2]} | Colour{q[1]} << 8 | Colour{q[0]} << 16;
        }
        for (std::size_t i = 0; i < (N > 1 ? N : n); ++i) {
            c[i] = f(c[i]);
        }
        for (std::size_t i = 0; i < (N > 1 ? N : n); ++i) {
            std::uint8_t* q = p + Step * i;
            q[0] = static_cast<std::uint8_t>(c[i] >> 16);
            q[1] = static_cast<std::uint8_t>(c[i] >> 8);
            q[2] = static_cast<std::uint8_t>(c[i]);
        }
    }
    // Nearest colour-table entry by squared RGB distance (first on ties), -1 without entries.
    std::int64_t nearestIndex(Colour colour);
    bool setIndex(std::uint8_t* rowBytes, std::int32_t x, std::int64_t index);

    bool hasImage() const { return !file_.empty(); }
    std::size_t fileSize() const;
    bool writeFileHeader();
    // Entry of getData/takeData: an image whose file header could be written, else the failure.
    bool prepareData();
    // Entry of the column passes: an image, bottom-up, with [x0, x1) inside it, else the failure.
    bool beginColumnPass(std::int32_t x0, std::int32_t x1);
    // Room for the 14-byte file header (written by getData/takeData), then the block: 40-byte
    // header, 4*K colour table, pixel bytes. Kept as a file so that takeData() can hand it over.
    std::vector<std::uint8_t> file_;
    // Decoded once at load; the header never changes while the image lives.
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    std::uint16_t bitCount_ = 0;
    std::uint32_t colourCount_ = 0; // K
    std::size_t stride_ = 0;        // S
    const std::uint8_t* table_ = nullptr;
    std::uint8_t* pixels_ = nullptr;
    // What getPixel/setPixel may reach: the width and rows of a bottom-up image, else 0; and the
    // top row, which is stored last.
    std::uint32_t accessWidth_ = 0;
    std::uint32_t accessRows_ = 0;
    std::uint8_t* topRow_ = nullptr;
    std::array<Palette, 3> palettes_{}; // 1, 4 and 8 bits
    std::array<char, 256> errorText_{};
};

// ---- inline hot paths ----------------------------------------------------------------------

inline Colour Bitmap::tableColour(std::uint32_t index) const {
    if (index >= colourCount_) {
        return 0; // an index beyond the colour table reads as black
    }
    const std::uint8_t* q = table_ + 4 * static_cast<std::size_t>(index);
    return Colour{q[2]} | Colour{q[1]} << 8 | Colour{q[0]} << 16;
}

inline Colour Bitmap::readAt(const std::uint8_t* r, std::int32_t x) const {
    const auto ux = static_cast<std::size_t>(x);
    switch (bitCount_) {
    case 24: {
        const std::uint8_t* p = r + 3 * ux;
        return Colour{p[2]} | Colour{p[1]} << 8 | Colour{p[0]} << 16;
    }
    case 32: {
        const std::uint8_t* p = r + 4 * ux;
        return Colour{p[2]} | Colour{p[1]} << 8 | Colour{p[0]} << 16;
    }
    case 16: {
        const unsigned w = r[2 * ux] | unsigned{r[2 * ux + 1]} << 8;
        return ((w >> 10) & 31u) << 3 | ((w >> 5) & 31u) << 11 | (w & 31u) << 19;
    }
    case 8:
        return tableColour(r[ux]);
    case 4:
        return tableColour((ux & 1) ? r[ux / 2] & 0x0Fu : r[ux / 2] >> 4);
    default: // 1: loads refuse every other bit count
        return tableColour((r[ux / 8] >> (7 - ux % 8)) & 1u);
    }
}

inline bool Bitmap::writeAt(std::uint8_t* r, std::int32_t x, Colour colour) {
    const auto ux = static_cast<std::size_t>(x);
    switch (bitCount_) {
    case 24:
    case 32: {
        std::uint8_t* p = r + (bitCount_ / 8) * ux;
        p[0] = static_cast<std::uint8_t>(colour >> 16);
        p[1] = static_cast<std::uint8_t>(colour >> 8);
        p[2] = static_cast<std::uint8_t>(colour);
        return true;
    }
    case 16: {
        const unsigned w = ((colour >> 16) & 0xFFu) / 8 | (((colour >> 8) & 0xFFu) / 8) << 5 |
                           ((colour & 0xFFu) / 8) << 10;
        r[2 * ux] = static_cast<std::uint8_t>(w);
        r[2 * ux + 1] = static_cast<std::uint8_t>(w >> 8);
        return true;
    }
    default:
        return setIndex(r, x, nearestIndex(colour));
    }
}

inline Colour Bitmap::getPixel(std::int32_t x, std::int32_t y) {
    clearError();
    // One unsigned comparison per axis; the access extents are 0 without an image or for a
    // top-down one, so every failure takes the cold path.
    if (static_cast<std::uint32_t>(x) < accessWidth_ && static_cast<std::uint32_t>(y) < accessRows_)
        [[likely]] {
        return readAt(topRow_ - static_cast<std::size_t>(y) * stride_, x);
    }
    failAccess();
    return 0;
}

inline bool Bitmap::setPixel(std::int32_t x, std::int32_t y, Colour colour) {
    clearError();
    if (static_cast<std::uint32_t>(x) < accessWidth_ && static_cast<std::uint32_t>(y) < accessRows_)
        [[likely]] {
        return writeAt(topRow_ - static_cast<std::size_t>(y) * stride_, x, colour);
    }
    failAccess();
    return false;
}

inline bool Bitmap::beginColumnPass(std::int32_t x0, std::int32_t x1) {
    clearError();
    if (!hasImage()) {
        fail(kNoImage);
        return false;
    }
    if (x0 < 0 || x1 < x0 || x1 > width_ || height_ < 0) {
        fail(kOutOfRange);
        return false;
    }
    return true;
}

template <class F>
bool Bitmap::forEachPixel(std::int32_t x0, std::int32_t x1, F&& f) {
    if (!beginColumnPass(x0, x1)) {
        return false;
    }
    const auto begin = static_cast<std::size_t>(x0);
    const auto end = static_cast<std::size_t>(x1);
    bool ok = true;
    for (std::int32_t y = 0; y < height_; ++y) {
        std::uint8_t* r = row(y);
        if (bitCount_ == 24) {
            // The common case of a scanned page, with no per-pixel dispatch. Writing back an
            // unchanged colour leaves the same bytes, so every pixel is stored and the loop has
            // no branch on the pixel's value.
            directPass<3>(r + 3 * begin, end - begin, f);
        } else if (bitCount_ == 32) {
            directPass<4>(r + 4 * begin, end - begin, f);
        } else {
            for (std::size_t x = begin; x < end; ++x) {
                const auto ix = static_cast<std::int32_t>(x);
                const Colour c = readAt(r, ix);
                const Colour n = f(c);
                if (n != c && !writeAt(r, ix, n)) {
                    ok = false; // setPixel fails here too (nearest index beyond the depth)
                }
            }
        }
    }
    return ok;
}

template <class F>
bool Bitmap::forEachDirectRun(std::int32_t x0, std::int32_t x1, F&& f) {
    if (!beginColumnPass(x0, x1)) {
        return false;
    }
    if (bitCount_ != 24 && bitCount_ != 32) {
        return false;
    }
    const std::size_t step = bitCount_ / 8;
    const auto count = static_cast<std::size_t>(x1 - x0);
    for (std::int32_t y = 0; y < height_; ++y) {
        f(row(y) + step * static_cast<std::size_t>(x0), count, step);
    }
    return true;
}

} // namespace vantrel::imaging
