// The scanner's frame-to-DIB assembler (platform/twain/dib_assembler.h) fed as the source manager
// feeds it from SANE: frame parameters, then row bytes in pieces of any size, with further frames
// of a three-pass page in between. All of it comes from the input:
//   byte 0     format (low 3 bits, modulo 5), last-frame flag (bit 3), depth (bits 4-5: 1, 8 or
//              16, or the next byte as it is)
//   bytes 1-6  pixels per line, bytes per line and lines, little-endian, each reduced to a
//              range around zero (so -1, an unknown height, and bad values occur) that keeps a
//              page to a few MiB, so that runs stay fast
//   then       commands: a byte below 0xF0 appends a piece (its low 7 bits + 1 bytes, times 64
//              when its top bit is set) of the bytes that follow; 0xF0 and above starts the next
//              frame in the colour of its low bits.
// A finished DIB must have exactly the size its header describes; every byte of it is read.

#include "platform/twain/dib_assembler.h"
#include "platform/twain/twain_handle.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace vantrel::twain;

namespace {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size)
        : data_(data)
        , size_(size) {}
    bool empty() const { return at_ == size_; }
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint16_t word() { return static_cast<std::uint16_t>(byte() | byte() << 8); }
    // Up to n bytes; fewer at the end of the input.
    const std::uint8_t* take(std::size_t& n) {
        n = std::min(n, size_ - at_);
        const std::uint8_t* p = data_ + at_;
        at_ += n;
        return p;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

FrameFormat formatOf(unsigned v) {
    return static_cast<FrameFormat>(v % 5);
}

void checkDib(TW_HANDLE dib, const FrameParameters& first) {
    const auto* bytes = static_cast<const std::uint8_t*>(twHandleLock(dib));
    TW_BITMAPINFOHEADER header;
    std::memcpy(&header, bytes, sizeof header);
    const std::size_t stride =
        (std::size_t(header.biBitCount) * std::size_t(header.biWidth) + 31) / 32 * 4;
    const std::size_t expected =
        sizeof header + std::size_t(header.biClrUsed) * 4 + stride * std::size_t(header.biHeight);
    if (header.biWidth != first.pixelsPerLine || header.biHeight <= 0 ||
        twHandleSize(dib) != expected) {
        std::abort();
    }
    unsigned sum = 0;
    for (std::size_t i = 0; i < expected; ++i) {
        sum += bytes[i];
    }
    twHandleUnlock(dib);
    // Keeps the reads from being optimised away.
    if (sum == 0xFFFFFFFFu) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const std::uint8_t kind = in.byte();
    FrameParameters first;
    first.format = formatOf(kind & 7u);
    first.lastFrame = (kind & 8u) != 0;
    static constexpr int kDepths[] = {1, 8, 16};
    first.pixelsPerLine = in.word() % 1024 - 8;
    first.bytesPerLine = in.word() % 4096 - 8;
    first.lines = in.word() % 1024 - 2;
    first.depth = (kind >> 4 & 3u) < 3 ? kDepths[kind >> 4 & 3u] : in.byte();
    DibAssembler assembler;
    if (!assembler.begin(first, 300, 150)) {
        return 0;
    }
    while (!in.empty()) {
        const std::uint8_t command = in.byte();
        if (command >= 0xF0) {
            FrameParameters next = first;
            next.format = formatOf(command & 0x0Fu);
            next.lastFrame = (command & 0x08u) != 0;
            assembler.nextFrame(next);
            continue;
        }
        std::size_t n = (command & 0x7Fu) + 1u;
        if (command & 0x80u) {
            n *= 64;
        }
        const std::uint8_t* piece = in.take(n);
        assembler.append(piece, n);
        assembler.frameComplete();
        assembler.framesMissing();
    }
    const TW_IMAGEINFO info = assembler.imageInfo();
    if (TW_HANDLE dib = assembler.finish()) {
        checkDib(dib, first);
        if (info.ImageWidth != first.pixelsPerLine) {
            std::abort();
        }
        twHandleFree(dib);
    }
    return 0;
}
