// BMP reading (24-bit pictures, the only depth the converter takes from a BMP) and writing.
// Rows move through a bounce buffer of about a megabyte: large reads and writes, no page copy.

#include "imaging/codecs.h"

#include <algorithm>
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <cstring>
#include <vector>

namespace vantrel::imaging {

namespace {

constexpr std::size_t kChunkBytes = 1 << 20;

// Swaps blue and red: BMP rows are blue, green, red; the buffer's are red, green, blue.
void swapRedBlueScalar(const std::uint8_t* from, std::uint8_t* to, std::size_t pixels) {
    for (std::size_t i = 0; i < pixels; ++i, from += 3, to += 3) {
        const std::uint8_t b = from[0];
        to[0] = from[2];
        to[1] = from[1];
        to[2] = b;
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
// Five pixels per step with one byte shuffle: a 16-byte load and store whose last byte is
// rewritten by the next step. About four times faster than the scalar loop on a page.
__attribute__((target("ssse3"))) void swapRedBlueSsse3(const std::uint8_t* from, std::uint8_t* to,
                                                       std::size_t pixels) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    std::size_t i = 0;
    for (; i + 6 <= pixels; i += 5) { // 16 bytes readable and writable from pixel i
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 3 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 3 * i), _mm_shuffle_epi8(v, order));
    }
    swapRedBlueScalar(from + 3 * i, to + 3 * i, pixels - i);
}
#endif

void swapRedBlue(const std::uint8_t* from, std::uint8_t* to, std::size_t pixels) {
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3) {
        swapRedBlueSsse3(from, to, pixels);
        return;
    }
#endif
    swapRedBlueScalar(from, to, pixels);
}

bool knownHeaderSize(std::uint32_t size) {
    // Core (12), OS/2 2.x (16 to 64), info (40), v2 (52), v3 (56), v4 (108) and v5 (124).
    return size == 12 || (size >= 16 && size <= 64) || size == 108 || size == 124;
}

} // namespace

DecodeStatus locateBmpRows(std::FILE* file, std::uint64_t size, BmpRows& where) {
    std::uint8_t head[14 + 14 + 64] = {};
    const std::size_t got = std::fread(head, 1, sizeof head, file);
    if (got < 2) {
        return DecodeStatus::NotMine;
    }
    // A bitmap array ("BA") holds its first picture's file header after its own 14 bytes;
    // offsets stay relative to the start of the file.
    std::size_t base = 0;
    if (head[0] == 'B' && head[1] == 'A') {
        base = 14;
    } else if (!(head[0] == 'B' && head[1] == 'M')) {
        return DecodeStatus::NotMine;
    }
    if (got < base + 14 + 12 || (base != 0 && (head[base] != 'B' || head[base + 1] != 'M'))) {
        return DecodeStatus::NotMine;
    }
    const std::uint8_t* info = head + base + 14;
    const std::uint32_t headerSize = le32(info);
    if (!knownHeaderSize(headerSize)) {
        return DecodeStatus::NotMine;
    }
    std::int64_t width, height;
    std::uint16_t bitCount;
    std::uint32_t compression = 0;
    if (headerSize == 12) {
        width = le16(info + 4);
        height = le16(info + 6);
        bitCount = le16(info + 10);
    } else {
        width = static_cast<std::int32_t>(le32(info + 4));
        height = static_cast<std::int32_t>(le32(info + 8));
        bitCount = le16(info + 14);
        if (headerSize >= 20) {
            compression = le32(info + 16);
        }
    }
    if (bitCount != 24) {
        return DecodeStatus::NotMine;
    }
    // Accepted from here on. 24-bit pixels are stored uncompressed; anything else is refused.
    const bool topDown = height < 0;
    const std::uint64_t rows = static_cast<std::uint64_t>(topDown ? -height : height);
    if (compression != 0 || width <= 0 || rows == 0 ||
        !ImageBuffer::sizeAllowed(static_cast<std::uint64_t>(width), rows)) {
        return DecodeStatus::Failed;
    }
    const std::uint64_t stride = (24 * static_cast<std::uint64_t>(width) + 31) / 32 * 4;
    const std::uint64_t offset = le32(head + base + 10);
    if (offset > size || (size - offset) / stride < rows) {
        return DecodeStatus::Failed; // truncated pixel rows
    }
    const std::size_t infoBytes = std::min<std::size_t>(got - base - 14, headerSize);
    where = {static_cast<std::uint32_t>(width),
             static_cast<std::uint32_t>(rows),
             topDown,
             stride,
             offset,
             bmpInfoResolution({info, infoBytes})};
    return DecodeStatus::Decoded;
}

