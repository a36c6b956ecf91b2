#include "imaging/pcx_reader.h"

#include "imaging/codecs.h"
#include "imaging/image_buffer.h"

#include <algorithm>
#include <cstring>

namespace vantrel::imaging {

PcxHeader readPcxHeader(const std::uint8_t* h) {
    PcxHeader header;
    header.version = h[1];
    header.encoding = h[2];
    header.bitsPerPixel = h[3];
    header.width = std::int64_t{le16(h + 8)} - le16(h + 4) + 1;
    header.height = std::int64_t{le16(h + 10)} - le16(h + 6) + 1;
    header.planes = h[65];
    header.bytesPerLine = le16(h + 66);
    return header;
}

bool pcxGeometryUsable(const PcxHeader& h, std::uint64_t dataBytes) {
    if (h.width <= 0 || h.height <= 0 || h.planes == 0 ||
        !ImageBuffer::sizeAllowed(std::uint64_t(h.width), std::uint64_t(h.height))) {
        return false;
    }
    const std::uint64_t rowBytes = (std::uint64_t(h.width) * h.bitsPerPixel + 7) / 8;
    if (h.bytesPerLine < rowBytes) {
        return false;
    }
    // Sizes are at most 65535 x 255 x 65535 here: no overflow.
    const std::uint64_t total = h.scanBytes() * std::uint64_t(h.height);
    // Two bytes make at most 63 of the picture; this never asks for more than the shortest
    // stream (runs of 63, the rest as one run or one literal byte).
    const std::uint64_t least = h.runLength() ? (2 * total + 62) / 63 : total;
    return dataBytes >= least;
}

bool PcxLineReader::fill() {
    if (at_ < chunk_.size()) {
        return true;
    }
    chunk_ = source_ ? source_->next() : std::span<const std::uint8_t>();
    at_ = 0;
    return !chunk_.empty();
}

bool PcxLineReader::nextByte(std::uint8_t& byte) {
    if (!fill()) {
        return false;
    }
    byte = chunk_[at_++];
    return true;
}

bool PcxLineReader::readLine(std::span<std::uint8_t> line) {
    std::size_t filled = 0;
    while (filled < line.size()) {
        if (run_ > 0) {
            const std::size_t n = std::min(run_, line.size() - filled);
            std::memset(line.data() + filled, value_, n);
            filled += n;
            run_ -= n;
            continue;
        }
        if (!runLength_) {
            // Uncompressed: as much of the current chunk as the line takes.
            if (!fill()) {
                return false;
            }
            const std::size_t n = std::min(chunk_.size() - at_, line.size() - filled);
            std::memcpy(line.data() + filled, chunk_.data() + at_, n);
            at_ += n;
            filled += n;
            continue;
        }
        std::uint8_t b;
        if (!nextByte(b)) {
            return false;
        }
        if ((b & 0xC0) == 0xC0) {
            run_ = b & 0x3Fu; // a run of 0 adds nothing
            if (!nextByte(value_)) {
                return false;
            }
        } else {
            run_ = 1;
            value_ = b;
        }
    }
    return true;
}

} // namespace vantrel::imaging
