#include "imaging/bitmap.h"

#include "platform/dialogs.h"
#include "platform/huge_pages.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>

namespace vantrel::imaging {

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::size_t kCoreHeaderSize = 12;

constexpr const char* kHistoryCaption = "更新历史!";
constexpr const char* kHistoryText = "位图组件 1.0\n"
                                     "1.0：读取 1、4、8、16、24、32 位未压缩的 BMP 数据（含 OS/2 "
                                     "核心信息头），逐像素读写颜色，导出完整的 BMP 文件数据。";

std::uint16_t u16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t u32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}
void put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t* p, std::uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}

// Colour count K of a (converted) 40-byte header; 0 marks an unsupported bit count. `clrUsed`
// overrides the default for every depth, as the stored header says.
std::int64_t colourCount(std::uint16_t bitCount, std::uint32_t clrUsed, bool infoHeader) {
    std::int64_t k = 0;
    switch (bitCount) {
    case 1:
        k = 2;
        break;
    case 4:
        k = 16;
        break;
    case 8:
        k = 256;
        break;
    case 16:
    case 24:
    case 32:
        k = 0;
        break;
    default:
        return -1;
    }
    if (infoHeader && clrUsed != 0) {
        k = clrUsed;
    }
    return k;
}

} // namespace

void Bitmap::fail(const char* message) {
    const std::size_t n = std::min<std::size_t>(std::strlen(message), errorText_.size() - 1);
    std::memcpy(errorText_.data(), message, n);
    errorText_[n] = '\0';
}

void Bitmap::discardImage() {
    file_ = {};
    width_ = height_ = 0;
    bitCount_ = 0;
    colourCount_ = 0;
    stride_ = 0;
    table_ = nullptr;
    pixels_ = nullptr;
    accessWidth_ = accessRows_ = 0;
    topRow_ = nullptr;
    palettes_ = {};
}

bool Bitmap::loadData(std::span<const std::uint8_t> file) {
    clearError();
    if (file.empty()) {
        fail(kUnsupported);
        return false;
    }
    if (file.size() == 7 && std::memcmp(file.data(), "version", 7) == 0) {
        platform::dialogs().showMessage({.text = kHistoryText,
                                         .caption = kHistoryCaption,
                                         .buttons = platform::MessageButtons::Ok,
                                         .icon = platform::MessageIcon::None});
    }
    discardImage();

    const std::uint8_t* data = file.data();
    const auto length = static_cast<std::int64_t>(file.size());
    auto refuse = [this] {
        fail(kUnsupported);
        return false;
    };
    if (length < 54 || data[0] != 'B' || data[1] != 'M' || u32(data + 2) > file.size()) {
        return refuse();
    }
    const std::uint32_t headerSize = u32(data + kFileHeaderSize);
    std::uint8_t header[kInfoHeaderSize] = {};
    const std::uint8_t* h = data + kFileHeaderSize;
    if (headerSize == kInfoHeaderSize) {
        std::memcpy(header, h, kInfoHeaderSize);
    } else if (headerSize == kCoreHeaderSize) {
        put32(header, kInfoHeaderSize);
        put32(header + 4, u16(h + 4));
        put32(header + 8, u16(h + 6));
        put16(header + 12, u16(h + 8));
        put16(header + 14, u16(h + 10));
    } else {
        return refuse();
    }
    const auto width = static_cast<std::int32_t>(u32(header + 4));
    const auto height = static_cast<std::int32_t>(u32(header + 8));
    const std::uint16_t planes = u16(header + 12);
    const std::uint16_t bitCount = u16(header + 14);
    const std::int64_t k = colourCount(bitCount, u32(header + 32), headerSize == kInfoHeaderSize);
    if (k < 0 || length < static_cast<std::int64_t>(kFileHeaderSize + headerSize) + 4 * k) {
        return refuse();
    }
    const std::int64_t pixelBytes = length - static_cast<std::int64_t>(u32(data + 10));
    if (pixelBytes <= 0 || u32(header + 16) != 0) {
        return refuse();
    }
    // Every pixel access must stay inside the block: refuse a negative width, a stride that is
    // narrower than the bit count needs (no planes) and pixel data shorter than the rows. A zero
    // width has empty rows: nothing to read, and nothing to divide by.
    if (width < 0) {
        return refuse();
    }
    const std::int64_t stride = (std::int64_t{bitCount} * planes * width + 31) / 32 * 4;
    const std::int64_t needed = (std::int64_t{bitCount} * width + 31) / 32 * 4;
    const std::int64_t rows = height < 0 ? -std::int64_t{height} : height;
    if (stride < needed ||
        (rows > 0 && stride > 0 && (stride > pixelBytes || rows > pixelBytes / stride))) {
        return refuse();
    }

    const std::size_t tableBytes = 4 * static_cast<std::size_t>(k);
    std::vector<std::uint8_t> image;
    try {
        // Reserved and then filled by appending: no zero-fill of a page-sized buffer first.
        image.reserve(kFileHeaderSize + kInfoHeaderSize + tableBytes +
                      static_cast<std::size_t>(pixelBytes));
        platform::adviseHugePages(image.data(), image.capacity());
        image.resize(kFileHeaderSize);
        image.insert(image.end(), header, header + kInfoHeaderSize);
        if (headerSize == kInfoHeaderSize) {
            const std::uint8_t* table = data + kFileHeaderSize + kInfoHeaderSize;
            image.insert(image.end(), table, table + tableBytes);
        } else {
            // Core entries are three bytes (blue, green, red); the length check covered 4*K.
            const std::uint8_t* entry = data + kFileHeaderSize + kCoreHeaderSize;
            for (std::int64_t i = 0; i < k; ++i, entry += 3) {
                image.insert(image.end(), {entry[0], entry[1], entry[2], std::uint8_t{0}});
            }
        }
        const std::uint8_t* bits = data + u32(data + 10);
        image.insert(image.end(), bits, bits + pixelBytes);
    } catch (const std::bad_alloc&) {
        return refuse();
    }

    file_ = std::move(image);
    std::uint8_t* block = file_.data() + kFileHeaderSize;
    width_ = width;
    height_ = height;
    bitCount_ = bitCount;
    colourCount_ = static_cast<std::uint32_t>(k);
    stride_ = static_cast<std::size_t>(stride);
    table_ = block + kInfoHeaderSize;
    pixels_ = block + kInfoHeaderSize + tableBytes;
    if (height > 0) { // top-down images fail every pixel access
        accessWidth_ = static_cast<std::uint32_t>(width);
        accessRows_ = static_cast<std::uint32_t>(height);
        topRow_ = pixels_ + static_cast<std::size_t>(height - 1) * stride_;
    }
    return true;
}

