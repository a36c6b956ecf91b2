#pragma once
// Turns a scanner's raw frames into the DIB of a native transfer: a 40-byte header, a colour
// table and bottom-up rows padded to 4 bytes, in one movable-memory handle.
//
//   grey, depth 1   -> 1 bit per pixel, table {black, white}; the scanner's 1 (black) becomes 0
//   grey, depth 8/16 -> 8 bits per pixel with a 256-entry grey table
//   colour (one RGB frame or three single-colour frames), depth 1/8/16 -> 24 bits, blue-green-red
//
// 16-bit samples (host byte order) keep their high byte. Bytes arrive in any pieces through
// append(); each row is converted into its final place as soon as it is complete, so the page is
// held once. When the height is unknown (-1, a hand scanner) rows are collected and placed at
// finish().

#include "platform/twain/twain.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace vantrel::twain {

enum class FrameFormat { Gray, Rgb, Red, Green, Blue };

struct FrameParameters {
    FrameFormat format = FrameFormat::Gray;
    bool lastFrame = true;
    int bytesPerLine = 0;
    int pixelsPerLine = 0;
    int lines = 0; // -1: unknown until the data ends
    int depth = 8;
};

class DibAssembler {
public:
    // Largest page accepted, in bytes of DIB rows (2 GiB: a BMP file size is 32 bits).
    static constexpr std::uint64_t kMaxImageBytes = 0x7FFF0000u;

    // Where the page's handle comes from: `size` bytes, zero-filled when asked. The C heap by
    // default; the scanner helper gives shared memory, so the page never needs copying.
    using Allocator = std::function<TW_HANDLE(std::size_t size, bool zeroFill)>;

    DibAssembler() = default;
    explicit DibAssembler(Allocator allocator)
        : allocator_(std::move(allocator)) {}
    ~DibAssembler();
    DibAssembler(const DibAssembler&) = delete;
    DibAssembler& operator=(const DibAssembler&) = delete;

    // Starts the page with its first frame. False for parameters that cannot make a page.
    bool begin(const FrameParameters& first, double xDpi, double yDpi);
    // Starts the next frame of a three-pass page; it must match the first frame's size.
    bool nextFrame(const FrameParameters& frame);
    void append(const std::uint8_t* data, std::size_t size);
    // All lines of the current frame arrived (for an unknown height: at least one, no partial).
    bool frameComplete() const;
    // Frames of a three-pass page still missing (0 when the page is whole).
    int framesMissing() const;
    // The finished DIB; the caller owns it. Null when the page is incomplete.
    TW_HANDLE finish();
    TW_IMAGEINFO imageInfo() const;

private:
    void convertRow(const std::uint8_t* in);
    std::uint8_t* rowAt(int y);
    bool allocate(int lines);

    Allocator allocator_;
    FrameParameters params_{};
    double xDpi_ = 0;
    double yDpi_ = 0;
    int bitCount_ = 0;
    int width_ = 0;
    int height_ = 0; // known height, or rows collected so far
    bool heightKnown_ = true;
    std::size_t stride_ = 0; // DIB row bytes
    std::size_t tableBytes_ = 0;
    int channel_ = -1;        // three-pass: byte offset in each pixel, -1 for all channels
    unsigned framesSeen_ = 0; // bit mask of the three-pass colours delivered
    bool threePass_ = false;
    int row_ = 0; // next row of the current frame (top-down)
    std::vector<std::uint8_t> partial_;
    std::vector<std::uint8_t> collected_; // unknown height: DIB rows top-down
    TW_HANDLE handle_ = nullptr;
    std::uint8_t* pixels_ = nullptr;
};

} // namespace vantrel::twain
