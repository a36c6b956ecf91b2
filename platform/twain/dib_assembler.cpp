#include "platform/twain/dib_assembler.h"

#include "platform/twain/capability_containers.h"
#include "platform/twain/twain_handle.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace vantrel::twain {

namespace {

constexpr std::size_t kHeaderSize = sizeof(TW_BITMAPINFOHEADER);

inline std::uint8_t high8(const std::uint8_t* samples, std::size_t index) {
    std::uint16_t v;
    std::memcpy(&v, samples + 2 * index, 2);
    return static_cast<std::uint8_t>(v >> 8);
}

inline std::uint8_t bit(const std::uint8_t* bits, std::size_t index) {
    return (bits[index >> 3] >> (7 - (index & 7))) & 1u;
}

void swapRedAndBlueScalar(const std::uint8_t* in, std::uint8_t* out, std::size_t from,
                          std::size_t w) {
    for (std::size_t x = from; x < w; ++x) {
        out[3 * x] = in[3 * x + 2];
        out[3 * x + 1] = in[3 * x + 1];
        out[3 * x + 2] = in[3 * x];
    }
}

#if defined(__x86_64__)
// Five pixels per step: one 16-byte load and store, a shuffle swapping each pixel's first and
// third byte. The 16th byte stored is the next pixel's first, rewritten by the next step, so the
// loop stops while a whole pixel is still left for the plain loop.
__attribute__((target("ssse3"))) void swapRedAndBlueSsse3(const std::uint8_t* in, std::uint8_t* out,
                                                          std::size_t w) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    std::size_t x = 0;
    for (; x + 6 <= w; x += 5) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x), _mm_shuffle_epi8(pixels, order));
    }
    swapRedAndBlueScalar(in, out, x, w);
}
#endif

// RGB samples to a DIB's blue-green-red order (`in` and `out` do not overlap).
void swapRedAndBlue(const std::uint8_t* in, std::uint8_t* out, std::size_t w) {
#if defined(__x86_64__)
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3) {
        swapRedAndBlueSsse3(in, out, w);
        return;
    }
#endif
    swapRedAndBlueScalar(in, out, 0, w);
}

bool singleColour(FrameFormat format) {
    return format == FrameFormat::Red || format == FrameFormat::Green ||
           format == FrameFormat::Blue;
}

// Byte offset of a colour in a blue-green-red pixel, and its bit in the frames-seen mask.
int channelOf(FrameFormat format) {
    switch (format) {
    case FrameFormat::Red:
        return 2;
    case FrameFormat::Green:
        return 1;
    case FrameFormat::Blue:
        return 0;
    default:
        return -1;
    }
}

} // namespace

DibAssembler::~DibAssembler() {
    twHandleFree(handle_);
}

bool DibAssembler::begin(const FrameParameters& first, double xDpi, double yDpi) {
    const int depth = first.depth;
    if (first.pixelsPerLine <= 0 || first.bytesPerLine <= 0 || first.lines == 0 ||
        first.lines < -1 || (depth != 1 && depth != 8 && depth != 16)) {
        return false;
    }
    threePass_ = singleColour(first.format);
    if (threePass_ && first.lines < 0) {
        return false; // three frames of unknown height cannot be matched up
    }
    const int samples = first.format == FrameFormat::Rgb ? 3 : 1;
    const std::uint64_t neededInput =
        (static_cast<std::uint64_t>(first.pixelsPerLine) * samples * depth + 7) / 8;
    if (static_cast<std::uint64_t>(first.bytesPerLine) < neededInput) {
        return false;
    }
    params_ = first;
    xDpi_ = xDpi;
    yDpi_ = yDpi;
    width_ = first.pixelsPerLine;
    bitCount_ = first.format == FrameFormat::Gray ? (depth == 1 ? 1 : 8) : 24;
    stride_ = (static_cast<std::size_t>(bitCount_) * width_ + 31) / 32 * 4;
    tableBytes_ = bitCount_ == 1 ? 8 : bitCount_ == 8 ? 1024 : 0;
    channel_ = channelOf(first.format);
    framesSeen_ = threePass_ ? 1u << channel_ : 0;
    row_ = 0;
    partial_.clear();
    partial_.reserve(static_cast<std::size_t>(first.bytesPerLine));
    heightKnown_ = first.lines > 0;
    if (heightKnown_) {
        return allocate(first.lines);
    }
    height_ = 0;
    return true;
}

