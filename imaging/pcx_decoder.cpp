// PCX reading for the converter: 8 bits per pixel in one plane (through the 256-colour table at
// the end of the file, grey levels without one) or in three planes (red, green, blue), run-length
// encoded or raw. The header check and the line reader are shared with LoadPicture's decoder
// (pcx_reader.h).

#include "imaging/codecs.h"
#include "imaging/pcx_reader.h"

#include <algorithm>
#include <new>
#include <vector>

namespace vantrel::imaging {

namespace {

// The stream read ahead in blocks.
class FileChunks final : public PcxByteSource {
public:
    explicit FileChunks(std::FILE* file)
        : file_(file) {}
    std::span<const std::uint8_t> next() override {
        const std::size_t n = std::fread(block_.data(), 1, block_.size(), file_);
        return {block_.data(), n};
    }

private:
    std::FILE* file_;
    std::vector<std::uint8_t> block_ = std::vector<std::uint8_t>(1 << 16);
};

DecodeStatus decodeAccepted(std::FILE* file, std::uint64_t size, const PcxHeader& h,
                            ImageBuffer& out, const RowProgress& progress) {
    if (h.bitsPerPixel != 8 || (h.planes != 1 && h.planes != 3) ||
        !pcxGeometryUsable(h, size - kPcxHeaderSize)) {
        return DecodeStatus::Failed;
    }
    const auto width = static_cast<std::uint32_t>(h.width);
    const auto height = static_cast<std::uint32_t>(h.height);
    std::vector<PaletteEntry> palette(256);
    for (unsigned i = 0; i < 256; ++i) {
        const auto v = static_cast<std::uint8_t>(i);
        palette[i] = {v, v, v};
    }
    if (h.planes == 1) {
        std::uint8_t tail[kPcxPaletteSize];
        if (size >= kPcxHeaderSize + sizeof tail &&
            readAt(file, size - sizeof tail, tail, sizeof tail) && tail[0] == kPcxPaletteMarker) {
            for (unsigned i = 0; i < 256; ++i) {
                palette[i] = {tail[1 + 3 * i], tail[2 + 3 * i], tail[3 + 3 * i]};
            }
        }
        if (fseeko(file, kPcxHeaderSize, SEEK_SET) != 0) {
            return DecodeStatus::Failed;
        }
    }
    if (!out.create(h.planes == 1 ? 8 : 24, width, height)) {
        return DecodeStatus::Failed;
    }
    if (h.planes == 1) {
        out.palette() = std::move(palette);
    }
    FileChunks chunks(file);
    PcxLineReader reader(chunks, h.runLength());
    std::vector<std::uint8_t> line(static_cast<std::size_t>(h.scanBytes()));
    for (std::uint32_t y = 0; y < height; ++y) {
        if (!reader.readLine(line)) {
            return DecodeStatus::Failed;
        }
        std::uint8_t* d = out.row(y);
        if (h.planes == 1) {
            std::copy_n(line.begin(), width, d);
        } else {
            const std::uint8_t* red = line.data();
            const std::uint8_t* green = red + h.bytesPerLine;
            const std::uint8_t* blue = green + h.bytesPerLine;
            for (std::uint32_t x = 0; x < width; ++x, d += 3) {
                d[0] = red[x];
                d[1] = green[x];
                d[2] = blue[x];
            }
        }
        progress.update(std::uint64_t{y} + 1, height);
    }
    return DecodeStatus::Decoded;
}

} // namespace

DecodeStatus decodePcx(std::FILE* file, std::uint64_t size, ImageBuffer& out,
                       const RowProgress& progress) {
    std::uint8_t raw[kPcxHeaderSize];
    if (size < sizeof raw || std::fread(raw, 1, sizeof raw, file) != sizeof raw || raw[0] != 0x0A) {
        return DecodeStatus::NotMine;
    }
    // The converter's own accept rule: different left/right and top/bottom bounds, and 8 or 24
    // bits per pixel over all planes. Anything wrong after that fails the file.
    const unsigned xMin = le16(raw + 4), yMin = le16(raw + 6), xMax = le16(raw + 8),
                   yMax = le16(raw + 10);
    const PcxHeader h = readPcxHeader(raw);
    const unsigned bits = h.bitsPerPixel * h.planes;
    if (xMin == xMax || yMin == yMax || (bits != 8 && bits != 24)) {
        return DecodeStatus::NotMine;
    }
    try {
        return decodeAccepted(file, size, h, out, progress);
    } catch (const std::bad_alloc&) {
        return DecodeStatus::Failed;
    }
}

} // namespace vantrel::imaging
