// PCX reading: 8 bits per pixel in one plane (with the 256-colour palette at the end of the file)
// or three planes (red, green, blue), run-length encoded or raw.

#include "imaging/codecs.h"

#include <algorithm>
#include <vector>

namespace vantrel::imaging {

namespace {

// Buffered byte source over the stream, reading ahead in blocks.
class ByteSource {
public:
    explicit ByteSource(std::FILE* file)
        : file_(file) {}
    bool next(std::uint8_t& byte) {
        if (at_ == end_) {
            end_ = std::fread(block_.data(), 1, block_.size(), file_);
            at_ = 0;
            if (end_ == 0) {
                return false;
            }
        }
        byte = block_[at_++];
        return true;
    }

private:
    std::FILE* file_;
    std::vector<std::uint8_t> block_ = std::vector<std::uint8_t>(1 << 16);
    std::size_t at_ = 0;
    std::size_t end_ = 0;
};

} // namespace

DecodeStatus decodePcx(std::FILE* file, std::uint64_t size, ImageBuffer& out) {
    std::uint8_t h[128];
    if (size < sizeof h || std::fread(h, 1, sizeof h, file) != sizeof h || h[0] != 0x0A) {
        return DecodeStatus::NotMine;
    }
    const unsigned xMin = le16(h + 4), yMin = le16(h + 6), xMax = le16(h + 8), yMax = le16(h + 10);
    const unsigned bits = h[3], planes = h[65];
    if (xMin == xMax || yMin == yMax || (bits * planes != 8 && bits * planes != 24)) {
        return DecodeStatus::NotMine;
    }
    // Accepted. Only whole bytes per sample are read: 8 bits in one or three planes.
    const bool rle = h[2] == 1;
    const std::size_t lineBytes = le16(h + 66);
    if (xMax < xMin || yMax < yMin || bits != 8 || (planes != 1 && planes != 3)) {
        return DecodeStatus::Failed;
    }
    const std::uint32_t width = xMax - xMin + 1;
    const std::uint32_t height = yMax - yMin + 1;
    if (lineBytes < width || !ImageBuffer::sizeAllowed(width, height)) {
        return DecodeStatus::Failed;
    }
    // Even a perfect run-length stream needs one pair of bytes per 63 bytes of picture.
    const std::uint64_t scanBytes = std::uint64_t{lineBytes} * planes;
    const std::uint64_t needed = rle ? (scanBytes * height * 2 + 62) / 63 : scanBytes * height;
    if (size - sizeof h < needed) {
        return DecodeStatus::Failed;
    }
    std::vector<PaletteEntry> palette(256);
    for (unsigned i = 0; i < 256; ++i) {
        const auto v = static_cast<std::uint8_t>(i);
        palette[i] = {v, v, v};
    }
    if (planes == 1) {
        std::uint8_t tail[769];
        if (size >= sizeof h + sizeof tail && readAt(file, size - sizeof tail, tail, sizeof tail) &&
            tail[0] == 0x0C) {
            for (unsigned i = 0; i < 256; ++i) {
                palette[i] = {tail[1 + 3 * i], tail[2 + 3 * i], tail[3 + 3 * i]};
            }
        }
        if (fseeko(file, sizeof h, SEEK_SET) != 0) {
            return DecodeStatus::Failed;
        }
    }
    if (!out.create(planes == 1 ? 8 : 24, width, height)) {
        return DecodeStatus::Failed;
    }
    if (planes == 1) {
        out.palette() = palette;
    }
    ByteSource source(file);
    std::vector<std::uint8_t> line(static_cast<std::size_t>(scanBytes));
    for (std::uint32_t y = 0; y < height; ++y) {
        // A run never carries over into the next line; its excess is dropped.
        for (std::size_t filled = 0; filled < line.size();) {
            std::uint8_t b;
            if (!source.next(b)) {
                return DecodeStatus::Failed;
            }
            std::size_t count = 1;
            if (rle && (b & 0xC0) == 0xC0) {
                count = b & 0x3F;
                if (!source.next(b)) {
                    return DecodeStatus::Failed;
                }
            }
            count = std::min(count, line.size() - filled);
            std::fill_n(line.begin() + static_cast<std::ptrdiff_t>(filled), count, b);
            filled += count;
        }
        std::uint8_t* d = out.row(y);
        if (planes == 1) {
            std::copy_n(line.begin(), width, d);
        } else {
            for (std::uint32_t x = 0; x < width; ++x, d += 3) {
                d[0] = line[x];
                d[1] = line[lineBytes + x];
                d[2] = line[2 * lineBytes + x];
            }
        }
    }
    return DecodeStatus::Decoded;
}

} // namespace vantrel::imaging