bool DibAssembler::allocate(int lines) {
    if (static_cast<std::uint64_t>(stride_) * static_cast<std::uint64_t>(lines) > kMaxImageBytes) {
        return false;
    }
    height_ = lines;
    twHandleFree(handle_);
    // Three-pass frames each fill one channel, so the row padding must start out zero.
    const std::size_t bytes = kHeaderSize + tableBytes_ + stride_ * static_cast<std::size_t>(lines);
    handle_ = allocator_ ? allocator_(bytes, threePass_) : twHandleAlloc(bytes, threePass_ ? 1 : 0);
    if (!handle_) {
        return false;
    }
    auto* block = static_cast<std::uint8_t*>(twHandleLock(handle_));
    TW_BITMAPINFOHEADER header{};
    header.biSize = kHeaderSize;
    header.biWidth = width_;
    header.biHeight = lines;
    header.biPlanes = 1;
    header.biBitCount = static_cast<TW_UINT16>(bitCount_);
    header.biCompression = 0;
    header.biSizeImage = static_cast<TW_UINT32>(stride_ * static_cast<std::size_t>(lines));
    header.biXPelsPerMeter = static_cast<TW_INT32>(std::lround(xDpi_ / 0.0254));
    header.biYPelsPerMeter = static_cast<TW_INT32>(std::lround(yDpi_ / 0.0254));
    header.biClrUsed = static_cast<TW_UINT32>(tableBytes_ / 4);
    std::memcpy(block, &header, kHeaderSize);
    std::uint8_t* table = block + kHeaderSize;
    for (std::size_t i = 0; i < tableBytes_ / 4; ++i) {
        // 1-bit: entry 0 black, entry 1 white; 8-bit: a grey ramp.
        const auto level = static_cast<std::uint8_t>(bitCount_ == 1 ? i * 255 : i);
        table[4 * i] = table[4 * i + 1] = table[4 * i + 2] = level;
        table[4 * i + 3] = 0;
    }
    pixels_ = table + tableBytes_;
    return true;
}

bool DibAssembler::nextFrame(const FrameParameters& frame) {
    if (!threePass_ || !singleColour(frame.format) || frame.pixelsPerLine != width_ ||
        frame.lines != height_ || frame.depth != params_.depth ||
        frame.bytesPerLine < params_.bytesPerLine || !frameComplete()) {
        return false;
    }
    params_ = frame;
    channel_ = channelOf(frame.format);
    framesSeen_ |= 1u << channel_;
    row_ = 0;
    partial_.clear();
    return true;
}

std::uint8_t* DibAssembler::rowAt(int y) {
    if (heightKnown_) {
        return pixels_ + static_cast<std::size_t>(height_ - 1 - y) * stride_;
    }
    if (collected_.size() + stride_ > kMaxImageBytes) {
        return nullptr;
    }
    collected_.resize(collected_.size() + stride_);
    return collected_.data() + collected_.size() - stride_;
}