void Bitmap::failAccess() {
    fail(hasImage() ? kOutOfRange : kNoImage);
}

std::size_t Bitmap::fileSize() const {
    const std::size_t rows = height_ < 0 ? -static_cast<std::int64_t>(height_) : height_;
    return kFileHeaderSize + kInfoHeaderSize + 4 * std::size_t{colourCount_} + stride_ * rows;
}

// Fills the 14 bytes kept in front of the block; false when bfSize could not say the size.
bool Bitmap::writeFileHeader() {
    const std::size_t total = fileSize();
    if (total > 0xFFFFFFFFu) {
        return false;
    }
    std::uint8_t* h = file_.data();
    std::memset(h, 0, kFileHeaderSize);
    h[0] = 'B';
    h[1] = 'M';
    put32(h + 2, static_cast<std::uint32_t>(total));
    put32(h + 10, static_cast<std::uint32_t>(kFileHeaderSize + kInfoHeaderSize +
                                             4 * std::size_t{colourCount_}));
    return true;
}

bool Bitmap::prepareData() {
    clearError();
    if (!hasImage()) {
        fail(kNoImage);
        return false;
    }
    if (!writeFileHeader()) {
        fail(kNoBuffer);
        return false;
    }
    return true;
}

std::vector<std::uint8_t> Bitmap::getData() {
    if (!prepareData()) {
        return {};
    }
    try {
        // Pixel bytes beyond the last row (a padded source file) are not part of the result.
        return {file_.begin(), file_.begin() + static_cast<std::ptrdiff_t>(fileSize())};
    } catch (const std::bad_alloc&) {
        fail(kNoBuffer);
        return {};
    }
}

std::vector<std::uint8_t> Bitmap::takeData() {
    if (!prepareData()) {
        return {};
    }
    std::vector<std::uint8_t> out = std::move(file_);
    out.resize(fileSize()); // only ever shrinks: no reallocation
    discardImage();
    return out;
}

std::int32_t Bitmap::getWidth() {
    clearError();
    if (!hasImage()) {
        fail(kNoImage);
        return -1;
    }
    return width_;
}

std::int32_t Bitmap::getHeight() {
    clearError();
    if (!hasImage()) {
        fail(kNoImage);
        return -1;
    }
    return height_;
}

std::int64_t Bitmap::nearestIndex(Colour colour) {
    Palette& palette = palettes_[bitCount_ == 1 ? 0 : bitCount_ == 4 ? 1 : 2];
    if (!palette.made) {
        palette.entries.resize(colourCount_);
        for (std::uint32_t i = 0; i < colourCount_; ++i) {
            const std::uint8_t* q = table_ + 4 * std::size_t{i};
            palette.entries[i] = {q[2], q[1], q[0]};
        }
        palette.made = true;
        palette.lastIndex = -1;
    }
    colour &= 0xFFFFFFu;
    if (palette.lastIndex >= 0 && palette.lastColour == colour) {
        return palette.lastIndex;
    }
    const int r = static_cast<int>(colour & 0xFF);
    const int g = static_cast<int>((colour >> 8) & 0xFF);
    const int b = static_cast<int>((colour >> 16) & 0xFF);
    std::int64_t best = -1;
    int bestDistance = 0;
    for (std::size_t i = 0; i < palette.entries.size(); ++i) {
        const Rgb& e = palette.entries[i];
        const int dr = e.r - r;
        const int dg = e.g - g;
        const int db = e.b - b;
        const int distance = dr * dr + dg * dg + db * db;
        if (best < 0 || distance < bestDistance) {
            best = static_cast<std::int64_t>(i);
            bestDistance = distance;
            if (distance == 0) {
                break;
            }
        }
    }
    palette.lastColour = colour;
    palette.lastIndex = best;
    return best;
}

bool Bitmap::setIndex(std::uint8_t* r, std::int32_t x, std::int64_t index) {
    const auto ux = static_cast<std::size_t>(x);
    const std::int64_t limit = std::int64_t{1} << bitCount_;
    if (index < 0 || index >= limit) {
        fail(kBadIndex);
        return false;
    }
    const auto v = static_cast<std::uint8_t>(index);
    switch (bitCount_) {
    case 1: {
        const auto bit = static_cast<std::uint8_t>(0x80u >> (ux % 8));
        r[ux / 8] = static_cast<std::uint8_t>(v ? r[ux / 8] | bit : r[ux / 8] & ~bit);
        return true;
    }
    case 4:
        r[ux / 2] = static_cast<std::uint8_t>((ux & 1) ? (r[ux / 2] & 0xF0u) | v
                                                       : (r[ux / 2] & 0x0Fu) | v << 4);
        return true;
    case 8:
        r[ux] = v;
        return true;
    default:
        fail(kNoColourTable);
        return false;
    }
}

} // namespace vantrel::imaging