DecodeStatus decodeBmp(std::FILE* file, std::uint64_t size, ImageBuffer& out,
                       const RowProgress& progress) {
    BmpRows where;
    const DecodeStatus located = locateBmpRows(file, size, where);
    if (located != DecodeStatus::Decoded) {
        return located;
    }
    const std::uint64_t rows = where.rows;
    const std::uint64_t stride = where.stride;
    const std::uint64_t offset = where.offset;
    const bool topDown = where.topDown;
    const std::uint32_t width = where.width;
    if (!out.create(24, width, static_cast<std::uint32_t>(rows))) {
        return DecodeStatus::Failed;
    }
    out.setResolution(where.resolution);
    const std::uint64_t rowsPerChunk = std::max<std::uint64_t>(1, kChunkBytes / stride);
    std::vector<std::uint8_t> chunk(
        static_cast<std::size_t>(std::min(rows, rowsPerChunk) * stride));
    if (fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0) {
        return DecodeStatus::Failed;
    }
    for (std::uint64_t first = 0; first < rows; first += rowsPerChunk) {
        const std::uint64_t n = std::min(rowsPerChunk, rows - first);
        if (std::fread(chunk.data(), 1, static_cast<std::size_t>(n * stride), file) != n * stride) {
            return DecodeStatus::Failed;
        }
        for (std::uint64_t i = 0; i < n; ++i) {
            const std::uint64_t fileRow = first + i;
            const auto y = static_cast<std::uint32_t>(topDown ? fileRow : rows - 1 - fileRow);
            swapRedBlue(chunk.data() + i * stride, out.row(y), static_cast<std::size_t>(width));
        }
        progress.update(first + n, rows);
    }
    return DecodeStatus::Decoded;
}

bool writeBmpHeader(std::FILE* out, std::uint32_t width, std::uint32_t height,
                    Resolution resolution) {
    const std::size_t stride = (3 * std::size_t{width} + 3) / 4 * 4;
    const std::uint64_t fileSize = std::uint64_t{height} * stride + 54;
    if (fileSize > 0xFFFFFFFFu) {
        return false;
    }
    std::uint8_t header[54] = {'B', 'M'};
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            header[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
        }
    };
    put32(2, static_cast<std::uint32_t>(fileSize));
    put32(10, 54);
    put32(14, 40);
    put32(18, width);
    put32(22, height);
    header[26] = 1;  // planes
    header[28] = 24; // bits per pixel
    if (resolution.known()) {
        put32(38, resolution.xPerMetre);
        put32(42, resolution.yPerMetre);
    }
    return std::fwrite(header, 1, sizeof header, out) == sizeof header;
}

bool encodeBmp(const ImageBuffer& image, std::FILE* out, const RowProgress& progress) {
    if (!image.valid()) {
        return false;
    }
    ImageBuffer converted;
    if (image.type() != 24) {
        converted = image.to24();
        if (!converted.valid()) {
            return false;
        }
    }
    const ImageBuffer& src = converted.valid() ? converted : image;
    const std::uint32_t width = src.width();
    const std::uint32_t height = src.height();
    const std::size_t stride = (3 * std::size_t{width} + 3) / 4 * 4;
    if (!writeBmpHeader(out, width, height, src.resolution())) {
        return false;
    }
    const std::size_t rowsPerChunk = std::max<std::size_t>(1, kChunkBytes / stride);
    std::vector<std::uint8_t> chunk(std::min<std::size_t>(height, rowsPerChunk) * stride, 0);
    std::size_t filled = 0;
    for (std::uint32_t i = 0; i < height; ++i) {
        std::uint8_t* line = chunk.data() + filled * stride;
        swapRedBlue(src.row(height - 1 - i), line, width); // padding bytes stay zero
        if (++filled == rowsPerChunk || i + 1 == height) {
            if (std::fwrite(chunk.data(), 1, filled * stride, out) != filled * stride) {
                return false;
            }
            filled = 0;
            progress.update(std::uint64_t{i} + 1, height);
        }
    }
    return std::fflush(out) == 0;
}

} // namespace vantrel::imaging