void DibAssembler::convertRow(const std::uint8_t* in) {
    if (heightKnown_ && row_ >= height_) {
        return; // more data than announced: ignored
    }
    std::uint8_t* out = rowAt(row_);
    if (!out) {
        return;
    }
    ++row_;
    if (!heightKnown_) {
        height_ = row_;
    }
    const std::size_t w = static_cast<std::size_t>(width_);
    const int depth = params_.depth;
    if (channel_ >= 0) { // one colour of a three-pass page
        std::uint8_t* o = out + channel_;
        for (std::size_t x = 0; x < w; ++x, o += 3) {
            *o = depth == 8 ? in[x] : depth == 16 ? high8(in, x) : (bit(in, x) ? 255 : 0);
        }
        return;
    }
    std::size_t used = 0;
    if (params_.format == FrameFormat::Gray) {
        if (depth == 1) {
            // The scanner's 1 is black; in the DIB index 1 is white.
            used = (w + 7) / 8;
            for (std::size_t i = 0; i < used; ++i) {
                out[i] = static_cast<std::uint8_t>(~in[i]);
            }
            if (const std::size_t rest = w % 8; rest != 0) {
                out[used - 1] &= static_cast<std::uint8_t>(0xFF << (8 - rest));
            }
        } else if (depth == 8) {
            used = w;
            std::memcpy(out, in, w);
        } else {
            used = w;
            for (std::size_t x = 0; x < w; ++x) {
                out[x] = high8(in, x);
            }
        }
    } else {
        used = 3 * w;
        if (depth == 8) {
            swapRedAndBlue(in, out, w);
        } else if (depth == 16) {
            for (std::size_t x = 0; x < w; ++x) {
                out[3 * x] = high8(in, 3 * x + 2);
                out[3 * x + 1] = high8(in, 3 * x + 1);
                out[3 * x + 2] = high8(in, 3 * x);
            }
        } else {
            for (std::size_t x = 0; x < w; ++x) {
                out[3 * x] = bit(in, 3 * x + 2) ? 255 : 0;
                out[3 * x + 1] = bit(in, 3 * x + 1) ? 255 : 0;
                out[3 * x + 2] = bit(in, 3 * x) ? 255 : 0;
            }
        }
    }
    std::memset(out + used, 0, stride_ - used);
}

void DibAssembler::append(const std::uint8_t* data, std::size_t size) {
    const auto line = static_cast<std::size_t>(params_.bytesPerLine);
    if (line == 0) {
        return;
    }
    while (size > 0) {
        if (partial_.empty() && size >= line) {
            convertRow(data);
            data += line;
            size -= line;
            continue;
        }
        const std::size_t take = std::min(line - partial_.size(), size);
        partial_.insert(partial_.end(), data, data + take);
        data += take;
        size -= take;
        if (partial_.size() == line) {
            convertRow(partial_.data());
            partial_.clear();
        }
    }
}

bool DibAssembler::frameComplete() const {
    if (!partial_.empty()) {
        return false;
    }
    return heightKnown_ ? (handle_ && row_ == height_) : row_ > 0;
}

int DibAssembler::framesMissing() const {
    return threePass_ ? 3 - std::popcount(framesSeen_) : 0;
}

TW_HANDLE DibAssembler::finish() {
    if (!frameComplete() || framesMissing() != 0) {
        return nullptr;
    }
    if (!heightKnown_) {
        const int rows = row_;
        heightKnown_ = true;
        if (!allocate(rows)) {
            return nullptr;
        }
        for (int y = 0; y < rows; ++y) {
            std::memcpy(rowAt(y), collected_.data() + static_cast<std::size_t>(y) * stride_,
                        stride_);
        }
        collected_.clear();
        collected_.shrink_to_fit();
    }
    twHandleUnlock(handle_);
    TW_HANDLE out = handle_;
    handle_ = nullptr;
    pixels_ = nullptr;
    return out;
}

TW_IMAGEINFO DibAssembler::imageInfo() const {
    TW_IMAGEINFO info{};
    info.XResolution = toFix32(xDpi_);
    info.YResolution = toFix32(yDpi_);
    info.ImageWidth = width_;
    info.ImageLength = height_;
    const bool colour = bitCount_ == 24;
    info.SamplesPerPixel = colour ? 3 : 1;
    for (int i = 0; i < info.SamplesPerPixel; ++i) {
        info.BitsPerSample[i] = static_cast<TW_INT16>(colour ? 8 : bitCount_);
    }
    info.BitsPerPixel = static_cast<TW_INT16>(bitCount_);
    info.Planar = 0;
    info.PixelType = static_cast<TW_INT16>(colour           ? TWPT_RGB
                                           : bitCount_ == 1 ? TWPT_BW
                                                            : TWPT_GRAY);
    info.Compression = TWCP_NONE;
    return info;
}

} // namespace vantrel::twain
