#pragma once
// What the converter's PCX decoder (decodePcx) and LoadPicture's (decodePcxPicture) share: the
// 128-byte header, the one check of its geometry, and the reader of scan lines. Each decoder
// keeps its own rule of which files it takes (bits per pixel and planes).
//
// A scan line holds `planes` runs of `bytesPerLine` bytes each, a plane after the other. In
// run-length data (encoding 1) a byte with both top bits set (0xC0 to 0xFF) repeats the byte after
// it as often as its low six bits say; any other byte stands for itself. Many writers let a run
// go on past the end of a scan line, so the reader carries the rest of a run into the next line.
// Other encodings hold the lines as they are. Data that ends before the last line is complete
// fails the picture.

#include <cstddef>
#include <cstdint>
#include <span>

namespace vantrel::imaging {

constexpr std::size_t kPcxHeaderSize = 128;
// An 8-bit picture may end with a 0x0C marker and 256 red, green, blue triples.
constexpr std::size_t kPcxPaletteSize = 769;
constexpr std::uint8_t kPcxPaletteMarker = 0x0C;

struct PcxHeader {
    unsigned version = 0;
    unsigned encoding = 0; // 1: run-length
    unsigned bitsPerPixel = 0;
    unsigned planes = 0;
    std::int64_t width = 0; // from the bounds: 0 or less for bounds out of order
    std::int64_t height = 0;
    std::size_t bytesPerLine = 0; // per plane

    bool runLength() const { return encoding == 1; }
    // Bytes of one scan line over all planes.
    std::uint64_t scanBytes() const { return std::uint64_t{bytesPerLine} * planes; }
};

// The fields of the 128 header bytes at `header`.
PcxHeader readPcxHeader(const std::uint8_t* header);

// True when the header describes a picture that can be read: bounds in order, each plane's line
// long enough for the width, a size within the decode limits, and `dataBytes` (what follows the
// header) enough for every line even at the best compression (63 bytes from each pair of bytes).
// Checked before anything is allocated.
bool pcxGeometryUsable(const PcxHeader& header, std::uint64_t dataBytes);

// Chunks of a file's data after the header, for a reader that does not hold it in memory.
class PcxByteSource {
public:
    // The next chunk; empty at the end of the data. Valid until the next call.
    virtual std::span<const std::uint8_t> next() = 0;

protected:
    ~PcxByteSource() = default;
};

class PcxLineReader {
public:
    // Over data held in memory.
    PcxLineReader(std::span<const std::uint8_t> data, bool runLength)
        : runLength_(runLength)
        , chunk_(data) {}
    // Over data fetched in chunks; `source` must outlive the reader.
    PcxLineReader(PcxByteSource& source, bool runLength)
        : source_(&source)
        , runLength_(runLength) {}

    // Fills `line` (one whole scan line, all planes) with the next scan line; false when the
    // data ends first.
    bool readLine(std::span<std::uint8_t> line);

private:
    // True when chunk_ has a byte at at_, fetching the next chunk if needed.
    bool fill();
    bool nextByte(std::uint8_t& byte);

    PcxByteSource* source_ = nullptr;
    bool runLength_;
    std::span<const std::uint8_t> chunk_;
    std::size_t at_ = 0;
    std::size_t run_ = 0; // repeats of value_ still owed, carried across line ends
    std::uint8_t value_ = 0;
};

} // namespace vantrel::imaging
